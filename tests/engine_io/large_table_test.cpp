// A table past 4 GiB: record offsets, the count taken from the file size and
// the lock numbers must all stay 64-bit clean. The file is sparse, so it costs
// a few blocks of disk.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "engine/byte_order.h"
#include "engine/table_file.h"
#include "tests/support/test_support.h"

namespace norvale {
namespace {

using test::TTableImage;
using test::TTempDir;

class LargeTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    image_.versionByte = 0x03;
    image_.fields = {{"NAME", 'C', 9}};
    image_.eof = false;
    image_.headerCount = 7;  // wrong on purpose: the size decides
    hl_ = image_.HeaderLength();
    rl_ = image_.RecordLength();
    count_ = (int64_t(1) << 32) / rl_ + 10;
    ASSERT_GT(hl_ + count_ * rl_, int64_t(1) << 32);
    test::WriteFile(path_, image_.Bytes());

    const int fd = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const std::string last = image_.Record({"LASTREC01"});
    const bool made = ::ftruncate(fd, hl_ + count_ * rl_) == 0 &&
                      ::pwrite(fd, last.data(), last.size(), hl_ + (count_ - 1) * rl_) == ssize_t(last.size());
    const int err = errno;
    struct stat st {};
    ::fstat(fd, &st);
    ::close(fd);
    if (!made) GTEST_SKIP() << "the filesystem refuses a sparse file past 4 GiB: " << std::strerror(err);
    if (st.st_blocks * 512 > (int64_t(64) << 20)) {
      ::unlink(path_.c_str());
      GTEST_SKIP() << "the filesystem does not keep files sparse";
    }
  }

  // The first bytes only: reading the whole file would read 4 GiB of holes.
  std::vector<uint8_t> Head() {
    std::vector<uint8_t> head(32, 0);
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
      if (::pread(fd, head.data(), head.size(), 0) != ssize_t(head.size())) head.assign(32, 0);
      ::close(fd);
    }
    return head;
  }

  std::string RecordText(TDbfFile& table, int64_t recNo) {
    std::vector<uint8_t> rec(static_cast<size_t>(rl_));
    if (table.ReadPage(recNo, rec.data()) != rl_) return "<short read>";
    return std::string(rec.begin(), rec.end());
  }

  TTempDir dir_;
  std::string path_ = dir_.File("big.dbf");
  TTableImage image_;
  int64_t hl_ = 0, rl_ = 0, count_ = 0;
};

TEST_F(LargeTableTest, OpensWithTheCountFromItsSizeAndReadsTheLastRecord) {
  TDbfFile table;
  table.SetFileName(path_);
  table.SetMode(amReadOnly);
  table.Open();
  EXPECT_EQ(table.HeaderRecordCount(), 7u);
  EXPECT_EQ(int64_t(table.RecordCount()), count_);
  EXPECT_EQ(table.PageCount(), count_);
  EXPECT_EQ(table.PageOffset(count_), hl_ + (count_ - 1) * rl_);
  EXPECT_EQ(RecordText(table, count_), " LASTREC01");
  EXPECT_EQ(RecordText(table, count_ - 1), std::string(size_t(rl_), '\0')) << "the hole before it";
  EXPECT_TRUE(table.PageExists(count_));
  EXPECT_FALSE(table.PageExists(count_ + 1));

  std::vector<uint8_t> rec(static_cast<size_t>(rl_));
  ASSERT_EQ(table.ReadPage(count_, rec.data()), rl_);
  char name[10] = {};
  ASSERT_TRUE(table.DecodeField(*table.FieldDefByName("NAME"), ftString, false, name, rec.data()));
  EXPECT_STREQ(name, "LASTREC01");
  table.Close();
  EXPECT_EQ(GetLE32(Head().data() + 4), 7u) << "a read-only open wrote the header";
}

TEST_F(LargeTableTest, AppendsAndLocksPastFourGiB) {
  {
    TDbfFile table;
    table.SetFileName(path_);
    table.SetMode(amExclusiveOpen);
    table.Open();
    std::vector<uint8_t> rec(static_cast<size_t>(rl_));
    table.BlankRecord(rec.data());
    table.EncodeField(*table.FieldDefByName("NAME"), ftString, false, rec.data(), "APPENDED");
    EXPECT_EQ(table.AppendRecord(rec.data()), count_ + 1);
    table.Close();
  }
  const int64_t size = hl_ + (count_ + 1) * rl_ + 1;
  const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  struct stat st {};
  ::fstat(fd, &st);
  EXPECT_EQ(st.st_size, size) << "the record and one end-of-file byte after it";
  char tail[12] = {};
  EXPECT_EQ(::pread(fd, tail, 11, hl_ + count_ * rl_), 11);
  ::close(fd);
  EXPECT_EQ(std::string(tail, 11), " APPENDED \x1A");
  EXPECT_EQ(int64_t(GetLE32(Head().data() + 4)), count_ + 1);

  TDbfFile shared;
  shared.SetFileName(path_);
  shared.SetMode(amSharedOpen);
  shared.Open();
  EXPECT_EQ(shared.HeaderRecordCount(), uint32_t(count_ + 1));
  std::vector<uint8_t> rec(static_cast<size_t>(rl_));
  shared.LockAndReadRecord(count_ + 1, rec.data());
  EXPECT_EQ(std::string(rec.begin(), rec.end()), " APPENDED ");
  shared.WriteBackRecord(count_ + 1, rec.data());
  EXPECT_EQ(RecordText(shared, count_), " LASTREC01");
}

}  // namespace
}  // namespace norvale
