// Tree behaviour: splits, uniqueness rules, and a random model test of the
// table and its index file working together.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "engine/byte_order.h"
#include "engine/exceptions.h"
#include "tests/index/index_test_tables.h"

namespace norvale::test {
namespace {

using TEntrySet = std::multiset<std::pair<std::string, uint32_t>>;
using THolders = std::map<std::string, uint32_t>;

std::string Pad(const std::string& s, size_t n) { return (s + std::string(n, ' ')).substr(0, n); }

TEST(IndexTree, LeafSplitHalvesAndRootSplitWritesTheHeader) {
  TIndexedTable t({{"NAME", 'C', 10}});
  t.image.languageId = 0;
  t.Open();
  TIndexFile& mdx = t.Index("t.mdx");
  mdx.CreateTag("NAME", "N", 0);
  for (int i = 0; i < 64; ++i) {
    auto r = t.Record({Pad("K" + std::to_string(1000 + i), 10)});
    t.table->AppendRecord(r.data());
  }
  mdx.Flush();
  const auto bytes = ReadFile(t.dir.File("t.mdx"));
  const uint32_t root = GetLE32(bytes.data() + 4 * 512);
  EXPECT_NE(root, 6u);  // a new root above the old one
  const uint8_t* rootPage = bytes.data() + root * 512;
  EXPECT_EQ(GetLE32(rootPage), 1u);  // one keyed entry and the trailing link
  const uint32_t left = GetLE32(rootPage + 8);
  EXPECT_EQ(left, 6u);
  // 63 entries split with the insertion after them: 32 stay, 31 move, and
  // the insertion joins the new page.
  EXPECT_EQ(GetLE32(bytes.data() + left * 512), 32u);
  const uint32_t right = GetLE32(rootPage + 8 + 16);
  EXPECT_EQ(GetLE32(bytes.data() + right * 512), 32u);
  // The keyed entry holds the greatest key of the left page.
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(rootPage + 8 + 4), 10), Pad("K1031", 10));
  EXPECT_EQ(mdx.TreeDepth(0), 2);
  const auto recs = Records(mdx, 0);
  ASSERT_EQ(recs.size(), 64u);
  for (uint32_t i = 0; i < 64; ++i) EXPECT_EQ(recs[i], i + 1);
}

TEST(IndexTree, EqualKeysUniqueAndDistinct) {
  TIndexedTable t({{"NAME", 'C', 5}});
  t.Open();
  TIndexFile& normal = t.Index("n.ndx");
  normal.CreateTag("NAME", "", 0);
  TIndexFile& mdx = t.Index("t.mdx");
  mdx.CreateTag("NAME", "U", ixUnique);
  mdx.CreateTag("NAME", "D", ixPrimary);
  for (int i = 0; i < 3; ++i) {
    auto r = t.Record({i == 1 ? "bbb" : "aaa"});
    if (i < 2) {
      t.table->AppendRecord(r.data());
    } else {
      EXPECT_EQ(Message([&] { t.table->AppendRecord(r.data()); }),
                "Key violation. (Key already present in file).\r\nIndex: D\r\nRecord=1 Key='aaa'.");
    }
  }
  EXPECT_EQ(t.table->RecordCount(), 2u);
  // A unique tag keeps the first record per key without complaint.
  auto r3 = t.Record({"aaa"});
  EXPECT_TRUE(normal.AddRecordKey(3, r3.data()));
  mdx.SetUpdateAll(false);
  mdx.SelectTag(0);
  EXPECT_TRUE(mdx.AddRecordKey(3, r3.data()));
  EXPECT_EQ(Records(normal, 0), (std::vector<uint32_t>{1, 3, 2}));
  EXPECT_EQ(Records(mdx, 0), (std::vector<uint32_t>{1, 2}));
  // Removing the record the unique tag skipped leaves the holder's entry.
  mdx.RemoveRecordKey(3, r3.data());
  EXPECT_EQ(Records(mdx, 0), (std::vector<uint32_t>{1, 2}));
  // A distinct tag drops deleted records and refuses a recall whose key is
  // taken meanwhile.
  mdx.SetUpdateAll(true);
  auto r1 = t.Record({"aaa"});
  auto d1 = t.Record({"aaa"}, true);
  mdx.RemoveKeyOnDelete(1, d1.data());
  EXPECT_EQ(Records(mdx, 1), (std::vector<uint32_t>{2}));
  EXPECT_EQ(Records(mdx, 0), (std::vector<uint32_t>{1, 2}));
  auto r4 = t.Record({"aaa"});
  EXPECT_TRUE(mdx.AddRecordKey(4, r4.data()));
  EXPECT_FALSE(mdx.AddKeyOnRecall(1, r1.data()));
  EXPECT_NE(mdx.KeyViolationMessage().find("Record=4"), std::string::npos);
  EXPECT_EQ(Records(mdx, 1), (std::vector<uint32_t>{4, 2}));
}

