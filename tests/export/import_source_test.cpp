// The import sources against files made outside our code: CSV written byte
// for byte, workbooks written by openpyxl or put together part by part with
// Python's zipfile, and both spoiled the ways files get spoiled. Built with
// -fsanitize=address,undefined: damage must end in EExportError, never in a
// crash or an overrun.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

#include "app/export/import_source.h"
#include "tests/support/test_support.h"

namespace norvale {
namespace {

// The scratch folder every test here writes into, removed with its contents.
using TScratch = test::TTempDir;

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A cell as the tests compare it: text bare, the other kinds tagged with
// their value, "n:12.5", "b:1", "d:2024-2-29 0:0:0=29/02/2024".
std::string Describe(const TImportCell& c) {
  char parts[96];
  if (c.isNumber) std::snprintf(parts, sizeof parts, "n:%.17g=", c.number);
  else if (c.isBool) std::snprintf(parts, sizeof parts, "b:%d=", c.boolean ? 1 : 0);
  else if (c.isDate)
    std::snprintf(parts, sizeof parts, "d:%d-%d-%d %d:%d:%d=", c.year, c.month, c.day, c.hour, c.minute, c.second);
  else parts[0] = '\0';
  EXPECT_EQ(c.empty, c.text.empty() && parts[0] == '\0') << c.text;
  return parts + c.text;
}

// Everything a source gives: "columns: a|b", then "<row number>: cell|cell"
// for each row, then "error: ..." when reading stopped on one.
std::string ReadAll(const std::function<std::unique_ptr<TImportSource>()>& open) {
  std::string out;
  try {
    auto source = open();
    out = "columns:";
    for (const auto& name : source->ColumnNames()) out += (out.back() == ':' ? " " : "|") + name;
    double progress = 0;
    for (std::vector<TImportCell> row; source->Next(row);) {
      EXPECT_GE(row.size(), source->ColumnNames().size());
      out += "\n" + std::to_string(source->RowNumber()) + ":";
      for (size_t i = 0; i < row.size(); ++i) out += (i == 0 ? " " : "|") + Describe(row[i]);
      EXPECT_GE(source->Progress(), progress);
      progress = source->Progress();
    }
    EXPECT_DOUBLE_EQ(source->Progress(), 1.0);
  } catch (const EExportError& e) {
    out += std::string(out.empty() ? "" : "\n") + "error: " + e.what();
  }
  return out;
}

std::string Csv(const std::string& bytes, TCsvImportOptions options = {}) {
  TScratch dir;
  WriteBytes(dir.File("in.csv"), bytes);
  return ReadAll([&] { return OpenCsvSource(dir.File("in.csv"), options); });
}

// ------------------------------------------------------------------ CSV

TEST(CsvSource, QuotingLineEndsAndRowShapes) {
  // Quoted separators, doubled quotes and a CR LF inside quotes; a quote in
  // an unquoted value and text after a closing quote kept as they stand.
  EXPECT_EQ(Csv("name,notes,qty\r\n\"Smith, J\",\"said \"\"hi\"\"\r\nthen\",3\r\nplain,,\r\n"
                "\"\",\"a\"\"\",x\"y\r\n\"closed\"after,\"\"\"\"\r\n"),
            "columns: name|notes|qty\n2: Smith, J|said \"hi\"\r\nthen|3\n4: plain||\n5: |a\"|x\"y\n6: closedafter|\"|");
  // A byte order mark, LF lines, blank lines passed over, no final line end.
  EXPECT_EQ(Csv("\xEF\xBB\xBF" "a,b\n1,2\n\n\n3,4"), "columns: a|b\n2: 1|2\n5: 3|4");
  EXPECT_EQ(Csv("h\r1\r2\r"), "columns: h\n2: 1\n3: 2");  // old Mac line ends
  // Short rows padded, long ones keep their cells; blank names numbered.
  EXPECT_EQ(Csv(" a ,,c\n1\n1,2,3,4\n,\n"), "columns: a|Column2|c\n2: 1||\n3: 1|2|3|4\n4: ||");
  EXPECT_EQ(Csv(""), "columns:");

  TCsvImportOptions tabs;
  tabs.separator = '\t';
  tabs.header = false;
  EXPECT_EQ(Csv("x\ty\tz\n1\t\"q\tq\"\t3\n", tabs), "columns: Column1|Column2|Column3\n1: x|y|z\n2: 1|q\tq|3");
  TCsvImportOptions bare;
  bare.quote = '\0';
  bare.separator = ';';
  EXPECT_EQ(Csv("a;b\n\"x;y\"\n", bare), "columns: a|b\n2: \"x|y\"");
}

TEST(CsvSource, EncodingsAndByteOrderMarks) {
  TCsvImportOptions o;
  o.header = false;
  o.encoding = "windows-1252";
  EXPECT_EQ(Csv("caf\xE9,\x80uro,\x93q\x94\n", o), "columns: Column1|Column2|Column3\n1: café|€uro|“q”");
  EXPECT_EQ(Csv("\xEF\xBB\xBF" "caf\xC3\xA9\n", o), "columns: Column1\n1: café");  // the mark wins
  o.encoding = "ISO-8859-1";
  EXPECT_EQ(Csv("\xE9\xFF\n", o), "columns: Column1\n1: éÿ");
  o.encoding = "IBM850";
  EXPECT_EQ(Csv("\x82t\x82,\x9C\n", o), "columns: Column1|Column2\n1: été|£");
  o.encoding = "UTF-16LE";
  std::string utf16 = "\xFF\xFE";
  for (char16_t c : std::u16string(u"a,\"\u00e9,\u20ac\"\r\nz,y\r\n")) utf16 += {char(c & 0xFF), char(c >> 8)};
  EXPECT_EQ(Csv(utf16, o), "columns: Column1|Column2\n1: a|é,€\n2: z|y");

  const auto offered = CsvEncodings();
  for (const char* wanted : {"UTF-8", "windows-1252", "ISO-8859-1", "IBM850", "IBM437", "UTF-16LE"})
    EXPECT_NE(std::find(offered.begin(), offered.end(), wanted), offered.end()) << wanted;
  for (const auto& name : offered) {
    o.encoding = name;
    EXPECT_EQ(Csv("", o), "columns:") << name;
  }
  o.encoding = "no-such-encoding";
  EXPECT_EQ(Csv("a\n", o), "error: The encoding no-such-encoding is not known.");
}

TEST(CsvSource, BadInputNamesItsLine) {
  const std::string r = Csv("a,b\n1,2\n3,\"open\nmore\nlines");
  EXPECT_EQ(r.substr(0, r.find("error")), "columns: a|b\n2: 1|2\n");
  EXPECT_NE(r.find(", line 3: the quoted value that begins there is never closed"), std::string::npos) << r;
  TCsvImportOptions same;
  same.quote = ',';
  EXPECT_NE(Csv("a\n", same).find("must differ"), std::string::npos);
  EXPECT_NE(ReadAll([] { return OpenCsvSource("/nonexistent/x.csv", {}); }).find("could not be opened"),
            std::string::npos);
}

// The file is read a megabyte at a time; a record that straddles the
// boundary must come out the same wherever the boundary falls in it.
TEST(CsvSource, RecordsAcrossReadBlocksWhereverTheBoundaryFalls) {
  const std::string tricky = "\"a\"\"b,\r\nc\xC3\xA9\xE2\x82\xAC\",\"\"\r\n";
  for (size_t back = 1; back <= tricky.size() + 1; ++back) {
    const size_t start = (size_t{1} << 20) - back;  // where `tricky` begins
    const std::string head = "h1,h2\r\nx,";
    const std::string filler(start - head.size() - 2, 'y');
    const std::string r = Csv(head + filler + "\r\n" + tricky + "last,row\r\n");
    EXPECT_EQ(r, "columns: h1|h2\n2: x|" + filler + "\n3: a\"b,\r\nc\xC3\xA9\xE2\x82\xAC|\n5: last|row")
        << "boundary " << back << " bytes before the record";
  }
}

// ------------------------------------------------------------------ XLSX

// The workbooks the tests read: one by openpyxl, the rest part by part so
// that every corner of the format the importer claims to know is there.
constexpr const char* kMakeWorkbooks = R"PY(
import sys, os, datetime, zipfile
out = sys.argv[1]
try:
    import openpyxl
except ImportError:
    print("openpyxl missing"); sys.exit(3)
wb = openpyxl.Workbook()
ws = wb.active
ws.append(["Name", "Qty", "Price", "When", "Stamp", "Ok", "Note"])
ws.append(["Zo\u00eb", 3, 12.5, datetime.date(2024, 2, 29), datetime.datetime(2001, 2, 3, 4, 5, 6), True, "l1\nl2"])
ws["A3"] = "Zo\u00eb"; ws["G3"] = "  padded  "
ws["A5"] = "last"; ws["B5"] = -7; ws["C5"] = 1 / 3; ws["D5"] = datetime.date(1900, 1, 15)
ws["E5"] = datetime.datetime(1999, 12, 31, 23, 59, 59); ws["F5"] = False
ws["B6"] = 12345678901234; ws["H6"] = "beyond"
ws["D2"].number_format = "dd/mm/yyyy"; ws["D5"].number_format = "mm-dd-yy"
wb.create_sheet("Other")["A1"] = "not the first sheet"
wb.save(os.path.join(out, "openpyxl.xlsx"))

NS = 'xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"'
PKG = 'xmlns="http://schemas.openxmlformats.org/package/2006/relationships"'
T = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
def rels(*items):
    return '<Relationships %s>%s</Relationships>' % (PKG, "".join(
        '<Relationship Id="%s" Type="%s%s" Target="%s"/>' % (i, T, t, target) for i, t, target in items))
def package(name, sheet, strings=None, styles="", book_attrs="", stored=(), skip=(), doctype=""):
    items = [('rIdS', 'worksheet', 'sheets/first.xml'), ('rId2', 'worksheet', 'sheets/second.xml'),
             ('rIdY', 'styles', 'look.xml')] + ([('rIdT', 'sharedStrings', '/xl/strings.xml')] if strings else [])
    parts = {
        "_rels/.rels": rels(('r1', 'officeDocument', '/xl/book.xml')),
        "xl/book.xml": '<workbook %s xmlns:r="%s"><workbookPr %s/><sheets><sheet name="First" sheetId="7" r:id="rIdS"/>'
                       '<sheet name="Second" sheetId="1" r:id="rId2"/></sheets></workbook>' % (NS, T[:-1], book_attrs),
        "xl/_rels/book.xml.rels": rels(*items),
        "xl/sheets/first.xml": doctype + '<worksheet %s><sheetData>%s</sheetData></worksheet>' % (NS, sheet),
        "xl/sheets/second.xml": '<worksheet %s><sheetData><row r="1"><c r="A1" t="inlineStr"><is><t>WRONG</t>'
                                '</is></c></row></sheetData></worksheet>' % NS,
        "xl/look.xml": '<styleSheet %s>%s</styleSheet>' % (NS, styles),
        "xl/strings.xml": '<sst %s>%s</sst>' % (NS, strings)}
    with zipfile.ZipFile(os.path.join(out, name), "w") as z:
        for part, text in parts.items():
            if part not in skip and (strings or part != "xl/strings.xml"):
                z.writestr(part, text, zipfile.ZIP_STORED if part in stored else zipfile.ZIP_DEFLATED)

# Only cellXfs count: the date format in cellStyleXfs must not make
# general numbers dates; "days" in quotes, [Red] and an escaped "h" are not
# date codes.
STYLES = ('<numFmts><numFmt numFmtId="164" formatCode="0.0&quot; days&quot;"/><numFmt numFmtId="165" '
          'formatCode="[Red]0.00\\h;\\-0.00"/><numFmt numFmtId="166" formatCode="yyyy\\-mm\\-dd hh:mm"/></numFmts>'
          '<cellStyleXfs><xf numFmtId="14"/></cellStyleXfs><cellXfs><xf numFmtId="0"/><xf numFmtId="164"/>'
          '<xf numFmtId="165"/><xf numFmtId="166"/><xf numFmtId="22"/></cellXfs>')
STRINGS = ('<si><t>plain</t></si><si><r><rPr><b/></rPr><t>rich </t></r><r><t xml:space="preserve">text </t></r>'
           '<rPh sb="0" eb="1"><t>PHONETIC</t></rPh></si><si><t>cr_x000D_lf &amp; _x005F_x0041_</t></si>')
SHEET = ('<row r="1"><c r="A1" t="inlineStr"><is><t>Key</t></is></c><c r="B1" t="s"><v>1</v></c>'
         '<c r="C1" t="str"><f>"F"&amp;"x"</f><v>Formula</v></c><c r="D1" t="s"><v>2</v></c></row>'
         '<row><c t="s"><v>0</v></c><c s="1"><v>2.5</v></c><c s="2"><v>3</v></c><c/><c r="E2" s="3"><v>1.5</v></c></row>'
         '<row r="4"><c r="A4" t="b"><v>1</v></c><c r="B4" t="e"><v>#DIV/0!</v></c><c r="C4" t="d">'
         '<v>2024-03-05T06:07:08</v></c><c r="D4" s="4"><v>0.75</v></c><c r="F4" t="inlineStr"><is><r><t>in</t></r>'
         '<r><t>line</t></r></is></c><c r="G4"><v></v></c></row><row r="5"><c r="A5" s="1"/><c r="B5" t="s"/></row>'
         '<row r="7"><c r="XFD7" t="inlineStr"><is><t>far</t></is></c></row>')
package("hand.xlsx", SHEET, STRINGS, STYLES, 'date1904="1"', stored=("xl/strings.xml", "xl/sheets/first.xml"))
package("no_sheet.xlsx", SHEET, skip=("xl/sheets/first.xml",))
HEAD = '<row r="1"><c r="A1" t="inlineStr"><is><t>Head</t></is></c></row>'
for name, row, strings in [("bad_ref", '<c r="1A"><v>1</v></c>', None), ("bad_column", '<c r="XFE2"><v>1</v></c>', None),
                           ("bad_string", '<c r="A2" t="s"><v>5</v></c>', '<si><t>only</t></si>'),
                           ("no_strings", '<c r="A2" t="s"><v>0</v></c>', None),
                           ("bad_number", '<c r="A2"><v>12abc</v></c>', None), ("bad_xml", '<c r="A2"><v>1</v>', None)]:
    package(name + ".xlsx", HEAD + '<row r="2">' + row + '</row>', strings)
package("bad_row.xlsx", HEAD + '<row r="2000000"><c><v>1</v></c></row>')
package("repeated_row.xlsx", HEAD + '<row r="3"><c><v>1</v></c></row><row r="2"><c><v>1</v></c></row>')
laughs = '<!DOCTYPE worksheet [<!ENTITY a "%s">%s]>' % ("a" * 64, "".join(
    '<!ENTITY %s "%s">' % (chr(98 + i), ("&%s;" % chr(97 + i)) * 16) for i in range(8)))
package("laughs.xlsx", HEAD.replace("Head", "&i;"), doctype=laughs)
with zipfile.ZipFile(os.path.join(out, "no_book.xlsx"), "w") as z:
    z.writestr("hello.txt", "not a workbook")
)PY";

class XlsxSource : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<TScratch>();
    std::ofstream(dir_->File("make.py")) << kMakeWorkbooks;
    const std::string command = "/usr/bin/python3 " + dir_->File("make.py") + " '" + dir_->File("") + "' 2>&1";
    std::FILE* pipe = popen(command.c_str(), "r");
    char buffer[4096];
    for (size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) said_.append(buffer, n);
    const int status = pipe ? pclose(pipe) : -1;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  static void TearDownTestSuite() { dir_.reset(); }
  void SetUp() override {
    if (status_ == 3 || status_ == 127) GTEST_SKIP() << "no oracle: " << said_;
    ASSERT_EQ(status_, 0) << said_;
  }
  static std::string File(const std::string& name) { return dir_->File(name); }
  static std::string Read(const std::string& path) {
    return ReadAll([&] { return OpenXlsxSource(path); });
  }
  static std::unique_ptr<TScratch> dir_;
  static int status_;
  static std::string said_;
};
std::unique_ptr<TScratch> XlsxSource::dir_;
int XlsxSource::status_ = -1;
std::string XlsxSource::said_;

