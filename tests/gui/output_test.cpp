// Export, Import, Print, Print Preview, Print Record and Form View's Print
// through the main window: what the dialogs are shown with, what lands in
// the files, and that the table shown is left as it was when nothing is
// to be written.
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QLineEdit>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include "app/db_grid.h"
#include "app/dialogs/form_view.h"
#include "app/dialogs/import_wizard.h"
#include "app/grid_model.h"
#include "app/viewer_table.h"
#include "tests/gui/gui_support.h"

using namespace norvale;
using namespace norvale::test;

namespace {

// A table of `count` records NAME "name N", AGE N, CITY "city N".
std::string WriteMany(const TTempDir& dir, int count) {
  TTableImage t;
  t.fields = {{"NAME", 'C', 12}, {"AGE", 'N', 5}, {"CITY", 'C', 10}};
  for (int i = 1; i <= count; ++i) {
    const std::string n = std::to_string(i);
    t.records.push_back(t.Record({"name " + n, std::string(5 - n.size(), ' ') + n, "city " + n}));
  }
  WriteFile(dir.File("many.dbf"), t.Bytes());
  return dir.File("many.dbf");
}

QString PdfText(const QString& pdf) {
  QProcess p;
  p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
  if (!p.waitForFinished(60000)) return QStringLiteral("pdftotext did not finish");
  return QString::fromUtf8(p.readAllStandardOutput());
}

bool HavePdfToText() {
  QProcess p;
  p.start(QStringLiteral("pdftotext"), {QStringLiteral("-v")});
  return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit;
}

void ApplyFilter(TFixture& f, const QString& text) {
  f.form->Edit2()->setText(text);
  f.Command("SearchApplyFilter")->trigger();
}

}  // namespace

class TOutputTest : public QObject {
  Q_OBJECT

 private slots:
  void ExportOffersTheNineTypesInTheirOrder();
  void ExportWritesTheShownRowsAndVisibleColumns();
  void ExportRefusesTheTablesOwnFile();
  void CancelledExportLeavesTheOldFile();
  void PrintPutsEveryRowAndTitleOnThePages();
  void PreviewAndPrintRecordShowPages();
  void ImportWizardAppendsAndBadRowsChangeNothing();
  void FormViewPrintsItsImage();
};

void TOutputTest::ExportOffersTheNineTypesInTheirOrder() {
  TTempDir dir;
  TFixture f;
  f.Open(WritePeople(dir));
  f.ui->saveFiles << QString::fromStdString(dir.File("x.txt"));
  f.ui->saveTypes << 0;
  f.Command("FileExport")->trigger();
  QCOMPARE(f.ui->saveFilters,
           QStringList{QStringLiteral("Text (TXT)|*.TXT|Portable Document Format (PDF)|*.PDF|Excel (XLS)|*.XLS|"
                                      "Rich Text Format (RTF)|*.RTF|Works (WKS)|*.WKS|XML|*.XML|HTML|*.HTM|"
                                      "Foxpro (DBF)|*.DBF|Comma Seperated Variable (CSV)|*.CSV")});
  QCOMPARE(f.ui->log, QStringList{QStringLiteral("error: File type not selected")});
  QVERIFY(!QFileInfo::exists(QString::fromStdString(dir.File("x.txt"))));
  // The tool bar's button is the same command.
  f.Command("ToolExport")->trigger();
  QCOMPARE(f.ui->saveFilters.size(), 2);
}

