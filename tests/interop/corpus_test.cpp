// Every table of the corpus (written by other programs) is dumped through
// norvale-cli and compared with what independent readers saw in it.
// Where the engine's rules knowingly read a value differently, the difference
// is named below for that table and field; a named difference that no longer
// occurs fails too, so the list cannot go stale.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <sys/wait.h>

#include "dataset/dbf_table.h"
#include "engine/date_time.h"
#include "engine/table_file.h"
#include "platform/text_services.h"
#include "tests/support/test_support.h"

namespace norvale::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// Tables the engine's rules refuse, with the message it gives.
const std::map<std::string, std::string> kRefused = {
    // Visual FoxPro 9 varchar/varbinary ("V", "Q") and blob ("W") fields are
    // not among the type letters a table may hold.
    {"github/infused-dbf/dbase_32", "Invalid DBF file. or Invalid field type"},
    {"github/luads-php-xbase/vfp", "Invalid DBF file. or Invalid field type"},
    // No fields at all: a table needs between 1 and 4095.
    {"github/infused-dbf/polygon", "Invalid field count: 0 (must be between 1 and 4095)."},
    // dBASE II layout (count at byte 1, descriptors of 16 bytes): not one of
    // the four table versions, its bytes do not make field descriptors.
    {"github/infused-dbf/dbase_02", "Invalid DBF file. or Invalid field type"},
    // Its record length (1016) leaves no room for the deletion flag before
    // 1016 bytes of fields: the records are really 1017 bytes long.
    {"github/tmontaigu-dbase-rs/stations_with_deleted", "Invalid DBF file."},
};

struct TDifference {
  std::string field;  // "*" for every field of the table
  std::string reason;
};

// Known differences between the engine's rules and the oracles.
// "#names" stands for the field names.
const std::multimap<std::string, TDifference> kDifferences = {
    // The engine honours _NULLFLAGS for every nullable field; dbfread reads
    // the bytes underneath.
    {"generated/python3-dbf/pydbf_vfp_types", {"CNAME", "null by _NULLFLAGS"}},
    {"generated/python3-dbf/pydbf_vfp_types", {"YPRICE", "null by _NULLFLAGS"}},
    // NUL bytes pad numbers and dates as blanks do: a field of NULs has no
    // value and "7021" padded with NULs is 7021; the oracle reads 0. A date
    // of NULs or of letters has no value; the oracle reads false.
    {"github/albfernandez-javadbf/myfileafter-corrupted", {"STG_POINT", "NUL padding: no value, oracle 0"}},
    {"github/albfernandez-javadbf/myfileafter-corrupted", {"VIA", "NUL padding: no value, oracle 0"}},
    {"github/albfernandez-javadbf/myfileafter-corrupted", {"PKG", "NUL padding: no value, oracle 0"}},
    {"github/albfernandez-javadbf/myfileafter-corrupted", {"QTY_VOL", "NUL padding: 7021 or no value, oracle 0"}},
    {"github/albfernandez-javadbf/myfileafter-corrupted", {"AMOUNT", "NUL padding: no value, oracle 0"}},
    {"github/albfernandez-javadbf/myfileafter-corrupted", {"SSL_LF", "NUL padding: no value, oracle 0"}},
    {"github/albfernandez-javadbf/myfileafter-corrupted", {"COMMI", "NUL padding: no value, oracle 0"}},
    {"github/albfernandez-javadbf/myfileafter-corrupted", {"SEQ_NO", "NUL padding: no value, oracle 0"}},
    {"github/albfernandez-javadbf/myfileafter-corrupted", {"INV_DATE", "a date of NULs has no value, oracle false"}},
    {"github/olemb-dbfread/invalid_value", {"BIRTHDATE", "\"NotAYear\" is no date, oracle false"}},
    // Numbers with embedded junk are not numbers: 0.
    {"github/albfernandez-javadbf/myfileafter-corrupted", {"EXCESS", "number text with junk reads as 0"}},
    {"github/albfernandez-javadbf/myfileafter-corrupted", {"DC", "number text with junk reads as 0"}},
    // The Mazovia code page (language driver 0x69) has no converter here.
    {"github/infused-dbf/mazovia", {"A2", "Mazovia text compared in cp1252"}},
    // Field names are upper-cased byte by byte; in a Big5 table that the
    // header does not mark as one, that changes trail bytes of names.
    {"github/yortus-DBFFile/dbase_not_latin1", {"#names", "Big5 field names upper-cased bytewise"}},
    // Memo values where the oracles misread the memo file (the memo file
    // tests check these values byte for byte against the file itself):
    // dBASE IV and 7 block lengths count the 8 header bytes, which the
    // readers take as data, so they read 8 bytes too many;
    {"github/infused-dbf/dbase_8b", {"MEMO", "oracle reads 8 bytes past the value"}},
    {"github/luads-php-xbase/dBaseIV", {"BIO", "oracle reads 8 bytes past the value"}},
    {"github/luads-php-xbase/dBaseIV", {"IMAGE", "binary image in an M field, oracle reads 8 bytes too many"}},
    {"github/luads-php-xbase/dBaseVII", {"BIO", "oracle reads 8 bytes past the value"}},
    {"github/luads-php-xbase/dBaseVII", {"IMAGE", "binary image in an M field, oracle gives replacement characters"}},
    // the oracle gives only the block number of dBASE 7 binary fields;
    {"github/luads-php-xbase/dBaseVII", {"BLOB", "oracle gives the block number, the engine the value"}},
    {"github/infused-dbf/dbase_8c", {"OLE GRAPHIC", "memo file missing: no value; oracle gives the block number"}},
    // dbfread used 512-byte blocks where the memo header says 1024.
    {"generated/xbase64/XBMDX", {"NOTES", "oracle ignored the memo file's block size"}},
};

