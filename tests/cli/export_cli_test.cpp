// norvale-cli export and import, end to end: every file type is read back by
// the program a person would open it with and its values compared with what
// norvale-cli dump shows; exported files come back in through import equal
// to the table they were made of; a source with bad rows changes nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include <nlohmann/json.hpp>

#include "dataset/dbf_table.h"
#include "engine/date_time.h"
#include "engine/fields.h"
#include "tests/support/test_support.h"

namespace norvale {
namespace {

using test::TTempDir;

test::TProgramRun RunCli(std::vector<std::string> args) {
  args.insert(args.begin(), NORVALE_CLI);
  return test::RunProgram(args);
}

const char* const kStructure = "NAME C(24), CITY C(16), AMOUNT N(12,2), QTY N(6,0), BORN D, ACTIVE L, NOTE M";

struct TRow {
  std::string name, city, amount, qty, born, active, note;
};

// Values a writer gets wrong first: separators and quotes inside text,
// letters beyond ASCII, line breaks in a memo, negative and grouped-size
// numbers, and fields left empty.
std::vector<TRow> Rows(int count) {
  std::vector<TRow> rows = {
      {"Müller, Anna", "Zürich", "1234567.89", "12", "1980-02-29", "T", "first line\r\nsecond \"quoted\" line"},
      {"O'Brien \"Bob\"", "Cork", "-42.50", "-3", "", "F", ""},
      {"Ωmega <b>&</b>", "Αθήνα", "0.00", "0", "2024-12-31", "", "a;b,c\ttab"},
      {"", "", "", "", "1900-03-01", "T", "only memo"},
      {"  leading blanks", "Łódź", "999999999.99", "999999", "1999-01-01", "F", "ünïcödé ✓"},
  };
  for (int i = static_cast<int>(rows.size()); i < count; ++i)
    rows.push_back({"Person " + std::to_string(i), i % 2 ? "Bern" : "Genève", std::to_string(i * 37) + ".25",
                    std::to_string(i), "2001-05-" + std::string(i % 28 + 1 < 10 ? "0" : "") + std::to_string(i % 28 + 1),
                    i % 3 ? "T" : "F", i % 4 ? "" : "note " + std::to_string(i)});
  return rows;
}

// The table, made through the table object as any program of ours makes one.
std::string MakeTable(const TTempDir& dir, const std::string& name, int count) {
  const std::string path = dir.File(name);
  const auto created = RunCli({"create", path, "--level", "25", "--codepage", "1252", "--fields", kStructure});
  EXPECT_EQ(created.status, 0) << created.err;
  TDbfTable table;
  table.SetTableName(path);
  table.Open();
  for (const TRow& r : Rows(count)) {
    table.Append();
    table.FieldByName("NAME").SetAsString(r.name);
    table.FieldByName("CITY").SetAsString(r.city);
    table.FieldByName("AMOUNT").SetAsString(r.amount);
    table.FieldByName("QTY").SetAsString(r.qty);
    table.FieldByName("BORN").SetAsString(r.born);
    table.FieldByName("ACTIVE").SetAsString(r.active);
    table.FieldByName("NOTE").SetAsString(r.note);
    table.Post();
  }
  table.Close();
  return path;
}

std::string Dump(const std::string& table, std::vector<std::string> extra = {}) {
  std::vector<std::string> args{"dump", table, "--format", "json"};
  args.insert(args.end(), extra.begin(), extra.end());
  const auto run = RunCli(args);
  EXPECT_EQ(run.status, 0) << run.err;
  return run.out;
}

// The records of a dump without their numbers: two tables that hold the
// same values in the same order give the same text.
nlohmann::json Values(const std::string& dump) {
  const nlohmann::json parsed = nlohmann::json::parse(dump);
  nlohmann::json values = nlohmann::json::array();
  for (const auto& record : parsed["records"]) values.push_back(record["values"]);
  return values;
}

// Runs the reader of `format` on `file` against the dump it should equal.
void ExpectReadBack(const std::string& format, const std::string& file, const std::string& dump,
                    const TTempDir& scratch, const std::string& title) {
  const std::string dumpFile = scratch.File(format + ".dump.json");
  test::WriteFile(dumpFile, std::vector<uint8_t>(dump.begin(), dump.end()));
  const std::string work = scratch.File(format + ".work");
  std::filesystem::create_directories(work);
  const auto run = test::RunProgram({"/usr/bin/python3", test::SourceDir() + "/tests/cli/export_readback.py", format,
                                     file, dumpFile, work, title});
  if (run.status == 77) GTEST_SKIP() << run.out;
  EXPECT_EQ(run.status, 0) << format << ": " << run.out << run.err;
}

const std::vector<std::string> kFormats = {"txt", "pdf", "xls",  "rtf",  "wks",    "xml",  "html",
                                "dbf", "csv", "xlsx", "json", "sqlite", "pgsql"};

}  // namespace

class ExportFormat : public ::testing::TestWithParam<std::string> {};

// Each type read back by its own reader holds exactly what the dump shows.
TEST_P(ExportFormat, ReadsBackAsTheDumpShowsTheTable) {
  TTempDir dir;
  const std::string table = MakeTable(dir, "people.dbf", 60);
  const std::string out = dir.File("out/people." + GetParam());
  std::filesystem::create_directories(dir.File("out"));
  const auto run = RunCli({"export", table, out, "--format", GetParam()});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("60 records exported"), std::string::npos) << run.err;
  // Nothing but the file itself is left: no temporary name stays behind.
  std::vector<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(dir.File("out"))) left.push_back(e.path().filename().string());
  if (GetParam() == "dbf") {
    EXPECT_EQ(left.size(), 2u);  // with its memo file
  } else {
    EXPECT_EQ(left, std::vector<std::string>{"people." + GetParam()});
  }
  ExpectReadBack(GetParam(), out, Dump(table), dir, "people");
}

