// The table object over hand-built tables: open and close, the record
// window, deleted records, the editing cycle and its write-back, text
// translation, memo streams.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "dataset/dataset_messages.h"
#include "dataset/dbf_table.h"
#include "engine/messages.h"
#include "engine/stream.h"
#include "engine/table_file.h"
#include "tests/dataset/dataset_tables.h"
#include "tests/support/test_support.h"

namespace norvale::test {
namespace {

TTableImage PeopleImage() {
  TTableImage t;
  t.fields = {{"NAME", 'C', 10}, {"AGE", 'N', 3}, {"BORN", 'D', 8}, {"OK", 'L', 1}};
  return t;
}

// Ten people P1..P10; the ones listed in `deleted` carry the deletion mark.
std::string WritePeople(const TTempDir& dir, std::vector<int> deleted = {}, int count = 10) {
  TTableImage t = PeopleImage();
  for (int i = 1; i <= count; ++i) {
    const bool del = std::find(deleted.begin(), deleted.end(), i) != deleted.end();
    t.records.push_back(t.Record({"P" + std::to_string(i), std::to_string(20 + i), "19900101", "T"}, del));
  }
  const std::string path = dir.File("people.dbf");
  WriteFile(path, t.Bytes());
  return path;
}

std::vector<std::string> Names(TDbfTable& table) {
  std::vector<std::string> out;
  for (table.First(); !table.Eof(); table.Next()) out.push_back(table.FieldByName("NAME").AsString());
  return out;
}

TEST(DbfTable, EmptyTableOpensInBrowseState) {
  TTempDir dir;
  TTableImage t = PeopleImage();
  WriteFile(dir.File("empty.dbf"), t.Bytes());
  TDbfTable table;
  table.SetTableName(dir.File("empty.dbf"));
  table.Open();
  EXPECT_EQ(table.State(), dsBrowse);
  EXPECT_EQ(table.RecNo(), 0);
  EXPECT_EQ(table.RecordCount(), 0);
  EXPECT_TRUE(table.IsDeleted());
  EXPECT_TRUE(table.IsEmpty());
  EXPECT_TRUE(table.Bof() && table.Eof());
  EXPECT_TRUE(table.FieldByName("NAME").IsNull());
  EXPECT_EQ(table.FieldByName("NAME").AsString(), "");
  EXPECT_EQ(Message([&] { table.Delete(); }), msg::kDataSetEmpty);
  // Undelete with nothing to recall: Edit on an empty view becomes an insert.
  table.Undelete();
  EXPECT_EQ(table.State(), dsInsert);
  EXPECT_EQ(table.RecNo(), 0);
  table.Cancel();
  EXPECT_EQ(table.State(), dsBrowse);
  EXPECT_EQ(table.Version(), "6.09");
}

TEST(DbfTable, DeletedRecordsHiddenUnlessShown) {
  TTempDir dir;
  const std::string path = WritePeople(dir, {1, 2, 3}, 3);
  TDbfTable table;
  table.SetTableName(path);
  table.Open();
  // Every record deleted: nothing visible, yet the file's count stands.
  EXPECT_TRUE(table.IsEmpty());
  EXPECT_EQ(table.RecordCount(), 3);
  table.SetShowDeleted(true);
  EXPECT_EQ(Names(table), (std::vector<std::string>{"P1", "P2", "P3"}));
  EXPECT_TRUE(table.IsDeleted());
  table.SetShowDeleted(false);
  EXPECT_TRUE(table.IsEmpty());
  EXPECT_TRUE(Names(table).empty());
  // Recalling one and deleting it again empties the view once more.
  table.SetShowDeleted(true);
  table.SetRecNo(2);
  table.Undelete();
  table.Post();
  table.SetShowDeleted(false);
  EXPECT_EQ(Names(table), (std::vector<std::string>{"P2"}));
  table.Delete();
  EXPECT_TRUE(table.IsEmpty());
  EXPECT_EQ(table.RecNo(), 0);
  EXPECT_EQ(table.RecordCount(), 3);
}

TEST(DbfTable, WalksBothWaysSkippingDeleted) {
  TTempDir dir;
  const std::string path = WritePeople(dir, {1, 4, 10});
  TDbfTable table;
  table.SetTableName(path);
  table.Open();
  EXPECT_EQ(Names(table), (std::vector<std::string>{"P2", "P3", "P5", "P6", "P7", "P8", "P9"}));
  std::vector<int> back;
  for (table.Last(); !table.Bof(); table.Prior()) back.push_back(table.RecNo());
  EXPECT_EQ(back, (std::vector<int>{9, 8, 7, 6, 5, 3, 2}));
  EXPECT_EQ(table.RecordCount(), 10);
  table.First();
  EXPECT_EQ(table.RecNo(), 2);
  EXPECT_EQ(table.MoveBy(3), 3);
  EXPECT_EQ(table.RecNo(), 6);
  EXPECT_EQ(table.MoveBy(100), 3);
  EXPECT_TRUE(table.Eof());
  table.SetRecNo(7);
  EXPECT_EQ(table.FieldByName("NAME").AsString(), "P7");
  EXPECT_EQ(table.FieldByName("AGE").AsInteger(), 27);
  EXPECT_EQ(table.FieldByName("BORN").AsString(), "1990-01-01");
  EXPECT_TRUE(table.FieldByName("OK").AsBoolean());
}

TEST(DbfTable, StoredNumbersAndDatesReadAsCanonicalText) {
  TTempDir dir;
  TTableImage t;
  t.fields = {{"AMOUNT", 'N', 8, 2}, {"WHEN", 'D', 8}, {"BIG", 'N', 20, 0}, {"ID", 'N', 6, 0}, {"S", 'C', 6}};
  const std::vector<std::vector<std::string>> rows = {
      {"   12.50", "20240229", "  -9007199254740993", "    42", "ab  \0x"},
      {"  012.50", "20240230", "                   0", "   -0 ", std::string("a\0b   ", 6)},
      {"   -0.00", "2024022x", " ", "  0042", "      "},
      {"    12.5", "        ", "12345678901234567890", "+7", " lead"},
      {"  -3.75 ", "00000000", "-1", "-12345", "x"},
      {"   1e+02", "19991231", "abc", "1 2", "\xE9t\xE9"}};
  for (const auto& r : rows) t.records.push_back(t.Record(r));
  WriteFile(dir.File("n.dbf"), t.Bytes());
  TDbfTable table;
  table.SetTableName(dir.File("n.dbf"));
  table.Open();
  std::vector<std::string> seen;
  std::string text;
  for (; !table.Eof(); table.Next())
    for (int i = 0; i < table.FieldCount(); ++i) {
      table.Fields(i).GetText(text);
      seen.push_back(text);
      EXPECT_EQ(text, table.Fields(i).AsString());
      // The codec's own reading, the long way round.
      if (table.Fields(i).DataType() == ftInteger && !table.Fields(i).IsNull())
        EXPECT_EQ(text, std::to_string(table.Fields(i).AsInteger()));
      if (table.Fields(i).DataType() == ftString && table.RecNo() < 6) {
        char decoded[16] = {};
        table.DbfFile()->DecodeField(table.NativeFieldDefs()->Item(i), ftString, false, decoded,
                                     table.ActiveBuffer() + TDbfTable::kHeaderSize);
        EXPECT_EQ(text, std::string(decoded, strnlen(decoded, sizeof decoded)));
      }
    }
  // Whether taken from the stored text or computed, the same canonical
  // form: the field's decimals, no leading zeros, no negative zero; an
  // impossible date, one of zeros or one with letters is no date.
  EXPECT_EQ(seen, (std::vector<std::string>{"12.50", "2024-02-29", "-9007199254740993", "42", "ab",    //
                                            "12.50", "", "0", "0", "a",                                 //
                                            "0.00", "", "", "42", "",                                   //
                                            "12.50", "", "0", "7", " lead",                             //
                                            "-3.75", "", "-1", "-12345", "x",                           //
                                            "100.00", "1999-12-31", "0", "0", "été"}));
}

TEST(DbfTable, BookmarksCompareByRecordNumber) {
  TTempDir dir;
  TDbfTable table;
  table.SetTableName(WritePeople(dir));
  table.Open();
  const TBookmark five = TDbfTable::MakeBookmark(5), nine = TDbfTable::MakeBookmark(9);
  EXPECT_EQ(table.CompareBookmarks(five, nine), -1);
  EXPECT_EQ(table.CompareBookmarks(nine, five), 1);
  EXPECT_EQ(table.CompareBookmarks(five, five), 0);
  EXPECT_EQ(table.CompareBookmarks({}, five), 1);
  EXPECT_EQ(table.CompareBookmarks(five, {}), -1);
  EXPECT_EQ(table.CompareBookmarks({}, {}), 0);

  table.SetRecNo(8);
  const TBookmark mark = table.GetBookmark();
  table.First();
  table.GotoBookmark(mark);
  EXPECT_EQ(table.FieldByName("NAME").AsString(), "P8");
  EXPECT_TRUE(table.BookmarkValid(mark));
  EXPECT_FALSE(table.BookmarkValid(TDbfTable::MakeBookmark(11)));
}

TEST(DbfTable, RepeatedFieldNamesAreNumbered) {
  TTempDir dir;
  TTableImage t;
  t.fields = {{"NAME", 'C', 4}, {"NAME", 'C', 4}, {"X", 'N', 2}, {"NAME", 'C', 4}};
  t.records.push_back(t.Record({"a", "b", "1", "c"}));
  WriteFile(dir.File("dup.dbf"), t.Bytes());
  TDbfTable table;
  table.SetTableName(dir.File("dup.dbf"));
  table.UpdateFieldDefs();  // readable while closed
  ASSERT_EQ(table.FieldDefs().Count(), 4);
  EXPECT_EQ(table.FieldDefs().Item(3).name, "NAME3");
  table.Open();
  EXPECT_EQ(table.FieldByName("NAME").AsString(), "a");
  EXPECT_EQ(table.FieldByName("NAME2").AsString(), "b");
  EXPECT_EQ(table.FieldByName("NAME3").AsString(), "c");
  EXPECT_EQ(Message([&] { table.FieldByName("NAME4"); }), "Field 'NAME4' not found");
}

TEST(DbfTable, PropertiesThatNeedAClosedTable) {
  TTempDir dir;
  TDbfTable table;
  table.SetTableLevel(5);
  EXPECT_EQ(table.TableLevel(), 4);
  table.SetTableLevel(25);
  EXPECT_EQ(table.TableLevel(), 25);
  table.SetTableName(WritePeople(dir));
  table.Open();
  EXPECT_EQ(table.TableLevel(), 4);  // from the file
  table.SetTableLevel(5);
  EXPECT_EQ(table.TableLevel(), 4);
  EXPECT_EQ(Message([&] { table.SetTableLevel(7); }), msg::kDataSetOpen);
  EXPECT_EQ(Message([&] { table.SetFilePath("/tmp"); }), msg::kDataSetOpen);
  table.Close();
  EXPECT_EQ(Message([&] { table.Next(); }), msg::kDataSetClosed);
}

TEST(DbfTable, PathsResolveAgainstTheCurrentDirectory) {
  TTempDir dir;
  WritePeople(dir);
  const auto saved = std::filesystem::current_path();
  std::filesystem::current_path(dir.Path());
  TDbfTable table;
  table.SetTableName("people.dbf");
  EXPECT_EQ(table.PhysicalTableName(), dir.Path() + "/people.dbf");
  table.SetFilePath(".");
  std::filesystem::current_path("/");
  // Resolved when set: a later change of directory does not move the table.
  EXPECT_EQ(table.FilePath(), "./");
  EXPECT_EQ(table.FilePathFull(), dir.Path() + "/");
  table.Open();
  EXPECT_EQ(table.FieldByName("NAME").AsString(), "P1");
  table.Close();
  table.SetTableName("/nowhere/x.dbf");
  EXPECT_EQ(table.FilePath(), "/nowhere/");
  EXPECT_EQ(table.TableName(), "x.dbf");
  EXPECT_EQ(Message([&] { table.Open(); }), "Open: file not found: \"/nowhere/x.dbf\".");
  EXPECT_FALSE(table.Active());
  std::filesystem::current_path(saved);
}

TEST(DbfTable, ExclusiveAndReadOnlyOpensReadOnly) {
  TTempDir dir;
  const std::string path = WritePeople(dir);
  TDbfTable table;
  table.SetTableName(path);
  table.SetExclusive(true);
  table.SetReadOnly(true);
  table.Open();
  EXPECT_EQ(table.DbfFile()->Mode(), amReadOnly);
  EXPECT_FALSE(table.CanModify());
  EXPECT_EQ(Message([&] { table.Edit(); }), msg::kDataSetReadOnly);
  EXPECT_EQ(Message([&] { table.Delete(); }), msg::kDataSetReadOnly);
  EXPECT_EQ(Message([&] { table.Append(); }), msg::kDataSetReadOnly);
  // An exclusive open beside it is still possible: read-only takes no share.
  TDbfTable other;
  other.SetTableName(path);
  other.SetExclusive(true);
  other.Open();
  EXPECT_EQ(other.DbfFile()->Mode(), amExclusiveOpen);
}

TEST(DbfTable, EditInsertAppendDeleteWriteThrough) {
  TTempDir dir;
  const std::string path = WritePeople(dir, {}, 3);
  {
    TDbfTable table;
    table.SetTableName(path);
    table.Open();
    table.SetRecNo(2);
    table.Edit();
    EXPECT_EQ(table.EditRecNo(), 2);
    table.FieldByName("NAME").SetAsString("Müller");
    table.FieldByName("AGE").SetAsInteger(77);
    table.FieldByName("BORN").SetAsString("2001-02-03");
    table.FieldByName("OK").SetAsBoolean(false);
    EXPECT_TRUE(table.Modified());
    table.Post();
    EXPECT_EQ(table.State(), dsBrowse);
    EXPECT_EQ(table.EditRecNo(), -1);
    EXPECT_EQ(table.RecNo(), 2);

    table.Append();
    EXPECT_EQ(table.RecNo(), 0);
    table.FieldByName("NAME").SetAsString("Appended");
    table.Post();
    EXPECT_EQ(table.RecNo(), 4);
    EXPECT_EQ(table.FieldByName("NAME").AsString(), "Appended");

    table.SetRecNo(1);
    table.Insert();
    table.FieldByName("NAME").SetAsString("Inserted");
    table.FieldByName("AGE").SetAsString("5");
    table.Post();
    EXPECT_EQ(table.RecNo(), 5);  // a table without index appends

    table.SetRecNo(3);
    table.Delete();
    EXPECT_EQ(table.RecordCount(), 5);
    EXPECT_NE(table.RecNo(), 3);
    EXPECT_EQ(Names(table), (std::vector<std::string>{"P1", "Müller", "Appended", "Inserted"}));
  }
  TDbfTable table;
  table.SetTableName(path);
  table.SetShowDeleted(true);
  table.Open();
  EXPECT_EQ(Names(table), (std::vector<std::string>{"P1", "Müller", "P3", "Appended", "Inserted"}));
  table.SetRecNo(2);
  EXPECT_EQ(table.FieldByName("AGE").AsInteger(), 77);
  EXPECT_EQ(table.FieldByName("BORN").AsString(), "2001-02-03");
  EXPECT_FALSE(table.FieldByName("OK").AsBoolean());
  table.SetRecNo(3);
  EXPECT_TRUE(table.IsDeleted());
  table.SetRecNo(5);
  EXPECT_EQ(table.FieldByName("AGE").AsInteger(), 5);
  EXPECT_TRUE(table.FieldByName("BORN").IsNull());
  // The bytes: cp1252 "ü", blank date.
  const std::vector<uint8_t> bytes = ReadFile(path);
  const int header = table.DbfFile()->HeaderLength(), length = table.DbfFile()->RecordLength();
  const std::string second(bytes.begin() + header + length, bytes.begin() + header + 2 * length);
  EXPECT_EQ(second, std::string(" M\xFCller     77") + "20010203F");
  EXPECT_EQ(bytes[static_cast<size_t>(header + 2 * length)], '*');
}

TEST(DbfTable, UndeleteRecallsOnlyDeletedRecords) {
  TTempDir dir;
  const std::string path = WritePeople(dir, {2}, 3);
  TDbfTable table;
  table.SetTableName(path);
  table.SetShowDeleted(true);
  table.Open();
  table.SetRecNo(1);
  table.Undelete();  // live: nothing changes, the edit stays open
  EXPECT_EQ(table.State(), dsEdit);
  EXPECT_FALSE(table.IsDeleted());
  table.Cancel();
  EXPECT_EQ(table.EditRecNo(), -1);
  table.SetRecNo(2);
  ASSERT_TRUE(table.IsDeleted());
  table.Undelete();
  EXPECT_EQ(table.State(), dsEdit);
  EXPECT_FALSE(table.IsDeleted());
  // Written at once, before any post.
  const std::vector<uint8_t> bytes = ReadFile(path);
  EXPECT_EQ(bytes[static_cast<size_t>(table.DbfFile()->HeaderLength() + table.DbfFile()->RecordLength())], ' ');
  table.Cancel();
  EXPECT_FALSE(table.IsDeleted());
}

TEST(DbfTable, BrowseCheckPostsModifiedEditsAndCancelsOthers) {
  TTempDir dir;
  const std::string path = WritePeople(dir, {}, 3);
  TDbfTable table;
  table.SetTableName(path);
  table.Open();
  table.Edit();
  table.Next();  // unmodified: cancelled, lock released
  EXPECT_EQ(table.State(), dsBrowse);
  EXPECT_EQ(table.EditRecNo(), -1);
  EXPECT_EQ(table.RecNo(), 2);
  table.Edit();
  table.FieldByName("NAME").SetAsString("Moved");
  table.Next();
  EXPECT_EQ(table.RecNo(), 3);
  table.Prior();
  EXPECT_EQ(table.FieldByName("NAME").AsString(), "Moved");
  // Writing outside edit or insert state is refused.
  EXPECT_EQ(Message([&] { table.FieldByName("NAME").SetAsString("x"); }), msg::kNotEditing);
  table.Edit();
  table.FieldByName("NAME").SetAsString("Dropped");
  table.Cancel();
  EXPECT_EQ(table.FieldByName("NAME").AsString(), "Moved");
}

// What a grid does for rows its window does not hold, in the middle of an
// edit: read another record's image through the fields.
class TPeekTable : public TDbfTable {
 public:
  std::string NameOf(int64_t recNo) {
    if (!peek_) peek_ = AllocRecordBuffer();
    DbfFile()->ReadPage(recNo, peek_.get() + kHeaderSize);
    std::string name;
    WithFieldsOn(peek_.get(), [&] { name = FieldByName("NAME").AsString(); });
    return name;
  }

