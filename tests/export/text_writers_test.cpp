// The text exporters' files read back by programs that share nothing with
// them: Python's csv, json, xml.etree and html.parser, xmllint, LibreOffice
// for RTF, and a PostgreSQL server that runs the psql script. Every writer
// gets the same awkward records, and each reader must hand back exactly the
// values that went in, in the forms the format promises.
#include "app/export/text_writers.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

namespace norvale {
namespace {

using nlohmann::json;

#define PYTHON "/usr/bin/python3"
constexpr const char* kPython = PYTHON;
constexpr const char* kPgBin = "/usr/lib/postgresql/15/bin/";

// The scratch folder every test here writes into, removed with its contents.
using TScratch = test::TTempDir;

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs `command`, failing the test when it does not end well; its output.
std::string Shell(const std::string& command) {
  std::string out;
  std::FILE* pipe = popen(command.c_str(), "r");
  char chunk[4096];
  for (size_t n; pipe && (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) out.append(chunk, n);
  const int status = pipe ? pclose(pipe) : -1;
  EXPECT_EQ(status, 0) << command << "\n" << out;
  return out;
}

// Skips the test when a reader it needs is not installed.
#define NEED_TOOL(tool) \
  if (std::system("command -v " tool " >/dev/null 2>&1") != 0) GTEST_SKIP() << tool " is missing"

std::string Python(const TScratch& dir, const std::string& script, const std::string& args) {
  std::ofstream(dir.File("reader.py")) << "import sys, json\n" << script;
  return Shell(std::string(kPython) + " " + dir.File("reader.py") + " " + args);
}

TExportValue Text(const std::string& s) {
  TExportValue v;
  v.text = s;
  return v;
}
TExportValue Number(const std::string& s) {
  TExportValue v = Text(s);
  v.number = std::stod(s);
  v.integer = std::stoll(s);
  return v;
}
TExportValue Date(int y, int m, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  TExportValue v;
  v.year = y, v.month = m, v.day = d, v.hour = h, v.minute = mi, v.second = s, v.millisecond = ms;
  return v;
}
TExportValue Logical(bool b) {
  TExportValue v;
  v.logical = b;
  return v;
}

std::vector<TExportColumn> Columns() {
  using K = TExportKind;
  return {{"NAME", K::Text, 'C', 30, 0, 120}, {"NOTES", K::Memo, 'M', 10}, {"QTY", K::Integer, 'N', 18},
          {"PRICE", K::Number, 'N', 14, 2},   {"BORN", K::Date, 'D', 8},   {"STAMP", K::DateTime, 'T', 8},
          {"OK", K::Logical, 'L', 1},         {"PIC", K::Binary, 'G', 10}, {"1ST", K::Text, 'C', 20},
          {"Größe", K::Text, 'C', 10}};
}

// The fourth record's memo holds a byte that is not UTF-8 and a control
// character; every writer warns about the byte.
std::vector<TExportRow> Rows() {
  TExportValue null;
  null.null = true;
  return {
      {Text("Smith, \"Jr\""), Text("line1\r\nline2\nline3\rend"), Number("9007199254740993"), Number("-1234.50"),
       Date(1999, 12, 31), Date(2024, 2, 29, 23, 59, 58), Logical(true), Text(""), Text("  leading blanks"),
       Text("café")},
      {Text("<b>&amp;</b> 'x'"), Text("Ελληνικά 漢字 😀\ttab\n\\.\nend"), Number("-7"), Number("1234567890.12"),
       Date(2000, 1, 1), Date(1970, 1, 1, 0, 0, 0, 250), Logical(false), Text(""), Text("back\\slash {brace}"),
       Text("Ωμέγα")},
      TExportRow(10, null),
      {Text(""), Text("bad\xff byte \001bell"), Number("0"), Number("0.00"), Date(2024, 2, 29), null, Logical(true),
       Text(""), Text("x"), Text("y")},
  };
}

const std::vector<std::string> kNames = {"NAME",  "NOTES", "QTY", "PRICE", "BORN",
                                         "STAMP", "OK",    "PIC", "1ST",   "Größe"};
const char* const kBadMemo = "bad\uFFFD byte \001bell";

// The values as the text forms write them, nulls as "".
json TextForms() {
  return {{"Smith, \"Jr\"", "line1\r\nline2\nline3\rend", "9007199254740993", "-1234.50", "31/12/1999",
           "29/02/2024 23:59:58", "True", "", "  leading blanks", "café"},
          {"<b>&amp;</b> 'x'", "Ελληνικά 漢字 😀\ttab\n\\.\nend", "-7", "1234567890.12", "01/01/2000",
           "01/01/1970 00:00:00", "False", "", "back\\slash {brace}", "Ωμέγα"},
          json(std::vector<std::string>(10, "")),
          {"", kBadMemo, "0", "0.00", "29/02/2024", "", "True", "", "x", "y"}};
}

// Documents show numbers grouped and every line break as one.
json DocumentForms() {
  json rows = TextForms();
  rows[0][1] = "line1\nline2\nline3\nend";
  rows[0][2] = "9,007,199,254,740,993";
  rows[0][3] = "-1,234.50";
  rows[1][3] = "1,234,567,890.12";
  return rows;
}

template <class TWriter>
std::vector<std::string> Export(const std::string& path, const TExportSettings& settings,
                                const std::vector<TExportColumn>& columns = Columns(),
                                const std::vector<TExportRow>& rows = Rows()) {
  TWriter writer(path, settings);
  writer.Begin(columns);
  for (const TExportRow& row : rows) writer.Row(row);
  writer.Finish();
  return writer.Warnings();
}

bool Mentions(const std::vector<std::string>& warnings, const std::string& part) {
  for (const std::string& w : warnings)
    if (w.find(part) != std::string::npos) return true;
  return false;
}

constexpr const char* kCsvReader = R"PY(
import csv
with open(sys.argv[1], encoding='utf-8', newline='') as f:
    print(json.dumps(list(csv.reader(f, delimiter=sys.argv[2], quotechar=sys.argv[3]))))
)PY";

TEST(TextWritersTest, PlainTextQuotesOnlyTextAndCsvEverythingButNumbers) {
  NEED_TOOL(PYTHON);
  TScratch dir;
  TExportSettings settings;
  settings.quote = '\'';
  const auto textWarnings = Export<TTextWriter>(dir.File("out.txt"), settings);
  json expected = TextForms();
  EXPECT_EQ(json::parse(Python(dir, kCsvReader, dir.File("out.txt") + " , \"'\"")), expected);
  const std::string txt = ReadText(dir.File("out.txt"));
  EXPECT_NE(txt.find(",9007199254740993,-1234.50,31/12/1999,29/02/2024 23:59:58,True,,'  leading blanks','café'\r\n"
                     "'<b>&amp;</b> ''x'''"),
            std::string::npos);
  EXPECT_NE(txt.find("\r\n,,,,,,,,,\r\n''"), std::string::npos);
  EXPECT_TRUE(Mentions(textWarnings, "1 bytes of text were not valid UTF-8"));

  settings = TExportSettings();
  settings.titleLine = true;
  settings.separator = ';';
  const auto csvWarnings = Export<TCsvWriter>(dir.File("out.csv"), settings);
  expected.insert(expected.begin(), kNames);
  EXPECT_EQ(json::parse(Python(dir, kCsvReader, dir.File("out.csv") + " ';' '\"'")), expected);
  const std::string csv = ReadText(dir.File("out.csv"));
  EXPECT_EQ(csv.rfind("\"NAME\";\"NOTES\";", 0), 0u) << "no byte order mark, names quoted";
  EXPECT_NE(csv.find(";9007199254740993;-1234.50;\"31/12/1999\";\"29/02/2024 23:59:58\";\"True\";;"),
            std::string::npos);
  EXPECT_NE(csv.find("\r\n;;;;;;;;;\r\n\"\";"), std::string::npos);
  EXPECT_TRUE(Mentions(csvWarnings, "not valid UTF-8"));
}

constexpr const char* kHtmlReader = R"PY(
from html.parser import HTMLParser
class Reader(HTMLParser):
    def __init__(self):
        super().__init__(); self.rows = []; self.cell = None; self.title = None; self.meta = []; self.right = set()
        self.where = None
    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if tag == 'meta': self.meta.append(a)
        elif tag == 'title': self.where = 'title'; self.title = ''
        elif tag == 'tr': self.rows.append([])
        elif tag in ('td', 'th'):
            self.cell = ''
            if a.get('class') == 'n': self.right.add(len(self.rows[-1]))
        elif tag == 'br' and self.cell is not None: self.cell += '\n'
    def handle_endtag(self, tag):
        if tag in ('td', 'th'): self.rows[-1].append(self.cell); self.cell = None
        elif tag == 'title': self.where = None
    def handle_data(self, data):
        if self.cell is not None: self.cell += data
        elif self.where == 'title': self.title += data
r = Reader()
r.feed(open(sys.argv[1], encoding='utf-8').read()); r.close()
print(json.dumps({'title': r.title, 'meta': r.meta, 'rows': r.rows, 'right': sorted(r.right)}))
)PY";

TEST(TextWritersTest, HtmlIsOneEscapedTableWithGroupedRightAlignedNumbers) {
  NEED_TOOL(PYTHON);
  TScratch dir;
  TExportSettings settings;
  settings.titleLine = true;
  settings.title = "Sales <2024> & \"more\"";
  const auto warnings = Export<THtmlWriter>(dir.File("out.htm"), settings);
  const json got = json::parse(Python(dir, kHtmlReader, dir.File("out.htm")));
  EXPECT_EQ(got["title"], settings.title);
  EXPECT_EQ(got["meta"], json::parse(R"([{"charset":"utf-8"}])"));
  json expected = DocumentForms();
  expected.insert(expected.begin(), kNames);
  EXPECT_EQ(got["rows"], expected);
  EXPECT_EQ(got["right"], json::parse("[2,3]"));
  EXPECT_EQ(ReadText(dir.File("out.htm")).rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_TRUE(Mentions(warnings, "not valid UTF-8"));
}

constexpr const char* kXmlReader = R"PY(
import xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
params, records = root[0], root[1:]
print(json.dumps({'root': root.tag, 'params': params.tag, 'fields': [f.attrib for f in params],
    'records': [[r.tag] + [[row.tag] + [[c.tag, None if c.get('null') == 'true' else (c.text or '')]
                for c in row] for row in r] for r in records]}))
)PY";

TEST(TextWritersTest, XmlHoldsEveryValueUnderSafeElementNames) {
  NEED_TOOL(PYTHON);
  NEED_TOOL("xmllint");
  TScratch dir;
  const auto warnings = Export<TXmlWriter>(dir.File("out.xml"), TExportSettings());
  Shell("xmllint --noout " + dir.File("out.xml") + " 2>&1");
  const json got = json::parse(Python(dir, kXmlReader, dir.File("out.xml")));
  EXPECT_EQ(got["root"], "RECORDS");
  EXPECT_EQ(got["params"], "PARAMS");
  const std::vector<std::string> elements = {"NAME",  "NOTES", "QTY", "PRICE", "BORN",
                                             "STAMP", "OK",    "PIC", "_1ST",  "Gr__e"};
  ASSERT_EQ(got["fields"].size(), 10u);
  EXPECT_EQ(got["fields"][3], json::parse(R"({"name":"PRICE","element":"PRICE","type":"N","length":"14",
                                               "decimals":"2"})"));
  json expected = TextForms();
  expected[3][1] = "bad\uFFFD byte \uFFFDbell";
  for (size_t r = 0; r < expected.size(); ++r) {
    json record = {"RECORD", {"ROW"}};
    for (size_t c = 0; c < elements.size(); ++c) {
      EXPECT_EQ(got["fields"][c]["name"], kNames[c]);
      EXPECT_EQ(got["fields"][c]["element"], elements[c]);
      record[1].push_back({elements[c], r == 2 || (r == 3 && c == 5) ? json() : expected[r][c]});
    }
    EXPECT_EQ(got["records"][r], record) << "record " << r;
  }
  EXPECT_TRUE(Mentions(warnings, "1 control characters that XML cannot hold"));
  EXPECT_TRUE(Mentions(warnings, "1 bytes of text were not valid UTF-8"));

  // Names that become the same element are numbered apart; tags come from
  // the settings and are made safe the same way.
  TExportSettings tags;
  tags.recordsTag = "Daten", tags.recordTag = "Satz", tags.rowTag = "Zeile", tags.paramsTag = "1 Felder";
  Export<TXmlWriter>(dir.File("names.xml"), tags, {{"A B"}, {"A_B"}, {"xmlData"}, {""}, {"Ärger"}, {"A-B.c"}},
                     {{Text("1"), Text("2"), Text("3"), Text("4"), Text("5"), Text("6")}});
  Shell("xmllint --noout " + dir.File("names.xml") + " 2>&1");
  const json named = json::parse(Python(dir, kXmlReader, dir.File("names.xml")));
  EXPECT_EQ(named["root"], "Daten");
  EXPECT_EQ(named["params"], "_1_Felder");
  EXPECT_EQ(named["records"][0], json::parse(R"(["Satz", ["Zeile", ["A_B","1"], ["A_B_2","2"], ["_xmlData","3"],
                                                  ["FIELD","4"], ["_rger","5"], ["A-B.c","6"]]])"));
  EXPECT_EQ(named["fields"][4]["name"], "Ärger");
}

