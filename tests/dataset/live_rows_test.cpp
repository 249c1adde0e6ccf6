// What the viewer's grid asks of the table object: the live rows of a table
// whose deleted records are hidden, found in steps, and records read as the
// file holds them without moving the current record.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "dataset/dbf_table.h"
#include "dataset/live_rows.h"
#include "dataset/table_filter.h"
#include "index/index_file.h"
#include "tests/support/test_support.h"

namespace norvale::test {
namespace {

// `count` records of one 250-byte field (so a scan takes several blocks),
// each holding its number; `deleted(i)` marks record i.
std::string WriteWide(const TTempDir& dir, int count, const std::function<bool(int)>& deleted,
                      bool eof = true) {
  TTableImage t;
  t.fields = {{"TEXT", 'C', 250}};
  t.eof = eof;
  for (int i = 1; i <= count; ++i) t.records.push_back(t.Record({std::to_string(i)}, deleted(i)));
  const std::string path = dir.File("wide.dbf");
  WriteFile(path, t.Bytes());
  return path;
}

std::vector<int64_t> LiveNumbers(int count, const std::function<bool(int)>& deleted) {
  std::vector<int64_t> live;
  for (int i = 1; i <= count; ++i)
    if (!deleted(i)) live.push_back(i);
  return live;
}

std::vector<int64_t> Rows(const TLiveRows& rows) {
  std::vector<int64_t> out;
  for (int64_t row = 0; row < rows.Count(); ++row) out.push_back(rows.RecNoAt(row));
  return out;
}

void Open(TDbfTable& table, const std::string& path) {
  table.SetTableName(path);
  table.Open();
}

// Nine blocks of the scan: every seventh record deleted, and the last.
class LiveRowsOfAWideTable : public ::testing::Test {
 protected:
  static constexpr int kCount = 9000;
  void SetUp() override { Open(table, WriteWide(dir, kCount, deleted)); }

