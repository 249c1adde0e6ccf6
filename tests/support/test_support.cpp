#include "tests/support/test_support.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "engine/byte_order.h"

namespace norvale::test {

TTempDir::TTempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "norvale-test-XXXXXX").string();
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back(0);
  if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  path_ = buf.data();
}

TTempDir::~TTempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

int TTableImage::RecordLength() const {
  int n = 1;
  for (const auto& f : fields) n += f.length;
  return n;
}

int TTableImage::HeaderLength() const {
  const bool vii = (versionByte & 7) == 4;
  const bool fox = (versionByte & 7) == 2 || (versionByte & 7) == 5 || versionByte == 0x30 || versionByte == 0x31;
  return (vii ? 68 : 32) + static_cast<int>(fields.size()) * (vii ? 48 : 32) + 1 + (fox ? 263 : 0);
}

std::vector<uint8_t> TTableImage::Bytes() const {
  const bool vii = (versionByte & 7) == 4;
  const int hl = HeaderLength();
  const int rl = RecordLength();
  std::vector<uint8_t> out(static_cast<size_t>(hl), 0);
  out[0] = versionByte;
  out[1] = 126;
  out[2] = 1;
  out[3] = 2;
  PutLE32(out.data() + 4, static_cast<uint32_t>(headerCount < 0 ? records.size() : headerCount));
  PutLE16(out.data() + 8, static_cast<uint16_t>(hl));
  PutLE16(out.data() + 10, static_cast<uint16_t>(rl));
  out[28] = mdxFlag;
  out[29] = vii ? 0 : languageId;
  if (vii) std::memcpy(out.data() + 32, "DBWINUS0", 8);
  size_t at = vii ? 68 : 32;
  for (const auto& f : fields) {
    std::memcpy(out.data() + at, f.name.data(), std::min<size_t>(f.name.size(), vii ? 31 : 10));
    if (vii) {
      out[at + 32] = static_cast<uint8_t>(f.type);
      out[at + 33] = static_cast<uint8_t>(f.length);
      out[at + 34] = static_cast<uint8_t>(f.decimals);
      at += 48;
    } else {
      out[at + 11] = static_cast<uint8_t>(f.type);
      out[at + 16] = static_cast<uint8_t>(f.length & 0xFF);
      out[at + 17] = static_cast<uint8_t>(f.type == 'C' && f.length > 255 ? f.length >> 8 : f.decimals);
      out[at + 18] = f.flags;
      at += 32;
    }
  }
  out[at] = 0x0D;
  for (const auto& r : records) {
    std::string rec = r;
    rec.resize(static_cast<size_t>(rl), ' ');
    out.insert(out.end(), rec.begin(), rec.end());
  }
  if (eof) out.push_back(0x1A);
  return out;
}

std::string TTableImage::Record(const std::vector<std::string>& values, bool deleted) const {
  std::string rec(1, deleted ? '*' : ' ');
  for (size_t i = 0; i < fields.size(); ++i) {
    std::string v = i < values.size() ? values[i] : std::string();
    v.resize(static_cast<size_t>(fields[i].length), ' ');
    rec += v;
  }
  return rec;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string ReadFileText(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

std::string CorpusDir() { return SourceDir() + "/tests/data/corpus/files"; }

std::vector<std::string> CorpusTables() {
  namespace fs = std::filesystem;
  std::vector<std::string> names;
  const std::string suffix = ".expected.json";
  for (const auto& e : fs::recursive_directory_iterator(CorpusDir())) {
    const std::string p = e.path().string();
    if (p.size() > suffix.size() && p.compare(p.size() - suffix.size(), suffix.size(), suffix) == 0)
      names.push_back(fs::relative(p.substr(0, p.size() - suffix.size()), CorpusDir()).string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string CopyCorpusTable(const std::string& table, const TTempDir& dir) {
  namespace fs = std::filesystem;
  const fs::path base = fs::path(CorpusDir()) / table;
  const std::string stem = base.filename().string();
  std::string copied;
  for (const auto& e : fs::directory_iterator(base.parent_path())) {
    const std::string name = e.path().filename().string();
    if (name.size() <= stem.size() || strncasecmp(name.c_str(), stem.c_str(), stem.size()) != 0 ||
        name[stem.size()] != '.' || name.find(".expected.json") != std::string::npos)
      continue;
    fs::copy_file(e.path(), dir.File(name), fs::copy_options::overwrite_existing);
    if (strcasecmp(name.c_str() + stem.size(), ".dbf") == 0) copied = dir.File(name);
  }
  return copied;
}

void TFolderState::Age(const std::string& dir) {
  const timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
  for (const auto& e : std::filesystem::directory_iterator(dir)) utimensat(AT_FDCWD, e.path().c_str(), times, 0);
}

TFolderState TFolderState::Of(const std::string& dir) {
  TFolderState state;
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    struct stat st {};
    const std::string path = dir + "/" + name;
    stat(path.c_str(), &st);
    state.names.push_back(name);
    state.bytes.push_back(ReadFile(path));
    state.modified.push_back(int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec);
  }
  return state;
}

std::string TFolderState::ChangesSince(const TFolderState& before) const {
  std::string changes;
  if (names != before.names) return "files created or removed\n";
  for (size_t i = 0; i < names.size(); ++i) {
    if (bytes[i] != before.bytes[i]) changes += names[i] + ": bytes changed\n";
    if (modified[i] != before.modified[i]) changes += names[i] + ": modification time changed\n";
  }
  return changes;
}

std::string Message(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no error)";
}

std::string CorpusTestName(const std::string& table) {
  std::string s = table;
  for (char& c : s)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return s;
}

int RunInChild(const std::function<void()>& body) {
  const pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    int code = 0;
    try {
      body();
    } catch (...) {
      code = 1;
    }
    // No exit handlers: they belong to the parent (its test framework, its
    // temporary directories).
    ::_exit(code);
  }
  int status = -1;
  if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TProgramRun RunProgram(const std::vector<std::string>& args) {
  TTempDir scratch;
  const std::string outPath = scratch.File("stdout"), errPath = scratch.File("stderr");
  const pid_t pid = fork();
  if (pid == 0) {
    if (!freopen(outPath.c_str(), "w", stdout) || !freopen(errPath.c_str(), "w", stderr)) _exit(99);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(98);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFileText(outPath), ReadFileText(errPath)};
}

TCommandResult RunCommand(const std::string& command) {
  TCommandResult run;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return run;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) run.out.append(buf, n);
  const int raw = ::pclose(pipe);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return run;
}

std::vector<std::string> RunCommandLines(const std::string& command) {
  std::vector<std::string> lines;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return lines;
  std::string line;
  for (int c; (c = std::fgetc(pipe)) != EOF;) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line += static_cast<char>(c);
    }
  }
  if (!line.empty()) lines.push_back(line);
  ::pclose(pipe);
  return lines;
}

std::string BinaryDir() { return NORVALE_BINARY_DIR; }
std::string SourceDir() { return NORVALE_SOURCE_DIR; }

}  // namespace norvale::test
