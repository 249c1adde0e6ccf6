// norvale-cli repair and check on damaged copies of tables other programs
// wrote: a repaired copy dumps exactly as the undamaged table does, and
// whatever is not repaired is left as it was.
#include <gtest/gtest.h>

#include <functional>

#include "engine/byte_order.h"
#include "engine/dbf_format.h"
#include "platform/os_file.h"
#include "tests/support/test_support.h"

namespace norvale::test {
namespace {

using Bytes = std::vector<uint8_t>;

using TRun = test::TProgramRun;

TRun RunCli(std::vector<std::string> args) {
  args.insert(args.begin(), NORVALE_CLI);
  return test::RunProgram(args);
}

struct TLayout {
  uint32_t count = 0;
  int header = 0, record = 0;
  bool vii = false;
  bool endByte = false;
  bool sound = false;  // the header's numbers and the file size agree
  bool terminated = false;
  // Every record begins with " " or "*". Some writers put 0x00 there
  // instead; such records cannot vouch for where they start or that they
  // are records at all, so damage that takes that evidence is not made.
  bool flagged = false;
};

TLayout LayoutOf(const Bytes& b) {
  TLayout l;
  if (b.size() < size_t(fmt::kMainHeaderSize)) return l;
  l.count = GetLE32(b.data() + fmt::kRecordCount);
  l.header = GetLE16(b.data() + fmt::kHeaderLength);
  l.record = GetLE16(b.data() + fmt::kRecordLength);
  l.vii = (b[fmt::kVersion] & fmt::kVersionFamilyMask) == fmt::kFamilyDbaseVII;
  const int64_t data = int64_t(l.header) + int64_t(l.count) * l.record;
  l.endByte = int64_t(b.size()) == data + 1 && b.back() == fmt::kEndOfFile;
  l.sound = l.record > 0 && (l.endByte || int64_t(b.size()) == data);
  l.flagged = l.sound;
  for (uint32_t n = 0; l.flagged && n < l.count; ++n) {
    const uint8_t flag = b[size_t(l.header) + size_t(n) * size_t(l.record)];
    l.flagged = flag == fmt::kLive || flag == fmt::kDeleted;
  }
  const int step = l.vii ? fmt::kDescriptorSizeVII : fmt::kDescriptorSize;
  for (size_t at = l.vii ? fmt::kMainHeaderSizeVII : fmt::kMainHeaderSize; at < size_t(l.header) && at < b.size();
       at += size_t(step))
    l.terminated = l.terminated || b[at] == fmt::kTerminator;
  return l;
}

struct TDamageCase {
  const char* name;
  const char* line;  // how the repair's line for it begins
  // Damages the bytes; false when the table does not lend itself to it.
  std::function<bool(Bytes&, const TLayout&)> apply;
};

const std::vector<TDamageCase>& DamageCases() {
  static const std::vector<TDamageCase> cases = {
      {"count too high", "record count: ",
       [](Bytes& b, const TLayout& l) {
         PutLE32(b.data() + fmt::kRecordCount, l.count + 3);
         return true;
       }},
      {"count too low", "record count: ",
       [](Bytes& b, const TLayout& l) {
         if (l.count == 0 || !l.flagged) return false;
         PutLE32(b.data() + fmt::kRecordCount, l.count - 1);
         return true;
       }},
      {"end byte missing", "end-of-file byte: ",
       [](Bytes& b, const TLayout& l) {
         if (!l.endByte) return false;
         b.pop_back();
         return true;
       }},
      // dBASE 7 headers may hold a properties block of any length: there
      // only an impossible header length is damage.
      {"header length one more", "header length: ",
       [](Bytes& b, const TLayout& l) {
         if (l.vii || !l.terminated || !l.flagged) return false;
         PutLE16(b.data() + fmt::kHeaderLength, static_cast<uint16_t>(l.header + 1));
         return true;
       }},
      {"header length one less", "header length: ",
       [](Bytes& b, const TLayout& l) {
         if (l.vii || !l.terminated || !l.flagged) return false;
         PutLE16(b.data() + fmt::kHeaderLength, static_cast<uint16_t>(l.header - 1));
         return true;
       }},
  };
  return cases;
}

bool HasLine(const std::string& out, const std::string& begin, const std::string& end) {
  size_t at = 0;
  while (at < out.size()) {
    const size_t next = out.find('\n', at);
    const std::string line = out.substr(at, next == std::string::npos ? std::string::npos : next - at);
    if (line.rfind(begin, 0) == 0 && line.size() >= end.size() &&
        line.compare(line.size() - end.size(), end.size(), end) == 0)
      return true;
    if (next == std::string::npos) break;
    at = next + 1;
  }
  return false;
}

class RepairCorpus : public ::testing::TestWithParam<std::string> {};

TEST_P(RepairCorpus, RepairedCopyIsTheUndamagedTable) {
  TTempDir sound;
  const std::string original = CopyCorpusTable(GetParam(), sound);
  const Bytes bytes = ReadFile(original);
  const TLayout layout = LayoutOf(bytes);
  if (!layout.sound) GTEST_SKIP() << "the table itself does not hold whole records as its header says";
  // Some tables the engine cannot read; their bytes are still compared.
  const TRun expected = RunCli({"dump", original, "--format", "json", "--deleted"});
  // Damage the table had before ours stays (and decides the status) or is
  // fixed along with ours: the reference is the undamaged table repaired.
  const bool unfixableBefore = RunCli({"check", original}).out.find(": cannot fix (") != std::string::npos;
  RunCli({"repair", original});
  const Bytes reference = ReadFile(original);

  int applied = 0;
  for (const TDamageCase& damage : DamageCases()) {
    SCOPED_TRACE(damage.name);
    Bytes damaged = bytes;
    if (!damage.apply(damaged, layout)) continue;
    ++applied;
    TTempDir dir;
    const std::string path = CopyCorpusTable(GetParam(), dir);
    WriteFile(path, damaged);
    const TRun repair = RunCli({"repair", path});
    EXPECT_EQ(repair.status, unfixableBefore ? 1 : 0) << repair.out << repair.err;
    EXPECT_TRUE(HasLine(repair.out, damage.line, ": fixed")) << repair.out;
    EXPECT_EQ(repair.err, "");
    EXPECT_TRUE(ReadFile(path) == reference) << repair.out;
    if (expected.status != 0) continue;
    const TRun dump = RunCli({"dump", path, "--format", "json", "--deleted"});
    EXPECT_EQ(dump.status, 0) << dump.err;
    EXPECT_EQ(dump.out, expected.out);
  }
  EXPECT_GT(applied, 0);
}

INSTANTIATE_TEST_SUITE_P(Corpus, RepairCorpus, ::testing::ValuesIn(CorpusTables()),
                         [](const auto& info) { return CorpusTestName(info.param); });

// A copy of a corpus table whose header counts three records too many.
std::string DamagedCopy(const TTempDir& dir) {
  const std::string path = CopyCorpusTable("generated/python3-dbf/pydbf_deleted", dir);
  Bytes bytes = ReadFile(path);
  PutLE32(bytes.data() + fmt::kRecordCount, GetLE32(bytes.data() + fmt::kRecordCount) + 3);
  WriteFile(path, bytes);
  return path;
}

TEST(RepairCli, DryRunAndCheckChangeNothing) {
  TTempDir dir;
  const std::string path = DamagedCopy(dir);
  TFolderState::Age(dir.Path());
  const TFolderState before = TFolderState::Of(dir.Path());

  const TRun dry = RunCli({"repair", path, "--dry-run"});
  EXPECT_EQ(dry.status, 0);
  EXPECT_EQ(dry.out, "record count: the header says 9, the file holds 6 records: would fix\n");
  const TRun check = RunCli({"check", path});
  EXPECT_EQ(check.status, 1);
  EXPECT_EQ(check.out, "record count: the header says 9, the file holds 6 records: fixable\n");
  EXPECT_EQ(TFolderState::Of(dir.Path()).ChangesSince(before), "");

  const TRun repair = RunCli({"repair", path});
  EXPECT_EQ(repair.status, 0);
  EXPECT_EQ(repair.out,
            "record count: the header says 9, the file holds 6 records: fixed\n"
            "the original header is saved in " + path + ".header.bak\n");
  const TRun after = RunCli({"check", path});
  EXPECT_EQ(after.status, 0);
  EXPECT_EQ(after.out, "no damage found\n");
}

TEST(RepairCli, AnUnrepairableTableIsLeftUntouched) {
  TTempDir dir;
  const std::string path = DamagedCopy(dir);
  Bytes bytes = ReadFile(path);
  bytes.resize(20);
  WriteFile(path, bytes);
  TFolderState::Age(dir.Path());
  const TFolderState before = TFolderState::Of(dir.Path());
  const TRun run = RunCli({"repair", path});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out,
            "header: the file holds 20 bytes, fewer than the 32 of a table header: cannot fix (there is no header to "
            "repair)\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(TFolderState::Of(dir.Path()).ChangesSince(before), "");
}

TEST(RepairCli, ATableOpenElsewhereIsRefused) {
  TTempDir dir;
  const std::string path = DamagedCopy(dir);
  TFolderState::Age(dir.Path());
  const TFolderState before = TFolderState::Of(dir.Path());
  // Another program's exclusive open, and its shared writable one.
  for (const TShareMode share : {TShareMode::kDenyWrite, TShareMode::kDenyNone}) {
    TOsFile other;
    ASSERT_TRUE(other.Open(path, true, share, false));
    const TRun run = RunCli({"repair", path});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              "norvale-cli: " + path + ": cannot open the table for repair: file is in use by another program\n");
    EXPECT_EQ(RunCli({"check", path}).status, 1) << "a check only reads, and finds the damage";
  }
  EXPECT_EQ(TFolderState::Of(dir.Path()).ChangesSince(before), "");
}

TEST(RepairCli, SoundTablesAndUsage) {
  TTempDir dir;
  const std::string path = CopyCorpusTable("debian/r-cran-foreign/sids", dir);
  TFolderState::Age(dir.Path());
  const TFolderState before = TFolderState::Of(dir.Path());
  for (const char* command : {"check", "repair"}) {
    const TRun run = RunCli({command, path});
    EXPECT_EQ(run.status, 0) << command;
    EXPECT_EQ(run.out, "no damage found\n") << command;
  }
  EXPECT_EQ(TFolderState::Of(dir.Path()).ChangesSince(before), "");

  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"repair"}, {"check", path, "--dry-run"}, {"repair", path, path}, {"repair", path, "--force"}}) {
    const TRun run = RunCli(args);
    EXPECT_EQ(run.status, 2) << args.back();
    EXPECT_NE(run.err.find("usage: norvale-cli repair TABLE [--dry-run]"), std::string::npos) << run.err;
  }
  const TRun missing = RunCli({"check", dir.File("none.dbf")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err,
            "norvale-cli: " + dir.File("none.dbf") + ": cannot open the table: No such file or directory\n");
}

}  // namespace
}  // namespace norvale::test
