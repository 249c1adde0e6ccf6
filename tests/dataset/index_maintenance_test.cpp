// The production index kept current through the table object: every append,
// edit, delete and recall reaches the .mdx at once, a damaged .mdx makes the
// table read-only with the reason instead of breaking it, and two processes
// writing one shared table leave both tags whole.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <set>
#include <string>
#include <vector>

#include "dataset/dbf_table.h"
#include "engine/byte_order.h"
#include "engine/dbf_format.h"
#include "engine/exceptions.h"
#include "engine/table_file.h"
#include "index/table_indexes.h"
#include "platform/os_misc.h"
#include "tests/support/test_support.h"

namespace norvale::test {
namespace {

// t.dbf with NAME C(10), QTY N(6) and a production index of two tags made
// through the index administration.
std::string WriteIndexedTable(const TTempDir& dir, int records) {
  TTableImage t;
  t.versionByte = 0x03;
  t.fields = {{"NAME", 'C', 10}, {"QTY", 'N', 6}};
  for (int i = 0; i < records; ++i) {
    char qty[8];
    std::snprintf(qty, sizeof qty, "%6d", (i * 37) % 101);
    t.records.push_back(t.Record({"n" + std::to_string((i * 7) % 13), qty}));
  }
  const std::string path = dir.File("t.dbf");
  WriteFile(path, t.Bytes());
  TDbfFile file;
  file.SetFileName(path);
  file.SetMode(amExclusiveOpen);
  file.Open();
  TTableIndexes indexes(file);
  indexes.AttachIndex("NAME", "NAME", 0, true);
  indexes.AttachIndex("QTY", "QTY", 0, true);
  return path;
}

// The (key, recno) pairs of a tag, in index order, read from the file anew.
std::vector<std::pair<std::string, uint32_t>> Entries(const std::string& path, const std::string& tag) {
  TDbfFile file;
  file.SetFileName(path);
  file.SetMode(amReadOnly);
  file.Open();
  TTableIndexes indexes(file);
  indexes.OpenProduction();
  std::vector<std::pair<std::string, uint32_t>> entries;
  int i = -1;
  TIndexFile* mdx = indexes.Find(tag, &i);
  EXPECT_NE(mdx, nullptr);
  if (!mdx) return entries;
  mdx->ForEachEntry(i, [&](std::string_view key, uint32_t recNo) {
    entries.emplace_back(std::string(key), recNo);
    return true;
  });
  return entries;
}

std::vector<uint32_t> RecNos(const std::vector<std::pair<std::string, uint32_t>>& entries) {
  std::vector<uint32_t> recNos;
  for (const auto& e : entries) recNos.push_back(e.second);
  return recNos;
}

TEST(IndexMaintenance, EveryChangeReachesTheProductionIndexAtOnce) {
  TTempDir dir;
  const std::string path = WriteIndexedTable(dir, 3);  // n0, n7, n1
  TDbfTable table;
  table.SetTableName(path);
  table.Open();
  ASSERT_TRUE(table.CanModify()) << table.ReadOnlyReason();
  EXPECT_EQ(RecNos(Entries(path, "NAME")), (std::vector<uint32_t>{1, 3, 2}));

  table.Append();
  table.FieldByName("NAME").SetAsString("a");
  table.FieldByName("QTY").SetAsInteger(500);
  table.Post();
  // Read by another open while this one stays open: the pages are on disk.
  EXPECT_EQ(RecNos(Entries(path, "NAME")), (std::vector<uint32_t>{4, 1, 3, 2}));
  EXPECT_EQ(RecNos(Entries(path, "QTY")).back(), 4u);

  table.SetRecNo(1);
  table.Edit();
  table.FieldByName("NAME").SetAsString("zz");
  table.Post();
  EXPECT_EQ(RecNos(Entries(path, "NAME")), (std::vector<uint32_t>{4, 3, 2, 1}));

  // A normal index keeps a deleted record's key; recalling changes nothing.
  table.SetShowDeleted(true);
  table.SetRecNo(2);
  table.Delete();
  EXPECT_EQ(RecNos(Entries(path, "NAME")), (std::vector<uint32_t>{4, 3, 2, 1}));
  table.SetRecNo(2);
  table.Undelete();
  EXPECT_EQ(RecNos(Entries(path, "NAME")), (std::vector<uint32_t>{4, 3, 2, 1}));
  table.Close();
}

TEST(IndexMaintenance, ADamagedIndexMakesTheTableReadOnlyWithTheReason) {
  TTempDir dir;
  const std::string path = WriteIndexedTable(dir, 3);
  std::vector<uint8_t> mdx = ReadFile(dir.File("t.mdx"));
  // The first tag's header page number points far past the file.
  mdx[544] = 0xFF;
  mdx[545] = 0xFF;
  mdx[546] = 0x0F;
  WriteFile(dir.File("t.mdx"), mdx);
  const std::vector<uint8_t> before = ReadFile(path);
  TDbfTable table;
  table.SetTableName(path);
  std::string said;
  table.OnOpenReadOnly = [&](TDbfTable&, TReadOnlyCause cause, const std::string& message, bool&) {
    EXPECT_EQ(cause, rcUnmaintainedIndex);
    said = message;
  };
  table.Open();
  EXPECT_FALSE(table.CanModify());
  EXPECT_NE(said.find("t.mdx"), std::string::npos) << said;
  EXPECT_NE(said.find("regenerate"), std::string::npos) << said;
  table.First();
  EXPECT_EQ(table.FieldByName("NAME").AsString(), "n0");
  table.Close();
  EXPECT_EQ(ReadFile(path), before);
}

// Appends `count` records and edits every third one, in a process of its own.
// Both open before either writes: an open that meets another program's
// append half-way sees a size that disagrees with the header.
[[noreturn]] void Writer(const std::string& path, const std::string& prefix, int count, int ready, int go) {
  int status = 0;
  try {
    TDbfTable table;
    table.SetTableName(path);
    table.Open();
    char c = 'r';
    if (write(ready, &c, 1) != 1 || read(go, &c, 1) != 1) _exit(3);
    for (int i = 0; i < count; ++i) {
      table.Append();
      table.FieldByName("NAME").SetAsString(prefix + std::to_string(i % 17));
      table.FieldByName("QTY").SetAsInteger(i);
      table.Post();
      if (i % 3 == 0) {
        table.Edit();
        table.FieldByName("QTY").SetAsInteger(1000 + i);
        table.Post();
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "writer %s: %s\n", prefix.c_str(), e.what());
    status = 1;
  }
  _exit(status);
}

TEST(IndexMaintenance, TwoProcessesWritingKeepBothTagsWhole) {
  TTempDir dir;
  const std::string path = WriteIndexedTable(dir, 10);
  int ready[2], go[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(go), 0);
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = fork();
    ASSERT_GE(children[c], 0);
    if (children[c] == 0) Writer(path, c == 0 ? "a" : "b", 150, ready[1], go[0]);
  }
  char c = 0;
  for (int i = 0; i < 2; ++i) ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(write(go[1], "gg", 2), 2);
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  // One entry per record in each tag, each with the key its record gives.
  TDbfFile file;
  file.SetFileName(path);
  file.SetMode(amReadOnly);
  file.Open();
  ASSERT_EQ(file.RecordsInFile(), 310);
  TTableIndexes indexes(file);
  indexes.OpenProduction();
  ASSERT_NE(indexes.Production(), nullptr);
  TIndexFile& mdx = *indexes.Production();
  std::vector<uint8_t> record(static_cast<size_t>(file.RecordLength()));
  for (int tag = 0; tag < mdx.TagCount(); ++tag) {
    mdx.SelectTag(tag);
    std::multiset<std::pair<std::string, uint32_t>> wanted, held;
    for (int64_t r = 1; r <= file.RecordsInFile(); ++r) {
      ASSERT_TRUE(file.ReadRecord(r, record.data()));
      wanted.emplace(mdx.BuildKey(record.data()), static_cast<uint32_t>(r));
    }
    mdx.ForEachEntry(tag, [&](std::string_view key, uint32_t recNo) {
      held.emplace(std::string(key), recNo);
      return true;
    });
    EXPECT_EQ(held, wanted) << mdx.TagInfo(tag).name;
  }
}

// Another program holding the lock of a page we must change: the append
// waits, gives up with a message, and neither the table nor either tag
// keeps anything of it; once the lock is gone the same append goes in.
TEST(IndexMaintenance, APageLockedByAnotherProgramHoldsTheChangeBack) {
  TTempDir dir;
  const std::string path = WriteIndexedTable(dir, 10);
  const std::string mdxPath = dir.File("t.mdx");
  const auto before = ReadFile(mdxPath);
  // The second tag's root, which is also its only leaf: a key for it lands
  // there after the first tag already took its own.
  const uint32_t tagHeader = GetLE32(before.data() + fmt::idx::kMdxTagTable + 2 * fmt::idx::kTagEntrySize4);
  const uint32_t root = GetLE32(before.data() + tagHeader * fmt::idx::kBlockSize);
  int ready[2], done[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(done), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int fd = open(mdxPath.c_str(), O_RDWR);
    struct flock fl{};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(0xEFFFFFFEu - root);
    fl.l_len = 1;
    const char ok = (fd >= 0 && fcntl(fd, F_SETLK, &fl) == 0) ? 'y' : 'n';
    if (write(ready[1], &ok, 1) != 1) _exit(1);
    char c;
    if (read(done[0], &c, 1) != 1) _exit(1);
    _exit(0);
  }
  char ok = 0;
  ASSERT_EQ(read(ready[0], &ok, 1), 1);
  ASSERT_EQ(ok, 'y');
  const auto nameEntries = Entries(path, "NAME");
  const auto qtyEntries = Entries(path, "QTY");
  {
    TDbfFile file;
    file.SetFileName(path);
    file.SetMode(amSharedOpen);
    file.Open();
    TTableIndexes indexes(file);
    indexes.OpenProduction();
    ASSERT_NE(indexes.Production(), nullptr);
    indexes.Production()->SetLockWait(200);
    TTableImage image;
    image.fields = {{"NAME", 'C', 10}, {"QTY", 'N', 6}};
    std::string record = image.Record({"zz", "    42"});
    try {
      file.AppendRecord(reinterpret_cast<uint8_t*>(record.data()));
      ADD_FAILURE() << "the append went through a locked page";
    } catch (const EDbfError& e) {
      EXPECT_EQ(std::string(e.what()), "Index file \"t.mdx\" stays locked by another program; try again later.");
    }
    EXPECT_EQ(file.RecordsInFile(), 10);
    EXPECT_EQ(Entries(path, "NAME"), nameEntries);
    EXPECT_EQ(Entries(path, "QTY"), qtyEntries);
    ASSERT_EQ(write(done[1], "x", 1), 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(file.AppendRecord(reinterpret_cast<uint8_t*>(record.data())), 11);
  }
  EXPECT_EQ(Entries(path, "NAME").size(), 11u);
  EXPECT_EQ(Entries(path, "QTY").size(), 11u);
}

// A walk in shared mode keeps its pages while the file is unchanged, and
// sees a key another program added once that program is done.
TEST(IndexMaintenance, ASharedWalkSeesAnotherProgramsKey) {
  TTempDir dir;
  const std::string path = WriteIndexedTable(dir, 30);
  // Written long ago, as far as the walk can tell.
  const struct timespec old[2] = {{std::time(nullptr) - 60, 0}, {std::time(nullptr) - 60, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, dir.File("t.mdx").c_str(), old, 0), 0);
  TDbfFile file;
  file.SetFileName(path);
  file.SetMode(amSharedOpen);
  file.Open();
  TTableIndexes indexes(file);
  indexes.OpenProduction();
  int tag = -1;
  TIndexFile* mdx = indexes.Find("NAME", &tag);
  ASSERT_NE(mdx, nullptr);
  mdx->SelectTag(tag);
  mdx->MoveFirst();
  ASSERT_TRUE(mdx->MoveNext());
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int status = 0;
    try {
      TDbfFile other;
      other.SetFileName(path);
      other.SetMode(amSharedOpen);
      other.Open();
      TTableIndexes otherIndexes(other);
      otherIndexes.OpenProduction();
      TTableImage image;
      image.fields = {{"NAME", 'C', 10}, {"QTY", 'N', 6}};
      std::string record = image.Record({"zzz", "     1"});
      other.AppendRecord(reinterpret_cast<uint8_t*>(record.data()));
    } catch (...) {
      status = 1;
    }
    _exit(status);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  // Past the short spell in which a walk trusts what it read.
  SleepMs(50);
  int64_t last = -1;
  int steps = 1;
  while (mdx->MoveNext()) {
    last = mdx->CurrentRecord();
    ++steps;
  }
  EXPECT_EQ(steps, 31);
  EXPECT_EQ(last, 31);
}

}  // namespace
}  // namespace norvale::test
