#include "engine/globals.h"

#include "engine/language.h"
#include "platform/os_misc.h"
#include "platform/text_services.h"

namespace norvale {

TDbfGlobals& TDbfGlobals::Instance() {
  static TDbfGlobals instance;
  return instance;
}

TDbfGlobals::TDbfGlobals()
    : ansiCodePage_(norvale::AnsiCodePage()),
      oemCodePage_(norvale::OemCodePage()),
      computerName_(norvale::ComputerName()) {
  defaultCodePage_ = ansiCodePage_;
  defaultLanguageId_ = LanguageIdFor(ansiCodePage_, UserLocaleId(), false);
}

const std::vector<int>& TDbfGlobals::InstalledCodePages() {
  std::call_once(installedOnce_, [this] { installedCodePages_ = norvale::InstalledCodePages(); });
  return installedCodePages_;
}

void TDbfGlobals::SetComputerName(const std::string& name) { computerName_ = name.substr(0, 16); }

int TDbfGlobals::CurrentYear() const { return pinnedYear_ ? pinnedYear_ : LocalNow().year; }

}  // namespace norvale
