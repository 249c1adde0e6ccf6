// Progress reports of index builds and what a cancel from them leaves: the
// index files byte for byte as they were, no file or tag half made, and
// indexes that go on working.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/dbf_format.h"
#include "engine/exceptions.h"
#include "index/table_indexes.h"
#include "tests/index/index_test_tables.h"

namespace norvale::test {
namespace {

// Four read batches, the last one short.
constexpr int kRecords = 3 * TIndexFile::kBuildBatch + 100;

std::string Pad(const std::string& s) { return (s + std::string(10, ' ')).substr(0, 10); }

// NAME C(10) in an order unlike the record order, QTY N(6); every seventh
// record deleted.
void FillTable(TIndexedTable& t) {
  for (int i = 1; i <= kRecords; ++i) {
    char qty[8];
    std::snprintf(qty, sizeof qty, "%6d", i % 1000);
    t.AddRecord({Pad("K" + std::to_string((i * 7919) % 100003)), qty}, i % 7 == 0);
  }
}

// Every report, the whole each must name, and a cancel at report
// `cancelAt` (0: none).
struct TProgressLog {
  std::vector<int64_t> done;
  int64_t whole = kRecords;
  int cancelAt = 0;
  TIndexFile::TBuildProgress Callback() {
    return [this](int64_t d, int64_t total) {
      done.push_back(d);
      EXPECT_EQ(total, whole);
      if (static_cast<int>(done.size()) == cancelAt) throw Exception("Operation aborted");
    };
  }
  void Cancel(int at) {
    done.clear();
    cancelAt = at;
  }
};

TEST(IndexBuildProgress, CancelledRebuildLeavesTheMdxByteIdenticalAndWorking) {
  TIndexedTable t({{"NAME", 'C', 10}, {"QTY", 'N', 6}});
  FillTable(t);
  t.Open();
  TIndexFile& mdx = t.Index("t.mdx");
  mdx.CreateTag("NAME", "N", 0);
  mdx.CreateTag("QTY", "Q", ixDescending);
  mdx.CreateTag("NAME", "D", ixPrimary);
  TProgressLog log;
  mdx.SetBuildProgress(log.Callback());
  mdx.RebuildAll();
  // One pass over the records serves all three tags.
  EXPECT_EQ(log.done, (std::vector<int64_t>{4096, 8192, 12288, kRecords}));
  const auto before = ReadFile(t.dir.File("t.mdx"));
  std::vector<std::vector<std::pair<std::string, uint32_t>>> entries;
  for (int tag = 0; tag < 3; ++tag) entries.push_back(Entries(mdx, tag));
  ASSERT_EQ(entries[0].size(), size_t(kRecords));

  mdx.SelectTag(2);
  for (int at = 1; at <= 4; ++at) {
    log.Cancel(at);
    EXPECT_EQ(Message([&] { mdx.RebuildAll(); }), "Operation aborted");
    log.Cancel(at);
    EXPECT_EQ(Message([&] { mdx.RebuildTag(1); }), "Operation aborted");
    EXPECT_EQ(ReadFile(t.dir.File("t.mdx")), before) << "cancelled at report " << at;
    for (int tag = 0; tag < 3; ++tag) EXPECT_EQ(Entries(mdx, tag), entries[size_t(tag)]) << at;
    EXPECT_EQ(mdx.SelectedTag(), 2);
  }

  // The cached pages and headers are still the file's: a search finds, an
  // append goes in where a full rebuild puts it.
  mdx.SelectTag(0);
  EXPECT_TRUE(mdx.SeekKey(entries[0][100].first, smEqual));
  EXPECT_EQ(mdx.CurrentRecord(), entries[0][100].second);
  auto r = t.Record({Pad("A0"), "     7"});
  t.table->AppendRecord(r.data());
  const auto maintained = Entries(mdx, 0);
  EXPECT_EQ(maintained.front(), std::make_pair(Pad("A0"), uint32_t(kRecords + 1)));
  log.Cancel(0);
  log.whole = kRecords + 1;
  mdx.RebuildAll();
  EXPECT_EQ(Entries(mdx, 0), maintained);
}

// t.mdx with NAME and QTY, and qty.ndx, each built through the table's
// index administration.
struct TTableWithIndexes {
  TIndexedTable t{{{"NAME", 'C', 10}, {"QTY", 'N', 6}}};
  std::unique_ptr<TTableIndexes> indexes;
  TProgressLog log;

