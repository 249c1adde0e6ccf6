// The memo window: which field it edits, its Save and Close buttons, how it
// follows the tabs, and that an edit made in it leaves the memo file's line
// breaks as the table had them.
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "app/db_controls.h"
#include "app/db_grid.h"
#include "app/dialogs/memo_editor.h"
#include "app/drop_down_combo.h"
#include "app/viewer_table.h"
#include "tests/gui/gui_support.h"

using namespace norvale;
using namespace norvale::test;

namespace {

constexpr int kDbtBlock = 512;
constexpr int kFptBlock = 64;

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return b.at(at) | (b.at(at + 1) << 8) | (b.at(at + 2) << 16) | (uint32_t(b.at(at + 3)) << 24);
}
uint32_t Be32(const std::vector<uint8_t>& b, size_t at) {
  return (uint32_t(b.at(at)) << 24) | (b.at(at + 1) << 16) | (b.at(at + 2) << 8) | b.at(at + 3);
}
void PutLe32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutBe32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * (3 - i)));
}

std::string BlockNumber(uint32_t block) {
  std::string n = std::to_string(block);
  return std::string(10 - n.size(), ' ') + n;
}

// notes.dbf: NAME C(8), NOTES M, one record whose memo is `text`, with the
// memo file of table version `version` (0x83 and 0x8B: .dbt, 0xF5: .fpt)
// laid out by hand.
std::string WriteNotes(const TTempDir& dir, uint8_t version, const std::string& text) {
  std::vector<uint8_t> memo;
  uint32_t first = 1;
  if (version == 0xF5) {
    first = 512 / kFptBlock;
    memo.assign(512, 0);
    memo[7] = kFptBlock;
    std::vector<uint8_t> block(8, 0);
    PutBe32(block, 0, 1);  // text
    PutBe32(block, 4, static_cast<uint32_t>(text.size()));
    block.insert(block.end(), text.begin(), text.end());
    block.resize((block.size() + kFptBlock - 1) / kFptBlock * kFptBlock, 0);
    memo.insert(memo.end(), block.begin(), block.end());
    PutBe32(memo, 0, static_cast<uint32_t>(memo.size() / kFptBlock));
  } else {
    memo.assign(kDbtBlock, 0);
    std::vector<uint8_t> block;
    if (version == 0x8B) {
      block = {0xFF, 0xFF, 0x08, 0x00, 0, 0, 0, 0};
      PutLe32(block, 4, static_cast<uint32_t>(text.size() + 8));
      block.insert(block.end(), text.begin(), text.end());
      memo[21] = kDbtBlock >> 8;
    } else {
      block.assign(text.begin(), text.end());
      block.push_back(0x1A);
      block.push_back(0x1A);
    }
    block.resize((block.size() + kDbtBlock - 1) / kDbtBlock * kDbtBlock, 0);
    memo.insert(memo.end(), block.begin(), block.end());
    PutLe32(memo, 0, static_cast<uint32_t>(memo.size() / kDbtBlock));
  }
  TTableImage t;
  t.versionByte = version;
  // dBASE III knew no language drivers; a table naming one is read as dBASE IV.
  t.languageId = version == 0x83 ? 0 : 0x03;
  t.fields = {{"NAME", 'C', 8}, {"NOTES", 'M', 10}};
  t.records.push_back(t.Record({"first", BlockNumber(first)}));
  WriteFile(dir.File("notes.dbf"), t.Bytes());
  WriteFile(dir.File(version == 0xF5 ? "notes.fpt" : "notes.dbt"), memo);
  return dir.File("notes.dbf");
}

// The stored bytes of the first record's memo, found through its block
// number and read in the memo file's own layout.
std::string StoredMemo(const TTempDir& dir, uint8_t version) {
  const std::vector<uint8_t> table = ReadFile(dir.File("notes.dbf"));
  const size_t header = table[8] | (table[9] << 8);
  const std::string number(table.begin() + static_cast<long>(header + 1 + 8),
                           table.begin() + static_cast<long>(header + 1 + 8 + 10));
  const size_t block = std::stoul(number);
  const std::vector<uint8_t> memo = ReadFile(dir.File(version == 0xF5 ? "notes.fpt" : "notes.dbt"));
  if (version == 0xF5) {
    const size_t at = block * kFptBlock;
    if (Be32(memo, at) != 1) return "(not a text block)";
    return std::string(memo.begin() + static_cast<long>(at + 8),
                       memo.begin() + static_cast<long>(at + 8 + Be32(memo, at + 4)));
  }
  const size_t at = block * kDbtBlock;
  if (version == 0x8B) {
    if (Le32(memo, at) != 0x0008FFFFu) return "(not a memo block)";
    return std::string(memo.begin() + static_cast<long>(at + 8),
                       memo.begin() + static_cast<long>(at + Le32(memo, at + 4)));
  }
  std::string text;
  for (size_t i = at; i < memo.size() && memo[i] != 0x1A; ++i) text += static_cast<char>(memo[i]);
  return text;
}

