// CSV rows made from record bytes must be, byte for byte, the rows the
// general path writes from the fields' values: on tables of other programs,
// on tables full of odd stored shapes, in file order and in the table
// object's own walks.
#include "app/export/csv_rows.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "app/export/table_export.h"
#include "app/export/text_writers.h"
#include "dataset/dbf_table.h"
#include "tests/support/test_support.h"

namespace norvale {
namespace {

using test::TFieldSpec;
using test::TTableImage;
using test::TTempDir;

// Every value read through the table object's fields, as exports did before
// rows were made from the bytes.
std::string GeneralCsv(TDbfTable& table, const std::vector<std::string>& fields, const TTempDir& dir) {
  const std::string path = dir.File("general.csv");
  TExportReader reader(table, fields);
  TCsvWriter writer(path, ExportSettingsFor(TExportFormat::Csv, "t"));
  writer.Begin(reader.Columns());
  TExportRow row;
  for (table.First(); !table.Eof(); table.Next()) {
    reader.Read(row);
    writer.Row(row);
  }
  writer.Finish();
  return test::ReadFileText(path);
}

// The rows from the bytes; `useful` says whether any column had a fast form
// (without one there is nothing to compare).
std::string FastCsv(TDbfTable& table, const std::vector<std::string>& fields, const TTempDir& dir,
                    bool* useful, int64_t* rows = nullptr) {
  const std::string path = dir.File("fast.csv");
  TExportReader reader(table, fields);
  TCsvWriter writer(path, ExportSettingsFor(TExportFormat::Csv, "t"));
  writer.Begin(reader.Columns());
  TCsvRecordRows fast(table, reader, writer);
  *useful = fast.Useful();
  const int64_t n = fast.WriteAll(nullptr);
  if (rows) *rows = n;
  writer.Finish();
  return test::ReadFileText(path);
}

void OpenReadOnly(TDbfTable& table, const std::string& path) {
  table.SetReadOnly(true);
  table.SetTableName(path);
  table.Open();
}

// Every way a walk can go: file order with and without deleted records, a
// filter (the table object's walk), and a subset of the fields in another
// order.
void ExpectSameRows(const std::string& path, const TTempDir& dir, const std::vector<std::string>& subset,
                    int* compared) {
  for (int variant = 0; variant < 4; ++variant) {
    SCOPED_TRACE("variant " + std::to_string(variant));
    TDbfTable table;
    table.SetShowDeleted(variant == 1);
    OpenReadOnly(table, path);
    if (variant == 2) {
      table.OnFilterRecord = [](TDataSet& data, bool& accept) { accept = data.RecNo() % 3 != 1; };
      table.SetFiltered(true);
    }
    const std::vector<std::string> fields = variant == 3 ? subset : std::vector<std::string>{};
    bool useful = false;
    const std::string fast = FastCsv(table, fields, dir, &useful);
    const std::string general = GeneralCsv(table, fields, dir);
    EXPECT_EQ(fast, general);
    if (useful) ++*compared;
  }
}

TEST(CsvRecordRows, CorpusTablesGiveTheGeneralRows) {
  TTempDir dir;
  int compared = 0, tables = 0;
  for (const std::string& name : test::CorpusTables()) {
    SCOPED_TRACE(name);
    const std::string path = test::CopyCorpusTable(name, dir);
    {
      TDbfTable probe;
      try {
        OpenReadOnly(probe, path);
      } catch (const std::exception&) {
        continue;  // tables the engine refuses are not exported at all
      }
      if (probe.FieldCount() == 0) continue;
    }
    ++tables;
    TDbfTable names;
    OpenReadOnly(names, path);
    std::vector<std::string> subset;
    for (int i = names.FieldCount() - 1; i >= 0; i -= 2) subset.push_back(names.Fields(i).FieldName());
    ExpectSameRows(path, dir, subset, &compared);
  }
  // Most of the corpus has fields the fast forms take.
  EXPECT_GT(tables, 20);
  EXPECT_GT(compared, 3 * tables);
}

// Stored shapes, fair and odd, for each kind of field.
class TShapes {
 public:
  explicit TShapes(uint32_t seed) : random_(seed) {}

  std::string Text(int size) {
    static const std::vector<std::string> kPieces = {
        "a", "Z", "0", " ", "  ", ",", "\"", "\"\"", "'", ";", "\t", "\r\n", "\n", std::string(1, '\0'),
        "\x80", "\xE9", "\xFC", "\xFF", "\xA0", "\x7F", "\x01", "M\xFCller", "Gen\xE8ve", "word", "longer words"};
    const int mode = Pick(10);
    if (mode == 0) return std::string(static_cast<size_t>(size), ' ');
    if (mode == 1) return std::string(static_cast<size_t>(size), 'x');
    std::string s;
    if (mode == 2) s = "  ";  // leading blanks stay
    const size_t want = static_cast<size_t>(Pick(size + 1));
    while (s.size() < want) s += kPieces[static_cast<size_t>(Pick(static_cast<int>(kPieces.size())))];
    s.resize(std::min(s.size(), static_cast<size_t>(size)));
    return s;
  }

