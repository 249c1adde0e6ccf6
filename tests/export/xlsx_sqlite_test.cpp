// Workbooks and databases written by the exporters, read back by programs
// that know nothing of ours: openpyxl for .xlsx, Python's sqlite3 module for
// SQLite. The readers print what they find as "key<TAB>description" lines,
// strings in JSON so that every byte shows.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "app/export/sqlite_writer.h"
#include "app/export/xlsx_writer.h"
#include "tests/support/test_support.h"

namespace norvale {
namespace {

// The scratch folder every test here writes into, removed with its contents.
using TScratch = test::TTempDir;

// What the reader printed, by key; "skip" holds the reason when the oracle
// is not installed.
std::map<std::string, std::string> RunReader(const TScratch& dir, const char* script, const std::string& file) {
  std::ofstream(dir.File("reader.py")) << script;
  const std::string command = "/usr/bin/python3 " + dir.File("reader.py") + " '" + file + "' 2>&1";
  std::map<std::string, std::string> out;
  std::string text;
  if (std::FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
    const int status = pclose(pipe);
    if (WIFEXITED(status) && (WEXITSTATUS(status) == 3 || WEXITSTATUS(status) == 127)) return {{"skip", text}};
    EXPECT_EQ(status, 0) << text;
  }
  std::stringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    const size_t tab = line.find('\t');
    if (tab == std::string::npos) ADD_FAILURE() << "reader said: " << line;
    else out[line.substr(0, tab)] = line.substr(tab + 1);
  }
  return out;
}

std::string Json(const std::string& s) { return "\"" + s + "\""; }  // for strings with nothing to escape

TExportValue Null() { TExportValue v; v.null = true; return v; }
TExportValue Text(const std::string& s) { TExportValue v; v.text = s; return v; }
TExportValue Int(int64_t n) {
  TExportValue v;
  v.integer = n, v.number = double(n), v.text = std::to_string(n);
  return v;
}
TExportValue Num(const std::string& s) { TExportValue v; v.text = s; v.number = std::stod(s); return v; }
TExportValue Day(int y, int m, int d) { TExportValue v; v.year = y, v.month = m, v.day = d; return v; }
TExportValue Stamp(int y, int mo, int d, int h, int mi, int s, int ms = 0) {
  TExportValue v = Day(y, mo, d);
  v.hour = h, v.minute = mi, v.second = s, v.millisecond = ms;
  return v;
}
TExportValue Clock(int h, int mi, int s) { return Stamp(0, 0, 0, h, mi, s); }
TExportValue Bool(bool b) { TExportValue v; v.logical = b; v.text = b ? "T" : "F"; return v; }

TExportColumn Col(const std::string& name, TExportKind kind, int decimals = 0, int widthPixels = 0) {
  TExportColumn c;
  c.name = name, c.kind = kind, c.decimals = decimals, c.widthPixels = widthPixels;
  return c;
}

std::string AllWarnings(const TExportWriter& w) {
  std::string all;
  for (const auto& line : w.Warnings()) all += line + "\n";
  return all;
}

// ---------------------------------------------------------------- xlsx

// A cell as "<type> <value> <number format>[ bold]"; strings are unescaped
// the way Excel reads them ("_xHHHH_" is the character HHHH), which openpyxl
// leaves to its callers.
constexpr const char* kXlsxReader = R"PY(
import sys, re, json, datetime
try:
    import openpyxl
except ImportError:
    print("openpyxl missing"); sys.exit(3)
wb = openpyxl.load_workbook(sys.argv[1])
print("sheets\t" + json.dumps(wb.sheetnames, ensure_ascii=False))
for ws in wb.worksheets:
    print("%s!rows\t%d" % (ws.title, ws.max_row))
    for letter, dim in ws.column_dimensions.items():
        if dim.width: print("%s!width!%s\t%.0f" % (ws.title, letter, dim.width))
    for row in ws.iter_rows():
        for c in row:
            v = c.value
            if v is None: continue
            if isinstance(v, bool): text = "b %s" % v
            elif isinstance(v, (int, float)): text = "n %r" % float(v)
            elif isinstance(v, (datetime.datetime, datetime.time)): text = "d " + v.isoformat()
            else: text = "s " + json.dumps(re.sub("_x([0-9A-Fa-f]{4})_", lambda m: chr(int(m.group(1), 16)), v),
                                           ensure_ascii=False)
            print("%s!%s\t%s %s%s" % (ws.title, c.coordinate, text, c.number_format, " bold" if c.font.b else ""))
)PY";

