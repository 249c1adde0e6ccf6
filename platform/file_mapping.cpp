#include "platform/file_mapping.h"

#include <fcntl.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace norvale {

namespace {

// The copy in progress on this thread, where a bus error jumps back to.
thread_local sigjmp_buf* tGuard = nullptr;
struct sigaction gPrevious {};
int gMappings = 0;

void OnBusError(int signal, siginfo_t* info, void* context) {
  if (tGuard) siglongjmp(*tGuard, 1);
  // Not ours: whatever handled it before does so now.
  if (gPrevious.sa_flags & SA_SIGINFO) {
    if (gPrevious.sa_sigaction) {
      gPrevious.sa_sigaction(signal, info, context);
      return;
    }
  } else if (gPrevious.sa_handler != SIG_DFL && gPrevious.sa_handler != SIG_IGN) {
    gPrevious.sa_handler(signal);
    return;
  }
  ::signal(SIGBUS, SIG_DFL);
  ::raise(SIGBUS);
}

// Kept out of line, so that nothing with a destructor lives in the frame the
// jump leaves.
[[gnu::noinline]] bool GuardedCopy(void* out, const void* in, size_t count) {
  sigjmp_buf env;
  // The handler runs with SA_NODEFER, so the jump leaves the signal mask as
  // it was and need not save it (which would cost a system call per copy).
  if (sigsetjmp(env, 0) != 0) {
    tGuard = nullptr;
    return false;
  }
  tGuard = &env;
  std::memcpy(out, in, count);
  tGuard = nullptr;
  return true;
}

}  // namespace

TFileMapping::~TFileMapping() {
  if (!data_) return;
  munmap(data_, size_);
  if (--gMappings == 0) sigaction(SIGBUS, &gPrevious, nullptr);
}

bool TFileMapping::Map(const std::string& path) {
  if (data_) return true;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  void* p = MAP_FAILED;
  if (::fstat(fd, &st) == 0 && st.st_size > 0)
    p = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_SHARED | MAP_POPULATE, fd, 0);
  ::close(fd);
  if (p == MAP_FAILED) return false;
  if (gMappings++ == 0) {
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, &gPrevious);
  }
  data_ = static_cast<uint8_t*>(p);
  size_ = static_cast<size_t>(st.st_size);
  return true;
}

TFileMapping::TCopy TFileMapping::Copy(uint64_t offset, void* out, size_t count) const {
  if (!data_ || offset > size_ || count > size_ - offset) return kOutside;
  return GuardedCopy(out, data_ + offset, count) ? kCopied : kFault;
}

}  // namespace norvale
