// TPagedFile: access modes, page arithmetic, the header buffer, byte-range
// locks by lock number and the exclusive upgrade. Other programs are played by
// second objects on the same file, whose open file descriptions conflict with
// ours exactly as another process's would.
#include "engine/paged_file.h"

#include <atomic>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "engine/exceptions.h"
#include "platform/os_misc.h"
#include "tests/platform/lock_probe.h"
#include "tests/support/test_support.h"

namespace norvale {
namespace {

using test::ProbeLock;
using test::TProbe;
using test::TTempDir;

std::vector<uint8_t> Counting(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i);
  return v;
}

class PagedFileTest : public ::testing::Test {
 protected:
  // A 97-byte header and 10-byte records: 127 bytes hold three pages.
  void MakeFile(size_t size = 127) { test::WriteFile(path_, Counting(size)); }
  void Configure(TPagedFile& f, TPagedFileMode mode) {
    f.SetFileName(path_);
    f.SetMode(mode);
    f.SetHeaderSize(97);
    f.SetRecordSize(10);
  }

  TTempDir dir_;
  std::string path_ = dir_.File("pages.dat");
};

TEST_F(PagedFileTest, AutoCreateTurnsReadOnlyIntoSharedCreateUntilClose) {
  TPagedFile f;
  EXPECT_EQ(f.Mode(), amReadOnly) << "a new object starts read-only";
  f.SetFileName(path_);
  f.SetAutoCreate(true);
  f.Open();
  EXPECT_TRUE(f.IsOpen());
  EXPECT_EQ(f.Mode(), amSharedCreate);
  EXPECT_TRUE(f.IsShared());
  EXPECT_TRUE(TOsFile::Exists(path_));
  EXPECT_EQ(f.PageCount(), 0);
  f.Close();
  EXPECT_EQ(f.Mode(), amReadOnly);
  EXPECT_FALSE(f.IsOpen());
}

TEST_F(PagedFileTest, AutoCreateTurnsExclusiveOpenIntoExclusiveCreate) {
  TPagedFile f;
  f.SetFileName(path_);
  f.SetMode(amExclusiveOpen);
  f.SetAutoCreate(true);
  f.Open();
  EXPECT_EQ(f.Mode(), amExclusiveCreate);
  EXPECT_FALSE(f.IsShared());
  f.Close();
  EXPECT_EQ(f.Mode(), amExclusiveOpen);

  // The file now exists, so the same object opens it without creating.
  test::WriteFile(path_, Counting(20));
  f.Open();
  EXPECT_EQ(f.Mode(), amExclusiveOpen);
  EXPECT_EQ(f.CachedFileSize(), 20) << "opening an existing file must not truncate it";
}

TEST_F(PagedFileTest, MissingFileWithoutAutoCreateRaisesPlainError) {
  for (TPagedFileMode mode : {amReadOnly, amSharedOpen, amExclusiveOpen, amNone}) {
    SCOPED_TRACE(mode);
    TPagedFile f;
    f.SetFileName(path_);
    f.SetMode(mode);
    try {
      f.Open();
      ADD_FAILURE() << "opened a missing file";
    } catch (const EDbfError&) {
      ADD_FAILURE() << "the missing-file error is not a table error";
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), ("Open: file not found: \"" + path_ + "\".").c_str());
    }
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(f.Mode(), mode);
    EXPECT_FALSE(TOsFile::Exists(path_));
  }
}

TEST_F(PagedFileTest, FailedOpenKeepsTheModeItWasGiven) {
  // Auto-create switches to a creating mode; when the open then fails, that
  // mode must not outlive it, or the next open of an existing table empties it.
  TPagedFile f;
  f.SetFileName(dir_.File("no/such/dir/t.dbf"));
  f.SetAutoCreate(true);
  EXPECT_THROW(f.Open(), Exception);
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(f.Mode(), amReadOnly);

  MakeFile();
  f.SetFileName(path_);
  f.Open();
  EXPECT_EQ(f.Mode(), amReadOnly);
  f.Close();
  EXPECT_EQ(test::ReadFile(path_), Counting(127));
}

