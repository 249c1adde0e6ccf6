#include "app/dialogs/import_wizard.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QWizardPage>

#include "app/export/table_import.h"
#include "app/ui_services.h"

namespace norvale {

namespace {

// The source page checks that the source can be read before the columns
// page shows what it holds.
class TSourcePage : public QWizardPage {
 public:
  explicit TSourcePage(TImportWizard* wizard) : wizard_(wizard) {}
  bool validatePage() override {
    QString problem;
    if (wizard_->LoadColumns(&problem)) return true;
    Ui().ShowError(this, problem);
    return false;
  }

 private:
  TImportWizard* wizard_;
};

const char* const kNoColumn = "(none)";

}  // namespace

TImportWizard::TImportWizard(QWidget* parent) : QWizard(parent) {
  setObjectName(QStringLiteral("ImportWizard"));
  setWindowTitle(QStringLiteral("Import"));
  setWizardStyle(QWizard::ClassicStyle);
  setOption(QWizard::NoBackButtonOnStartPage);
  setButtonText(QWizard::FinishButton, QStringLiteral("Import"));
  resize(560, 440);

  auto* source = new TSourcePage(this);
  source->setTitle(QStringLiteral("Source"));
  source->setSubTitle(QStringLiteral("The file whose rows are added to the table."));
  auto* form = new QFormLayout(source);
  auto* fileRow = new QHBoxLayout;
  file_ = new QLineEdit(source);
  file_->setObjectName(QStringLiteral("ImportFile"));
  auto* browse = new QPushButton(QStringLiteral("Browse..."), source);
  connect(browse, &QPushButton::clicked, this, [this] { Browse(); });
  fileRow->addWidget(file_, 1);
  fileRow->addWidget(browse);
  form->addRow(QStringLiteral("File:"), fileRow);
  type_ = new QComboBox(source);
  type_->addItems({QStringLiteral("CSV"), QStringLiteral("TXT"), QStringLiteral("DBF"), QStringLiteral("XLSX")});
  connect(type_, &QComboBox::currentIndexChanged, this, [this] { FollowType(); });
  form->addRow(QStringLiteral("Type:"), type_);
  separator_ = new QComboBox(source);
  separator_->setEditable(true);
  separator_->addItems({QStringLiteral(","), QStringLiteral(";"), QStringLiteral("Tab"), QStringLiteral("|")});
  form->addRow(QStringLiteral("Separator:"), separator_);
  quote_ = new QLineEdit(QStringLiteral("\""), source);
  quote_->setMaxLength(1);
  quote_->setToolTip(QStringLiteral("Empty: values are not quoted"));
  form->addRow(QStringLiteral("Quote:"), quote_);
  header_ = new QCheckBox(QStringLiteral("First line holds the column names"), source);
  header_->setChecked(true);
  form->addRow(QString(), header_);
  encoding_ = new QComboBox(source);
  for (const std::string& name : CsvEncodings()) encoding_->addItem(QString::fromStdString(name));
  form->addRow(QStringLiteral("Encoding:"), encoding_);
  addPage(source);

  auto* columns = new QWizardPage(this);
  columns->setTitle(QStringLiteral("Columns"));
  columns->setSubTitle(
      QStringLiteral("The column that fills each field. Every row is checked before anything is written."));
  auto* layout = new QVBoxLayout(columns);
  mapping_ = new QTableWidget(0, 2, columns);
  mapping_->setObjectName(QStringLiteral("ImportMapping"));
  mapping_->setHorizontalHeaderLabels({QStringLiteral("Field"), QStringLiteral("Source column")});
  mapping_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
  mapping_->verticalHeader()->hide();
  layout->addWidget(mapping_);
  addPage(columns);
  FollowType();
}

void TImportWizard::Prepare(const std::vector<std::string>& fieldNames) {
  fields_ = fieldNames;
  mapping_->setRowCount(0);
  restart();
}

void TImportWizard::Browse() {
  const QString path = Ui().ChooseOpenFile(
      this, QStringLiteral("CSV File|*.CSV|Text File|*.TXT|DBF Table|*.DBF|Excel Workbook|*.XLSX|All Files|*.*"));
  if (path.isEmpty()) return;
  file_->setText(path);
  const QString ext = QFileInfo(path).suffix().toUpper();
  const int at = type_->findText(ext);
  if (at >= 0) type_->setCurrentIndex(at);
}

void TImportWizard::FollowType() {
  const bool text = type_->currentIndex() <= 1;
  separator_->setEnabled(text);
  quote_->setEnabled(text);
  header_->setEnabled(text);
  encoding_->setEnabled(text);
}

std::string TImportWizard::SourcePath() const { return file_->text().trimmed().toStdString(); }

std::string TImportWizard::SourceFormat() const { return type_->currentText().toLower().toStdString(); }

TCsvImportOptions TImportWizard::CsvOptions() const {
  TCsvImportOptions options;
  const QString separator = separator_->currentText();
  options.separator = separator.compare(QStringLiteral("Tab"), Qt::CaseInsensitive) == 0 ? '\t'
                      : separator.isEmpty()                                               ? ','
                                                                                          : separator.at(0).toLatin1();
  options.quote = quote_->text().isEmpty() ? '\0' : quote_->text().at(0).toLatin1();
  options.header = header_->isChecked();
  options.encoding = encoding_->currentText().toStdString();
  return options;
}

std::unique_ptr<TImportSource> TImportWizard::OpenSource() const {
  const std::string format = SourceFormat();
  if (format == "dbf") return OpenDbfSource(SourcePath());
  if (format == "xlsx") return OpenXlsxSource(SourcePath());
  return OpenCsvSource(SourcePath(), CsvOptions());
}

bool TImportWizard::LoadColumns(QString* problem) {
  if (SourcePath().empty()) {
    *problem = QStringLiteral("Choose the file to import.");
    return false;
  }
  if (!QFileInfo::exists(file_->text().trimmed())) {
    *problem = QStringLiteral("%1 does not exist.").arg(file_->text().trimmed());
    return false;
  }
  std::vector<std::string> names;
  try {
    names = OpenSource()->ColumnNames();
  } catch (const std::exception& e) {
    *problem = QString::fromUtf8(e.what());
    return false;
  }
  const std::vector<int> proposed = MatchColumns(names, fields_);
  mapping_->setRowCount(static_cast<int>(fields_.size()));
  for (size_t i = 0; i < fields_.size(); ++i) {
    auto* name = new QTableWidgetItem(QString::fromStdString(fields_[i]));
    name->setFlags(Qt::ItemIsEnabled);
    mapping_->setItem(static_cast<int>(i), 0, name);
    auto* box = new QComboBox(mapping_);
    box->addItem(QString::fromUtf8(kNoColumn));
    for (const std::string& column : names) box->addItem(QString::fromStdString(column));
    box->setCurrentIndex(proposed[i] + 1);
    mapping_->setCellWidget(static_cast<int>(i), 1, box);
  }
  return true;
}

std::vector<int> TImportWizard::Mapping() const {
  std::vector<int> mapping;
  for (int row = 0; row < mapping_->rowCount(); ++row) {
    const auto* box = qobject_cast<QComboBox*>(mapping_->cellWidget(row, 1));
    mapping.push_back(box ? box->currentIndex() - 1 : -1);
  }
  return mapping;
}

}  // namespace norvale
