#include "engine/language.h"

#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/collation_tables.h"
#include "engine/exceptions.h"
#include "engine/messages.h"
#include "platform/text_services.h"

namespace norvale {

namespace {

constexpr int kWorkBufferUnits = 1024;

const TLanguageEntry kEmptyEntry{};

template <typename Matches>
int FindId(int codePage, bool foxWanted, Matches matches) {
  int dbase = 0;
  int fox = 0;
  for (int id = 0; id < 256; ++id) {
    const TLanguageEntry& e = kLanguageTable[static_cast<size_t>(id)];
    if ((codePage == 0 || e.codePage == codePage) && matches(e)) (LanguageFamily(id) == lfDBase ? dbase : fox) = id;
  }
  if (dbase != 0 && (!foxWanted || fox == 0)) return dbase;
  return fox;
}

std::string_view SubText(std::string_view text, size_t from, size_t count) {
  return from < text.size() ? text.substr(from, count) : std::string_view();
}

int CodePageFromNamePart(std::string_view text) {
  if (text == "WIN") return 1252;
  if (text == "REW") return 1255;
  if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos)
    throw EConvertError(FormatMessage(msg::kInvalidInteger, std::string(text).c_str()));
  int value = 0;
  for (char c : text) value = value * 10 + (c - '0');
  return value;
}

struct TRegistry {
  std::array<const TCollation*, 256> collation;
  std::array<std::string_view, 256> name;
  std::vector<std::unique_ptr<TCollation>> tables;
};

const TRegistry& Registry() {
  static const TRegistry registry = [] {
    TRegistry r;
    r.collation.fill(&BinaryCollation());
    for (int i = 0; i < kCollationRegistrationCount; ++i) {
      const TCollationRegistration& reg = kCollationRegistrations[i];
      const TCollation* collation = &BinaryCollation();
      if (reg.weights) {
        for (const auto& known : r.tables)
          if (known->Weights() == reg.weights) collation = known.get();
        if (collation->IsBinary()) {
          r.tables.push_back(std::make_unique<TCollation>(reg.weights));
          collation = r.tables.back().get();
        }
      }
      r.collation[static_cast<size_t>(reg.id)] = collation;
      r.name[static_cast<size_t>(reg.id)] = reg.name;
    }
    return r;
  }();
  return registry;
}

TIndexLocale Opened(const TCollation* collation, bool maintained, TLocaleError error) {
  // Ids beyond a byte have no collation; such an index still reads by byte.
  return TIndexLocale{error, true, maintained, collation ? collation : &BinaryCollation()};
}

}  // namespace

const TLanguageEntry& LanguageEntry(int id) {
  return id >= 0 && id < 256 ? kLanguageTable[static_cast<size_t>(id)] : kEmptyEntry;
}

TLanguageFamily LanguageFamily(int id) { return (id == 0 || (id >= 5 && id <= 93)) ? lfDBase : lfFoxPro; }

int FindLanguageId(int codePage, uint32_t localeId, bool foxWanted) {
  const uint32_t wanted = localeId & 0xFFFF;
  return FindId(codePage, foxWanted, [wanted](const TLanguageEntry& e) { return (e.localeId & 0xFFFF) == wanted; });
}

int FindLanguageId(int codePage, std::string_view suffix, bool foxWanted) {
  return FindId(codePage, foxWanted,
                [suffix](const TLanguageEntry& e) { return e.suffixKind == skText && suffix == e.suffix; });
}

int LanguageIdFor(int codePage, uint32_t localeId, bool foxWanted) {
  const int id = FindLanguageId(codePage, localeId, foxWanted);
  return id != 0 ? id : FindLanguageId(0, localeId, foxWanted);
}

std::string LanguageNameFor(int codePage, uint32_t localeId, bool foxWanted) {
  const TLanguageEntry& e = LanguageEntry(LanguageIdFor(codePage, localeId, foxWanted));
  if (e.suffixKind == skNone) return {};
  const std::string page = codePage == 1252 ? "WIN" : std::to_string(codePage);
  // A FoxPro name is formed before the Bulgarian marker is looked at; the
  // marker itself contributes no text.
  if (foxWanted) return "FOX" + std::string(e.suffix) + page;
  if (e.suffixKind == skBulgarian) return "BGDB868";
  return "DB" + page + e.suffix;
}

