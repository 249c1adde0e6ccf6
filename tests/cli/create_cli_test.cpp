// norvale-cli create: the field list becomes the table's structure at every
// level, bad items are named, nothing is overwritten, and a refused table
// leaves no file behind.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/field_list.h"
#include "engine/exceptions.h"
#include "engine/table_file.h"
#include "tests/support/test_support.h"

namespace norvale {
namespace {

using test::TTempDir;

using TRun = test::TProgramRun;

TRun RunCli(std::vector<std::string> args) {
  args.insert(args.begin(), NORVALE_CLI);
  return test::RunProgram(args);
}

std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// NAME:TYPE:SIZE:DEC of every field.
std::vector<std::string> Structure(TDbfFile& table) {
  std::vector<std::string> fields;
  for (int i = 0; i < table.FieldDefs().Count(); ++i) {
    const TDbfFieldDef& f = table.FieldDefs().Item(i);
    fields.push_back(f.FieldName() + ":" + f.NativeFieldType() + ":" + std::to_string(f.Size()) + ":" +
                     std::to_string(f.Precision()));
  }
  return fields;
}

TEST(CreateCli, FieldListBecomesTheStructureAtEveryLevel) {
  struct TCase {
    int level;
    std::string fields;
    std::vector<std::string> structure;
    std::vector<std::string> files;
  };
  const std::string common = "NAME C(30), AMOUNT N(12,2), BORN D, NOTE M";
  const std::vector<TCase> cases = {
      {3, common, {"NAME:C:30:0", "AMOUNT:N:12:2", "BORN:D:8:0", "NOTE:M:10:0"}, {"t.dbf", "t.dbt"}},
      {4, "name c(10) , qty n( 6 ), rate f(10, 3), ok l", {"NAME:C:10:0", "QTY:N:6:0", "RATE:F:10:3", "OK:L:1:0"},
       {"t.dbf"}},
      {7, common + ", PIC B, OLE G, R O, N I, ID +, AT @, LONG_NAME_WITH_31_CHARACTERS_XY C(2)",
       {"NAME:C:30:0", "AMOUNT:N:12:2", "BORN:D:8:0", "NOTE:M:10:0", "PIC:B:10:0", "OLE:G:10:0", "R:O:8:0", "N:I:4:0",
        "ID:+:4:0", "AT:@:8:0", "LONG_NAME_WITH_31_CHARACTERS_XY:C:2:0"},
       {"t.dbf", "t.dbt"}},
      {25, common + ", WIDE C(300), P Y, W B, T T, N I, ID +, OLE G(4)",
       {"NAME:C:30:0", "AMOUNT:N:12:2", "BORN:D:8:0", "NOTE:M:4:0", "WIDE:C:300:0", "P:Y:8:4", "W:B:8:0", "T:T:8:0",
        "N:I:4:0", "ID:+:4:0", "OLE:G:4:0"},
       {"t.dbf", "t.fpt"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE("level " + std::to_string(c.level));
    TTempDir dir;
    const std::string path = dir.File("t.dbf");
    const TRun run = RunCli({"create", path, "--level", std::to_string(c.level), "--fields", c.fields});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(FilesIn(dir.Path()), c.files);
    TDbfFile table;
    table.SetFileName(path);
    table.SetMode(amReadOnly);
    table.Open();
    EXPECT_EQ(table.TableLevel(), c.level);
    EXPECT_EQ(table.RecordCount(), 0u);
    EXPECT_EQ(Structure(table), c.structure);
  }
}

TEST(CreateCli, LevelFourUnlessToldOtherwise) {
  TTempDir dir;
  ASSERT_EQ(RunCli({"create", dir.File("t.dbf"), "--fields", "A C(1)"}).status, 0);
  TDbfFile table;
  table.SetFileName(dir.File("t.dbf"));
  table.SetMode(amReadOnly);
  table.Open();
  EXPECT_EQ(table.TableLevel(), 4);
}

TEST(CreateCli, BadItemsAreNamedAndLeaveNoFile) {
  struct TCase {
    int level;
    std::string fields;
    std::string message;
  };
  const std::vector<TCase> cases = {
      {4, "NAME C(30), X I", "field 2 \"X I\": type \"I\" is not one a level 4 table holds (C N F D L M)"},
      {3, "ID +", "field 1 \"ID +\": type \"+\" is not one a level 3 table holds (C N F D L M)"},
      {7, "P Y", "field 1 \"P Y\": type \"Y\" is not one a level 7 table holds (C N F D L M B G I + @ O)"},
      {4, "NAME Q(3)", "field 1 \"NAME Q(3)\": type \"Q\" is not one a level 4 table holds (C N F D L M)"},
      {4, "NAME", "field 1 \"NAME\": expected a name and a type, as in \"NAME C(30)\""},
      {4, "C(3)", "field 1 \"C(3)\": expected a name and a type, as in \"NAME C(30)\""},
      {4, "NAME C", "field 1 \"NAME C\": type C needs a size, as in C(30)"},
      {4, "A N", "field 1 \"A N\": type N needs a size, as in N(12,2)"},
      {4, "NAME C(30),", "field 2 is empty"},
      {4, ", NAME C(30)", "field 1 is empty"},
      {4, "NAME C(0)", "field 1 \"NAME C(0)\": a C field is 1 to 254 characters wide"},
      {4, "NAME C(300)", "field 1 \"NAME C(300)\": a C field is 1 to 254 characters wide"},
      {4, "NAME C(x)", "field 1 \"NAME C(x)\": the size is not a whole number"},
      {4, "NAME C(3", "field 1 \"NAME C(3\": expected a size in parentheses after the type, as in C(30) or N(12,2)"},
      {4, "NAME CHAR(3)", "field 1 \"NAME CHAR(3)\": expected a size in parentheses after the type, as in C(30) or N(12,2)"},
      {4, "NAME C(3,1)", "field 1 \"NAME C(3,1)\": type C has no decimals"},
      {4, "A N(21)", "field 1 \"A N(21)\": a number field is 1 to 20 characters wide"},
      {4, "A N(5,4)", "field 1 \"A N(5,4)\": a number of width 5 holds at most 3 decimals"},
      {4, "A N(5,-1)", "field 1 \"A N(5,-1)\": the decimals are not a whole number"},
      {4, "BORN D(9)", "field 1 \"BORN D(9)\": type D is always 8 bytes wide"},
      {4, "OK L(2)", "field 1 \"OK L(2)\": type L is always 1 byte wide"},
      {25, "NOTE M(10)", "field 1 \"NOTE M(10)\": type M is always 4 bytes wide"},
      {4, "BORN D(8,2)", "field 1 \"BORN D(8,2)\": type D has no decimals"},
      // What the table file refuses reaches the user as well.
      {4, "CUSTOMER_NAME1 C(5), CUSTOMER_NAME2 N(3), NOTE M",
       "Field name \"CUSTOMER_N\" appears twice (names are cut to 10 characters)."},
      {25, "A C(40000), B C(30000), NOTE M", "Table structure too large for this table type."},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.fields);
    TTempDir dir;
    const std::string path = dir.File("t.dbf");
    const TRun run = RunCli({"create", path, "--level", std::to_string(c.level), "--fields", c.fields});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "norvale-cli: " + path + ": " + c.message + "\n");
    EXPECT_TRUE(FilesIn(dir.Path()).empty());
  }
}

TEST(CreateCli, NothingIsOverwritten) {
  TTempDir dir;
  const std::string path = dir.File("t.dbf");
  ASSERT_EQ(RunCli({"create", path, "--fields", "A C(3)"}).status, 0);
  const std::vector<uint8_t> before = test::ReadFile(path);
  TRun run = RunCli({"create", path, "--level", "3", "--fields", "B N(5)"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "norvale-cli: " + path + ": Cannot create \"" + path + "\": it already exists.\n");
  EXPECT_EQ(test::ReadFile(path), before);

  // A memo file left from another table is not emptied either.
  const std::string memo = dir.File("m.dbt");
  test::WriteFile(memo, {1, 2, 3});
  run = RunCli({"create", dir.File("m.dbf"), "--fields", "NOTE M"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("Cannot create \"" + memo + "\": it already exists."), std::string::npos) << run.err;
  EXPECT_EQ(test::ReadFile(memo), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(FilesIn(dir.Path()), (std::vector<std::string>{"m.dbt", "t.dbf"}));
}

TEST(CreateCli, CodePageNamedByTheDriverOrACpgFile) {
  struct TCase {
    int level;
    std::string codePage;
    int expected;
    bool cpg;
  };
  const std::vector<TCase> cases = {
      {4, "1251", 1251, false}, {25, "cp866", 866, false}, {7, "1252", 1252, false},
      {3, "866", 866, true},    {3, "UTF-8", 65001, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE("level " + std::to_string(c.level) + " " + c.codePage);
    TTempDir dir;
    const std::string path = dir.File("t.dbf");
    const TRun run =
        RunCli({"create", path, "--level", std::to_string(c.level), "--codepage", c.codePage, "--fields", "A C(5)"});
    ASSERT_EQ(run.status, 0) << run.err;
    TDbfFile table;
    table.SetFileName(path);
    table.SetMode(amReadOnly);
    table.Open();
    EXPECT_EQ(table.TableLevel(), c.level);
    EXPECT_EQ(table.UseCodePage(), c.expected) << table.CodePageSourceText();
    EXPECT_EQ(!table.CpgFileName().empty(), c.cpg);
    if (!c.cpg) {
      EXPECT_EQ(table.FileCodePage(), c.expected);
    }
  }
}

TEST(CreateCli, LevelFourRefusesAPageNoDriverNames) {
  TTempDir dir;
  const std::string path = dir.File("t.dbf");
  const TRun run = RunCli({"create", path, "--codepage", "UTF-8", "--fields", "A C(5)"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "norvale-cli: " + path +
                         ": no dBASE IV language driver names code page 65001; a level 3 table can name it in a .cpg "
                         "file\n");
  EXPECT_TRUE(FilesIn(dir.Path()).empty());
}

TEST(CreateCli, UsageErrors) {
  TTempDir dir;
  const std::string path = dir.File("t.dbf");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"create", path}, {"create", "--fields", "A C(1)"},
        {"create", path, "--fields", "A C(1)", "--level", "5"}, {"create", path, "--fields", "A C(1)", "--codepage", "x"},
        {"create", path, "other.dbf", "--fields", "A C(1)"}, {"create", path, "--fields"}}) {
    const TRun run = RunCli(args);
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_NE(run.err.find("usage: norvale-cli create"), std::string::npos) << run.err;
  }
  EXPECT_TRUE(FilesIn(dir.Path()).empty());
}

// The parser on its own, as the restructure command will use it.
TEST(FieldList, SizesAndLogicalTypes) {
  TDbfFieldDefs defs(xFoxPro);
  cli::ParseFieldList("  a c(65534),b n(9) , c N(12,2),d y, e M ", defs);
  ASSERT_EQ(defs.Count(), 5);
  EXPECT_EQ(defs.Item(0).FieldName(), "a");  // the table file upper-cases
  EXPECT_EQ(defs.Item(0).Size(), 65534);
  EXPECT_EQ(defs.Item(1).FieldType(), ftInteger);
  EXPECT_EQ(defs.Item(2).FieldType(), ftFloat);
  EXPECT_EQ(defs.Item(2).Precision(), 2);
  EXPECT_EQ(defs.Item(3).Size(), 8);
  EXPECT_EQ(defs.Item(3).Precision(), 4);
  EXPECT_EQ(defs.Item(4).Size(), 4);
  EXPECT_EQ(test::Message([] {
              TDbfFieldDefs other(xFoxPro);
              cli::ParseFieldList("A C(65535)", other);
            }),
            "field 1 \"A C(65535)\": a C field is 1 to 65534 characters wide");
}

}  // namespace
}  // namespace norvale