void TOutputTest::ExportWritesTheShownRowsAndVisibleColumns() {
  TTempDir dir;
  TFixture f;
  f.Open(WriteMany(dir, 30));
  f.form->DBGrid1()->horizontalHeader()->hideSection(2);
  ApplyFilter(f, QStringLiteral("AGE > 25"));
  // Each of the nine types in turn; a name without an extension gets the type's.
  const QStringList extensions{"txt", "pdf", "xls", "rtf", "wks", "xml", "htm", "dbf", "csv"};
  for (int type = 1; type <= 9; ++type) {
    f.ui->saveFiles << QString::fromStdString(dir.File("out" + std::to_string(type)));
    f.ui->saveTypes << type;
    f.Command("FileExport")->trigger();
    const QString written = QString::fromStdString(dir.File("out" + std::to_string(type))) + QLatin1Char('.') +
                            extensions[type - 1];
    QVERIFY2(QFileInfo(written).size() > 0, qPrintable(written));
  }
  QCOMPARE(f.ui->log.size(), 9);
  for (const QString& line : f.ui->log) QCOMPARE(line, QStringLiteral("message: Export Complete"));
  // The CSV: a title line of the visible columns, then the five records the
  // filter lets through.
  QCOMPARE(QString::fromStdString(ReadFileText(dir.File("out9.csv"))),
           QStringLiteral("\"NAME\",\"AGE\"\r\n\"name 26\",26\r\n\"name 27\",27\r\n\"name 28\",28\r\n"
                          "\"name 29\",29\r\n\"name 30\",30\r\n"));
  // The DBF is a table of its own with those rows and columns.
  TDbfTable copy;
  copy.SetTableName(dir.File("out8.dbf"));
  copy.Open();
  QCOMPARE(copy.FieldCount(), 2);
  QCOMPARE(copy.RecordCount(), 5);
  copy.First();
  QCOMPARE(copy.FieldByName("NAME").AsString(), std::string("name 26"));
  QCOMPARE(copy.FieldByName("AGE").AsInteger(), 26);
}

void TOutputTest::ExportRefusesTheTablesOwnFile() {
  TTempDir dir;
  TFixture f;
  const std::string table = WritePeople(dir);
  f.Open(table);
  const std::vector<uint8_t> before = ReadFile(table);
  f.ui->saveFiles << QString::fromStdString(table);
  f.ui->saveTypes << 8;
  f.Command("FileExport")->trigger();
  QCOMPARE(f.ui->log.size(), 1);
  QVERIFY2(f.ui->log[0].contains(QStringLiteral("is a file of the table being exported")), qPrintable(f.ui->log[0]));
  QVERIFY(ReadFile(table) == before);
  QVERIFY(f.form->Dbf1()->Active());
}

void TOutputTest::CancelledExportLeavesTheOldFile() {
  TTempDir dir;
  TFixture f;
  f.Open(WriteMany(dir, 60000));
  const std::string out = dir.File("old.xml");
  WriteFile(out, {'o', 'l', 'd'});
  int served = 0;
  f.ui->onProgress = [&](QProgressDialog& dialog, int64_t) {
    if (++served == 1) dialog.cancel();
  };
  f.ui->saveFiles << QString::fromStdString(out);
  f.ui->saveTypes << 6;
  f.Command("FileExport")->trigger();
  QVERIFY(served >= 1);
  // No "Export Complete", the old file as it was, and no temporary file left.
  QVERIFY2(f.ui->log.isEmpty(), qPrintable(f.ui->log.join('\n')));
  QCOMPARE(QString::fromStdString(ReadFileText(out)), QStringLiteral("old"));
  QCOMPARE(QDir(QString::fromStdString(dir.Path())).entryList(QDir::Files | QDir::Hidden).size(), 2);
  QVERIFY(f.form->Dbf1()->Active());
}

void TOutputTest::PrintPutsEveryRowAndTitleOnThePages() {
  if (!HavePdfToText()) QSKIP("pdftotext is not installed");
  TTempDir dir;
  TFixture f;
  f.Open(WriteMany(dir, 150));
  const QString pdf = QString::fromStdString(dir.File("printed.pdf"));
  // Cancelled in the print dialog: nothing is printed.
  f.Command("FilePrint")->trigger();
  QCOMPARE(f.ui->printDialogs, 1);
  f.ui->printTo = pdf;
  f.Command("FilePrint")->trigger();
  QVERIFY(f.ui->log.isEmpty());
  const QString text = PdfText(pdf);
  QVERIFY2(text.contains(QStringLiteral("many")), qPrintable(text.left(400)));
  for (const char* title : {"NAME", "AGE", "CITY"}) QVERIFY2(text.contains(QLatin1String(title)), title);
  for (int i = 1; i <= 150; ++i) {
    const QString row = QStringLiteral("name %1").arg(i);
    QVERIFY2(text.contains(QRegularExpression(QStringLiteral("\\b%1\\s+%2\\s+city %2\\b").arg(row).arg(i))),
             qPrintable(row));
  }
  QVERIFY(text.contains(QStringLiteral("Page 2")));
}

