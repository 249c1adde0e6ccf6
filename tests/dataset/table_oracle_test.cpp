// Edits made through the table object, read back by an independent reader
// (python3-dbfread): what the editing cycle writes must mean the same to
// other programs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <nlohmann/json.hpp>
#include <string>

#include "dataset/dbf_table.h"
#include "engine/globals.h"
#include "engine/table_file.h"
#include "tests/dataset/dataset_tables.h"
#include "tests/support/test_support.h"

namespace norvale::test {
namespace {

using nlohmann::json;

bool HaveDbfread() { return std::system("/usr/bin/python3 -c 'import dbfread' >/dev/null 2>&1") == 0; }

json ReadWithDbfread(const std::string& table) {
  std::string out;
  for (const std::string& line :
       RunCommandLines("/usr/bin/python3 " + SourceDir() + "/tests/generators/dbfread_dump.py '" + table + "'"))
    out += line;
  return json::parse(out);
}

TEST(DbfTableOracle, EditCycleReadsBackInDbfread) {
  if (!HaveDbfread()) GTEST_SKIP() << "python3-dbfread is not installed";
  TTempDir dir;
  TTableImage t;
  t.fields = {{"NAME", 'C', 12}, {"AMOUNT", 'N', 8, 2}, {"BORN", 'D', 8}, {"ACTIVE", 'L', 1}, {"_DBASELOCK", 'C', 24}};
  t.records = {t.Record({"Ann", "    1.50", "19800101", "T"}), t.Record({"Bob", "    2.00", "19810202", "F"}),
               t.Record({"Cid", "    3.00", "19820303", "T"}, true)};
  const std::string path = dir.File("edit.dbf");
  WriteFile(path, t.Bytes());
  {
    TDbfTable table;
    table.SetTableName(path);
    table.SetShowDeleted(true);
    table.Open();
    table.SetRecNo(2);
    table.Edit();
    table.FieldByName("NAME").SetAsString("Bérénice");
    table.FieldByName("AMOUNT").SetAsFloat(1234.567);
    table.FieldByName("BORN").SetAsString("1999-12-31");
    table.FieldByName("ACTIVE").SetAsBoolean(true);
    table.Post();
    table.SetRecNo(1);
    table.Delete();
    table.SetRecNo(3);
    table.Undelete();
    table.Post();
    table.Append();
    table.FieldByName("NAME").SetAsString("Dee");
    table.FieldByName("AMOUNT").SetAsString("-7.25");
    table.Post();
    table.Insert();
    table.FieldByName("NAME").SetAsString("Eve");
    table.Post();
  }
  const json read = ReadWithDbfread(path);
  ASSERT_EQ(read["records"].size(), 4u) << read.dump();
  auto live = [&](size_t r, size_t f) { return read["records"][r][f]; };
  EXPECT_EQ(live(0, 0), "Bérénice");
  EXPECT_DOUBLE_EQ(live(0, 1).get<double>(), 1234.57);
  EXPECT_EQ(live(0, 2), "1999-12-31");
  EXPECT_EQ(live(0, 3), true);
  EXPECT_EQ(live(1, 0), "Cid");  // recalled
  EXPECT_EQ(live(2, 0), "Dee");
  EXPECT_DOUBLE_EQ(live(2, 1).get<double>(), -7.25);
  EXPECT_TRUE(live(2, 2).is_null());
  EXPECT_EQ(live(3, 0), "Eve");
  ASSERT_EQ(read["deleted"].size(), 1u);
  EXPECT_EQ(read["deleted"][0][0], "Ann");

  // The lock field of the edited record: the change count went up from
  // blank, the time stamp is today's, the user name follows.
  const std::vector<uint8_t> bytes = ReadFile(path);
  TDbfFile file;
  file.SetFileName(path);
  file.SetMode(amReadOnly);
  file.Open();
  const uint8_t* lock = bytes.data() + file.HeaderLength() + file.RecordLength() + file.LockField()->Offset();
  EXPECT_NE(lock[0] | lock[1] << 8, 0x2020);
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  EXPECT_EQ(lock[5], local.tm_year & 0xFF);
  EXPECT_EQ(lock[6], local.tm_mon + 1);
  const std::string& user = TDbfGlobals::Instance().ComputerName();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(lock) + 8, std::min<size_t>(user.size(), 16)),
            user.substr(0, 16));
}

