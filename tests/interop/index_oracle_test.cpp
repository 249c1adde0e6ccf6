// Indexes this program writes, read back by an independent reader: Debian's
// Perl XBase::Index walks each .ndx and .mdx tag and must meet the same
// records in the same order, with the same character keys, as
// `norvale-cli index keys` lists.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <cstring>
#include <random>
#include <sstream>

#include "engine/table_file.h"
#include "index/table_indexes.h"
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
std::string WriteTable(const TTempDir& dir, const std::string& name, uint8_t version, int count,
                       uint8_t languageId = 0x57) {
  TTableImage t;
  t.versionByte = version;
  t.languageId = version == 0x8C ? 0 : languageId;
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

// Date keys: tags of type D cannot be created here (a key must be text or a
// number), but those of other programs are kept current. Hundreds of
// appends to xbase64's three .ndx files (character, numeric, date) split
// their trees; the independent reader must walk them as we do.
TEST(IndexOracle, MaintainedDateNumericAndCharacterKeysReadAlike) {
  if (!HavePerlReader()) GTEST_SKIP() << "libdbd-xbase-perl is not installed";
  TTempDir dir;
  const std::string table = CopyCorpusTable("generated/xbase64/XBNDX", dir);
  const char* files[] = {"XBNDXC.NDX", "XBNDXN.NDX", "XBNDXD.NDX"};
  for (const char* f : files) WriteFile(dir.File(f), ReadFile(CorpusDir() + "/generated/xbase64/" + f));
  {
    TDbfFile file;
    file.SetFileName(table);
    file.SetMode(amExclusiveOpen);
    file.Open();
    TTableIndexes indexes(file);
    for (const char* f : files) indexes.AttachIndex(f, {}, 0, false);
    std::mt19937 random(3);
    std::vector<uint8_t> record(static_cast<size_t>(file.RecordLength()));
    const auto put = [&](const char* name, const std::string& text) {
      const TDbfFieldDef* def = file.FieldDefByName(name);
      ASSERT_NE(def, nullptr);
      std::memcpy(record.data() + def->Offset(), text.data(), std::min<size_t>(text.size(), size_t(def->Size())));
    };
    for (int i = 0; i < 600; ++i) {
      std::fill(record.begin(), record.end(), ' ');
      char code[16], qty[16], when[16];
      std::snprintf(code, sizeof code, "C%05d  ", int(random() % 400));
      std::snprintf(qty, sizeof qty, "%6d", int(random() % 20000) - 10000);
      std::snprintf(when, sizeof when, "%04d%02d%02d", 1900 + int(random() % 150), 1 + int(random() % 12),
                    1 + int(random() % 28));
      put("CODE", code);
      put("QTY", qty);
      put("WHEN", when);
      file.AppendRecord(record.data());
    }
  }
  for (const char* f : files) {
    SCOPED_TRACE(f);
    const bool character = std::string(f) == "XBNDXC.NDX";
    const std::vector<TEntry> ours = OurEntries(table, std::string("--index ") + f, character);
    EXPECT_EQ(ours.size(), 605u);
    ExpectSameOrder(ours, OracleEntries(dir.File(f), "", character), character);
  }
  Cli("check " + Quote(table));
}

struct TTagSpec {
  const char* tag;
  const char* expression;
  const char* options;
  bool character;
};

const TTagSpec kTags[] = {
    {"NAME", "NAME", "", true},
    {"AMOUNT", "AMOUNT", "", false},
    {"BORN", "DTOS(BORN)", "", true},
    {"UNAME", "NAME", "--unique", true},
    {"DNAME", "NAME", "--descending", true},
};

void CreateTags(const std::string& table) {
  for (const auto& t : kTags) Cli("index create " + Quote(table) + " " + t.tag + " " + Quote(t.expression) + " " + t.options);
}

TEST(IndexOracle, MultipleIndexFilesReadAlike) {
  if (!HavePerlReader()) GTEST_SKIP() << "libdbd-xbase-perl is not installed";
  TTempDir dir;
  const std::string table = WriteTable(dir, "people.dbf", 0x03, 3000);
  CreateTags(table);
  for (const auto& t : kTags) {
    SCOPED_TRACE(t.tag);
    const std::vector<TEntry> ours = OurEntries(table, std::string("--tag ") + t.tag, t.character);
    EXPECT_GT(ours.size(), 200u);
    ExpectSameOrder(ours, OracleEntries(dir.File("people.mdx"), t.tag, t.character), t.character);
  }
  Cli("check " + Quote(table));
}

// XBase::Index reads level-4 .mdx files only (it finds no tag in a level-7
// tag table). So a dBASE 7 table's level-7 .mdx is compared with the level-4
// .mdx of a dBASE IV twin holding the same records under the same binary
// collation: the reader walks the twin, and ours must walk the level-7 file
// in exactly that order.
TEST(IndexOracle, Level7FilesWalkLikeTheirLevel4Twin) {
  if (!HavePerlReader()) GTEST_SKIP() << "libdbd-xbase-perl is not installed";
  TTempDir dir7, dir4;
  const std::string table7 = WriteTable(dir7, "people.dbf", 0x8C, 3000);
  const std::string table4 = WriteTable(dir4, "people.dbf", 0x03, 3000, 0);
  CreateTags(table7);
  CreateTags(table4);
  EXPECT_EQ(ReadFile(dir7.File("people.mdx"))[0], 3);  // the level-7 version byte
  EXPECT_EQ(ReadFile(dir4.File("people.mdx"))[0], 2);
  for (const auto& t : kTags) {
    SCOPED_TRACE(t.tag);
    const std::vector<TEntry> ours = OurEntries(table7, std::string("--tag ") + t.tag, t.character);
    EXPECT_GT(ours.size(), 200u);
    ExpectSameOrder(ours, OracleEntries(dir4.File("people.mdx"), t.tag, t.character), t.character);
  }
  Cli("check " + Quote(table7));
}

}  // namespace
}  // namespace norvale::test