  TTempDir dir;
  std::function<bool(int)> deleted = [](int i) { return i % 7 == 0 || i == kCount; };
  std::vector<int64_t> live = LiveNumbers(kCount, deleted);
  TDbfTable table;
};

TEST_F(LiveRowsOfAWideTable, MapsLiveRecordsAcrossScanBlocks) {
  TLiveRows rows(table);
  rows.Reset(table.RecordCount(), false);
  rows.ScanThrough(kCount);
  ASSERT_TRUE(rows.Complete());
  EXPECT_EQ(Rows(rows), live);
  EXPECT_EQ(rows.RowOf(7), -1);
  EXPECT_EQ(rows.RowOf(8), 6);
  EXPECT_EQ(rows.RowOf(kCount), -1);
  EXPECT_EQ(rows.RowOf(kCount + 1), -1);
  EXPECT_EQ(rows.RecNoAt(rows.Count()), 0);
  EXPECT_EQ(rows.RecNoAt(-1), 0);
  for (int64_t row = 0; row < rows.Count(); row += 97) EXPECT_EQ(rows.RowOf(rows.RecNoAt(row)), row);

  EXPECT_EQ(rows.Remove(8), 6);
  EXPECT_EQ(rows.RecNoAt(6), 9);
  EXPECT_EQ(rows.RowOf(9), 6);
  EXPECT_EQ(rows.Remove(8), -1);
  EXPECT_EQ(rows.Remove(7), -1);
}

TEST_F(LiveRowsOfAWideTable, StepsFindRowsInRecordOrderUpToWhereTheyScanned) {
  TLiveRows rows(table);
  rows.Reset(kCount, false);
  EXPECT_EQ(rows.Count(), 0);
  EXPECT_FALSE(rows.Complete());

  // A step ends where it was told, not at a block boundary.
  EXPECT_EQ(rows.Step(10), 9);
  EXPECT_EQ(rows.Scanned(), 10);
  EXPECT_EQ(rows.RowOf(10), 8);
  EXPECT_EQ(rows.RowOf(11), -1) << "record 11 was not scanned yet";
  EXPECT_EQ(rows.RecNoAt(9), 0);

  // Steps and a scan through a record go on from where the last one ended.
  rows.Step(3000);
  EXPECT_EQ(rows.Scanned(), 3010);
  rows.ScanThrough(5000);
  EXPECT_EQ(rows.Scanned(), 5000);
  EXPECT_EQ(Rows(rows), std::vector<int64_t>(live.begin(), std::lower_bound(live.begin(), live.end(), 5001)));

  // Timed steps always progress, and end at the last record.
  int steps = 0;
  while (!rows.Complete() && steps < kCount) {
    const int64_t before = rows.Scanned();
    rows.StepFor(std::chrono::microseconds(0));
    ASSERT_GT(rows.Scanned(), before);
    ++steps;
  }
  EXPECT_GT(steps, 1) << "a zero budget still takes one block, not the rest of the table";
  EXPECT_EQ(rows.Scanned(), kCount);
  EXPECT_EQ(Rows(rows), live);
  EXPECT_EQ(rows.Step(100), 0);
}

TEST(LiveRows, RecordDeletedAheadOfTheScanIsNoRow) {
  TTempDir dir;
  const int count = 3000;
  TDbfTable table;
  Open(table, WriteWide(dir, count, [](int) { return false; }));
  TLiveRows rows(table);
  rows.Reset(count, false);
  rows.Step(100);

  // Deleted through the table while the scan has not reached it, and
  // behind it: the one behind leaves the rows, the one ahead never joins.
  table.SetRecNo(2000);
  table.Delete();
  EXPECT_EQ(rows.Remove(2000), -1);
  table.SetRecNo(50);
  table.Delete();
  EXPECT_EQ(rows.Remove(50), 49);

  rows.ScanThrough(count);
  EXPECT_EQ(rows.Count(), count - 2);
  EXPECT_EQ(rows.RowOf(2000), -1);
  EXPECT_EQ(rows.RowOf(50), -1);
  EXPECT_EQ(rows.RowOf(2001), 1998);
}

TEST_F(LiveRowsOfAWideTable, ShownDeletedRecordsAreRowsWithoutAScan) {
  TLiveRows rows(table);
  rows.Reset(kCount, true);
  EXPECT_TRUE(rows.Complete());
  EXPECT_EQ(rows.Count(), kCount);
  EXPECT_EQ(rows.RowOf(7), 6);
  EXPECT_EQ(rows.RecNoAt(kCount - 1), kCount);
  EXPECT_EQ(rows.Remove(7), -1);
  EXPECT_EQ(rows.Count(), kCount);
  rows.Extend(kCount + 2);
  EXPECT_TRUE(rows.Complete());
  EXPECT_EQ(rows.Count(), kCount + 2);
}

TEST(LiveRows, ExtendTakesAppendedRecordsWhenTheScanReachesThem) {
  TTempDir dir;
  TTableImage t;
  t.fields = {{"A", 'C', 3}};
  t.records = {t.Record({"a"}), t.Record({"b"}, true), t.Record({"c"}), t.Record({"d"}, true), t.Record({"e"})};
  WriteFile(dir.File("t.dbf"), t.Bytes());
  TDbfTable table;
  Open(table, dir.File("t.dbf"));
  TLiveRows rows(table);
  // As if the map had been made when the table held two records.
  rows.Reset(2, false);
  rows.ScanThrough(2);
  ASSERT_TRUE(rows.Complete());
  rows.Extend(5);
  rows.Extend(4);
  EXPECT_FALSE(rows.Complete());
  EXPECT_EQ(rows.Count(), 1);
  EXPECT_EQ(rows.Step(10), 2);
  EXPECT_EQ(Rows(rows), (std::vector<int64_t>{1, 3, 5}));
}

TEST(LiveRows, LastRecordCutShortIsARowUnlessMarkedDeleted) {
  // Long enough that the cut record ends a block read that comes back one
  // record short. Read-only, as a table whose size disagrees with its header
  // opens.
  for (const bool lastDeleted : {false, true}) {
    SCOPED_TRACE(lastDeleted ? "cut record deleted" : "cut record live");
    TTempDir dir;
    const int count = 2000;
    const std::string path = WriteWide(dir, count, [&](int i) { return i == 3 || (lastDeleted && i == count); }, false);
    std::filesystem::resize_file(path, std::filesystem::file_size(path) - 100);
    TDbfTable table;
    table.SetReadOnly(true);
    Open(table, path);
    // The table counts whole records only.
    ASSERT_EQ(table.RecordCount(), count - 1);
    TLiveRows whole(table);
    whole.Reset(table.RecordCount(), false);
    whole.ScanThrough(count);
    EXPECT_EQ(whole.Count(), count - 2);
    EXPECT_EQ(whole.RowOf(count), -1);

    // A map made before the file was cut still covers the cut record.
    TLiveRows rows(table);
    rows.Reset(count, false);
    rows.ScanThrough(count);
    EXPECT_TRUE(rows.Complete());
    EXPECT_EQ(rows.Count(), count - (lastDeleted ? 2 : 1));
    EXPECT_EQ(rows.RowOf(count), lastDeleted ? -1 : count - 2);
    EXPECT_EQ(rows.RowOf(count - 1), count - 3);
  }
}

// A buffer of the table's layout, for the stored-record reads.
class TStoredTable : public TDbfTable {
 public:
  using TDbfTable::AllocRecordBuffer;
};

TEST(StoredRecord, ReadsWhatTheFileHoldsNowAndLeavesTheCurrentRecordAlone) {
  TTempDir dir;
  const std::string path = WriteWide(dir, 3, [](int i) { return i == 2; });
  TStoredTable table;
  Open(table, path);
  auto buffer = table.AllocRecordBuffer();
  auto storedText = [&] {
    std::string text;
    table.WithFieldsOn(buffer.get(), [&] { text = table.FieldByName("TEXT").AsString(); });
    return text;
  };
  // A forward walk reads record 3 ahead; then another table object changes
  // it, and an edit of record 1 is under way here.
  table.First();
  table.Next();
  TDbfTable other;
  Open(other, path);
  other.SetRecNo(3);
  other.Edit();
  other.FieldByName("TEXT").SetAsString("changed");
  other.Post();
  other.Close();
  table.First();
  table.Edit();
  table.FieldByName("TEXT").SetAsString("edited");

  ASSERT_TRUE(table.ReadStoredRecord(3, buffer.get()));
  EXPECT_EQ(storedText(), "changed");
  EXPECT_FALSE(table.StoredRecordDeleted(buffer.get()));
  ASSERT_TRUE(table.ReadStoredRecord(2, buffer.get()));
  EXPECT_EQ(storedText(), "2");
  EXPECT_TRUE(table.StoredRecordDeleted(buffer.get()));
  EXPECT_EQ(table.FieldByName("TEXT").AsString(), "edited");
  EXPECT_EQ(TDbfTable::BookmarkRecNo(table.GetBookmark()), 1);

  const std::vector<uint8_t> before(buffer.get(), buffer.get() + 20);
  EXPECT_FALSE(table.ReadStoredRecord(0, buffer.get()));
  EXPECT_FALSE(table.ReadStoredRecord(4, buffer.get()));
  EXPECT_EQ(std::vector<uint8_t>(buffer.get(), buffer.get() + 20), before);
  table.Cancel();
  table.Close();
  EXPECT_FALSE(table.ReadStoredRecord(1, buffer.get()));
}

// Filters and index order: the rows the table object's own walk gives, in
// the same order, found in small steps and asked about before the scan
// reaches them.
class LiveRowsFilteredAndOrdered : public ::testing::Test {
 protected:
  static constexpr int kCount = 3000;
  void SetUp() override {
    TTableImage t;
    t.fields = {{"NAME", 'C', 8}, {"N", 'N', 5}};
    for (int i = 1; i <= kCount; ++i) {
      // Keys out of record order, with many equal ones.
      const int key = (i * 7919) % 613;
      t.records.push_back(t.Record({"k" + std::to_string(key), std::to_string(i)}, i % 11 == 0));
    }
    path = dir.File("keys.dbf");
    WriteFile(path, t.Bytes());
    TDbfTable maker;
    maker.SetTableName(path);
    maker.SetExclusive(true);
    maker.Open();
    maker.AddIndex(dir.File("keys.ndx"), "NAME");
  }