TEST(IndexTree, NumericOrderInBothKinds) {
  TIndexedTable t({{"QTY", 'N', 8, 2}});
  t.Open();
  TIndexFile& ndx = t.Index("q.ndx");
  ndx.CreateTag("QTY", "", 0);
  TIndexFile& mdx = t.Index("t.mdx");
  mdx.CreateTag("QTY", "Q", 0);
  for (const char* v : {"    1.00", "    0.05", "   -1.00", "    0.00"}) {
    auto r = t.Record({v});
    t.table->AppendRecord(r.data());
  }
  EXPECT_EQ(Records(ndx, 0), (std::vector<uint32_t>{3, 4, 2, 1}));
  EXPECT_EQ(Records(mdx, 0), (std::vector<uint32_t>{3, 4, 2, 1}));
}

TEST(IndexTree, DeletingEveryKeyLeavesAnEmptyRoot) {
  TIndexedTable t({{"NAME", 'C', 30}});
  t.Open();
  TIndexFile& ndx = t.Index("n.ndx");
  ndx.CreateTag("NAME", "", 0);
  std::vector<std::vector<uint8_t>> records;
  for (int i = 0; i < 300; ++i) {
    records.push_back(t.Record({"k" + std::to_string(i * 7919 % 300)}));
    ASSERT_TRUE(ndx.AddRecordKey(i + 1, records.back().data()));
  }
  EXPECT_GE(ndx.TreeDepth(0), 3);
  ndx.Flush();
  const size_t size = ReadFile(t.dir.File("n.ndx")).size();
  for (int i = 0; i < 300; ++i) ndx.RemoveRecordKey(i + 1, records[static_cast<size_t>(i)].data());
  EXPECT_TRUE(Records(ndx, 0).empty());
  ndx.Flush();
  EXPECT_EQ(ReadFile(t.dir.File("n.ndx")).size(), size);
  for (int i = 0; i < 300; ++i) ASSERT_TRUE(ndx.AddRecordKey(i + 1, records[static_cast<size_t>(i)].data()));
  EXPECT_EQ(Records(ndx, 0).size(), 300u);
}