TEST_F(PagedFileTest, CreatingModesTruncate) {
  MakeFile();
  for (TPagedFileMode mode : {amSharedCreate, amExclusiveCreate}) {
    MakeFile();
    TPagedFile f;
    f.SetFileName(path_);
    f.SetMode(mode);
    f.Open();
    EXPECT_EQ(f.CachedFileSize(), 0);
    f.Close();
    EXPECT_TRUE(test::ReadFile(path_).empty());
  }
}

TEST_F(PagedFileTest, PageArithmetic) {
  MakeFile();
  TPagedFile f;
  Configure(f, amReadOnly);
  f.Open();
  EXPECT_EQ(f.PageCount(), 3);
  EXPECT_EQ(f.PageOffset(0), 0);
  EXPECT_EQ(f.PageOffset(1), 97);
  EXPECT_EQ(f.PageOffset(2), 107);
  EXPECT_TRUE(f.PageExists(0));
  EXPECT_TRUE(f.PageExists(3));
  EXPECT_FALSE(f.PageExists(4));
  EXPECT_FALSE(f.PageExists(-1));

  uint8_t page[10];
  ASSERT_EQ(f.ReadPage(2, page), 10);
  EXPECT_EQ(page[0], 107);
  EXPECT_EQ(page[9], 116);
  EXPECT_EQ(f.ReadPage(3, page), 10);
  EXPECT_EQ(page[9], 126);
  EXPECT_EQ(f.ReadPage(4, page), 0) << "nothing lies past the end";

  // Open leaves the header to its owner; a reload fills it.
  f.ReloadHeader();
  EXPECT_EQ(f.Header()[0], 0);
  EXPECT_EQ(f.Header()[96], 96);
  f.SetHeaderSize(32);
  EXPECT_EQ(f.Header()[31], 31) << "a new header size reloads the buffer";
  f.SetHeaderSize(97);

  // A trailing partial page does not count.
  f.Close();
  MakeFile(136);
  f.Open();
  EXPECT_EQ(f.PageCount(), 3);
  uint8_t partial[10] = {};
  EXPECT_EQ(f.ReadPage(4, partial), 9);
}

TEST_F(PagedFileTest, ShortFileAndWiderStride) {
  MakeFile(40);
  TPagedFile f;
  Configure(f, amReadOnly);
  f.Open();
  f.ReloadHeader();
  EXPECT_EQ(f.PageCount(), 0) << "a file shorter than its header holds no pages";
  EXPECT_EQ(f.Header()[39], 39);
  EXPECT_EQ(f.Header()[40], 0) << "the header beyond the file reads as zeros";
  f.Close();

  // Without the header in the offsets (memo files) page N is at N x stride.
  MakeFile(127);
  TPagedFile m;
  m.SetFileName(path_);
  m.SetHeaderCountedInOffsets(false);
  m.SetRecordSize(16);
  m.Open();
  EXPECT_EQ(m.PageOffset(3), 48);
  EXPECT_EQ(m.PageCount(), 7);
  m.SetStride(32);
  EXPECT_EQ(m.PageOffset(3), 96);
  EXPECT_EQ(m.PageCount(), 3);
}

TEST_F(PagedFileTest, SetPageCountResizesTheFile) {
  MakeFile();
  TPagedFile f;
  Configure(f, amExclusiveOpen);
  f.Open();
  f.SetPageCount(5);
  EXPECT_EQ(f.PageCount(), 5);
  EXPECT_EQ(f.CachedFileSize(), 147);
  f.SetPageCount(1);
  EXPECT_EQ(f.PageCount(), 1);
  f.SetPageCount(-3);
  EXPECT_EQ(f.PageCount(), 0);
  EXPECT_FALSE(f.WriteError());
  f.Close();
  EXPECT_EQ(test::ReadFile(path_).size(), 97u);
}

