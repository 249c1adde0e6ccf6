// Operating-system files: positional I/O, share modes and byte-range locks.
//
// POSIX has no share modes, so they are emulated with an open-file-description
// lock on one marker byte above the lock-number region (kShareMarkerOffset):
// an exclusive open holds a write lock on it, a shared read-write open a read
// lock, a read-only open none. Two opens in one process conflict like two
// processes, because OFD locks belong to the open file, not to the process.
#pragma once

#include <cstdint>
#include <string>

namespace norvale {

enum class TShareMode {
  kDenyNone,   // others may read and write
  kDenyWrite,  // others may only read
};

enum class TLockResult { kOk, kViolation, kError };

class TOsFile {
 public:
  static constexpr uint64_t kShareMarkerOffset = 0xF0000000ull;

  TOsFile() = default;
  ~TOsFile();
  TOsFile(const TOsFile&) = delete;
  TOsFile& operator=(const TOsFile&) = delete;

  static bool Exists(const std::string& path);
  // Creates an empty file (or truncates an existing one); false when it cannot.
  static bool CreateEmpty(const std::string& path);
  static bool Remove(const std::string& path);
  // Creates `path` only when no file of that name exists; false (with
  // `error`) otherwise, so that a name found free is never someone's file.
  static bool CreateNew(const std::string& path, std::string& error);
  // Renames without ever replacing a file at `to`; false with `error`.
  static bool RenameNoReplace(const std::string& from, const std::string& to, std::string& error);
  // Makes a file's contents, or a directory's entries (the renames and
  // removals in it), durable.
  static bool SyncFile(const std::string& path);
  static bool SyncDirectoryOf(const std::string& path);
  // False when the file is marked read-only (no write permission bit at all,
  // which even the superuser respects here) or the system would refuse to
  // open it for writing (permissions, a read-only file system).
  static bool MayWrite(const std::string& path);
  // Replaces the whole contents of a small file (created when missing) so
  // that a crash leaves either the old or the new contents: the new text
  // goes to a fresh file beside it, is synced, and is renamed over it.
  // False with `error` set when that failed; the old file is then intact.
  static bool ReplaceContents(const std::string& path, const std::string& text, std::string& error);

  // Opens `path`. With `truncate` the file is cut to zero bytes once the share
  // check has passed. On failure returns false and leaves errno-style text in
  // LastError(); a share conflict reads "file is in use by another program".
  bool Open(const std::string& path, bool writable, TShareMode share, bool truncate);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  bool Writable() const { return writable_; }
  const std::string& LastError() const { return lastError_; }

  int64_t Size() const;
  // The size and the time of the last change (nanoseconds since the epoch);
  // false when the system cannot tell.
  bool ChangeStamp(int64_t* size, int64_t* modifiedNs) const;
  // Both return the bytes transferred (short at the end of the file or on a
  // failing write), or -1 on an error.
  int64_t ReadAt(uint64_t offset, void* buffer, size_t count);
  int64_t WriteAt(uint64_t offset, const void* buffer, size_t count);
  bool Resize(uint64_t size);
  bool Sync();
  // Asks the system to start writing a range out now; no waiting, no error.
  void StartWriteback(uint64_t offset, uint64_t length);

  // Byte-range lock owned by this open file. `wait` blocks until granted.
  // Files opened read-only take read locks: a write lock needs write access.
  TLockResult Lock(uint64_t offset, uint64_t length, bool wait);
  bool Unlock(uint64_t offset, uint64_t length);

 private:
  int fd_ = -1;
  bool writable_ = false;
  std::string lastError_;
};

}  // namespace norvale