int LanguageIdFromName(std::string_view name) {
  const bool fox = name.substr(0, 3) == "FOX";
  const std::string_view pageText = fox ? SubText(name, 5, 3) : SubText(name, 2, 3);
  const std::string_view suffix = fox ? SubText(name, 3, 2) : SubText(name, 5, 3);
  return FindLanguageId(CodePageFromNamePart(pageText), suffix, fox);
}

const TCollation& BinaryCollation() {
  static const TCollation binary;
  return binary;
}

const TCollation* CollationFor(int id) {
  if (id < 0 || id > 255) return nullptr;
  return Registry().collation[static_cast<size_t>(id)];
}

std::string_view CollationNameFor(int id) {
  if (id < 0 || id > 255) return {};
  return Registry().name[static_cast<size_t>(id)];
}

int CompareCollated(const TCollation& collation, const uint8_t* a, int lengthA, int lengthB, const uint8_t* b) {
  const int n = lengthA < lengthB ? lengthA : lengthB;
  for (int i = 0; i < n; ++i) {
    const int wa = collation.Weight(a[i]);
    const int wb = collation.Weight(b[i]);
    if (wa != wb) return wa - wb;
  }
  return (lengthA > lengthB) - (lengthA < lengthB);
}

int TranslateText(int fromCodePage, int toCodePage, const char* source, int length, char* target,
                  int targetCapacity) {
  if (length < 0) length = static_cast<int>(std::strlen(source));
  if (length == 0 || targetCapacity <= 0) return 0;
  if (fromCodePage == toCodePage) {
    if (length > targetCapacity) return 0;
    if (source != target) std::memmove(target, source, static_cast<size_t>(length));
    return length;
  }
  // The OEM/ANSI pair is the one conversion that has no work-buffer limit.
  const int ansi = AnsiCodePage();
  const int oem = OemCodePage();
  const bool oemAnsiPair = (fromCodePage == oem && toCodePage == ansi) || (fromCodePage == ansi && toCodePage == oem);
  std::u16string wide;
  if (!CodePageToUtf16(fromCodePage, std::string_view(source, static_cast<size_t>(length)), wide)) return 0;
  if (!oemAnsiPair && wide.size() > static_cast<size_t>(kWorkBufferUnits)) return 0;
  std::string out;
  if (!Utf16ToCodePage(toCodePage, wide, out)) return 0;
  if (out.size() > static_cast<size_t>(targetCapacity)) return 0;
  std::memcpy(target, out.data(), out.size());
  return static_cast<int>(out.size());
}

TIndexLocale CheckIndexLocale(int tableLanguageId, int indexLanguageId, const TLocaleErrorEvent& onLocaleError) {
  if (tableLanguageId == 0)
    return Opened(indexLanguageId != 0 ? CollationFor(indexLanguageId) : &BinaryCollation(), true, leNone);
  if (indexLanguageId == 0 || indexLanguageId == tableLanguageId)
    return Opened(CollationFor(tableLanguageId), true, leNone);

  TLocaleSolution solution = lsNotOpen;
  if (onLocaleError) onLocaleError(leNotAvailable, solution);
  switch (solution) {
    case lsNoEdit:
      return Opened(CollationFor(indexLanguageId), false, leNotAvailable);
    case lsBinary:
      return Opened(&BinaryCollation(), true, leNotAvailable);
    default:
      return TIndexLocale{leNotAvailable, false, false, nullptr};
  }
}

TIndexLocale CheckIndexLocale(std::string_view tableDriverName, int indexLanguageId,
                              const TLocaleErrorEvent& onLocaleError) {
  return CheckIndexLocale(LanguageIdFromName(tableDriverName), indexLanguageId, onLocaleError);
}

}  // namespace norvale