TEST_F(XlsxSource, OpenpyxlWorkbookReadsBackCellForCell) {
  // Row 4 is empty and passed over; a cell past the header's columns is
  // kept; a third has the 15 digits Excel shows; 15/01/1900 lies before the
  // 29 February 1900 that Excel counts.
  EXPECT_EQ(Read(File("openpyxl.xlsx")),
            "columns: Name|Qty|Price|When|Stamp|Ok|Note\n"
            "2: Zoë|n:3=3|n:12.5=12.5|d:2024-2-29 0:0:0=29/02/2024|d:2001-2-3 4:5:6=03/02/2001 04:05:06|"
            "b:1=True|l1\nl2\n"
            "3: Zoë||||||  padded  \n"
            "5: last|n:-7=-7|n:0.33333333333333331=0.333333333333333|d:1900-1-15 0:0:0=15/01/1900|"
            "d:1999-12-31 23:59:59=31/12/1999 23:59:59|b:0=False|\n"
            "6: |n:12345678901234=12345678901234||||||beyond");
}

TEST_F(XlsxSource, HandMadePartsCoverTheFormatsCorners) {
  // Rich runs joined without their phonetic reading, escapes decoded, the
  // sheet found through the package's relationships, cells and rows without
  // references placed after the one before, the 1904 system, a time alone.
  const std::string r = Read(File("hand.xlsx"));
  EXPECT_EQ(r.substr(0, r.rfind("\n7: ")),
            "columns: Key|rich text|Formula|cr\rlf & _x0041_\n"
            "2: plain|n:2.5=2.5|n:3=3||d:1904-1-2 12:0:0=02/01/1904 12:00:00\n"
            "4: b:1=True|#DIV/0!|d:2024-3-5 6:7:8=05/03/2024 06:07:08|d:0-0-0 18:0:0=18:00:00||inline");
  EXPECT_EQ(r.substr(r.rfind("\n7: ")), "\n7: " + std::string(16383, '|') + "far");
}

