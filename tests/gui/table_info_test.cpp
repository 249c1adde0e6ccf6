// Table Info and Set Table Type: what they read from the file's own
// header, and the single byte Set Table Type writes.
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <cstdio>

#include "app/dialogs/table_info.h"
#include "app/viewer_table.h"
#include "tests/gui/gui_support.h"

using namespace norvale;
using namespace norvale::test;

namespace {

// ten.dbf: NAME C(10), AGE N(3), BORN D, OK L; ten records, header bytes
// as given (updated 9 December 2026, language 87, index flag `flag28`).
std::string WriteTen(const TTempDir& dir, uint8_t version = 0x03, uint8_t flag28 = 0, uint8_t encrypted = 0) {
  TTableImage t;
  t.versionByte = version;
  t.fields = {{"NAME", 'C', 10}, {"AGE", 'N', 3}, {"BORN", 'D', 8}, {"OK", 'L', 1}};
  for (int i = 1; i <= 10; ++i) t.records.push_back(t.Record({"p" + std::to_string(i), "20", "20001231", "T"}));
  std::vector<uint8_t> bytes = t.Bytes();
  bytes[1] = 126;
  bytes[2] = 12;
  bytes[3] = 9;
  bytes[15] = encrypted;
  bytes[28] = flag28;
  const std::string path = dir.File("ten.dbf");
  WriteFile(path, bytes);
  return path;
}

QStringList Row(QTreeWidget* list, int row) {
  QStringList texts;
  for (int c = 0; c < list->columnCount(); ++c) texts << list->topLevelItem(row)->text(c);
  return texts;
}

}  // namespace

class TTableInfoTest : public QObject {
  Q_OBJECT

 private slots:
  void ShowsTheHeaderOfTheFile();
  void FlagsAreReadBitByBit();
  void TextsOfUnlistedBytes();
  void AFileShorterThanAHeaderCannotBeRead();
  void TheFamilyDecidesTheTypesOffered();
  void SetWritesOneByteAndReopensTheTable();
  void SetIsRefusedWhileAnotherProgramHasTheTable();
  void CommandsNeedATable();
};

void TTableInfoTest::ShowsTheHeaderOfTheFile() {
  TTempDir dir;
  TFixture f;
  const std::string path = WriteTen(dir);
  const std::vector<uint8_t> before = ReadFile(path);
  f.Open(path);
  TTableInfoDialog* info = f.form->TableInfoDialog();
  QString title;
  f.ui->onDialog = [&](QDialog& d) {
    title = d.windowTitle();
    return int(QDialog::Accepted);
  };
  f.Command("TableInfo")->trigger();
  QVERIFY2(f.ui->log.isEmpty(), qPrintable(f.ui->log.join('\n')));
  QCOMPARE(title, QStringLiteral("Table Info "));
  QCOMPARE(info->FileType()->text(), QStringLiteral("FoxBASE+/Dbase III plus, no memo"));
  QCOMPARE(info->Records()->text(), QStringLiteral("10"));
  QCOMPARE(info->HeaderSize()->text(), QStringLiteral("161 bytes"));
  QCOMPARE(info->RecordSize()->text(), QStringLiteral("23 bytes"));
  QCOMPARE(info->LastUpdated()->text(), QStringLiteral("9/12/2026 "));
  QCOMPARE(info->LanguageId()->text(), QStringLiteral("87"));
  QVERIFY(!info->Indexed()->isChecked() && !info->Encryption()->isChecked());
  QVERIFY(!info->Indexed()->isEnabled());
  QCOMPARE(info->FullPath()->text(), QFileInfo(QString::fromStdString(path)).absoluteFilePath());
  QCOMPARE(info->FieldList()->topLevelItemCount(), 4);
  QCOMPARE(Row(info->FieldList(), 0), (QStringList{"NAME", "Text", "10", "1"}));
  QCOMPARE(Row(info->FieldList(), 2), (QStringList{"BORN", "Date", "8", "3"}));
  QCOMPARE(Row(info->FieldList(), 3), (QStringList{"OK", "Logic", "1", "4"}));
  QCOMPARE(info->FieldList()->columnWidth(0), 150);

  info->CopyNames()->click();
  QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("NAME\r\nAGE\r\nBORN\r\nOK\r\n"));
  // The header label tells the engine's version.
  QTest::mouseClick(info->HeaderSizeLabel(), Qt::LeftButton);
  QCOMPARE(f.ui->log.size(), 1);
  QVERIFY(f.ui->log.front().startsWith(QStringLiteral("message: DBF Version: ")));
  // Nothing was written.
  QCOMPARE(ReadFile(path), before);
}