// Random appends, edits, deletes and recalls through the table file, with
// every tag checked against a model of what it must hold.
TEST(IndexTree, RandomOperationsAgainstAModel) {
  TIndexedTable t({{"A", 'C', 1}, {"B", 'C', 20}, {"C", 'C', 100}, {"N", 'N', 6}});
  t.image.languageId = 0;
  t.Open();
  TIndexFile& mdx = t.Index("t.mdx");
  mdx.CreateTag("A", "TA", 0);
  mdx.CreateTag("B", "TB", ixUnique);
  mdx.CreateTag("C", "TC", 0);
  mdx.CreateTag("N", "TN", ixPrimary);
  mdx.CreateTag("N", "TM", ixDescending);
  TIndexFile& ndx = t.Index("c.ndx");
  ndx.CreateTag("C", "", 0);
  mdx.SetUpdateAll(true);

  std::mt19937 rng(7);
  std::vector<std::vector<uint8_t>> rows;  // what the table holds
  auto makeRow = [&](bool deleted) {
    const std::string a(1, static_cast<char>('a' + rng() % 4));
    const std::string b = "b" + std::to_string(rng() % 60);
    const std::string c = std::string(1 + rng() % 3, 'c') + std::to_string(rng() % 2000);
    const std::string n = std::to_string(static_cast<int>(rng() % 50000) - 100);
    return t.Record({a, b, c, std::string(6 - std::min<size_t>(6, n.size()), ' ') + n}, deleted);
  };
  // Unique and distinct tags keep the first holder of a key; the model
  // follows who holds each.
  std::map<std::string, uint32_t> uniqueHolder, distinctHolder;
  auto keyOf = [&](int tag, const std::vector<uint8_t>& row) {
    mdx.SelectTag(tag);
    return mdx.BuildKey(row.data());
  };
  auto check = [&] {
    for (int tag : {0, 2, 4}) {
      TEntrySet want;
      for (size_t i = 0; i < rows.size(); ++i) want.insert({keyOf(tag, rows[i]), static_cast<uint32_t>(i + 1)});
      const auto got = Entries(mdx, tag);
      ASSERT_EQ(TEntrySet(got.begin(), got.end()), want) << "tag " << tag;
      if (tag != 4)
        for (size_t i = 1; i < got.size(); ++i) ASSERT_LE(got[i - 1].first, got[i].first);
    }
    const auto u = Entries(mdx, 1);
    ASSERT_EQ(THolders(u.begin(), u.end()), uniqueHolder);
    const auto d = Entries(mdx, 3);
    ASSERT_EQ(THolders(d.begin(), d.end()), distinctHolder);
    ASSERT_EQ(Entries(ndx, 0).size(), rows.size());
  };
  auto take = [](std::map<std::string, uint32_t>& holders, const std::string& key, uint32_t rec) {
    holders.emplace(key, rec);
  };
  auto drop = [](std::map<std::string, uint32_t>& holders, const std::string& key, uint32_t rec) {
    auto it = holders.find(key);
    if (it != holders.end() && it->second == rec) holders.erase(it);
  };
  std::vector<uint8_t> buffer(static_cast<size_t>(t.table->RecordLength()));
  for (int step = 0; step < 3000; ++step) {
    const int op = rows.empty() ? 0 : static_cast<int>(rng() % 10);
    if (op < 5) {  // append
      auto row = makeRow(false);
      const uint32_t rec = static_cast<uint32_t>(rows.size() + 1);
      const std::string dk = keyOf(3, row);
      buffer = row;
      try {
        t.table->AppendRecord(buffer.data());
      } catch (const EDbfError&) {
        ASSERT_TRUE(distinctHolder.count(dk)) << "step " << step;
        continue;
      }
      ASSERT_FALSE(distinctHolder.count(dk));
      rows.push_back(row);
      take(uniqueHolder, keyOf(1, row), rec);
      distinctHolder[dk] = rec;
    } else {
      const uint32_t rec = static_cast<uint32_t>(1 + rng() % rows.size());
      std::vector<uint8_t>& before = rows[rec - 1];
      std::vector<uint8_t> after;
      if (op < 8) {
        after = makeRow(before[0] == '*');
        // Keep some fields, so that only some tags see a change.
        if (rng() % 2) std::copy(before.begin() + 1, before.begin() + 2, after.begin() + 1);
        if (rng() % 2) std::copy(before.end() - 6, before.end(), after.end() - 6);
      } else {
        after = before;
        after[0] = before[0] == '*' ? ' ' : '*';
      }
      const bool deletedBefore = before[0] == '*', deletedAfter = after[0] == '*';
      const std::string dkOld = keyOf(3, before), dkNew = keyOf(3, after);
      const std::string ukOld = keyOf(1, before), ukNew = keyOf(1, after);
      t.table->LockAndReadRecord(rec, buffer.data());
      ASSERT_EQ(buffer, before);
      buffer = after;
      bool refused = false;
      try {
        t.table->WriteBackRecord(rec, buffer.data());
      } catch (const EDbfError&) {
        refused = true;
        t.table->UnlockRecord(rec);
      }
      // The distinct tag refuses when another live record holds the key.
      std::map<std::string, uint32_t> d = distinctHolder;
      if (!deletedBefore) drop(d, dkOld, rec);
      const bool clash = !deletedAfter && d.count(dkNew) && d[dkNew] != rec;
      ASSERT_EQ(refused, clash) << "step " << step;
      if (refused) continue;
      if (!deletedAfter) d[dkNew] = rec;
      distinctHolder = d;
      if (ukOld != ukNew) {
        drop(uniqueHolder, ukOld, rec);
        take(uniqueHolder, ukNew, rec);
      }
      before = after;
    }
    if (step % 25 == 0) {
      check();
      if (HasFatalFailure()) return;
    }
  }
  check();
  EXPECT_GE(mdx.TreeDepth(2), 3);
  EXPECT_GE(ndx.TreeDepth(0), 3);
  // A bulk rebuild holds the same entries as the tree built step by step.
  mdx.Flush();
  std::vector<std::vector<std::pair<std::string, uint32_t>>> stepwise;
  for (int tag : {0, 2, 4}) stepwise.push_back(Entries(mdx, tag));
  const auto ndxStepwise = Entries(ndx, 0);
  mdx.RebuildAll();
  ndx.RebuildAll();
  int i = 0;
  for (int tag : {0, 2, 4}) {
    const auto bulk = Entries(mdx, tag);
    const auto& old = stepwise[static_cast<size_t>(i++)];
    EXPECT_EQ(TEntrySet(bulk.begin(), bulk.end()),
              TEntrySet(old.begin(), old.end()));
    for (size_t k = 0; k < bulk.size(); ++k) EXPECT_EQ(bulk[k].first, old[k].first);
  }
  const auto ndxBulk = Entries(ndx, 0);
  EXPECT_EQ(TEntrySet(ndxBulk.begin(), ndxBulk.end()),
            TEntrySet(ndxStepwise.begin(), ndxStepwise.end()));
  // The rebuilt tree takes further changes like any other.
  for (size_t r = 0; r < rows.size() && r < 200; ++r) {
    ndx.RemoveRecordKey(static_cast<int64_t>(r + 1), rows[r].data());
  }
  EXPECT_EQ(Entries(ndx, 0).size(), rows.size() - std::min<size_t>(rows.size(), 200));
  // Distinct rebuild: live records only, the first per key.
  std::map<std::string, uint32_t> firstLive;
  for (size_t r = 0; r < rows.size(); ++r)
    if (rows[r][0] != '*') firstLive.emplace(keyOf(3, rows[r]), static_cast<uint32_t>(r + 1));
  const auto d = Entries(mdx, 3);
  EXPECT_EQ(THolders(d.begin(), d.end()), firstLive);
}

}  // namespace
}  // namespace norvale::test