constexpr const char* kJsonReader = R"PY(
data = json.load(open(sys.argv[1], encoding='utf-8'), object_pairs_hook=list,
                 parse_float=lambda s: 'number ' + s, parse_int=lambda s: 'number ' + s)
print(json.dumps(data))
)PY";

TEST(TextWritersTest, JsonKeepsTypesExactDigitsAndReplacesBadUtf8) {
  NEED_TOOL(PYTHON);
  TScratch dir;
  const auto warnings = Export<TJsonWriter>(dir.File("out.json"), TExportSettings());
  const json got = json::parse(Python(dir, kJsonReader, dir.File("out.json")));
  const json values = json::parse(R"([
    ["Smith, \"Jr\"", "line1\r\nline2\nline3\rend", "number 9007199254740993", "number -1234.50", "1999-12-31",
     "2024-02-29T23:59:58", true, null, "  leading blanks", "café"],
    ["<b>&amp;</b> 'x'", "Ελληνικά 漢字 😀\ttab\n\\.\nend", "number -7", "number 1234567890.12", "2000-01-01",
     "1970-01-01T00:00:00.250", false, null, "back\\slash {brace}", "Ωμέγα"],
    [null, null, null, null, null, null, null, null, null, null],
    ["", "bad\ufffd byte \u0001bell", "number 0", "number 0.00", "2024-02-29", null, true, null, "x", "y"]])");
  ASSERT_EQ(got.size(), values.size());
  for (size_t r = 0; r < values.size(); ++r)
    for (size_t c = 0; c < kNames.size(); ++c) EXPECT_EQ(got[r][c], json({kNames[c], values[r][c]})) << r << c;
  EXPECT_TRUE(Mentions(warnings, "1 bytes of text were not valid UTF-8"));

  // Number texts a field can hold, and malformed UTF-8 of every kind: each
  // byte of a sequence that is not well formed is one U+FFFD.
  const std::vector<std::string> numbers = {"+007.50", ".5", "5.", " 12 ", "-0.0", "1.5E+10", "***", "1e", ""};
  const std::vector<std::string> expected = {"7.50", "0.5", "5", "12", "-0.0", "1.5e+10"};
  std::vector<TExportRow> rows;
  for (const std::string& n : numbers)
    rows.push_back({Text(n), Text("\xC0\xAF|\xED\xA0\x80|\xF4\x90\x80\x80|\xE2\x82")});
  const auto edge = Export<TJsonWriter>(dir.File("edge.json"), TExportSettings(),
                                        {{"N", TExportKind::Number, 'N', 10, 2}, {"T", TExportKind::Memo}}, rows);
  const json parsed = json::parse(Python(dir, kJsonReader, dir.File("edge.json")));
  ASSERT_EQ(parsed.size(), numbers.size());
  for (size_t i = 0; i < numbers.size(); ++i) {
    EXPECT_EQ(parsed[i][0][1], i < expected.size() ? json("number " + expected[i]) : json()) << numbers[i];
    EXPECT_EQ(parsed[i][1][1], "\uFFFD\uFFFD|\uFFFD\uFFFD\uFFFD|\uFFFD\uFFFD\uFFFD\uFFFD|\uFFFD\uFFFD");
  }
  EXPECT_TRUE(Mentions(edge, "3 values of number fields were not numbers"));
  EXPECT_TRUE(Mentions(edge, std::to_string(11 * numbers.size()) + " bytes of text were not valid UTF-8"));
  EXPECT_EQ(Export<TJsonWriter>(dir.File("empty.json"), TExportSettings(), Columns(), {}).size(), 0u);
  EXPECT_EQ(json::parse(ReadText(dir.File("empty.json"))), json::array());
}

