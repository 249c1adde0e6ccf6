// Show / Hide Columns: switches the grid's columns on and off.
#pragma once

#include <QDialog>

class QTreeWidget;

namespace norvale {

class TDBGrid;
class TDbfTable;

class TColumnsDialog : public QDialog {
  Q_OBJECT

 public:
  TColumnsDialog(TDBGrid* grid, TDbfTable* table, QWidget* parent = nullptr);
  QTreeWidget* ListView1() const { return list_; }
  // Refills the list from the grid, as showing the dialog does.
  void FillList();
  // The pop-up menu's commands; Show and Hide act on the selected row.
  void ShowSelected(bool visible);
  void ShowAll(bool visible);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void SetRow(int row, bool visible);
  TDBGrid* grid_;
  TDbfTable* table_;
  QTreeWidget* list_;
};

}  // namespace norvale