TEST_F(XlsxSource, BadCellsAndPartsRaiseErrorsThatSayWhere) {
  const std::string sheet = "is damaged: part xl/sheets/first.xml: ";
  const std::pair<const char*, std::string> cases[] = {
      {"bad_ref.xlsx", sheet + "row 2 has a cell reference \"1A\"."},
      {"bad_column.xlsx", sheet + "cell XFE2 lies past the last column of a sheet."},
      {"bad_string.xlsx", sheet + "cell A2 refers to shared string 5, but there are 1."},
      {"no_strings.xlsx", sheet + "cell A2 refers to shared string 0, but there are 0."},
      {"bad_number.xlsx", sheet + "cell A2 holds \"12abc\" where a number belongs."},
      {"bad_row.xlsx", sheet + "row 2,000,000 lies outside a sheet."},
      {"repeated_row.xlsx", sheet + "row 2 comes after row 3."},
      {"bad_xml.xlsx", sheet + "Opening and ending tag mismatch, at line 1."},
      {"laughs.xlsx", sheet + "Entity expands to more characters than the entity expansion limit, at line 1."},
      {"no_book.xlsx", "is not an Excel workbook (.xlsx): it has no xl/workbook.xml."},
      {"no_sheet.xlsx", "is damaged: its first sheet xl/sheets/first.xml is missing."},
  };
  for (const auto& [file, wanted] : cases) {
    const std::string r = Read(File(file));
    EXPECT_NE(r.find(File(file) + " " + wanted), std::string::npos) << r;
  }
  WriteBytes(File("text.xlsx"), "name,qty\na CSV file named .xlsx\n");
  EXPECT_NE(Read(File("text.xlsx")).find("it has no zip directory"), std::string::npos);
}