TEST(XlsxWriter, EveryKindReadsBackWithItsTypeValueAndFormat) {
  TScratch dir;
  TExportSettings settings;
  settings.title = "People";
  TXlsxWriter writer(dir.File("kinds.xlsx"), settings);
  writer.Begin({Col("NAME", TExportKind::Text, 0, 140), Col("COUNT", TExportKind::Integer),
                Col("PRICE", TExportKind::Number, 2), Col("WHOLE", TExportKind::Number, 0),
                Col("BORN", TExportKind::Date), Col("STAMP", TExportKind::DateTime), Col("OK", TExportKind::Logical),
                Col("NOTES", TExportKind::Memo), Col("PIC", TExportKind::Binary), Col("AT", TExportKind::Time)});
  writer.Row({Text("Zoë Ångström"), Int(1234567), Num("-1234.50"), Num("42"), Day(1999, 12, 31),
              Stamp(2000, 1, 2, 3, 4, 5), Bool(true), Text("one\r\ntwo\ttab"), TExportValue{}, Clock(13, 45, 30)});
  writer.Row(TExportRow(10, Null()));
  writer.Row({Text("a_x0041_b & <c> \x01"), Int(int64_t{1} << 60), Num("0.10"), Num("-7"), Day(1900, 1, 1),
              Stamp(1900, 3, 1, 23, 59, 59), Bool(false), Text("bad \xFF byte"), TExportValue{}, Clock(0, 0, 1)});
  writer.Row({Text(""), Int(-5), Num("0.00"), Num("0"), Day(1850, 6, 7), Stamp(1899, 12, 31, 1, 2, 3), Bool(true),
              Text(std::string("nul\0gone", 8)), TExportValue{}, Clock(23, 59, 59)});
  writer.Finish();

  auto book = RunReader(dir, kXlsxReader, dir.File("kinds.xlsx"));
  if (book.count("skip")) GTEST_SKIP() << book["skip"];
  EXPECT_EQ(book["sheets"], "[\"People\"]");
  EXPECT_EQ(book["People!rows"], "4");  // no title line: the viewer's choice for spreadsheets
  const std::map<std::string, std::string> want = {
      {"A1", "s \"Zoë Ångström\" General"}, {"B1", "n 1234567.0 #,##0"}, {"C1", "n -1234.5 #,##0.00"},
      {"D1", "n 42.0 #,##0"}, {"E1", "d 1999-12-31T00:00:00 dd/mm/yyyy"},
      {"F1", "d 2000-01-02T03:04:05 dd/mm/yyyy hh:mm:ss"}, {"G1", "b True General"},
      // A cell breaks its lines with LF alone, as Excel writes them.
      {"H1", "s \"one\\ntwo\\ttab\" General"}, {"J1", "d 13:45:30 hh:mm:ss"},
      // A literal "_x0041_" survives Excel's unescaping; a malformed byte
      // becomes U+FFFD rather than a file Excel refuses; an integer past
      // 2^53 stays exact as text.
      {"A3", "s \"a_x0041_b & <c> \\u0001\" General"}, {"B3", "s \"1152921504606846976\" General"},
      {"C3", "n 0.1 #,##0.00"}, {"D3", "n -7.0 #,##0"}, {"E3", "d 1900-01-01T00:00:00 dd/mm/yyyy"},
      {"F3", "d 1900-03-01T23:59:59 dd/mm/yyyy hh:mm:ss"}, {"G3", "b False General"},
      {"H3", "s \"bad \xEF\xBF\xBD byte\" General"}, {"J3", "d 00:00:01 hh:mm:ss"},
      // Dates Excel cannot hold stay readable as text.
      {"B4", "n -5.0 #,##0"}, {"C4", "n 0.0 #,##0.00"}, {"D4", "n 0.0 #,##0"}, {"E4", "s \"07/06/1850\" General"},
      {"F4", "s \"31/12/1899 01:02:03\" General"}, {"G4", "b True General"}, {"H4", "s \"nulgone\" General"},
      {"J4", "d 23:59:59 hh:mm:ss"}};
  for (const auto& [ref, value] : want) EXPECT_EQ(book["People!" + ref], value) << ref;
  // Nulls, empty text and binary values leave no cell at all.
  size_t cells = 0;
  for (const auto& [key, value] : book)
    cells += key.rfind("People!", 0) == 0 && key.find('!', 7) == std::string::npos && key != "People!rows";
  EXPECT_EQ(cells, want.size());
  EXPECT_EQ(book["People!width!A"], "21");  // 140 pixels, 20 characters and libxlsxwriter's padding

  const std::string warnings = AllWarnings(writer);
  EXPECT_NE(warnings.find("2 dates lie outside"), std::string::npos) << warnings;
  EXPECT_NE(warnings.find("1 integer has"), std::string::npos) << warnings;
  EXPECT_EQ(warnings.find("cut"), std::string::npos) << warnings;
}

