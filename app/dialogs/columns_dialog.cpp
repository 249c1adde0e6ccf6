#include "app/dialogs/columns_dialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/db_grid.h"
#include "dataset/dbf_table.h"

namespace norvale {

TColumnsDialog::TColumnsDialog(TDBGrid* grid, TDbfTable* table, QWidget* parent)
    : QDialog(parent), grid_(grid), table_(table) {
  setWindowTitle(QStringLiteral("Show / Hide Columns"));
  setObjectName(QStringLiteral("ColumnsDialog"));
  auto* layout = new QVBoxLayout(this);

  auto* note = new QPlainTextEdit(this);
  note->setReadOnly(true);
  note->setPlainText(QStringLiteral("Note: You can choose what columns are printed or exported by \nhiding \ncolumns. "
                                    "Right click to show or hide a column."));
  note->setFixedHeight(note->fontMetrics().lineSpacing() * 3 + 12);
  note->setFrameShape(QFrame::NoFrame);
  note->setStyleSheet(QStringLiteral("background: transparent;"));
  layout->addWidget(note);

  list_ = new QTreeWidget(this);
  list_->setObjectName(QStringLiteral("ListView1"));
  list_->setRootIsDecorated(false);
  list_->setColumnCount(2);
  list_->setHeaderLabels({QStringLiteral("Column"), QStringLiteral("Status")});
  list_->setColumnWidth(0, 260);
  list_->setColumnWidth(1, 80);
  list_->setToolTip(QStringLiteral("Right click to change status."));
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setContextMenuPolicy(Qt::CustomContextMenu);
  auto* menu = new QMenu(this);
  menu->addAction(QStringLiteral("Show"), this, [this] { ShowSelected(true); });
  menu->addAction(QStringLiteral("Hide"), this, [this] { ShowSelected(false); });
  menu->addSeparator();
  menu->addAction(QStringLiteral("Show All"), this, [this] { ShowAll(true); });
  menu->addAction(QStringLiteral("Hide All"), this, [this] { ShowAll(false); });
  connect(list_, &QWidget::customContextMenuRequested, this,
          [this, menu](const QPoint& at) { menu->popup(list_->viewport()->mapToGlobal(at)); });
  layout->addWidget(list_);

  auto* bottom = new QHBoxLayout;
  bottom->addStretch();
  auto* close = new QPushButton(QStringLiteral("&Close"), this);
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  bottom->addWidget(close);
  layout->addLayout(bottom);
  resize(380, 420);
}

void TColumnsDialog::showEvent(QShowEvent* event) {
  FillList();
  QDialog::showEvent(event);
}

void TColumnsDialog::FillList() {
  list_->clear();
  QAbstractItemModel* model = grid_->model();
  if (!table_->Active() || !model) return;
  for (int c = 0; c < model->columnCount(); ++c) {
    auto* item = new QTreeWidgetItem(list_);
    item->setText(0, model->headerData(c, Qt::Horizontal).toString());
    item->setText(1, grid_->isColumnHidden(c) ? QStringLiteral("Hidden") : QStringLiteral("Visible"));
  }
}

void TColumnsDialog::SetRow(int row, bool visible) {
  QTreeWidgetItem* item = list_->topLevelItem(row);
  if (!item) return;
  grid_->setColumnHidden(row, !visible);
  item->setText(1, visible ? QStringLiteral("Visible") : QStringLiteral("Hidden"));
}

void TColumnsDialog::ShowSelected(bool visible) {
  QTreeWidgetItem* item = list_->currentItem();
  if (!item || !item->isSelected()) return;
  SetRow(list_->indexOfTopLevelItem(item), visible);
}

void TColumnsDialog::ShowAll(bool visible) {
  for (int row = 0; row < list_->topLevelItemCount(); ++row) SetRow(row, visible);
}

}  // namespace norvale