void TTableInfoTest::FlagsAreReadBitByBit() {
  TTempDir dir;
  TFixture f;
  f.ui->onDialog = [](QDialog&) { return int(QDialog::Accepted); };
  f.Open(WriteTen(dir, 0x03, 2, 1));
  f.Command("TableInfo")->trigger();
  QVERIFY(!f.form->TableInfoDialog()->Indexed()->isChecked());
  QVERIFY(f.form->TableInfoDialog()->Encryption()->isChecked());
  f.Command("FileClose")->trigger();
  f.Open(WriteTen(dir, 0x03, 3, 2));
  f.Command("TableInfo")->trigger();
  QVERIFY(f.form->TableInfoDialog()->Indexed()->isChecked());
  QVERIFY(!f.form->TableInfoDialog()->Encryption()->isChecked());
}

void TTableInfoTest::TextsOfUnlistedBytes() {
  QCOMPARE(VersionByteText(0x8C), QStringLiteral("dBASE 7 with memo"));
  QCOMPARE(VersionByteText(0x04), QStringLiteral("dBASE 7"));
  QCOMPARE(VersionByteText(0xFB), QStringLiteral("FoxBASE"));
  QCOMPARE(VersionByteText(0x07), QStringLiteral("Unknown"));
  QCOMPARE(LanguageIdText(87), QStringLiteral("87"));
  QCOMPARE(LanguageIdText(101), QStringLiteral("Codepage 866  Russian MS-DOS"));
  QCOMPARE(LanguageIdText(0), QStringLiteral("No codepage defined"));
  QCOMPARE(FieldTypeText(ftAutoInc), QStringLiteral("AutoInc"));
  QCOMPARE(FieldTypeText(ftLargeint), QString());
}

void TTableInfoTest::AFileShorterThanAHeaderCannotBeRead() {
  TTempDir dir;
  WriteFile(dir.File("short.dbf"), std::vector<uint8_t>(20, 0x03));
  bool raised = false;
  try {
    ReadTableHeader(QString::fromStdString(dir.File("short.dbf")));
  } catch (const std::exception& e) {
    raised = true;
    QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("Error reading: [short.dbf]"));
  }
  QVERIFY(raised);
  // A table whose file went away while it was open says so too.
  TFixture f;
  const std::string path = WriteTen(dir);
  f.Open(path);
  std::remove(path.c_str());
  f.Command("TableInfo")->trigger();
  QCOMPARE(f.ui->log, QStringList{QStringLiteral("error: Error reading: [ten.dbf]")});
}

void TTableInfoTest::TheFamilyDecidesTheTypesOffered() {
  TTempDir dir;
  // dBASE 7, made by the engine.
  {
    TDbfTable table;
    table.SetTableName(dir.File("seven.dbf"));
    table.SetTableLevel(7);
    table.FieldDefs().Add("NAME", ftString, 12);
    table.FieldDefs().Add("NOTES", ftMemo);
    table.CreateTable();
  }
  TFixture f;
  f.Open(dir.File("seven.dbf"));
  QVERIFY(f.form->Dbf1()->Active());
  TSetTableTypeDialog* dialog = f.form->SetTableTypeDialog();
  QStringList offered;
  f.ui->onDialog = [&](QDialog&) {
    offered.clear();
    for (int i = 0; i < dialog->Types()->count(); ++i) offered << dialog->Types()->itemText(i);
    return int(QDialog::Rejected);
  };
  f.Command("TableSetTableType")->trigger();
  QCOMPARE(offered, (QStringList{"dBASE 7", "dBASE 7 with memo", "UNKNOWN"}));
  QCOMPARE(dialog->Types()->currentText(), QStringLiteral("dBASE 7 with memo"));
  QVERIFY(dialog->SetButton()->isEnabled());

  // The 32-byte layout.
  const std::string ten = WriteTen(dir);
  f.Open(ten);
  f.Command("TableSetTableType")->trigger();
  QCOMPARE(offered.size(), 11);
  QCOMPARE(offered.front(), QStringLiteral("FoxBASE"));
  QVERIFY(!offered.contains(QStringLiteral("Visual FoxPro")));
  QCOMPARE(dialog->Types()->currentText(), QStringLiteral("FoxBASE+/Dbase III plus, no memo"));
  // A first byte no program writes selects UNKNOWN.
  std::vector<uint8_t> damaged = ReadFile(ten);
  damaged[0] = 0x07;
  WriteFile(dir.File("damaged.dbf"), damaged);
  dialog->Prepare(QString::fromStdString(dir.File("damaged.dbf")));
  QCOMPARE(dialog->Types()->count(), 11);
  QCOMPARE(dialog->Types()->currentText(), QStringLiteral("UNKNOWN"));
  // Layouts judged from the bytes.
  QCOMPARE(VersionBytesOfFamily(ReadFile(WriteTen(dir, 0x83))).size(), size_t(10));
  // Visual FoxPro's back-link area, whatever the first byte says.
  std::vector<uint8_t> header = ReadFile(WriteTen(dir, 0x30));
  header[0] = 0x00;
  QCOMPARE(VersionBytesOfFamily(header), (std::vector<uint8_t>{0x30, 0x31}));
  QVERIFY(VersionBytesOfFamily(std::vector<uint8_t>(64, 0)).empty());
}

