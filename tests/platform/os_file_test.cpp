// Share modes and byte-range locks of TOsFile. Two TOsFile objects in one
// process stand for two programs: the locks belong to the open file, so they
// must refuse each other exactly as separate processes would.
#include "platform/os_file.h"

#include <atomic>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "platform/os_misc.h"
#include "tests/platform/lock_probe.h"
#include "tests/support/test_support.h"

namespace norvale {
namespace {

using test::ProbeLock;
using test::TProbe;
using test::TTempDir;

constexpr const char* kInUse = "file is in use by another program";

class OsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("t.dbf");
    test::WriteFile(path_, std::vector<uint8_t>{'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'});
  }
  TTempDir dir_;
  std::string path_;
};

TEST_F(OsFileTest, ExclusiveOpenDeniesOtherWritersButNotReaders) {
  TOsFile exclusive;
  ASSERT_TRUE(exclusive.Open(path_, true, TShareMode::kDenyWrite, false)) << exclusive.LastError();

  TOsFile shared;
  EXPECT_FALSE(shared.Open(path_, true, TShareMode::kDenyNone, false));
  EXPECT_EQ(shared.LastError(), kInUse);
  EXPECT_FALSE(shared.IsOpen());

  TOsFile secondExclusive;
  EXPECT_FALSE(secondExclusive.Open(path_, true, TShareMode::kDenyWrite, false));
  EXPECT_EQ(secondExclusive.LastError(), kInUse);

  TOsFile reader;
  ASSERT_TRUE(reader.Open(path_, false, TShareMode::kDenyNone, false)) << reader.LastError();
  char buf[3] = {};
  EXPECT_EQ(reader.ReadAt(2, buf, 3), 3);
  EXPECT_EQ(std::string(buf, 3), "cde");

  exclusive.Close();
  EXPECT_TRUE(shared.Open(path_, true, TShareMode::kDenyNone, false)) << shared.LastError();
}

TEST_F(OsFileTest, SharedOpensCoexistAndKeepExclusiveOut) {
  TOsFile a, b;
  ASSERT_TRUE(a.Open(path_, true, TShareMode::kDenyNone, false));
  ASSERT_TRUE(b.Open(path_, true, TShareMode::kDenyNone, false));
  EXPECT_EQ(ProbeLock(path_, TOsFile::kShareMarkerOffset), TProbe::kReadLocked);

  TOsFile exclusive;
  EXPECT_FALSE(exclusive.Open(path_, true, TShareMode::kDenyWrite, false));
  a.Close();
  EXPECT_FALSE(exclusive.Open(path_, true, TShareMode::kDenyWrite, false));
  b.Close();
  EXPECT_EQ(ProbeLock(path_, TOsFile::kShareMarkerOffset), TProbe::kFree);
  ASSERT_TRUE(exclusive.Open(path_, true, TShareMode::kDenyWrite, false));
  EXPECT_EQ(ProbeLock(path_, TOsFile::kShareMarkerOffset), TProbe::kWriteLocked);
}

TEST_F(OsFileTest, ReadOnlyOpenClaimsNoMarker) {
  TOsFile reader;
  ASSERT_TRUE(reader.Open(path_, false, TShareMode::kDenyNone, false));
  EXPECT_EQ(ProbeLock(path_, TOsFile::kShareMarkerOffset), TProbe::kFree);
  TOsFile exclusive;
  EXPECT_TRUE(exclusive.Open(path_, true, TShareMode::kDenyWrite, false)) << exclusive.LastError();
}

TEST_F(OsFileTest, RefusedOpenDoesNotTruncate) {
  TOsFile exclusive;
  ASSERT_TRUE(exclusive.Open(path_, true, TShareMode::kDenyWrite, false));
  TOsFile creator;
  EXPECT_FALSE(creator.Open(path_, true, TShareMode::kDenyNone, true));
  EXPECT_EQ(exclusive.Size(), 8);
  exclusive.Close();

  ASSERT_TRUE(creator.Open(path_, true, TShareMode::kDenyNone, true));
  EXPECT_EQ(creator.Size(), 0);
}

TEST_F(OsFileTest, OpenFailuresCarryTheReason) {
  TOsFile f;
  EXPECT_FALSE(f.Open(dir_.File("missing.dbf"), false, TShareMode::kDenyNone, false));
  EXPECT_EQ(f.LastError(), std::strerror(ENOENT));
  EXPECT_FALSE(f.Open(dir_.Path(), false, TShareMode::kDenyNone, false));
  EXPECT_FALSE(f.IsOpen());
  EXPECT_FALSE(TOsFile::Exists(dir_.Path()));
  EXPECT_TRUE(TOsFile::Exists(path_));
}