// A dBASE IV table of NAME C(8), PIC B (binary), NOTES M; or without the
// memo when `withMemo` is false.
std::string WriteBinaryTable(const TTempDir& dir, bool withMemo) {
  TTableImage t;
  t.versionByte = 0x8B;
  t.fields = {{"NAME", 'C', 8}, {"PIC", 'B', 10}};
  if (withMemo) t.fields.push_back({"NOTES", 'M', 10});
  t.records.push_back(withMemo ? t.Record({"first", "", ""}) : t.Record({"first", ""}));
  WriteFile(dir.File("pics.dbf"), t.Bytes());
  std::vector<uint8_t> memo(512, 0);
  memo[0] = 1;
  memo[21] = 2;
  WriteFile(dir.File("pics.dbt"), memo);
  return dir.File("pics.dbf");
}

void OpenMemoWindowOnColumn(TFixture& f, int column) {
  f.form->DBGrid1()->SetSelectedColumn(column);
  f.Command("EditMemo")->trigger();
}

}  // namespace

class TMemoWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void ItEditsMemoFieldsOnly();
  void WithoutAMemoFieldItDoesNotOpen();
  void ABinaryFieldIsShownButNotEdited();
  void SaveAndCloseButtons();
  void ItFollowsTheTabsOrCloses();
  void AnEditKeepsTheLineBreaks_data();
  void AnEditKeepsTheLineBreaks();
};

void TMemoWindowTest::ItEditsMemoFieldsOnly() {
  TTempDir dir;
  TFixture f;
  f.Open(WriteMemoTable(dir));
  TMemoEditor* editor = f.form->MemoEditor();
  // Neither the character field nor the number takes the window: the memo does.
  for (int column : {0, 2, 1}) {
    OpenMemoWindowOnColumn(f, column);
    QVERIFY(editor->isVisible());
    QCOMPARE(editor->DBMemo1()->DataField(), std::string("NOTES"));
    QVERIFY(!editor->DBMemo1()->isReadOnly());
    QCOMPARE(editor->FieldLabel()->text(), QStringLiteral("NOTES"));
  }
  QVERIFY(f.ui->log.isEmpty());
}

void TMemoWindowTest::WithoutAMemoFieldItDoesNotOpen() {
  TTempDir dir;
  TFixture f;
  f.Open(WritePeople(dir));
  QVERIFY(!f.Enabled("EditMemo"));
  // Run anyway (it has no entry that is on), it says why and stays away.
  f.form->ViewEditMemo();
  QCOMPARE(f.ui->log, QStringList{QStringLiteral("message: This table has no memo field.")});
  QVERIFY(f.form->MemoEditor()->isHidden());
  QVERIFY(f.form->MemoEditor()->DBMemo1()->DataField().empty());
}

void TMemoWindowTest::ABinaryFieldIsShownButNotEdited() {
  TTempDir dir;
  TFixture f;
  f.Open(WriteBinaryTable(dir, true));
  TMemoEditor* editor = f.form->MemoEditor();
  OpenMemoWindowOnColumn(f, 1);
  QCOMPARE(editor->DBMemo1()->DataField(), std::string("PIC"));
  QVERIFY(editor->DBMemo1()->isReadOnly());
  QCOMPARE(editor->FieldLabel()->text(), QStringLiteral("PIC  (read-only)"));
  editor->DBMemo1()->setPlainText(QStringLiteral("typed"));
  QCOMPARE(f.form->Dbf1()->State(), dsBrowse);
  // From a character column, the memo is preferred to the binary.
  OpenMemoWindowOnColumn(f, 0);
  QCOMPARE(editor->DBMemo1()->DataField(), std::string("NOTES"));
  QVERIFY(!editor->DBMemo1()->isReadOnly());

  // A table with nothing but a binary still shows it.
  f.form->MemoEditor()->close();
  TTempDir other;
  f.Open(WriteBinaryTable(other, false));
  OpenMemoWindowOnColumn(f, 0);
  QCOMPARE(editor->DBMemo1()->DataField(), std::string("PIC"));
  QVERIFY(editor->DBMemo1()->isReadOnly());
  QVERIFY(f.ui->log.isEmpty());
}

