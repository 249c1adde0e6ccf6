// Records this engine appends, read back by an independent reader
// (python3-dbfread): whatever we write must mean the same to other programs.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/date_time.h"
#include "engine/table_file.h"
#include "tests/support/test_support.h"

namespace norvale {
namespace {

using test::TTableImage;
using test::TTempDir;

constexpr const char* kPython = "/usr/bin/python3";

// One JSON line per live record, then the header count, the code page the
// reader chose and the deleted records.
constexpr const char* kReader = R"PY(
import json, sys, dbfread
t = dbfread.DBF(sys.argv[1], char_decode_errors='strict')
conv = lambda v: v.isoformat() if hasattr(v, 'isoformat') else v
for r in t:
    print(json.dumps([conv(v) for v in r.values()]))
print(json.dumps({'count': t.header.numrecords, 'encoding': t.encoding}))
print(json.dumps({'deleted': [[conv(v) for v in r.values()] for r in t.deleted]}))
)PY";

std::vector<std::string> RunReader(const std::string& script, const std::string& table) {
  return test::RunCommandLines(std::string(kPython) + " " + script + " " + table);
}

struct TValues {
  const char* name;  // nullptr: null
  bool hasAmount;
  double amount;
  TDateParts born;   // year 0: null
  int active;        // -1: null
  bool hasQty;
  int32_t qty;
  bool deleted;
};

TEST(DbfreadOracleTest, AppendedRecordsReadBackIdentically) {
  if (std::system((std::string(kPython) + " -c 'import dbfread' >/dev/null 2>&1").c_str()) != 0)
    GTEST_SKIP() << "python3-dbfread is not installed";

  TTempDir dir;
  const std::string path = dir.File("oracle.dbf");
  TTableImage image;
  image.versionByte = 0x03;
  image.languageId = 0x57;  // ANSI, code page 1252
  image.fields = {{"NAME", 'C', 20}, {"AMOUNT", 'N', 10, 2}, {"BORN", 'D', 8}, {"ACTIVE", 'L', 1}, {"QTY", 'N', 6}};
  image.records = {image.Record({"Hand Made", "     12.50", "20000101", "T", "     7"})};
  test::WriteFile(path, image.Bytes());

  const std::vector<TValues> rows = {
      {"Caf\xE9 Noir", true, 1234.5, {2024, 2, 29}, 1, true, 42, false},
      {"Zero", true, 0.0, {1901, 1, 1}, 0, true, 0, false},
      {"Negative", true, -0.5, {2099, 12, 31}, 0, true, -12345, false},
      {"Max Width Name 20chr", true, 99999.99, {1999, 12, 31}, 1, true, 999999, false},
      {nullptr, false, 0, {}, -1, false, 0, false},
      {"Gone", true, 1.0, {2010, 10, 10}, 1, true, 1, true},
  };
  {
    TDbfFile table;
    table.SetFileName(path);
    table.SetMode(amSharedOpen);
    table.Open();
    const TDbfFieldDef& name = *table.FieldDefByName("name");
    const TDbfFieldDef& amount = *table.FieldDefByName("amount");
    const TDbfFieldDef& born = *table.FieldDefByName("born");
    const TDbfFieldDef& active = *table.FieldDefByName("active");
    const TDbfFieldDef& qty = *table.FieldDefByName("qty");
    std::vector<uint8_t> rec(static_cast<size_t>(table.RecordLength()));
    for (const TValues& v : rows) {
      table.BlankRecord(rec.data());
      table.EncodeField(name, ftString, false, rec.data(), v.name);
      table.EncodeField(amount, ftFloat, false, rec.data(), v.hasAmount ? &v.amount : nullptr);
      TDateTime date = 0;
      const bool hasDate = v.born.year != 0 && EncodeDateTime(v.born, &date);
      table.EncodeField(born, ftDate, false, rec.data(), hasDate ? &date : nullptr);
      const int16_t flag = static_cast<int16_t>(v.active);
      table.EncodeField(active, ftBoolean, false, rec.data(), v.active >= 0 ? &flag : nullptr);
      table.EncodeField(qty, ftInteger, false, rec.data(), v.hasQty ? &v.qty : nullptr);
      if (v.deleted) rec[0] = '*';
      table.AppendRecord(rec.data());
    }
  }

  const std::string script = dir.File("read.py");
  test::WriteFile(script, std::vector<uint8_t>(kReader, kReader + std::char_traits<char>::length(kReader)));
  const std::vector<std::string> expected = {
      R"(["Hand Made", 12.5, "2000-01-01", true, 7])",
      R"(["Caf\u00e9 Noir", 1234.5, "2024-02-29", true, 42])",
      R"(["Zero", 0.0, "1901-01-01", false, 0])",
      R"(["Negative", -0.5, "2099-12-31", false, -12345])",
      R"(["Max Width Name 20chr", 99999.99, "1999-12-31", true, 999999])",
      R"(["", null, null, null, null])",
      R"({"count": 7, "encoding": "cp1252"})",
      R"({"deleted": [["Gone", 1.0, "2010-10-10", true, 1]]})",
  };
  EXPECT_EQ(RunReader(script, path), expected);
}

}  // namespace
}  // namespace norvale