// LibreOffice turns the RTF into a .docx, whose table is plain XML. Its RTF
// import puts a U+2006 before each blank of a run of blanks; that is taken
// out again, and nothing else is touched.
constexpr const char* kDocxReader = R"PY(
import zipfile, xml.etree.ElementTree as ET
W = '{http://schemas.openxmlformats.org/wordprocessingml/2006/main}'
body = ET.fromstring(zipfile.ZipFile(sys.argv[1]).read('word/document.xml')).find(W + 'body')
def text(node):
    out = []
    for p in node.iter(W + 'p'):
        s = ''
        for e in p.iter():
            if e.tag == W + 't': s += e.text or ''
            elif e.tag == W + 'tab' and e.get(W + 'pos') is None: s += '\t'
            elif e.tag == W + 'br': s += '\n'
        out.append(s.replace('\u2006 ', ' '))
    return '\n'.join(out)
first = body.find(W + 'p')
table = body.find(W + 'tbl')
print(json.dumps({'title': text(first), 'bold': first.find('.//' + W + 'b') is not None,
    'widths': [int(c.get(W + 'w')) for c in table.iter(W + 'gridCol')],
    'rows': [[text(c) for c in r.findall(W + 'tc')] for r in table.findall(W + 'tr')],
    'right': [[i for i, c in enumerate(r.findall(W + 'tc'))
               if c.find('.//' + W + 'jc') is not None and c.find('.//' + W + 'jc').get(W + 'val') in ('right', 'end')]
              for r in table.findall(W + 'tr')][1]}))
)PY";

