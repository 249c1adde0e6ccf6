// TDBGrid: the main window's data grid over TDbfGridModel.
//
// The grid's current row is the table's current record in both directions:
// moving in the grid moves the table (posting an edit of the row left), and
// any move of the table moves the grid.
#pragma once

#include <vector>

#include <QByteArray>
#include <QTableView>

namespace norvale {

class TDbfGridModel;

// How the grid showed a table apart from its data, kept while another table
// is shown: column widths, order and visibility, the current column and the
// scroll position.
struct TGridView {
  QByteArray header;
  int column = 0;
  int horizontalScroll = 0;
  int verticalScroll = 0;
};

class TDBGrid : public QTableView {
  Q_OBJECT

 public:
  explicit TDBGrid(QWidget* parent = nullptr);
  void SetGridModel(TDbfGridModel* model);
  TDbfGridModel* GridModel() const { return model_; }
  // The field of the current column, as the grid's selected field.
  int SelectedColumn() const;
  void SetSelectedColumn(int column);
  // The model columns in the order the grid shows them (the person may have
  // dragged them), with or without the hidden ones.
  std::vector<int> ColumnsInOrder(bool visibleOnly) const;
  // Default widths after the columns were rebuilt for a newly opened table.
  void ApplyDefaultWidths();
  TGridView SaveView() const;
  // Puts back a view saved for the same table; the columns are left as they
  // are when the table no longer has the columns the view was saved with.
  void RestoreView(const TGridView& view);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
  void changeEvent(QEvent* event) override;

 private:
  void FollowTable(int row);
  void UpdateRowHeight();
  TDbfGridModel* model_ = nullptr;
  int following_ = 0;
};

}  // namespace norvale
