// Helpers shared by the tests: scratch directories and hand-built tables.
#pragma once

#include <cstdint>
#include <functional>
#include <functional>
#include <string>
#include <vector>

namespace norvale::test {

// A fresh directory under the system temp dir, removed with its contents.
class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

struct TFieldSpec {
  std::string name;
  char type;
  int length;
  int decimals = 0;
  uint8_t flags = 0;  // FoxPro descriptor byte 18
};

// Bytes of a table laid out by hand, independently of the engine's writer:
// main header, descriptors, terminator, records, end-of-file byte.
struct TTableImage {
  uint8_t versionByte = 0x03;
  uint8_t languageId = 0x57;
  uint8_t mdxFlag = 0;
  std::vector<TFieldSpec> fields;
  std::vector<std::string> records;  // each a complete record image
  bool eof = true;
  // Header count written; -1 writes the number of records.
  int64_t headerCount = -1;

  int RecordLength() const;
  int HeaderLength() const;
  std::vector<uint8_t> Bytes() const;
  // A record image of the given field values, deletion flag first.
  std::string Record(const std::vector<std::string>& values, bool deleted = false) const;
};

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFile(const std::string& path);
std::string ReadFileText(const std::string& path);

// The corpus of tables written by other programs: its files folder, and the
// tables in it that carry expected values ("folder/name", no extension).
std::string CorpusDir();
std::vector<std::string> CorpusTables();
// A test-parameter name made of a corpus table name.
std::string CorpusTestName(const std::string& table);

// Copies corpus table `table` ("folder/name") with its companion files
// (memo, index, .cpg: every file of that base name, whatever the case) into
// `dir`; returns the path of the copied table.
std::string CopyCorpusTable(const std::string& table, const TTempDir& dir);

// Every file of a folder, its bytes and its modification time, to show
// that nothing wrote to them. Age() first sets the times far in the past,
// so that even a write within the same clock tick shows.
struct TFolderState {
  std::vector<std::string> names;
  std::vector<std::vector<uint8_t>> bytes;
  std::vector<int64_t> modified;  // nanoseconds
  static void Age(const std::string& dir);
  static TFolderState Of(const std::string& dir);
  // What differs from `before`, one line per file; empty when nothing does.
  std::string ChangesSince(const TFolderState& before) const;
};

// The message of what `action` raises, or "(no error)".
std::string Message(const std::function<void()>& action);

// Runs a shell command and returns its output (stdout and stderr) as lines.
std::vector<std::string> RunCommandLines(const std::string& command);

struct TCommandResult {
  int status = -1;  // the exit status; -1 when it did not exit normally
  std::string out;  // standard output and error together
};
TCommandResult RunCommand(const std::string& command);

struct TProgramRun {
  int status = -1;  // the exit status; -1 when it did not exit normally
  std::string out, err;
};
// Runs the program `args[0]` with the rest as its arguments, without a
// shell, keeping its output and its errors apart (in a scratch folder of
// their own, so the folder a test looks at holds only what the program wrote).
TProgramRun RunProgram(const std::vector<std::string>& args);

// Runs `body` in a forked child process, as another program would act on
// the same files, and waits for it. Returns the child's exit status: 0 when
// `body` returned, 1 when it threw, -1 when the child did not exit normally.
int RunInChild(const std::function<void()>& body);

// Directory of the build's executables (norvale-cli and helpers).
std::string BinaryDir();
std::string SourceDir();

}  // namespace norvale::test