TEST(DbfTableOracle, LogicalsOfEveryKindMeanTheSameToDbfread) {
  if (!HaveDbfread()) GTEST_SKIP() << "python3-dbfread is not installed";
  TTempDir dir;
  TTableImage t;
  t.fields = {{"NAME", 'C', 4}, {"OK", 'L', 1}};
  // As other programs store them: yes and no in either case, unanswered.
  for (const char* v : {"Y", "n", "?", "t"}) t.records.push_back(t.Record({v, v}));
  const std::string path = dir.File("logic.dbf");
  WriteFile(path, t.Bytes());
  TDbfTable table;
  table.SetTableName(path);
  table.Open();
  std::vector<std::string> seen;
  for (table.First(); !table.Eof(); table.Next())
    seen.push_back(table.FieldByName("OK").IsNull() ? "null" : table.FieldByName("OK").AsBoolean() ? "true" : "false");
  EXPECT_EQ(seen, (std::vector<std::string>{"true", "false", "null", "true"}));
  // Written by the engine: true, false and no value.
  for (const int choice : {0, 1, 2}) {
    table.Append();
    table.FieldByName("NAME").SetAsString("new" + std::to_string(choice));
    if (choice == 2)
      table.FieldByName("OK").Clear();
    else
      table.FieldByName("OK").SetAsBoolean(choice == 0);
    table.Post();
  }
  table.Close();
  const json read = ReadWithDbfread(path);
  ASSERT_EQ(read["records"].size(), 7u) << read.dump();
  EXPECT_EQ(read["records"][0][1], true);
  EXPECT_EQ(read["records"][1][1], false);
  EXPECT_TRUE(read["records"][2][1].is_null());
  EXPECT_EQ(read["records"][4][1], true);
  EXPECT_EQ(read["records"][5][1], false);
  EXPECT_TRUE(read["records"][6][1].is_null());
}

TEST(DbfTableOracle, AppendsNumberAutoIncrementFields) {
  TTempDir dir;
  TTableImage t;
  t.versionByte = 0x30;  // Visual FoxPro
  t.fields = {{"ID", '+', 4}, {"NAME", 'C', 10}};
  std::vector<uint8_t> bytes = t.Bytes();
  bytes[32 + 19] = 100;  // next value 100, step 5
  bytes[32 + 23] = 5;
  const std::string path = dir.File("auto.dbf");
  WriteFile(path, bytes);
  {
    TDbfTable table;
    table.SetTableName(path);
    table.Open();
    EXPECT_TRUE(table.FieldByName("ID").ReadOnly());
    for (const char* name : {"one", "two", "three"}) {
      table.Append();
      table.FieldByName("NAME").SetAsString(name);
      table.Post();
      EXPECT_EQ(table.FieldByName("ID").AsInteger(), table.RecNo() * 5 + 95);
    }
  }
  TDbfTable table;
  table.SetTableName(path);
  table.Open();
  std::vector<int> ids;
  for (; !table.Eof(); table.Next()) ids.push_back(table.FieldByName("ID").AsInteger());
  EXPECT_EQ(ids, (std::vector<int>{100, 105, 110}));
  if (!HaveDbfread()) return;
  const json read = ReadWithDbfread(path);
  ASSERT_EQ(read["records"].size(), 3u);
  EXPECT_EQ(read["records"][2][1], "three");
}

TEST(DbfTableOracle, MemoEditsReadBackInDbfread) {
  if (!HaveDbfread()) GTEST_SKIP() << "python3-dbfread is not installed";
  for (const bool fox : {false, true}) {
    SCOPED_TRACE(fox ? "FoxPro" : "dBASE IV");
    TTempDir dir;
    WriteEmptyMemoTable(dir, fox);
    const std::string longText = "Zürich\r\n" + std::string(1500, 'm') + "\r\nend";
    {
      TDbfTable table;
      table.SetTableName(dir.File("memo.dbf"));
      table.Open();
      table.Edit();
      table.FieldByName("NOTES").SetAsString(longText);
      table.Post();
      table.Next();
      table.Edit();
      table.FieldByName("NOTES").SetAsString("short one");
      table.FieldByName("N").SetAsInteger(22);
      table.Post();
      // Replaced by something shorter: the old blocks are reused.
      table.First();
      table.Edit();
      table.FieldByName("NOTES").SetAsString("now brief");
      table.Post();
    }
    TDbfTable table;
    table.SetTableName(dir.File("memo.dbf"));
    table.Open();
    EXPECT_EQ(table.FieldByName("NOTES").AsString(), "now brief");
    const json read = ReadWithDbfread(dir.File("memo.dbf"));
    ASSERT_EQ(read["records"].size(), 2u);
    // dbfread takes a dBASE IV block length, which counts the block
    // header's 8 bytes, for the data alone: it may read up to 8 bytes past.
    auto sameMemo = [fox](const json& read, const std::string& value) {
      const std::string text = read.get<std::string>();
      return fox ? text == value : text.compare(0, value.size(), value) == 0 && text.size() <= value.size() + 8;
    };
    EXPECT_EQ(read["records"][0][0], "first");
    EXPECT_TRUE(sameMemo(read["records"][0][1], "now brief")) << read["records"][0][1];
    EXPECT_EQ(read["records"][0][2], 1);
    EXPECT_EQ(read["records"][1][0], "second");
    EXPECT_TRUE(sameMemo(read["records"][1][1], "short one")) << read["records"][1][1];
    EXPECT_EQ(read["records"][1][2], 22);
  }
}

}  // namespace
}  // namespace norvale::test
