// norvale-cli's index commands as scripts see them: the index files of other
// programs listed and walked in the order their expected values give, check
// satisfied with them, and indexes created, dropped and rebuilt.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/support/test_support.h"

namespace norvale::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

std::string Quote(const std::string& s) { return "'" + s + "'"; }

TCommandResult Cli(const std::string& args) {
  return RunCommand(std::string(NORVALE_CLI) + " " + args + " 2>&1");
}

std::vector<json> JsonLines(const std::string& text) {
  std::vector<json> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line))
    if (!line.empty()) lines.push_back(json::parse(line));
  return lines;
}

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

TEST(IndexCli, CorpusIndexesWalkInTheirExpectedOrder) {
  int walked = 0;
  for (const std::string& name : CorpusTables()) {
    std::ifstream in(fs::path(CorpusDir()) / (name + ".expected.json"));
    const json expected = json::parse(in);
    if (!expected.contains("indexes")) continue;
    SCOPED_TRACE(name);
    TTempDir dir;
    const std::string table = CopyCorpusTable(name, dir);
    // Single-index files may have names of their own.
    for (const json& file : expected["indexes"]) {
      const fs::path from = fs::path(CorpusDir()) / fs::path(name).parent_path() / file["file"].get<std::string>();
      const fs::path to = fs::path(dir.Path()) / file["file"].get<std::string>();
      if (!fs::exists(to)) fs::copy_file(from, to);
    }
    const TCommandResult listing = Cli("index " + Quote(table));
    EXPECT_EQ(listing.status, 0) << listing.out;
    for (const json& file : expected["indexes"]) {
      const std::string fileName = file["file"].get<std::string>();
      const bool mdx = fileName.ends_with(".MDX") || fileName.ends_with(".mdx");
      for (const json& index : file["indexes"]) {
        const std::string args = mdx ? "--tag " + index["tag"].get<std::string>() : "--index " + Quote(fileName);
        const TCommandResult run = Cli("index keys " + Quote(table) + " " + args);
        ASSERT_EQ(run.status, 0) << run.out;
        const std::vector<json> ours = JsonLines(run.out);
        const json& theirs = index["entries"];
        ASSERT_EQ(ours.size(), theirs.size()) << fileName << " " << args;
        for (size_t i = 0; i < ours.size(); ++i) {
          SCOPED_TRACE(fileName + " " + args + " entry " + std::to_string(i));
          EXPECT_EQ(ours[i]["recno"], theirs[i]["recno"]);
          if (theirs[i].contains("key_hex")) {
            EXPECT_EQ(ours[i]["hex"], theirs[i]["key_hex"]);
          } else if (theirs[i]["key"].is_string()) {
            EXPECT_EQ(ours[i]["key"], theirs[i]["key"]);
          } else {
            EXPECT_DOUBLE_EQ(ours[i]["key"].get<double>(), theirs[i]["key"].get<double>());
          }
        }
        ++walked;
      }
      if (mdx) EXPECT_NE(listing.out.find(fs::path(fileName).filename().string()), std::string::npos) << listing.out;
    }
    // Whatever check says of the header, the indexes agree with the records.
    const TCommandResult check = Cli("check " + Quote(table));
    EXPECT_EQ(check.out.find("index "), std::string::npos) << check.out;
  }
  EXPECT_GE(walked, 10);
}

// t.dbf: NAME C(12), QTY N(5); the second record deleted.
std::string WriteTable(const TTempDir& dir) {
  TTableImage t;
  t.fields = {{"NAME", 'C', 12}, {"QTY", 'N', 5}};
  t.records = {t.Record({"pear", "    3"}), t.Record({"apple", "   12"}, true), t.Record({"fig", "   -4"}),
               t.Record({"apple", "    7"})};
  WriteFile(dir.File("t.dbf"), t.Bytes());
  return dir.File("t.dbf");
}

std::vector<int> RecNos(const std::string& out) {
  std::vector<int> recNos;
  for (const json& j : JsonLines(out)) recNos.push_back(j["recno"].get<int>());
  return recNos;
}