void TMemoWindowTest::SaveAndCloseButtons() {
  TTempDir dir;
  const std::string path = WriteMemoTable(dir);
  TFixture f;
  f.Open(path);
  OpenMemoWindowOnColumn(f, 1);
  TMemoEditor* editor = f.form->MemoEditor();
  QVERIFY(!editor->SaveButton()->isEnabled());
  editor->DBMemo1()->setPlainText(QStringLiteral("saved by the button"));
  QCOMPARE(f.form->Dbf1()->State(), dsEdit);
  QVERIFY(editor->SaveButton()->isEnabled());
  QTest::mouseClick(editor->SaveButton(), Qt::LeftButton);
  QCOMPARE(f.form->Dbf1()->State(), dsBrowse);
  QVERIFY(!editor->SaveButton()->isEnabled());
  QCOMPARE(StoredValue(path, 1, "NOTES"), std::string("saved by the button"));

  // Text typed just before Close is kept in the record's edit, and saved with it.
  editor->DBMemo1()->setPlainText(QStringLiteral("typed, then closed"));
  QTest::mouseClick(editor->CloseButton(), Qt::LeftButton);
  QVERIFY(editor->isHidden());
  QCOMPARE(f.form->Dbf1()->State(), dsEdit);
  f.Command("EditSave")->trigger();
  QCOMPARE(StoredValue(path, 1, "NOTES"), std::string("typed, then closed"));

  // So is text typed just before another tab is chosen: leaving the table
  // saves its edit, memo included.
  OpenMemoWindowOnColumn(f, 1);
  editor->DBMemo1()->setPlainText(QStringLiteral("typed, then away"));
  f.Open(WritePeople(dir));
  QCOMPARE(StoredValue(path, 1, "NOTES"), std::string("typed, then away"));
  // The panel's memo box likewise.
  f.form->TabControl1()->setCurrentIndex(0);
  emit f.form->MemoFieldCombo()->textActivated(QStringLiteral("NOTES"));
  f.form->PanelMemo()->setPlainText(QStringLiteral("from the panel"));
  f.form->TabControl1()->setCurrentIndex(1);
  QCOMPARE(StoredValue(path, 1, "NOTES"), std::string("from the panel"));
  QVERIFY(f.ui->log.isEmpty());
}

void TMemoWindowTest::ItFollowsTheTabsOrCloses() {
  TTempDir dir;
  const std::string memo = WriteMemoTable(dir);
  const std::string people = WritePeople(dir);
  TTempDir pics;
  const std::string binary = WriteBinaryTable(pics, true);
  TFixture f;
  TMemoEditor* editor = f.form->MemoEditor();
  f.Open(memo);
  OpenMemoWindowOnColumn(f, 1);
  // A tab whose table has a memo: the window moves over to it.
  f.Open(binary);
  QVERIFY(editor->isVisible());
  QCOMPARE(editor->DBMemo1()->DataField(), std::string("NOTES"));
  QVERIFY(!editor->DBMemo1()->isReadOnly());
  // One without: the window goes rather than stand empty over the grid,
  // and does not come back by itself.
  f.Open(people);
  QVERIFY(editor->isHidden());
  f.form->TabControl1()->setCurrentIndex(0);
  QVERIFY(editor->isHidden());

  // Closing the last table closes it too.
  OpenMemoWindowOnColumn(f, 1);
  QVERIFY(editor->isVisible());
  while (f.Tabs() > 0) f.Command("FileClose")->trigger();
  QVERIFY(editor->isHidden());
  QVERIFY(editor->DBMemo1()->DataField().empty());
  QVERIFY(f.ui->log.isEmpty());
}

void TMemoWindowTest::AnEditKeepsTheLineBreaks_data() {
  QTest::addColumn<int>("version");
  QTest::newRow("dBASE III .dbt") << 0x83;
  QTest::newRow("dBASE IV .dbt") << 0x8B;
  QTest::newRow("FoxPro .fpt") << 0xF5;
}

void TMemoWindowTest::AnEditKeepsTheLineBreaks() {
  QFETCH(int, version);
  const auto v = static_cast<uint8_t>(version);
  const std::string text = "The quick brown fox\r\njumps over\r\n\r\nthe lazy dog.\r\n";
  std::string expected = text;
  expected.replace(expected.find("brown"), 5, "red");
  TTempDir dir;
  const std::string path = WriteNotes(dir, v, text);
  QCOMPARE(QByteArray::fromStdString(StoredMemo(dir, v)), QByteArray::fromStdString(text));

  TFixture f;
  f.Open(path);
  OpenMemoWindowOnColumn(f, 1);
  TDBMemo* memo = f.form->MemoEditor()->DBMemo1();
  // Lines, as the person sees them: no stray carriage returns.
  QCOMPARE(memo->blockCount(), 5);
  QVERIFY(!memo->toPlainText().contains(QLatin1Char('\r')));
  QString edited = memo->toPlainText();
  edited.replace(QStringLiteral("brown"), QStringLiteral("red"));
  memo->setPlainText(edited);
  QTest::mouseClick(f.form->MemoEditor()->SaveButton(), Qt::LeftButton);
  QCOMPARE(f.form->Dbf1()->State(), dsBrowse);
  QVERIFY(f.ui->log.isEmpty());
  QCOMPARE(QByteArray::fromStdString(StoredMemo(dir, v)), QByteArray::fromStdString(expected));
}

QTEST_MAIN(TMemoWindowTest)
#include "memo_window_test.moc"