  // The records a table object visits with this filter and order.
  std::vector<int64_t> Walked(const std::string& condition, bool ordered, bool showDeleted) {
    TDbfTable walker;
    walker.SetTableName(path);
    walker.SetShowDeleted(showDeleted);
    walker.SetFilterOptions(foCaseInsensitive);
    walker.SetFilter(condition);
    walker.SetFiltered(!condition.empty());
    walker.Open();
    if (ordered) {
      walker.OpenIndexFile(dir.File("keys.ndx"));
      walker.SetIndexName(dir.File("keys.ndx"));
    }
    std::vector<int64_t> out;
    for (walker.First(); !walker.Eof(); walker.Next()) out.push_back(walker.FieldByName("N").AsInteger());
    return out;
  }

  std::vector<uint32_t> IndexEntries(TDbfTable& table) {
    std::vector<uint32_t> order;
    table.IndexCursor()->Index()->ForEachEntry(table.IndexCursor()->Tag(), [&](std::string_view, uint32_t recNo) {
      order.push_back(recNo);
      return true;
    });
    return order;
  }

  TTempDir dir;
  std::string path;
};

TEST_F(LiveRowsFilteredAndOrdered, GiveTheRecordsTheTableWalksInItsOrder) {
  const std::string conditions[] = {"", "N > 2500 OR NAME = 'K1*'", "UPPER(NAME) = 'K5*' AND N < 2000"};
  for (const std::string& condition : conditions) {
    for (bool ordered : {false, true}) {
      for (bool showDeleted : {false, true}) {
        SCOPED_TRACE(condition + (ordered ? " ordered" : "") + (showDeleted ? " deleted shown" : ""));
        const std::vector<int64_t> want = Walked(condition, ordered, showDeleted);
        TDbfTable table;
        table.SetTableName(path);
        table.Open();
        table.OpenIndexFile(dir.File("keys.ndx"));
        table.SetIndexName(dir.File("keys.ndx"));
        std::vector<uint32_t> order = IndexEntries(table);
        ASSERT_EQ(order.size(), size_t(kCount));
        TTableFilter filter(table.DbfFile());
        if (!condition.empty()) filter.Compile(condition, true, true);
        TLiveRows rows(table);
        rows.Reset(kCount, showDeleted, condition.empty() ? nullptr : &filter, ordered ? &order : nullptr);
        EXPECT_EQ(rows.Ordered(), ordered);
        // A record deep in the order is asked about first.
        if (!want.empty()) {
          const int64_t late = want[want.size() * 3 / 4];
          rows.ScanThrough(late);
          EXPECT_TRUE(rows.Judged(late));
          EXPECT_EQ(rows.RowOf(late), int64_t(want.size() * 3 / 4));
        }
        while (!rows.Complete()) rows.Step(50);
        EXPECT_EQ(Rows(rows), want);
        for (size_t i = 0; i < want.size(); i += 97) EXPECT_EQ(rows.RowOf(want[i]), int64_t(i));
        // A record the filter rejects, or deleted while hidden, is no row.
        if (!showDeleted) EXPECT_EQ(rows.RowOf(11), -1);
      }
    }
  }
}

TEST_F(LiveRowsFilteredAndOrdered, RemovingARowInIndexOrderRenumbersTheRowsAfterIt) {
  TDbfTable table;
  table.SetTableName(path);
  table.Open();
  table.OpenIndexFile(dir.File("keys.ndx"));
  table.SetIndexName(dir.File("keys.ndx"));
  std::vector<uint32_t> order = IndexEntries(table);
  TLiveRows rows(table);
  rows.Reset(kCount, false, nullptr, &order);
  while (!rows.Complete()) rows.Step(1000);
  const std::vector<int64_t> before = Rows(rows);
  const int64_t gone = before[10];
  EXPECT_EQ(rows.Remove(gone), 10);
  EXPECT_EQ(rows.RowOf(gone), -1);
  EXPECT_EQ(rows.RowOf(before[11]), 10);
  EXPECT_EQ(rows.RowOf(before.back()), int64_t(before.size()) - 2);
  EXPECT_EQ(rows.Count(), int64_t(before.size()) - 1);
  // Appends are no business of an order: they need a new one.
  rows.Extend(kCount + 5);
  EXPECT_EQ(rows.RecordCount(), kCount);
}

}  // namespace
}  // namespace norvale::test
