// The table object's progress reports during pack, index rebuilds and
// index creation, and the cancel a report may throw: the table stays open
// in its order, every file as it was, no temporary file left.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "dataset/dataset.h"
#include "dataset/dbf_table.h"
#include "engine/stream.h"
#include "engine/table_file.h"
#include "index/table_indexes.h"
#include "platform/os_file.h"
#include "tests/support/test_support.h"

namespace norvale::test {
namespace {

// More records than one copy chunk of a pack (16384) and than four read
// batches of an index build (4096 each).
constexpr int kRecords = 20000;

bool DeletedRecord(int i) { return i % 7 == 0; }
int LiveRecords() { return kRecords - kRecords / 7; }

std::string NameOf(int i) {
  char name[16];
  std::snprintf(name, sizeof name, "K%06d", (i * 7919) % 100003);
  return name;
}

// Every report, and EAbort at report `cancelAt` (0: none), as the viewer's
// Cancel button throws it.
struct TReports {
  std::vector<std::pair<int64_t, int64_t>> seen;
  int cancelAt = 0;
  std::function<void(int64_t, int64_t)> Callback() {
    return [this](int64_t done, int64_t total) {
      seen.emplace_back(done, total);
      if (static_cast<int>(seen.size()) == cancelAt) throw EAbort();
    };
  }
  void Cancel(int at) {
    seen.clear();
    cancelAt = at;
  }
  // Rising to `total`, always with the same whole.
  void ExpectComplete(int64_t total) const {
    ASSERT_FALSE(seen.empty());
    int64_t last = 0;
    for (const auto& [done, whole] : seen) {
      EXPECT_EQ(whole, total);
      EXPECT_GT(done, last);
      last = done;
    }
    EXPECT_EQ(last, total);
  }
};

// t.dbf (dBASE IV): NAME C(7) in an order unlike the record order, QTY N(6),
// NOTES M beside an empty t.dbt; every seventh record deleted. Tags NAME and
// QTY in t.mdx, and qty.ndx on QTY, which the table opens through Indexes.
struct TProgressTable {
  TTempDir dir;
  std::string path = dir.File("t.dbf");
  TDbfTable table;
  TReports reports;

