// Small operating-system services: sleeping, the local time, the host name.
#pragma once

#include <string>

namespace norvale {

struct TLocalTime {
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

void SleepMs(int milliseconds);
TLocalTime LocalNow();
// The host name, cut to 16 characters: it is written into lock fields whose
// user-name area other programs read as at most 16 characters.
std::string ComputerName();

}  // namespace norvale