TEST_F(PagedFileTest, WritesExtendTheFileAndTheCount) {
  MakeFile(97);
  TPagedFile f;
  Configure(f, amExclusiveOpen);
  f.Open();
  const uint8_t page[10] = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
  f.WritePage(1, page);
  EXPECT_EQ(f.PageCount(), 1);
  f.WritePage(4, page);
  EXPECT_EQ(f.PageCount(), 4);
  EXPECT_EQ(f.CachedFileSize(), 137);
  EXPECT_FALSE(f.WriteError());
  uint8_t back[10] = {};
  EXPECT_EQ(f.ReadPage(4, back), 10);
  EXPECT_EQ(std::memcmp(back, page, 10), 0);
}

TEST_F(PagedFileTest, FailedWritesSetAStickyFlag) {
  MakeFile();
  TPagedFile f;
  Configure(f, amReadOnly);
  f.Open();
  const uint8_t page[10] = {};
  f.WritePage(1, page);
  EXPECT_TRUE(f.WriteError()) << "writes never raise; the flag tells";
  uint8_t back[10];
  f.ReadPage(1, back);
  EXPECT_TRUE(f.WriteError()) << "the flag stays until cleared";
  f.ClearWriteError();
  EXPECT_FALSE(f.WriteError());
  f.Close();
  EXPECT_EQ(test::ReadFile(path_), Counting(127)) << "a read-only object changed the file";
}

TEST_F(PagedFileTest, SharedHeaderIsWrittenThroughExclusiveOnlyOnFlush) {
  MakeFile();
  TPagedFile shared;
  Configure(shared, amSharedOpen);
  shared.Open();
  shared.ReloadHeader();
  shared.Header()[5] = 0xAB;
  shared.StoreHeader();
  EXPECT_EQ(test::ReadFile(path_)[5], 0xAB) << "other programs must see a shared header at once";
  shared.Close();

  TPagedFile exclusive;
  Configure(exclusive, amExclusiveOpen);
  exclusive.Open();
  exclusive.ReloadHeader();
  EXPECT_EQ(exclusive.Header()[5], 0xAB);
  exclusive.Header()[6] = 0xCD;
  exclusive.StoreHeader();
  EXPECT_TRUE(exclusive.HeaderModified());
  EXPECT_EQ(test::ReadFile(path_)[6], 6);
  exclusive.Close();
  EXPECT_EQ(test::ReadFile(path_)[6], 0xCD) << "closing flushes the header";
}

TEST_F(PagedFileTest, SharedCountFollowsOtherWritersExclusiveIsCached) {
  MakeFile();
  TPagedFile shared, exclusiveView;
  Configure(shared, amSharedOpen);
  shared.Open();
  EXPECT_EQ(shared.PageCount(), 3);
  EXPECT_FALSE(shared.PageExists(5));

  TPagedFile other;
  Configure(other, amSharedOpen);
  other.Open();
  other.SetPageCount(6);
  EXPECT_EQ(shared.PageCount(), 6);
  EXPECT_TRUE(shared.PageExists(5)) << "numbers past the known count look at the file again";
  other.Close();
  shared.Close();

  Configure(exclusiveView, amExclusiveOpen);
  exclusiveView.Open();
  EXPECT_EQ(exclusiveView.PageCount(), 6);
  TPagedFile reader;
  Configure(reader, amReadOnly);
  reader.Open();
  test::WriteFile(path_, Counting(97));  // changes the size behind its back
  EXPECT_EQ(exclusiveView.PageCount(), 6) << "an exclusive file keeps its cached count";
  EXPECT_EQ(reader.PageCount(), 0) << "a read-only file is shared and sees the change";
}

