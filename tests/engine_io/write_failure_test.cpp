// A disk that takes no more bytes, made with a file-size limit in a child
// process: an append must fail with the write error and leave the table as
// it was, with no record counted that was never written.
#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "engine/byte_order.h"
#include "engine/exceptions.h"
#include "engine/table_file.h"
#include "tests/support/test_support.h"

namespace norvale {
namespace {

using test::TTableImage;
using test::TTempDir;

// How the child's attempt ended; the parent reports it.
enum TChildResult {
  kAsExpected = 0,
  kNoError = 10,
  kWrongMessage,
  kWrongError,
  kFlagLeftSet,
  kUnusableAfterwards,
  kSetupFailed,
};

const char* Describe(int code) {
  switch (code) {
    case kAsExpected: return "as expected";
    case kNoError: return "the append succeeded past the limit";
    case kWrongMessage: return "EDbfWriteError with another message";
    case kWrongError: return "another error than EDbfWriteError";
    case kFlagLeftSet: return "the write-error flag stayed set";
    case kUnusableAfterwards: return "the table failed a rewrite after the error";
    case kSetupFailed: return "the child could not set up";
    default: return "the child ended abnormally";
  }
}

// Runs in the forked child: only _exit leaves it.
[[noreturn]] void AppendPastTheLimit(const std::string& path, TPagedFileMode mode) {
  int result = kAsExpected;
  try {
    TDbfFile table;
    table.SetFileName(path);
    table.SetMode(mode);
    table.Open();
    table.FlushHeader();  // what the open itself wants written goes before the limit
    struct stat st {};
    rlimit limit{};
    if (::stat(path.c_str(), &st) != 0 || ::getrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(kSetupFailed);
    const rlimit old = limit;
    limit.rlim_cur = static_cast<rlim_t>(st.st_size);
    ::signal(SIGXFSZ, SIG_IGN);
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(kSetupFailed);

    std::vector<uint8_t> rec(static_cast<size_t>(table.RecordLength()));
    table.BlankRecord(rec.data());
    table.EncodeField(*table.FieldDefByName("NAME"), ftString, false, rec.data(), "overflow");
    try {
      table.AppendRecord(rec.data());
      result = kNoError;
    } catch (const EDbfWriteError& e) {
      if (std::strcmp(e.what(), "Error while writing occurred. (Disk full?)") != 0) result = kWrongMessage;
    } catch (...) {
      result = kWrongError;
    }
    if (result == kAsExpected && table.WriteError()) result = kFlagLeftSet;
    // Rewriting a record in place needs no new bytes; it must work now.
    if (result == kAsExpected) {
      try {
        table.LockAndReadRecord(2, rec.data());
        table.WriteBackRecord(2, rec.data());
      } catch (...) {
        result = kUnusableAfterwards;
      }
    }
    ::setrlimit(RLIMIT_FSIZE, &old);
    table.Close();
  } catch (...) {
    result = kSetupFailed;
  }
  _exit(result);
}

class WriteFailureTest : public ::testing::TestWithParam<TPagedFileMode> {};

TEST_P(WriteFailureTest, AppendOnAFullDiskRaisesAndKeepsTheCount) {
  TTempDir dir;
  const std::string path = dir.File("full.dbf");
  TTableImage image;
  image.fields = {{"NAME", 'C', 10}, {"QTY", 'N', 5}};
  image.records = {image.Record({"first", "    1"}), image.Record({"second", "    2"}),
                   image.Record({"third", "    3"})};
  test::WriteFile(path, image.Bytes());
  const int hl = image.HeaderLength();
  const int rl = image.RecordLength();

  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) AppendPastTheLimit(path, GetParam());
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "the child died";
  ASSERT_EQ(WEXITSTATUS(status), kAsExpected) << Describe(WEXITSTATUS(status));

  const std::vector<uint8_t> bytes = test::ReadFile(path);
  ASSERT_EQ(bytes.size(), size_t(hl + 3 * rl + 1));
  EXPECT_EQ(GetLE32(bytes.data() + 4), 3u) << "the header counts a record that was not written";
  EXPECT_EQ(bytes.back(), 0x1A);
  const std::vector<uint8_t> original = image.Bytes();
  EXPECT_TRUE(std::equal(original.begin() + hl, original.end(), bytes.begin() + hl)) << "old records changed";

  TDbfFile table;
  table.SetFileName(path);
  table.SetMode(amSharedOpen);
  table.Open();
  EXPECT_EQ(table.HeaderRecordCount(), 3u);
  EXPECT_EQ(table.RecordCount(), 3u);
  std::vector<uint8_t> rec(static_cast<size_t>(rl));
  ASSERT_EQ(table.ReadPage(3, rec.data()), rl);
  char name[11] = {};
  table.DecodeField(*table.FieldDefByName("NAME"), ftString, false, name, rec.data());
  EXPECT_STREQ(name, "third");
  // With room again the next append takes the number that failed.
  table.BlankRecord(rec.data());
  EXPECT_EQ(table.AppendRecord(rec.data()), 4);
}

INSTANTIATE_TEST_SUITE_P(Modes, WriteFailureTest, ::testing::Values(amSharedOpen, amExclusiveOpen),
                         [](const auto& info) { return info.param == amSharedOpen ? "Shared" : "Exclusive"; });

}  // namespace
}  // namespace norvale
