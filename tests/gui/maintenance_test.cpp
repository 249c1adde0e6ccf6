// Pack, Zap and Reindex; the counts; the clipboard copies; Export to CSV:
// what each does to the files, what it says, and that the table is shown
// again, shared, whatever happened.
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTest>

#include "app/db_grid.h"
#include "app/grid_model.h"
#include "app/viewer_table.h"
#include "engine/table_file.h"
#include "tests/gui/gui_support.h"

using namespace norvale;
using namespace norvale::test;

namespace {

// ten.dbf: NAME C(10), AGE N(3), NOTE C(20); ten records "p1" 21 ...
// "p10" 30; NOTE holds values a CSV file must quote.
std::string WriteTen(const TTempDir& dir, const std::string& name = "ten.dbf") {
  TTableImage t;
  t.fields = {{"NAME", 'C', 10}, {"AGE", 'N', 3}, {"NOTE", 'C', 20}};
  const char* notes[] = {"plain", "a, b", "say \"hi\"", "  lead", "", "x", "y", "z", "w", "v"};
  for (int i = 1; i <= 10; ++i)
    t.records.push_back(t.Record({"p" + std::to_string(i), std::to_string(20 + i), notes[i - 1]}));
  WriteFile(dir.File(name), t.Bytes());
  return dir.File(name);
}

// With a single-index file ages.ndx on AGE, opened by hand in the viewer
// through Change Index.
std::string WriteIndexed(const TTempDir& dir, TFixture& f) {
  const std::string path = WriteTen(dir);
  {
    TDbfTable table;
    table.SetTableName(path);
    table.SetExclusive(true);
    table.Open();
    table.AddIndex(dir.File("ages.ndx"), "AGE", ixDescending);
  }
  f.Open(path);
  f.ui->files << QString::fromStdString(dir.File("ages.ndx"));
  f.Command("ViewChangeIndex")->trigger();
  return path;
}

QStringList Shown(TFixture& f, int column = 0) {
  TDbfGridModel* model = f.form->GridModel();
  model->SetScanStep(std::chrono::microseconds(0));
  if (!QTest::qWaitFor([&] { return !model->Scanning(); }, 30000)) return {QStringLiteral("still scanning")};
  QStringList values;
  for (int row = 0; row < model->rowCount(); ++row) values << model->index(row, column).data().toString().trimmed();
  return values;
}

// Deletes the records of the given rows through the grid.
void DeleteRows(TFixture& f, std::initializer_list<int> rows) {
  for (int row : rows) {
    f.form->GridModel()->GotoRow(row);
    f.Command("EditDelete")->trigger();
  }
}

// Whether another program could open the table exclusively now.
bool OthersCanHaveItExclusively(const std::string& path) {
  TDbfTable other;
  other.SetTableName(path);
  other.SetExclusive(true);
  try {
    other.Open();
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

void ApplyFilter(TFixture& f, const QString& text) {
  f.form->Edit2()->setText(text);
  f.Command("SearchApplyFilter")->trigger();
}

QString Clipboard() { return QGuiApplication::clipboard()->text(); }

// Runs a program; its standard output, or a failure text naming it.
QString Run(const QString& program, const QStringList& args) {
  QProcess p;
  p.start(program, args);
  if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
    return QStringLiteral("FAILED: ") + program + QLatin1Char(' ') + args.join(' ') + QLatin1Char('\n') +
           QString::fromUtf8(p.readAllStandardError());
  return QString::fromUtf8(p.readAllStandardOutput());
}

// Reads `csv` with Python's csv module and compares every row with the
// records `norvale-cli dump` gives for `table` (fields `fields`, the filter
// `where`); "same" or what differs.
QString CompareWithDump(const QString& csv, const std::string& table, const QString& fields, const QString& where) {
  QStringList dumpArgs{QStringLiteral("dump"), QString::fromStdString(table), QStringLiteral("--format"),
                       QStringLiteral("csv")};
  if (!where.isEmpty()) dumpArgs << QStringLiteral("--where") << where;
  const QString dump = Run(QStringLiteral(NORVALE_CLI), dumpArgs);
  if (dump.startsWith(QStringLiteral("FAILED"))) return dump;
  const QString script = QStringLiteral(R"(
import csv, io, sys
fields = sys.argv[2].split(',')
dumped = list(csv.reader(io.StringIO(sys.stdin.read(), newline='')))
names, rows = dumped[0], dumped[1:]
want = [[r[names.index(f)] for f in fields] for r in rows]
with open(sys.argv[1], newline='', encoding='utf-8') as fh:
    got = list(csv.reader(fh))
# Logical values read True/False in the grid, true/false in a dump.
# Numbers are compared as numbers: the grid writes a field's decimals.
def norm(v):
    if v in ('True', 'False'):
        return v.lower()
    try:
        return float(v)
    except ValueError:
        return v
want = [[norm(v) for v in r] for r in want]
got = [[norm(v) for v in r] for r in got]
print('same' if got == want else 'got %r\nwant %r' % (got[:5], want[:5]))
)");
  QProcess p;
  p.start(QStringLiteral("python3"), {QStringLiteral("-c"), script, csv, fields});
  p.write(dump.toUtf8());
  p.closeWriteChannel();
  if (!p.waitForFinished(120000)) return QStringLiteral("python3 did not finish");
  return QString::fromUtf8(p.readAllStandardOutput()).trimmed() + QString::fromUtf8(p.readAllStandardError());
}

}  // namespace

class TMaintenanceTest : public QObject {
  Q_OBJECT

 private slots:
  void PackRemovesTheDeletedRecordsAndShowsTheTableSharedAgain();
  void PackAnsweredNoOrRefusedLeavesTheFileAsItWas();
  void ZapEmptiesTheTableAndItsIndex();
  void ReindexRebuildsTheIndexFilesInPlace();
  void CancelledPackLeavesEverythingAsItWas();
  void WritingCommandsNeedAWritableTable();
  void CountsAndRecordSize();
  void CancelledVisualCountShowsNoCount();
  void CopyCommandsPutLinesOnTheClipboard();
  void ExportWritesTheVisibleColumnsOfTheShownRecords();
  void ExportedCsvReadsBackAsTheDumpDoes();
  void ExportRefusesTheTablesOwnFilesAndAnEmptyColumnList();
  void CancelledOrFailedExportKeepsTheOlderFile();
};

void TMaintenanceTest::PackRemovesTheDeletedRecordsAndShowsTheTableSharedAgain() {
  TTempDir dir;
  TFixture f;
  const std::string path = WriteIndexed(dir, f);
  QCOMPARE(Shown(f), (QStringList{"p10", "p9", "p8", "p7", "p6", "p5", "p4", "p3", "p2", "p1"}));
  DeleteRows(f, {0, 1});  // p10, then p8
  f.form->GridModel()->GotoRow(4);
  f.Command("TablePack")->trigger();
  QCOMPARE(f.ui->log, QStringList{QStringLiteral("confirm: Pack Table?")});
  QVERIFY(f.form->Dbf1()->Active());
  QVERIFY(!f.form->Dbf1()->Exclusive());
  QVERIFY(!OthersCanHaveItExclusively(path));
  // Still in the order of the file opened by hand, now kept for eight.
  QCOMPARE(Shown(f), (QStringList{"p9", "p7", "p6", "p5", "p4", "p3", "p2", "p1"}));
  QVERIFY(f.form->Label3()->text().contains(QStringLiteral("ages.ndx"), Qt::CaseInsensitive));
  QCOMPARE(f.form->Label2()->text(), QStringLiteral("Count: 8"));
  QCOMPARE(f.form->Dbf1()->DbfFile()->RecordCount(), 8u);
  // Back at the top: p9, now the eighth record.
  QCOMPARE(f.form->Label7()->text(), QStringLiteral("Record: 8"));
  f.form->Dbf1()->Close();
  // What another program reads.
  TDbfTable reader;
  reader.SetTableName(path);
  reader.Open();
  reader.OpenIndexFile(dir.File("ages.ndx"));
  reader.SetIndexName(dir.File("ages.ndx"));
  QStringList names;
  for (reader.First(); !reader.Eof(); reader.Next())
    names << QString::fromStdString(reader.FieldByName("NAME").AsString()).trimmed();
  QCOMPARE(names, (QStringList{"p9", "p7", "p6", "p5", "p4", "p3", "p2", "p1"}));
}

void TMaintenanceTest::PackAnsweredNoOrRefusedLeavesTheFileAsItWas() {
  TTempDir dir;
  const std::string path = WritePeople(dir, "people.dbf", true);
  const std::vector<uint8_t> before = ReadFile(path);
  TFixture f;
  f.Open(path);
  f.ui->confirmAnswer = false;
  f.Command("TablePack")->trigger();
  QCOMPARE(ReadFile(path), before);
  QVERIFY(f.form->Dbf1()->Active());

  // Another program holds the table: the error says so, the table is shown
  // again where it was.
  f.ui->confirmAnswer = true;
  f.ui->log.clear();
  f.form->GridModel()->GotoRow(1);
  {
    TDbfTable holder;
    holder.SetTableName(path);
    holder.Open();
    f.Command("TablePack")->trigger();
  }
  QCOMPARE(f.ui->log.size(), 2);
  QVERIFY2(f.ui->log[1].startsWith(QStringLiteral("error: ")), qPrintable(f.ui->log[1]));
  QCOMPARE(ReadFile(path), before);
  QVERIFY(f.form->Dbf1()->Active());
  QVERIFY(!f.form->Dbf1()->Exclusive());
  QCOMPARE(f.form->Dbf1()->RecNo(), 3);
  QCOMPARE(f.Tabs(), 1);
  QVERIFY(f.Enabled("TablePack"));
}

void TMaintenanceTest::ZapEmptiesTheTableAndItsIndex() {
  TTempDir dir;
  TFixture f;
  const std::string path = WriteIndexed(dir, f);
  f.ui->confirmAnswer = false;
  f.Command("TableZap")->trigger();
  QCOMPARE(Shown(f).size(), 10);
  f.ui->confirmAnswer = true;
  f.Command("TableZap")->trigger();
  QCOMPARE(f.ui->log, (QStringList{"confirm: Zap Table (Delete all)?", "confirm: Zap Table (Delete all)?"}));
  QCOMPARE(Shown(f), QStringList());
  QCOMPARE(f.form->Label2()->text(), QStringLiteral("Count: 0"));
  QVERIFY(!f.form->Dbf1()->Exclusive());
  QVERIFY(!f.Enabled("EditDelete"));
  // A record added after is found through the index.
  f.Command("EditInsert")->trigger();
  TDbfGridModel* model = f.form->GridModel();
  QVERIFY(model->setData(model->index(0, 0), QStringLiteral("new")));
  QVERIFY(model->setData(model->index(0, 1), QStringLiteral("7")));
  f.Command("EditSave")->trigger();
  QCOMPARE(Shown(f), QStringList{QStringLiteral("new")});
  QCOMPARE(f.form->Dbf1()->DbfFile()->RecordCount(), 1u);
  QCOMPARE(f.ui->log.size(), 2);
  QCOMPARE(ReadFile(path).size(), size_t(32 + 3 * 32 + 1 + 34 + 1));
}

void TMaintenanceTest::ReindexRebuildsTheIndexFilesInPlace() {
  TTempDir dir;
  std::vector<uint8_t> good;
  {
    TFixture f;
    WriteIndexed(dir, f);
    good = ReadFile(dir.File("ages.ndx"));
  }
  // The tree's pages zeroed: the rebuild must not need them.
  std::vector<uint8_t> ndx = good;
  std::fill(ndx.begin() + 512, ndx.end(), uint8_t(0));
  WriteFile(dir.File("ages.ndx"), ndx);
  TFixture f;
  f.Open(dir.File("ten.dbf"));
  f.ui->files << QString::fromStdString(dir.File("ages.ndx"));
  f.Command("ViewChangeIndex")->trigger();
  QVERIFY(f.Enabled("IndexReindex"));
  f.ui->log.clear();
  f.Command("IndexReindex")->trigger();
  QCOMPARE(f.ui->log, QStringList{QStringLiteral("confirm: Reindex?")});
  QCOMPARE(Shown(f), (QStringList{"p10", "p9", "p8", "p7", "p6", "p5", "p4", "p3", "p2", "p1"}));
  QVERIFY(!f.form->Dbf1()->Exclusive());
  QVERIFY(f.form->Label3()->text().contains(QStringLiteral("ages.ndx"), Qt::CaseInsensitive));
  QCOMPARE(ReadFile(dir.File("ages.ndx")).size(), good.size());
  // Answered No, nothing is rebuilt.
  WriteFile(dir.File("ages.ndx"), ndx);
  f.ui->confirmAnswer = false;
  f.Command("IndexReindex")->trigger();
  QCOMPARE(ReadFile(dir.File("ages.ndx")), ndx);
  // A table without index files has nothing to reindex.
  f.Open(WritePeople(dir));
  QVERIFY(!f.Enabled("IndexReindex"));
}

void TMaintenanceTest::CancelledPackLeavesEverythingAsItWas() {
  TTempDir dir;
  TFixture f;
  const std::string path = WriteIndexed(dir, f);
  DeleteRows(f, {0});
  const std::vector<uint8_t> table = ReadFile(path);
  const std::vector<uint8_t> index = ReadFile(dir.File("ages.ndx"));
  f.ui->onProgress = [](QProgressDialog& dialog, int64_t) { dialog.cancel(); };
  f.Command("TablePack")->trigger();
  QVERIFY(f.ui->progressServed > 0);
  QCOMPARE(f.ui->log, QStringList{QStringLiteral("confirm: Pack Table?")});
  QCOMPARE(ReadFile(path), table);
  QCOMPARE(ReadFile(dir.File("ages.ndx")), index);
  QCOMPARE(QDir(QString::fromStdString(dir.File(""))).entryList(QDir::Files).size(), 2);
  QVERIFY(f.form->Dbf1()->Active());
  QVERIFY(!f.form->Dbf1()->Exclusive());
  QCOMPARE(Shown(f).size(), 9);

  // Reindex cancelled the same way.
  f.Command("IndexReindex")->trigger();
  QCOMPARE(ReadFile(dir.File("ages.ndx")), index);
  QCOMPARE(Shown(f).size(), 9);
  QCOMPARE(f.ui->log.size(), 2);
}

void TMaintenanceTest::WritingCommandsNeedAWritableTable() {
  TTempDir dir;
  const std::string path = WriteTen(dir);
  QFile::setPermissions(QString::fromStdString(path), QFileDevice::ReadOwner);
  TFixture f;
  f.Open(path);
  QVERIFY(f.form->Dbf1()->Active());
  for (const char* name : {"TablePack", "TableZap", "IndexReindex"}) QVERIFY2(!f.Enabled(name), name);
  for (const char* name : {"RecordCount", "RecordVisualCount", "GridVisualCount", "RecordSize", "GridCopyColumn",
                           "GridCopyRow", "GridCopyValue", "FileExportCsv"})
    QVERIFY2(f.Enabled(name), name);
  QFile::setPermissions(QString::fromStdString(path), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
  f.Command("FileClose")->trigger();
  for (const char* name : {"TablePack", "RecordCount", "GridVisualCount", "GridCopyRow", "FileExportCsv"})
    QVERIFY2(!f.Enabled(name), name);
}

void TMaintenanceTest::CountsAndRecordSize() {
  TTempDir dir;
  TFixture f;
  f.Open(WriteTen(dir));
  ApplyFilter(f, QStringLiteral("AGE > 27"));
  f.form->GridModel()->GotoRow(1);
  f.Command("RecordVisualCount")->trigger();
  f.Command("GridVisualCount")->trigger();
  f.Command("RecordCount")->trigger();
  QCOMPARE(f.ui->log, (QStringList{"message: Count=3", "message: Count=3", "message: Count: 10"}));
  // The count walks a table of its own: the current record stays.
  QCOMPARE(f.form->Dbf1()->RecNo(), 9);
  // Deleted records are counted only while shown.
  DeleteRows(f, {0});
  f.ui->log.clear();
  f.Command("RecordVisualCount")->trigger();
  f.Command("ViewShowDeleted")->trigger();
  f.Command("RecordVisualCount")->trigger();
  QCOMPARE(f.ui->log, (QStringList{"message: Count=2", "message: Count=3"}));

  // An edit in progress is posted before the count.
  ApplyFilter(f, QString());
  TDbfGridModel* model = f.form->GridModel();
  QVERIFY(model->setData(model->index(0, 1), QStringLiteral("99")));
  f.ui->log.clear();
  ApplyFilter(f, QStringLiteral("AGE > 90"));
  f.Command("RecordVisualCount")->trigger();
  QCOMPARE(f.ui->log, QStringList{QStringLiteral("message: Count=1")});

  TTableImage t;
  t.fields = {{"NAME", 'C', 10}};
  WriteFile(dir.File("one.dbf"), t.Bytes());
  f.Open(dir.File("one.dbf"));
  f.ui->log.clear();
  f.Command("RecordSize")->trigger();
  f.Command("RecordVisualCount")->trigger();
  QCOMPARE(f.ui->log, (QStringList{"message: Size: 11", "message: Count=0"}));
}

void TMaintenanceTest::CancelledVisualCountShowsNoCount() {
  TTempDir dir;
  TFixture f;
  f.Open(WriteTen(dir));
  f.ui->onProgress = [](QProgressDialog& dialog, int64_t) { dialog.cancel(); };
  f.Command("RecordVisualCount")->trigger();
  QVERIFY(f.ui->progressServed > 0);
  QVERIFY(f.ui->log.isEmpty());
  QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
  QVERIFY(f.form->Dbf1()->Active());
  f.ui->onProgress = nullptr;
  f.Command("RecordVisualCount")->trigger();
  QCOMPARE(f.ui->log, QStringList{QStringLiteral("message: Count=10")});
}

void TMaintenanceTest::CopyCommandsPutLinesOnTheClipboard() {
  TTempDir dir;
  TFixture f;
  f.Open(WriteTen(dir));
  f.form->GridModel()->GotoRow(2);
  f.form->DBGrid1()->SetSelectedColumn(2);
  f.Command("GridCopyRow")->trigger();
  QCOMPARE(Clipboard(), QStringLiteral("p3\r\n23\r\nsay \"hi\"\r\n"));
  f.Command("GridCopyValue")->trigger();
  QCOMPARE(Clipboard(), QStringLiteral("say \"hi\"\r\n"));
  // Hidden columns are part of the row, in the grid's column order.
  f.form->DBGrid1()->horizontalHeader()->hideSection(0);
  f.form->DBGrid1()->horizontalHeader()->moveSection(2, 1);
  f.Command("GridCopyRow")->trigger();
  QCOMPARE(Clipboard(), QStringLiteral("p3\r\nsay \"hi\"\r\n23\r\n"));

  ApplyFilter(f, QStringLiteral("AGE < 24"));
  f.form->GridModel()->GotoRow(1);
  f.form->DBGrid1()->SetSelectedColumn(1);
  f.Command("GridCopyColumn")->trigger();
  QCOMPARE(Clipboard(), QStringLiteral("21\r\n22\r\n23\r\n"));
  QCOMPARE(f.form->Dbf1()->RecNo(), 2);
  QVERIFY(f.ui->log.isEmpty());
}

void TMaintenanceTest::ExportWritesTheVisibleColumnsOfTheShownRecords() {
  TTempDir dir;
  TFixture f;
  f.Open(WriteTen(dir));
  const QString out = QString::fromStdString(dir.File("out.txt"));
  // NAME hidden: only AGE and NOTE, with the values that need it quoted.
  f.form->DBGrid1()->horizontalHeader()->hideSection(0);
  ApplyFilter(f, QStringLiteral("AGE < 26"));
  f.form->GridModel()->GotoRow(3);
  f.ui->saveFiles << out;
  f.Command("FileExportCsv")->trigger();
  QCOMPARE(f.ui->saveFilters, QStringList{QStringLiteral("CSV Text File|*.TXT")});
  QCOMPARE(f.ui->log, QStringList{QStringLiteral("message: Export Complete")});
  QCOMPARE(QString::fromStdString(ReadFileText(out.toStdString())),
           QStringLiteral("21,plain\r\n22,\"a, b\"\r\n23,\"say \"\"hi\"\"\"\r\n24,\"  lead\"\r\n25,\r\n"));
  QCOMPARE(f.form->Dbf1()->RecNo(), 4);

  // No record shown: an empty file, and the same message.
  ApplyFilter(f, QStringLiteral("AGE > 99"));
  f.ui->saveFiles << out;
  f.Command("FileExportCsv")->trigger();
  QCOMPARE(ReadFile(out.toStdString()).size(), size_t(0));
  QCOMPARE(f.ui->log.size(), 2);
  QCOMPARE(f.ui->log.back(), QStringLiteral("message: Export Complete"));
  // Cancelling the dialog writes nothing.
  f.Command("FileExportCsv")->trigger();
  QCOMPARE(f.ui->log.size(), 2);
}

void TMaintenanceTest::ExportedCsvReadsBackAsTheDumpDoes() {
  // The sample table: dates, numbers, logicals, memo text and accented names.
  TTempDir dir;
  const std::string table = dir.File("customers.dbf");
  WriteFile(table, ReadFile(NORVALE_SAMPLE));
  TFixture f;
  f.Open(table);
  QVERIFY(f.form->Dbf1()->Active());
  QStringList fields;
  for (int i = 0; i < f.form->Dbf1()->FieldCount(); ++i)
    fields << QString::fromStdString(f.form->Dbf1()->Fields(i).FieldName());
  const QString out = QString::fromStdString(dir.File("customers.txt"));
  f.ui->saveFiles << out;
  f.Command("FileExportCsv")->trigger();
  QCOMPARE(f.ui->log, QStringList{QStringLiteral("message: Export Complete")});
  QCOMPARE(CompareWithDump(out, table, fields.join(','), QString()), QStringLiteral("same"));

  // Filtered, and only some columns.
  const QString where = QStringLiteral("COUNTRY = 'Switzerland' AND BALANCE > 100");
  ApplyFilter(f, where);
  QStringList shown;
  for (int i = 0; i < f.form->Dbf1()->FieldCount(); ++i) {
    const QString name = fields[i];
    if (name == QLatin1String("CITY") || name == QLatin1String("BALANCE") || name == QLatin1String("ACTIVE"))
      shown << name;
    else
      f.form->DBGrid1()->horizontalHeader()->hideSection(i);
  }
  f.ui->saveFiles << out;
  f.Command("FileExportCsv")->trigger();
  QVERIFY(QFile(out).size() > 0);
  QCOMPARE(CompareWithDump(out, table, shown.join(','), where), QStringLiteral("same"));
}

void TMaintenanceTest::ExportRefusesTheTablesOwnFilesAndAnEmptyColumnList() {
  TTempDir dir;
  TFixture f;
  const std::string path = WriteIndexed(dir, f);
  const std::vector<uint8_t> table = ReadFile(path);
  const std::vector<uint8_t> index = ReadFile(dir.File("ages.ndx"));
  // The table's own name, in another spelling of the path, and its index.
  for (const std::string& own : {path, dir.File("./ten.dbf"), dir.File("ages.ndx")}) {
    f.ui->log.clear();
    f.ui->saveFiles << QString::fromStdString(own);
    f.Command("FileExportCsv")->trigger();
    QCOMPARE(f.ui->log.size(), 1);
    QVERIFY2(f.ui->log.front().startsWith(QStringLiteral("error: ")), qPrintable(f.ui->log.front()));
    QVERIFY(f.ui->log.front().contains(QStringLiteral("file of the table itself")));
  }
  QCOMPARE(ReadFile(path), table);
  QCOMPARE(ReadFile(dir.File("ages.ndx")), index);

  for (int i = 0; i < 3; ++i) f.form->DBGrid1()->horizontalHeader()->hideSection(i);
  f.ui->log.clear();
  f.ui->saveFiles << QString::fromStdString(dir.File("none.txt"));
  f.Command("FileExportCsv")->trigger();
  QCOMPARE(f.ui->log, QStringList{QStringLiteral("error: No visible columns to export.")});
  QVERIFY(!QFile::exists(QString::fromStdString(dir.File("none.txt"))));
}

void TMaintenanceTest::CancelledOrFailedExportKeepsTheOlderFile() {
  TTempDir dir;
  TFixture f;
  f.Open(WriteTen(dir));
  const std::string out = dir.File("old.txt");
  WriteFile(out, {'o', 'l', 'd'});
  f.ui->onProgress = [](QProgressDialog& dialog, int64_t) { dialog.cancel(); };
  f.ui->saveFiles << QString::fromStdString(out);
  f.Command("FileExportCsv")->trigger();
  QVERIFY(f.ui->log.isEmpty());
  QCOMPARE(ReadFileText(out), std::string("old"));
  QCOMPARE(QDir(QString::fromStdString(dir.File(""))).entryList(QDir::Files).size(), 2);

  // A folder that is not there: the error names the file.
  f.ui->onProgress = nullptr;
  f.ui->saveFiles << QString::fromStdString(dir.File("missing/new.txt"));
  f.Command("FileExportCsv")->trigger();
  QCOMPARE(f.ui->log.size(), 1);
  QVERIFY2(f.ui->log.front().startsWith(QStringLiteral("error: Cannot create")), qPrintable(f.ui->log.front()));
  QVERIFY(f.ui->log.front().contains(QStringLiteral("new.txt")));
}

QTEST_MAIN(TMaintenanceTest)
#include "maintenance_test.moc"
