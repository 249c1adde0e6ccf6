// A running norvale_stress_worker: started with fork and exec, talked to
// through its stdin and stdout.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace norvale::test {

class TWorkerProcess {
 public:
  explicit TWorkerProcess(const std::vector<std::string>& args);
  ~TWorkerProcess();
  TWorkerProcess(const TWorkerProcess&) = delete;
  TWorkerProcess& operator=(const TWorkerProcess&) = delete;

  // The next line the worker printed, without its newline; empty when it
  // closed its output (or stayed silent far longer than any job takes).
  std::string ReadLine();
  void Send(const std::string& line);
  // Waits for the worker to end; its exit code, or -1 when it did not exit normally.
  int Wait();

 private:
  pid_t pid_ = -1;
  int toChild_ = -1;
  int fromChild_ = -1;
  int status_ = -1;
  std::string buffered_;
};

}  // namespace norvale::test