TEST_F(PagedFileTest, SharedPageLocksUseTheVirtualLockBytes) {
  MakeFile();
  TPagedFile f;
  Configure(f, amSharedOpen);
  f.Open();

  ASSERT_TRUE(f.AcquirePageLock(0, false));
  EXPECT_EQ(ProbeLock(path_, 0xEFFFFFFEu), TProbe::kWriteLocked);
  EXPECT_EQ(ProbeLock(path_, 0xEFFFFFFFu), TProbe::kFree);
  EXPECT_EQ(ProbeLock(path_, 0xEFFFFFFDu), TProbe::kFree);
  EXPECT_EQ(ProbeLock(path_, 0, 127), TProbe::kFree) << "the data itself stays unlocked";

  ASSERT_TRUE(f.AcquirePageLock(5, false));
  EXPECT_EQ(ProbeLock(path_, 0xEFFFFFF9u), TProbe::kWriteLocked);
  EXPECT_EQ(ProbeLock(path_, 0xEFFFFFFAu), TProbe::kFree);

  TPagedFile other;
  Configure(other, amSharedOpen);
  other.Open();
  EXPECT_FALSE(other.AcquirePageLock(5, false));
  EXPECT_FALSE(other.AcquirePageLock(0, false));
  EXPECT_TRUE(other.AcquirePageLock(6, false));

  f.ReleasePageLock(5);
  EXPECT_EQ(ProbeLock(path_, 0xEFFFFFF9u), TProbe::kFree);
  EXPECT_EQ(ProbeLock(path_, 0xEFFFFFFEu), TProbe::kWriteLocked) << "releasing one lock kept the other";
  EXPECT_TRUE(other.AcquirePageLock(5, false));
  f.Close();
  EXPECT_TRUE(other.AcquirePageLock(0, false)) << "closing released the header lock";
}

TEST_F(PagedFileTest, LockNumbersWrapIn32Bits) {
  MakeFile();
  TPagedFile f;
  Configure(f, amSharedOpen);
  f.Open();
  uint64_t offset = 0, length = 0;
  f.LockRange(-1, &offset, &length);
  EXPECT_EQ(offset, 0xEFFFFFFFu);
  EXPECT_EQ(length, 1u);
  f.LockRange(1000000000, &offset, &length);
  EXPECT_EQ(offset, TPagedFile::kLockRegionStart);
  EXPECT_EQ(uint64_t(TPagedFile::kLockRegionStart) + TPagedFile::kLockRegionLength, 0xF0000000u)
      << "the lock-number region must end where the share marker begins";

  // Memo files lock the page's own bytes.
  f.SetVirtualLocks(false);
  f.LockRange(2, &offset, &length);
  EXPECT_EQ(offset, 107u);
  EXPECT_EQ(length, 10u);
  ASSERT_TRUE(f.AcquirePageLock(2, false));
  EXPECT_EQ(ProbeLock(path_, 107, 10), TProbe::kWriteLocked);
  EXPECT_EQ(ProbeLock(path_, 117, 1), TProbe::kFree);
}

TEST_F(PagedFileTest, ExclusiveAndMemoryModesLockNothing) {
  MakeFile();
  TPagedFile f;
  Configure(f, amExclusiveOpen);
  f.Open();
  EXPECT_TRUE(f.AcquirePageLock(0, false));
  EXPECT_TRUE(f.AcquirePageLock(5, true));
  EXPECT_EQ(ProbeLock(path_, 0xEFFFFFFEu), TProbe::kFree);
  EXPECT_EQ(ProbeLock(path_, 0xEFFFFFF9u), TProbe::kFree);
  f.ReleasePageLock(5);

  TPagedFile m;
  m.SetMode(amMemoryCreate);
  m.SetRecordSize(10);
  m.Open();
  EXPECT_FALSE(m.IsShared());
  EXPECT_TRUE(m.AcquirePageLock(3, false));
}

