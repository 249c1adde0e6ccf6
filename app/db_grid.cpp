#include "app/db_grid.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTimer>

#include "app/grid_model.h"
#include "app/ui_services.h"
#include "app/viewer_table.h"

namespace norvale {

TDBGrid::TDBGrid(QWidget* parent) : QTableView(parent) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                  QAbstractItemView::AnyKeyPressed);
  setWordWrap(false);
  setCornerButtonEnabled(false);
  // Uniform row heights keep a million rows as cheap as ten.
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setFixedWidth(20);
  verticalHeader()->setDefaultAlignment(Qt::AlignCenter);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  UpdateRowHeight();
}

void TDBGrid::SetGridModel(TDbfGridModel* model) {
  model_ = model;
  setModel(model);
  connect(model, &TDbfGridModel::CurrentMoved, this, &TDBGrid::FollowTable);
  connect(model, &QAbstractItemModel::modelReset, this, [this] {
    ApplyDefaultWidths();
    FollowTable(model_->CurrentRow());
  });
}

void TDBGrid::UpdateRowHeight() { verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6); }

void TDBGrid::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange) {
    UpdateRowHeight();
    if (model_) model_->SetBaseFont(font());
  }
  QTableView::changeEvent(event);
}

void TDBGrid::ApplyDefaultWidths() {
  if (!model_) return;
  // Codes and postcodes are capitals and digits, wider than the average
  // letter; a digit's width keeps them whole.
  const int charWidth = fontMetrics().horizontalAdvance(QLatin1Char('0'));
  TViewerTable* table = model_->Table();
  for (int c = 0; c < model_->columnCount(); ++c) {
    setColumnHidden(c, false);
    const TField& field = table->Fields(c);
    const int chars = std::max<int>(static_cast<int>(field.FieldName().size()), field.DisplayWidth());
    setColumnWidth(c, std::clamp(chars * charWidth + 12, 40, 320));
  }
}

TGridView TDBGrid::SaveView() const {
  TGridView view;
  view.header = horizontalHeader()->saveState();
  view.column = SelectedColumn();
  view.horizontalScroll = horizontalScrollBar()->value();
  view.verticalScroll = verticalScrollBar()->value();
  return view;
}

void TDBGrid::RestoreView(const TGridView& view) {
  if (view.header.isEmpty()) return;
  horizontalHeader()->restoreState(view.header);
  SetSelectedColumn(view.column);
  // The scroll bars learn their ranges when the view lays itself out, which
  // it would only do after this call returns.
  updateGeometries();
  horizontalScrollBar()->setValue(view.horizontalScroll);
  verticalScrollBar()->setValue(view.verticalScroll);
}

int TDBGrid::SelectedColumn() const {
  const QModelIndex current = currentIndex();
  return current.isValid() ? current.column() : 0;
}

std::vector<int> TDBGrid::ColumnsInOrder(bool visibleOnly) const {
  std::vector<int> columns;
  const QHeaderView* header = horizontalHeader();
  const int count = model() ? model()->columnCount() : 0;
  for (int visual = 0; visual < count; ++visual) {
    const int logical = header->logicalIndex(visual);
    if (logical < 0 || (visibleOnly && isColumnHidden(logical))) continue;
    columns.push_back(logical);
  }
  return columns;
}

void TDBGrid::SetSelectedColumn(int column) {
  if (!model_ || column < 0 || column >= model_->columnCount()) return;
  const int row = std::max(0, model_->CurrentRow());
  if (row >= model_->rowCount()) return;
  ++following_;
  setCurrentIndex(model_->index(row, column));
  --following_;
  scrollTo(currentIndex());
}

void TDBGrid::FollowTable(int row) {
  if (!model_ || row < 0 || row >= model_->rowCount()) return;
  const int column = std::clamp(SelectedColumn(), 0, std::max(0, model_->columnCount() - 1));
  const QModelIndex target = model_->index(row, column);
  if (target == currentIndex()) return;
  ++following_;
  // An open cell editor belongs to the row being left.
  if (state() == QAbstractItemView::EditingState) closePersistentEditor(currentIndex());
  selectionModel()->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect);
  --following_;
  scrollTo(target);
}

void TDBGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
  QTableView::currentChanged(current, previous);
  if (following_ || !model_ || model_->Busy() || !current.isValid()) return;
  if (previous.isValid() && current.row() == previous.row()) return;
  const bool moved = RunGuarded(this, [&] { model_->GotoRow(current.row()); });
  if (!moved || model_->CurrentRow() != current.row()) {
    // The table stayed (a post failed, or the record vanished): so does the
    // grid, once this notification is over.
    QTimer::singleShot(0, this, [this] { FollowTable(model_->CurrentRow()); });
  }
}

void TDBGrid::keyPressEvent(QKeyEvent* event) {
  if (model_ && model_->Table()->Active() && state() != QAbstractItemView::EditingState) {
    TViewerTable* table = model_->Table();
    if (event->key() == Qt::Key_Escape && (table->State() == dsEdit || table->State() == dsInsert)) {
      RunGuarded(this, [&] { table->Cancel(); });
      return;
    }
    if (event->key() == Qt::Key_Insert && event->modifiers() == Qt::NoModifier && table->CanModify()) {
      RunGuarded(this, [&] { table->Insert(); });
      return;
    }
    if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::ControlModifier && table->CanModify() &&
        !table->IsEmpty()) {
      RunGuarded(this, [&] {
        if (Ui().Confirm(this, QStringLiteral("Delete record?"))) table->Delete();
      });
      return;
    }
  }
  QTableView::keyPressEvent(event);
}

}  // namespace norvale