void TOutputTest::PreviewAndPrintRecordShowPages() {
  TTempDir dir;
  TFixture f;
  f.Open(WriteMany(dir, 150));
  int pages = 0;
  QString title;
  f.ui->onDialog = [&](QDialog& dialog) {
    auto* preview = qobject_cast<QPrintPreviewDialog*>(&dialog);
    if (!preview) return int(QDialog::Rejected);
    title = preview->windowTitle();
    auto* widget = preview->findChild<QPrintPreviewWidget*>();
    if (widget) {
      widget->updatePreview();
      pages = widget->pageCount();
    }
    return int(QDialog::Rejected);
  };
  f.Command("ToolPrint")->trigger();
  QCOMPARE(title, QStringLiteral("Print Preview - many"));
  QVERIFY2(pages >= 3, qPrintable(QString::number(pages)));
  pages = 0;
  f.Command("GridPrintRecord")->trigger();
  QCOMPARE(pages, 1);
  QVERIFY(f.ui->log.isEmpty());
}

void TOutputTest::ImportWizardAppendsAndBadRowsChangeNothing() {
  TTempDir dir;
  TFixture f;
  const std::string table = WritePeople(dir);
  f.Open(table);
  const std::string good = dir.File("good.csv");
  const std::string goodText = "age;name\r\n61;dee\r\n62;eve\r\n";
  WriteFile(good, std::vector<uint8_t>(goodText.begin(), goodText.end()));
  QStringList columns;
  f.ui->onDialog = [&](QDialog& dialog) {
    auto* wizard = qobject_cast<TImportWizard*>(&dialog);
    if (!wizard) return int(QDialog::Rejected);
    wizard->FileEdit()->setText(QString::fromStdString(good));
    wizard->SeparatorBox()->setCurrentText(QStringLiteral(";"));
    wizard->next();
    columns.clear();
    for (int row = 0; row < wizard->MappingTable()->rowCount(); ++row)
      columns << qobject_cast<QComboBox*>(wizard->MappingTable()->cellWidget(row, 1))->currentText();
    return int(QDialog::Accepted);
  };
  f.Command("FileImport")->trigger();
  // Matched by name, whatever the order and the letter case.
  QCOMPARE(columns, (QStringList{QStringLiteral("name"), QStringLiteral("age")}));
  QCOMPARE(f.ui->log, QStringList{QStringLiteral("message: 2 records imported.")});
  QCOMPARE(f.form->Dbf1()->RecordCount(), 5);
  QCOMPARE(StoredValue(table, 5, "NAME"), std::string("eve"));
  QVERIFY(!f.form->Dbf1()->Exclusive());

  // A row that does not convert: named, and the table keeps its five records.
  const std::string bad = dir.File("good.csv");
  const std::string badText = "age;name\r\n63;fay\r\nold;gus\r\n";
  WriteFile(bad, std::vector<uint8_t>(badText.begin(), badText.end()));
  const std::vector<uint8_t> before = ReadFile(table);
  f.Command("FileImport")->trigger();
  QCOMPARE(f.ui->log.size(), 2);
  QVERIFY2(f.ui->log[1].contains(QStringLiteral("Row 3, AGE: 'old' is not a number")), qPrintable(f.ui->log[1]));
  QVERIFY2(f.ui->log[1].contains(QStringLiteral("1 of 2 rows would be rejected")), qPrintable(f.ui->log[1]));
  QVERIFY(ReadFile(table) == before);
  QVERIFY(f.form->Dbf1()->Active());
}

void TOutputTest::FormViewPrintsItsImage() {
  TTempDir dir;
  TFixture f;
  f.Open(WritePeople(dir));
  f.Command("ToolForm")->trigger();
  const QString pdf = QString::fromStdString(dir.File("form.pdf"));
  f.ui->printTo = pdf;
  auto* print = f.form->FormView()->findChild<QPushButton*>(QStringLiteral("FormPrint"));
  QVERIFY(print && print->isEnabled());
  print->click();
  QVERIFY(f.ui->log.isEmpty());
  QVERIFY(QFileInfo(pdf).size() > 1000);
  f.form->FormView()->close();
}

QTEST_MAIN(TOutputTest)
#include "output_test.moc"