uint32_t Get32(const std::string& b, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
  return v;
}
void Put32(std::string& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
}

TEST_F(XlsxSource, DamagedZipsRaiseErrorsNamingTheFault) {
  const std::string good = ReadBytes(File("openpyxl.xlsx"));
  // The sheet's entry in the central directory and the directory's end.
  const std::string name = "xl/worksheets/sheet1.xml";
  const size_t e = good.find(name, good.find("PK\x01\x02")) - 46;
  const size_t end = good.rfind("PK\x05\x06");
  ASSERT_EQ(good.substr(e, 4), "PK\x01\x02");
  ASSERT_NE(end, std::string::npos);
  const uint32_t local = Get32(good, e + 42);
  const size_t data = local + 30 + Get32(good, local + 26) % 65536 + Get32(good, local + 28) % 65536;
  const std::pair<std::function<void(std::string&)>, const char*> cases[] = {
      {[&](std::string& b) { Put32(b, end + 16, uint32_t(b.size())); }, "directory lies outside the file"},
      {[&](std::string& b) { Put32(b, e + 42, local + 1); }, "does not begin where the directory says"},
      {[&](std::string& b) { Put32(b, e + 42, Get32(b, end + 16) - 10); }, "lies outside the file"},
      {[&](std::string& b) { Put32(b, e + 24, Get32(b, e + 24) - 1); }, "holds more than its declared size"},
      {[&](std::string& b) { Put32(b, e + 24, Get32(b, e + 24) + 1); }, "shorter than its declared size"},
      {[&](std::string& b) { Put32(b, e + 16, Get32(b, e + 16) ^ 1); }, "fails its checksum"},
      {[&](std::string& b) { Put32(b, e + 24, 0xFFFFFFF0u); }, "claims a size its compressed data cannot hold"},
      {[&](std::string& b) { Put32(b, e + 20, 0x7FFFFFFFu); }, "runs past the end of the data"},
      {[&](std::string& b) { for (size_t i = data + 2; i < data + 40; ++i) b[i] ^= 0x5A; }, "cannot be decompressed"},
      {[&](std::string& b) { b[e + 10] = 12; }, "method 12, which is not supported"},
      {[&](std::string& b) { b[e + 8] |= 1; }, "encrypted"},
      {[&](std::string& b) { b[end + 10] = b[end + 11] = '\xFF'; }, "ZIP64"},
      {[&](std::string& b) { b[end + 10] += 5; }, "split across several files"},
      {[&](std::string& b) { b[end + 8] += 5, b[end + 10] += 5; }, "directory is cut short"},
  };
  for (const auto& [spoil, wanted] : cases) {
    std::string bytes = good;
    spoil(bytes);
    WriteBytes(File("damaged.xlsx"), bytes);
    const std::string r = Read(File("damaged.xlsx"));
    EXPECT_NE(r.find(wanted), std::string::npos) << wanted << "\n" << r;
  }
}

