#include "app/dialogs/new_table.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/field_changes.h"
#include "app/main_form.h"
#include "app/ui_services.h"

namespace norvale {

namespace {

const struct {
  const char* name;
  int level;
} kTableTypes[] = {{"xBaseIII", 3}, {"xBaseIV", 4}, {"xBaseVII", 7}, {"xFoxPro", 25}};

TXBaseVersion VersionOfLevel(int level) {
  switch (level) {
    case 3: return xBaseIII;
    case 4: return xBaseIV;
    case 7: return xBaseVII;
    default: return xFoxPro;
  }
}

bool WholeNumber(const QString& text, int* value) {
  bool ok = false;
  *value = text.trimmed().toInt(&ok);
  return ok;
}

}  // namespace

TNewTableDialog::TNewTableDialog(TForm1* form, QWidget* parent) : QDialog(parent), form_(form) {
  setObjectName(QStringLiteral("NewTable"));
  setWindowTitle(QStringLiteral("New Table"));
  auto* top = new QHBoxLayout(this);

  auto* help = new QVBoxLayout;
  auto* heading = new QLabel(QStringLiteral("Instructions"), this);
  QFont bold = heading->font();
  bold.setBold(true);
  heading->setFont(bold);
  help->addWidget(heading);
  for (const char* text :
       {"1. Select the DBF format you want from the Table Type box. Note different formats allow different field types.",
        "2. Enter field name, type and size and click the add button. It will then be added to the list above. "
        "You can make corrections by right clicking on the list.",
        "3. When all your fields have been added click the save button to save the table to a DBF file."}) {
    auto* label = new QLabel(QString::fromUtf8(text), this);
    label->setWordWrap(true);
    help->addWidget(label);
  }
  help->addStretch(1);
  auto* helpBox = new QWidget(this);
  helpBox->setLayout(help);
  helpBox->setFixedWidth(180);
  top->addWidget(helpBox);

  auto* right = new QVBoxLayout;
  auto* typeRow = new QFormLayout;
  tableType_ = new QComboBox(this);
  for (const auto& t : kTableTypes) tableType_->addItem(QString::fromLatin1(t.name), t.level);
  tableType_->setCurrentIndex(2);
  typeRow->addRow(QStringLiteral("Table Type"), tableType_);
  right->addLayout(typeRow);

  list_ = new QTreeWidget(this);
  list_->setRootIsDecorated(false);
  list_->setColumnCount(4);
  list_->setHeaderLabels({QStringLiteral("Field Name"), QStringLiteral("Type"), QStringLiteral("Size"),
                          QStringLiteral("Precision")});
  list_->setColumnWidth(0, 200);
  list_->setColumnWidth(1, 80);
  list_->setColumnWidth(2, 60);
  list_->setColumnWidth(3, 60);
  list_->headerItem()->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
  list_->setContextMenuPolicy(Qt::CustomContextMenu);
  auto* menu = new QMenu(this);
  menu->addAction(QStringLiteral("Remove"), this, [this] { RemoveRow(); });
  menu->addAction(QStringLiteral("Move Up"), this, [this] { MoveUp(); });
  connect(list_, &QTreeWidget::customContextMenuRequested, this,
          [this, menu](const QPoint& at) { menu->popup(list_->viewport()->mapToGlobal(at)); });
  right->addWidget(list_, 1);

  auto* entry = new QGridLayout;
  name_ = new QLineEdit(this);
  type_ = new QComboBox(this);
  type_->setEditable(true);
  size_ = new QLineEdit(this);
  size_->setFixedWidth(60);
  auto* add = new QPushButton(QStringLiteral("Add Field"), this);
  entry->addWidget(new QLabel(QStringLiteral("Field Name"), this), 0, 0);
  entry->addWidget(new QLabel(QStringLiteral("Type"), this), 0, 1);
  entry->addWidget(new QLabel(QStringLiteral("Size"), this), 0, 2);
  entry->addWidget(name_, 1, 0);
  entry->addWidget(type_, 1, 1);
  entry->addWidget(size_, 1, 2);
  entry->addWidget(add, 1, 3);
  required_ = new QCheckBox(QStringLiteral("Required Field"), this);
  precision_ = new QLineEdit(QStringLiteral("0"), this);
  precision_->setFixedWidth(60);
  entry->addWidget(required_, 2, 0);
  entry->addWidget(new QLabel(QStringLiteral("Precision"), this), 2, 1, Qt::AlignRight);
  entry->addWidget(precision_, 2, 2);
  entry->setColumnStretch(0, 2);
  entry->setColumnStretch(1, 1);
  right->addLayout(entry);

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* create = buttons->addButton(QStringLiteral("Create Table"), QDialogButtonBox::AcceptRole);
  buttons->addButton(QDialogButtonBox::Cancel);
  right->addWidget(buttons);
  top->addLayout(right, 1);

  connect(tableType_, &QComboBox::currentIndexChanged, this, [this] { FillTypes(); });
  connect(type_, &QComboBox::currentTextChanged, this, [this](const QString& text) { TypeChanged(text); });
  connect(add, &QPushButton::clicked, this, [this] { AddFieldRow(); });
  connect(create, &QPushButton::clicked, this, [this] { RunGuarded(this, [this] { Create(); }); });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  FillTypes();
  resize(640, 420);
}

int TNewTableDialog::Level() const { return tableType_->currentData().toInt(); }

void TNewTableDialog::FillTypes() {
  const QString typed = type_->currentText();
  type_->clear();
  type_->addItems({"Text", "Integer", "Date", "Boolean", "Float", "Memo"});
  if (Level() == 7) type_->addItem(QStringLiteral("AutoInc"));
  type_->setEditText(typed);
}

void TNewTableDialog::TypeChanged(const QString& text) {
  const bool sized = text == QLatin1String("Text") || text == QLatin1String("Memo");
  size_->setText(sized ? QStringLiteral("50") : QStringLiteral("0"));
  size_->setEnabled(sized);
}

void TNewTableDialog::ClearFields() { list_->clear(); }

void TNewTableDialog::AddFieldRow() {
  auto* row = new QTreeWidgetItem(list_, {name_->text(), type_->currentText(), size_->text(), precision_->text()});
  row->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
  name_->clear();
  type_->setEditText(QString());
  size_->setEnabled(true);
  required_->setChecked(false);
  name_->setFocus();
}

void TNewTableDialog::RemoveRow() {
  if (QTreeWidgetItem* row = list_->currentItem()) delete row;
}

void TNewTableDialog::MoveUp() {
  QTreeWidgetItem* row = list_->currentItem();
  if (!row) return;
  const int at = list_->indexOfTopLevelItem(row);
  const int count = list_->topLevelItemCount();
  if (count < 2) return;
  list_->takeTopLevelItem(at);
  // The first row moves round to the end.
  list_->insertTopLevelItem(at == 0 ? count - 1 : at - 1, row);
  list_->setCurrentItem(row);
  list_->setFocus();
}

bool TNewTableDialog::BuildDefs(TDbfFieldDefs& defs, QString* problem) const {
  const int level = Level();
  defs.Clear();
  defs.SetVersion(VersionOfLevel(level));
  if (list_->topLevelItemCount() == 0) {
    *problem = QStringLiteral("Add at least one field.");
    return false;
  }
  for (int i = 0; i < list_->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* row = list_->topLevelItem(i);
    const QString name = row->text(0).trimmed();
    const QString type = row->text(1);
    const QString sizeText = row->text(2);
    *problem = FieldNameProblem(name, level, defs);
    if (!problem->isEmpty()) return false;
    int precision = 0;
    if (!WholeNumber(row->text(3), &precision)) {
      *problem = QStringLiteral("'%1' is not a valid integer value").arg(row->text(3));
      return false;
    }
    char letter = 0;
    int size = 0;
    // Types without a size of their own take a usual one when none is typed.
    auto sizeOr = [&](char l, int usual) {
      int typed = 0;
      if (WholeNumber(sizeText, &typed) && typed == 0) return usual;
      return FieldSize(l, sizeText, level, problem);
    };
    if (type == QLatin1String("Text")) {
      letter = 'C';
      size = FieldSize('C', sizeText, level, problem);
      precision = 0;
    } else if (type == QLatin1String("Integer") || type == QLatin1String("Numeric")) {
      letter = 'N';
      size = sizeOr('N', 10);
      precision = 0;
    } else if (type == QLatin1String("Float")) {
      // dBASE III has no float type; its numbers keep decimals as well.
      letter = level == 3 ? 'N' : 'F';
      size = sizeOr(letter, 20);
      if (problem->isEmpty() && (precision < 0 || precision > 15 || (precision > 0 && precision > size - 2)))
        *problem = QStringLiteral("%1 decimals do not fit a width of %2.").arg(precision).arg(size);
    } else if (type == QLatin1String("Date")) {
      letter = 'D';
    } else if (type == QLatin1String("Boolean") || type == QLatin1String("Logic")) {
      letter = 'L';
    } else if (type == QLatin1String("Memo")) {
      letter = 'M';
    } else if (type == QLatin1String("AutoInc") && level == 7) {
      letter = '+';
    }
    if (letter == 0) {
      *problem = QStringLiteral("Invalid field type '%1' for field '%2'.").arg(type, name);
      return false;
    }
    if (letter != 'C' && letter != 'N' && letter != 'F') {
      size = FieldSize(letter, sizeText, level, problem);
      precision = 0;
    }
    if (!problem->isEmpty()) {
      *problem = QStringLiteral("Field %1: %2").arg(name, *problem);
      return false;
    }
    if (letter == 'N' && precision > 0 && precision > size - 2) {
      *problem = QStringLiteral("Field %1: %2 decimals do not fit a width of %3.").arg(name).arg(precision).arg(size);
      return false;
    }
    TDbfFieldDef& def = defs.Add();
    def.SetFieldName(name.toUpper().toStdString());
    def.SetNativeFieldType(letter);
    def.SetSize(size);
    def.SetPrecision(precision);
    def.SetRequired(false);
  }
  return true;
}

bool TNewTableDialog::Create() {
  created_.clear();
  TDbfFieldDefs defs;
  QString problem;
  if (!BuildDefs(defs, &problem)) {
    Ui().ShowError(this, problem);
    return false;
  }
  const QString path = Ui().ChooseSaveFile(this, QStringLiteral("DBF File|*.dbf"));
  if (path.isEmpty()) {
    reject();
    return false;
  }
  const QString file = QFileInfo(path).suffix().isEmpty() ? path + QStringLiteral(".dbf") : path;
  if (!form_->CreateNewTable(file, Level(), defs)) return false;
  created_ = file;
  list_->clear();
  accept();
  return true;
}

}  // namespace norvale