INSTANTIATE_TEST_SUITE_P(AllTypes, ExportFormat, ::testing::ValuesIn(kFormats),
                         [](const auto& info) { return info.param; });

// --where, --order and --fields pick the records, their order and the
// columns exactly as dump picks them.
TEST(ExportCli, ConditionOrderAndFieldsSelectLikeDump) {
  TTempDir dir;
  const std::string table = MakeTable(dir, "people.dbf", 60);
  const std::string index = dir.File("bycity.ndx");
  ASSERT_EQ(RunCli({"index", "create", table, "BYCITY", "CITY+NAME", "--index", index}).status, 0);
  const std::string out = dir.File("picked.json");
  const auto run = RunCli({"export", table, out, "--where", "ACTIVE AND AMOUNT > 500", "--index", index,
                           "--fields", "CITY, NAME,AMOUNT"});
  ASSERT_EQ(run.status, 0) << run.err;
  auto dump = nlohmann::json::parse(Dump(table, {"--where", "ACTIVE AND AMOUNT > 500", "--index", index}));
  ASSERT_GT(dump["records"].size(), 5u);
  // The dump's columns cut down to the three asked for, in that order.
  const std::vector<size_t> keep{1, 0, 2};
  nlohmann::json fields = nlohmann::json::array();
  for (size_t i : keep) fields.push_back(dump["fields"][i]);
  dump["fields"] = fields;
  for (auto& record : dump["records"]) {
    nlohmann::json values = nlohmann::json::array();
    for (size_t i : keep) values.push_back(record["values"][i]);
    record["values"] = values;
  }
  ExpectReadBack("json", out, dump.dump(), dir, "people");
}