// Cut or scribbled-over files, many of them: each read either succeeds or
// raises EExportError, and the sanitizers see nothing.
TEST_F(XlsxSource, TruncatedAndScribbledFilesNeverCrash) {
  for (const char* name : {"openpyxl.xlsx", "hand.xlsx"}) {
    const std::string good = ReadBytes(File(name));
    std::mt19937 random(20240229);
    int refused = 0, attempts = 0;
    auto attempt = [&](const std::string& bytes) {
      WriteBytes(File("spoilt.xlsx"), bytes);
      ++attempts;
      try {
        refused += Read(File("spoilt.xlsx")).find("error: ") != std::string::npos;
      } catch (const std::exception& e) {
        ADD_FAILURE() << "not an EExportError: " << e.what();
      }
    };
    for (size_t cut = 0; cut < good.size(); cut += good.size() / 37 + 1) attempt(good.substr(0, cut));
    for (size_t cut = 1; cut <= 30; ++cut) attempt(good.substr(0, good.size() - cut));
    for (int i = 0; i < 250; ++i) {
      std::string bytes = good;
      for (int f = 0, flips = 1 + int(random() % 4); f < flips; ++f) bytes[random() % bytes.size()] = char(random());
      attempt(bytes);
    }
    EXPECT_GT(refused, attempts / 2) << name << ": most spoilt files must be refused";
  }
}

}  // namespace
}  // namespace norvale
