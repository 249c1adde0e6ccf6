// TDbfGlobals: the engine's per-process state.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace norvale {

class TDbfGlobals {
 public:
  static TDbfGlobals& Instance();

  // The "ANSI" and "OEM" code page numbers (1252 and 437 unless
  // NORVALE_ANSI_CP / NORVALE_OEM_CP say otherwise). Tables that name no code
  // page are read in the default code page, the ANSI one.
  int DefaultCodePage() const { return defaultCodePage_; }
  int AnsiCodePage() const { return ansiCodePage_; }
  int OemCodePage() const { return oemCodePage_; }
  void SetDefaultCodePage(int codePage) { defaultCodePage_ = codePage; }
  // The language driver new tables get when they name none: the one for the
  // ANSI code page and the user's locale, dBASE family.
  int DefaultLanguageId() const { return defaultLanguageId_; }
  // Code pages the converters handle.
  // Listed on first use: asking the converters about every page costs more
  // than most runs of the command-line tool take altogether.
  const std::vector<int>& InstalledCodePages();

  // The user name written into lock fields: the computer name, at most 16
  // characters.
  const std::string& ComputerName() const { return computerName_; }
  void SetComputerName(const std::string& name);

  bool CurrencyAsBCD() const { return currencyAsBCD_; }
  void SetCurrencyAsBCD(bool value) { currencyAsBCD_ = value; }

  // The current year, for the two-digit year window of text dates. Tests pin it.
  int CurrentYear() const;
  void SetCurrentYearForTesting(int year) { pinnedYear_ = year; }

 private:
  TDbfGlobals();
  int defaultCodePage_;
  int ansiCodePage_;
  int oemCodePage_;
  int defaultLanguageId_ = 0;
  std::vector<int> installedCodePages_;
  std::once_flag installedOnce_;
  std::string computerName_;
  bool currencyAsBCD_ = true;
  int pinnedYear_ = 0;
};

}  // namespace norvale