void TTableInfoTest::SetWritesOneByteAndReopensTheTable() {
  TTempDir dir;
  TFixture f;
  const std::string path = WriteTen(dir);
  const std::vector<uint8_t> before = ReadFile(path);
  f.Open(path);
  f.Command("EditLast")->trigger();
  TSetTableTypeDialog* dialog = f.form->SetTableTypeDialog();
  QString choice = QStringLiteral("dBASE IV with memo");
  f.ui->onDialog = [&](QDialog&) {
    dialog->Types()->setCurrentIndex(dialog->Types()->findText(choice));
    dialog->SetButton()->click();
    return dialog->result();
  };
  // Answered No: nothing written.
  f.ui->confirmAnswer = false;
  f.Command("TableSetTableType")->trigger();
  QCOMPARE(ReadFile(path), before);
  // UNKNOWN has no byte to write.
  f.ui->confirmAnswer = true;
  choice = QStringLiteral("UNKNOWN");
  f.ui->log.clear();
  f.Command("TableSetTableType")->trigger();
  QCOMPARE(f.ui->log, QStringList{QStringLiteral("message: Choose the table type to set.")});
  QCOMPARE(ReadFile(path), before);

  choice = QStringLiteral("dBASE IV with memo");
  f.ui->log.clear();
  f.Command("TableSetTableType")->trigger();
  QCOMPARE(f.ui->log.size(), 2);
  QVERIFY(f.ui->log[0].startsWith(QStringLiteral("confirm: Set the table type of ten.dbf to \"dBASE IV with memo\"?")));
  QCOMPARE(f.ui->log[1], QStringLiteral("message: Table type set."));
  std::vector<uint8_t> expected = before;
  expected[0] = 0x8B;
  QCOMPARE(ReadFile(path), expected);
  // Shown again, shared, where it was.
  QVERIFY(f.form->Dbf1()->Active());
  QVERIFY(!f.form->Dbf1()->Exclusive());
  QCOMPARE(f.form->Dbf1()->RecNo(), 10);
}

void TTableInfoTest::SetIsRefusedWhileAnotherProgramHasTheTable() {
  TTempDir dir;
  TFixture f;
  const std::string path = WriteTen(dir);
  const std::vector<uint8_t> before = ReadFile(path);
  f.Open(path);
  TSetTableTypeDialog* dialog = f.form->SetTableTypeDialog();
  f.ui->onDialog = [&](QDialog&) {
    dialog->Types()->setCurrentIndex(dialog->Types()->findText(QStringLiteral("dBASE IV with memo")));
    dialog->SetButton()->click();
    return dialog->result();
  };
  {
    TDbfTable holder;
    holder.SetTableName(path);
    holder.Open();
    f.Command("TableSetTableType")->trigger();
  }
  QCOMPARE(f.ui->log.size(), 2);
  QVERIFY2(f.ui->log[1].startsWith(QStringLiteral("error: The table type was not set: ")), qPrintable(f.ui->log[1]));
  QCOMPARE(ReadFile(path), before);
  QVERIFY(f.form->Dbf1()->Active());

  // With the table closed, Set says so and goes grey.
  f.Command("FileClose")->trigger();
  f.ui->log.clear();
  dialog->Set();
  QCOMPARE(f.ui->log, QStringList{QStringLiteral("message: Table not open.")});
  QVERIFY(!dialog->SetButton()->isEnabled());
}

void TTableInfoTest::CommandsNeedATable() {
  TFixture f;
  for (const char* name : {"TableInfo", "ToolTableInfo", "TableSetTableType"}) QVERIFY2(!f.Enabled(name), name);
  TTempDir dir;
  f.Open(WriteTen(dir));
  for (const char* name : {"TableInfo", "ToolTableInfo", "TableSetTableType"}) QVERIFY2(f.Enabled(name), name);
  QCOMPARE(f.Command("TableInfo")->shortcut(), QKeySequence(Qt::Key_F7));
}

QTEST_MAIN(TTableInfoTest)
#include "table_info_test.moc"