TEST(IndexCli, CreateDropAndReindex) {
  TTempDir dir;
  const std::string table = WriteTable(dir);
  ASSERT_EQ(Cli("index create " + Quote(table) + " NAME NAME").status, 0);
  ASSERT_EQ(Cli("index create " + Quote(table) + " QTY QTY --descending").status, 0);
  ASSERT_EQ(Cli("index create " + Quote(table) + " UNAME NAME --unique").status, 0);
  ASSERT_EQ(Cli("index create " + Quote(table) + " X \"UPPER(NAME)\" --index byname.ndx").status, 0);
  EXPECT_EQ(ReadFile(table)[28], 1);  // the table now names its production index
  EXPECT_EQ(RecNos(Cli("index keys " + Quote(table) + " --tag NAME").out), (std::vector<int>{2, 4, 3, 1}));
  EXPECT_EQ(RecNos(Cli("index keys " + Quote(table) + " --tag QTY").out), (std::vector<int>{2, 4, 1, 3}));
  EXPECT_EQ(RecNos(Cli("index keys " + Quote(table) + " --tag UNAME").out), (std::vector<int>{2, 3, 1}));
  const std::vector<json> upper = JsonLines(Cli("index keys " + Quote(table) + " --index byname.ndx").out);
  ASSERT_EQ(upper.size(), 4u);
  EXPECT_EQ(upper[0]["key"], "APPLE       ");
  EXPECT_EQ(upper[0]["hex"], Hex("APPLE       "));

  const TCommandResult listing = Cli("index " + Quote(table));
  EXPECT_NE(listing.out.find("QTY"), std::string::npos) << listing.out;
  EXPECT_NE(listing.out.find("unique"), std::string::npos) << listing.out;
  EXPECT_EQ(Cli("check " + Quote(table)).status, 0);

  // A damaged tree is found by check and mended by reindex.
  std::vector<uint8_t> mdx = ReadFile(dir.File("t.mdx"));
  const std::vector<uint8_t> good = mdx;
  for (size_t i = 2048; i + 8 < mdx.size(); ++i)
    if (mdx[i] == 'p' && mdx[i + 1] == 'e' && mdx[i + 2] == 'a' && mdx[i + 3] == 'r') mdx[i] = 'z';
  WriteFile(dir.File("t.mdx"), mdx);
  const TCommandResult damaged = Cli("check " + Quote(table));
  EXPECT_EQ(damaged.status, 1);
  EXPECT_NE(damaged.out.find("index t.mdx tag NAME"), std::string::npos) << damaged.out;
  ASSERT_EQ(Cli("reindex " + Quote(table)).status, 0);
  EXPECT_EQ(Cli("check " + Quote(table)).status, 0);

  ASSERT_EQ(Cli("index drop " + Quote(table) + " QTY").status, 0);
  EXPECT_EQ(Cli("index keys " + Quote(table) + " --tag QTY").status, 1);
  ASSERT_EQ(Cli("index drop " + Quote(table) + " NAME").status, 0);
  ASSERT_EQ(Cli("index drop " + Quote(table) + " UNAME").status, 0);
  // The last tag takes the .mdx with it, and the header forgets it.
  EXPECT_FALSE(fs::exists(dir.File("t.mdx")));
  EXPECT_EQ(ReadFile(table)[28], 0);
  const TCommandResult missing = Cli("index drop " + Quote(table) + " NOPE");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.out.find("no index named NOPE"), std::string::npos) << missing.out;
}

TEST(IndexCli, RefusesWhatCannotBeAnIndex) {
  TTempDir dir;
  const std::string table = WriteTable(dir);
  const TCommandResult logical = Cli("index create " + Quote(table) + " L \"QTY > 3\"");
  EXPECT_EQ(logical.status, 1);
  EXPECT_NE(logical.out.find("Invalid index type: can only be string or float."), std::string::npos) << logical.out;
  const TCommandResult bad = Cli("index create " + Quote(table) + " B \"NAME +\"");
  EXPECT_EQ(bad.status, 1);
  // Nothing half-made stays behind.
  EXPECT_FALSE(fs::exists(dir.File("t.mdx")));
  EXPECT_EQ(ReadFile(table)[28], 0);
}

}  // namespace
}  // namespace norvale::test