TEST(ExportCli, RefusesTheTablesOwnFilesAndKeepsAnOldFileOnFailure) {
  TTempDir dir;
  const std::string table = MakeTable(dir, "people.dbf", 10);
  const std::vector<uint8_t> before = test::ReadFile(table);
  for (const std::string& own : {table, dir.File("people.fpt")}) {
    const auto run = RunCli({"export", table, own, "--format", own == table ? "dbf" : "csv"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("is a file of the table being exported"), std::string::npos) << run.err;
  }
  EXPECT_EQ(test::ReadFile(table), before);
  // A DBF export of another name would bring a memo file of the table's name.
  EXPECT_EQ(RunCli({"export", table, dir.File("people.xyz"), "--format", "dbf"}).status, 1);

  // A condition that fails leaves the file that was there as it was.
  const std::string out = dir.File("old.csv");
  test::WriteFile(out, {'o', 'l', 'd'});
  const auto bad = RunCli({"export", table, out, "--where", "NOSUCHFIELD > 1"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("Filter error"), std::string::npos) << bad.err;
  EXPECT_EQ(test::ReadFileText(out), "old");
  EXPECT_NE(RunCli({"export", table, dir.File("x.unknown")}).status, 0);
}

class ImportRoundTrip : public ::testing::TestWithParam<std::string> {};

// What an export wrote comes back in through import: a new table of the
// same structure ends up holding the same records.
TEST_P(ImportRoundTrip, ExportedRowsImportIntoAnEmptyCopyUnchanged) {
  TTempDir dir;
  const std::string table = MakeTable(dir, "people.dbf", 60);
  const std::string file = dir.File("rows." + GetParam());
  ASSERT_EQ(RunCli({"export", table, file, "--format", GetParam()}).status, 0);
  const std::string copy = dir.File("copy.dbf");
  ASSERT_EQ(RunCli({"create", copy, "--level", "25", "--codepage", "1252", "--fields", kStructure}).status, 0);

  const auto dry = RunCli({"import", copy, file, "--dry-run"});
  ASSERT_EQ(dry.status, 0) << dry.err;
  EXPECT_EQ(dry.out, "60 rows would be imported.\n");
  EXPECT_EQ(Values(Dump(copy)).size(), 0u);

  const auto run = RunCli({"import", copy, file});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "60 records imported.\n");
  EXPECT_EQ(Values(Dump(copy)), Values(Dump(table)));
}

INSTANTIATE_TEST_SUITE_P(Sources, ImportRoundTrip, ::testing::Values("csv", "xlsx", "dbf"),
                         [](const auto& info) { return info.param; });

TEST(ImportCli, BadRowsAreNamedAndNothingIsWritten) {
  TTempDir dir;
  const std::string table = MakeTable(dir, "people.dbf", 5);
  ASSERT_EQ(RunCli({"index", "create", table, "BYNAME", "NAME", "--index", dir.File("byname.ndx")}).status, 0);
  test::TFolderState::Age(dir.Path());
  const test::TFolderState before = test::TFolderState::Of(dir.Path());
  const std::string csvText =
      "NAME,AMOUNT,BORN,ACTIVE\r\n"
      "Good,1.50,01/02/2003,T\r\n"
      "Bad number,12x,,\r\n"
      "Good too,2,,F\r\n"
      "Bad date,3,31/02/2001,\r\n"
      "A name much too long for its field,4,,\r\n"
      "Bad logical,5,,maybe\r\n"
      "Too wide,123456789012.5,,\r\n";
  const std::string source = dir.Path() + "/../bad_rows_" + std::to_string(::getpid()) + ".csv";
  test::WriteFile(source, std::vector<uint8_t>(csvText.begin(), csvText.end()));
  const auto run = RunCli({"import", table, source});
  std::remove(source.c_str());
  EXPECT_EQ(run.status, 1);
  for (const char* line : {"Row 3, AMOUNT: '12x' is not a number", "Row 5, BORN: '31/02/2001' is not a date",
                           "Row 6, NAME: 'A name much too long for its field' does not fit 24 characters",
                           "Row 7, ACTIVE: 'maybe' is not a logical value",
                           "Row 8, AMOUNT: '123456789012.5' does not fit N(12,2)",
                           "5 of 7 rows would be rejected; nothing was imported."})
    EXPECT_NE(run.err.find(line), std::string::npos) << line << "\n" << run.err;
  EXPECT_EQ(test::TFolderState::Of(dir.Path()).ChangesSince(before), "");
}

// Imported rows get their keys in the table's index files, so the index
// order and a seek find them at once.
TEST(ImportCli, AppendedRowsAreInTheIndex) {
  TTempDir dir;
  const std::string table = MakeTable(dir, "people.dbf", 5);
  const std::string index = dir.File("byname.ndx");
  ASSERT_EQ(RunCli({"index", "create", table, "BYNAME", "NAME", "--index", index}).status, 0);
  const std::string source = dir.File("more.csv");
  const std::string csvText = "NAME,QTY\r\nAaron,1\r\nZora,2\r\n";
  test::WriteFile(source, std::vector<uint8_t>(csvText.begin(), csvText.end()));
  ASSERT_EQ(RunCli({"import", table, source, "--index", index}).status, 0);
  const auto seek = nlohmann::json::parse(Dump(table, {"--index", index, "--seek", "Zora"}));
  ASSERT_EQ(seek["records"].size(), 1u);
  EXPECT_EQ(seek["records"][0]["recno"], 7);
  const auto ordered = nlohmann::json::parse(Dump(table, {"--index", index}));
  ASSERT_EQ(ordered["records"].size(), 7u);
  std::vector<std::string> names;
  for (const auto& record : ordered["records"]) names.push_back(record["values"][0]);
  const auto at = [&](const std::string& name) { return std::find(names.begin(), names.end(), name) - names.begin(); };
  EXPECT_LT(at("Aaron"), at("M\u00fcller, Anna"));
  EXPECT_EQ(names.back(), "Zora");
}

}  // namespace norvale
