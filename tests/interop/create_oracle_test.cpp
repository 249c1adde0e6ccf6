// Tables this engine creates, at every level and with every field type the
// level holds, read by programs that share no code with it: python3-dbfread,
// python3-dbf and GDAL must see the structure and the values, memo values
// included, exactly as they were written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "engine/table_file.h"
#include "index/table_rewrite.h"
#include "tests/engine/created_tables.h"
#include "tests/support/test_support.h"

namespace norvale {
namespace {

using nlohmann::json;
using test::TCreatedTable;
using test::TRow;
using test::TTempDir;
using test::TValue;

constexpr const char* kPython = "/usr/bin/python3";

// Both readers print, per record, one JSON array of the values in a common
// text form (that of tests/engine/created_tables.h); text and bytes as
// "x:" and their hex digits, so that no decoding stands between the bytes
// and the comparison. The first line lists the fields as NAME:TYPE:SIZE:DEC.
constexpr const char* kCommon = R"PY(
import json, sys, datetime, decimal
def canon(v, kind):
    if v is None: return None
    if isinstance(v, bool): return 'T' if v else 'F'
    if isinstance(v, (bytes, bytearray)):
        return ('x:' + bytes(v).hex()) if len(v) else None
    if isinstance(v, str):
        if kind == 'C': v = v.rstrip(' ')
        return ('x:' + v.encode('latin-1').hex()) if len(v) else None
    if isinstance(v, int): return str(v)
    if isinstance(v, float):
        return str(int(v)) if v.is_integer() and abs(v) < 1e15 else repr(v)
    if isinstance(v, decimal.Decimal): return '%.4f' % v
    if hasattr(v, 'hour'):
        if not v: return None
        return '%04d-%02d-%02d %02d:%02d:%02d.%03d' % (v.year, v.month, v.day, v.hour, v.minute, v.second,
                                                       v.microsecond // 1000)
    if hasattr(v, 'year'):
        if not v: return None
        return '%04d-%02d-%02d' % (v.year, v.month, v.day)
    return 'unexpected ' + type(v).__name__ + ' ' + repr(v)
)PY";

constexpr const char* kDbfread = R"PY(
import dbfread
t = dbfread.DBF(sys.argv[1], encoding='latin-1', char_decode_errors='strict', raw=False)
fields = [f for f in t.fields if f.name != '_NULLFLAGS']
print(json.dumps(['%s:%s:%d:%d' % (f.name, f.type, f.length, f.decimal_count) for f in fields]))
for r in t:
    print(json.dumps([canon(r[f.name], f.type) for f in fields]))
)PY";

constexpr const char* kPythonDbf = R"PY(
import dbf
t = dbf.Table(sys.argv[1], codepage='cp1252')
t.open(dbf.READ_ONLY)
names = [n for n in t.field_names if n.upper() != '_NULLFLAGS']
info = [t.field_info(n) for n in names]
print(json.dumps(['%s:%s:%d:%d' % (n.upper(), chr(i.field_type), i.length, i.decimal) for n, i in zip(names, info)]))
for r in t:
    print(json.dumps([canon(r[n], chr(i.field_type)) for n, i in zip(names, info)]))
t.close()
)PY";

bool HavePython(const char* module) {
  return std::system((std::string(kPython) + " -c 'import " + module + "' >/dev/null 2>&1").c_str()) == 0;
}

