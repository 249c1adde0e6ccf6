#include "tests/stress/worker_process.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/os_misc.h"

namespace norvale::test {

namespace {

// Only a guard against a worker that hangs, so that a broken engine fails
// the test instead of stalling the whole run.
constexpr int kSilenceLimitMs = 240000;

}  // namespace

TWorkerProcess::TWorkerProcess(const std::vector<std::string>& args) {
  // A worker that died must fail the test, not kill it on the next Send.
  ::signal(SIGPIPE, SIG_IGN);
  int in[2], out[2];
  if (::pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  if (::pipe2(out, O_CLOEXEC) != 0) {
    ::close(in[0]);
    ::close(in[1]);
    throw std::runtime_error("pipe failed");
  }
  std::vector<char*> argv;
  std::string program = NORVALE_STRESS_WORKER;
  argv.push_back(program.data());
  std::vector<std::string> copy = args;
  for (std::string& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    ::dup2(in[0], STDIN_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    ::execv(argv[0], argv.data());
    _exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  toChild_ = in[1];
  fromChild_ = out[0];
}

TWorkerProcess::~TWorkerProcess() {
  if (toChild_ >= 0) ::close(toChild_);  // a worker waiting for a line now reads end-of-file
  toChild_ = -1;
  if (pid_ > 0 && status_ == -1) {
    int waited = 0;
    while (::waitpid(pid_, &status_, WNOHANG) == 0) {
      if (waited >= 10000) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status_, 0);
        break;
      }
      SleepMs(10);
      waited += 10;
    }
  }
  if (fromChild_ >= 0) ::close(fromChild_);
}

std::string TWorkerProcess::ReadLine() {
  for (;;) {
    const size_t nl = buffered_.find('\n');
    if (nl != std::string::npos) {
      std::string line = buffered_.substr(0, nl);
      buffered_.erase(0, nl + 1);
      return line;
    }
    pollfd p{fromChild_, POLLIN, 0};
    const int r = ::poll(&p, 1, kSilenceLimitMs);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return {};
    char chunk[256];
    const ssize_t n = ::read(fromChild_, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return {};
    buffered_.append(chunk, static_cast<size_t>(n));
  }
}

void TWorkerProcess::Send(const std::string& line) {
  const std::string text = line + "\n";
  if (::write(toChild_, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
    throw std::runtime_error("worker is gone");
}

int TWorkerProcess::Wait() {
  if (status_ == -1 && pid_ > 0) {
    while (::waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
    }
  }
  return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

}  // namespace norvale::test
