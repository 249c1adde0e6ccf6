// Index files written by other programs, walked in tree order and compared
// with what an independent reader saw in them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>

#include "engine/byte_order.h"
#include "index/index_keys.h"
#include "tests/index/index_test_tables.h"

namespace norvale::test {
namespace {

using nlohmann::json;

struct TCorpusIndex {
  const char* table;  // folder/name of the table, no extension
  const char* file;   // the index file beside it
};

const TCorpusIndex kCorpus[] = {
    {"github/incubus-DBD-XBase/ndx-char", "ndx-char.ndx"},
    {"github/incubus-DBD-XBase/ndx-date", "ndx-date.ndx"},
    {"github/apache-metamodel/report", "report.ndx"},
    {"generated/xbase64/XBNDX", "XBNDXC.NDX"},
    {"generated/xbase64/XBNDX", "XBNDXN.NDX"},
    {"generated/xbase64/XBNDX", "XBNDXD.NDX"},
    {"generated/xbase64/XBMDX", "XBMDX.MDX"},
};

std::string Hex(std::string_view bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

class IndexCorpus : public ::testing::TestWithParam<TCorpusIndex> {};

TEST_P(IndexCorpus, EntriesInTreeOrderMatchTheIndependentReader) {
  const TCorpusIndex& c = GetParam();
  const std::string base = CorpusDir() + "/" + c.table;
  const json expected = json::parse(ReadFileText(base + ".expected.json"));
  const json* files = nullptr;
  for (const json& f : expected["indexes"])
    if (f["file"] == c.file) files = &f;
  ASSERT_NE(files, nullptr);

  std::string tablePath = base + ".dbf";
  if (!std::ifstream(tablePath)) tablePath = base + ".DBF";
  TDbfFile table;
  table.SetFileName(tablePath);
  table.SetMode(amReadOnly);
  table.Open();
  const std::string dir = tablePath.substr(0, tablePath.find_last_of('/') + 1);
  TIndexFile index(&table);
  index.SetFileName(dir + c.file);
  index.SetMode(amReadOnly);
  index.Open();

  const json& tags = (*files)["indexes"];
  ASSERT_EQ(index.TagCount(), static_cast<int>(tags.size()));
  for (const json& t : tags) {
    const int tag = t["tag"].is_null() ? 0 : index.IndexOfTag(t["tag"].get<std::string>());
    ASSERT_GE(tag, 0) << t["tag"];
    if (t.contains("key_length")) EXPECT_EQ(index.TagInfo(tag).keyLength, t["key_length"].get<int>());
    const auto entries = Entries(index, tag);
    const json& want = t["entries"];
    ASSERT_EQ(entries.size(), want.size()) << c.file << " tag " << tag;
    for (size_t i = 0; i < entries.size(); ++i) {
      SCOPED_TRACE(std::string(c.file) + " entry " + std::to_string(i));
      EXPECT_EQ(entries[i].second, want[i]["recno"].get<uint32_t>());
      const std::string& key = entries[i].first;
      if (want[i].contains("key_hex")) {
        EXPECT_EQ(Hex(key), want[i]["key_hex"].get<std::string>());
      } else if (want[i]["key"].is_string()) {
        EXPECT_EQ(key, want[i]["key"].get<std::string>());
      } else {
        ASSERT_EQ(key.size(), 8u);
        const double v = BitsToDouble(GetLE64(reinterpret_cast<const uint8_t*>(key.data())));
        EXPECT_DOUBLE_EQ(v, want[i]["key"].get<double>());
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Files, IndexCorpus, ::testing::ValuesIn(kCorpus),
                         [](const ::testing::TestParamInfo<TCorpusIndex>& info) {
                           std::string name = info.param.file;
                           for (char& ch : name)
                             if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return name;
                         });

// Keys appended to a copy of a file made elsewhere land where its own order
// puts them, so the walk stays sorted by the file's comparison.
TEST(IndexCorpusAppend, AppendsToCopiesKeepTheTreeOrdered) {
  for (const TCorpusIndex& c : kCorpus) {
    SCOPED_TRACE(c.file);
    TTempDir dir;
    const std::string tablePath = CopyCorpusTable(c.table, dir);
    const std::string srcDir = CorpusDir() + "/" + std::string(c.table).substr(0, std::string(c.table).find_last_of('/'));
    WriteFile(dir.File(c.file), ReadFile(srcDir + "/" + c.file));
    TDbfFile table;
    table.SetFileName(tablePath);
    table.SetMode(amExclusiveOpen);
    table.Open();
    TIndexFile index(&table);
    index.SetFileName(dir.File(c.file));
    index.SetMode(amExclusiveOpen);
    index.Open();
    index.SetUpdateAll(true);
    std::vector<uint8_t> record(static_cast<size_t>(table.RecordLength()));
    const int64_t count = table.RecordCount();
    const size_t before = Entries(index, 0).size();
    // Every record once more, under new numbers.
    for (int64_t r = 1; r <= count; ++r) {
      ASSERT_TRUE(table.ReadRecord(r, record.data()));
      index.AddRecordKey(count + r, record.data());
    }
    index.Flush();
    for (int tag = 0; tag < index.TagCount(); ++tag) {
      const auto entries = Entries(index, tag);
      if (tag == 0 && index.TagInfo(0).uniqueness == iuNormal) EXPECT_EQ(entries.size(), 2 * before);
      const TIndexTagInfo info = index.TagInfo(tag);
      auto value = [&](const std::string& k) {
        const uint8_t* p = reinterpret_cast<const uint8_t*>(k.data());
        return k.size() == 8 ? BitsToDouble(GetLE64(p)) : DoubleFromDecimal(p);
      };
      for (size_t i = 1; i < entries.size(); ++i) {
        const std::string& a = entries[i - 1].first;
        const std::string& b = entries[i].first;
        if (info.keyType == 'C')
          EXPECT_LE(a, b) << "tag " << tag << " at " << i;
        else
          EXPECT_LE(value(a), value(b)) << "tag " << tag << " at " << i;
      }
    }
  }
}

}  // namespace
}  // namespace norvale::test