  std::string Number(int size, int decimals) {
    static const std::vector<std::string> kOdd = {"-0", "-0.00", "007", "-007", ".50", "-.5", "1.", "+5",
                                                  "1e3", "1 2", "--1", "*****", "0.0", "00.10", "-", ".",
                                                  std::string(1, '\0'), "12.345", "9999999999", "1,5"};
    std::string s;
    switch (Pick(6)) {
      case 0:
        s = kOdd[static_cast<size_t>(Pick(static_cast<int>(kOdd.size())))];
        break;
      case 1:
        s.clear();  // blank
        break;
      default: {
        // Canonical or nearly so: digits, a sign, the field's decimals.
        const int room = size - (decimals ? decimals + 1 : 0) - 1;
        const int whole = 1 + Pick(std::max(room, 1));
        std::string digits;
        for (int i = 0; i < whole; ++i) digits += static_cast<char>('0' + Pick(10));
        if (Pick(3) == 0) digits = "0";
        s = (Pick(4) == 0 ? "-" : "") + digits;
        if (decimals) {
          s += '.';
          for (int i = 0; i < decimals; ++i) s += static_cast<char>('0' + (Pick(4) == 0 ? 0 : Pick(10)));
        }
      }
    }
    if (s.size() > static_cast<size_t>(size)) s.resize(static_cast<size_t>(size));
    // Right-aligned, as programs store numbers, sometimes left-aligned.
    const std::string pad(static_cast<size_t>(size) - s.size(), ' ');
    return Pick(8) == 0 ? s + pad : pad + s;
  }

  std::string Date() {
    static const std::vector<std::string> kOdd = {"        ", "00000000", "20230230", "19991231", "20240229",
                                                  "20230229", "0001010", "99991231", "00010101", "2023 101",
                                                  std::string(8, '\0'), "abcdefgh", "20231301", "20230100"};
    if (Pick(3) == 0) return kOdd[static_cast<size_t>(Pick(static_cast<int>(kOdd.size())))];
    char text[9];
    std::snprintf(text, sizeof text, "%04d%02d%02d", 1800 + Pick(300), 1 + Pick(12), 1 + Pick(31));
    return text;
  }

  std::string Logical() {
    static const std::string kLetters = std::string("TFYNtfyn? x1") + '\0';
    return std::string(1, kLetters[static_cast<size_t>(Pick(static_cast<int>(kLetters.size())))]);
  }

  int Pick(int n) { return n <= 1 ? 0 : static_cast<int>(random_() % static_cast<uint32_t>(n)); }

