// Runs a command with its standard output sent to a file and prints the
// command's peak resident memory in KB. A small launcher, so the figure is
// the command's own and not inherited from a large test process at fork.
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  pid_t pid = fork();
  if (pid == 0) {
    if (!freopen(argv[1], "w", stdout)) _exit(99);
    execv(argv[2], argv + 2);
    _exit(98);
  }
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status)) return 3;
  std::printf("%ld\n", usage.ru_maxrss);
  return WEXITSTATUS(status);
}