TEST(XlsxWriter, LongTextIsCutAtACharacterBoundaryAndCounted) {
  TScratch dir;
  TXlsxWriter writer(dir.File("long.xlsx"), TExportSettings{});
  writer.Begin({Col("MEMO", TExportKind::Memo)});
  // A character outside the BMP takes two of Excel's 32,767 units: at the
  // limit it goes whole or not at all.
  const std::string astral = "\xF0\x9F\x98\x80";
  writer.Row({Text(std::string(32766, 'a') + astral + "tail")});
  writer.Row({Text(std::string(32765, 'b') + astral)});
  writer.Row({Text(std::string(40000, 'c'))});
  writer.Finish();

  auto book = RunReader(dir, kXlsxReader, dir.File("long.xlsx"));
  if (book.count("skip")) GTEST_SKIP() << book["skip"];
  EXPECT_EQ(book["Sheet1!A1"], "s " + Json(std::string(32766, 'a')) + " General");
  EXPECT_EQ(book["Sheet1!A2"], "s " + Json(std::string(32765, 'b') + astral) + " General");
  EXPECT_EQ(book["Sheet1!A3"], "s " + Json(std::string(32767, 'c')) + " General");
  EXPECT_EQ(AllWarnings(writer), "2 texts were cut to the 32,767 characters an Excel cell holds.\n");
}

TEST(XlsxWriter, RowsPastTheSheetLimitContinueOnFurtherSheetsWithTheTitleLine) {
  TScratch dir;
  TExportSettings settings;
  settings.titleLine = true;
  // 40 characters, with all that Excel refuses, and apostrophes where the
  // name is cut (a name cannot end with one).
  settings.title = "'Orders: 2024/Q1 [draft] *?\\ '' more ..";
  TXlsxWriter writer(dir.File("overflow.xlsx"), settings, 4);  // a title line and three records a sheet
  writer.Begin({Col("ID", TExportKind::Integer), Col("WHO", TExportKind::Text)});
  for (int i = 1; i <= 7; ++i) writer.Row({Int(i), Text("n" + std::to_string(i))});
  writer.Finish();

  auto book = RunReader(dir, kXlsxReader, dir.File("overflow.xlsx"));
  if (book.count("skip")) GTEST_SKIP() << book["skip"];
  const std::string base = "Orders_ 2024_Q1 _draft_ ___";
  EXPECT_EQ(book["sheets"], "[\"" + base + "\", \"" + base + " (2)\", \"" + base + " (3)\"]");
  int id = 1;
  for (const std::string& sheet : {base, base + " (2)", base + " (3)"}) {
    EXPECT_EQ(book[sheet + "!A1"], "s \"ID\" General bold");
    EXPECT_EQ(book[sheet + "!B1"], "s \"WHO\" General bold");
    const int rows = std::stoi(book[sheet + "!rows"]);
    for (int r = 2; r <= rows; ++r, ++id) {
      EXPECT_EQ(book[sheet + "!A" + std::to_string(r)], "n " + std::to_string(id) + ".0 #,##0");
      EXPECT_EQ(book[sheet + "!B" + std::to_string(r)], "s " + Json("n" + std::to_string(id)) + " General");
    }
  }
  EXPECT_EQ(id, 8) << "every record once, in order";
  EXPECT_NE(AllWarnings(writer).find("continue on 2 further sheets"), std::string::npos) << AllWarnings(writer);
}

