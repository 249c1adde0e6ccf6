#include "platform/os_misc.h"

#include <cerrno>
#include <ctime>
#include <sys/time.h>
#include <unistd.h>

namespace norvale {

void SleepMs(int milliseconds) {
  if (milliseconds <= 0) return;
  timespec req{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
  timespec rem{};
  while (nanosleep(&req, &rem) != 0 && errno == EINTR) req = rem;
}

TLocalTime LocalNow() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  time_t secs = tv.tv_sec;
  tm t{};
  localtime_r(&secs, &t);
  TLocalTime r;
  r.year = t.tm_year + 1900;
  r.month = t.tm_mon + 1;
  r.day = t.tm_mday;
  r.hour = t.tm_hour;
  r.minute = t.tm_min;
  r.second = t.tm_sec;
  r.millisecond = static_cast<int>(tv.tv_usec / 1000);
  return r;
}

std::string ComputerName() {
  char buf[256] = {};
  if (gethostname(buf, sizeof buf - 1) != 0) return {};
  std::string name(buf);
  if (name.size() > 16) name.resize(16);
  return name;
}

}  // namespace norvale
