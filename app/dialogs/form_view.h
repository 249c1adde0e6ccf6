// Form View: the current record as a column of labelled editors, one per
// grid column, built by the main window's Form command.
#pragma once

#include <QDialog>

class QScrollArea;
class QWidget;

namespace norvale {

class TDBGrid;
class TDBNavigator;
class TDataSource;
class TDbfTable;

class TFormView : public QDialog {
  Q_OBJECT

 public:
  TFormView(TDataSource* source, QWidget* parent = nullptr);
  // Lays out one editor per grid column for the open table.
  void Build(TDBGrid* grid, TDbfTable* table);
  // Removes the editors of the last build.
  void RemoveEditors();
  bool HasEditors() const;
  QWidget* ScrollBox() const { return box_; }
  TDBNavigator* Navigator() const { return navigator_; }
  // Prints the window's image on a printer the person chooses.
  void PrintImage();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  TDataSource* source_;
  QScrollArea* scroll_;
  QWidget* box_;
  TDBNavigator* navigator_;
};

}  // namespace norvale