// ---------------------------------------------------------------- sqlite

constexpr const char* kSqliteReader = R"PY(
import sys, sqlite3, json
db = sqlite3.connect(sys.argv[1])
for (name,) in db.execute("SELECT name FROM sqlite_master WHERE type='table'"):
    print("table\t" + json.dumps(name))
    q = '"%s"' % name.replace('"', '""')
    print("schema\t" + ", ".join("%s %s" % (c[1], c[2]) for c in db.execute("PRAGMA table_info(%s)" % q)))
    for rowid, *values in db.execute("SELECT rowid, * FROM %s" % q):
        for i, v in enumerate(values):
            print("%d.%d\t%s %s" % (rowid, i, type(v).__name__, json.dumps(v.hex() if isinstance(v, bytes) else v,
                                                                         ensure_ascii=False)))
)PY";

TEST(SqliteWriter, TypedColumnsAndValuesReadBackBySqlite) {
  TScratch dir;
  const std::string path = dir.File("out.sqlite");
  std::ofstream(path) << "left from an earlier run, not a database";
  TExportSettings settings;
  settings.title = "my \"orders\"";
  TSqliteWriter writer(path, settings);
  writer.Begin({Col("NAME", TExportKind::Text), Col("QTY", TExportKind::Integer), Col("PRICE", TExportKind::Number, 2),
                Col("WHOLE", TExportKind::Number, 0), Col("BORN", TExportKind::Date),
                Col("STAMP", TExportKind::DateTime), Col("OK", TExportKind::Logical), Col("PIC", TExportKind::Binary),
                Col("AT", TExportKind::Time), Col("name", TExportKind::Memo), Col("", TExportKind::Text)});
  writer.Row({Text("O'Brien \"x\" Zoë"), Int(int64_t{1} << 62), Num("-1234.50"), Num("12345678901"),
              Day(1999, 12, 31), Stamp(2000, 1, 2, 3, 4, 5), Bool(true), TExportValue{}, Clock(13, 45, 30),
              Text(std::string(100000, 'm')), Text("")});
  writer.Row(TExportRow(11, Null()));
  writer.Row({Text("second"), Int(-1), Num("0.10"), Num("-3"), Day(1, 1, 1), Stamp(2024, 2, 29, 23, 59, 59, 250),
              Bool(false), TExportValue{}, Clock(0, 0, 0), Text("m"), Text("z")});
  writer.Finish();
  EXPECT_EQ(AllWarnings(writer), "");
  EXPECT_FALSE(std::filesystem::exists(path + "-journal"));

  auto db = RunReader(dir, kSqliteReader, path);
  if (db.count("skip")) GTEST_SKIP() << db["skip"];
  EXPECT_EQ(db["table"], "\"my \\\"orders\\\"\"");
  EXPECT_EQ(db["schema"], "NAME TEXT, QTY INTEGER, PRICE REAL, WHOLE INTEGER, BORN TEXT, STAMP TEXT, OK INTEGER, "
                          "PIC BLOB, AT TEXT, name_2 TEXT, column_11 TEXT");
  const std::vector<std::string> first = {
      "str \"O'Brien \\\"x\\\" Zoë\"", "int 4611686018427387904", "float -1234.5", "int 12345678901",
      "str \"1999-12-31\"", "str \"2000-01-02 03:04:05\"", "int 1", "bytes \"\"", "str \"13:45:30\"",
      "str " + Json(std::string(100000, 'm')), "str \"\""};
  const std::vector<std::string> third = {
      "str \"second\"", "int -1", "float 0.1", "int -3", "str \"0001-01-01\"", "str \"2024-02-29 23:59:59.250\"",
      "int 0", "bytes \"\"", "str \"00:00:00\"", "str \"m\"", "str \"z\""};
  for (size_t c = 0; c < first.size(); ++c) {
    EXPECT_EQ(db["1." + std::to_string(c)], first[c]);
    EXPECT_EQ(db["2." + std::to_string(c)], "NoneType null");
    EXPECT_EQ(db["3." + std::to_string(c)], third[c]);
  }
  EXPECT_EQ(db.size(), 2 + 3 * first.size());
}