TEST_F(PagedFileTest, WaitingPageLockIsGrantedAfterRelease) {
  MakeFile();
  TPagedFile holder, waiter;
  Configure(holder, amSharedOpen);
  Configure(waiter, amSharedOpen);
  holder.Open();
  waiter.Open();
  ASSERT_TRUE(holder.AcquirePageLock(7, false));

  std::atomic<bool> released{false};
  std::atomic<bool> early{false};
  std::atomic<bool> granted{false};
  std::thread t([&] {
    granted = waiter.AcquirePageLock(7, true);
    early = !released.load();
  });
  SleepMs(50);
  released = true;
  holder.ReleasePageLock(7);
  t.join();
  EXPECT_TRUE(granted);
  EXPECT_FALSE(early) << "the waiting lock was granted while the other still held it";
}

TEST_F(PagedFileTest, MemoryModes) {
  TPagedFile f;
  f.SetMode(amMemoryOpen);
  f.SetHeaderSize(8);
  f.SetRecordSize(4);
  f.Open();
  EXPECT_EQ(f.Mode(), amMemoryCreate) << "no stream handed in: a new memory stream";
  ASSERT_NE(f.Stream(), nullptr);
  f.Header()[0] = 'H';
  f.StoreHeader();
  f.WritePage(2, "abcd");
  EXPECT_EQ(f.PageCount(), 2);
  f.Close();
  EXPECT_EQ(f.Mode(), amMemoryOpen);
  EXPECT_FALSE(TOsFile::Exists(path_));

  f.Open();
  EXPECT_EQ(f.PageCount(), 2) << "the memory table outlives Close";
  char page[4];
  EXPECT_EQ(f.ReadPage(2, page), 4);
  EXPECT_EQ(std::string(page, 4), "abcd");
  f.ReloadHeader();
  EXPECT_EQ(f.Header()[0], 'H');
  f.Close();

  TMemoryStream mine;
  TPagedFile g;
  g.SetMode(amMemoryOpen);
  g.SetStream(&mine);
  g.SetRecordSize(4);
  g.Open();
  EXPECT_EQ(g.Mode(), amMemoryOpen) << "a handed-in stream is used as it is";
  g.WritePage(1, "wxyz");
  g.Close();
  ASSERT_EQ(mine.Data().size(), 4u);
  EXPECT_EQ(std::string(mine.Data().begin(), mine.Data().end()), "wxyz");

  // A stream handed in after the object made its own stays in use.
  TMemoryStream later;
  f.SetStream(&later);
  EXPECT_EQ(f.Stream(), &later);
  f.Open();
  f.WritePage(1, "1234");
  f.Close();
  EXPECT_EQ(f.Stream(), &later);
  f.Open();
  EXPECT_EQ(f.ReadPage(1, page), 4);
  EXPECT_EQ(std::string(page, 4), "1234");
  f.Close();
  EXPECT_EQ(later.Data().size(), 12u);
}

TEST_F(PagedFileTest, StreamAndNameChangeOnlyWhileClosed) {
  MakeFile();
  TPagedFile f;
  Configure(f, amReadOnly);
  f.Open();
  f.SetFileName(dir_.File("other.dat"));
  EXPECT_EQ(f.FileName(), path_);
  f.Close();
  f.SetFileName(dir_.File("other.dat"));
  EXPECT_EQ(f.FileName(), dir_.File("other.dat"));
}

TEST_F(PagedFileTest, ExclusiveUpgradeRefusedWhileAnotherHasTheFileOpen) {
  MakeFile();
  TPagedFile other;
  Configure(other, amSharedOpen);
  other.Open();

  TPagedFile f;
  Configure(f, amSharedOpen);
  f.Open();
  EXPECT_NO_THROW(f.AcquireExclusive());
  EXPECT_TRUE(f.IsOpen());
  EXPECT_EQ(f.Mode(), amSharedOpen);
  EXPECT_FALSE(f.ExclusiveUpgraded());
  try {
    f.RequireExclusive();
    ADD_FAILURE() << "a shared file passed RequireExclusive";
  } catch (const EDbfError& e) {
    EXPECT_STREQ(e.what(), "Exclusive access is required for this operation.");
  }
  // Still a working shared file.
  EXPECT_EQ(f.PageCount(), 3);
  EXPECT_TRUE(f.AcquirePageLock(1, false));
  EXPECT_EQ(ProbeLock(path_, 0xEFFFFFFDu), TProbe::kWriteLocked);
}

