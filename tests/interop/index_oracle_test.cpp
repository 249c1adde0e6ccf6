// Indexes this program writes, read back by an independent reader: Debian's
// Perl XBase::Index walks each .ndx and .mdx tag and must meet the same
// records in the same order, with the same character keys, as
// `norvale-cli index keys` lists.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <random>
#include <sstream>

#include "tests/support/test_support.h"

namespace norvale::test {
namespace {

using nlohmann::json;

std::string Quote(const std::string& s) { return "'" + s + "'"; }

bool HavePerlReader() { return std::system("perl -MXBase::Index -e 1 >/dev/null 2>&1") == 0; }

struct TEntry {
  uint32_t recNo;
  std::string key;  // hex of a character key; the number's text otherwise
};

std::vector<TEntry> OracleEntries(const std::string& file, const std::string& tag, bool character) {
  const TCommandResult run = RunCommand("perl " + Quote(SourceDir() + "/tests/interop/xbase_index_dump.pl") + " " +
                                        Quote(file) + " " + Quote(tag) + " " + (character ? "char" : "number") +
                                        " 2>&1");
  EXPECT_EQ(run.status, 0) << run.out;
  std::vector<TEntry> entries;
  std::istringstream lines(run.out);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    entries.push_back({static_cast<uint32_t>(std::stoul(line.substr(0, tab))), line.substr(tab + 1)});
  }
  return entries;
}

std::vector<TEntry> OurEntries(const std::string& table, const std::string& args, bool character) {
  const TCommandResult run = RunCommand(std::string(NORVALE_CLI) + " index keys " + Quote(table) + " " + args);
  EXPECT_EQ(run.status, 0) << run.out;
  std::vector<TEntry> entries;
  std::istringstream lines(run.out);
  std::string line;
  while (std::getline(lines, line)) {
    const json j = json::parse(line);
    entries.push_back({j["recno"].get<uint32_t>(), character ? j["hex"].get<std::string>() : std::string()});
  }
  return entries;
}

void Cli(const std::string& args) {
  const TCommandResult run = RunCommand(std::string(NORVALE_CLI) + " " + args + " 2>&1");
  ASSERT_EQ(run.status, 0) << args << "\n" << run.out;
}

// NAME C(20) with many repeats, AMOUNT N(10,2) with negatives and zero,
// BORN D; enough records for trees of several levels.
std::string WriteTable(const TTempDir& dir, const std::string& name, uint8_t version, int count) {
  TTableImage t;
  t.versionByte = version;
  t.languageId = version == 0x8C ? 0 : 0x57;
  t.fields = {{"NAME", 'C', 20}, {"AMOUNT", 'N', 10, 2}, {"BORN", 'D', 8}};
  std::mt19937 random(7);
  const char* names[] = {"Adams", "Brown", "Clark", "Davis", "Evans", "Fisher", "Green", "Hall", "Irwin", "Jones"};
  for (int i = 0; i < count; ++i) {
    char amount[16], born[16], full[32];
    std::snprintf(full, sizeof full, "%s %d", names[random() % 10], int(random() % 300));
    std::snprintf(amount, sizeof amount, "%10.2f", (int(random() % 200000) - 100000) / 100.0);
    std::snprintf(born, sizeof born, "%04d%02d%02d", 1900 + int(random() % 120), 1 + int(random() % 12),
                  1 + int(random() % 28));
    t.records.push_back(t.Record({full, amount, born}, random() % 10 == 0));
  }
  WriteFile(dir.File(name), t.Bytes());
  return dir.File(name);
}

void ExpectSameOrder(const std::vector<TEntry>& ours, const std::vector<TEntry>& theirs, bool character) {
  ASSERT_EQ(ours.size(), theirs.size());
  for (size_t i = 0; i < ours.size(); ++i) {
    ASSERT_EQ(ours[i].recNo, theirs[i].recNo) << "entry " << i;
    if (character) ASSERT_EQ(ours[i].key, theirs[i].key) << "entry " << i;
  }
}

TEST(IndexOracle, SingleIndexFilesReadAlike) {
  if (!HavePerlReader()) GTEST_SKIP() << "libdbd-xbase-perl is not installed";
  TTempDir dir;
  const std::string table = WriteTable(dir, "people.dbf", 0x03, 3000);
  const struct {
    const char* file;
    const char* expression;
    const char* options;
    bool character;
  } cases[] = {
      {"name.ndx", "NAME", "", true},
      {"amount.ndx", "AMOUNT", "", false},
      {"born.ndx", "DTOS(BORN)", "", true},
      {"uname.ndx", "NAME", "--unique", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    Cli("index create " + Quote(table) + " X " + Quote(c.expression) + " --index " + c.file + " " + c.options);
    const std::vector<TEntry> ours = OurEntries(table, std::string("--index ") + c.file, c.character);
    EXPECT_GT(ours.size(), 200u);
    ExpectSameOrder(ours, OracleEntries(dir.File(c.file), "", c.character), c.character);
  }
}

TEST(IndexOracle, MultipleIndexFilesReadAlike) {
  if (!HavePerlReader()) GTEST_SKIP() << "libdbd-xbase-perl is not installed";
  TTempDir dir;
  const std::string table = WriteTable(dir, "people.dbf", 0x03, 3000);
  const struct {
    const char* tag;
    const char* expression;
    const char* options;
    bool character;
  } tags[] = {
      {"NAME", "NAME", "", true},
      {"AMOUNT", "AMOUNT", "", false},
      {"BORN", "DTOS(BORN)", "", true},
      {"UNAME", "NAME", "--unique", true},
      {"DNAME", "NAME", "--descending", true},
  };
  for (const auto& t : tags) Cli("index create " + Quote(table) + " " + t.tag + " " + Quote(t.expression) + " " + t.options);
  for (const auto& t : tags) {
    SCOPED_TRACE(t.tag);
    const std::vector<TEntry> ours = OurEntries(table, std::string("--tag ") + t.tag, t.character);
    EXPECT_GT(ours.size(), 200u);
    ExpectSameOrder(ours, OracleEntries(dir.File("people.mdx"), t.tag, t.character), t.character);
  }
  Cli("check " + Quote(table));
}

}  // namespace
}  // namespace norvale::test
