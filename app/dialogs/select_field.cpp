#include "app/dialogs/select_field.h"

#include <QDialogButtonBox>
#include <QVBoxLayout>

#include "app/db_grid.h"
#include "app/drop_down_combo.h"

namespace norvale {

TSelectFieldDialog::TSelectFieldDialog(TDBGrid* grid, QWidget* parent) : QDialog(parent), grid_(grid) {
  setWindowTitle(QStringLiteral("Select Field"));
  setObjectName(QStringLiteral("SelectField"));
  auto* layout = new QVBoxLayout(this);
  combo_ = new TDropDownCombo(this);
  combo_->setObjectName(QStringLiteral("ComboBox1"));
  combo_->setEditable(true);
  combo_->setMinimumWidth(260);
  combo_->OnDropDown = [this] { FillList(); };
  layout->addWidget(combo_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    Apply();
    accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  setFixedSize(sizeHint());
}

void TSelectFieldDialog::FillList() {
  const QString text = combo_->currentText();
  combo_->clear();
  QAbstractItemModel* model = grid_->model();
  if (model) {
    for (int c = 0; c < model->columnCount(); ++c)
      if (!grid_->isColumnHidden(c)) combo_->addItem(model->headerData(c, Qt::Horizontal).toString());
  }
  combo_->setEditText(text);
}

void TSelectFieldDialog::Apply() {
  QAbstractItemModel* model = grid_->model();
  if (!model) return;
  const QString wanted = combo_->currentText().toUpper();
  for (int c = 0; c < model->columnCount(); ++c)
    if (model->headerData(c, Qt::Horizontal).toString() == wanted) grid_->SetSelectedColumn(c);
}

}  // namespace norvale