TEST_F(PagedFileTest, ExclusiveUpgradeAndReleaseRestoreTheMode) {
  MakeFile();
  for (TPagedFileMode start : {amSharedOpen, amReadOnly}) {
    SCOPED_TRACE(start);
    TPagedFile f;
    Configure(f, start);
    f.Open();
    f.AcquireExclusive();
    EXPECT_EQ(f.Mode(), amExclusiveOpen);
    EXPECT_TRUE(f.ExclusiveUpgraded());
    EXPECT_NO_THROW(f.RequireExclusive());
    EXPECT_EQ(ProbeLock(path_, TOsFile::kShareMarkerOffset), TProbe::kWriteLocked);

    TPagedFile intruder;
    Configure(intruder, amSharedOpen);
    EXPECT_THROW(intruder.Open(), Exception);

    // A read-only table is writable for the duration of the upgrade.
    const uint8_t page[10] = {'u', 'p', 'g', 'r', 'a', 'd', 'e', 'd', '!', '!'};
    f.WritePage(3, page);
    EXPECT_FALSE(f.WriteError());

    f.ReleaseExclusive();
    EXPECT_EQ(f.Mode(), start);
    EXPECT_FALSE(f.ExclusiveUpgraded());
    EXPECT_EQ(ProbeLock(path_, TOsFile::kShareMarkerOffset),
              start == amReadOnly ? TProbe::kFree : TProbe::kReadLocked);
    EXPECT_NO_THROW(intruder.Open());
    f.Close();
    EXPECT_EQ(test::ReadFile(path_)[117], 'u');
    MakeFile();
  }
}

TEST_F(PagedFileTest, ExclusiveUpgradeOfACreatedFileDoesNotEmptyIt) {
  TPagedFile f;
  f.SetFileName(path_);
  f.SetAutoCreate(true);
  f.SetRecordSize(4);
  f.Open();
  ASSERT_EQ(f.Mode(), amSharedCreate);
  f.WritePage(2, "data");
  f.AcquireExclusive();
  EXPECT_EQ(f.Mode(), amExclusiveOpen);
  EXPECT_EQ(f.PageCount(), 2);
  f.ReleaseExclusive();
  EXPECT_EQ(f.Mode(), amSharedOpen);
  EXPECT_EQ(f.PageCount(), 2);
  char page[4];
  EXPECT_EQ(f.ReadPage(2, page), 4);
  EXPECT_EQ(std::string(page, 4), "data");
}

TEST_F(PagedFileTest, ExclusiveUpgradeIsANoOpWhenNotShared) {
  MakeFile();
  TPagedFile f;
  Configure(f, amExclusiveOpen);
  f.Open();
  f.AcquireExclusive();
  EXPECT_FALSE(f.ExclusiveUpgraded());
  f.ReleaseExclusive();
  EXPECT_EQ(f.Mode(), amExclusiveOpen);
  EXPECT_TRUE(f.IsOpen());
}

TEST_F(PagedFileTest, DeleteFileOnlyWhileClosed) {
  MakeFile();
  TPagedFile f;
  Configure(f, amReadOnly);
  f.Open();
  f.DeleteFile();
  EXPECT_TRUE(TOsFile::Exists(path_));
  f.Close();
  f.DeleteFile();
  EXPECT_FALSE(TOsFile::Exists(path_));
}

}  // namespace
}  // namespace norvale