TEST(TextWritersTest, RtfTableReadsBackInLibreOffice) {
  NEED_TOOL(PYTHON);
  NEED_TOOL("soffice");
  TScratch dir;
  TExportSettings settings;
  settings.title = "Clients {2024} \\ Größe 😀";
  const auto warnings = Export<TRtfWriter>(dir.File("out.rtf"), settings);
  Shell("cd " + dir.Path() + " && soffice -env:UserInstallation=file://" + dir.File("profile") +
        " --headless --convert-to docx --outdir " + dir.Path() + " out.rtf >/dev/null 2>&1");
  const json got = json::parse(Python(dir, kDocxReader, dir.File("out.docx")));
  EXPECT_EQ(got["title"], settings.title);
  EXPECT_TRUE(got["bold"]);
  json expected = DocumentForms();
  expected[3][1] = "bad\uFFFD byte bell";
  expected.insert(expected.begin(), kNames);
  EXPECT_EQ(got["rows"], expected);
  EXPECT_EQ(got["right"], json::parse("[2,3]"));
  // 120 pixels given; the rest as wide as their fields or names.
  const std::vector<int> widths = {1800, 1200, 2040, 1620, 990, 990, 570, 1200, 2250, 1200};
  ASSERT_EQ(got["widths"].size(), widths.size());
  for (size_t i = 0; i < widths.size(); ++i) EXPECT_NEAR(got["widths"][i].get<int>(), widths[i], 3) << i;
  const std::string rtf = ReadText(dir.File("out.rtf"));
  EXPECT_EQ(rtf.find_first_of(std::string("\x80\xff", 2) + "\x01"), std::string::npos) << "ASCII only";
  EXPECT_NE(rtf.find("\\u-10179?\\u-8704?"), std::string::npos) << "😀 as a surrogate pair";
  EXPECT_TRUE(Mentions(warnings, "not valid UTF-8"));
}

