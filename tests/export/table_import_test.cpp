// The import's second pass works on a copy of the table's files: a cancel or
// a failure part way leaves every file of the table byte for byte as it
// was, memo and index files included; columns find their fields by name,
// else by position.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/export/export_value.h"
#include "app/export/import_source.h"
#include "app/export/table_import.h"
#include "dataset/dbf_table.h"
#include "engine/fields.h"
#include "tests/support/test_support.h"

namespace norvale {
namespace {

using test::TTempDir;

// people.dbf (NAME C(20), QTY N(6,0), NOTE M) with an index on NAME and
// three records.
std::string MakeTable(const TTempDir& dir) {
  const std::string path = dir.File("people.dbf");
  TDbfFieldDefs defs(xFoxPro);
  const std::vector<std::pair<std::string, char>> fields{{"NAME", 'C'}, {"QTY", 'N'}, {"NOTE", 'M'}};
  for (const auto& [name, letter] : fields) {
    TDbfFieldDef& def = defs.Add();
    def.SetFieldName(name);
    def.SetNativeFieldType(letter);
    if (letter == 'C') def.SetSize(20);
    if (letter == 'N') def.SetSize(6);
  }
  {
    TDbfTable create;
    create.SetTableName(path);
    create.SetTableLevel(25);
    create.CreateTable(&defs);
  }
  TDbfTable table;
  table.SetTableName(path);
  table.SetExclusive(true);
  table.Open();
  table.AddIndex("byname.ndx", "NAME");
  for (int i = 1; i <= 3; ++i) {
    table.Append();
    table.FieldByName("NAME").SetAsString("old " + std::to_string(i));
    table.FieldByName("QTY").SetAsInteger(i);
    table.FieldByName("NOTE").SetAsString("memo " + std::to_string(i));
    table.Post();
  }
  table.Close();
  return path;
}

std::string WriteCsv(const TTempDir& dir, int rows, int badRow) {
  std::string text = "NAME,QTY,NOTE\n";
  for (int i = 1; i <= rows; ++i)
    text += "new " + std::to_string(i) + "," + (i == badRow ? std::string("x") : std::to_string(i)) + ",line " +
            std::to_string(i) + "\n";
  const std::string path = dir.File("rows.csv");
  test::WriteFile(path, std::vector<uint8_t>(text.begin(), text.end()));
  return path;
}

int64_t RecordCount(const std::string& path) {
  TDbfTable table;
  table.SetReadOnly(true);
  table.SetTableName(path);
  table.Open();
  return table.RecordCount();
}

TImportTarget Target(const TTempDir& dir) {
  TImportTarget target;
  target.table = dir.File("people.dbf");
  target.indexFiles = {dir.File("byname.ndx")};
  return target;
}

}  // namespace

TEST(AppendImport, ACancelPartWayLeavesEveryFileAsItWas) {
  TTempDir dir;
  MakeTable(dir);
  const std::string csv = WriteCsv(dir, 2000, 0);
  test::TFolderState::Age(dir.Path());
  const test::TFolderState before = test::TFolderState::Of(dir.Path());
  auto source = OpenCsvSource(csv, {});
  int reports = 0;
  EXPECT_THROW(AppendImport(Target(dir), *source, {0, 1, 2},
                            [&](double) {
                              if (++reports == 3) throw EAbort();
                            }),
               EAbort);
  EXPECT_EQ(test::TFolderState::Of(dir.Path()).ChangesSince(before), "");
}

TEST(AppendImport, ARowThatFailsInTheSecondPassIsNamedAndNothingChanges) {
  TTempDir dir;
  MakeTable(dir);
  const std::string csv = WriteCsv(dir, 1000, 700);
  test::TFolderState::Age(dir.Path());
  const test::TFolderState before = test::TFolderState::Of(dir.Path());
  auto source = OpenCsvSource(csv, {});
  try {
    AppendImport(Target(dir), *source, {0, 1, 2});
    ADD_FAILURE() << "the bad row went in";
  } catch (const EExportError& e) {
    EXPECT_STREQ(e.what(), "Row 701, QTY: 'x' is not a number");  // the header is line 1
  }
  EXPECT_EQ(test::TFolderState::Of(dir.Path()).ChangesSince(before), "");
}

TEST(AppendImport, AllRowsGoInWithTheirMemosAndKeys) {
  TTempDir dir;
  const std::string path = MakeTable(dir);
  auto source = OpenCsvSource(WriteCsv(dir, 500, 0), {});
  EXPECT_EQ(AppendImport(Target(dir), *source, {0, 1, 2}), 500);
  EXPECT_EQ(RecordCount(path), 503);
  TDbfTable table;
  table.SetReadOnly(true);
  table.SetTableName(path);
  table.Open();
  table.OpenIndexFile(dir.File("byname.ndx"));
  table.SetIndexName(table.GetIndexNames().back());
  // In the order of the index the new names come after the old ones.
  table.Last();
  EXPECT_EQ(table.FieldByName("NAME").AsString(), "old 3");
  table.First();
  EXPECT_EQ(table.FieldByName("NAME").AsString(), "new 1");
  EXPECT_EQ(table.FieldByName("NOTE").AsString(), "line 1");
  // No copy or backup is left beside the table.
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir.Path())) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"byname.ndx", "people.dbf", "people.fpt", "rows.csv"}));
}

TEST(MatchColumns, ByNameWithoutCaseElseByPosition) {
  const std::vector<std::string> fields{"NAME", "QTY", "NOTE"};
  EXPECT_EQ(MatchColumns({"note", "Name "}, fields), (std::vector<int>{1, -1, 0}));
  // No name in common: the columns are taken in turn.
  EXPECT_EQ(MatchColumns({"Column1", "Column2"}, fields), (std::vector<int>{0, 1, -1}));
  EXPECT_EQ(MatchColumns({}, fields), (std::vector<int>{-1, -1, -1}));
}

}  // namespace norvale