TEST(SqliteWriter, NamesAreMadeSafeAndDecimalsBeyondARealAreReported) {
  EXPECT_EQ(TSqliteWriter::TableName(""), "export");
  EXPECT_EQ(TSqliteWriter::TableName("SQLITE_x"), "_SQLITE_x");
  EXPECT_EQ(TSqliteWriter::ColumnNames({Col("a", TExportKind::Text), Col("A", TExportKind::Text),
                                        Col("a_2", TExportKind::Text), Col("", TExportKind::Text)}),
            (std::vector<std::string>{"a", "A_2", "a_2_2", "column_4"}));
  TScratch dir;
  TExportSettings settings;
  settings.title = "sqlite_sequence";
  TSqliteWriter writer(dir.File("wide.db"), settings);
  writer.Begin({Col("BIG", TExportKind::Number, 2)});
  writer.Row({Num("12345678901234567.12")});
  writer.Row({Num("9999999999999.99")});  // 15 digits: the nearest double prints back the same
  writer.Finish();
  EXPECT_EQ(AllWarnings(writer), "1 number has more digits than an SQLite REAL keeps; the nearest value was stored.\n");
  auto db = RunReader(dir, kSqliteReader, dir.File("wide.db"));
  if (db.count("skip")) GTEST_SKIP() << db["skip"];
  EXPECT_EQ(db["table"], "\"_sqlite_sequence\"");
  EXPECT_EQ(db["2.0"], "float 9999999999999.99");
}

TEST(ExportLimits, FailuresAndLimitsRaiseErrorsThatSayWhy) {
  TScratch dir;
  auto messageOf = [](const std::function<void()>& action) {
    try {
      action();
    } catch (const EExportError& e) {
      return std::string(e.what());
    }
    return std::string("(no error)");
  };
  TXlsxWriter wide(dir.File("wide.xlsx"), TExportSettings{});
  EXPECT_NE(messageOf([&] { wide.Begin(std::vector<TExportColumn>(kXlsxMaxColumns + 1, Col("C", TExportKind::Text))); })
                .find("at most 16,384 columns; this export has 16,385"),
            std::string::npos);
  TXlsxWriter widest(dir.File("widest.xlsx"), TExportSettings{});  // exactly the limit is fine
  widest.Begin(std::vector<TExportColumn>(kXlsxMaxColumns, Col("C", TExportKind::Integer)));
  widest.Row(TExportRow(kXlsxMaxColumns, Int(1)));
  widest.Finish();

  TXlsxWriter nowhere(dir.File("no/such/folder/x.xlsx"), TExportSettings{});
  EXPECT_NE(messageOf([&] { nowhere.Begin({Col("A", TExportKind::Text)}); }).find("No such file"), std::string::npos);
  TSqliteWriter lost(dir.File("no/such/folder/x.db"), TExportSettings{});
  EXPECT_NE(messageOf([&] { lost.Begin({Col("A", TExportKind::Text)}); }).find("unable to open database file"),
            std::string::npos);
  TSqliteWriter empty(dir.File("none.db"), TExportSettings{});
  EXPECT_NE(messageOf([&] { empty.Begin({}); }), "(no error)");

  TXlsxWriter shortX(dir.File("short.xlsx"), TExportSettings{});
  TSqliteWriter shortS(dir.File("short.db"), TExportSettings{});
  for (TExportWriter* writer : std::initializer_list<TExportWriter*>{&shortX, &shortS}) {
    writer->Begin({Col("A", TExportKind::Text), Col("B", TExportKind::Text)});
    EXPECT_NE(messageOf([&] { writer->Row({Text("one")}); }).find("1 values was given for 2 columns"),
              std::string::npos);
  }
}

}  // namespace
}  // namespace norvale
