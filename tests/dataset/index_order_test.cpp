// The table object in index order: tags and listed index files as orders,
// the current record kept across order changes, key ranges, edits that move
// a record in the order, and indexes still kept current after a reopen.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "dataset/dbf_table.h"
#include "engine/table_file.h"
#include "index/table_indexes.h"
#include "tests/dataset/random_table.h"
#include "tests/support/test_support.h"

namespace norvale::test {
namespace {

// t.dbf: NAME C(10), QTY N(6); names repeat, one record deleted; tags NAME
// and QTY (descending) in t.mdx and, when asked, byname.ndx on NAME.
struct TOrderTable {
  TTempDir dir;
  std::string path;
  std::vector<std::string> names;
  std::vector<int> qtys;
  explicit TOrderTable(int count = 60, bool ndx = false, bool twoTags = true) {
    TTableImage t;
    t.fields = {{"NAME", 'C', 10}, {"QTY", 'N', 6}};
    for (int i = 0; i < count; ++i) {
      names.push_back("n" + std::to_string((i * 7) % 23));
      qtys.push_back((i * 37) % 101 - 50);
      char qty[8];
      std::snprintf(qty, sizeof qty, "%6d", qtys.back());
      t.records.push_back(t.Record({names.back(), qty}, i == 5));
    }
    path = dir.File("t.dbf");
    WriteFile(path, t.Bytes());
    TDbfFile file;
    file.SetFileName(path);
    file.SetMode(amExclusiveOpen);
    file.Open();
    TTableIndexes indexes(file);
    indexes.AttachIndex("NAME", "NAME", 0, true);
    if (twoTags) indexes.AttachIndex("QTY", "QTY", ixDescending, true);
    if (ndx) indexes.AttachIndex("byname.ndx", "NAME", 0, true);
  }
  // The live records' numbers ordered by NAME, equal names by record.
  std::vector<int> ByName() const {
    std::vector<int> r;
    for (int i = 0; i < int(names.size()); ++i)
      if (i != 5) r.push_back(i + 1);
    std::stable_sort(r.begin(), r.end(), [&](int a, int b) { return names[size_t(a - 1)] < names[size_t(b - 1)]; });
    return r;
  }
};

int64_t Phys(TDbfTable& table) { return TDbfTable::BookmarkRecNo(table.GetBookmark()); }

std::vector<int> Walk(TDbfTable& table) {
  std::vector<int> recNos;
  table.First();
  while (!table.Eof()) {
    recNos.push_back(int(Phys(table)));
    table.Next();
  }
  return recNos;
}

std::vector<int> WalkBack(TDbfTable& table) {
  std::vector<int> recNos;
  table.Last();
  while (!table.Bof()) {
    recNos.push_back(int(Phys(table)));
    table.Prior();
  }
  std::reverse(recNos.begin(), recNos.end());
  return recNos;
}

TEST(IndexOrder, TagsAreOrdersAndTheCurrentRecordStays) {
  TOrderTable o;
  TDbfTable table;
  table.SetTableName(o.path);
  table.SetExclusive(true);
  table.Open();
  // The production tags are defined as they are in the file.
  ASSERT_EQ(table.IndexDefs().Count(), 2);
  EXPECT_EQ(table.IndexDefs().Item(1).indexFile, "QTY");
  EXPECT_EQ(table.IndexDefs().Item(1).options, TIndexOptions(ixExpression | ixDescending));
  EXPECT_EQ(table.GetIndexNames(), (std::vector<std::string>{"NAME", "QTY"}));

  table.SetRecNo(10);
  table.SetIndexName("name");
  EXPECT_EQ(Phys(table), 10);
  EXPECT_EQ(table.IndexFieldNames(), "NAME");
  EXPECT_EQ(Walk(table), o.ByName());
  EXPECT_EQ(WalkBack(table), o.ByName());

  // By key expression, blanks around it.
  table.SetIndexFieldNames(" qty ");
  EXPECT_EQ(table.IndexName(), "QTY");
  table.First();
  int last = 1000;
  int count = 0;
  while (!table.Eof()) {
    const int q = table.FieldByName("QTY").AsInteger();
    EXPECT_LE(q, last);
    last = q;
    ++count;
    table.Next();
  }
  EXPECT_EQ(count, 59);
  // An unknown name is record order, keeping the record.
  table.SetRecNo(1);
  table.MoveBy(7);
  const int64_t here = Phys(table);
  table.SetIndexName("NOPE");
  EXPECT_EQ(table.IndexName(), "");
  EXPECT_EQ(Phys(table), here);
  table.Close();
  // The definitions taken from the file go with the close.
  EXPECT_EQ(table.IndexDefs().Count(), 0);
  // Selected before the open, the order is there from the first record.
  table.SetIndexName("NAME");
  table.Open();
  EXPECT_EQ(Walk(table), o.ByName());
}

TEST(IndexOrder, RangesRestrictTheOrderToTheirKeys) {
  TOrderTable o;
  TDbfTable table;
  table.SetTableName(o.path);
  table.Open();
  table.SetIndexName("NAME");
  table.SetRange(TVariant("n10"), TVariant("n15"));
  std::vector<int> wanted;
  for (int r : o.ByName())
    if (o.names[size_t(r - 1)] >= "n10" && o.names[size_t(r - 1)] <= "n15") wanted.push_back(r);
  ASSERT_FALSE(wanted.empty());
  EXPECT_EQ(Phys(table), wanted.front());
  EXPECT_EQ(Walk(table), wanted);
  EXPECT_EQ(WalkBack(table), wanted);
  // Numbers for a numeric tag; a range between keys holds nothing.
  table.SetIndexName("QTY");
  table.SetRange(TVariant(10), TVariant(-10));
  for (int r : Walk(table)) {
    EXPECT_LE(o.qtys[size_t(r - 1)], 10);
    EXPECT_GE(o.qtys[size_t(r - 1)], -10);
  }
  table.SetIndexName("NAME");
  table.SetRange(TVariant("n100"), TVariant("n100 "));
  EXPECT_TRUE(table.Eof());
  EXPECT_TRUE(Walk(table).empty());
  table.CancelRange();
  EXPECT_EQ(Walk(table).size(), 59u);
}

TEST(IndexOrder, AnEditMovesTheRecordInTheOrder) {
  TOrderTable o;
  TDbfTable table;
  table.SetTableName(o.path);
  table.SetExclusive(true);
  table.Open();
  table.SetIndexName("NAME");
  table.First();
  const int64_t first = Phys(table);
  table.Edit();
  table.FieldByName("NAME").SetAsString("zzz");
  table.Post();
  // Still the same record, now at the end of the order.
  EXPECT_EQ(Phys(table), first);
  table.Next();
  EXPECT_TRUE(table.Eof());
  table.Append();
  table.FieldByName("NAME").SetAsString("a");
  table.Post();
  table.First();
  EXPECT_EQ(table.FieldByName("NAME").AsString(), "a");
  EXPECT_EQ(Walk(table).size(), 60u);
}

TEST(IndexOrder, ListedIndexFilesOpenWithTheTableAndStayCurrent) {
  TOrderTable o(40, true, false);
  {
    TDbfTable table;
    table.SetTableName(o.path);
    table.SetExclusive(true);
    table.IndexDefs().Add("byname.ndx", "NAME", 0);
    table.Open();
    EXPECT_EQ(table.GetIndexNames(), (std::vector<std::string>{"NAME", "byname.ndx"}));
    table.SetIndexName("byname.ndx");
    EXPECT_EQ(Walk(table), o.ByName());
    for (const char* name : {"m1", "a2", "z3"}) {
      table.Append();
      table.FieldByName("NAME").SetAsString(name);
      table.Post();
    }
    table.First();
    EXPECT_EQ(table.FieldByName("NAME").AsString(), "a2");
  }
  // A one-tag .mdx reopened and appended to is still kept current, and so
  // is the .ndx.
  for (int round = 0; round < 2; ++round) {
    TDbfTable table;
    table.SetTableName(o.path);
    table.IndexDefs().Add("byname.ndx", "NAME", 0);
    table.Open();
    table.Append();
    table.FieldByName("NAME").SetAsString("b" + std::to_string(round));
    table.Post();
  }
  TDbfFile file;
  file.SetFileName(o.path);
  file.SetMode(amReadOnly);
  file.Open();
  TTableIndexes indexes(file);
  indexes.OpenProduction();
  indexes.AttachIndex("byname.ndx", {}, 0, false);
  for (const std::string name : {"NAME", "byname.ndx"}) {
    int tag = -1;
    TIndexFile* index = indexes.Find(name, &tag);
    ASSERT_NE(index, nullptr) << name;
    int entries = 0;
    index->ForEachEntry(tag, [&](std::string_view, uint32_t) { return ++entries > 0; });
    EXPECT_EQ(entries, 45) << name;
  }
}

// Tags NAME and QTY in random.dbf's production index.
void IndexRandomTable(const std::string& path) {
  TDbfFile file;
  file.SetFileName(path);
  file.SetMode(amExclusiveOpen);
  file.Open();
  TTableIndexes indexes(file);
  indexes.AttachIndex("NAME", "NAME", 0, true);
  indexes.AttachIndex("QTY", "QTY", 0, true);
}

// Locate and Lookup through an index give what the linear search gives: in
// record order against a copy with no index at all, in the index's own
// order against the same table with a filter that accepts everything
// (which keeps the index out of the search).
TEST(IndexSearch, RandomSearchesGiveWhatTheLinearSearchGives) {
  std::mt19937 rng(77);
  auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
  int found = 0, searches = 0;
  for (int round = 0; round < 24; ++round) {
    TTempDir indexed, plain;
    const std::vector<TRandomRow> rows = RandomRows(rng, 1 + pick(400));
    const std::string path = WriteRandomTable(indexed, rows);
    WriteRandomTable(plain, rows);
    IndexRandomTable(path);
    const bool showDeleted = pick(3) == 0;
    const std::string order = pick(2) ? "NAME" : "QTY";
    TDbfTable withIndex, without, inOrder, inOrderLinear;
    for (TDbfTable* t : {&withIndex, &without, &inOrder, &inOrderLinear}) {
      t->SetTableName(t == &without ? plain.File("random.dbf") : path);
      t->SetShowDeleted(showDeleted);
      if (t == &inOrderLinear) {
        t->SetFilter("NAME = NAME");
        t->SetFiltered(true);
      }
      t->Open();
      if (t == &inOrder || t == &inOrderLinear) t->SetIndexName(order);
    }
    for (int n = 0; n < 30; ++n) {
      std::string name = rows[size_t(pick(int(rows.size())))].name;
      if (pick(3) == 0) name = pick(2) ? RandomName(rng) : FoldCase(name);
      if (pick(3) == 0 && !name.empty()) name.resize(name.size() - Characters(name).back().size());
      const bool byName = pick(2) == 0;
      const std::string fields = byName ? "NAME" : "QTY";
      const TVariant value = byName ? TVariant(name) : pick(2) ? TVariant(pick(14)) : TVariant(std::to_string(pick(14)));
      const TLocateOptions options = static_cast<TLocateOptions>(pick(4));
      SCOPED_TRACE(fields + " = " + value.ToText() + " options " + std::to_string(options));
      // Each from a random place, so that a search that does not move the
      // record when it fails is checked too.
      for (TDbfTable* t : {&withIndex, &without, &inOrder, &inOrderLinear}) {
        t->First();
        t->MoveBy(n % 7);
      }
      const bool a = withIndex.Locate(fields, value, options);
      ASSERT_EQ(a, without.Locate(fields, value, options));
      EXPECT_EQ(withIndex.RecNo(), without.RecNo());
      const bool b = inOrder.Locate(fields, value, options);
      ASSERT_EQ(b, inOrderLinear.Locate(fields, value, options));
      EXPECT_EQ(Phys(inOrder), Phys(inOrderLinear));
      EXPECT_EQ(a, b);
      EXPECT_EQ(withIndex.Lookup(fields, value, "AMOUNT"), without.Lookup(fields, value, "AMOUNT"));
      EXPECT_EQ(inOrder.Lookup(fields, value, "AMOUNT"), inOrderLinear.Lookup(fields, value, "AMOUNT"));
      found += a;
      ++searches;
    }
  }
  EXPECT_GT(found, searches / 4);
  EXPECT_LT(found, searches);
}

// The search really goes through the index: a record whose entry the index
// lost is not found by a search the index can answer, and is found by one
// it cannot (case-insensitive) and with a filter on.
TEST(IndexSearch, TheIndexAnswersWhenItCan) {
  TOrderTable o(40, false, false);
  // A name that only one record has (the names repeat every 23 records).
  const int lost = 21;
  const std::string name = o.names[size_t(lost - 1)];
  ASSERT_EQ(std::count(o.names.begin(), o.names.end(), name), 1);
  {
    TDbfFile file;
    file.SetFileName(o.path);
    file.SetMode(amExclusiveOpen);
    file.Open();
    TTableIndexes indexes(file);
    indexes.OpenProduction();
    std::vector<uint8_t> record(static_cast<size_t>(file.RecordLength()));
    ASSERT_TRUE(file.ReadRecord(lost, record.data()));
    indexes.Production()->RemoveRecordKey(lost, record.data());
  }
  TDbfTable table;
  table.SetTableName(o.path);
  table.Open();
  EXPECT_FALSE(table.Locate("NAME", TVariant(name), 0));
  EXPECT_TRUE(table.Lookup("NAME", TVariant(name), "QTY").IsNull());
  EXPECT_TRUE(table.Locate("NAME", TVariant(name), loCaseInsensitive));
  EXPECT_EQ(Phys(table), lost);
  table.SetFilter("QTY > -1000");
  table.SetFiltered(true);
  table.First();
  EXPECT_TRUE(table.Locate("NAME", TVariant(name), 0));
  EXPECT_EQ(Phys(table), lost);
}

}  // namespace
}  // namespace norvale::test