// The code page the oracle used, so that text compares as Unicode.
int CodePageOf(const std::string& encoding) {
  static const std::map<std::string, int> kPages = {
      {"cp1252", 1252}, {"cp852", 852}, {"cp866", 866}, {"cp437", 437},   {"cp874", 874}, {"cp850", 850}, {"cp1251", 1251},
      {"big5", 950},    {"utf-8", 65001}, {"UTF-8", 65001}, {"latin-1 (bytes)", 28591}};
  auto it = kPages.find(encoding);
  if (it != kPages.end()) return it->second;
  if (encoding.rfind("ascii", 0) == 0) return 1252;
  return 0;
}

using TRun = TCommandResult;

TRun RunCli(const std::string& args) { return RunCommand(std::string(NORVALE_CLI) + " " + args); }

std::string Base64(const std::string& raw) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < raw.size(); i += 3) {
    const uint32_t v = uint32_t(uint8_t(raw[i])) << 16 | uint32_t(uint8_t(raw[i + 1])) << 8 | uint8_t(raw[i + 2]);
    for (int k = 18; k >= 0; k -= 6) out += kDigits[(v >> k) & 63];
  }
  if (i < raw.size()) {
    uint32_t v = uint32_t(uint8_t(raw[i])) << 16;
    if (i + 1 < raw.size()) v |= uint32_t(uint8_t(raw[i + 1])) << 8;
    out += kDigits[(v >> 18) & 63];
    out += kDigits[(v >> 12) & 63];
    out += i + 1 < raw.size() ? kDigits[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// Type letters come as text, or as the byte's number where it is not printable.
std::string TypeLetter(const json& type) {
  if (type.is_number()) return std::string(1, static_cast<char>(type.get<int>()));
  const std::string text = type.get<std::string>();
  if (text.size() > 1 && std::all_of(text.begin(), text.end(), ::isdigit))
    return std::string(1, static_cast<char>(std::stoi(text)));
  return Upper(text);
}

// Millisecond precision is all a date-time field keeps.
std::string NormaliseDateTime(std::string s) {
  const size_t dot = s.find('.');
  if (dot == std::string::npos) return s;
  std::string frac = s.substr(dot + 1);
  frac.resize(3, '0');
  return frac == "000" ? s.substr(0, dot) : s.substr(0, dot + 1) + frac;
}

bool SameValue(const json& expected, const json& actual) {
  if (expected.is_null() || actual.is_null()) return expected.is_null() && actual.is_null();
  if (expected.is_object() && expected.contains("decimal")) {
    if (!actual.is_number()) return false;
    return std::fabs(std::stod(expected["decimal"].get<std::string>()) - actual.get<double>()) < 1e-9;
  }
  if (expected.is_number() && actual.is_number()) {
    const double e = expected.get<double>(), a = actual.get<double>();
    return e == a || std::fabs(e - a) <= 1e-9 * std::max(std::fabs(e), std::fabs(a));
  }
  if (expected.is_string() && actual.is_string()) {
    const std::string e = expected.get<std::string>(), a = actual.get<std::string>();
    if (e.size() > 19 && e[10] == 'T') return NormaliseDateTime(e) == NormaliseDateTime(a);
    return e == a;
  }
  return expected == actual;
}

// What the table object reads: the same JSON shape as the dump, made of the
// field objects' typed values.
json DumpThroughDataset(const std::string& table, int codePage) {
  TDbfTable t;
  t.SetTableName(table);
  t.SetShowDeleted(true);
  t.SetReadOnly(true);
  if (codePage) {
    t.OnTranslate = [codePage](TDbfTable&, std::string_view src, bool) {
      std::string out;
      CodePageToUtf8(codePage, src, out);
      return out;
    };
  }
  t.Open();
  const TDbfFieldDefs& native = *t.NativeFieldDefs();
  json out;
  out["fields"] = json::array();
  for (int i = 0; i < native.Count(); ++i) {
    const TDbfFieldDef& f = native.Item(i);
    out["fields"].push_back({{"name", f.FieldName()},
                             {"type", std::string(1, f.NativeFieldType())},
                             {"size", f.Size()},
                             {"decimals", f.Precision()}});
  }
  out["records"] = json::array();
  for (t.First(); !t.Eof(); t.Next()) {
    json values = json::array();
    for (int i = 0; i < t.FieldCount(); ++i) {
      const TField& field = t.Fields(i);
      // A blank text field is null to the engine; the readers give "",
      // unless the field's null flag says null.
      const bool flagged = t.DbfFile()->Codec().IsNullFlagged(native.Item(i), t.ActiveBuffer() + TDbfTable::kHeaderSize);
      if (field.IsNull() && (field.DataType() != ftString || flagged)) {
        values.push_back(nullptr);
        continue;
      }
      switch (field.DataType()) {
        case ftSmallint:
        case ftInteger:
        case ftWord:
        case ftAutoInc:
        case ftLargeint:
          values.push_back(field.AsLargeInt());
          break;
        case ftFloat:
        case ftCurrency:
        case ftBCD: {
          const double d = field.AsFloat();
          if (std::isfinite(d))
            values.push_back(d);
          else
            values.push_back({{"float", std::isnan(d) ? "nan" : d > 0 ? "inf" : "-inf"}});
          break;
        }
        case ftBoolean:
          values.push_back(field.AsBoolean());
          break;
        case ftDateTime: {
          const TDateParts p = DecodeDateTime(field.AsDateTime());
          char text[40];
          std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", p.year, p.month, p.day, p.hour,
                        p.minute, p.second, p.millisecond);
          values.push_back(NormaliseDateTime(text));
          break;
        }
        case ftBytes: {
          const std::string hex = field.AsString();
          std::string raw;
          for (size_t k = 0; k + 1 < hex.size(); k += 2) raw += static_cast<char>(std::stoi(hex.substr(k, 2), nullptr, 16));
          values.push_back({{"base64", Base64(raw)}});
          break;
        }
        default:
          if (field.IsBlob() && !field.IsTextBlob())
            values.push_back({{"base64", Base64(field.AsString())}});
          else
            values.push_back(field.AsString());
          break;
      }
    }
    out["records"].push_back({{"recno", t.RecNo()}, {"deleted", t.IsDeleted()}, {"values", values}});
  }
  return out;
}

enum class TRoute { kCli, kDataset };

class CorpusTest : public ::testing::TestWithParam<std::tuple<std::string, TRoute>> {};

TEST_P(CorpusTest, ReadsWhatIndependentReadersRead) {
  const std::string name = std::get<0>(GetParam());
  const TRoute route = std::get<1>(GetParam());
  const fs::path base = fs::path(CorpusDir()) / name;
  const json expected = json::parse(ReadFileText((base.string() + ".expected.json")));
  std::string table = base.string() + ".dbf";
  if (!fs::exists(table)) table = base.string() + ".DBF";
  ASSERT_TRUE(fs::exists(table)) << table;

  // Where the oracle took the code page from the language driver byte, the
  // engine must find the same one itself; a sidecar file or a hint is
  // something the table does not say, so that code page is handed over.
  int codePage = 0;
  if (expected.value("encoding_source", "") != "oracle default from the language driver byte") {
    codePage = CodePageOf(expected.value("encoding", ""));
    ASSERT_NE(codePage, 0) << "no code page for encoding " << expected.value("encoding", "");
  }
  const auto refused = kRefused.find(name);
  json actual;
  if (route == TRoute::kCli) {
    const std::string codePageOption = codePage ? " --codepage " + std::to_string(codePage) : "";
    const TRun run = RunCli("dump --format json --deleted" + codePageOption + " " + Quote(table));
    if (refused != kRefused.end()) {
      EXPECT_EQ(run.status, 1) << run.out;
      EXPECT_NE(run.out.find(refused->second), std::string::npos) << run.out;
      EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << "one line on stderr: " << run.out;
      return;
    }
    ASSERT_EQ(run.status, 0) << run.out;
    actual = json::parse(run.out);
  } else {
    if (refused != kRefused.end()) {
      std::string message = "(opened)";
      try {
        DumpThroughDataset(table, codePage);
      } catch (const Exception& e) {
        message = e.what();
      }
      EXPECT_EQ(message, refused->second);
      return;
    }
    actual = DumpThroughDataset(table, codePage);
  }
  // Which fields carry a named difference.
  std::map<std::string, std::string> named;
  auto range = kDifferences.equal_range(name);
  for (auto it = range.first; it != range.second; ++it) named[it->second.field] = it->second.reason;
  std::set<std::string> seen;

  // Field list.
  const json& ef = expected["fields"];
  const json& af = actual["fields"];
  ASSERT_EQ(af.size(), ef.size());
  for (size_t i = 0; i < ef.size(); ++i) {
    const std::string expectedName = Upper(ef[i]["name"].get<std::string>());
    if (af[i]["name"].get<std::string>() != expectedName && named.count("#names"))
      seen.insert("#names");
    else
      EXPECT_EQ(af[i]["name"].get<std::string>(), expectedName) << "field " << i;
    EXPECT_EQ(af[i]["type"].get<std::string>(), TypeLetter(ef[i]["type"])) << "field " << i;
    EXPECT_EQ(af[i]["size"].get<int>(), ef[i]["length"].get<int>()) << "field " << i;
    EXPECT_EQ(af[i]["decimals"].get<int>(), ef[i].value("decimals", 0)) << "field " << i;
  }

  // Records: the engine counts them from the file size, the oracles read to
  // the end-of-file mark; records cut short by the end of the file are not
  // records to the engine.
  std::vector<json> expectedRecords;
  for (const json& r : expected["records"])
    if (!r.value("truncated", false)) expectedRecords.push_back(r);
  const json& ar = actual["records"];
  const std::string version = expected["header"]["version_byte"].get<std::string>();
  ASSERT_EQ(ar.size(), expectedRecords.size());
  for (size_t r = 0; r < ar.size(); ++r) {
    const json& e = expectedRecords[r];
    const json& a = ar[r];
    EXPECT_EQ(a["recno"].get<int64_t>(), e["index"].get<int64_t>() + 1);
    EXPECT_EQ(a["deleted"].get<bool>(), e["deleted"].get<bool>()) << "record " << r;
    for (size_t f = 0; f < ef.size(); ++f) {
      const std::string field = Upper(ef[f]["name"].get<std::string>());
      const bool same = SameValue(e["values"][f], a["values"][f]);
      if (!same && named.count(field)) {
        seen.insert(field);
        continue;
      }
      EXPECT_TRUE(same) << name << " record " << r << " field " << field << ": expected " << e["values"][f].dump()
                        << ", engine " << a["values"][f].dump();
    }
  }
  for (const auto& [field, reason] : named)
    EXPECT_TRUE(seen.count(field)) << "named difference no longer occurs: " << name << " " << field << " (" << reason
                                   << ")";
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusTest,
                         ::testing::Combine(::testing::ValuesIn(CorpusTables()),
                                            ::testing::Values(TRoute::kCli, TRoute::kDataset)),
                         [](const auto& info) {
                           return CorpusTestName(std::get<0>(info.param)) +
                                  (std::get<1>(info.param) == TRoute::kCli ? "_cli" : "_dataset");
                         });

}  // namespace
}  // namespace norvale::test
