// The memo values of the corpus tables (written by other programs), read
// through the table and its memo file, against what independent readers saw.
// Where the engine's rules knowingly read a value otherwise, the table and
// field are named below; a named difference that no longer occurs fails too.
#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "engine/exceptions.h"
#include "engine/table_file.h"
#include "platform/text_codec.h"
#include "tests/support/test_support.h"

namespace norvale {
namespace {

namespace fs = std::filesystem;
using test::CorpusDir;
using test::CorpusTables;
using test::CorpusTestName;
using nlohmann::json;

// Tables whose fields the engine refuses: they have no memo values to read.
const std::set<std::string> kRefused = {
    "github/infused-dbf/dbase_32",      // Visual FoxPro 9 "V", "Q", "W" fields
    "github/luads-php-xbase/vfp",       // the same
};

enum TDifferenceKind {
  // dBASE IV and 7 count the 8 bytes of the block header in the length
  // field; these readers take it for the data alone and deliver up to 8 bytes
  // past the value (dbfread then cuts at the first 0x1F). Checked: the
  // reader's value is the engine's with at most 8 more bytes, or the
  // engine's cut at its first 0x1F.
  kLengthCountsHeader,
  // The reader got the value wrong otherwise; checked against the bytes
  // read by hand from the memo file.
  kReadByHand,
  // Nothing to compare: the reader's text cannot be turned back into bytes.
  kUncomparable,
};

struct TDifference {
  std::string field;  // upper-cased
  TDifferenceKind kind;
  const char* reason;
  std::map<int64_t, std::string> byHand = {};  // record number -> value
};

const std::multimap<std::string, TDifference> kDifferences = {
    {"github/infused-dbf/dbase_8b", {"MEMO", kLengthCountsHeader, "remnants of longer values follow"}},
    {"github/luads-php-xbase/dBaseIV", {"BIO", kLengthCountsHeader, "8 NUL bytes follow"}},
    {"github/luads-php-xbase/dBaseIV", {"IMAGE", kLengthCountsHeader, "binary value holds 0x1F"}},
    {"github/luads-php-xbase/dBaseVII", {"BIO", kLengthCountsHeader, "8 spaces follow"}},
    // A binary image stored as memo text, decoded by the reader as UTF-8
    // with U+FFFD for what is no UTF-8.
    {"github/luads-php-xbase/dBaseVII", {"IMAGE", kUncomparable, "binary value given as lossy UTF-8"}},
    // The reader took 512-byte blocks; the header says 1024.
    {"generated/xbase64/XBMDX",
     {"NOTES", kReadByHand, "block size 1024 from the header",
      {{1, "first memo"}, {2, "second memo, somewhat longer than the first one"}, {3, ""}, {4, "third memo"},
       {5, ""}, {6, ""}}}},
};

// See kLengthCountsHeader.
bool ReaderOverran(const std::string& engine, const std::string& reader) {
  const size_t sub = engine.find('\x1F');
  if (sub != std::string::npos) return reader == engine.substr(0, sub);
  return reader.size() > engine.size() && reader.size() <= engine.size() + 8 &&
         reader.compare(0, engine.size(), engine) == 0;
}

int CodePageOf(const std::string& encoding) {
  static const std::map<std::string, int> kPages = {
      {"cp1252", 1252}, {"cp1251", 1251}, {"cp437", 437}, {"cp866", 866}, {"utf-8", 65001},
      {"UTF-8", 65001}, {"latin-1 (bytes)", 28591}};
  auto it = kPages.find(encoding);
  if (it != kPages.end()) return it->second;
  if (encoding.rfind("ascii", 0) == 0) return 1252;
  return 0;
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string Base64Decode(const std::string& in) {
  static const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  uint32_t acc = 0;
  int bits = 0;
  for (const char c : in) {
    const size_t v = kAlphabet.find(c);
    if (v == std::string::npos) continue;  // padding
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((acc >> bits) & 0xFF);
    }
  }
  return out;
}

class MemoCorpusTest : public ::testing::TestWithParam<std::string> {};

TEST_P(MemoCorpusTest, MemoValuesMatchIndependentReaders) {
  const std::string name = GetParam();
  const fs::path base = fs::path(CorpusDir()) / name;
  const json expected = json::parse(test::ReadFileText(base.string() + ".expected.json"));
  std::string path = base.string() + ".dbf";
  if (!fs::exists(path)) path = base.string() + ".DBF";
  ASSERT_TRUE(fs::exists(path)) << path;

  bool memoFields = false;
  for (const json& f : expected["fields"])
    if (f["type"].is_string() && std::string("MGB").find(f["type"].get<std::string>()) != std::string::npos &&
        f["type"].get<std::string>().size() == 1)
      memoFields = true;
  if (!memoFields) return;

  TDbfFile table;
  table.SetFileName(path);
  table.SetMode(amReadOnly);  // the corpus is never written
  if (kRefused.count(name)) {
    EXPECT_THROW(table.Open(), EDbfError);
    return;
  }
  table.Open();
  ASSERT_NE(table.MemoFile(), nullptr);

  const int codePage = CodePageOf(expected.value("encoding", ""));
  ASSERT_NE(codePage, 0) << expected.value("encoding", "");
  const TCodePageDecoder decoder(codePage);
  ASSERT_TRUE(decoder.Valid()) << codePage;

  std::map<std::string, const TDifference*> named;
  auto range = kDifferences.equal_range(name);
  for (auto it = range.first; it != range.second; ++it) named[it->second.field] = &it->second;
  std::set<std::string> seen;

  const json& fields = expected["fields"];
  std::vector<uint8_t> record(static_cast<size_t>(table.RecordLength()));
  int compared = 0;
  for (const json& r : expected["records"]) {
    if (r.value("truncated", false)) continue;
    const int64_t recNo = r["index"].get<int64_t>() + 1;
    ASSERT_EQ(table.ReadPage(recNo, record.data()), table.RecordLength());
    for (size_t f = 0; f < fields.size(); ++f) {
      const std::string fieldName = Upper(fields[f]["name"].get<std::string>());
      const TDbfFieldDef* def = table.FieldDefByName(fieldName);
      ASSERT_NE(def, nullptr) << fieldName;
      // FoxPro "B" is a double, not a memo.
      if (!def->IsMemoField() || (def->NativeFieldType() == 'B' && table.Version() == xFoxPro)) continue;
      const json& expectedValue = r["values"][f];
      int64_t block = 0;
      table.DecodeField(*def, ftLargeint, false, &block, record.data());
      std::string bytes;
      table.MemoFile()->ReadMemo(block, bytes);
      SCOPED_TRACE(name + " record " + std::to_string(recNo) + " field " + fieldName);

      if (expectedValue.is_object() && expectedValue.contains("memo_block")) {
        // The reader gave only where the value lies (dBASE 7 B and G); the
        // engine reads the value itself from there.
        EXPECT_EQ(block, expectedValue["memo_block"].get<int64_t>());
        ++compared;
        continue;
      }
      // Text compares as the reader decoded it, bytes as they are; no value
      // is an empty one.
      std::string want, actual = bytes;
      if (expectedValue.is_object() && expectedValue.contains("base64")) {
        want = Base64Decode(expectedValue["base64"].get<std::string>());
      } else if (expectedValue.is_string()) {
        want = expectedValue.get<std::string>();
        actual.clear();
        decoder.AppendUtf8(actual, bytes.data(), bytes.size());
      }
      ++compared;
      auto difference = named.find(fieldName);
      if (actual != want && difference != named.end()) {
        seen.insert(fieldName);
        const TDifference& d = *difference->second;
        if (d.kind == kLengthCountsHeader) {
          EXPECT_TRUE(ReaderOverran(actual, want)) << d.reason;
        } else if (d.kind == kReadByHand) {
          auto it = d.byHand.find(recNo);
          ASSERT_NE(it, d.byHand.end());
          EXPECT_EQ(bytes, it->second) << d.reason;
        }
        continue;
      }
      EXPECT_TRUE(actual == want) << "expected " << json(want).dump().substr(0, 300) << "\nengine   "
                                  << json(actual).dump(-1, ' ', false, json::error_handler_t::replace).substr(0, 300);
    }
  }
  for (const auto& [field, difference] : named)
    EXPECT_TRUE(seen.count(field)) << "named difference no longer occurs: " << field << " (" << difference->reason
                                   << ")";
  RecordProperty("memo_values_compared", compared);
}

INSTANTIATE_TEST_SUITE_P(Corpus, MemoCorpusTest, ::testing::ValuesIn(CorpusTables()),
                         [](const auto& info) { return CorpusTestName(info.param); });

}  // namespace
}  // namespace norvale