  TProgressTable() {
    TTableImage image;
    image.versionByte = 0x8B;
    image.fields = {{"NAME", 'C', 7}, {"QTY", 'N', 6}, {"NOTES", 'M', 10}};
    for (int i = 1; i <= kRecords; ++i) {
      char qty[8];
      std::snprintf(qty, sizeof qty, "%6d", i % 1000);
      image.records.push_back(image.Record({NameOf(i), qty, ""}, DeletedRecord(i)));
    }
    WriteFile(path, image.Bytes());
    std::vector<uint8_t> memo(512, 0);
    memo[0] = 1;   // next free block
    memo[21] = 2;  // blocks of 512 bytes
    WriteFile(dir.File("t.dbt"), memo);
    {
      TDbfFile file;
      file.SetFileName(path);
      file.SetMode(amExclusiveOpen);
      file.Open();
      TTableIndexes indexes(file);
      indexes.AttachIndex("NAME", "NAME", 0, true);
      indexes.AttachIndex("QTY", "QTY", ixDescending, true);
      indexes.AttachIndex("qty.ndx", "QTY", 0, true);
    }
    table.Indexes().Add("qty.ndx", "QTY", 0);
    table.SetTableName(path);
    table.SetExclusive(true);
    table.Open();
    table.OnProgress = reports.Callback();
    TFolderState::Age(dir.Path());
  }
  TFolderState State() const { return TFolderState::Of(dir.Path()); }
  // The NAME of every record the current order shows.
  std::vector<std::string> Names() {
    std::vector<std::string> out;
    for (table.First(); !table.Eof(); table.Next()) out.push_back(table.FieldByName("NAME").AsString());
    return out;
  }
  void Append(const std::string& name, int qty) {
    table.Append();
    table.FieldByName("NAME").SetAsString(name);
    table.FieldByName("QTY").SetAsInteger(qty);
    table.Post();
  }
};

TEST(TableProgress, CancelledPackKeepsTheTableOpenInItsOrderWithNoTemporaryFile) {
  TProgressTable t;
  t.table.SetIndexName("QTY");
  const std::vector<std::string> names = t.Names();
  ASSERT_EQ(names.size(), size_t(LiveRecords()));
  const TFolderState before = t.State();
  // The first report comes once a whole chunk is in the new table's files;
  // the last once every record is.
  for (int at : {1, 2}) {
    t.reports.Cancel(at);
    EXPECT_EQ(Message([&] { t.table.Pack(); }), "Operation aborted") << at;
    ASSERT_TRUE(t.table.Active());
    EXPECT_EQ(t.State().ChangesSince(before), "") << "cancelled at report " << at;
    EXPECT_EQ(t.table.IndexName(), "QTY");
    EXPECT_EQ(t.table.DbfFile()->RecordsInFile(), kRecords);
    EXPECT_EQ(t.Names(), names);
  }
  // Still the table's: a new record goes into its file and its indexes.
  t.reports.Cancel(0);
  t.Append("zzz", 99999);
  t.table.First();
  EXPECT_EQ(t.table.FieldByName("NAME").AsString(), "zzz");
  t.table.SetIndexName("qty.ndx");
  t.table.Last();
  EXPECT_EQ(t.table.FieldByName("NAME").AsString(), "zzz");

  t.table.SetIndexName("NAME");
  t.reports.Cancel(0);
  t.table.Pack();
  t.reports.ExpectComplete(kRecords + 1);
  EXPECT_EQ(t.table.IndexName(), "NAME");
  EXPECT_EQ(t.table.DbfFile()->RecordsInFile(), LiveRecords() + 1);
  EXPECT_EQ(t.Names().size(), size_t(LiveRecords() + 1));
}

TEST(TableProgress, CancelledRebuildIndexesAndAddIndexKeepTheOrderFilesAndList) {
  TProgressTable t;
  t.table.SetIndexName("NAME");
  // Settles the layout a full rebuild writes, so that the next is the same.
  t.table.RebuildIndexes();
  t.reports.ExpectComplete(2 * int64_t(kRecords));
  TFolderState::Age(t.dir.Path());
  const TFolderState before = t.State();
  const std::vector<std::string> names = t.Names();
  const std::vector<std::string> indexNames = t.table.GetIndexNames();
  const int listed = t.table.Indexes().Count();
  const auto cancel = [&](const std::function<void()>& action, int at) {
    t.reports.Cancel(at);
    EXPECT_EQ(Message(action), "Operation aborted") << at;
    ASSERT_TRUE(t.table.Active());
    EXPECT_EQ(t.State().ChangesSince(before), "") << "cancelled at report " << at;
    EXPECT_EQ(t.table.IndexName(), "NAME");
    EXPECT_EQ(t.Names(), names);
    EXPECT_EQ(t.table.GetIndexNames(), indexNames);
    EXPECT_EQ(t.table.Indexes().Count(), listed);
  };
  // Report 6 is the second file's first: the first file is read, not written.
  for (int at : {1, 6}) cancel([&] { t.table.RebuildIndexes(); }, at);
  for (const char* name : {"BYQTY", "name.ndx", "NAME"})
    cancel([&] { t.table.AddIndex(name, "QTY + 1"); }, 5);
  t.reports.Cancel(0);
  t.table.AddIndex("name.ndx", "NAME");
  t.reports.ExpectComplete(kRecords);
  EXPECT_EQ(t.table.Indexes().Count(), listed + 1);
}

TEST(TableProgress, CancelledPackOfATableInMemoryKeepsItsRecords) {
  TTableImage image;
  image.fields = {{"NAME", 'C', 7}};
  for (int i = 1; i <= 10000; ++i) image.records.push_back(image.Record({NameOf(i)}, DeletedRecord(i)));
  const std::vector<uint8_t> bytes = image.Bytes();
  TMemoryStream stream;
  stream.WriteAt(0, bytes.data(), bytes.size());
  TDbfTable table;
  table.SetStorage(stoMemory);
  table.SetUserStream(&stream);
  table.Open();
  const std::vector<uint8_t> opened = stream.Data();
  TReports reports;
  table.OnProgress = reports.Callback();
  for (int at : {1, 3}) {
    reports.Cancel(at);
    EXPECT_EQ(Message([&] { table.Pack(); }), "Operation aborted");
    EXPECT_EQ(stream.Data(), opened);
    ASSERT_TRUE(table.Active());
    table.First();
    EXPECT_EQ(table.FieldByName("NAME").AsString(), NameOf(1));
  }
  reports.Cancel(0);
  table.Pack();
  reports.ExpectComplete(10000);
  EXPECT_EQ(reports.seen.size(), 3u);
  EXPECT_EQ(table.DbfFile()->RecordsInFile(), 10000 - 10000 / 7);
}

TEST(TableProgress, AFilterPassingOverManyRecordsReportsAndCanBeCancelled) {
  TProgressTable t;
  // QTY 999 only on records 999, 1999, ... and none of them deleted before 6993.
  t.table.SetFilter("QTY = 999");
  t.reports.Cancel(0);
  t.table.SetFiltered(true);
  // Reports come while the filter judges, with no whole to reach.
  std::vector<std::string> names = t.Names();
  EXPECT_EQ(names.size(), size_t(kRecords / 1000 - 3));  // 6993, 13986 and 20979 are multiples of 7
  ASSERT_FALSE(t.reports.seen.empty());
  for (const auto& [done, whole] : t.reports.seen) EXPECT_EQ(whole, 0);

  // A cancel in the middle of a move ends it with the table usable.
  t.reports.Cancel(1);
  EXPECT_THROW(t.table.SetFilter("QTY = 998 AND NAME = 'nothing'"), EAbort);
  EXPECT_TRUE(t.table.Active());
  t.reports.Cancel(0);
  t.table.SetFilter("QTY = 999");
  EXPECT_EQ(t.Names(), names);
  EXPECT_EQ(t.table.FieldByName("NAME").AsString(), names.back());
}

}  // namespace
}  // namespace norvale::test