 private:
  std::mt19937 random_;
};

std::string WriteShapesTable(const TTempDir& dir, uint32_t seed, uint8_t languageId, int records) {
  TTableImage image;
  image.languageId = languageId;
  image.fields = {{"C1", 'C', 1},   {"C10", 'C', 10},  {"C16", 'C', 16},  {"C17", 'C', 17},
                  {"C30", 'C', 30}, {"C48", 'C', 48},  {"C64", 'C', 64},  {"C65", 'C', 65},
                  {"C120", 'C', 120}, {"N9", 'N', 9},  {"N4", 'N', 4},    {"N12", 'N', 12, 2},
                  {"N20", 'N', 20, 4}, {"N18", 'N', 18}, {"F10", 'F', 10, 3}, {"F16", 'F', 16, 1},
                  {"D", 'D', 8},    {"L", 'L', 1}};
  TShapes shapes(seed);
  for (int r = 0; r < records; ++r) {
    std::vector<std::string> values;
    for (const TFieldSpec& f : image.fields) {
      switch (f.type) {
        case 'C': values.push_back(shapes.Text(f.length)); break;
        case 'N':
        case 'F': values.push_back(shapes.Number(f.length, f.decimals)); break;
        case 'D': values.push_back(shapes.Date()); break;
        default: values.push_back(shapes.Logical()); break;
      }
    }
    image.records.push_back(image.Record(values, shapes.Pick(6) == 0));
  }
  const std::string path = dir.File("shapes_" + std::to_string(seed) + ".dbf");
  test::WriteFile(path, image.Bytes());
  return path;
}

TEST(CsvRecordRows, OddStoredShapesGiveTheGeneralRows) {
  TTempDir dir;
  // windows-1252, cp866, cp437, Shift-JIS (bytes above ASCII are not single
  // characters there) and no code page named at all.
  const uint8_t kLanguages[] = {0x57, 0x65, 0x01, 0x13, 0x00};
  int compared = 0;
  uint32_t seed = 1;
  for (uint8_t language : kLanguages) {
    for (int round = 0; round < 3; ++round, ++seed) {
      SCOPED_TRACE("language " + std::to_string(language) + ", seed " + std::to_string(seed));
      const std::string path = WriteShapesTable(dir, seed, language, 400);
      ExpectSameRows(path, dir, {"D", "N12", "C30", "L", "C1"}, &compared);
    }
  }
  EXPECT_EQ(compared, 4 * 15);
}

TEST(CsvRecordRows, CanonicalValuesTakeTheFastFormsExactly) {
  TTempDir dir;
  TTableImage image;
  image.fields = {{"NAME", 'C', 20}, {"QTY", 'N', 6}, {"PRICE", 'N', 10, 2}, {"BORN", 'D', 8}, {"OK", 'L', 1}};
  image.records = {image.Record({"Smith, \"Jo\"", "    42", "  -1234.50", "19991231", "T"}),
                   image.Record({"M\xFCller", "    -7", "      0.05", "20240229", "f"}),
                   image.Record({"", "      ", "          ", "        ", "?"}),
                   image.Record({"gone", "     1", "      1.00", "20000101", "Y"}, true)};
  const std::string path = dir.File("plain.dbf");
  test::WriteFile(path, image.Bytes());
  TDbfTable table;
  OpenReadOnly(table, path);
  bool useful = false;
  int64_t rows = 0;
  const std::string fast = FastCsv(table, {}, dir, &useful, &rows);
  EXPECT_TRUE(useful);
  EXPECT_EQ(rows, 3);
  EXPECT_EQ(fast,
            "\"NAME\",\"QTY\",\"PRICE\",\"BORN\",\"OK\"\r\n"
            "\"Smith, \"\"Jo\"\"\",42,-1234.50,\"31/12/1999\",\"True\"\r\n"
            "\"M\xC3\xBCller\",-7,0.05,\"29/02/2024\",\"False\"\r\n"
            ",,,,\r\n");
  EXPECT_EQ(fast, GeneralCsv(table, {}, dir));
}

// A file that ends inside its last record, with a header that counts more
// records than there are: both paths find the same records.
TEST(CsvRecordRows, ATableCutShortGivesTheGeneralRows) {
  TTempDir dir;
  TTableImage image;
  image.fields = {{"NAME", 'C', 12}, {"N", 'N', 5}};
  for (int i = 0; i < 600; ++i) image.records.push_back(image.Record({"name " + std::to_string(i), "  " + std::to_string(i % 1000)}));
  image.headerCount = 700;
  image.eof = false;
  std::vector<uint8_t> bytes = image.Bytes();
  bytes.resize(bytes.size() - 7);
  const std::string path = dir.File("cut.dbf");
  test::WriteFile(path, bytes);
  TDbfTable table;
  OpenReadOnly(table, path);
  bool useful = false;
  const std::string fast = FastCsv(table, {}, dir, &useful);
  EXPECT_TRUE(useful);
  EXPECT_EQ(fast, GeneralCsv(table, {}, dir));
  EXPECT_NE(fast.find("\"name 598\""), std::string::npos);
}

// RunExport takes the fast rows for CSV and still reports progress and
// stops at a Cancel with nothing left behind.
TEST(CsvRecordRows, ExportReportsProgressAndStopsAtACancel) {
  TTempDir dir;
  const std::string path = WriteShapesTable(dir, 99, 0x57, 3000);
  TDbfTable table;
  OpenReadOnly(table, path);
  TExportJob job;
  job.format = TExportFormat::Csv;
  job.path = dir.File("out.csv");
  std::vector<int64_t> seen;
  job.progress = [&](int64_t done, int64_t total) {
    seen.push_back(done);
    EXPECT_LE(done, total);
  };
  const TExportResult result = RunExport(table, job);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), result.rows);
  EXPECT_GT(seen.size(), 3u);

  test::WriteFile(job.path, {'o', 'l', 'd'});
  job.progress = [&](int64_t done, int64_t) {
    if (done >= 1000) throw EExportError("Cancelled");
  };
  EXPECT_EQ(test::Message([&] { RunExport(table, job); }), "Cancelled");
  EXPECT_EQ(test::ReadFileText(job.path), "old");
  int files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.Path())) ++files;
  EXPECT_EQ(files, 2);  // the table and the old output
}

}  // namespace
}  // namespace norvale