int Status(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

// Stops the server however the test ends.
struct TServerStop {
  std::string command;
  ~TServerStop() { Status(command); }
};

TEST(TextWritersTest, PsqlScriptLoadsIntoPostgreSQL) {
  const std::string bin = kPgBin;
  if (access((bin + "initdb").c_str(), X_OK) != 0 || access((bin + "psql").c_str(), X_OK) != 0)
    GTEST_SKIP() << "PostgreSQL binaries are missing in " << bin;
  TScratch dir;
  std::string as;
  if (geteuid() == 0) {
    // The server refuses to run as root.
    const passwd* pg = getpwnam("postgres");
    if (!pg) GTEST_SKIP() << "running as root and there is no postgres user";
    ASSERT_EQ(chown(dir.Path().c_str(), pg->pw_uid, pg->pw_gid), 0);
    as = "runuser -u postgres -- ";
  }
  const std::string db = dir.File("db");
  Shell(as + bin + "initdb -D " + db + " -A trust -U postgres -E UTF8 --no-locale >/dev/null 2>&1");
  TServerStop stop{as + bin + "pg_ctl -D " + db + " -m immediate -w stop"};
  Shell(as + bin + "pg_ctl -D " + db + " -l " + dir.File("server.log") + " -o \"-k " + dir.Path() +
        " -c listen_addresses=''\" -w start >/dev/null 2>&1");
  const std::string psql =
      as + bin + "psql -X -q -At -v ON_ERROR_STOP=1 -h " + dir.Path() + " -U postgres -d postgres ";
  const auto query = [&](const std::string& sql) {
    std::ofstream(dir.File("query.sql")) << "SET DateStyle = ISO;\n" << sql;
    return Shell(psql + "-f " + dir.File("query.sql") + " 2>&1");
  };
  const auto types = [&](const std::string& table) {
    return query(
        "SELECT string_agg(attname || ' ' || format_type(atttypid, atttypmod), ', ' ORDER BY attnum) "
        "FROM pg_attribute WHERE attrelid = '" +
        table + "'::regclass AND attnum > 0;");
  };

  TExportSettings settings;
  settings.title = "Clients \"2024\"";
  const auto warnings = Export<TPgsqlWriter>(dir.File("clients.sql"), settings);
  Shell(psql + "-f " + dir.File("clients.sql") + " 2>&1");
  EXPECT_EQ(types("\"Clients \"\"2024\"\"\""),
            "NAME character varying(30), NOTES text, QTY bigint, PRICE numeric(14,2), BORN date, "
            "STAMP timestamp without time zone, OK boolean, PIC bytea, 1ST character varying(20), "
            "Größe character varying(10)\n");
  const json got = json::parse(
      query("SELECT jsonb_agg(jsonb_build_array(\"NAME\", \"NOTES\", \"QTY\"::text, \"PRICE\"::text, \"BORN\"::text, "
            "\"STAMP\"::text, \"OK\"::text, \"PIC\"::text, \"1ST\", \"Größe\") ORDER BY ctid) FROM \"Clients "
            "\"\"2024\"\"\";"));
  EXPECT_EQ(got, json::parse(R"([
    ["Smith, \"Jr\"", "line1\r\nline2\nline3\rend", "9007199254740993", "-1234.50", "1999-12-31",
     "2024-02-29 23:59:58", "true", null, "  leading blanks", "café"],
    ["<b>&amp;</b> 'x'", "Ελληνικά 漢字 😀\ttab\n\\.\nend", "-7", "1234567890.12", "2000-01-01",
     "1970-01-01 00:00:00.25", "false", null, "back\\slash {brace}", "Ωμέγα"],
    [null, null, null, null, null, null, null, null, null, null],
    ["", "bad\ufffd byte \u0001bell", "0", "0.00", "2024-02-29", null, "true", null, "x", "y"]])"));
  EXPECT_TRUE(Mentions(warnings, "not valid UTF-8"));
  // Run again, the script stops at the CREATE that fails, before any data.
  EXPECT_NE(Status(psql + "-f " + dir.File("clients.sql")), 0);
  EXPECT_EQ(query("SELECT count(*) FROM \"Clients \"\"2024\"\"\";"), "4\n");

  // Values PostgreSQL would refuse, numbers too large for their columns
  // among them, do not cost the other records; those just inside are kept.
  using K = TExportKind;
  TExportValue nul = Text(std::string("a\0b", 3)), badDate = Date(2023, 2, 29), badTime = Date(0, 0, 0, 25);
  const std::vector<TExportRow> rows = {
      {Text("***"), Text("2147483647"), Text("922337203685477.5807"), badDate, badTime, nul, Text("1.5E+10")},
      {Text(" +1.50"), Text("-2147483648"), Text("-0.0001"), Date(1, 1, 1), Date(0, 0, 0, 23, 59, 59, 500),
       Text("x\\y"), Text("-0.5")},
      {Text("123456.00"), Text("2147483648"), Text("1000000000000000.0000"), Date(2024, 13, 1), Date(0, 0, 0),
       Text(""), Text("1e400")},
      {Text("1.5E+3"), Text("0"), Text("-999999999999999.9999"), Date(9999, 12, 31), Date(0, 0, 0, 12), Text("\\."),
       Text("4.9e-324")}};
  const auto refused = Export<TPgsqlWriter>(dir.File("export.sql"), TExportSettings(),
                                            {{"N", K::Number, 'N', 6, 2},
                                             {"I", K::Integer, 'I', 4},
                                             {"Y", K::Number, 'Y', 8, 4},
                                             {"D", K::Date, 'D', 8},
                                             {"T", K::Time, 'T', 8},
                                             {"M", K::Memo, 'M', 10},
                                             {"B", K::Number, 'B', 8}},
                                            rows);
  Shell(psql + "-f " + dir.File("export.sql") + " 2>&1");
  EXPECT_EQ(types("export"),
            "N numeric(6,2), I integer, Y numeric(19,4), D date, T time without time zone, "
            "M text, B double precision\n");
  EXPECT_EQ(json::parse(query("SELECT jsonb_agg(jsonb_build_array(\"N\"::text, \"I\"::text, \"Y\"::text, "
                              "\"D\"::text, \"T\"::text, \"M\", \"B\"::text) ORDER BY ctid) FROM export;")),
            json::parse(R"([[null, "2147483647", "922337203685477.5807", null, null, "ab", "15000000000"],
                            ["1.50", "-2147483648", "-0.0001", "0001-01-01", "23:59:59.5", "x\\y", "-0.5"],
                            [null, null, null, null, "00:00:00", "", null],
                            ["1500.00", "0", "-999999999999999.9999", "9999-12-31", "12:00:00", "\\.", "5e-324"]])"));
  EXPECT_TRUE(Mentions(refused, "8 values PostgreSQL would refuse"));
  EXPECT_TRUE(Mentions(refused, "1 NUL characters were left out"));
}

TEST(TextWritersTest, FailuresAreExportErrors) {
  TScratch dir;
  try {
    TCsvWriter writer(dir.File("missing/out.csv"), TExportSettings());
    FAIL() << "a file in a missing folder was created";
  } catch (const EExportError& e) {
    EXPECT_NE(std::string(e.what()).find("missing/out.csv"), std::string::npos) << e.what();
  }
  TJsonWriter writer(dir.File("short.json"), TExportSettings());
  writer.Begin(Columns());
  EXPECT_THROW(writer.Row(TExportRow(3)), EExportError);
}

}  // namespace
}  // namespace norvale
