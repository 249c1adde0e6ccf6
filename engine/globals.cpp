#include "engine/globals.h"

#include <cstdlib>

#include "platform/os_misc.h"

namespace norvale {

namespace {

int CodePageFromEnv(const char* name, int fallback) {
  const char* text = std::getenv(name);
  if (!text || !*text) return fallback;
  char* end = nullptr;
  long value = std::strtol(text, &end, 10);
  return (end && *end == 0 && value > 0 && value < 100000) ? static_cast<int>(value) : fallback;
}

}  // namespace

TDbfGlobals& TDbfGlobals::Instance() {
  static TDbfGlobals instance;
  return instance;
}

TDbfGlobals::TDbfGlobals()
    : ansiCodePage_(CodePageFromEnv("NORVALE_ANSI_CP", 1252)),
      oemCodePage_(CodePageFromEnv("NORVALE_OEM_CP", 437)),
      computerName_(norvale::ComputerName()) {
  defaultCodePage_ = ansiCodePage_;
}

void TDbfGlobals::SetComputerName(const std::string& name) { computerName_ = name.substr(0, 16); }

int TDbfGlobals::CurrentYear() const { return pinnedYear_ ? pinnedYear_ : LocalNow().year; }

}  // namespace norvale
