#include "app/dialogs/locate_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QVBoxLayout>

#include "app/db_grid.h"
#include "app/drop_down_combo.h"
#include "app/ui_services.h"
#include "app/viewer_table.h"

namespace norvale {

TLocateDialog::TLocateDialog(TDBGrid* grid, TViewerTable* table, QWidget* parent)
    : QDialog(parent), grid_(grid), table_(table) {
  setWindowTitle(QStringLiteral("Locate"));
  setObjectName(QStringLiteral("Locate"));
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  combo_ = new TDropDownCombo(this);
  combo_->setObjectName(QStringLiteral("ComboBox1"));
  combo_->setEditable(true);
  combo_->setMinimumWidth(260);
  combo_->OnDropDown = [this] { FillVisibleFields(); };
  form->addRow(QStringLiteral("Field"), combo_);
  value_ = new QLineEdit(this);
  value_->setObjectName(QStringLiteral("Edit1"));
  form->addRow(QStringLiteral("Value"), value_);
  layout->addLayout(form);
  caseInsensitive_ = new QCheckBox(QStringLiteral("Case Insensitve"), this);
  caseInsensitive_->setChecked(true);
  layout->addWidget(caseInsensitive_);
  partial_ = new QCheckBox(QStringLiteral("Partial Search"), this);
  partial_->setChecked(true);
  layout->addWidget(partial_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    Apply();
    accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  setFixedSize(sizeHint());
}

void TLocateDialog::FillAllFields() {
  const QString text = combo_->currentText();
  combo_->clear();
  if (table_->Active())
    for (int i = 0; i < table_->FieldCount(); ++i)
      combo_->addItem(QString::fromStdString(table_->Fields(i).FieldName()));
  // The field chosen last time is the likely one again.
  if (!text.isEmpty()) combo_->setEditText(text);
}

void TLocateDialog::FillVisibleFields() {
  const QString text = combo_->currentText();
  combo_->clear();
  QAbstractItemModel* model = grid_->model();
  if (model)
    for (int c : grid_->ColumnsInOrder(true)) combo_->addItem(model->headerData(c, Qt::Horizontal).toString());
  combo_->setEditText(text);
}

bool TLocateDialog::Apply() {
  bool found = false;
  const bool ran = RunGuarded(parentWidget(), [&] {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    struct TRestore {
      ~TRestore() { QApplication::restoreOverrideCursor(); }
    } restore;
    table_->CheckBrowseMode();
    TLocateOptions options = 0;
    if (caseInsensitive_->isChecked()) options |= loCaseInsensitive;
    if (partial_->isChecked()) options |= loPartialKey;
    found = table_->Locate(combo_->currentText().trimmed().toStdString(), TVariant(value_->text().toStdString()),
                           options);
  });
  if (ran && !found) Ui().ShowMessage(parentWidget(), QStringLiteral("Value not found."));
  return found;
}

}  // namespace norvale
