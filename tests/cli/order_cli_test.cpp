// norvale-cli dump in index order: the corpus tables in the order their
// expected index entries give, and seeks and ranges that hold exactly the
// records a scan of the same table selects.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>

#include "tests/support/test_support.h"

namespace norvale::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

std::string Quote(const std::string& s) { return "'" + s + "'"; }

TCommandResult Cli(const std::string& args) { return RunCommand(std::string(NORVALE_CLI) + " " + args + " 2>&1"); }

std::vector<int> DumpRecNos(const std::string& args) {
  const TCommandResult run = Cli("dump " + args);
  EXPECT_EQ(run.status, 0) << args << "\n" << run.out;
  std::vector<int> recNos;
  if (run.status != 0) return recNos;
  const json dump = json::parse(run.out);
  for (const json& r : dump["records"]) recNos.push_back(r["recno"].get<int>());
  return recNos;
}

TEST(OrderCli, CorpusTablesDumpInTheOrderOfTheirIndexes) {
  int dumped = 0;
  for (const std::string& name : CorpusTables()) {
    std::ifstream in(fs::path(CorpusDir()) / (name + ".expected.json"));
    const json expected = json::parse(in);
    if (!expected.contains("indexes")) continue;
    SCOPED_TRACE(name);
    TTempDir dir;
    const std::string table = CopyCorpusTable(name, dir);
    for (const json& file : expected["indexes"]) {
      const fs::path from = fs::path(CorpusDir()) / fs::path(name).parent_path() / file["file"].get<std::string>();
      const fs::path to = fs::path(dir.Path()) / file["file"].get<std::string>();
      if (!fs::exists(to)) fs::copy_file(from, to);
    }
    for (const json& file : expected["indexes"]) {
      const std::string fileName = file["file"].get<std::string>();
      const bool mdx = fileName.ends_with(".MDX") || fileName.ends_with(".mdx");
      for (const json& index : file["indexes"]) {
        const std::string order =
            mdx ? "--order " + index["tag"].get<std::string>() : "--index " + Quote(fileName);
        std::vector<int> wanted;
        for (const json& e : index["entries"]) wanted.push_back(e["recno"].get<int>());
        EXPECT_EQ(DumpRecNos(Quote(table) + " " + order + " --deleted"), wanted) << fileName << " " << order;
        ++dumped;
      }
    }
  }
  EXPECT_GE(dumped, 10);
}

// NAME C(10) with repeats, QTY N(6), DAY D; some records deleted.
struct TSampleTable {
  TTempDir dir;
  std::string path;
  std::vector<std::string> names;
  std::vector<int> qtys;
  std::vector<bool> deleted;
  TSampleTable() {
    TTableImage t;
    t.fields = {{"NAME", 'C', 10}, {"QTY", 'N', 6}, {"DAY", 'D', 8}};
    std::mt19937 random(5);
    for (int i = 0; i < 1500; ++i) {
      names.push_back("n" + std::to_string(random() % 120));
      qtys.push_back(int(random() % 2000) - 1000);
      deleted.push_back(random() % 9 == 0);
      char qty[8], day[12];
      std::snprintf(qty, sizeof qty, "%6d", qtys.back());
      std::snprintf(day, sizeof day, "2020%02d%02d", 1 + int(random() % 12), 1 + int(random() % 28));
      t.records.push_back(t.Record({names.back(), qty, day}, deleted.back()));
    }
    path = dir.File("t.dbf");
    WriteFile(path, t.Bytes());
    for (const char* tag : {"NAME NAME", "QTY QTY", "RQTY QTY --descending"})
      EXPECT_EQ(Cli("index create " + Quote(path) + " " + tag).status, 0) << tag;
    EXPECT_EQ(Cli("index create " + Quote(path) + " X NAME --index byname.ndx").status, 0);
  }
};

TEST(OrderCli, SeeksAndRangesHoldWhatAScanSelects) {
  TSampleTable s;
  const std::string t = Quote(s.path);
  // The whole order skips deleted records unless asked for them.
  const std::vector<int> all = DumpRecNos(t + " --order NAME --deleted");
  ASSERT_EQ(all.size(), 1500u);
  for (size_t i = 1; i < all.size(); ++i)
    ASSERT_LE(s.names[size_t(all[i - 1] - 1)], s.names[size_t(all[i] - 1)]);
  EXPECT_EQ(DumpRecNos(t + " --index byname.ndx --deleted"), all);
  const std::vector<int> live = DumpRecNos(t + " --order NAME");
  EXPECT_EQ(live.size(), size_t(std::count(s.deleted.begin(), s.deleted.end(), false)));

  // Seeks: the live records of that name, in record order (equal keys keep it).
  for (const std::string name : {"n7", "n77", "n119", "n999", "n"}) {
    std::vector<int> wanted;
    for (size_t i = 0; i < s.names.size(); ++i)
      if (s.names[i] == name && !s.deleted[i]) wanted.push_back(int(i + 1));
    EXPECT_EQ(DumpRecNos(t + " --order NAME --seek " + name), wanted) << name;
    EXPECT_EQ(DumpRecNos(t + " --index byname.ndx --seek " + name), wanted) << name;
  }
  // Numeric ranges, both directions of the order.
  const std::pair<int, int> ranges[] = {{-1000, 999}, {-10, 10}, {500, 499}, {3, 3}, {998, 5000}};
  for (const auto& [low, high] : ranges) {
    std::vector<std::pair<int, int>> wanted;
    for (size_t i = 0; i < s.qtys.size(); ++i)
      if (s.qtys[i] >= low && s.qtys[i] <= high && !s.deleted[i]) wanted.emplace_back(s.qtys[i], int(i + 1));
    std::stable_sort(wanted.begin(), wanted.end(), [](auto& a, auto& b) { return a.first < b.first; });
    std::vector<int> ascending;
    for (const auto& w : wanted) ascending.push_back(w.second);
    const std::string range = " --range " + std::to_string(low) + " " + std::to_string(high);
    EXPECT_EQ(DumpRecNos(t + " --order QTY" + range), ascending) << range;
    // Descending: from high to low, so the range is given high first.
    std::stable_sort(wanted.begin(), wanted.end(), [](auto& a, auto& b) { return a.first > b.first; });
    std::vector<int> descending;
    for (const auto& w : wanted) descending.push_back(w.second);
    const std::string reversed = " --range " + std::to_string(high) + " " + std::to_string(low);
    EXPECT_EQ(DumpRecNos(t + " --order RQTY" + reversed), descending) << reversed;
  }
  // A filter applies within the order.
  std::vector<int> filtered;
  for (int r : live)
    if (s.qtys[size_t(r - 1)] > 900) filtered.push_back(r);
  EXPECT_EQ(DumpRecNos(t + " --order NAME --where 'QTY > 900'"), filtered);
  // Mistakes are named.
  EXPECT_NE(Cli("dump " + t + " --order NOPE").out.find("no tag NOPE"), std::string::npos);
  EXPECT_NE(Cli("dump " + t + " --order QTY --seek abc").out.find("is not a number"), std::string::npos);
  EXPECT_EQ(Cli("dump " + t + " --seek x").status, 2);
}

}  // namespace
}  // namespace norvale::test
