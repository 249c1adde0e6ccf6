#include "app/dialogs/field_dialogs.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/dialogs/table_info.h"
#include "app/main_form.h"
#include "app/ui_services.h"
#include "dataset/dbf_table.h"

namespace norvale {

namespace {

QString TableFileName(TDbfTable& table) {
  return table.Active() ? QFileInfo(QString::fromStdString(table.TableName())).fileName() : QString();
}

QString LevelText(int level) {
  switch (level) {
    case 3: return QStringLiteral("dBASE III+");
    case 4: return QStringLiteral("dBASE IV");
    case 7: return QStringLiteral("dBASE 7");
    case 25: return QStringLiteral("FoxPro");
    default: return QString::number(level);
  }
}

QLineEdit* GreyBox(QWidget* parent) {
  auto* box = new QLineEdit(parent);
  box->setReadOnly(true);
  box->setStyleSheet(QStringLiteral("QLineEdit { background: palette(window); }"));
  return box;
}

void FillFieldNames(TDbfTable& table, QComboBox* combo) {
  combo->clear();
  if (!table.Active()) return;
  for (int i = 0; i < table.FieldCount(); ++i) combo->addItem(QString::fromStdString(table.Fields(i).FieldName()));
  combo->setCurrentIndex(-1);
}

void AddWarning(QVBoxLayout* layout, QWidget* parent) {
  auto* warning = new QLabel(QStringLiteral("Warning..."), parent);
  QFont bold = warning->font();
  bold.setBold(true);
  warning->setFont(bold);
  layout->addWidget(warning);
  layout->addWidget(new QLabel(QStringLiteral("Make sure you backup your table before using this feature."), parent));
}

}  // namespace

// ---------------------------------------------------------------- Add Field

TAddFieldDialog::TAddFieldDialog(TForm1* form, TDbfTable* table, QWidget* parent)
    : QDialog(parent), form_(form), table_(table) {
  setObjectName(QStringLiteral("AddField"));
  setWindowTitle(QStringLiteral("Add Field"));
  auto* layout = new QVBoxLayout(this);
  auto* fields = new QFormLayout;
  tableType_ = GreyBox(this);
  tableName_ = GreyBox(this);
  fieldName_ = new QLineEdit(this);
  fieldName_->setMaxLength(64);
  fieldType_ = new QComboBox(this);
  fieldType_->setEditable(true);
  fieldType_->addItems({"TEXT", "INTEGER", "BIT", "CURRENCY", "DATETIME", "FLOAT", "MEMO", "AUTO INCREMENT", "BLOB",
                        "OLE", "DATE"});
  size_ = new QLineEdit(QStringLiteral("30"), this);
  fields->addRow(QStringLiteral("Table Type"), tableType_);
  fields->addRow(QStringLiteral("Table Name"), tableName_);
  fields->addRow(QStringLiteral("FieldName"), fieldName_);
  fields->addRow(QStringLiteral("Field Type"), fieldType_);
  fields->addRow(QStringLiteral("Size"), size_);
  layout->addLayout(fields);
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* add = buttons->addButton(QStringLiteral("Add"), QDialogButtonBox::ActionRole);
  buttons->addButton(QDialogButtonBox::Cancel);
  connect(add, &QPushButton::clicked, this, [this] { RunGuarded(this, [this] { Add(); }); });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  setFixedSize(sizeHint().expandedTo(QSize(360, 0)));
}

void TAddFieldDialog::Prepare() {
  tableName_->setText(TableFileName(*table_));
  tableType_->setText(table_->Active() ? LevelText(table_->TableLevel()) : QString());
}

bool TAddFieldDialog::Add() { return form_->AddField(fieldName_->text().trimmed(), fieldType_->currentText(), size_->text()); }

// ---------------------------------------------------------------- Alter and Rename

TFieldChangeDialog::TFieldChangeDialog(TKind kind, TForm1* form, TDbfTable* table, QWidget* parent)
    : QDialog(parent), kind_(kind), form_(form), table_(table) {
  const bool alter = kind == fcAlter;
  setObjectName(alter ? QStringLiteral("AlterField") : QStringLiteral("RenameField"));
  setWindowTitle(alter ? QStringLiteral("Alter Field Type") : QStringLiteral("Rename Column"));
  auto* layout = new QVBoxLayout(this);
  AddWarning(layout, this);
  auto* fields = new QFormLayout;
  tableName_ = GreyBox(this);
  field_ = new QComboBox(this);
  fields->addRow(QStringLiteral("Table Name"), tableName_);
  fields->addRow(QStringLiteral("Field Name"), field_);
  newValue_ = new QLineEdit(this);
  if (alter) {
    newType_ = new QComboBox(this);
    newType_->setEditable(true);
    newType_->addItems(
        {"TEXT", "INTEGER", "BIT", "DATETIME", "FLOAT", "MEMO", "AUTO INCREMENT", "BLOB", "OLE", "DATE"});
    fields->addRow(QStringLiteral("New Field Type"), newType_);
    fields->addRow(QStringLiteral("New Size"), newValue_);
  } else {
    newValue_->setMaxLength(10);
    fields->addRow(QStringLiteral("New Name"), newValue_);
  }
  layout->addLayout(fields);
  connect(field_, &QComboBox::activated, this, [this] { FieldChosen(); });
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] { RunGuarded(this, [this] { Apply(); }); });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  setFixedSize(sizeHint().expandedTo(QSize(380, 0)));
}

