// norvale-cli as scripts see it: output syntax, typing, quoting, exit status,
// and flat memory on large tables.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "engine/byte_order.h"
#include "tests/support/test_support.h"

namespace norvale::test {
namespace {

using nlohmann::json;

struct TRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the tool with stdout and stderr captured in files, so both can be
// checked separately and the child's peak memory read.
TRun RunCli(const std::vector<std::string>& args, const TTempDir& dir, std::vector<std::string> command = {}) {
  if (command.empty()) {
    command = {NORVALE_CLI};
    command.insert(command.end(), args.begin(), args.end());
  }
  const std::string outPath = dir.File("stdout"), errPath = dir.File("stderr");
  TRun run;
  pid_t pid = fork();
  if (pid == 0) {
    if (!freopen(outPath.c_str(), "w", stdout) || !freopen(errPath.c_str(), "w", stderr)) _exit(99);
    std::vector<char*> argv;
    for (const auto& a : command) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(98);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = ReadFileText(outPath);
  run.err = ReadFileText(errPath);
  return run;
}

TTableImage TypedTable() {
  TTableImage t;
  t.versionByte = 0x03;
  t.fields = {{"NAME", 'C', 12}, {"QTY", 'N', 5}, {"PRICE", 'N', 8, 2}, {"SINCE", 'D', 8}, {"OK", 'L', 1}};
  t.records = {t.Record({"Smith, J.", "   42", "  -12.50", "20240229", "T"}),
               t.Record({"say \"hi\"", "", "", "", ""}),
               t.Record({"gone", "    7", "    1.00", "19991231", "F"}, true),
               t.Record({"two\r\nlines", "  -3", "    0.25", "20000101", "f"})};
  return t;
}

TEST(CliDump, JsonValuesAreTyped) {
  TTempDir dir;
  WriteFile(dir.File("t.dbf"), TypedTable().Bytes());
  const TRun run = RunCli({"dump", dir.File("t.dbf"), "--format", "json"}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  const json doc = json::parse(run.out);
  ASSERT_EQ(doc["fields"].size(), 5u);
  EXPECT_EQ(doc["fields"][2], json::parse(R"({"name":"PRICE","type":"N","size":8,"decimals":2,"logical":"ftFloat"})"));
  const json& r = doc["records"];
  ASSERT_EQ(r.size(), 3u) << "the deleted record is left out";
  EXPECT_EQ(r[0]["values"], json::parse(R"(["Smith, J.", 42, -12.5, "2024-02-29", true])"));
  EXPECT_EQ(r[1]["values"], json::parse(R"(["say \"hi\"", null, null, null, null])"));
  EXPECT_EQ(r[2]["recno"], 4);
  EXPECT_EQ(r[2]["values"], json::parse(R"(["two\r\nlines", -3, 0.25, "2000-01-01", false])"));
  EXPECT_TRUE(run.err.empty());
}

TEST(CliDump, DeletedRecordsAreFlaggedOnRequest) {
  TTempDir dir;
  WriteFile(dir.File("t.dbf"), TypedTable().Bytes());
  const json doc = json::parse(RunCli({"dump", dir.File("t.dbf"), "--deleted"}, dir).out);
  ASSERT_EQ(doc["records"].size(), 4u);
  EXPECT_TRUE(doc["records"][2]["deleted"].get<bool>());
  EXPECT_EQ(doc["records"][2]["recno"], 3);
  EXPECT_FALSE(doc["records"][3]["deleted"].get<bool>());

  const TRun csv = RunCli({"dump", dir.File("t.dbf"), "--deleted", "--format", "csv"}, dir);
  EXPECT_EQ(csv.out.substr(0, csv.out.find("\r\n")), "_DELETED,NAME,QTY,PRICE,SINCE,OK");
  EXPECT_NE(csv.out.find("\r\ntrue,gone,7,1,1999-12-31,false\r\n"), std::string::npos) << csv.out;
}

TEST(CliDump, CsvQuotesAsRfc4180) {
  TTempDir dir;
  WriteFile(dir.File("t.dbf"), TypedTable().Bytes());
  const TRun run = RunCli({"dump", dir.File("t.dbf"), "--format", "csv"}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "NAME,QTY,PRICE,SINCE,OK\r\n"
            "\"Smith, J.\",42,-12.5,2024-02-29,true\r\n"
            "\"say \"\"hi\"\"\",,,,\r\n"
            "\"two\r\nlines\",-3,0.25,2000-01-01,false\r\n");
}

TEST(CliDump, BinaryTypesOfFoxProAndDbase7) {
  TTempDir dir;
  // FoxPro: integer, currency, date-time, double, and a nullable field.
  TTableImage fox;
  fox.versionByte = 0x30;
  fox.fields = {{"I", 'I', 4}, {"Y", 'Y', 8, 4}, {"T", 'T', 8}, {"B", 'B', 8}, {"N", 'N', 4, 0, 0x02},
                {"_NULLFLAGS", '0', 1}};
  std::string rec(1, ' ');
  uint8_t b[8];
  PutLE32(b, static_cast<uint32_t>(-7));
  rec.append(reinterpret_cast<char*>(b), 4);
  PutLE64(b, static_cast<uint64_t>(int64_t{-123456789}));  // -12345.6789
  rec.append(reinterpret_cast<char*>(b), 8);
  PutLE32(b, 2451545);  // 2000-01-01
  PutLE32(b + 4, 43200000 + 1500);
  rec.append(reinterpret_cast<char*>(b), 8);
  PutLE64(b, DoubleToBits(2.5));
  rec.append(reinterpret_cast<char*>(b), 8);
  rec += "  12";
  rec += '\x01';  // the nullable N field is null
  fox.records = {rec};
  WriteFile(dir.File("fox.dbf"), fox.Bytes());
  TRun run = RunCli({"dump", dir.File("fox.dbf")}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(json::parse(run.out)["records"][0]["values"],
            json::parse(R"([-7, -12345.6789, "2000-01-01T12:00:01.500", 2.5, null, {"base64": "AQ=="}])"));

  // dBASE 7: sign-flipped big-endian integers and doubles; all zero is null.
  TTableImage vii;
  vii.versionByte = 0x04;
  vii.fields = {{"ID", 'I', 4}, {"AUTO", '+', 4}, {"D", 'O', 8}, {"NONE", 'I', 4}};
  std::string r7(1, ' ');
  r7 += std::string("\x80\x00\x00\x2A", 4);
  r7 += std::string("\x7F\xFF\xFF\xFF", 4);
  r7 += std::string("\xBF\xF8\x00\x00\x00\x00\x00\x00", 8);
  r7 += std::string(4, '\0');
  vii.records = {r7};
  WriteFile(dir.File("vii.dbf"), vii.Bytes());
  run = RunCli({"dump", dir.File("vii.dbf")}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(json::parse(run.out)["records"][0]["values"], json::parse("[42, -1, 1.5, null]"));
}

TEST(CliInfo, ShowsHeaderAndFields) {
  TTempDir dir;
  TTableImage t = TypedTable();
  t.headerCount = 9;  // wrong on purpose: the actual count comes from the size
  WriteFile(dir.File("t.dbf"), t.Bytes());
  const TRun run = RunCli({"info", dir.File("t.dbf")}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* line : {"Version byte:     0x03 (FoxBASE+/Dbase III plus, no memo)", "Table level:      4 (xBaseIV)",
                           "Language driver:  0x57", "Records (header): 9", "Records (actual): 4",
                           "Record length:    35", "Header length:    193"})
    EXPECT_NE(run.out.find(line), std::string::npos) << line << "\n" << run.out;
  EXPECT_NE(run.out.find("PRICE"), std::string::npos);
  EXPECT_NE(run.out.find("ftFloat"), std::string::npos);
  EXPECT_EQ(ReadFile(dir.File("t.dbf")), t.Bytes()) << "info must not change the file";
}

TEST(CliErrors, OneLineAndStatusOne) {
  TTempDir dir;
  WriteFile(dir.File("junk.dbf"), std::vector<uint8_t>(100, 0x8E));
  mkdir(dir.File("folder.dbf").c_str(), 0755);
  for (const std::string& path : {dir.File("missing.dbf"), dir.File("junk.dbf"), dir.File("folder.dbf")}) {
    for (const char* command : {"info", "dump"}) {
      const TRun run = RunCli({command, path}, dir);
      EXPECT_EQ(run.status, 1) << path;
      EXPECT_TRUE(run.out.empty()) << path;
      ASSERT_FALSE(run.err.empty()) << path;
      EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "one line: " << run.err;
    }
  }
  // Scripts that loop over many tables need to know which one failed.
  EXPECT_EQ(RunCli({"dump", dir.File("junk.dbf")}, dir).err, "norvale-cli: " + dir.File("junk.dbf") + ": Invalid DBF file.\n");
  EXPECT_NE(RunCli({"dump", dir.File("missing.dbf")}, dir).err.find("file not found"), std::string::npos);
  EXPECT_EQ(RunCli({"dump"}, dir).status, 2);
  EXPECT_EQ(RunCli({"dump", dir.File("junk.dbf"), "--format", "xml"}, dir).status, 2);
}

// Writes `count` records straight to disk, so the test itself stays small.
void WriteLargeTable(const std::string& path, int count) {
  TTableImage t;
  t.fields = {{"ID", 'N', 9}, {"NAME", 'C', 30}, {"AMOUNT", 'N', 12, 2}};
  t.eof = false;
  t.headerCount = count;
  std::vector<uint8_t> bytes = t.Bytes();
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fwrite(bytes.data(), 1, bytes.size(), f);
  for (int i = 0; i < count; ++i) {
    char rec[64];
    snprintf(rec, sizeof rec, " %9d%-30s%12.2f", i, "name", i * 0.5);
    fwrite(rec, 1, 52, f);
  }
  fputc(0x1A, f);
  fclose(f);
}

// Peak memory of a CSV dump, measured by the small launcher.
long DumpPeakKb(const std::string& table, const TTempDir& dir, std::string* csv) {
  const TRun run = RunCli({}, dir, {NORVALE_RSS_PROBE, dir.File("csv"), NORVALE_CLI, "dump", table, "--format", "csv"});
  EXPECT_EQ(run.status, 0) << run.err;
  *csv = ReadFileText(dir.File("csv"));
  return std::atol(run.out.c_str());
}

TEST(CliDump, MemoryDoesNotGrowWithTheTable) {
  TTempDir dir;
  WriteLargeTable(dir.File("small.dbf"), 10000);
  WriteLargeTable(dir.File("large.dbf"), 400000);
  std::string csv;
  const long small = DumpPeakKb(dir.File("small.dbf"), dir, &csv);
  const long large = DumpPeakKb(dir.File("large.dbf"), dir, &csv);
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 400001);
  ASSERT_GT(small, 0);
  // 40 times the records (about 20 MB more table, 15 MB more CSV) may not
  // cost more than a few MB of peak memory.
  EXPECT_LT(large - small, 6 * 1024) << small << " KB vs " << large << " KB";
}

}  // namespace
}  // namespace norvale::test
