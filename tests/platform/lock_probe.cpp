#include "tests/platform/lock_probe.h"

#include <fcntl.h>
#include <unistd.h>

namespace norvale::test {

TProbe ProbeLock(const std::string& path, uint64_t offset, uint64_t length) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return TProbe::kError;
  // Asking about a write lock reports read locks as well; asking about a read
  // lock then tells the two apart.
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(length);
  TProbe result = TProbe::kError;
  if (::fcntl(fd, F_OFD_GETLK, &fl) == 0) {
    if (fl.l_type == F_UNLCK) {
      result = TProbe::kFree;
    } else {
      struct flock rd {};
      rd.l_type = F_RDLCK;
      rd.l_whence = SEEK_SET;
      rd.l_start = static_cast<off_t>(offset);
      rd.l_len = static_cast<off_t>(length);
      if (::fcntl(fd, F_OFD_GETLK, &rd) == 0)
        result = rd.l_type == F_UNLCK ? TProbe::kReadLocked : TProbe::kWriteLocked;
    }
  }
  ::close(fd);
  return result;
}

}  // namespace norvale::test
