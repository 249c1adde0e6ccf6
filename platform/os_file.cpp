#include "platform/os_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace norvale {

namespace {

int LockCommand(bool wait) { return wait ? F_OFD_SETLKW : F_OFD_SETLK; }

bool SetLock(int fd, short type, uint64_t offset, uint64_t length, bool wait, int* err) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(length);
  fl.l_pid = 0;
  for (;;) {
    if (fcntl(fd, LockCommand(wait), &fl) == 0) return true;
    if (errno == EINTR) continue;
    *err = errno;
    return false;
  }
}

}  // namespace

TOsFile::~TOsFile() { Close(); }

bool TOsFile::Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool TOsFile::MayWrite(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return false;
  return ::access(path.c_str(), W_OK) == 0;
}

bool TOsFile::CreateEmpty(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

bool TOsFile::CreateNew(const std::string& path, std::string& error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  ::close(fd);
  return true;
}

bool TOsFile::RenameNoReplace(const std::string& from, const std::string& to, std::string& error) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) {
    error = std::strerror(errno);
    return false;
  }
  // File systems without the flag: a hard link fails on an existing name too.
  if (::link(from.c_str(), to.c_str()) != 0 || ::unlink(from.c_str()) != 0) {
    error = std::strerror(errno);
    return false;
  }
  return true;
}

bool TOsFile::SyncFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

bool TOsFile::SyncDirectoryOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

bool TOsFile::ReplaceContents(const std::string& path, const std::string& text, std::string& error) {
  std::string temp;
  int fd = -1;
  // A free name: an unrelated file of that name is never touched.
  for (int n = 1; n < 1000 && fd < 0; ++n) {
    temp = path + ".new" + std::to_string(n);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  size_t done = 0;
  bool ok = true;
  while (ok && done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false; else done += static_cast<size_t>(n);
  }
  if (ok && ::fsync(fd) != 0) ok = false;
  if (!ok) error = std::strerror(errno);
  ::close(fd);
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    error = std::strerror(errno);
  }
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

bool TOsFile::Remove(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool TOsFile::Open(const std::string& path, bool writable, TShareMode share, bool truncate) {
  Close();
  int fd = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (fd < 0) {
    lastError_ = std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    lastError_ = std::strerror(EISDIR);
    return false;
  }
  // Read-only opens claim no share marker: they coexist with exclusive ones.
  if (writable) {
    short type = share == TShareMode::kDenyWrite ? F_WRLCK : F_RDLCK;
    int err = 0;
    if (!SetLock(fd, type, kShareMarkerOffset, 1, false, &err)) {
      ::close(fd);
      lastError_ = (err == EAGAIN || err == EACCES) ? "file is in use by another program"
                                                    : std::strerror(err);
      return false;
    }
  }
  if (truncate && ::ftruncate(fd, 0) != 0) {
    lastError_ = std::strerror(errno);
    ::close(fd);
    return false;
  }
  fd_ = fd;
  writable_ = writable;
  lastError_.clear();
  return true;
}

void TOsFile::Close() {
  if (fd_ >= 0) {
    ::close(fd_);  // releases every OFD lock of this open file
    fd_ = -1;
  }
}

int64_t TOsFile::Size() const {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return 0;
  return st.st_size;
}

bool TOsFile::ChangeStamp(int64_t* size, int64_t* modifiedNs) const {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return false;
  *size = st.st_size;
  *modifiedNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return true;
}

int64_t TOsFile::ReadAt(uint64_t offset, void* buffer, size_t count) {
  auto* p = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < count) {
    ssize_t n = ::pread(fd_, p + done, count - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return done ? static_cast<int64_t>(done) : -1;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

int64_t TOsFile::WriteAt(uint64_t offset, const void* buffer, size_t count) {
  const auto* p = static_cast<const char*>(buffer);
  size_t done = 0;
  while (done < count) {
    ssize_t n = ::pwrite(fd_, p + done, count - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return done ? static_cast<int64_t>(done) : -1;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

bool TOsFile::Resize(uint64_t size) { return fd_ >= 0 && ::ftruncate(fd_, static_cast<off_t>(size)) == 0; }

bool TOsFile::Sync() { return fd_ >= 0 && ::fdatasync(fd_) == 0; }

void TOsFile::StartWriteback(uint64_t offset, uint64_t length) {
  if (fd_ >= 0) ::sync_file_range(fd_, static_cast<off_t>(offset), static_cast<off_t>(length), SYNC_FILE_RANGE_WRITE);
}

TLockResult TOsFile::Lock(uint64_t offset, uint64_t length, bool wait) {
  if (fd_ < 0) return TLockResult::kError;
  int err = 0;
  if (SetLock(fd_, writable_ ? F_WRLCK : F_RDLCK, offset, length, wait, &err)) return TLockResult::kOk;
  return (err == EAGAIN || err == EACCES) ? TLockResult::kViolation : TLockResult::kError;
}

bool TOsFile::Unlock(uint64_t offset, uint64_t length) {
  if (fd_ < 0) return false;
  int err = 0;
  return SetLock(fd_, F_UNLCK, offset, length, false, &err);
}

}  // namespace norvale
