// Memo values crossing between this engine and independent programs: what
// the engine stores python3-dbfread reads back byte for byte, and what
// python3-dbf stores the engine reads back byte for byte.
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <tuple>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/table_file.h"
#include "tests/engine_io/memo_images.h"
#include "tests/support/test_support.h"

namespace norvale {
namespace {

using test::MemoValue;
using test::TTableImage;
using test::TTempDir;

constexpr const char* kPython = "/usr/bin/python3";

bool OraclesInstalled() {
  return std::system((std::string(kPython) + " -c 'import dbfread, dbf' >/dev/null 2>&1").c_str()) == 0;
}

std::string ToHex(const std::string& bytes) {
  static const char* kDigits = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

// Runs a Python script (given as text) with arguments; its standard output
// split into lines.
std::vector<std::string> RunPython(const TTempDir& dir, const std::string& script, const std::string& args) {
  const std::string path = dir.File("oracle.py");
  test::WriteFile(path, std::vector<uint8_t>(script.begin(), script.end()));
  return test::RunCommandLines(std::string(kPython) + " " + path + " " + args);
}

// One line per record: the ID, then each memo field's bytes in hex ("-" for
// no value). Text is decoded as Latin-1, which gives every byte back as is.
constexpr const char* kDbfreadDump = R"PY(
import sys, dbfread
t = dbfread.DBF(sys.argv[1], encoding='latin-1', char_decode_errors='strict')
def hexed(v):
    if v is None: return '-'
    if isinstance(v, str): return v.encode('latin-1').hex() or '-'
    return bytes(v).hex() or '-'
for r in t:
    print(int(r['ID']), ' '.join(hexed(r[name]) for name in sys.argv[2:]))
)PY";

struct TEngineCase {
  const char* name;
  uint8_t versionByte;
  uint8_t languageId;
  int memoFieldLength;  // 4: binary block numbers (Visual FoxPro)
  int blockSize;
  const char* binaryField;  // a second memo field for binary values
  char binaryType;
  // dbfread takes a dBASE IV length field, which counts the block header's
  // 8 bytes in, for the data alone: it reads 8 bytes past the value and then
  // ends it at the first 0x1F.
  bool lengthCountsHeader = false;
};

// Whether dbfread's reading (hex, "-" for none) is `value` as that reader
// sees it: the value cut at its first 0x1F, or the value and at most 8 more
// bytes.
bool ReaderOverran(const std::string& value, const std::string& readHex) {
  if (value.empty()) return readHex == "-";
  const size_t sub = value.find('\x1F');
  if (sub != std::string::npos) return readHex == (sub ? ToHex(value.substr(0, sub)) : "-");
  const std::string hex = ToHex(value);
  return readHex.size() > hex.size() && readHex.size() <= hex.size() + 16 && readHex.compare(0, hex.size(), hex) == 0;
}

void PrintTo(const TEngineCase& c, std::ostream* os) { *os << c.name; }

class EngineMemoToDbfreadTest : public ::testing::TestWithParam<TEngineCase> {};

TEST_P(EngineMemoToDbfreadTest, ValuesOfEverySizeReadBackUnchanged) {
  if (!OraclesInstalled()) GTEST_SKIP() << "python3-dbfread or python3-dbf is not installed";
  const TEngineCase& c = GetParam();
  TTempDir dir;
  const std::string path = dir.File("engine.dbf");
  const bool fox = c.versionByte == 0xF5 || c.versionByte == 0x30;
  TTableImage image;
  image.versionByte = c.versionByte;
  image.languageId = c.languageId;
  image.fields = {{"ID", 'N', 4}, {"NOTE", 'M', c.memoFieldLength}, {c.binaryField, c.binaryType, c.memoFieldLength}};
  test::WriteFile(path, image.Bytes());

  // dBASE III values end at 1A 1A, and dbfread ends them at any 1A: its
  // binary values leave that byte out.
  const bool dbase3 = c.languageId == 0 && !fox;
  std::vector<std::pair<std::string, std::string>> values;  // text, binary
  unsigned seed = 1;
  for (const size_t n : {0, 1, 504, 505, 510, 511, 512, 70000}) {
    std::string binary = MemoValue(n, true, seed++);
    if (dbase3)
      for (char& b : binary)
        if (b == 0x1A) b = 0x1B;
    values.emplace_back(MemoValue(n, false, seed++), binary);
  }

  {
    const TXBaseVersion version = fox ? xFoxPro : c.languageId ? xBaseIV : xBaseIII;
    test::OpenMemoFile(dir.File(fox ? "engine.fpt" : "engine.dbt"), version, amExclusiveCreate, c.blockSize);
    TDbfFile table;
    table.SetFileName(path);
    table.SetMode(amExclusiveOpen);
    table.Open();
    ASSERT_EQ(table.Version(), version);
    ASSERT_NE(table.MemoFile(), nullptr);
    std::vector<uint8_t> record(static_cast<size_t>(table.RecordLength()));
    for (size_t i = 0; i < values.size(); ++i) {
      table.BlankRecord(record.data());
      const int32_t id = static_cast<int32_t>(i);
      table.EncodeField(*table.FieldDefByName("ID"), ftInteger, false, record.data(), &id);
      for (const auto& [field, value] : {std::pair{"NOTE", values[i].first}, std::pair{c.binaryField, values[i].second}}) {
        const int32_t block = static_cast<int32_t>(table.MemoFile()->WriteMemo(0, 0, value));
        if (block) table.EncodeField(*table.FieldDefByName(field), ftInteger, false, record.data(), &block);
      }
      ASSERT_FALSE(table.MemoFile()->WriteError());
      table.AppendRecord(record.data());
    }
  }

  const std::vector<std::string> lines = RunPython(dir, kDbfreadDump, path + " NOTE " + c.binaryField);
  ASSERT_EQ(lines.size(), values.size()) << (lines.empty() ? "" : lines.back());
  for (size_t i = 0; i < values.size(); ++i) {
    std::istringstream in(lines[i]);
    std::string id, note, binary;
    in >> id >> note >> binary;
    SCOPED_TRACE(std::to_string(values[i].first.size()) + " bytes");
    EXPECT_EQ(id, std::to_string(i)) << lines[i].substr(0, 200);
    for (const auto& [field, value, read] : {std::tuple{"NOTE", values[i].first, note},
                                             std::tuple{c.binaryField, values[i].second, binary}}) {
      if (c.lengthCountsHeader) {
        EXPECT_TRUE(ReaderOverran(value, read)) << field;
      } else {
        EXPECT_EQ(read.size(), value.empty() ? 1 : 2 * value.size()) << field;
        EXPECT_TRUE(read == (value.empty() ? "-" : ToHex(value))) << field;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, EngineMemoToDbfreadTest,
                         ::testing::Values(TEngineCase{"dBASE_III_0x83", 0x83, 0x00, 10, 512, "NOTE2", 'M'},
                                           TEngineCase{"dBASE_IV_0x8B", 0x8B, 0x57, 10, 512, "BLOB", 'B', true},
                                           TEngineCase{"FoxPro_0xF5", 0xF5, 0x03, 10, 512, "GENERAL", 'G'},
                                           TEngineCase{"Visual_FoxPro_0x30_blocks_of_64", 0x30, 0x03, 4, 64,
                                                       "GENERAL", 'G'}),
                         [](const auto& info) { return std::string(info.param.name); });

// python3-dbf writes a table of the given type with a text memo (and a
// binary one where the type has general fields), then prints per record the
// ID and the bytes it stored, in hex ("-" for none).
constexpr const char* kDbfWriter = R"PY(
import sys, dbf
path, kind = sys.argv[1], sys.argv[2]
binary = kind != 'db3'
t = dbf.Table(path, 'ID N(4,0); NOTE M' + ('; PIC G' if binary else ''), dbf_type=kind, codepage='cp1252')
t.open(dbf.READ_WRITE)
def text(n, seed):
    return ''.join('\r\n' if i % 70 == 68 else chr(33 + (i * 7 + seed) % 94) for i in range(n))[:n]
def raw(n, seed):
    return bytes((i * 31 + seed * 17 + (i >> 8)) % 256 for i in range(n))
for i, n in enumerate([0, 1, 504, 505, 510, 511, 512, 70000]):
    note, pic = text(n, i), raw(n, i)
    t.append((i, note, pic) if binary else (i, note))
    print(i, note.encode('cp1252').hex() or '-', (pic.hex() or '-') if binary else '')
t.close()
)PY";

class DbfMemoToEngineTest : public ::testing::TestWithParam<const char*> {};

TEST_P(DbfMemoToEngineTest, ValuesOfEverySizeReadUnchanged) {
  if (!OraclesInstalled()) GTEST_SKIP() << "python3-dbfread or python3-dbf is not installed";
  const std::string kind = GetParam();
  TTempDir dir;
  const std::string path = dir.File("written.dbf");
  const std::vector<std::string> lines = RunPython(dir, kDbfWriter, path + " " + kind);
  ASSERT_EQ(lines.size(), 8u) << (lines.empty() ? "" : lines.back());

  TDbfFile table;
  table.SetFileName(path);
  table.SetMode(amReadOnly);
  table.Open();
  ASSERT_NE(table.MemoFile(), nullptr);
  ASSERT_EQ(table.RecordCount(), lines.size());
  std::vector<uint8_t> record(static_cast<size_t>(table.RecordLength()));
  for (size_t i = 0; i < lines.size(); ++i) {
    std::istringstream in(lines[i]);
    std::string id, note, pic;
    in >> id >> note >> pic;
    ASSERT_EQ(id, std::to_string(i)) << lines[i].substr(0, 200);
    ASSERT_EQ(table.ReadPage(int64_t(i) + 1, record.data()), table.RecordLength());
    std::vector<std::pair<const char*, std::string>> fields = {{"NOTE", note}};
    if (kind != "db3") fields.emplace_back("PIC", pic);
    for (const auto& [name, want] : fields) {
      int64_t block = 0;
      table.DecodeField(*table.FieldDefByName(name), ftLargeint, false, &block, record.data());
      std::string value;
      table.MemoFile()->ReadMemo(block, value);
      const std::string got = value.empty() ? "-" : ToHex(value);
      EXPECT_EQ(got.size(), want.size()) << name << " of record " << i;
      EXPECT_TRUE(got == want) << name << " of record " << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Types, DbfMemoToEngineTest, ::testing::Values("db3", "fp", "vfp"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
}  // namespace norvale