  explicit TTableWithIndexes(bool bare = false) {
    FillTable(t);
    t.Open();
    indexes = std::make_unique<TTableIndexes>(*t.table);
    if (!bare) {
      indexes->AttachIndex("NAME", "NAME", 0, true);
      indexes->AttachIndex("QTY", "QTY", ixDescending, true);
      indexes->AttachIndex("qty.ndx", "QTY", 0, true);
    }
    indexes->SetProgress(log.Callback());
    TFolderState::Age(t.dir.Path());
  }
  // Cancels `action` at each of `reports`, each time checking that no file
  // was touched and that `check` holds.
  void Cancel(std::vector<int> reports, const std::function<void()>& action, const std::function<void()>& check) {
    for (int at : reports) {
      const TFolderState before = TFolderState::Of(t.dir.Path());
      log.Cancel(at);
      EXPECT_EQ(Message(action), "Operation aborted") << at;
      EXPECT_EQ(TFolderState::Of(t.dir.Path()).ChangesSince(before), "") << "cancelled at report " << at;
      check();
    }
    log.Cancel(0);
  }
};

TEST(TableIndexProgress, CancelledAttachIndexLeavesNoNewTagOrFileAndOldOnesAsTheyWere) {
  TTableWithIndexes w;
  const auto names = w.indexes->IndexNames();
  int tag = -1;
  TIndexFile* mdx = w.indexes->Find("QTY", &tag);
  const auto qty = Entries(*mdx, tag);
  // A new tag, a new file, and an existing tag and file made again from
  // another expression.
  for (const char* name : {"BYQTY", "name.ndx", "QTY", "qty.ndx"})
    w.Cancel({1, 4}, [&] { w.indexes->AttachIndex(name, "NAME", 0, true); }, [&] {
      EXPECT_EQ(w.indexes->IndexNames(), names) << name;
      EXPECT_EQ(w.indexes->Files().size(), 2u) << name;
      EXPECT_EQ(Entries(*mdx, mdx->IndexOfTag("QTY")), qty) << name;
    });
  EXPECT_EQ(w.indexes->Find("qty.ndx", nullptr)->TagInfo(0).expression, "QTY");
  // The table no longer tells the removed file of its changes.
  auto r = w.t.Record({Pad("A0"), "     1"});
  w.t.table->AppendRecord(r.data());
  EXPECT_EQ(Records(*w.indexes->Find("qty.ndx", nullptr), 0).size(), size_t(kRecords + 1));

  w.log.whole = kRecords + 1;
  w.indexes->AttachIndex("BYQTY", "QTY", 0, true);
  EXPECT_EQ(w.log.done.back(), kRecords + 1);
  TIndexFile* byQty = w.indexes->Find("BYQTY", &tag);
  ASSERT_EQ(byQty, mdx);
  EXPECT_EQ(Records(*byQty, tag), Records(*w.indexes->Find("qty.ndx", nullptr), 0));
}

TEST(TableIndexProgress, CancelledNewProductionIndexLeavesNoFileAndNoFlag) {
  TTableWithIndexes w(true);
  w.Cancel({1, 4}, [&] { w.indexes->AttachIndex("NAME", "NAME", 0, true); }, [&] {
    EXPECT_EQ(w.indexes->Production(), nullptr);
    EXPECT_EQ(w.t.table->Header()[fmt::kIndexFlag], 0);
  });
  w.indexes->AttachIndex("NAME", "NAME", 0, true);
  EXPECT_EQ(w.t.table->Header()[fmt::kIndexFlag], 1);
}

TEST(TableIndexProgress, RebuildAllIndexesReadsEveryFileBeforeWritingAny) {
  TTableWithIndexes w;
  w.log.whole = 2 * kRecords;
  // Settles the layout a full rebuild writes, so that the next is the same.
  w.indexes->RebuildAllIndexes();
  // Two files, a pass each, reported as one whole.
  EXPECT_EQ(w.log.done, (std::vector<int64_t>{4096, 8192, 12288, kRecords, kRecords + 4096, kRecords + 8192,
                                              kRecords + 12288, 2 * kRecords}));
  TFolderState::Age(w.t.dir.Path());
  // The second file's first report comes once the first file's keys are
  // all read.
  w.Cancel({4, 5, 8}, [&] { w.indexes->RebuildAllIndexes(); }, [] {});
  // No callback stays with a file once its build is over.
  w.indexes->Find("qty.ndx", nullptr)->RebuildAll();
  EXPECT_TRUE(w.log.done.empty());
}

}  // namespace
}  // namespace norvale::test