std::string Hex(const std::string& bytes) {
  static const char* kDigits = "0123456789abcdef";
  std::string out;
  for (const unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

bool IsTextLike(const test::TColumn& c, int level) {
  return c.type == 'C' || c.type == 'M' || c.type == 'G' || (c.type == 'B' && level != 25);
}

// The rows of `t` in the readers' common form.
std::vector<json> ExpectedLines(const TCreatedTable& t) {
  std::vector<json> lines;
  for (const TRow& row : t.rows) {
    json line = json::array();
    for (size_t i = 0; i < t.columns.size(); ++i) {
      const TValue& v = row[i];
      if (!v || v->empty())
        line.push_back(nullptr);
      else
        line.push_back(IsTextLike(t.columns[i], t.level) ? "x:" + Hex(*v) : *v);
    }
    lines.push_back(line);
  }
  return lines;
}

struct TReading {
  std::vector<std::string> fields;
  std::vector<json> rows;
  std::string raw;
};

TReading RunReader(const TTempDir& dir, const char* body, const std::string& table) {
  const std::string script = dir.File("reader.py");
  const std::string text = std::string(kCommon) + body;
  test::WriteFile(script, std::vector<uint8_t>(text.begin(), text.end()));
  const test::TCommandResult run = test::RunCommand(std::string(kPython) + " " + script + " " + table + " 2>&1");
  TReading reading;
  reading.raw = run.out;
  EXPECT_EQ(run.status, 0) << run.out;
  size_t start = 0;
  bool first = true;
  while (start < run.out.size()) {
    const size_t end = run.out.find('\n', start);
    const std::string line = run.out.substr(start, end == std::string::npos ? std::string::npos : end - start);
    start = end == std::string::npos ? run.out.size() : end + 1;
    if (line.empty()) continue;
    const json parsed = json::parse(line, nullptr, false);
    if (parsed.is_discarded()) {
      ADD_FAILURE() << "reader wrote: " << line;
      continue;
    }
    if (first) {
      reading.fields = parsed.get<std::vector<std::string>>();
      first = false;
    } else {
      reading.rows.push_back(parsed);
    }
  }
  return reading;
}

// NAME:TYPE:SIZE:DEC as the reader should list the fields.
std::vector<std::string> ExpectedFields(const TCreatedTable& t, const std::string& path) {
  TDbfFile table;
  table.SetFileName(path);
  table.SetMode(amReadOnly);
  table.Open();
  std::vector<std::string> fields;
  for (int i = 0; i < table.FieldDefs().Count(); ++i) {
    const TDbfFieldDef& f = table.FieldDefs().Item(i);
    if (&f == table.NullFlagsField()) continue;
    fields.push_back(f.FieldName() + ":" + f.NativeFieldType() + ":" + std::to_string(f.Size()) + ":" +
                     std::to_string(f.Precision()));
  }
  EXPECT_EQ(fields.size(), t.columns.size());
  return fields;
}

// The table without its columns of type `letter`.
TCreatedTable Without(TCreatedTable t, char letter) {
  for (size_t i = t.columns.size(); i-- > 0;) {
    if (t.columns[i].type != letter) continue;
    t.columns.erase(t.columns.begin() + long(i));
    for (TRow& row : t.rows) row.erase(row.begin() + long(i));
  }
  return t;
}

// No installed reader opens a dBASE 7 table (dbfread stops at the 48-byte
// descriptors, python3-dbf refuses the version): that level is checked by
// the engine's own round trip only.
std::vector<TCreatedTable> OracleTables() {
  std::vector<TCreatedTable> tables;
  for (const TCreatedTable& t : test::EveryTypeTables())
    if (t.level != 7) tables.push_back(t);
  return tables;
}

std::string Write(const TTempDir& dir, const TCreatedTable& t) {
  const std::string path = dir.File("level" + std::to_string(t.level) + ".dbf");
  test::WriteCreatedTable(path, t, t.level == 25 ? 0x03 : 0x57);  // both Windows ANSI 1252
  return path;
}

// dbfread takes a dBASE IV memo length, which counts the block header's 8
// bytes in, for the data alone: it reads up to 8 bytes past the value.
bool OverranBy8AtMost(const json& read, const json& want) {
  if (!read.is_string() || !want.is_string()) return false;
  const std::string r = read.get<std::string>(), w = want.get<std::string>();
  return r.size() >= w.size() && r.size() <= w.size() + 16 && r.compare(0, w.size(), w) == 0;
}

void ExpectRows(const TCreatedTable& t, const TReading& r, bool memoOverrun) {
  const std::vector<json> want = ExpectedLines(t);
  ASSERT_EQ(r.rows.size(), want.size()) << r.raw;
  for (size_t row = 0; row < want.size(); ++row) {
    ASSERT_EQ(r.rows[row].size(), t.columns.size()) << r.raw;
    for (size_t i = 0; i < t.columns.size(); ++i) {
      SCOPED_TRACE("record " + std::to_string(row + 1) + " field " + t.columns[i].name);
      const json& read = r.rows[row][i];
      if (memoOverrun && t.columns[i].type == 'M' && !want[row][i].is_null())
        EXPECT_TRUE(OverranBy8AtMost(read, want[row][i])) << read.dump().substr(0, 300);
      else
        EXPECT_TRUE(read == want[row][i]) << read.dump().substr(0, 300) << "\nwant " << want[row][i].dump().substr(0, 300);
    }
  }
}

TEST(CreateOracle, DbfreadReadsEveryType) {
  if (!HavePython("dbfread")) GTEST_SKIP() << "python3-dbfread is not installed";
  for (const TCreatedTable& t : OracleTables()) {
    SCOPED_TRACE("level " + std::to_string(t.level));
    TTempDir dir;
    const std::string path = Write(dir, t);
    const TReading r = RunReader(dir, kDbfread, path);
    EXPECT_EQ(r.fields, ExpectedFields(t, path)) << r.raw;
    ExpectRows(t, r, /*memoOverrun=*/t.level == 4);
  }
}

// A pack leaves a table and memo file that the reader takes as the live
// records alone, each with its own memo values.
TEST(CreateOracle, DbfreadReadsPackedTables) {
  if (!HavePython("dbfread")) GTEST_SKIP() << "python3-dbfread is not installed";
  for (TCreatedTable t : OracleTables()) {
    SCOPED_TRACE("level " + std::to_string(t.level));
    TTempDir dir;
    const std::string path = Write(dir, t);
    // Delete every other record, then pack.
    {
      TDbfFile file;
      file.SetFileName(path);
      file.SetMode(amExclusiveOpen);
      file.Open();
      std::vector<uint8_t> rec(static_cast<size_t>(file.RecordLength()));
      for (int64_t n = 1; n <= file.RecordsInFile(); n += 2) {
        file.LockAndReadRecord(n, rec.data());
        rec[0] = '*';
        file.NotifyDeleted(n, rec.data());
        file.WriteBackRecord(n, rec.data());
      }
    }
    const TRewriteResult packed = PackTable(path);
    std::vector<TRow> kept;
    for (size_t i = 1; i < t.rows.size(); i += 2) kept.push_back(t.rows[i]);
    EXPECT_EQ(packed.records, static_cast<int64_t>(kept.size()));
    t.rows = kept;
    const TReading r = RunReader(dir, kDbfread, path);
    ExpectRows(t, r, /*memoOverrun=*/t.level == 4);
  }
}

TEST(CreateOracle, PythonDbfReadsEveryTypeItKnows) {
  if (!HavePython("dbf")) GTEST_SKIP() << "python3-dbf is not installed";
  // python3-dbf knows neither dBASE IV memo tables nor FoxPro's "+" fields
  // nor its text fields past 254 characters (whose length continues in the
  // decimals byte); a dBASE IV table without memo it reads as the dBASE III
  // table it resembles.
  for (TCreatedTable t : OracleTables()) {
    if (t.level == 4) t = Without(t, 'M');
    if (t.level == 25) {
      t = Without(t, '+');
      for (size_t i = 0; i < t.columns.size(); ++i) {
        if (t.columns[i].type != 'C' || t.columns[i].size <= 254) continue;
        t.columns[i].size = 254;
        for (TRow& row : t.rows)
          if (row[i]) row[i]->resize(std::min<size_t>(row[i]->size(), 254));
      }
    }
    SCOPED_TRACE("level " + std::to_string(t.level));
    TTempDir dir;
    const std::string path = Write(dir, t);
    const TReading r = RunReader(dir, kPythonDbf, path);
    EXPECT_EQ(r.fields, ExpectedFields(t, path)) << r.raw;
    ExpectRows(t, r, false);
  }
}

// dbfread does not read _NULLFLAGS at all, and python3-dbf gives every
// field a bit, where FoxPro numbers the nullable fields alone: with every
// field nullable the two numberings agree, and python3-dbf can judge ours.
TEST(CreateOracle, NullFlagsReadAsNullByPythonDbf) {
  if (!HavePython("dbf")) GTEST_SKIP() << "python3-dbf is not installed";
  const TCreatedTable t = {25,
                           {{"CODE", 'C', 4, 0, true},
                            {"NAME", 'C', 10, 0, true},
                            {"AMOUNT", 'N', 8, 2, true},
                            {"COUNTER", 'I', 0, 0, true},
                            {"WHEN", 'T', 0, 0, true},
                            {"PRICE", 'Y', 0, 4, true},
                            {"NOTE", 'M', 0, 0, true},
                            {"WEIGHT", 'B', 8, 0, true},
                            {"FLAG", 'L', 0, 0, true}},
                           {{"full", "Ann", "1.5", "0", "2024-01-31 08:00:00.000", "0.0000", "memo", "0", "F"},
                            {"none", std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                             std::nullopt, std::nullopt},
                            {std::nullopt, "Bob", std::nullopt, "-3", std::nullopt, "2.5000", std::nullopt, "1.25",
                             "T"}}};
  TTempDir dir;
  const std::string path = Write(dir, t);
  const TReading r = RunReader(dir, kPythonDbf, path);
  EXPECT_EQ(r.fields, ExpectedFields(t, path)) << r.raw;
  ExpectRows(t, r, false);
}

// GDAL's JSON value in the common text form; GDAL leaves out the fields of
// a record that have no value.
json GdalValue(const json& properties, const test::TColumn& c) {
  if (!properties.contains(c.name) || properties[c.name].is_null()) return nullptr;
  const json& v = properties[c.name];
  if (v.is_string()) return c.type == 'C' ? json("x:" + Hex(v.get<std::string>())) : v;
  if (v.is_number_integer()) return std::to_string(v.get<int64_t>());
  const double d = v.get<double>();
  return d == double(int64_t(d)) ? std::to_string(int64_t(d)) : test::ShortestText(d);
}

TEST(CreateOracle, GdalReadsLevelsThreeAndFour) {
  if (std::system("command -v ogr2ogr >/dev/null 2>&1") != 0) GTEST_SKIP() << "gdal-bin is not installed";
  for (const TCreatedTable& t : OracleTables()) {
    if (t.level == 25) continue;
    SCOPED_TRACE("level " + std::to_string(t.level));
    TTempDir dir;
    const std::string path = Write(dir, t);
    const test::TCommandResult run = test::RunCommand("ogr2ogr -f GeoJSON /vsistdout/ " + path + " 2>&1");
    ASSERT_EQ(run.status, 0) << run.out;
    const json collection = json::parse(run.out, nullptr, false);
    ASSERT_FALSE(collection.is_discarded()) << run.out;
    const json& features = collection["features"];
    const std::vector<json> want = ExpectedLines(t);
    ASSERT_EQ(features.size(), want.size()) << run.out;
    // GDAL does not open memo files; it shows the block number the record
    // holds, which must name a block of the memo file.
    TDbfFile table;
    table.SetFileName(path);
    table.SetMode(amReadOnly);
    table.Open();
    const int64_t blocks = (test::ReadFile(table.MemoFileName()).size() + 511) / 512;
    for (size_t row = 0; row < want.size(); ++row) {
      const json& properties = features[row]["properties"];
      for (size_t i = 0; i < t.columns.size(); ++i) {
        SCOPED_TRACE("record " + std::to_string(row + 1) + " field " + t.columns[i].name);
        const json read = GdalValue(properties, t.columns[i]);
        if (t.columns[i].type != 'M') {
          EXPECT_EQ(read, want[row][i]);
        } else if (want[row][i].is_null()) {
          EXPECT_TRUE(read.is_null()) << read;
        } else {
          ASSERT_TRUE(read.is_string()) << read;
          const std::string digits = read.get<std::string>();
          EXPECT_EQ(digits.size(), 10u) << digits;
          const int64_t block = std::atoll(digits.c_str());
          EXPECT_GT(block, 0);
          EXPECT_LT(block, blocks);
        }
      }
    }
  }
}

}  // namespace
}  // namespace norvale