void TFieldChangeDialog::Prepare() {
  tableName_->setText(TableFileName(*table_));
  FillFieldNames(*table_, field_);
  newValue_->clear();
  if (newType_) newType_->setEditText(QString());
  field_->setFocus();
}

void TFieldChangeDialog::FieldChosen() {
  const int at = field_->currentIndex();
  if (at < 0 || !table_->Active() || at >= table_->FieldCount()) return;
  TField& field = table_->Fields(at);
  if (kind_ == fcAlter) {
    newType_->setEditText(FieldTypeText(field.DataType()));
    const TDbfFieldDefs* defs = table_->NativeFieldDefs();
    newValue_->setText(QString::number(defs && at < defs->Count() ? defs->Item(at).Size() : field.Size()));
  } else {
    newValue_->setText(field_->currentText());
    newValue_->selectAll();
    newValue_->setFocus();
  }
}

bool TFieldChangeDialog::Apply() {
  if (field_->currentIndex() < 0) return false;
  const QString field = field_->currentText();
  const bool changed = kind_ == fcAlter ? form_->AlterField(field, newType_->currentText(), newValue_->text())
                                        : form_->RenameField(field, newValue_->text().trimmed());
  if (changed) accept();
  return changed;
}

// ---------------------------------------------------------------- Remove Field

TRemoveFieldDialog::TRemoveFieldDialog(TForm1* form, TDbfTable* table, QWidget* parent)
    : QDialog(parent), form_(form), table_(table) {
  setObjectName(QStringLiteral("RemoveField"));
  setWindowTitle(QStringLiteral("Remove Field"));
  auto* layout = new QVBoxLayout(this);
  auto* fields = new QFormLayout;
  field_ = new QComboBox(this);
  fields->addRow(QStringLiteral("Select Field Name"), field_);
  layout->addLayout(fields);
  auto* warning = new QLabel(QStringLiteral("Warning !"), this);
  QFont bold = warning->font();
  bold.setBold(true);
  warning->setFont(bold);
  layout->addWidget(warning);
  auto* text = new QLabel(QStringLiteral("This option will delete the field column and all data residing in that column."),
                          this);
  text->setWordWrap(true);
  layout->addWidget(text);
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* remove = buttons->addButton(QStringLiteral("Remove"), QDialogButtonBox::ActionRole);
  buttons->addButton(QDialogButtonBox::Close);
  connect(remove, &QPushButton::clicked, this, [this] { RunGuarded(this, [this] { Remove(); }); });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  setFixedSize(sizeHint().expandedTo(QSize(380, 0)));
}

void TRemoveFieldDialog::Prepare() { FillFieldNames(*table_, field_); }

bool TRemoveFieldDialog::Remove() {
  if (field_->currentIndex() < 0) return false;
  const bool removed = form_->RemoveField(field_->currentText());
  // The list shows the table as it is now.
  if (removed) Prepare();
  return removed;
}

}  // namespace norvale
