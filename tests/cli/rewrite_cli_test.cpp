// norvale-cli pack, zap and restructure as a script runs them: fields
// matched by name, the status and message of a refusal, and files left
// as they were when the command refuses.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

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

// NAME C(10), AMOUNT N(8,2): the given rows, "*" before a name deletes it.
void MakeTable(const std::string& path, const std::vector<std::pair<std::string, std::string>>& rows) {
  ASSERT_EQ(RunCli({"create", path, "--fields", "NAME C(10), AMOUNT N(8,2)"}).status, 0);
  TDbfFile file;
  file.SetFileName(path);
  file.SetMode(amExclusiveOpen);
  file.Open();
  std::vector<uint8_t> rec(static_cast<size_t>(file.RecordLength()));
  for (const auto& [name, amount] : rows) {
    file.BlankRecord(rec.data());
    const bool deleted = !name.empty() && name[0] == '*';
    const std::string n = deleted ? name.substr(1) : name;
    std::copy(n.begin(), n.end(), rec.begin() + 1);
    std::copy(amount.begin(), amount.end(), rec.begin() + 11 + 8 - int(amount.size()));
    if (deleted) rec[0] = '*';
    file.AppendRecord(rec.data());
  }
}

std::map<std::string, std::vector<uint8_t>> Snapshot(const std::string& dir) {
  std::map<std::string, std::vector<uint8_t>> files;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    files[e.path().filename().string()] = test::ReadFile(e.path().string());
  return files;
}

TEST(RewriteCli, RestructureMatchesFieldsByNameAndKeepsTheOldTable) {
  TTempDir dir;
  const std::string path = dir.File("t.dbf");
  MakeTable(path, {{"ann", "12.50"}, {"*bob", "3.00"}});
  const TRun run = RunCli({"restructure", path, "--fields", "AMOUNT N(10,3), NEW L, NAME C(12)"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("t_2.dbf"), std::string::npos) << run.out;
  TDbfFile file;
  file.SetFileName(path);
  file.SetMode(amReadOnly);
  file.Open();
  ASSERT_EQ(file.RecordsInFile(), 2);
  std::vector<uint8_t> rec(static_cast<size_t>(file.RecordLength()));
  file.ReadRecord(1, rec.data());
  // Flag, AMOUNT N(10,3), NEW blank, NAME C(12).
  EXPECT_EQ(std::string(rec.begin(), rec.end()), std::string(" ") + "    12.500" + " " + "ann         ");
  file.ReadRecord(2, rec.data());
  EXPECT_EQ(rec[0], '*') << "restructure alone keeps deleted records";
  EXPECT_TRUE(std::filesystem::exists(dir.File("t_2.dbf")));
}

TEST(RewriteCli, PackAndZap) {
  TTempDir dir;
  const std::string path = dir.File("t.dbf");
  MakeTable(path, {{"ann", "1"}, {"*bob", "2"}, {"cy", "3"}});
  const TRun pack = RunCli({"pack", path});
  ASSERT_EQ(pack.status, 0) << pack.err;
  EXPECT_NE(pack.out.find("2 records kept, 1 deleted"), std::string::npos) << pack.out;
  ASSERT_EQ(RunCli({"zap", path}).status, 0);
  TDbfFile file;
  file.SetFileName(path);
  file.SetMode(amReadOnly);
  file.Open();
  EXPECT_EQ(file.RecordsInFile(), 0);
}

TEST(RewriteCli, RefusalsSayWhyWithStatusOneAndChangeNothing) {
  TTempDir dir;
  const std::string path = dir.File("t.dbf");
  MakeTable(path, {{"ann", "12345.67"}});
  const auto before = Snapshot(dir.Path());

  TRun run = RunCli({"restructure", path, "--fields", "NAME C(10), AMOUNT N(6,2)"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("Record 1: Value 12345.67 does not fit field AMOUNT"), std::string::npos) << run.err;
  EXPECT_EQ(Snapshot(dir.Path()), before);

  TDbfFile other;
  other.SetFileName(path);
  other.SetMode(amSharedOpen);
  other.Open();
  for (const char* command : {"pack", "zap"}) {
    run = RunCli({command, path});
    EXPECT_EQ(run.status, 1) << command;
    EXPECT_NE(run.err.find("in use by another program"), std::string::npos) << command << ": " << run.err;
  }
  run = RunCli({"restructure", path, "--fields", "NAME C(20)"});
  EXPECT_EQ(run.status, 1);
  other.Close();
  EXPECT_EQ(Snapshot(dir.Path()), before);

  EXPECT_EQ(RunCli({"restructure", path}).status, 2) << "usage";
}

}  // namespace
}  // namespace norvale