TEST_F(OsFileTest, PositionalTransfersAndResize) {
  TOsFile f;
  ASSERT_TRUE(f.Open(path_, true, TShareMode::kDenyNone, false));
  char buf[16] = {};
  EXPECT_EQ(f.ReadAt(6, buf, 10), 2) << "a read past the end is short, not an error";
  EXPECT_EQ(f.ReadAt(100, buf, 4), 0);

  EXPECT_EQ(f.WriteAt(12, "XY", 2), 2);
  EXPECT_EQ(f.Size(), 14);
  const std::vector<uint8_t> bytes = test::ReadFile(path_);
  ASSERT_EQ(bytes.size(), 14u);
  EXPECT_EQ(bytes[8], 0) << "the gap reads as zero bytes";
  EXPECT_EQ(bytes[12], 'X');

  EXPECT_TRUE(f.Resize(3));
  EXPECT_EQ(f.Size(), 3);
  EXPECT_EQ(f.ReadAt(0, buf, 16), 3);

  TOsFile reader;
  ASSERT_TRUE(reader.Open(path_, false, TShareMode::kDenyNone, false));
  EXPECT_LT(reader.WriteAt(0, "Z", 1), 1) << "a read-only file must not take writes";
  EXPECT_FALSE(reader.Resize(0));
}

TEST_F(OsFileTest, ByteLocksConflictBetweenOpensOfOneProcess) {
  TOsFile a, b;
  ASSERT_TRUE(a.Open(path_, true, TShareMode::kDenyNone, false));
  ASSERT_TRUE(b.Open(path_, true, TShareMode::kDenyNone, false));

  const uint64_t byte = 0xEFFFFFF9u;
  EXPECT_EQ(a.Lock(byte, 1, false), TLockResult::kOk);
  EXPECT_EQ(a.Lock(byte, 1, false), TLockResult::kOk) << "re-locking one's own byte is allowed";
  EXPECT_EQ(b.Lock(byte, 1, false), TLockResult::kViolation);
  EXPECT_EQ(b.Lock(byte - 1, 1, false), TLockResult::kOk) << "the neighbouring byte is free";
  EXPECT_EQ(b.Lock(byte - 1, 3, false), TLockResult::kViolation) << "a range overlapping a held byte";

  EXPECT_TRUE(a.Unlock(byte, 1));
  EXPECT_EQ(b.Lock(byte, 1, false), TLockResult::kOk);
  EXPECT_EQ(a.Lock(byte, 1, false), TLockResult::kViolation);

  b.Close();
  EXPECT_EQ(a.Lock(byte, 1, false), TLockResult::kOk) << "closing a file drops its locks";
  EXPECT_EQ(ProbeLock(path_, byte), TProbe::kWriteLocked);
}

TEST_F(OsFileTest, ReadOnlyFilesTakeSharedLocks) {
  TOsFile r1, r2, w;
  ASSERT_TRUE(r1.Open(path_, false, TShareMode::kDenyNone, false));
  ASSERT_TRUE(r2.Open(path_, false, TShareMode::kDenyNone, false));
  ASSERT_TRUE(w.Open(path_, true, TShareMode::kDenyNone, false));
  EXPECT_EQ(r1.Lock(500, 1, false), TLockResult::kOk);
  EXPECT_EQ(r2.Lock(500, 1, false), TLockResult::kOk);
  EXPECT_EQ(ProbeLock(path_, 500), TProbe::kReadLocked);
  EXPECT_EQ(w.Lock(500, 1, false), TLockResult::kViolation);
}

TEST_F(OsFileTest, LockOnClosedFileIsAnErrorNotAViolation) {
  TOsFile f;
  EXPECT_EQ(f.Lock(0, 1, false), TLockResult::kError);
  EXPECT_FALSE(f.Unlock(0, 1));
}

TEST_F(OsFileTest, WaitingLockIsGrantedOnlyAfterRelease) {
  TOsFile holder, waiter;
  ASSERT_TRUE(holder.Open(path_, true, TShareMode::kDenyNone, false));
  ASSERT_TRUE(waiter.Open(path_, true, TShareMode::kDenyNone, false));
  ASSERT_EQ(holder.Lock(42, 1, false), TLockResult::kOk);

  std::atomic<bool> released{false};
  std::atomic<bool> grantedBeforeRelease{false};
  std::atomic<bool> granted{false};
  std::thread t([&] {
    if (waiter.Lock(42, 1, true) == TLockResult::kOk) {
      grantedBeforeRelease = !released.load();
      granted = true;
    }
  });
  SleepMs(50);
  released = true;
  holder.Unlock(42, 1);
  t.join();
  EXPECT_TRUE(granted);
  EXPECT_FALSE(grantedBeforeRelease);
}

TEST_F(OsFileTest, CreateEmptyTruncatesAndRemoveDeletes) {
  ASSERT_TRUE(TOsFile::CreateEmpty(path_));
  EXPECT_TRUE(test::ReadFile(path_).empty());
  EXPECT_TRUE(TOsFile::Remove(path_));
  EXPECT_FALSE(TOsFile::Exists(path_));
  EXPECT_FALSE(TOsFile::Remove(path_));
  EXPECT_FALSE(TOsFile::CreateEmpty(dir_.File("no/such/dir.dbf")));
}

}  // namespace
}  // namespace norvale
