// Walking tags in key order: both directions over deep trees, seeks, record
// positioning, position numbers, ranges, and walks that go on while the tree
// changes under them.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "engine/byte_order.h"
#include "tests/index/index_test_tables.h"

namespace norvale::test {
namespace {

std::string Pad(const std::string& s, size_t n) { return (s + std::string(n, ' ')).substr(0, n); }

using TEntryList = std::vector<std::pair<std::string, uint32_t>>;

TEntryList WalkForward(TIndexFile& file) {
  TEntryList out;
  file.MoveFirst();
  while (file.MoveNext()) out.emplace_back(file.CurrentKey(), static_cast<uint32_t>(file.CurrentRecord()));
  return out;
}

TEntryList WalkBackward(TIndexFile& file) {
  TEntryList out;
  file.MoveLast();
  while (file.MovePrior()) out.emplace_back(file.CurrentKey(), static_cast<uint32_t>(file.CurrentRecord()));
  std::reverse(out.begin(), out.end());
  return out;
}

// A table of `count` records with a C(width) key of even numbers, each
// appearing `copies` times, in a scrambled record order.
struct TNumberedTable {
  TIndexedTable t;
  TIndexFile* mdx = nullptr;
  size_t width;
  explicit TNumberedTable(size_t width, int distinct, int copies = 1) : t({{"NAME", 'C', int(width)}}), width(width) {
    t.image.languageId = 0;
    t.Open();
    mdx = &t.Index("t.mdx");
    mdx->CreateTag("NAME", "N", 0);
    const int count = distinct * copies;
    for (int i = 0; i < count; ++i) {
      const int k = (i * 7919) % count % distinct;
      auto r = t.Record({Key(k)});
      t.table->AppendRecord(r.data());
    }
  }
  std::string Key(int k) const {
    char text[16];
    std::snprintf(text, sizeof text, "K%06d", 2 * k);
    return Pad(text, width);
  }
  std::string Between(int k) const {
    char text[16];
    std::snprintf(text, sizeof text, "K%06d", 2 * k + 1);
    return Pad(text, width);
  }
};

TEST(IndexNavigation, BothDirectionsOverAThreeLevelTreeMeetEveryEntryInOrder) {
  TNumberedTable n(100, 400);
  TIndexFile& mdx = *n.mdx;
  ASSERT_GE(mdx.TreeDepth(0), 3);
  const TEntryList all = Entries(mdx, 0);
  ASSERT_EQ(all.size(), 400u);
  EXPECT_EQ(WalkForward(mdx), all);
  EXPECT_EQ(WalkBackward(mdx), all);
  // Off either end the walk stays off it, and turns back onto the edge.
  mdx.MoveFirst();
  EXPECT_FALSE(mdx.MovePrior());
  EXPECT_EQ(mdx.CurrentRecord(), -1);
  EXPECT_TRUE(mdx.MoveNext());
  EXPECT_EQ(mdx.CurrentRecord(), all.front().second);
  EXPECT_FALSE(mdx.MovePrior());
  EXPECT_EQ(mdx.GetIndexPosition(), 0);
  mdx.MoveLast();
  EXPECT_EQ(mdx.GetIndexPosition(), TIndexFile::kAfterLast);
  EXPECT_FALSE(mdx.MoveNext());
  EXPECT_TRUE(mdx.MovePrior());
  EXPECT_EQ(mdx.CurrentRecord(), all.back().second);
}

// Steps taken many at a time meet the same entries as single steps, and
// single steps go on from where the batch stopped.
TEST(IndexNavigation, BatchesOfStepsMeetWhatSingleStepsMeet) {
  TNumberedTable n(20, 500);
  TIndexFile& mdx = *n.mdx;
  for (const bool ranged : {false, true}) {
    if (ranged) mdx.SetKeyRange(n.Between(30), n.Key(420));
    const TEntryList single = WalkForward(mdx);
    std::vector<uint32_t> wanted;
    for (const auto& e : single) wanted.push_back(e.second);
    for (const int size : {1, 7, 64, 1000}) {
      SCOPED_TRACE(std::to_string(size) + (ranged ? " ranged" : ""));
      std::vector<uint32_t> got;
      std::vector<int64_t> batch(static_cast<size_t>(size));
      mdx.MoveFirst();
      // Every other batch is followed by one single step.
      for (int round = 0;; ++round) {
        const int count = mdx.MoveNextMany(batch.data(), size);
        for (int i = 0; i < count; ++i) got.push_back(static_cast<uint32_t>(batch[static_cast<size_t>(i)]));
        if (count < size) break;
        if (round % 2 == 1) {
          if (!mdx.MoveNext()) break;
          got.push_back(static_cast<uint32_t>(mdx.CurrentRecord()));
        }
      }
      EXPECT_EQ(got, wanted);
      EXPECT_EQ(mdx.CurrentRecord(), -1);
      EXPECT_EQ(mdx.MoveNextMany(batch.data(), size), 0);
    }
  }
}

TEST(IndexNavigation, PositionsRoundTripEveryEntry) {
  TNumberedTable n(100, 400);
  TIndexFile& mdx = *n.mdx;
  ASSERT_GE(mdx.TreeDepth(0), 3);
  std::vector<std::pair<int64_t, uint32_t>> positions;
  mdx.MoveFirst();
  while (mdx.MoveNext()) positions.emplace_back(mdx.GetIndexPosition(), uint32_t(mdx.CurrentRecord()));
  ASSERT_EQ(positions.size(), 400u);
  for (size_t i = 1; i < positions.size(); ++i) ASSERT_LT(positions[i - 1].first, positions[i].first);
  EXPECT_EQ(positions.front().first, 1);
  EXPECT_GE(mdx.EstimatedCount(), positions.back().first);
  for (const auto& [position, recNo] : positions) {
    mdx.SetIndexPosition(position);
    ASSERT_EQ(mdx.CurrentRecord(), recNo) << "position " << position;
    ASSERT_EQ(mdx.GetIndexPosition(), position);
  }
  // Positions between two entries' numbers land on the later entry; past
  // the estimate, on the last.
  mdx.SetIndexPosition(positions[10].first + 1);
  EXPECT_EQ(mdx.CurrentRecord(), positions[11].second);
  mdx.SetIndexPosition(TIndexFile::kAfterLast - 1);
  EXPECT_EQ(mdx.CurrentRecord(), positions.back().second);
  mdx.SetIndexPosition(0);
  EXPECT_EQ(mdx.CurrentRecord(), -1);
  EXPECT_TRUE(mdx.MoveNext());
  EXPECT_EQ(mdx.CurrentRecord(), positions.front().second);
}

TEST(IndexNavigation, SeeksByKeyPrefixAndRecord) {
  TNumberedTable n(20, 100, 3);
  TIndexFile& mdx = *n.mdx;
  const TEntryList all = Entries(mdx, 0);
  // Equal: the first of the three; absent: not found, position kept.
  ASSERT_TRUE(mdx.SeekKey(n.Key(40), smEqual));
  const auto first40 = std::find_if(all.begin(), all.end(), [&](auto& e) { return e.first == n.Key(40); });
  EXPECT_EQ(mdx.CurrentRecord(), first40->second);
  EXPECT_FALSE(mdx.SeekKey(n.Between(40), smEqual));
  EXPECT_EQ(mdx.CurrentRecord(), first40->second);
  // Greater or equal from between two keys: the next key's first entry.
  ASSERT_TRUE(mdx.SeekKey(n.Between(40), smGreaterOrEqual));
  EXPECT_EQ(mdx.CurrentKey(), n.Key(41));
  // Greater on a key held by three records: the entry after all three.
  ASSERT_TRUE(mdx.SeekKey(n.Key(40), smGreater));
  EXPECT_EQ(mdx.CurrentRecord(), (first40 + 3)->second);
  EXPECT_FALSE(mdx.SeekKey(n.Key(99), smGreater));
  EXPECT_FALSE(mdx.SeekKey("short", smEqual));
  // Prefix: "K00008" starts K000080..K000088, "K0001" K000100..K000198;
  // the keys end at K000198.
  ASSERT_TRUE(mdx.SeekPrefix("K00008"));
  EXPECT_EQ(mdx.CurrentKey(), n.Key(40));
  ASSERT_TRUE(mdx.SeekPrefix("K0001"));
  EXPECT_EQ(mdx.CurrentKey(), n.Key(50));
  ASSERT_TRUE(mdx.SeekPrefix(""));
  EXPECT_EQ(mdx.CurrentKey(), n.Key(0));
  EXPECT_FALSE(mdx.SeekPrefix("K0002"));
  EXPECT_FALSE(mdx.SeekPrefix("L"));
  // Every record is found on its own entry, also among equal keys; the
  // walk goes on from there.
  for (size_t i = 0; i < all.size(); ++i) {
    ASSERT_TRUE(mdx.GotoRecord(all[i].second));
    ASSERT_EQ(mdx.CurrentRecord(), all[i].second);
    if (i + 1 < all.size()) {
      ASSERT_TRUE(mdx.MoveNext());
      ASSERT_EQ(mdx.CurrentRecord(), all[i + 1].second);
    }
  }
  EXPECT_FALSE(mdx.GotoRecord(301));
  EXPECT_FALSE(mdx.GotoRecord(0));
}

TEST(IndexNavigation, RangesHoldExactlyTheirKeysAndEmptyRangesNothing) {
  TNumberedTable n(30, 300);
  TIndexFile& mdx = *n.mdx;
  ASSERT_GE(mdx.TreeDepth(0), 2);
  const TEntryList all = Entries(mdx, 0);
  const auto within = [&](const std::string& low, const std::string& high) {
    TEntryList out;
    for (const auto& e : all)
      if (e.first >= low && e.first <= high) out.push_back(e);
    return out;
  };
  // Ranges over many leaves, given by present and by absent keys.
  const std::pair<std::string, std::string> ranges[] = {
      {n.Key(3), n.Key(250)}, {n.Between(3), n.Between(250)}, {n.Key(0), n.Key(299)}, {n.Key(77), n.Key(77)}};
  for (const auto& [low, high] : ranges) {
    SCOPED_TRACE(low + ".." + high);
    mdx.SetKeyRange(low, high);
    const TEntryList wanted = within(low, high);
    EXPECT_EQ(WalkForward(mdx), wanted);
    EXPECT_EQ(WalkBackward(mdx), wanted);
    // Seeks and positions stay inside.
    if (n.Key(299) > high) {
      EXPECT_FALSE(mdx.SeekKey(n.Key(299), smEqual));
    }
    mdx.SetIndexPosition(1);
    EXPECT_EQ(mdx.CurrentRecord(), wanted.front().second);
    mdx.SetIndexPosition(TIndexFile::kAfterLast - 1);
    EXPECT_EQ(mdx.CurrentRecord(), wanted.back().second);
  }
  // Every gap between two neighbours, page boundaries among them, holds
  // nothing in either direction.
  for (int k = 0; k < 299; ++k) {
    mdx.SetKeyRange(n.Between(k), n.Between(k));
    mdx.MoveFirst();
    ASSERT_FALSE(mdx.MoveNext()) << k;
    mdx.MoveLast();
    ASSERT_FALSE(mdx.MovePrior()) << k;
  }
  mdx.ClearKeyRange();
  EXPECT_EQ(WalkForward(mdx).size(), 300u);
}

TEST(IndexNavigation, EachTagKeepsItsRangeAndPosition) {
  TIndexedTable t({{"NAME", 'C', 10}, {"QTY", 'N', 8, 2}});
  t.image.languageId = 0;
  t.Open();
  TIndexFile& mdx = t.Index("t.mdx");
  mdx.CreateTag("NAME", "N", 0);
  mdx.CreateTag("QTY", "Q", ixDescending);
  for (int i = 0; i < 50; ++i) {
    char qty[16];
    std::snprintf(qty, sizeof qty, "%8.2f", (i * 37 % 50) - 25.5);
    auto r = t.Record({"n" + std::to_string(100 + i), qty});
    t.table->AppendRecord(r.data());
  }
  mdx.SelectTag(0);
  mdx.SetKeyRange(Pad("n110", 10), Pad("n119", 10));
  ASSERT_TRUE(mdx.SeekKey(Pad("n115", 10), smEqual));
  mdx.SelectTag(1);
  EXPECT_FALSE(mdx.RangeActive());
  // Descending: the greatest amount first, and seeks in that order.
  const TEntryList q = WalkForward(mdx);
  ASSERT_EQ(q.size(), 50u);
  EXPECT_EQ(q.front().second, Entries(mdx, 1).front().second);
  ASSERT_TRUE(mdx.SeekKey(mdx.SearchKey(0.0), smGreaterOrEqual));
  EXPECT_EQ(mdx.CurrentKey(), mdx.SearchKey(-0.5));
  ASSERT_TRUE(mdx.SeekKey(mdx.SearchKey(-25.5), smEqual));
  mdx.SelectTag(0);
  EXPECT_TRUE(mdx.RangeActive());
  EXPECT_EQ(mdx.CurrentKey(), Pad("n115", 10));
  EXPECT_EQ(WalkForward(mdx).size(), 10u);
}

TEST(IndexNavigation, NumericSearchKeysFindStoredKeysInBothKinds) {
  TIndexedTable t({{"QTY", 'N', 8, 0}, {"AMT", 'N', 10, 2}});
  t.Open();
  TIndexFile& ndx = t.Index("q.ndx");
  ndx.CreateTag("QTY", "", 0);
  TIndexFile& mdx = t.Index("t.mdx");
  mdx.CreateTag("QTY", "Q", 0);
  mdx.CreateTag("AMT", "A", 0);
  for (int i = 0; i < 40; ++i) {
    char qty[16], amt[16];
    std::snprintf(qty, sizeof qty, "%8d", i * 1000 - 7000);
    std::snprintf(amt, sizeof amt, "%10.2f", i * 0.25 - 3);
    auto r = t.Record({qty, amt});
    t.table->AppendRecord(r.data());
  }
  for (TIndexFile* f : {&ndx, &mdx}) {
    f->SelectTag(0);
    ASSERT_TRUE(f->SeekKey(f->SearchKey(12000.0), smEqual));
    EXPECT_EQ(f->CurrentRecord(), 20);
    ASSERT_TRUE(f->SeekKey(f->SearchKey(std::string_view("-7000")), smEqual));
    EXPECT_EQ(f->CurrentRecord(), 1);
    EXPECT_FALSE(f->SeekKey(f->SearchKey(12001.0), smEqual));
  }
  mdx.SelectTag(1);
  ASSERT_TRUE(mdx.SeekKey(mdx.SearchKey(1.75), smEqual));
  EXPECT_EQ(mdx.CurrentRecord(), 20);
  // A whole number stored by a field with decimals.
  ASSERT_TRUE(mdx.SeekKey(mdx.SearchKey(2.0), smEqual));
  EXPECT_EQ(mdx.CurrentRecord(), 21);
}

// Appends and deletes between the steps of a walk: it neither repeats nor
// skips an entry that was there all along, and a gone entry is stepped past.
TEST(IndexNavigation, AWalkGoesOnWhileTheTreeChanges) {
  TNumberedTable n(20, 200);
  TIndexFile& mdx = *n.mdx;
  std::mt19937 random(11);
  mdx.MoveFirst();
  TEntryList seen;
  int appended = 0;
  while (mdx.MoveNext()) {
    const std::string key = mdx.CurrentKey();
    const uint32_t recNo = static_cast<uint32_t>(mdx.CurrentRecord());
    seen.emplace_back(key, recNo);
    if (random() % 3 == 0) {
      // New keys, odd ones, anywhere in the order (splits included).
      auto r = n.t.Record({n.Between(int(random() % 200))});
      n.t.table->AppendRecord(r.data());
      ++appended;
    }
    if (random() % 5 == 0) {
      // The current entry goes: the next step lands after it.
      auto r = n.t.Record({key});
      mdx.RemoveRecordKey(recNo, r.data());
    }
  }
  std::vector<std::string> evens;
  for (const auto& e : seen)
    if ((e.first[6] - '0') % 2 == 0) evens.push_back(e.first);
  // Every original key met once, in order; the keys seen never go back.
  ASSERT_EQ(evens.size(), 200u);
  for (int k = 0; k < 200; ++k) EXPECT_EQ(evens[size_t(k)], n.Key(k));
  for (size_t i = 1; i < seen.size(); ++i) ASSERT_LE(seen[i - 1].first, seen[i].first);
  EXPECT_GT(appended, 30);
}

}  // namespace
}  // namespace norvale::test
