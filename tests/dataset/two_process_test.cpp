// Two processes on one shared table through the table object: a record one
// edits is locked for the other, and what one posts the other reads.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>

#include <csignal>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "dataset/dbf_table.h"
#include "engine/messages.h"
#include "tests/dataset/dataset_tables.h"
#include "tests/support/test_support.h"

namespace norvale::test {
namespace {

void Send(int fd, char c) { ASSERT_EQ(write(fd, &c, 1), 1); }

char Receive(int fd) {
  char c = 0;
  return read(fd, &c, 1) == 1 ? c : 0;
}

// The other process: edits record 1, holds it until told, then posts.
[[noreturn]] void Editor(const std::string& path, int toParent, int fromParent) {
  int status = 1;
  try {
    TDbfTable table;
    table.SetTableName(path);
    table.Open();
    table.Edit();
    char c = 'e';
    if (write(toParent, &c, 1) != 1) _exit(2);
    if (read(fromParent, &c, 1) != 1) _exit(3);
    table.FieldByName("NAME").SetAsString("posted");
    table.Post();
    c = 'p';
    if (write(toParent, &c, 1) != 1) _exit(4);
    status = 0;
  } catch (...) {
    status = 5;
  }
  _exit(status);
}

// shared.dbf: NAME C(10) with "one" and "two".
std::string WriteShared(const TTempDir& dir) {
  TTableImage t;
  t.fields = {{"NAME", 'C', 10}};
  t.records = {t.Record({"one"}), t.Record({"two"})};
  const std::string path = dir.File("shared.dbf");
  WriteFile(path, t.Bytes());
  return path;
}

TEST(DbfTableTwoProcesses, RecordLockedAndPostedValuesSeen) {
  TTempDir dir;
  const std::string path = WriteShared(dir);

  int up[2], down[2];
  ASSERT_EQ(pipe(up), 0);
  ASSERT_EQ(pipe(down), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) Editor(path, up[1], down[0]);

  ASSERT_EQ(Receive(up[0]), 'e');
  TDbfTable table;
  table.SetTableName(path);
  table.Open();
  std::string message;
  try {
    table.Edit();
  } catch (const EDbfError& e) {
    message = e.what();
  }
  EXPECT_EQ(message, msg::kRecordLocked);
  EXPECT_EQ(table.State(), dsBrowse);
  // The other record is free.
  table.Next();
  table.Edit();
  table.Cancel();
  table.First();

  Send(down[1], 'g');
  ASSERT_EQ(Receive(up[0]), 'p');
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  table.Refresh();
  EXPECT_EQ(table.FieldByName("NAME").AsString(), "posted");
  table.Edit();  // the lock went with the post
  EXPECT_EQ(table.EditRecNo(), 1);
  table.Cancel();
  for (int fd : {up[0], up[1], down[0], down[1]}) close(fd);
}

TEST(DbfTableTwoProcesses, RecordsAnotherProgramAppendedAreSeenAfterRefresh) {
  TTempDir dir;
  const std::string path = WriteShared(dir);
  TDbfTable table;
  table.SetTableName(path);
  table.Open();
  table.Last();
  ASSERT_EQ(table.RecordCount(), 2);

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int code = 0;
    try {
      TDbfTable other;
      other.SetTableName(path);
      other.Open();
      other.Append();
      other.FieldByName("NAME").SetAsString("three");
      other.Post();
    } catch (...) {
      code = 1;
    }
    _exit(code);
  }
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  table.Refresh();
  EXPECT_EQ(table.RecordCount(), 3);
  table.Last();
  EXPECT_EQ(table.FieldByName("NAME").AsString(), "three");
  EXPECT_EQ(table.RecNo(), 3);
}

// In a child whose files cannot grow: appending a record, and storing a
// memo value that needs new blocks, must fail with the write error and leave
// the dataset editing, so nothing is lost silently.
[[noreturn]] void PostOnAFullDisk(const std::string& dir) {
  int code = 0;
  try {
    std::signal(SIGXFSZ, SIG_IGN);
    TDbfTable table;
    table.SetTableName(dir + "/memo.dbf");
    table.Open();
    const rlimit limit{static_cast<rlim_t>(std::filesystem::file_size(dir + "/memo.dbf")),
                       static_cast<rlim_t>(RLIM_INFINITY)};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(20);
    auto failsWithWriteError = [&] {
      try {
        table.Post();
      } catch (const EDbfWriteError& e) {
        return std::string(e.what()) == msg::kWriteError;
      }
      return false;
    };
    table.Append();
    table.FieldByName("NAME").SetAsString("lost?");
    if (!failsWithWriteError()) code = 21;
    else if (table.State() != dsInsert) code = 22;
    table.Cancel();
    if (table.RecordCount() != 2) code = 23;
    table.Edit();
    table.FieldByName("NOTES").SetAsString(std::string(5000, 'z'));  // the memo file is 512 bytes
    if (!code && !failsWithWriteError()) code = 24;
    else if (!code && table.State() != dsEdit) code = 25;
    table.Cancel();
  } catch (...) {
    code = 26;
  }
  _exit(code);
}

TEST(DbfTableWriteFailure, PostOnAFullDiskKeepsTheEdit) {
  TTempDir dir;
  WriteEmptyMemoTable(dir, false);
  const std::vector<uint8_t> before = ReadFile(dir.File("memo.dbf"));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) PostOnAFullDisk(dir.Path());
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  // The table reads as before: two records, no memo.
  TDbfTable table;
  table.SetTableName(dir.File("memo.dbf"));
  table.Open();
  EXPECT_EQ(table.RecordCount(), 2);
  EXPECT_TRUE(table.FieldByName("NOTES").IsNull());
}

}  // namespace
}  // namespace norvale::test
