// The XLS and WKS writers judged by readers that share no code with them:
// xlrd for the workbook's cells, formats, sheets and compound file (FAT,
// DIFAT); a walk in Python of the shared-string records and of the WKS
// records, checking every string, EXTSST bucket and cell against the bytes;
// and LibreOffice, whose CSV shows each value the way Calc shows it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/export/wks_writer.h"
#include "app/export/xls_writer.h"
#include "engine/byte_order.h"
#include "tests/support/test_support.h"

namespace norvale {
namespace {

using nlohmann::json;
using test::TTempDir;

constexpr const char* kPython = "/usr/bin/python3";

// A workbook as JSON: "full" gives every cell's type, value, number format
// and boldness, the column widths, and the shared strings walked record by
// record; "summary" gives column 0 whole and each column's sum.
constexpr const char* kXlsDump = R"PY(
import io, json, struct, sys
import xlrd
from xlrd import compdoc

path, mode, out = sys.argv[1:]
full, log = mode == 'full', io.StringIO()
# on_demand keeps the shared strings, which a full load releases.
book = xlrd.open_workbook(path, formatting_info=full, logfile=log, on_demand=full)
result = {'sheets': []}
for sh in book.sheets():
    s = {'name': sh.name, 'nrows': sh.nrows, 'ncols': sh.ncols, 'dim': [sh._dimnrows, sh._dimncols]}
    if full:
        def cell(c):
            xf = book.xf_list[c.xf_index]
            return {'t': c.ctype, 'v': c.value, 'f': book.format_map[xf.format_key].format_str,
                    'b': book.font_list[xf.font_index].bold}
        s['rows'] = [[cell(sh.cell(r, c)) for c in range(sh.ncols)] for r in range(sh.nrows)]
        s['widths'] = {str(c): info.width for c, info in sh.colinfo_map.items()}
    elif sh.nrows:
        s['col0'] = sh.col_values(0)
        s['last'] = sh.row_values(sh.nrows - 1)
        s['sums'] = [sum(v for v in sh.col_values(c) if isinstance(v, float)) for c in range(sh.ncols)]
    result['sheets'].append(s)

def walk_strings():
    stream = compdoc.CompDoc(open(path, 'rb').read(), logfile=log).get_named_stream('Workbook')
    records, pos = [], 0
    while pos + 4 <= len(stream):
        rtype, size = struct.unpack_from('<HH', stream, pos)
        records.append((rtype, pos, size))
        pos += 4 + size
        if rtype == 0x000A:
            break
    i = [r[0] for r in records].index(0x00FC)
    parts = [records[i]]
    while records[i + len(parts)][0] == 0x003C:
        parts.append(records[i + len(parts)])
    after = records[i + len(parts)]
    errors = ['record at %d holds %d bytes' % (p[1], p[2]) for p in parts if p[2] > 8224]
    total, unique = struct.unpack_from('<II', stream, parts[0][1] + 4)
    part, off, strings, starts = 0, 8, [], []
    at = lambda o: parts[part][1] + 4 + o
    for k in range(unique):
        if off == parts[part][2] and part + 1 < len(parts):
            part, off = part + 1, 0
        if off + 3 > parts[part][2]:
            errors.append('string %d: header split across records' % k)
            break
        starts.append((at(off), parts[part][1]))
        cch, flags = struct.unpack_from('<HB', stream, at(off))
        off += 3
        units, left = b'', cch
        while left > 0 and not errors:
            if off == parts[part][2]:
                if part + 1 == len(parts):
                    errors.append('string %d: runs past the last record' % k)
                    break
                part, off, flags = part + 1, 1, stream[parts[part + 1][1] + 4]
            size = 2 if flags & 1 else 1
            n = min(left, (parts[part][2] - off) // size)
            if n == 0 or flags & 0x0C:
                errors.append('string %d: a split character or rich text' % k)
                break
            raw = stream[at(off):at(off) + n * size]
            units += raw if size == 2 else raw.decode('latin-1').encode('utf-16-le')
            off, left = off + n * size, left - n
        if errors:
            break
        strings.append(units.decode('utf-16-le'))
    if not errors and (part != len(parts) - 1 or off != parts[part][2]):
        errors.append('bytes left after the last string')
    buckets = 0
    if after[0] != 0x00FF:
        errors.append('no EXTSST after the SST')
    elif not errors:
        dsst, buckets = struct.unpack_from('<H', stream, after[1] + 4)[0], (after[2] - 2) // 8
        if dsst < 8 or buckets != (unique + dsst - 1) // dsst:
            errors.append('EXTSST: %d buckets of %d for %d strings' % (buckets, dsst, unique))
        for b in range(min(buckets, len(starts) // dsst + 1)):
            ib, cb = struct.unpack_from('<IH', stream, after[1] + 6 + 8 * b)
            start, record = starts[b * dsst]
            if (ib, cb) != (start, start - record):
                errors.append('EXTSST bucket %d: %d/%d, the string is at %d/%d' % (b, ib, cb, start, start - record))
    return {'total': total, 'unique': unique, 'records': len(parts), 'buckets': buckets,
            'same_as_xlrd': strings == book._sharedstrings, 'errors': errors}

if full:
    result['sst'] = walk_strings()
result['log'] = log.getvalue()
json.dump(result, open(out, 'w'))
)PY";

// The cells of a WKS file by "row,col", labels decoded by Python's own
// code page 850.
constexpr const char* kWksDump = R"PY(
import json, struct, sys
data = open(sys.argv[1], 'rb').read()
out, pos = {'records': [], 'cells': {}, 'widths': {}}, 0
while pos + 4 <= len(data):
    op, n = struct.unpack_from('<HH', data, pos)
    body, pos = data[pos + 4:pos + 4 + n], pos + 4 + n
    out['records'].append(op)
    if op == 0x00:
        out['bof'] = struct.unpack('<H', body)[0]
    elif op == 0x06:
        out['range'] = list(struct.unpack('<4H', body))
    elif op == 0x08:
        out['widths'][str(struct.unpack('<H', body[:2])[0])] = body[2]
    elif op in (0x0D, 0x0E, 0x0F):
        fmt, col, row = struct.unpack_from('<BHH', body)
        cell = {'format': fmt}
        if op == 0x0D:
            cell['integer'] = struct.unpack_from('<h', body, 5)[0]
        elif op == 0x0E:
            cell['number'] = struct.unpack_from('<d', body, 5)[0]
        else:
            cell.update(prefix=chr(body[5]), label=body[6:-1].decode('cp850'), nul=body[-1] == 0, size=n - 6)
        out['cells']['%d,%d' % (row, col)] = cell
    elif op == 0x01:
        break
out['trailing'] = len(data) - pos
json.dump(out, open(sys.argv[2], 'w'))
)PY";

constexpr const char* kCsvDump = R"PY(
import csv, json, sys
json.dump(list(csv.reader(open(sys.argv[1], encoding='utf-8', newline=''))), open(sys.argv[2], 'w'))
)PY";

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

bool HaveXlrd() { return std::system((std::string(kPython) + " -c 'import xlrd' >/dev/null 2>&1").c_str()) == 0; }
bool HaveSoffice() { return std::system("command -v soffice >/dev/null 2>&1") == 0; }

json RunScript(const TTempDir& dir, const char* script, const std::vector<std::string>& args) {
  const std::string scriptPath = dir.File("script.py"), out = dir.File("result.json");
  std::ofstream(scriptPath) << script;
  std::remove(out.c_str());
  std::string command = std::string(kPython) + " " + Quote(scriptPath);
  for (const std::string& a : args) command += " " + Quote(a);
  const test::TCommandResult run = test::RunCommand(command + " " + Quote(out));
  EXPECT_EQ(run.status, 0) << run.out;
  std::ifstream in(out);
  return in ? json::parse(in) : json();
}

json DumpXls(const TTempDir& dir, const std::string& path, const std::string& mode) {
  return RunScript(dir, kXlsDump, {path, mode});
}

// Converts files with LibreOffice in one run (it takes seconds to start).
void Convert(const TTempDir& dir, const std::string& filter, const std::vector<std::string>& files) {
  std::string command = "soffice -env:UserInstallation=file://" + dir.Path() + "/lo-profile --headless --convert-to " +
                        Quote(filter) + " --outdir " + Quote(dir.File("lo"));
  for (const std::string& f : files) command += " " + Quote(f);
  const test::TCommandResult run = test::RunCommand(command + " </dev/null");
  ASSERT_EQ(run.status, 0) << run.out;
}

TExportColumn Column(const std::string& name, TExportKind kind, int decimals = 0, int width = 0) {
  TExportColumn c;
  c.name = name, c.kind = kind, c.decimals = decimals, c.widthPixels = width;
  return c;
}
TExportValue Text(const std::string& s) {
  TExportValue v;
  v.text = s;
  return v;
}
TExportValue Number(double n, const std::string& plain) {
  TExportValue v = Text(plain);
  v.number = n;
  return v;
}
TExportValue Whole(int64_t n) {
  TExportValue v = Number(static_cast<double>(n), std::to_string(n));
  v.integer = n;
  return v;
}
TExportValue Stamp(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  TExportValue v;
  v.year = y, v.month = mo, v.day = d, v.hour = h, v.minute = mi, v.second = s;
  return v;
}
TExportValue Clock(int h, int mi, int s) { return Stamp(0, 0, 0, h, mi, s); }
TExportValue Flag(bool b) {
  TExportValue v;
  v.logical = b;
  return v;
}
TExportValue Null() {
  TExportValue v;
  v.null = true;
  return v;
}

std::string Repeat(const std::string& s, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += s;
  return out;
}

// The first `count` characters (not bytes) of UTF-8 text.
std::string FirstCharacters(const std::string& utf8, size_t count) {
  size_t seen = 0;
  for (size_t i = 0; i < utf8.size(); ++i)
    if ((static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80 && seen++ == count) return utf8.substr(0, i);
  return utf8;
}

// One of every kind of value, and texts that pass each format's limits.
const std::string kLatinMemo = Repeat("Cr\u00e8me br\u00fbl\u00e9e \u00e0 la carte; ", 400);         // 10,000 Latin-1
const std::string kCjkMemo = Repeat("\u6f22\u5b57\u304b\u306a\u4ea4\u3058\u308a\u6587\u3002", 700);  // 12,600 bytes
const std::string kLongMemo = std::string(32766, 'a') + "\U0001F600" + std::string(7000, 'b');
const std::string kDigits = Repeat("0123456789", 30);
const std::string kGreekCjk = "\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac \u6f22\u5b57";
// Ø and ã are in code page 850, not in 437, the other that readers assume.
const std::string kLatin = "Zo\u00eb caf\u00e9 \u00d1and\u00fa, S\u00e3o, \u00d8re";

std::vector<TExportColumn> MixedColumns() {
  return {Column("NAME", TExportKind::Text, 0, 100), Column("AMOUNT", TExportKind::Number, 2),
          Column("COUNT", TExportKind::Integer),     Column("BORN", TExportKind::Date),
          Column("STAMP", TExportKind::DateTime),    Column("AT", TExportKind::Time),
          Column("OK", TExportKind::Logical),        Column("NOTES", TExportKind::Memo),
          Column("BLOB", TExportKind::Binary)};
}

std::vector<TExportRow> MixedRows() {
  return {{Text("Plain ASCII"), Number(-1234.5, "-1234.50"), Whole(12345), Stamp(1999, 12, 31),
           Stamp(1999, 12, 31, 23, 59, 58), Clock(23, 59, 58), Flag(true), Text("line one\r\nline two"), Text("")},
          {Text(kLatin), Number(0.75, "0.75"), Whole(-42), Stamp(2024, 2, 29), Stamp(2000, 1, 1), Clock(0, 0, 1),
           Flag(false), Text(kLatinMemo), Text("")},
          {Text(kGreekCjk), Number(1000000000.25, "1000000000.25"), Whole(9007199254740993), Stamp(1850, 6, 15),
           Stamp(1900, 3, 1, 12), Clock(12, 30, 0), Flag(true), Text(kCjkMemo), Text("")},
          TExportRow(9, Null()),
          {Text(""), Number(123456789.12, "123456789.12"), Whole(1099511627776), Stamp(1900, 2, 28), Null(), Null(),
           Flag(false), Text(kLongMemo), Text("")},
          {Text("Why? Because."), Number(-0.05, "-0.05"), Whole(0), Stamp(2100, 1, 1), Stamp(2099, 12, 31, 6), Null(),
           Null(), Text(kDigits), Text("")}};
}

template <typename TWriter>
std::vector<std::string> Write(const std::string& path, const TExportSettings& settings,
                               const std::vector<TExportColumn>& columns, const std::vector<TExportRow>& rows) {
  TWriter writer(path, settings);
  writer.Begin(columns);
  for (const TExportRow& row : rows) writer.Row(row);
  writer.Finish();
  return writer.Warnings();
}

// Every warning, one a line, and whether each of `parts` is in one of them.
std::string Joined(const std::vector<std::string>& warnings) {
  std::string out;
  for (const std::string& w : warnings) out += w + "\n";
  return out;
}
void ExpectWarnings(const std::vector<std::string>& warnings, const std::vector<std::string>& parts) {
  EXPECT_EQ(warnings.size(), parts.size()) << Joined(warnings);
  for (const std::string& part : parts) EXPECT_NE(Joined(warnings).find(part), std::string::npos) << part;
}

TExportSettings Titled(const std::string& title) {
  TExportSettings s;
  s.titleLine = true, s.title = title;
  return s;
}

double Serial(int days, int h, int m, int s) { return days + (h * 3600 + m * 60 + s) / 86400.0; }

constexpr int kEmpty = 0, kText = 1, kNumber = 2, kDate = 3, kBoolean = 4;

TEST(XlsWriter, EveryKindOfValueReadsBackThroughXlrd) {
  if (!HaveXlrd()) GTEST_SKIP() << "python3-xlrd is not installed";
  TTempDir dir;
  const std::string path = dir.File("mixed.xls");
  const std::vector<std::string> warnings =
      Write<TXlsWriter>(path, Titled("Sales: Q1/Q2 [draft] *final* and more"), MixedColumns(), MixedRows());
  ExpectWarnings(warnings, {"1 text was longer than the 32,767 characters", "2 dates were written as text",
                            "1 number was written as text"});
  const json book = DumpXls(dir, path, "full");
  ASSERT_EQ(book["sheets"].size(), 1u);
  EXPECT_EQ(book["log"], "");
  const json& sheet = book["sheets"][0];
  EXPECT_EQ(sheet["name"], "Sales_ Q1_Q2 _draft_ _final_ an");
  ASSERT_EQ(sheet["nrows"], 7);
  ASSERT_EQ(sheet["ncols"], 9);
  EXPECT_EQ(sheet["dim"], json::array({7, 9}));
  EXPECT_EQ(sheet["widths"], json({{"0", 3474}}));  // 100 pixels

  const json& rows = sheet["rows"];
  auto expect = [&](int r, int c, int type, const json& value, const std::string& format = "General") {
    SCOPED_TRACE("row " + std::to_string(r) + " column " + std::to_string(c));
    const json& x = rows[static_cast<size_t>(r)][static_cast<size_t>(c)];
    EXPECT_EQ(x["t"], type);
    if (value.is_number())
      EXPECT_NEAR(x["v"].get<double>(), value.get<double>(), 1e-9);
    else
      EXPECT_EQ(x["v"], value);
    EXPECT_EQ(x["f"], format);
    EXPECT_EQ(x["b"], r == 0 ? 1 : 0) << "only the column names are bold";
  };
  for (int c = 0; c < 9; ++c) expect(0, c, kText, MixedColumns()[static_cast<size_t>(c)].name);
  const std::string kTwo = "#,##0.00", kNone = "#,##0", kDay = "dd/mm/yyyy", kTime = "hh:mm:ss";
  const std::string kStamp = kDay + " " + kTime;
  expect(1, 0, kText, "Plain ASCII");
  expect(1, 1, kNumber, -1234.5, kTwo);
  expect(1, 2, kNumber, 12345, kNone);
  expect(1, 3, kDate, 36525, kDay);
  expect(1, 4, kDate, Serial(36525, 23, 59, 58), kStamp);
  expect(1, 5, kDate, Serial(0, 23, 59, 58), kTime);
  expect(1, 6, kBoolean, 1);
  expect(1, 7, kText, "line one\nline two");
  expect(1, 8, kEmpty, "");
  expect(2, 0, kText, kLatin);
  expect(2, 1, kNumber, 0.75, kTwo);
  expect(2, 2, kNumber, -42, kNone);
  expect(2, 3, kDate, 45351, kDay);
  expect(2, 4, kDate, 36526, kStamp);
  expect(2, 5, kDate, Serial(0, 0, 0, 1), kTime);
  expect(2, 6, kBoolean, 0);
  expect(2, 7, kText, kLatinMemo);
  expect(3, 0, kText, kGreekCjk);
  expect(3, 1, kNumber, 1000000000.25, kTwo);
  expect(3, 2, kText, "9007199254740993");  // 2^53 + 1 is no double
  expect(3, 3, kText, "15/06/1850");
  expect(3, 4, kDate, Serial(61, 12, 0, 0), kStamp);
  expect(3, 5, kDate, Serial(0, 12, 30, 0), kTime);
  expect(3, 6, kBoolean, 1);
  expect(3, 7, kText, kCjkMemo);
  for (int c = 0; c < 9; ++c) expect(4, c, kEmpty, "");
  expect(5, 0, kEmpty, "");
  expect(5, 1, kNumber, 123456789.12, kTwo);
  expect(5, 2, kNumber, 1099511627776.0, kNone);
  expect(5, 3, kText, "28/02/1900");
  expect(5, 4, kEmpty, "");
  expect(5, 7, kText, std::string(32766, 'a'));  // cut before the surrogate pair, not inside it
  expect(6, 0, kText, "Why? Because.");
  expect(6, 1, kNumber, -0.05, kTwo);
  expect(6, 2, kNumber, 0, kNone);
  expect(6, 3, kDate, 73051, kDay);
  expect(6, 4, kDate, Serial(73050, 6, 0, 0), kStamp);
  expect(6, 7, kText, kDigits);

  // Both memos over 8,224 bytes go on in CONTINUE records.
  const json& sst = book["sst"];
  EXPECT_EQ(sst["errors"], json::array());
  EXPECT_TRUE(sst["same_as_xlrd"].get<bool>());
  EXPECT_GE(sst["records"], 4);
  int textCells = 0;
  for (const json& row : rows)
    for (const json& x : row) textCells += x["t"] == kText;
  EXPECT_EQ(sst["total"], textCells);
}

TEST(XlsWriter, SharedStringsRepeatOnceAndEveryBucketPointsAtItsString) {
  if (!HaveXlrd()) GTEST_SKIP() << "python3-xlrd is not installed";
  TTempDir dir;
  const std::string path = dir.File("strings.xls");
  // The first fills the SST record to two bytes short of its 8,224, where
  // no string header fits; the next record then ends one byte short after
  // 4,107 characters of the wide string, which goes on in a third. Then
  // short repeated texts, some wide, and long ones never looked up.
  std::vector<std::string> texts = {std::string(8211, 'L'), "xyz", Repeat("\u6f22", 5000)};
  for (int i = 0; i < 3000; ++i)
    texts.push_back(i % 7 == 0 ? Repeat("long text " + std::to_string(i) + " ", 30)
                               : (i % 3 == 0 ? "\u03b1\u03b2 " : "item ") + std::to_string(i % 500));
  std::vector<TExportRow> rows;
  std::vector<std::string> distinct;
  for (const std::string& t : texts) {
    rows.push_back({Text(t)});
    if (std::find(distinct.begin(), distinct.end(), t) == distinct.end()) distinct.push_back(t);
  }
  EXPECT_EQ(Write<TXlsWriter>(path, TExportSettings(), {Column("T", TExportKind::Text)}, rows).size(), 0u);
  const json book = DumpXls(dir, path, "full");
  ASSERT_TRUE(book.contains("sst"));
  EXPECT_EQ(book["sheets"][0]["name"], "Sheet1");
  const json& cells = book["sheets"][0]["rows"];
  ASSERT_EQ(cells.size(), texts.size());
  for (size_t i = 0; i < texts.size(); ++i) ASSERT_EQ(cells[i][0]["v"], texts[i]) << "row " << i;
  const json& sst = book["sst"];
  EXPECT_EQ(sst["errors"], json::array());
  EXPECT_TRUE(sst["same_as_xlrd"].get<bool>());
  EXPECT_EQ(sst["total"], texts.size());
  EXPECT_EQ(sst["unique"], distinct.size());
  EXPECT_GT(sst["buckets"], 8);
}

// 70,000 rows take a second sheet, and their 500,000 NUMBER records more
// FAT sectors than the header lists, so that DIFAT sectors list the rest.
TEST(XlsWriter, RowsPastASheetGoOnInTheNextAndALargeFileHasItsDifat) {
  if (!HaveXlrd()) GTEST_SKIP() << "python3-xlrd is not installed";
  TTempDir dir;
  const std::string path = dir.File("orders.xls");
  constexpr int kRows = 70000, kColumns = 7;
  std::vector<TExportColumn> columns = {Column("ID", TExportKind::Integer)};
  for (int c = 1; c < kColumns; ++c) columns.push_back(Column("N" + std::to_string(c), TExportKind::Number, 6));
  TXlsWriter writer(path, Titled("Orders"));
  writer.Begin(columns);
  std::vector<double> sums(2 * kColumns, 0.0);
  for (int i = 0; i < kRows; ++i) {
    TExportRow row = {Whole(i)};
    for (int c = 1; c < kColumns; ++c) {
      row.push_back(Number(i * 1.000001 + c / 7.0, "x"));  // none has an RK form
      sums[static_cast<size_t>((i < 65535 ? 0 : kColumns) + c)] += row.back().number;
    }
    writer.Row(row);
  }
  writer.Finish();
  ExpectWarnings(writer.Warnings(), {"65,536 rows"});
  const std::vector<uint8_t> file = test::ReadFile(path);
  ASSERT_GT(file.size(), 512u);
  EXPECT_GT(GetLE32(&file[44]), 109u) << "FAT sectors";
  EXPECT_GT(GetLE32(&file[72]), 0u) << "DIFAT sectors";

  const json book = DumpXls(dir, path, "summary");
  EXPECT_EQ(book["log"], "");
  ASSERT_EQ(book["sheets"].size(), 2u);
  for (int s = 0; s < 2; ++s) {
    SCOPED_TRACE("sheet " + std::to_string(s + 1));
    const json& sheet = book["sheets"][static_cast<size_t>(s)];
    EXPECT_EQ(sheet["name"], s == 0 ? "Orders" : "Orders (2)");
    const int first = s == 0 ? 0 : 65535, count = s == 0 ? 65535 : kRows - 65535;
    ASSERT_EQ(sheet["nrows"], count + 1);
    EXPECT_EQ(sheet["dim"], json::array({count + 1, kColumns}));
    EXPECT_EQ(sheet["col0"][0], "ID");
    for (int i = 0; i < count; ++i) ASSERT_EQ(sheet["col0"][static_cast<size_t>(i + 1)], first + i);
    for (int c = 1; c < kColumns; ++c)
      EXPECT_NEAR(sheet["sums"][static_cast<size_t>(c)].get<double>(), sums[static_cast<size_t>(s * kColumns + c)],
                  1e-3);
  }
  EXPECT_EQ(book["sheets"][1]["last"][6].get<double>(), (kRows - 1) * 1.000001 + 6 / 7.0);
}

TEST(XlsWriter, HoldsTwoHundredFiftySixColumnsAndRefusesMore) {
  if (!HaveXlrd()) GTEST_SKIP() << "python3-xlrd is not installed";
  TTempDir dir;
  std::vector<TExportColumn> columns;
  TExportRow row;
  for (int c = 0; c < 257; ++c) {
    columns.push_back(Column("C" + std::to_string(c), TExportKind::Integer));
    row.push_back(Whole(c));
  }
  TXlsWriter refused(dir.File("wide.xls"), TExportSettings());
  EXPECT_EQ(test::Message([&] { refused.Begin(columns); }), "XLS holds at most 256 columns; this export has 257.");

  columns.pop_back();
  row.pop_back();
  Write<TXlsWriter>(dir.File("full.xls"), TExportSettings(), columns, {row});
  const json book = DumpXls(dir, dir.File("full.xls"), "summary");
  ASSERT_EQ(book["sheets"].size(), 1u);
  EXPECT_EQ(book["sheets"][0]["ncols"], 256);
  EXPECT_EQ(book["sheets"][0]["last"][255], 255);

  // No rows at all is still a workbook, with its one empty sheet.
  Write<TXlsWriter>(dir.File("empty.xls"), TExportSettings(), columns, {});
  const json none = DumpXls(dir, dir.File("empty.xls"), "summary");
  ASSERT_EQ(none["sheets"].size(), 1u);
  EXPECT_EQ(none["sheets"][0]["nrows"], 0);
}

TEST(WksWriter, RefusesWhatAWorksheetCannotHold) {
  TTempDir dir;
  TWksWriter wide(dir.File("wide.wks"), TExportSettings());
  EXPECT_EQ(test::Message([&] { wide.Begin(std::vector<TExportColumn>(257, Column("C", TExportKind::Integer))); }),
            "WKS holds at most 256 columns; this export has 257.");
  for (bool titled : {false, true}) {
    TWksWriter tall(dir.File("tall.wks"), titled ? Titled("T") : TExportSettings());
    tall.Begin({Column("N", TExportKind::Integer)});
    const int room = titled ? 8191 : 8192;  // the line of column names takes one
    for (int i = 0; i < room; ++i) tall.Row({Whole(i)});
    const std::string message = test::Message([&] { tall.Row({Whole(room)}); });
    EXPECT_NE(message.find("WKS holds at most 8,192 rows"), std::string::npos) << message;
  }
}

TEST(WksWriter, RecordsHoldEveryValueAndWarnOfWhatTheyCouldNot) {
  TTempDir dir;
  const std::string path = dir.File("mixed.wks");
  // Lost characters: the Greek and CJK name, and the CJK memo within its
  // first 239 characters ("Why?" keeps its own question mark). Cut: the
  // Latin-1, CJK, long and digit memos. Text dates: 1850, 28 February 1900
  // and 2100, past 1-2-3's calendar.
  ExpectWarnings(Write<TWksWriter>(path, Titled("T"), MixedColumns(), MixedRows()),
                 {"2 values have characters that WKS text (code page 850", "4 texts were longer than the 240 bytes",
                  "1 text had line breaks", "3 dates were written as text", "1 number was written as text"});
  const json wks = RunScript(dir, kWksDump, {path});
  ASSERT_TRUE(wks.contains("cells"));
  EXPECT_EQ(wks["bof"], 0x0404);
  EXPECT_EQ(wks["records"][1], 0x06);
  EXPECT_EQ(wks["records"].back(), 0x01);
  EXPECT_EQ(wks["trailing"], 0);
  EXPECT_EQ(wks["range"], json::array({0, 0, 8, 6}));
  EXPECT_EQ(wks["widths"], json({{"0", 14}}));  // 100 pixels

  const json& cells = wks["cells"];
  auto label = [&](int r, int c, const std::string& text) {
    SCOPED_TRACE("row " + std::to_string(r) + " column " + std::to_string(c));
    const json& x = cells.value(std::to_string(r) + "," + std::to_string(c), json::object());
    EXPECT_EQ(x.value("label", "(no label)"), text);
    EXPECT_EQ(x.value("prefix", ""), "'");
    EXPECT_TRUE(x.value("nul", false));
    EXPECT_LE(x.value("size", 0), 240);
    EXPECT_EQ(x.value("format", 0), 0xFF);
  };
  auto number = [&](int r, int c, const std::string& record, double value, int format) {
    SCOPED_TRACE("row " + std::to_string(r) + " column " + std::to_string(c));
    const json& x = cells.value(std::to_string(r) + "," + std::to_string(c), json::object());
    ASSERT_TRUE(x.contains(record)) << x.dump();
    EXPECT_EQ(x[record].get<double>(), value);
    EXPECT_EQ(x["format"], format);
  };
  constexpr int kTwo = 0xC2, kNone = 0xC0, kDay = 0xF2, kTime = 0xFB;  // comma formats, day-month-year, time
  for (int c = 0; c < 9; ++c) label(0, c, MixedColumns()[static_cast<size_t>(c)].name);
  label(1, 0, "Plain ASCII");
  number(1, 1, "number", -1234.5, kTwo);
  number(1, 2, "integer", 12345, kNone);
  number(1, 3, "number", 36525, kDay);
  label(1, 4, "31/12/1999 23:59:58");
  number(1, 5, "number", Serial(0, 23, 59, 58), kTime);
  label(1, 6, "True");
  label(1, 7, "line one line two");
  label(2, 0, kLatin);
  number(2, 1, "number", 0.75, kTwo);
  number(2, 2, "integer", -42, kNone);
  number(2, 3, "number", 45351, kDay);
  label(2, 4, "01/01/2000 00:00:00");
  number(2, 5, "number", Serial(0, 0, 0, 1), kTime);
  label(2, 6, "False");
  label(2, 7, FirstCharacters(kLatinMemo, 239));
  label(3, 0, "???????? ??");
  number(3, 1, "number", 1000000000.25, kTwo);
  label(3, 2, "9007199254740993");
  label(3, 3, "15/06/1850");
  label(3, 4, "01/03/1900 12:00:00");
  number(3, 5, "number", Serial(0, 12, 30, 0), kTime);
  label(3, 6, "True");
  label(3, 7, std::string(239, '?'));
  number(5, 1, "number", 123456789.12, kTwo);
  number(5, 2, "number", 1099511627776.0, kNone);
  label(5, 3, "28/02/1900");
  label(5, 6, "False");
  label(5, 7, std::string(239, 'a'));
  label(6, 0, "Why? Because.");
  number(6, 1, "number", -0.05, kTwo);
  number(6, 2, "integer", 0, kNone);
  label(6, 3, "01/01/2100");
  label(6, 4, "31/12/2099 06:00:00");
  label(6, 7, kDigits.substr(0, 239));
  // Nulls, empty texts and binary values leave no cell at all.
  EXPECT_EQ(cells.size(), 9u + 8 + 8 + 8 + 0 + 5 + 6);
}

// LibreOffice shows an XLS as Excel would (grouped numbers, day/month/year
// dates), and a WKS with the labels, numbers and days its records hold.
TEST(XlsWksInterop, LibreOfficeShowsTheValuesWritten) {
  if (!HaveSoffice()) GTEST_SKIP() << "LibreOffice (soffice) is not installed";
  if (!HaveXlrd()) GTEST_SKIP() << "python3-xlrd is not installed";
  TTempDir dir;
  const std::string xls = dir.File("mixed_xls.xls"), wks = dir.File("mixed_wks.wks"), tall = dir.File("tall.wks");
  Write<TXlsWriter>(xls, Titled("Mixed"), MixedColumns(), MixedRows());
  Write<TWksWriter>(wks, Titled("Mixed"), MixedColumns(), MixedRows());
  std::vector<TExportRow> tallRows;
  for (int i = 0; i < 8192; ++i) tallRows.push_back({Whole(i * 3)});
  Write<TWksWriter>(tall, TExportSettings(), {Column("N", TExportKind::Integer)}, tallRows);
  Convert(dir, "csv:Text - txt - csv (StarCalc):44,34,76", {xls, wks, tall});
  Convert(dir, "xls", {wks});
  auto csv = [&](const std::string& name) { return RunScript(dir, kCsvDump, {dir.File("lo/" + name)}); };

  const json shown = csv("mixed_xls.csv");
  const std::vector<std::vector<std::string>> expected = {
      {"NAME", "AMOUNT", "COUNT", "BORN", "STAMP", "AT", "OK", "NOTES", "BLOB"},
      {"Plain ASCII", "-1,234.50", "12,345", "31/12/1999", "31/12/1999 23:59:58", "23:59:58", "TRUE",
       "line one\nline two", ""},
      {kLatin, "0.75", "-42", "29/02/2024", "01/01/2000 00:00:00", "00:00:01", "FALSE", kLatinMemo, ""},
      {kGreekCjk, "1,000,000,000.25", "9007199254740993", "15/06/1850", "01/03/1900 12:00:00", "12:30:00", "TRUE",
       kCjkMemo, ""},
      std::vector<std::string>(9, ""),
      {"", "123,456,789.12", "1,099,511,627,776", "28/02/1900", "", "", "FALSE", std::string(32766, 'a'), ""},
      {"Why? Because.", "-0.05", "0", "01/01/2100", "31/12/2099 06:00:00", "", "", kDigits, ""}};
  ASSERT_EQ(shown.size(), expected.size());
  for (size_t r = 0; r < expected.size(); ++r) {
    ASSERT_EQ(shown[r].size(), 9u) << "row " << r;
    for (size_t c = 0; c < 9; ++c) {
      const std::string got = shown[r][c], want = expected[r][c];
      // LibreOffice takes a BIFF boolean as the formula TRUE() or FALSE()
      // and, not recalculating, shows the 1 or 0 it holds.
      if (r > 0 && c == 6 && !want.empty())
        EXPECT_TRUE(got == want || got == (want == "TRUE" ? "1" : "0")) << "row " << r << ": " << got;
      else
        EXPECT_EQ(got, want) << "XLS row " << r << " column " << c;
    }
  }

  // Each WKS cell as the records hold it: labels as they stand, numbers to
  // the eight digits LibreOffice keeps and with their format's decimals,
  // times to the second; the days are checked below.
  const json cells = RunScript(dir, kWksDump, {wks})["cells"];
  const json wksShown = csv("mixed_wks.csv");
  ASSERT_EQ(wksShown.size(), 7u);
  for (size_t r = 0; r < 7; ++r) {
    ASSERT_EQ(wksShown[r].size(), 9u) << "row " << r;
    for (size_t c = 0; c < 9; ++c) {
      SCOPED_TRACE("WKS row " + std::to_string(r) + " column " + std::to_string(c));
      const std::string got = wksShown[r][c];
      const json cell = cells.value(std::to_string(r) + "," + std::to_string(c), json());
      if (cell.is_null()) {
        EXPECT_EQ(got, "");
      } else if (cell.contains("label")) {
        EXPECT_EQ(got, cell["label"]);
      } else {
        const double value = cell.contains("number") ? cell["number"].get<double>() : cell["integer"].get<double>();
        const int format = cell["format"];
        if (format == 0xF2) continue;
        if (format == 0xFB) {
          const long s = std::lround(value * 86400);
          char clock[64];
          std::snprintf(clock, sizeof clock, "%02ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
          EXPECT_EQ(got, clock);
          continue;
        }
        std::string plain;
        for (char ch : got)
          if (ch != ',') plain += ch;
        EXPECT_NEAR(std::stod(plain), value, std::fabs(value) * 1e-7) << got;
        const size_t point = plain.find('.');
        EXPECT_EQ(point == std::string::npos ? 0 : plain.size() - point - 1, static_cast<size_t>(format & 0x0F)) << got;
        EXPECT_EQ(got.find(',') != std::string::npos, std::fabs(value) >= 1000) << got;
      }
    }
  }
  const json days = DumpXls(dir, dir.File("lo/mixed_wks.xls"), "full")["sheets"][0]["rows"];
  ASSERT_EQ(days.size(), 7u);
  for (const auto& [r, day] : {std::pair{1, 36525}, {2, 45351}}) {
    EXPECT_EQ(days[static_cast<size_t>(r)][3]["t"], kDate) << "row " << r;
    EXPECT_EQ(days[static_cast<size_t>(r)][3]["v"], day) << "row " << r;
  }

  const json tallShown = csv("tall.csv");
  ASSERT_EQ(tallShown.size(), 8192u);
  for (int i = 0; i < 8192; ++i)
    ASSERT_EQ(tallShown[static_cast<size_t>(i)][0], ExportGroupedNumber(std::to_string(i * 3))) << "row " << i;
}

}  // namespace
}  // namespace norvale