 private:
  std::unique_ptr<uint8_t[]> peek_;
};

TEST(DbfTable, FieldsReadAnotherRecordWithoutDisturbingAnEdit) {
  TTempDir dir;
  TPeekTable table;
  table.SetTableName(WritePeople(dir, {}, 3));
  table.Open();
  table.Edit();
  table.FieldByName("NAME").SetAsString("Changed");
  EXPECT_EQ(table.NameOf(3), "P3");
  EXPECT_EQ(table.State(), dsEdit);
  EXPECT_TRUE(table.Modified());
  EXPECT_EQ(table.FieldByName("NAME").AsString(), "Changed");
  EXPECT_EQ(Message([&] { table.WithFieldsOn(nullptr, [&] { table.FieldByName("NAME").SetAsString("x"); }); }),
            msg::kNotEditing);
  EXPECT_EQ(table.State(), dsEdit);
  table.Post();
  EXPECT_EQ(table.NameOf(1), "Changed");
}

TEST(DbfTable, TextIsTranslatedAndCutAtCharacterBoundaries) {
  TTempDir dir;
  TTableImage t;
  t.languageId = 0x65;  // cp866
  t.fields = {{"NAME", 'C', 6}, {"NEXT", 'C', 2}};
  t.records.push_back(t.Record({"\x8F\xE0\xA8\xA2\xA5\xE2", "ok"}));  // "Привет"
  WriteFile(dir.File("ru.dbf"), t.Bytes());
  TDbfTable table;
  table.SetTableName(dir.File("ru.dbf"));
  table.Open();
  EXPECT_EQ(table.CodePage(), 866);
  EXPECT_EQ(table.TranslationMode(), 3);
  EXPECT_EQ(table.FieldByName("NAME").AsString(), "Привет");
  table.Edit();
  // Too long, and with a character cp866 has no place for.
  table.FieldByName("NAME").SetAsString("Мир€ и дружба");
  EXPECT_EQ(table.FieldByName("NAME").AsString(), "Мир? и");
  EXPECT_EQ(table.FieldByName("NEXT").AsString(), "ok");
  table.Post();

  TTableImage g;
  g.languageId = 0x7A;  // cp936
  g.fields = {{"NAME", 'C', 5}, {"NEXT", 'C', 2}};
  g.records.push_back(g.Record({"", "ok"}));
  WriteFile(dir.File("zh.dbf"), g.Bytes());
  TDbfTable zh;
  zh.SetTableName(dir.File("zh.dbf"));
  zh.Open();
  zh.Edit();
  zh.FieldByName("NAME").SetAsString("中文字");  // six bytes in GBK: the third character goes
  EXPECT_EQ(zh.FieldByName("NAME").AsString(), "中文");
  EXPECT_EQ(zh.FieldByName("NEXT").AsString(), "ok");
  zh.Post();
}

TEST(DbfTable, UnknownCodePageAsksTheLanguageWarning) {
  TTempDir dir;
  TTableImage t = PeopleImage();
  t.languageId = 0x69;  // Mazovia: no converter
  t.records.push_back(t.Record({"A", "1", "", "T"}));
  WriteFile(dir.File("maz.dbf"), t.Bytes());
  for (TDbfLanguageAction action : {laReadOnly, laForceOEM, laForceANSI, laDefault}) {
    TDbfTable table;
    table.SetTableName(dir.File("maz.dbf"));
    int asked = 0;
    table.OnLanguageWarning = [&](TDbfTable&, TDbfLanguageAction& a) {
      ++asked;
      EXPECT_EQ(a, laReadOnly);
      a = action;
    };
    table.Open();
    EXPECT_EQ(asked, 1);
    const int expectedMode[] = {0, 2, 1, 1};
    EXPECT_EQ(table.TranslationMode(), expectedMode[action]) << action;
    EXPECT_EQ(table.CanModify(), action != laReadOnly);
    EXPECT_EQ(table.FieldByName("NAME").AsString(), "A");
  }
}

TEST(DbfTable, MemoryTablesReadAndWrite) {
  TTableImage t = PeopleImage();
  t.records.push_back(t.Record({"Mem", "1", "20200202", "T"}));
  const std::vector<uint8_t> bytes = t.Bytes();
  TMemoryStream stream;
  stream.WriteAt(0, bytes.data(), bytes.size());
  TDbfTable table;
  table.SetStorage(stoMemory);
  table.SetUserStream(&stream);
  table.Open();
  EXPECT_EQ(table.FieldByName("NAME").AsString(), "Mem");
  table.Append();
  table.FieldByName("NAME").SetAsString("Second");
  table.Post();
  EXPECT_EQ(table.RecordCount(), 2);
  table.Close();
  EXPECT_GT(stream.Size(), static_cast<int64_t>(bytes.size()));
  TDbfTable again;
  again.SetStorage(stoMemory);
  again.SetUserStream(&stream);
  again.Open();
  EXPECT_EQ(Names(again), (std::vector<std::string>{"Mem", "Second"}));
}

TEST(DbfTable, AutoCreateDeclinedOpensNothing) {
  TTempDir dir;
  TDbfTable table;
  table.SetTableName(dir.File("missing.dbf"));
  table.SetOpenMode(omAutoCreate);
  bool asked = false;
  table.BeforeAutoCreate = [&](TDbfTable&, bool& doCreate) {
    asked = true;
    doCreate = false;
  };
  table.Open();
  EXPECT_TRUE(asked);
  EXPECT_FALSE(table.Active());
  EXPECT_EQ(table.State(), dsInactive);
}

TEST(DbfTable, GivenUpHeaderEndsWithOperationAborted) {
  TTempDir dir;
  std::vector<uint8_t> bytes = PeopleImage().Bytes();
  bytes[8] = bytes[9] = 0;  // header length 0
  WriteFile(dir.File("zero.dbf"), bytes);
  TDbfTable table;
  table.SetTableName(dir.File("zero.dbf"));
  EXPECT_EQ(Message([&] { table.Open(); }), "Operation aborted");
  EXPECT_FALSE(table.Active());
}

class TCountingLink : public TDataLink {
 public:
  int changed = 0, scrolled = 0, records = 0, active = 0;
  void DataSetChanged() override { ++changed; }
  void DataSetScrolled(int) override { ++scrolled; }
  void RecordChanged(TField*) override { ++records; }
  void ActiveChanged() override { ++active; }
};

TEST(DbfTable, ViewsFollowThroughDataLinks) {
  TTempDir dir;
  TDbfTable table;
  table.SetTableName(WritePeople(dir, {3}));
  TDataSource source(&table);
  TCountingLink link;
  link.SetBufferCount(4);
  link.SetDataSource(&source);
  table.Open();
  EXPECT_GT(link.active, 0);
  EXPECT_EQ(table.WindowRecordCount(), 4);
  table.Next();
  EXPECT_EQ(link.scrolled, 1);
  table.Last();
  EXPECT_GE(link.changed, 1);
  EXPECT_EQ(table.ActiveRecord(), 3);
  EXPECT_EQ(table.RecNo(), 10);
  table.Edit();
  table.FieldByName("AGE").SetAsInteger(1);
  EXPECT_GE(link.records, 2);  // the edit began, the field changed
  table.Cancel();
  // The window holds P6 P7 P8 P9 P10 minus the deleted P3: the last four.
  std::vector<std::string> window;
  for (int i = 0; i < table.WindowRecordCount(); ++i) {
    const uint8_t* buffer = table.WindowBuffer(i);
    window.emplace_back(reinterpret_cast<const char*>(buffer) + TDbfTable::kHeaderSize + 1, 3);
  }
  EXPECT_EQ(window, (std::vector<std::string>{"P7 ", "P8 ", "P9 ", "P10"}));
}

TEST(DbfTable, CalculatedFieldsAndRecordFilter) {
  TTempDir dir;
  TDbfTable table;
  table.SetTableName(WritePeople(dir));
  table.UpdateFieldDefs();
  for (int i = 0; i < table.FieldDefs().Count(); ++i) table.AddField(table.FieldDefs().Item(i), fkData);
  TFieldDef twice;
  twice.name = "TWICE";
  twice.dataType = ftInteger;
  table.AddField(twice, fkCalculated);
  table.OnCalcFields = [](TDataSet& ds) {
    ds.FieldByName("TWICE").SetAsInteger(ds.FieldByName("AGE").AsInteger() * 2);
  };
  table.OnFilterRecord = [](TDataSet& ds, bool& accept) { accept = ds.FieldByName("TWICE").AsInteger() % 4 == 0; };
  table.Open();
  EXPECT_EQ(table.FieldByName("TWICE").AsInteger(), 42);
  table.SetFiltered(true);
  EXPECT_EQ(Names(table), (std::vector<std::string>{"P2", "P4", "P6", "P8", "P10"}));
  // The expression decides first; the handler sees only what it accepted.
  table.SetFilter("AGE > 25");
  EXPECT_EQ(Names(table), (std::vector<std::string>{"P6", "P8", "P10"}));
}

TEST(DbfTable, MemoStreamsEditThroughTheDataset) {
  for (const bool fox : {false, true}) {
    SCOPED_TRACE(fox ? "FoxPro" : "dBASE IV");
    TTempDir dir;
    WriteEmptyMemoTable(dir, fox);
    const std::string text = "Grüße aus Köln.\r\nSecond line, " + std::string(700, 'x');
    {
      TDbfTable table;
      table.SetTableName(dir.File("memo.dbf"));
      table.Open();
      TField& notes = table.FieldByName("NOTES");
      EXPECT_TRUE(notes.IsNull());
      EXPECT_EQ(notes.AsString(), "");
      EXPECT_EQ(Message([&] { table.OpenMemoStream(notes, bmWrite); }), msg::kNotEditing);
      table.Edit();
      notes.SetAsString(text);
      EXPECT_TRUE(table.Modified());
      EXPECT_EQ(notes.AsString(), text);  // unsaved text survives a re-open
      table.Post();
      table.Next();
      table.Edit();
      {
        TBlobStreamRef s = table.OpenMemoStream(notes, bmReadWrite);
        s->Write("short");
      }
      table.Post();
      // Writing a shorter value over a longer one stores only the new length.
      table.First();
      table.Edit();
      notes.SetAsString("tiny");
      table.Post();
      EXPECT_EQ(notes.AsString(), "tiny");
      table.Edit();
      notes.SetAsString(text);
      table.Cancel();
      EXPECT_EQ(notes.AsString(), "tiny");
    }
    TDbfTable table;
    table.SetTableName(dir.File("memo.dbf"));
    table.Open();
    EXPECT_EQ(table.FieldByName("NOTES").AsString(), "tiny");
    EXPECT_EQ(table.FieldByName("NAME").AsString(), "first");
    EXPECT_EQ(table.FieldByName("N").AsInteger(), 1);
    table.Next();
    EXPECT_EQ(table.FieldByName("NOTES").AsString(), "short");
    EXPECT_EQ(table.FieldByName("NAME").AsString(), "second");
  }
}

}  // namespace
}  // namespace norvale::test
