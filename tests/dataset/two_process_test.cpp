// Two processes on one shared table through the table object: a record one
// edits is locked for the other, and what one posts the other reads.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "dataset/dbf_table.h"
#include "engine/messages.h"
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

TEST(DbfTableTwoProcesses, RecordLockedAndPostedValuesSeen) {
  TTempDir dir;
  TTableImage t;
  t.fields = {{"NAME", 'C', 10}};
  t.records = {t.Record({"one"}), t.Record({"two"})};
  const std::string path = dir.File("shared.dbf");
  WriteFile(path, t.Bytes());

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

}  // namespace
}  // namespace norvale::test
