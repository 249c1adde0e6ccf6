#include "app/dialogs/table_info.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/ui_services.h"
#include "dataset/dbf_table.h"
#include "engine/exceptions.h"
#include "engine/table_file.h"
#include "platform/os_file.h"

namespace norvale {

namespace {

struct TVersionName {
  uint8_t byte;
  const char* text;
};

// In the order the Set Table Type list shows them.
constexpr TVersionName kVersions[] = {
    {0x02, "FoxBASE"},
    {0x03, "FoxBASE+/Dbase III plus, no memo"},
    {0x30, "Visual FoxPro"},
    {0x31, "Visual FoxPro, autoincrement enabled"},
    {0x43, "dBASE IV SQL table files, no memo"},
    {0x63, "dBASE IV SQL system files, no memo"},
    {0x83, "FoxBASE+/dBASE III PLUS, with memo"},
    {0x8B, "dBASE IV with memo"},
    {0xCB, "dBASE IV SQL table files, with memo"},
    {0xF5, "FoxPro 2.x (or earlier) with memo"},
    {0xFB, "FoxBASE"},
    {0x05, "EXCLUSIVE MODE"},
    // The tables this program creates at dBASE 7 carry these.
    {0x04, "dBASE 7"},
    {0x8C, "dBASE 7 with memo"},
};

const QString kUnknownEntry = QStringLiteral("UNKNOWN");

struct TLanguageName {
  uint8_t id;
  const char* text;
};

constexpr TLanguageName kLanguages[] = {
    {0, "No codepage defined"},
    {1, "Codepage 437  US MSDOS"},
    {2, "Codepage 850  International MS-DOS"},
    {3, "Codepage 1252  Windows ANSI"},
    {4, "Codepage 10000  Standard MacIntosh"},
    {100, "Codepage 852  Easern European MS-DOS"},
    {101, "Codepage 866  Russian MS-DOS"},
    {102, "Codepage 865  Nordic MS-DOS"},
    {103, "Codepage 861  Icelandic MS-DOS"},
    {104, "Codepage 895  Kamenicky (Czech) MS-DOS"},
    {105, "Codepage 620  Mazovia (Polish) MS-DOS"},
    {106, "Codepage 737  Greek MS-DOS (437G)"},
    {107, "Codepage 857  Turkish MS-DOS"},
    {120, "Codepage 950  Chinese (Hong Kong SAR, Taiwan) Windows"},
    {121, "Codepage 949  Korean Windows"},
    {122, "Codepage 936  Chinese (PRC, Singapore) Windows"},
    {123, "Codepage 932  Japanese Windows"},
    {124, "Codepage 874  Thai Windows"},
    {125, "Codepage 1255  Hebrew Windows"},
    {126, "Codepage 1256  Arabic Windows"},
    {150, "Codepage 10007  Russian MacIntosh"},
    {151, "Codepage 10029  MacIntosh EE"},
    {152, "Codepage 10006  Greek MacIntosh"},
    {200, "Codepage 1250  Eastern European Windows"},
    {201, "Codepage 1251  Russian Windows"},
    {202, "Codepage 1254  Turkish Windows"},
    {203, "Codepage 1253  Greek Windows"},
};

int Le16(const std::vector<uint8_t>& h, size_t at) { return h[at] | (h[at + 1] << 8); }
uint32_t Le32(const std::vector<uint8_t>& h, size_t at) {
  return uint32_t(h[at]) | (uint32_t(h[at + 1]) << 8) | (uint32_t(h[at + 2]) << 16) | (uint32_t(h[at + 3]) << 24);
}

// Whether `descriptor` bytes from `first`, `size` apart, end in the 0x0D
// terminator with a field type letter at `typeAt` in each, within `end`.
// Returns the terminator's offset, or 0 when the layout does not fit.
size_t TerminatorOf(const std::vector<uint8_t>& h, size_t first, size_t size, size_t typeAt, size_t end) {
  size_t at = first;
  int fields = 0;
  while (at < end && at < h.size()) {
    if (h[at] == 0x0D) return fields > 0 ? at : 0;
    if (at + size > h.size()) return 0;
    const uint8_t type = h[at + typeAt];
    const bool letter = (type >= 'A' && type <= 'Z') || type == '+' || type == '@';
    if (!letter) return 0;
    ++fields;
    at += size;
  }
  return 0;
}

QLineEdit* ReadOnlyBox(QWidget* parent) {
  auto* box = new QLineEdit(parent);
  box->setReadOnly(true);
  return box;
}

}  // namespace

QString VersionByteText(uint8_t version) {
  for (const TVersionName& v : kVersions)
    if (v.byte == version) return QString::fromLatin1(v.text);
  return QStringLiteral("Unknown");
}

QString LanguageIdText(uint8_t id) {
  for (const TLanguageName& l : kLanguages)
    if (l.id == id) return QString::fromLatin1(l.text);
  return QString::number(id);
}

QString FieldTypeText(TFieldType type) {
  switch (type) {
    case ftUnknown: return QStringLiteral("Unknown");
    case ftString: return QStringLiteral("Text");
    case ftSmallint: return QStringLiteral("SmallInt");
    case ftInteger:
    case ftWord: return QStringLiteral("Numeric");
    case ftBoolean: return QStringLiteral("Logic");
    case ftFloat: return QStringLiteral("Float");
    case ftCurrency: return QStringLiteral("Currency");
    case ftBCD: return QStringLiteral("BCD");
    case ftDate: return QStringLiteral("Date");
    case ftTime: return QStringLiteral("Time");
    case ftDateTime: return QStringLiteral("DateTime");
    case ftBytes: return QStringLiteral("Bytes");
    case ftVarBytes: return QStringLiteral("vBytes");
    case ftAutoInc: return QStringLiteral("AutoInc");
    case ftBlob: return QStringLiteral("BLOB");
    case ftMemo: return QStringLiteral("Memo");
    case ftGraphic: return QStringLiteral("Graphic");
    default: return QString();
  }
}

std::vector<uint8_t> VersionBytesOfFamily(const std::vector<uint8_t>& h) {
  if (h.size() < 32) return {};
  const size_t headerLength = static_cast<size_t>(Le16(h, 8));
  const size_t end = std::min(headerLength, h.size());
  // dBASE 7: 68 bytes before 48-byte descriptors, the type at offset 32.
  if (TerminatorOf(h, 68, 48, 32, end)) return {0x04, 0x8C};
  const size_t terminator = TerminatorOf(h, 32, 32, 11, end);
  if (!terminator) return {};
  // Visual FoxPro keeps a 263-byte back-link area after the terminator.
  if (headerLength >= terminator + 1 + 263) return {0x30, 0x31};
  return {0x02, 0x03, 0x43, 0x63, 0x83, 0x8B, 0xCB, 0xF5, 0xFB, 0x05};
}

std::vector<uint8_t> ReadTableHeader(const QString& path) {
  const QString name = QFileInfo(path).fileName();
  const std::string error = "Error reading: [" + name.toStdString() + "]";
  TOsFile file;
  if (!file.Open(path.toStdString(), false, TShareMode::kDenyNone, false)) throw EDbfError(error);
  std::vector<uint8_t> header(32);
  if (file.ReadAt(0, header.data(), header.size()) != 32) throw EDbfError(error);
  const size_t length = static_cast<size_t>(Le16(header, 8));
  if (length > header.size()) {
    header.resize(length);
    const int64_t got = file.ReadAt(0, header.data(), length);
    header.resize(static_cast<size_t>(std::max<int64_t>(got, 32)));
  }
  return header;
}

// ---------------------------------------------------------------- Table Info

TTableInfoDialog::TTableInfoDialog(TDbfTable* table, QWidget* parent) : QDialog(parent), table_(table) {
  setObjectName(QStringLiteral("TableInfo"));
  setWindowTitle(QStringLiteral("Table Info"));
  auto* layout = new QVBoxLayout(this);
  auto* grid = new QGridLayout;
  records_ = ReadOnlyBox(this);
  language_ = ReadOnlyBox(this);
  fileType_ = ReadOnlyBox(this);
  headerSize_ = ReadOnlyBox(this);
  recordSize_ = ReadOnlyBox(this);
  updated_ = ReadOnlyBox(this);
  fullPath_ = ReadOnlyBox(this);
  headerLabel_ = new QLabel(QStringLiteral("Header Size"), this);
  headerLabel_->installEventFilter(this);
  int row = 0;
  auto add = [&](QLabel* label, QWidget* box, int column, int span = 1) {
    grid->addWidget(label, row, column);
    grid->addWidget(box, row, column + 1, 1, span);
  };
  add(new QLabel(QStringLiteral("Number of Records"), this), records_, 0);
  add(headerLabel_, headerSize_, 2);
  ++row;
  add(new QLabel(QStringLiteral("Last Updated"), this), updated_, 0);
  add(new QLabel(QStringLiteral("Record size"), this), recordSize_, 2);
  ++row;
  // The long texts get the whole width.
  add(new QLabel(QStringLiteral("File type"), this), fileType_, 0, 3);
  ++row;
  add(new QLabel(QStringLiteral("Language ID"), this), language_, 0, 3);
  ++row;
  indexed_ = new QCheckBox(QStringLiteral("Indexed"), this);
  encryption_ = new QCheckBox(QStringLiteral("Encryption"), this);
  indexed_->setEnabled(false);
  encryption_->setEnabled(false);
  grid->addWidget(indexed_, row, 1);
  grid->addWidget(encryption_, row, 3);
  ++row;
  add(new QLabel(QStringLiteral("Full Path"), this), fullPath_, 0, 3);
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(3, 1);
  layout->addLayout(grid);

  fields_ = new QTreeWidget(this);
  fields_->setRootIsDecorated(false);
  fields_->setColumnCount(4);
  fields_->setHeaderLabels({QStringLiteral("Field Name"), QStringLiteral("Field Type"), QStringLiteral("Size"),
                            QStringLiteral("Field No.")});
  const int widths[] = {150, 150, 75, 75};
  for (int c = 0; c < 4; ++c) fields_->setColumnWidth(c, widths[c]);
  fields_->headerItem()->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
  fields_->headerItem()->setTextAlignment(3, Qt::AlignRight | Qt::AlignVCenter);
  layout->addWidget(fields_, 1);

  auto* bottom = new QHBoxLayout;
  copyNames_ = new QPushButton(QStringLiteral("Copy field names to clipboard"), this);
  connect(copyNames_, &QPushButton::clicked, this, [this] { CopyFieldNames(); });
  bottom->addWidget(copyNames_);
  bottom->addStretch(1);
  linkLabel_ = new QLabel(QStringLiteral("<a href=\"#\">Norvale home page</a>"), this);
  linkLabel_->installEventFilter(this);
  bottom->addWidget(linkLabel_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  bottom->addWidget(buttons);
  layout->addLayout(bottom);
  resize(560, 470);
}

void TTableInfoDialog::Fill(const QString& path) {
  fields_->clear();
  fullPath_->setCursorPosition(0);
  if (!table_->Active()) return;
  const std::vector<uint8_t> h = ReadTableHeader(path);
  fileType_->setText(VersionByteText(h[0]));
  records_->setText(QString::number(Le32(h, 4)));
  headerSize_->setText(QString::number(Le16(h, 8)) + QStringLiteral(" bytes"));
  recordSize_->setText(QString::number(Le16(h, 10)) + QStringLiteral(" bytes"));
  // Day/month/year; the header counts years from 1900.
  updated_->setText(QString::asprintf("%d/%d/%.2d ", h[3], h[2], 1900 + h[1]));
  indexed_->setChecked((h[28] & 1) != 0);
  encryption_->setChecked(h[15] == 1);
  language_->setText(LanguageIdText(h[29]));
  for (QLineEdit* box : {fileType_, language_, fullPath_}) box->setCursorPosition(0);
  const TDbfFieldDefs& defs = table_->DbfFile()->FieldDefs();
  for (int i = 0; i < table_->FieldCount(); ++i) {
    TField& field = table_->Fields(i);
    const int size = i < defs.Count() ? defs.Item(i).Size() : field.Size();
    auto* item = new QTreeWidgetItem(fields_, {QString::fromStdString(field.FieldName()), FieldTypeText(field.DataType()),
                                              QString::number(size), QString::number(i + 1)});
    item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
    item->setTextAlignment(3, Qt::AlignRight | Qt::AlignVCenter);
  }
}

void TTableInfoDialog::CopyFieldNames() {
  QString lines;
  for (int i = 0; i < fields_->topLevelItemCount(); ++i) lines += fields_->topLevelItem(i)->text(0) + QStringLiteral("\r\n");
  QGuiApplication::clipboard()->setText(lines);
}

bool TTableInfoDialog::eventFilter(QObject* watched, QEvent* event) {
  if ((watched == headerLabel_ || watched == linkLabel_) && event->type() == QEvent::MouseButtonRelease) {
    Ui().ShowMessage(this, QStringLiteral("DBF Version: ") + QString::fromStdString(table_->Version()));
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

// ---------------------------------------------------------------- Set Table Type

TSetTableTypeDialog::TSetTableTypeDialog(TDbfTable* table, std::function<bool(uint8_t)> apply, QWidget* parent)
    : QDialog(parent), table_(table), apply_(std::move(apply)) {
  setObjectName(QStringLiteral("SetTableType"));
  setWindowTitle(QStringLiteral("Set Table Type"));
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  types_ = new QComboBox(this);
  types_->setMinimumWidth(300);
  form->addRow(QStringLiteral("Table Type"), types_);
  layout->addLayout(form);
  auto* warning = new QLabel(QStringLiteral("Warning"), this);
  QFont bold = warning->font();
  bold.setBold(true);
  warning->setFont(bold);
  layout->addWidget(warning);
  auto* text = new QLabel(QStringLiteral("This tool is to set an incorrect table type back to its original and should "
                                         "only be used by advanced users. "),
                          this);
  text->setWordWrap(true);
  layout->addWidget(text);
  auto* buttons = new QDialogButtonBox(this);
  set_ = buttons->addButton(QStringLiteral("Set"), QDialogButtonBox::AcceptRole);
  buttons->addButton(QDialogButtonBox::Cancel);
  connect(set_, &QPushButton::clicked, this, [this] { RunGuarded(this, [this] { Set(); }); });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  setFixedSize(sizeHint().expandedTo(QSize(420, 0)));
}

void TSetTableTypeDialog::Prepare(const QString& path) {
  types_->clear();
  set_->setEnabled(table_->Active());
  if (!table_->Active()) return;
  const std::vector<uint8_t> h = ReadTableHeader(path);
  for (uint8_t byte : VersionBytesOfFamily(h)) types_->addItem(VersionByteText(byte), int(byte));
  types_->addItem(kUnknownEntry, -1);
  const int at = types_->findData(int(h[0]));
  types_->setCurrentIndex(at >= 0 ? at : types_->count() - 1);
}

void TSetTableTypeDialog::Set() {
  if (!table_->Active()) {
    set_->setEnabled(false);
    Ui().ShowMessage(this, QStringLiteral("Table not open."));
    return;
  }
  set_->setEnabled(true);
  const int byte = types_->currentData().toInt();
  if (byte < 0) {
    // No byte stands for "UNKNOWN": there is nothing to write.
    Ui().ShowMessage(this, QStringLiteral("Choose the table type to set."));
    return;
  }
  if (apply_ && apply_(static_cast<uint8_t>(byte))) accept();
}

}  // namespace norvale
