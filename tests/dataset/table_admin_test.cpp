// The table object's administration: creating tables (directly, on an open
// that finds them missing, and as copies of another table), restructuring,
// pack, zap, index regeneration, adding and deleting indexes, and the
// refusals that must leave every file as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "dataset/dataset_messages.h"
#include "dataset/dbf_table.h"
#include "engine/globals.h"
#include "engine/messages.h"
#include "engine/stream.h"
#include "engine/table_file.h"
#include "index/index_file.h"
#include "index/table_indexes.h"
#include "platform/os_file.h"
#include "tests/support/test_support.h"

namespace norvale::test {
namespace {

// Names in an order unlike the record order; records 2, 5 and 9 (alpha,
// india, golf) are deleted.
const std::vector<std::string> kNames = {"kilo", "alpha", "juliet", "bravo", "india",
                                         "charlie", "hotel", "delta", "golf", "echo"};
const std::vector<int> kDeleted = {2, 5, 9};

// t.dbf: NAME C(10), QTY N(6) holding 10 × the record number; with tags
// NAME and QTY (descending) in t.mdx when `tags`, and byqty.ndx on QTY
// when `ndx`.
struct TAdminTable {
  TTempDir dir;
  std::string path = dir.File("t.dbf");
  explicit TAdminTable(bool tags = true, bool ndx = false) {
    TTableImage t;
    t.fields = {{"NAME", 'C', 10}, {"QTY", 'N', 6}};
    for (int i = 1; i <= 10; ++i) {
      char qty[8];
      std::snprintf(qty, sizeof qty, "%6d", i * 10);
      const bool deleted = std::find(kDeleted.begin(), kDeleted.end(), i) != kDeleted.end();
      t.records.push_back(t.Record({kNames[size_t(i - 1)], qty}, deleted));
    }
    WriteFile(path, t.Bytes());
    if (!tags && !ndx) return;
    TDbfFile file;
    file.SetFileName(path);
    file.SetMode(amExclusiveOpen);
    file.Open();
    TTableIndexes indexes(file);
    if (tags) {
      indexes.AttachIndex("NAME", "NAME", 0, true);
      indexes.AttachIndex("QTY", "QTY", ixDescending, true);
    }
    if (ndx) indexes.AttachIndex("byqty.ndx", "QTY", 0, true);
  }
  void Open(TDbfTable& table, bool exclusive = true) const {
    table.SetTableName(path);
    table.SetExclusive(exclusive);
    table.Open();
  }
};

int64_t Phys(TDbfTable& table) { return TDbfTable::BookmarkRecNo(table.GetBookmark()); }

std::vector<std::string> Names(TDbfTable& table) {
  std::vector<std::string> out;
  for (table.First(); !table.Eof(); table.Next()) out.push_back(table.FieldByName("NAME").AsString());
  return out;
}

std::vector<int> RecNos(TDbfTable& table) {
  std::vector<int> out;
  for (table.First(); !table.Eof(); table.Next()) out.push_back(int(Phys(table)));
  return out;
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

std::vector<std::string> LiveNames() {
  std::vector<std::string> out;
  for (int i = 1; i <= 10; ++i)
    if (std::find(kDeleted.begin(), kDeleted.end(), i) == kDeleted.end()) out.push_back(kNames[size_t(i - 1)]);
  return out;
}

int EntriesOf(TIndexFile& file, int tag) {
  int n = 0;
  file.ForEachEntry(tag, [&n](std::string_view, uint32_t) {
    ++n;
    return true;
  });
  return n;
}

void Post(TDbfTable& table, const std::string& name, const std::string& notes = {}) {
  table.Append();
  table.Fields(0).SetAsString(name);
  if (!notes.empty()) table.FieldByName("NOTES").SetAsString(notes);
  table.Post();
}

// ---------------------------------------------------------------- creating

TEST(TableAdmin, CreateTableFromFieldDefsWithIndexesStaysClosed) {
  TTempDir dir;
  TDbfTable table;
  table.SetTableName(dir.File("new.dbf"));
  EXPECT_EQ(table.NativeFieldDefs(), nullptr);
  table.FieldDefs().Add("NAME", ftString, 12);
  table.FieldDefs().Add("QTY", ftInteger);
  TFieldDef& price = table.FieldDefs().Add("PRICE", ftFloat);
  price.precision = 2;
  table.FieldDefs().Add("NOTES", ftMemo);
  table.Indexes().Add("NAME", "NAME", 0);
  table.Indexes().Add("byqty.ndx", "QTY", 0);
  table.CreateTable();
  EXPECT_FALSE(table.Active());
  for (const char* file : {"new.dbf", "new.dbt", "new.mdx", "byqty.ndx"})
    EXPECT_TRUE(TOsFile::Exists(dir.File(file))) << file;

  table.SetExclusive(true);
  table.Open();
  EXPECT_EQ(table.TableLevel(), 4);
  EXPECT_EQ(table.RecordCount(), 0);
  const TDbfFieldDefs* native = table.NativeFieldDefs();
  ASSERT_NE(native, nullptr);
  ASSERT_EQ(native->Count(), 4);
  EXPECT_EQ(native->Item(0).NativeFieldType(), 'C');
  EXPECT_EQ(native->Item(0).Size(), 12);
  EXPECT_EQ(native->Item(2).Precision(), 2);
  EXPECT_EQ(native->Item(3).NativeFieldType(), 'M');
  EXPECT_EQ(table.GetIndexNames(), (std::vector<std::string>{"NAME", "byqty.ndx"}));

  // Both indexes are kept current from the first append on.
  for (const char* name : {"mike", "alpha", "zulu"}) {
    table.Append();
    table.FieldByName("NAME").SetAsString(name);
    table.FieldByName("QTY").SetAsInteger(int(std::string(name).size()) * (name[0] == 'z' ? 10 : 1));
    table.FieldByName("PRICE").SetAsFloat(1.25);
    table.FieldByName("NOTES").SetAsString(std::string("about ") + name);
    table.Post();
  }
  table.SetIndexName("NAME");
  EXPECT_EQ(Names(table), (std::vector<std::string>{"alpha", "mike", "zulu"}));
  table.SetIndexName("byqty.ndx");
  EXPECT_EQ(Names(table), (std::vector<std::string>{"mike", "alpha", "zulu"}));
  EXPECT_EQ(table.FieldByName("NOTES").AsString(), "about zulu");
  EXPECT_DOUBLE_EQ(table.FieldByName("PRICE").AsFloat(), 1.25);
}

TEST(TableAdmin, CreateTableAtEveryLevel) {
  for (int level : {3, 4, 7, 25}) {
    SCOPED_TRACE(level);
    TTempDir dir;
    TDbfTable table;
    table.SetTableName(dir.File("l.dbf"));
    table.SetTableLevel(level);
    TDbfFieldDefs defs(VersionOfTableLevel(level));
    defs.AddWithValues("NAME", ftString, false, 8);
    defs.AddWithValues("WHEN", ftDate, false, 0);
    table.CreateTable(&defs);
    table.SetTableLevel(level == 3 ? 4 : 3);  // the open must say what the file is
    table.Open();
    EXPECT_EQ(table.TableLevel(), level);
    ASSERT_EQ(table.NativeFieldDefs()->Count(), 2);
    EXPECT_EQ(table.NativeFieldDefs()->Item(1).NativeFieldType(), 'D');
  }
}

TEST(TableAdmin, CreateTableTakesTheLanguageByteOfTheLastOpen) {
  TAdminTable source(false);
  TTableImage image;
  TDbfTable table;
  source.Open(table);
  const uint8_t language = table.DbfFile()->LanguageId();
  ASSERT_EQ(language, image.languageId);
  table.Close();
  table.SetTableName(source.dir.File("copy.dbf"));
  table.SetTableLevel(4);
  table.CreateTable(table.NativeFieldDefs());  // none while closed: from FieldDefs
  EXPECT_EQ(ReadFile(source.dir.File("copy.dbf"))[29], language);

  // A table object that never opened one takes the process default.
  TDbfTable fresh;
  fresh.SetTableName(source.dir.File("fresh.dbf"));
  fresh.FieldDefs().Add("A", ftString, 4);
  fresh.CreateTable();
  EXPECT_EQ(ReadFile(source.dir.File("fresh.dbf"))[29], TDbfGlobals::Instance().DefaultLanguageId());
}

TEST(TableAdmin, CreateTableOnAnOpenTableChangesNothing) {
  TAdminTable t;
  TDbfTable table;
  TFolderState::Age(t.dir.Path());
  const TFolderState before = TFolderState::Of(t.dir.Path());
  t.Open(table);
  TDbfFieldDefs defs;
  defs.AddWithValues("OTHER", ftString, false, 4);
  EXPECT_EQ(Message([&] { table.CreateTable(&defs); }), msg::kDataSetOpen);
  EXPECT_EQ(Message([&] { table.Restructure(defs, false); }), msg::kDataSetOpen);
  EXPECT_TRUE(table.Active());
  EXPECT_EQ(table.RecordCount(), 10);
  table.Close();
  EXPECT_EQ(TFolderState::Of(t.dir.Path()).ChangesSince(before), "");
}

TEST(TableAdmin, FailedCreateTableLeavesNoFileBehind) {
  TTempDir dir;
  TDbfTable table;
  table.SetTableName(dir.File("half.dbf"));
  table.FieldDefs().Add("NAME", ftString, 10);
  table.FieldDefs().Add("NOTES", ftMemo);
  // The first index is made in the new .mdx before the second one fails.
  table.Indexes().Add("NAME", "NAME", 0);
  table.Indexes().Add("other.ndx", "NAME", 0);
  table.Indexes().Add("BAD", "NOSUCHFIELD", 0);
  EXPECT_NE(Message([&] { table.CreateTable(); }), "(no error)");
  EXPECT_TRUE(TFolderState::Of(dir.Path()).names.empty()) << TFolderState::Of(dir.Path()).names.front();

  // Refused before the header is written: the emptied file goes as well.
  TDbfTable none;
  none.SetTableName(dir.File("none.dbf"));
  EXPECT_EQ(Message([&] { none.CreateTable(); }), msg::kNoFields);
  EXPECT_TRUE(TFolderState::Of(dir.Path()).names.empty());
  EXPECT_FALSE(none.Active());
}

TEST(TableAdmin, CreateTableOverAnOldTableDropsItsIndex) {
  TAdminTable t;
  TDbfTable table;
  table.SetTableName(t.path);
  table.FieldDefs().Add("CODE", ftString, 4);
  table.Indexes().Add("CODE", "CODE", 0);
  table.CreateTable();
  table.Open();
  EXPECT_EQ(table.GetIndexNames(), (std::vector<std::string>{"CODE"}));
  EXPECT_EQ(table.RecordCount(), 0);
}

TEST(TableAdmin, AutoCreateCreatesAndOpens) {
  for (TDbfOpenMode mode : {omAutoCreate, omTemporary}) {
    SCOPED_TRACE(mode);
    TTempDir dir;
    TDbfTable table;
    table.SetTableName(dir.File("auto.dbf"));
    table.SetOpenMode(mode);
    table.SetExclusive(true);
    table.FieldDefs().Add("NAME", ftString, 12);
    table.Indexes().Add("NAME", "NAME", 0);
    int asked = 0;
    table.BeforeAutoCreate = [&](TDbfTable&, bool& doCreate) {
      ++asked;
      EXPECT_TRUE(doCreate);
    };
    table.Open();
    EXPECT_EQ(asked, 1);
    ASSERT_TRUE(table.Active());
    EXPECT_TRUE(TOsFile::Exists(dir.File("auto.dbf")));
    EXPECT_EQ(table.FieldByName("NAME").Size(), 12);
    Post(table, "bravo");
    Post(table, "alpha");
    table.SetIndexName("NAME");
    EXPECT_EQ(Names(table), (std::vector<std::string>{"alpha", "bravo"}));
    // Once there, the table is opened, not created again.
    table.Close();
    table.Open();
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(table.RecordCount(), 2);
  }
}

TEST(TableAdmin, MemoryTableCreatesIntoItsStream) {
  // Without a stream, the open creates the table in one of its own, which
  // then holds the table from one open to the next.
  TDbfTable table;
  table.SetStorage(stoMemory);
  table.FieldDefs().Add("NAME", ftString, 6);
  table.Open();
  ASSERT_TRUE(table.Active());
  ASSERT_NE(table.UserStream(), nullptr);
  Post(table, "one");
  Post(table, "two");
  table.Close();
  table.Open();
  EXPECT_EQ(Names(table), (std::vector<std::string>{"one", "two"}));
  table.Close();

  TMemoryStream stream;
  TDbfTable given;
  given.SetStorage(stoMemory);
  given.SetUserStream(&stream);
  given.FieldDefs().Add("CODE", ftString, 3);
  given.CreateTable();
  EXPECT_GT(stream.Size(), 32);
  given.Open();
  Post(given, "x");
  given.Delete();
  given.SetShowDeleted(true);
  Post(given, "y");
  given.Pack();
  EXPECT_EQ(given.RecordCount(), 1);
  EXPECT_EQ(given.FieldByName("CODE").AsString(), "y");
}

// ---------------------------------------------------------------- restructuring

// NAME carried from the old first field, COUNT a new field of letter I.
void IntegerFieldDefs(TDbfFieldDefs& defs) {
  TDbfFieldDef& name = defs.Add();
  name.SetFieldName("NAME");
  name.SetNativeFieldType('C');
  name.SetSize(10);
  name.SetCopyFrom(0);
  TDbfFieldDef& count = defs.Add();
  count.SetFieldName("COUNT");
  count.SetNativeFieldType('I');
  count.SetSize(4);
}

TEST(TableAdmin, RestructureChecksTypesBelowLevel7) {
  TAdminTable t(false);
  TDbfTable table;
  t.Open(table);
  table.Close();
  ASSERT_EQ(table.TableLevel(), 4);
  TFolderState::Age(t.dir.Path());
  const TFolderState before = TFolderState::Of(t.dir.Path());
  TDbfFieldDefs defs(xBaseVII);
  IntegerFieldDefs(defs);
  EXPECT_EQ(Message([&] { table.Restructure(defs, false); }),
            "Invalid field type '  \"I\" (#49) ' for field 'COUNT'.");
  EXPECT_EQ(TFolderState::Of(t.dir.Path()).ChangesSince(before), "");

  // The same definitions on a dBASE 7 table are written.
  TTempDir dir7;
  TDbfTable seven;
  seven.SetTableName(dir7.File("s.dbf"));
  seven.SetTableLevel(7);
  seven.FieldDefs().Add("NAME", ftString, 10);
  seven.CreateTable();
  seven.Open();
  Post(seven, "first");
  Post(seven, "second");
  seven.Close();
  const std::string backup = seven.Restructure(defs, false);
  EXPECT_TRUE(TOsFile::Exists(backup)) << backup;
  seven.Open();
  EXPECT_EQ(Names(seven), (std::vector<std::string>{"first", "second"}));
  ASSERT_NE(seven.FindField("COUNT"), nullptr);
  EXPECT_EQ(seven.NativeFieldDefs()->Item(1).NativeFieldType(), 'I');
}

TEST(TableAdmin, RestructureCarriesValuesAndPacks) {
  TAdminTable t(true, true);
  TDbfTable table;
  table.Indexes().Add("byqty.ndx", "QTY", 0);
  t.Open(table);
  table.Close();
  // QTY moves to the front and NAME narrows; a new field starts blank.
  TDbfFieldDefs defs(xBaseIV);
  TDbfFieldDef& qty = defs.Add();
  qty.SetFieldName("QTY");
  qty.SetNativeFieldType('N');
  qty.SetSize(6);
  qty.SetCopyFrom(1);
  TDbfFieldDef& name = defs.Add();
  name.SetFieldName("NAME");
  name.SetNativeFieldType('C');
  name.SetSize(4);
  name.SetCopyFrom(0);
  defs.AddWithValues("NOTE", ftString, false, 5);
  // No value is cut short: the old table stays as it was.
  TFolderState::Age(t.dir.Path());
  const TFolderState before = TFolderState::Of(t.dir.Path());
  EXPECT_NE(Message([&] { table.Restructure(defs, true); }).find("\"juliet\" does not fit"), std::string::npos);
  EXPECT_EQ(TFolderState::Of(t.dir.Path()).ChangesSince(before), "");
  name.SetSize(7);
  table.Restructure(defs, true);
  table.Open();
  EXPECT_EQ(table.RecordCount(), 7);
  EXPECT_EQ(table.FieldByName("QTY").AsInteger(), 10);
  EXPECT_EQ(table.FieldByName("NAME").AsString(), "kilo");
  EXPECT_EQ(table.FieldByName("NOTE").AsString(), "");
  table.SetIndexName("byqty.ndx");
  EXPECT_EQ(RecNos(table), (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
}

// ---------------------------------------------------------------- pack

TEST(TableAdmin, PackReturnsToTheSelectedIndex) {
  TAdminTable t(true, true);
  TDbfTable table;
  table.Indexes().Add("byqty.ndx", "QTY", 0);
  t.Open(table);
  table.SetIndexName("NAME");
  table.Pack();
  EXPECT_EQ(table.IndexName(), "NAME");
  EXPECT_EQ(table.State(), dsBrowse);
  EXPECT_EQ(table.RecordCount(), 7);
  EXPECT_EQ(Names(table), Sorted(LiveNames()));
  // bravo charlie delta echo hotel juliet kilo, numbered anew in record order.
  EXPECT_EQ(RecNos(table), (std::vector<int>{3, 4, 6, 7, 5, 2, 1}));
  table.SetIndexName("QTY");
  EXPECT_EQ(RecNos(table), (std::vector<int>{7, 6, 5, 4, 3, 2, 1}));
  table.SetIndexName("byqty.ndx");
  EXPECT_EQ(RecNos(table), (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
  table.SetIndexName("");
  EXPECT_EQ(Names(table), LiveNames());
  EXPECT_FALSE(TOsFile::Exists(t.dir.File("t_1.dbf")));
  EXPECT_FALSE(TOsFile::Exists(t.dir.File("t_2.dbf")));
  EXPECT_EQ(ReadFile(t.path).size(), size_t(32 + 2 * 32 + 1 + 7 * 17 + 1));
}

TEST(TableAdmin, PackPostsTheEditFirstAndLeavesNoStaleRecord) {
  TAdminTable t;
  TDbfTable table;
  t.Open(table);
  table.Last();  // echo, record 10
  table.Edit();
  table.FieldByName("NAME").SetAsString("edited");
  table.Pack();
  EXPECT_EQ(table.State(), dsBrowse);
  // The window shows the packed table, so an edit lands on a record of it.
  EXPECT_EQ(Phys(table), 1);
  table.Last();
  EXPECT_EQ(table.FieldByName("NAME").AsString(), "edited");
  EXPECT_EQ(Phys(table), 7);
  table.Edit();
  table.FieldByName("QTY").SetAsInteger(5);
  table.Post();
  table.Close();
  table.Open();
  EXPECT_EQ(table.RecordCount(), 7);
  table.Last();
  EXPECT_EQ(table.FieldByName("QTY").AsInteger(), 5);
}

TEST(TableAdmin, FailedPackKeepsTheOldTableOpen) {
  // A memo field whose memo file is gone: the pack cannot carry its values.
  TTempDir dir;
  TTableImage image;
  image.versionByte = 0x8B;
  image.fields = {{"NAME", 'C', 8}, {"NOTES", 'M', 10}};
  image.records.push_back(image.Record({"one", ""}, true));
  image.records.push_back(image.Record({"two", ""}));
  const std::string path = dir.File("m.dbf");
  WriteFile(path, image.Bytes());
  TFolderState::Age(dir.Path());
  const TFolderState before = TFolderState::Of(dir.Path());
  TDbfTable table;
  table.SetTableName(path);
  table.SetExclusive(true);
  table.Open();
  EXPECT_NE(Message([&] { table.Pack(); }).find("is missing"), std::string::npos);
  ASSERT_TRUE(table.Active());
  EXPECT_EQ(table.RecordCount(), 2);
  EXPECT_EQ(Names(table), (std::vector<std::string>{"two"}));
  table.Close();
  EXPECT_EQ(TFolderState::Of(dir.Path()).ChangesSince(before), "");
}

TEST(TableAdmin, SharedTableRefusesAndFilesStayByteIdentical) {
  TAdminTable t(true, true);
  TFolderState::Age(t.dir.Path());
  const TFolderState before = TFolderState::Of(t.dir.Path());
  TDbfTable table;
  table.Indexes().Add("byqty.ndx", "QTY", 0);
  t.Open(table, false);
  table.SetIndexName("NAME");
  table.First();
  table.Edit();
  table.FieldByName("NAME").SetAsString("changed");
  const std::string refused = msg::kExclusiveRequired;
  EXPECT_EQ(Message([&] { table.Pack(); }), refused);
  EXPECT_EQ(Message([&] { table.Zap(); }), refused);
  EXPECT_EQ(Message([&] { table.RebuildIndexes(); }), refused);
  EXPECT_EQ(Message([&] { table.AddIndex("NEW", "QTY"); }), refused);
  EXPECT_EQ(Message([&] { table.AddIndex("new.ndx", "QTY"); }), refused);
  EXPECT_EQ(Message([&] { table.DeleteIndex("NAME"); }), refused);
  // Nothing was posted either: the edit is still the caller's.
  EXPECT_EQ(table.State(), dsEdit);
  table.Cancel();
  EXPECT_EQ(table.IndexName(), "NAME");
  EXPECT_EQ(Names(table), Sorted(LiveNames()));
  table.Close();
  EXPECT_EQ(TFolderState::Of(t.dir.Path()).ChangesSince(before), "");

  TDbfTable readOnly;
  readOnly.SetReadOnly(true);
  t.Open(readOnly, true);
  EXPECT_EQ(Message([&] { readOnly.Pack(); }), msg::kDataSetReadOnly);
}

TEST(TableAdmin, OperationsOnAClosedTableAreRefused) {
  TAdminTable t;
  TDbfTable table;
  table.SetTableName(t.path);
  const std::string closed = msg::kDataSetClosed;
  EXPECT_EQ(Message([&] { table.Pack(); }), closed);
  EXPECT_EQ(Message([&] { table.Zap(); }), closed);
  EXPECT_EQ(Message([&] { table.RebuildIndexes(); }), closed);
  EXPECT_EQ(Message([&] { table.AddIndex("X", "NAME"); }), closed);
  EXPECT_EQ(Message([&] { table.DeleteIndex("NAME"); }), closed);
}

// ---------------------------------------------------------------- zap, rebuild

TEST(TableAdmin, ZapLeavesEmptyTags) {
  TAdminTable t(true, true);
  TDbfTable table;
  table.Indexes().Add("byqty.ndx", "QTY", 0);
  t.Open(table);
  table.SetIndexName("NAME");
  table.EmptyTable();
  EXPECT_EQ(table.RecordCount(), 0);
  EXPECT_TRUE(table.IsEmpty());
  EXPECT_EQ(table.IndexName(), "NAME");
  TIndexFile* mdx = table.IndexFiles()->Production();
  ASSERT_NE(mdx, nullptr);
  ASSERT_EQ(mdx->TagCount(), 2);
  EXPECT_EQ(EntriesOf(*mdx, 0), 0);
  EXPECT_EQ(EntriesOf(*mdx, 1), 0);
  int ndxTag = -1;
  TIndexFile* ndx = table.IndexFiles()->Find("byqty.ndx", &ndxTag);
  ASSERT_NE(ndx, nullptr);
  EXPECT_EQ(EntriesOf(*ndx, ndxTag), 0);
  EXPECT_EQ(ReadFile(t.path).size(), size_t(32 + 2 * 32 + 1 + 1));

  Post(table, "zulu");
  Post(table, "yankee");
  EXPECT_EQ(Names(table), (std::vector<std::string>{"yankee", "zulu"}));
  table.Close();
  table.Open();
  EXPECT_EQ(table.GetIndexNames(), (std::vector<std::string>{"NAME", "QTY", "byqty.ndx"}));
  EXPECT_EQ(table.RecordCount(), 2);
}

TEST(TableAdmin, RebuildIndexesTakesInRecordsTheIndexMissed) {
  TAdminTable t;
  {
    // Another program appends without keeping the index current.
    TTableImage image;
    image.fields = {{"NAME", 'C', 10}, {"QTY", 'N', 6}};
    std::string record = image.Record({"aaron", "     1"});
    TDbfFile file;
    file.SetFileName(t.path);
    file.SetMode(amExclusiveOpen);
    file.Open();
    file.AppendRecord(reinterpret_cast<uint8_t*>(record.data()));
  }
  TDbfTable table;
  t.Open(table);
  table.SetIndexName("NAME");
  ASSERT_EQ(Names(table), Sorted(LiveNames()));
  table.RebuildIndexes();
  EXPECT_EQ(table.IndexName(), "NAME");
  std::vector<std::string> expected = Sorted(LiveNames());
  expected.insert(expected.begin(), "aaron");
  EXPECT_EQ(Names(table), expected);
  table.SetIndexName("QTY");
  EXPECT_EQ(table.RecordCount(), 11);
}

// ---------------------------------------------------------------- indexes

TEST(TableAdmin, AddIndexCreatesTagsAndFilesThatStay) {
  TAdminTable t(false);
  TDbfTable table;
  t.Open(table);
  table.AddIndex("BYNAME", " name ");
  EXPECT_EQ(table.GetIndexNames(), (std::vector<std::string>{"BYNAME"}));
  ASSERT_NE(table.Indexes().GetIndexByName("BYNAME"), nullptr);
  EXPECT_EQ(table.Indexes().GetIndexByName("BYNAME")->sortField, "NAME");
  table.SetIndexName("BYNAME");
  EXPECT_EQ(Names(table), Sorted(LiveNames()));

  table.AddIndex("qty.ndx", "QTY");
  EXPECT_TRUE(TOsFile::Exists(t.dir.File("qty.ndx")));
  EXPECT_EQ(table.IndexName(), "BYNAME");
  table.SetIndexName("qty.ndx");
  EXPECT_EQ(RecNos(table), (std::vector<int>{1, 3, 4, 6, 7, 8, 10}));

  // Building an existing tag from another expression while it is current.
  table.SetIndexName("BYNAME");
  table.AddIndex("BYNAME", "QTY", ixDescending);
  EXPECT_EQ(table.IndexName(), "BYNAME");
  EXPECT_EQ(RecNos(table), (std::vector<int>{10, 8, 7, 6, 4, 3, 1}));

  table.Close();
  table.Open();
  EXPECT_EQ(table.GetIndexNames(), (std::vector<std::string>{"BYNAME", "qty.ndx"}));
  Post(table, "new");
  table.SetIndexName("qty.ndx");
  table.First();
  EXPECT_EQ(table.FieldByName("NAME").AsString(), "new");  // QTY blank: the lowest key
}

TEST(TableAdmin, AddIndexRefusalsTouchNoFile) {
  TAdminTable t;
  TDbfTable table;
  t.Open(table);
  TFolderState::Age(t.dir.Path());
  const TFolderState before = TFolderState::Of(t.dir.Path());
  EXPECT_EQ(Message([&] { table.AddIndex("  ", "NAME"); }), msg::kIndexNameMissing);
  for (const char* bad : {"1ABC", "TOOLONGNAME", "A-B"})
    EXPECT_EQ(Message([&] { table.AddIndex(bad, "NAME"); }), FormatMessage(msg::kTagNameInvalid, bad, 10)) << bad;
  EXPECT_EQ(Message([&] { table.AddIndex("X", " "); }), msg::kIndexNeedsExpression);
  EXPECT_EQ(Message([&] { table.AddIndex("X", "QTY > 3"); }), msg::kInvalidIndexType);
  // A bad expression for an existing tag leaves that tag as it was, and one
  // for a new file makes no file.
  EXPECT_NE(Message([&] { table.AddIndex("NAME", "NOSUCHFIELD"); }), "(no error)");
  EXPECT_NE(Message([&] { table.AddIndex("new.ndx", "NAME +"); }), "(no error)");
  EXPECT_EQ(TFolderState::Of(t.dir.Path()).ChangesSince(before), "");
  table.SetIndexName("NAME");
  EXPECT_EQ(Names(table), Sorted(LiveNames()));
}

TEST(TableAdmin, DeleteIndexLeavesTheOrderItRemoves) {
  TAdminTable t(true, true);
  TDbfTable table;
  table.Indexes().Add("byqty.ndx", "QTY", 0);
  t.Open(table);
  ASSERT_EQ(table.Indexes().Count(), 3);

  // Removing a tag ahead of the current one renumbers the tags after it.
  table.SetIndexName("QTY");
  EXPECT_TRUE(table.DeleteIndex("NAME"));
  EXPECT_EQ(table.IndexName(), "QTY");
  EXPECT_EQ(RecNos(table), (std::vector<int>{10, 8, 7, 6, 4, 3, 1}));
  EXPECT_EQ(table.Indexes().GetIndexByName("NAME"), nullptr);

  EXPECT_FALSE(table.DeleteIndex("NOSUCH"));
  EXPECT_TRUE(table.DeleteIndex("byqty.ndx"));
  EXPECT_FALSE(TOsFile::Exists(t.dir.File("byqty.ndx")));
  EXPECT_EQ(table.Indexes().GetIndexByName("byqty.ndx"), nullptr);

  // The current index, and the production file's last tag.
  EXPECT_TRUE(table.DeleteIndex("qty"));
  EXPECT_EQ(table.IndexName(), "");
  EXPECT_EQ(table.GetIndexNames(), std::vector<std::string>{});
  EXPECT_EQ(Names(table), LiveNames());
  EXPECT_FALSE(TOsFile::Exists(t.dir.File("t.mdx")));
  table.Close();
  EXPECT_EQ(ReadFile(t.path)[28], 0);
  table.Open();  // no index is looked for any more
  EXPECT_EQ(table.GetIndexNames(), std::vector<std::string>{});
}

// ---------------------------------------------------------------- copying

TEST(TableAdmin, CopyFromCarriesRecordsFlagsAndMemoValues) {
  TTempDir dir;
  TDbfTable source;
  source.SetTableName(dir.File("src.dbf"));
  source.FieldDefs().Add("NAME", ftString, 8);
  source.FieldDefs().Add("NOTES", ftMemo);
  source.SetExclusive(true);
  source.SetOpenMode(omAutoCreate);
  source.Open();
  Post(source, "one", "first note");
  Post(source, "two", "second note, deleted");
  Post(source, "three");
  source.First();
  source.Next();
  source.Delete();

  TDbfTable copy;
  copy.SetTableName(dir.File("copy.dbf"));
  EXPECT_EQ(Message([&] { TDbfTable closed; copy.CopyFrom(closed); }), msg::kDataSetClosed);
  copy.Indexes().Add("NAME", "NAME", 0);
  copy.CopyFrom(source);
  EXPECT_FALSE(copy.Active());
  EXPECT_TRUE(TOsFile::Exists(dir.File("copy.dbt")));
  source.Close();
  // The copy's memo values are its own.
  std::remove(dir.File("src.dbt").c_str());

  copy.SetShowDeleted(true);
  copy.Open();
  EXPECT_EQ(Message([&] { copy.CopyFrom(copy); }), msg::kDataSetOpen);
  EXPECT_EQ(copy.TableLevel(), 4);
  EXPECT_EQ(Names(copy), (std::vector<std::string>{"one", "two", "three"}));
  copy.First();
  EXPECT_FALSE(copy.IsDeleted());
  EXPECT_EQ(copy.FieldByName("NOTES").AsString(), "first note");
  copy.Next();
  EXPECT_TRUE(copy.IsDeleted());
  EXPECT_EQ(copy.FieldByName("NOTES").AsString(), "second note, deleted");
  copy.Next();
  EXPECT_TRUE(copy.FieldByName("NOTES").IsNull());
  copy.SetIndexName("NAME");
  EXPECT_EQ(Names(copy), (std::vector<std::string>{"one", "three", "two"}));
}

TEST(TableAdmin, CopyFromKeepsFoxProNullFlags) {
  TTempDir dir;
  TDbfTable source;
  source.SetTableName(dir.File("fox.dbf"));
  source.SetTableLevel(25);
  TDbfFieldDefs defs(xFoxPro);
  defs.AddWithValues("NAME", ftString, false, 8).SetNullPosition(0);
  defs.AddWithValues("N", ftInteger, false, 0).SetNullPosition(1);
  source.CreateTable(&defs);
  source.SetExclusive(true);
  source.Open();
  source.Append();
  source.FieldByName("NAME").Clear();
  source.FieldByName("N").SetAsInteger(7);
  source.Post();
  source.Append();
  source.FieldByName("NAME").SetAsString("named");
  source.FieldByName("N").Clear();
  source.Post();
  source.First();
  ASSERT_TRUE(source.FieldByName("NAME").IsNull());

  TDbfTable copy;
  copy.SetTableName(dir.File("foxcopy.dbf"));
  copy.CopyFrom(source);
  copy.Open();
  EXPECT_EQ(copy.TableLevel(), 25);
  EXPECT_EQ(copy.DbfFile()->VersionByte(), source.DbfFile()->VersionByte());
  copy.First();
  EXPECT_TRUE(copy.FieldByName("NAME").IsNull());
  EXPECT_EQ(copy.FieldByName("N").AsInteger(), 7);
  copy.Next();
  EXPECT_EQ(copy.FieldByName("NAME").AsString(), "named");
  EXPECT_TRUE(copy.FieldByName("N").IsNull());
}

}  // namespace
}  // namespace norvale::test
