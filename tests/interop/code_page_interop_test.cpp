// Code pages of tables other programs wrote: python3-dbf and GDAL tables in
// eight code pages with the driver byte cleared and no .cpg are read in the
// page they were written in; GDAL's own .cpg is used; the corpus tables that
// name no page are detected as the readers that made their expected values
// decoded them, and ASCII ones keep the default.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "engine/exceptions.h"
#include "engine/globals.h"
#include "engine/table_file.h"
#include "tests/support/test_support.h"

namespace norvale::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

std::string Quote(const std::string& s) { return "'" + s + "'"; }

struct TWritten {
  std::string path;
  int codePage;
};

bool HaveWriters() {
  return std::system("/usr/bin/python3 -c 'import dbf' >/dev/null 2>&1") == 0 &&
         std::system("command -v ogr2ogr >/dev/null 2>&1") == 0;
}

std::vector<TWritten> WriteTables(const TTempDir& dir) {
  const TCommandResult run =
      RunCommand("/usr/bin/python3 " + Quote(SourceDir() + "/tests/interop/write_code_page_tables.py") + " " +
                 Quote(dir.Path()) + " 2>&1");
  EXPECT_EQ(run.status, 0) << run.out;
  std::vector<TWritten> tables;
  std::istringstream lines(run.out);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t tab = line.find('\t');
    if (tab != std::string::npos) tables.push_back({line.substr(0, tab), std::stoi(line.substr(tab + 1))});
  }
  return tables;
}

// The info and JSON dump of a table as a script gets them.
std::string Cli(const std::string& args) {
  const TCommandResult run = RunCommand(std::string(NORVALE_CLI) + " " + args + " 2>&1");
  EXPECT_EQ(run.status, 0) << args << "\n" << run.out;
  return run.out;
}

TEST(CodePageInterop, OtherWritersTablesReadInTheirPage) {
  if (!HaveWriters()) GTEST_SKIP() << "python3-dbf or gdal-bin is not installed";
  TTempDir dir;
  const std::vector<TWritten> tables = WriteTables(dir);
  ASSERT_GE(tables.size(), 28u);
  int bare = 0, withCpg = 0, exact = 0;
  for (const TWritten& t : tables) {
    SCOPED_TRACE(t.path);
    const bool isBare = t.path.find("_bare.dbf") != std::string::npos;
    const std::string info = Cli("info " + Quote(t.path));
    if (info.find("Code page:        " + std::to_string(t.codePage) + " ") != std::string::npos) {
      ++exact;
    } else {
      // Only a page that reads every byte of this text as the same
      // characters may stand in (German in 850 and 437); the dumps below
      // show whether it does.
      const std::string line = info.substr(info.find("Code page:"));
      std::printf("%s: written in %d, read as %s\n", t.path.c_str(), t.codePage,
                  line.substr(0, line.find('\n')).c_str());
    }
    if (isBare) {
      ++bare;
      EXPECT_NE(info.find("Code page from:   detected (confidence"), std::string::npos) << info;
    } else if (t.path.find("/gdal_") != std::string::npos) {
      ++withCpg;
      EXPECT_NE(info.find("Code page from:   .cpg file"), std::string::npos) << info;
    }
    // The text reads exactly as in the page it was written in.
    EXPECT_EQ(Cli("dump --format json " + Quote(t.path)),
              Cli("dump --format json --codepage " + std::to_string(t.codePage) + " " + Quote(t.path)));
  }
  EXPECT_EQ(bare, 19);
  EXPECT_EQ(withCpg, 9);
  EXPECT_GE(exact, 25);
}

int CodePageOfEncoding(const std::string& encoding) {
  static const std::map<std::string, int> pages = {{"cp866", 866}, {"cp1251", 1251}, {"cp852", 852}, {"cp850", 850},
                                                   {"cp437", 437}, {"cp1252", 1252}, {"big5", 950},   {"utf-8", 65001}};
  const auto it = pages.find(encoding);
  return it == pages.end() ? 0 : it->second;
}

bool AllAscii(const json& records) {
  for (const json& r : records)
    for (const json& v : r["values"])
      if (v.is_string())
        for (unsigned char c : v.get<std::string>())
          if (c >= 0x80) return false;
  return true;
}

TEST(CodePageInterop, CorpusTablesThatNameNoPage) {
  int detected = 0, ascii = 0;
  for (const std::string& table : CorpusTables()) {
    const fs::path base = fs::path(CorpusDir()) / table;
    std::ifstream in(base.string() + ".expected.json");
    const json expected = json::parse(in);
    const json& header = expected["header"];
    // Level 7 tables name their driver in the header; the others by byte 29.
    if (header.contains("language_driver_name") || header.value("language_driver_byte29", "") != "0x00") continue;
    if (!FindCompanionFile(base.string() + ".dbf", ".cpg").empty()) continue;
    SCOPED_TRACE(table);
    TDbfFile file;
    file.SetFileName(base.string() + ".dbf");
    file.SetMode(amReadOnly);
    try {
      file.Open();
    } catch (const EDbfError&) {
      continue;  // tables the engine refuses are the corpus test's business
    }
    const std::string encoding = expected.value("encoding", "");
    const int want = CodePageOfEncoding(encoding);
    if (AllAscii(expected["records"])) {
      // Names and values of plain ASCII: the default, and the reason.
      if (file.CodePageSource() == cpsDefault) ++ascii;
      EXPECT_EQ(file.UseCodePage(), TDbfGlobals::Instance().DefaultCodePage()) << file.CodePageSourceText();
    } else if (want) {
      ++detected;
      EXPECT_EQ(file.UseCodePage(), want) << file.CodePageSourceText();
      EXPECT_EQ(file.CodePageSource(), cpsDetected);
    } else {
      // The readers did not know the page either: whatever is chosen is
      // chosen with a reason shown.
      EXPECT_FALSE(file.CodePageSourceText().empty());
      std::printf("%s: %s, %d\n", table.c_str(), file.CodePageSourceText().c_str(), file.UseCodePage());
    }
  }
  EXPECT_GE(detected, 2);  // the cp866 and the Big5 table
  EXPECT_GE(ascii, 10);
}

}  // namespace
}  // namespace norvale::test
