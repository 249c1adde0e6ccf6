#include "platform/text_services.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include <unicode/ucasemap.h>
#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/ucol.h>
#include <unicode/uloc.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

namespace norvale {

namespace {

constexpr char16_t kReplacement = 0xFFFD;
constexpr const char kReplacementUtf8[] = "\xEF\xBF\xBD";

struct TConverterCloser {
  void operator()(UConverter* cnv) const { ucnv_close(cnv); }
};
using TConverterPtr = std::unique_ptr<UConverter, TConverterCloser>;

// Names to try for a code page, best first. Where Windows and ICU disagree on
// a number's default table, the Windows one is named outright.
std::vector<std::string> CandidateConverterNames(int codePage) {
  switch (codePage) {
    case 65001: return {"UTF-8"};
    case 20127: return {"US-ASCII"};
    case 874: return {"windows-874-2000"};
    case 932: return {"ibm-943_P15A-2003"};
    case 936: return {"windows-936-2000"};
    case 949: return {"windows-949-2000"};
    case 950: return {"windows-950-2000"};
    case 28603: return {"ISO-8859-13"};
    case 28605: return {"ISO-8859-15"};
    // 620 (Mazovia) and 895 (Kamenicky) have no converter. ICU does have 867
    // and 868, but as IBM's Hebrew and Urdu pages, while a table naming them
    // means Kamenicky and Bulgarian: decoding by those would be silently
    // wrong text, so they count as missing, as they do on Windows.
    case 620:
    case 867:
    case 868:
    case 895: return {};
    default: break;
  }
  if (codePage >= 28591 && codePage <= 28599) return {"ISO-8859-" + std::to_string(codePage - 28590)};
  const std::string n = std::to_string(codePage);
  return {"windows-" + n, "ibm-" + n, "cp" + n};
}

// ICU's default for an undecodable byte is U+001A on pages that own a
// one-byte substitute, which looks like data; U+FFFD is unmistakable.
void ToUnicodeReplacement(const void*, UConverterToUnicodeArgs* args, const char*, int32_t,
                          UConverterCallbackReason reason, UErrorCode* err) {
  if (reason > UCNV_IRREGULAR) return;  // reset, close and clone need nothing
  *err = U_ZERO_ERROR;
  const UChar replacement = kReplacement;
  ucnv_cbToUWriteUChars(args, &replacement, 1, 0, err);
}

// A converter set up the way every conversion here wants it.
TConverterPtr OpenConverter(const std::string& name) {
  UErrorCode status = U_ZERO_ERROR;
  TConverterPtr cnv(ucnv_open(name.c_str(), &status));
  if (U_FAILURE(status) || !cnv) return nullptr;
  status = U_ZERO_ERROR;
  ucnv_setToUCallBack(cnv.get(), ToUnicodeReplacement, nullptr, nullptr, nullptr, &status);
  if (ucnv_getType(cnv.get()) != UCNV_UTF8) {
    status = U_ZERO_ERROR;
    ucnv_setSubstChars(cnv.get(), "?", 1, &status);
  }
  return cnv;
}

// The characters of one byte sequence, or empty when it does not decode.
std::u16string DecodeAlone(UConverter* cnv, const char* bytes, size_t count) {
  UChar buffer[8];
  UErrorCode status = U_ZERO_ERROR;
  int32_t n = ucnv_toUChars(cnv, buffer, 8, bytes, static_cast<int32_t>(count), &status);
  if (U_FAILURE(status) || n <= 0 || n > 8) return {};
  return std::u16string(reinterpret_cast<const char16_t*>(buffer), static_cast<size_t>(n));
}

bool UsableConverter(UConverter* cnv) {
  switch (ucnv_getType(cnv)) {
    case UCNV_SBCS:
    case UCNV_MBCS:
    case UCNV_LATIN_1:
    case UCNV_US_ASCII:
    case UCNV_UTF8: break;
    default: return false;
  }
  static constexpr std::string_view kMustStay =
      " 0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  for (char c : kMustStay) {
    if (DecodeAlone(cnv, &c, 1) != std::u16string(1, static_cast<char16_t>(c))) return false;
  }
  return true;
}

// Everything a code page's conversions and case mapping need, built once.
struct TCodePage {
  int number = 0;
  std::string icuName;
  bool singleByte = false;
  bool utf8 = false;
  // Single-byte pages are converted by table, without ICU on the hot path.
  std::array<char16_t, 256> toUnicode{};
  std::array<std::string, 256> toUtf8;
  // The byte holding a BMP character; valid only when toUnicode maps that
  // byte back to the character, which spares a second "held" table.
  std::vector<uint8_t> fromUnicode;
  // Multi-byte pages: bytes after which the next byte belongs to the same
  // character.
  std::array<bool, 256> leadByte{};
  std::array<uint8_t, 256> upper{};
  std::array<uint8_t, 256> lower{};
  // A multi-byte page whose ICU converter rotates 0x1A, 0x1C and 0x7F.
  bool rotatedControls = false;

  int ByteFor(uint32_t c) const {
    if (c > 0xFFFF) return -1;
    uint8_t b = fromUnicode[c];
    return toUnicode[b] == c ? b : -1;
  }
};

uint8_t AsciiUpper(uint8_t b) { return b >= 'a' && b <= 'z' ? static_cast<uint8_t>(b - 32) : b; }
uint8_t AsciiLower(uint8_t b) { return b >= 'A' && b <= 'Z' ? static_cast<uint8_t>(b + 32) : b; }

void FillAsciiCase(TCodePage& page) {
  for (int b = 0; b < 256; ++b) {
    page.upper[static_cast<size_t>(b)] = AsciiUpper(static_cast<uint8_t>(b));
    page.lower[static_cast<size_t>(b)] = AsciiLower(static_cast<uint8_t>(b));
  }
}

void AppendUtf8(std::string& out, UChar32 c) {
  char buffer[U8_MAX_LENGTH];
  int32_t n = 0;
  UBool error = false;
  U8_APPEND(buffer, n, U8_MAX_LENGTH, c, error);
  if (error)
    out += kReplacementUtf8;
  else
    out.append(buffer, static_cast<size_t>(n));
}

// The single-byte result of a character's root-locale case mapping, or the
// byte itself when the mapping leaves the page or becomes several characters.
uint8_t MapCase(const TCodePage& page, uint8_t b, bool toUpper) {
  UChar c = page.toUnicode[b];
  if (c == kReplacement) return b;
  UChar mapped[4];
  UErrorCode status = U_ZERO_ERROR;
  int32_t n = toUpper ? u_strToUpper(mapped, 4, &c, 1, "", &status) : u_strToLower(mapped, 4, &c, 1, "", &status);
  if (U_FAILURE(status) || n != 1) return b;
  int held = page.ByteFor(mapped[0]);
  return held < 0 ? b : static_cast<uint8_t>(held);
}

// ICU's IBM PC pages rotate three controls: 0x1A decodes as U+001C, 0x1C as
// U+007F and 0x7F as U+001A. Windows and every other reader keep them as
// themselves, and so must we, or the end-of-file mark 0x1A would come back
// from a round trip through another code page as a different control.
bool RotatesControls(UConverter* cnv) {
  const char bytes[] = {0x1A, 0x1C, 0x7F};
  return DecodeAlone(cnv, bytes, 1) == u"\x1C" && DecodeAlone(cnv, bytes + 1, 1) == u"\x7F" &&
         DecodeAlone(cnv, bytes + 2, 1) == u"\x1A";
}

char16_t UnrotateControl(char16_t c) { return c == 0x1C ? 0x1A : c == 0x7F ? 0x1C : c == 0x1A ? 0x7F : c; }
char16_t RotateControl(char16_t c) { return c == 0x1A ? 0x1C : c == 0x1C ? 0x7F : c == 0x7F ? 0x1A : c; }

// Bytes where ICU's table for a number departs from the one Windows publishes
// for it (and other readers of these tables follow): the micro sign of the
// PC pages, which ICU reads as Greek mu, and signs ICU leaves unmapped or
// reads as their Greek look-alikes.
struct TByteOverride {
  int codePage;
  uint8_t byte;
  char16_t character;
};
constexpr TByteOverride kWindowsBytes[] = {
    {437, 0xE6, 0x00B5}, {860, 0xE6, 0x00B5}, {861, 0xE6, 0x00B5}, {862, 0xE6, 0x00B5},
    {863, 0xE6, 0x00B5}, {865, 0xE6, 0x00B5}, {852, 0xAA, 0x00AC}, {869, 0x88, 0x00B7},
    {869, 0xEF, 0x0384},
};

void BuildSingleByte(TCodePage& page, UConverter* cnv) {
  for (int b = 0; b < 256; ++b) {
    char byte = static_cast<char>(b);
    std::u16string chars = DecodeAlone(cnv, &byte, 1);
    page.toUnicode[static_cast<size_t>(b)] = chars.size() == 1 ? chars[0] : kReplacement;
  }
  auto& t = page.toUnicode;
  if (RotatesControls(cnv)) {
    t[0x1A] = 0x1A;
    t[0x1C] = 0x1C;
    t[0x7F] = 0x7F;
  }
  for (const TByteOverride& o : kWindowsBytes)
    if (o.codePage == page.number) t[o.byte] = o.character;
  page.fromUnicode.assign(0x10000, 0);
  for (int b = 0; b < 256; ++b) {
    char16_t c = t[static_cast<size_t>(b)];
    if (c == kReplacement) continue;
    // When several bytes decode to one character, the one ICU encodes it to
    // is the round-trip byte; the others are one-way legacy mappings.
    UChar in = c;
    char encoded[4];
    UErrorCode status = U_ZERO_ERROR;
    ucnv_setFromUCallBack(cnv, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    int32_t n = ucnv_fromUChars(cnv, encoded, 4, &in, 1, &status);
    if (U_SUCCESS(status) && n == 1 && t[static_cast<uint8_t>(encoded[0])] == c)
      page.fromUnicode[c] = static_cast<uint8_t>(encoded[0]);
    else if (page.ByteFor(c) < 0)
      page.fromUnicode[c] = static_cast<uint8_t>(b);
  }
  for (int b = 0; b < 256; ++b) {
    std::string& utf8 = page.toUtf8[static_cast<size_t>(b)];
    AppendUtf8(utf8, t[static_cast<size_t>(b)]);
    page.upper[static_cast<size_t>(b)] = MapCase(page, static_cast<uint8_t>(b), true);
    page.lower[static_cast<size_t>(b)] = MapCase(page, static_cast<uint8_t>(b), false);
  }
}

std::unique_ptr<TCodePage> BuildCodePage(int codePage) {
  if (codePage <= 0 || codePage > 0xFFFF) return nullptr;
  for (const std::string& name : CandidateConverterNames(codePage)) {
    TConverterPtr cnv = OpenConverter(name);
    if (!cnv) continue;
    if (!UsableConverter(cnv.get())) return nullptr;
    auto page = std::make_unique<TCodePage>();
    page->number = codePage;
    UErrorCode status = U_ZERO_ERROR;
    page->icuName = ucnv_getName(cnv.get(), &status);
    page->utf8 = ucnv_getType(cnv.get()) == UCNV_UTF8;
    page->singleByte = ucnv_getMaxCharSize(cnv.get()) == 1;
    if (page->singleByte) {
      BuildSingleByte(*page, cnv.get());
    } else {
      FillAsciiCase(*page);
      if (!page->utf8) {
        page->rotatedControls = RotatesControls(cnv.get());
        // UTF-8 has no lead bytes to honour: its trail bytes are never ASCII.
        UBool starters[256];
        status = U_ZERO_ERROR;
        ucnv_getStarters(cnv.get(), starters, &status);
        if (U_SUCCESS(status))
          for (int b = 0; b < 256; ++b) page->leadByte[static_cast<size_t>(b)] = starters[b];
      }
    }
    return page;
  }
  return nullptr;
}

// Code pages live until the process ends, so the pointers handed out stay
// valid in every thread; a miss is remembered as a null entry.
const TCodePage* FindCodePage(int codePage) {
  static std::mutex mutex;
  static auto* pages = new std::unordered_map<int, std::unique_ptr<TCodePage>>;
  std::lock_guard<std::mutex> lock(mutex);
  auto it = pages->find(codePage);
  if (it == pages->end()) it = pages->emplace(codePage, BuildCodePage(codePage)).first;
  return it->second.get();
}

// Multi-byte conversions go through ICU converters, which hold state and so
// cannot be shared between threads; each thread keeps its own.
UConverter* ThreadConverter(const TCodePage& page) {
  thread_local std::unordered_map<int, TConverterPtr> converters;
  TConverterPtr& cnv = converters[page.number];
  if (!cnv) cnv = OpenConverter(page.icuName);
  return cnv.get();
}

bool MultiByteToUtf16(const TCodePage& page, std::string_view bytes, std::u16string& out) {
  UConverter* cnv = ThreadConverter(page);
  if (!cnv) return false;
  out.resize(bytes.size() + 1);
  for (int attempt = 0; attempt < 2; ++attempt) {
    UErrorCode status = U_ZERO_ERROR;
    int32_t n = ucnv_toUChars(cnv, reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()),
                              bytes.data(), static_cast<int32_t>(bytes.size()), &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
      out.resize(static_cast<size_t>(n) + 1);
      continue;
    }
    if (U_FAILURE(status)) break;
    out.resize(static_cast<size_t>(n));
    if (page.rotatedControls)
      for (char16_t& c : out) c = UnrotateControl(c);
    return true;
  }
  out.clear();
  return false;
}

bool Utf16ToMultiByte(const TCodePage& page, std::u16string_view text, std::string& out) {
  UConverter* cnv = ThreadConverter(page);
  if (!cnv) return false;
  std::u16string rotated;
  if (page.rotatedControls && std::any_of(text.begin(), text.end(), [](char16_t c) { return RotateControl(c) != c; })) {
    rotated.assign(text);
    for (char16_t& c : rotated) c = RotateControl(c);
    text = rotated;
  }
  out.resize(text.size() * 2 + 1);
  for (int attempt = 0; attempt < 2; ++attempt) {
    UErrorCode status = U_ZERO_ERROR;
    int32_t n = ucnv_fromUChars(cnv, out.data(), static_cast<int32_t>(out.size()),
                                reinterpret_cast<const UChar*>(text.data()), static_cast<int32_t>(text.size()),
                                &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
      out.resize(static_cast<size_t>(n) + 1);
      continue;
    }
    if (U_FAILURE(status)) break;
    out.resize(static_cast<size_t>(n));
    return true;
  }
  out.clear();
  return false;
}

// Valid UTF-8 is copied; each ill-formed part becomes one U+FFFD.
void SanitizeUtf8(std::string_view in, std::string& out) {
  const auto* s = reinterpret_cast<const uint8_t*>(in.data());
  const auto length = static_cast<int32_t>(in.size());
  int32_t i = 0;
  while (i < length) {
    int32_t start = i;
    UChar32 c;
    U8_NEXT(s, i, length, c);
    if (c < 0)
      out += kReplacementUtf8;
    else
      out.append(in.data() + start, static_cast<size_t>(i - start));
  }
}

void Utf16ToUtf8(std::u16string_view text, std::string& out) {
  const auto length = static_cast<int32_t>(text.size());
  int32_t i = 0;
  while (i < length) {
    UChar32 c;
    U16_NEXT(text.data(), i, length, c);
    AppendUtf8(out, U_IS_SURROGATE(c) ? kReplacement : c);
  }
}

void Utf8ToUtf16(std::string_view utf8, std::u16string& out) {
  const auto* s = reinterpret_cast<const uint8_t*>(utf8.data());
  const auto length = static_cast<int32_t>(utf8.size());
  int32_t i = 0;
  while (i < length) {
    UChar32 c;
    U8_NEXT(s, i, length, c);
    if (c < 0) c = kReplacement;
    if (c > 0xFFFF) {
      out += static_cast<char16_t>(U16_LEAD(c));
      out += static_cast<char16_t>(U16_TRAIL(c));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
}

std::string LocaleFromEnvironment(const char* value) {
  std::string text = value ? value : "";
  std::string modifier;
  if (auto at = text.find('@'); at != std::string::npos) {
    modifier = text.substr(at + 1);
    text.erase(at);
  }
  if (auto dot = text.find('.'); dot != std::string::npos) text.erase(dot);
  if (text.empty() || text == "C" || text == "POSIX") return "root";
  char buffer[ULOC_FULLNAME_CAPACITY];
  UErrorCode status = U_ZERO_ERROR;
  int32_t n = uloc_canonicalize(text.c_str(), buffer, sizeof buffer, &status);
  if (U_FAILURE(status) || n <= 0 || n >= static_cast<int32_t>(sizeof buffer)) return "root";
  std::string name(buffer, static_cast<size_t>(n));
  // glibc spells the script of a language written two ways as a modifier.
  const char* script = modifier == "latin" ? "Latn" : modifier == "cyrillic" ? "Cyrl" : nullptr;
  if (script) {
    char language[ULOC_LANG_CAPACITY];
    char country[ULOC_COUNTRY_CAPACITY];
    status = U_ZERO_ERROR;
    uloc_getLanguage(name.c_str(), language, sizeof language, &status);
    uloc_getCountry(name.c_str(), country, sizeof country, &status);
    if (U_SUCCESS(status)) {
      name = language;
      name.append("_").append(script);
      if (*country) name.append("_").append(country);
    }
  }
  return name;
}

const char* LocaleEnvironment() {
  for (const char* variable : {"LC_ALL", "LC_COLLATE", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value && *value) return value;
  }
  return "";
}

int CodePageFromEnvironment(const char* variable, int fallback) {
  const char* value = std::getenv(variable);
  if (!value || !*value) return fallback;
  char* end = nullptr;
  long n = std::strtol(value, &end, 10);
  if (*end != '\0' || n <= 0 || n > 0xFFFF) return fallback;
  return static_cast<int>(n);
}

// Collators and case maps are only read once made (ICU allows concurrent
// const use), so one of each per locale serves every thread.
const UCollator* CollatorFor(const std::string& locale, bool ignoreCase) {
  static std::mutex mutex;
  static auto* collators = new std::map<std::pair<std::string, bool>, UCollator*>;
  std::lock_guard<std::mutex> lock(mutex);
  auto key = std::make_pair(locale, ignoreCase);
  auto it = collators->find(key);
  if (it != collators->end()) return it->second;
  UErrorCode status = U_ZERO_ERROR;
  UCollator* coll = ucol_open(locale == "root" ? "" : locale.c_str(), &status);
  if (U_FAILURE(status)) {
    if (coll) ucol_close(coll);
    coll = nullptr;
  } else {
    ucol_setStrength(coll, ignoreCase ? UCOL_SECONDARY : UCOL_TERTIARY);
  }
  collators->emplace(key, coll);
  return coll;
}

const UCaseMap* CaseMapFor(const std::string& locale) {
  static std::mutex mutex;
  static auto* maps = new std::map<std::string, UCaseMap*>;
  std::lock_guard<std::mutex> lock(mutex);
  auto it = maps->find(locale);
  if (it != maps->end()) return it->second;
  UErrorCode status = U_ZERO_ERROR;
  UCaseMap* map = ucasemap_open(locale == "root" ? "" : locale.c_str(), 0, &status);
  if (U_FAILURE(status)) {
    if (map) ucasemap_close(map);
    map = nullptr;
  }
  maps->emplace(locale, map);
  return map;
}

// The user's locale, re-derived only when the environment text changes:
// comparisons run inside sorts and must not canonicalize every time.
std::string CurrentLocale() {
  thread_local std::string lastEnvironment = "\x01";
  thread_local std::string lastLocale;
  const char* environment = LocaleEnvironment();
  if (lastEnvironment != environment) {
    lastLocale = LocaleFromEnvironment(environment);
    lastEnvironment = environment;
  }
  return lastLocale;
}

std::string MapCaseUtf8(std::string_view text, bool toUpper) {
  const UCaseMap* map = CaseMapFor(CurrentLocale());
  if (!map || text.empty()) return std::string(text);
  std::string out(text.size() + text.size() / 2 + 16, '\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    UErrorCode status = U_ZERO_ERROR;
    int32_t n = toUpper ? ucasemap_utf8ToUpper(map, out.data(), static_cast<int32_t>(out.size()), text.data(),
                                               static_cast<int32_t>(text.size()), &status)
                        : ucasemap_utf8ToLower(map, out.data(), static_cast<int32_t>(out.size()), text.data(),
                                               static_cast<int32_t>(text.size()), &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
      out.assign(static_cast<size_t>(n) + 1, '\0');
      continue;
    }
    if (U_FAILURE(status)) break;
    out.resize(static_cast<size_t>(n));
    return out;
  }
  return std::string(text);
}

void MapCaseInCodePage(int codePage, char* text, size_t length, bool toUpper) {
  const TCodePage* page = FindCodePage(codePage);
  if (!page) {
    for (size_t i = 0; i < length; ++i) {
      auto b = static_cast<uint8_t>(text[i]);
      text[i] = static_cast<char>(toUpper ? AsciiUpper(b) : AsciiLower(b));
    }
    return;
  }
  const std::array<uint8_t, 256>& table = toUpper ? page->upper : page->lower;
  if (page->singleByte) {
    for (size_t i = 0; i < length; ++i) text[i] = static_cast<char>(table[static_cast<uint8_t>(text[i])]);
    return;
  }
  for (size_t i = 0; i < length; ++i) {
    auto b = static_cast<uint8_t>(text[i]);
    if (page->leadByte[b])
      ++i;  // the trail byte may look like an ASCII letter
    else
      text[i] = static_cast<char>(table[b]);
  }
}

}  // namespace

std::string IcuConverterName(int codePage) {
  const TCodePage* page = FindCodePage(codePage);
  return page ? page->icuName : std::string();
}

bool CodePageInstalled(int codePage) { return FindCodePage(codePage) != nullptr; }

bool CodePageIsSingleByte(int codePage) {
  const TCodePage* page = FindCodePage(codePage);
  return page && page->singleByte;
}

std::vector<int> InstalledCodePages() {
  static const std::vector<int> installed = [] {
    std::vector<int> candidates = {437, 620, 708, 720, 737, 775, 850, 852, 855, 857, 858};
    for (int cp = 860; cp <= 869; ++cp) candidates.push_back(cp);
    for (int cp : {874, 895, 932, 936, 949, 950}) candidates.push_back(cp);
    for (int cp = 1250; cp <= 1258; ++cp) candidates.push_back(cp);
    for (int cp : {1361, 10000, 10001, 10002, 10003, 10004, 10005, 10006, 10007, 10008, 10010, 10017, 10021,
                   10029, 10079, 10081, 10082, 20127, 20866, 21866})
      candidates.push_back(cp);
    for (int cp = 28591; cp <= 28605; ++cp) candidates.push_back(cp);
    candidates.push_back(54936);
    candidates.push_back(65001);
    std::vector<int> result;
    for (int cp : candidates)
      if (CodePageInstalled(cp)) result.push_back(cp);
    std::sort(result.begin(), result.end());
    return result;
  }();
  return installed;
}

int AnsiCodePage() { return CodePageFromEnvironment("NORVALE_ANSI_CP", 1252); }
int OemCodePage() { return CodePageFromEnvironment("NORVALE_OEM_CP", 437); }

std::string UserLocaleName() { return CurrentLocale(); }

uint32_t UserLocaleId() {
  const std::string name = CurrentLocale();
  if (name == "root") return 0x0409;
  uint32_t lcid = uloc_getLCID(name.c_str());
  if (lcid < 0x400) {
    // A bare language ("de") has only a neutral id; a user locale always
    // names a country, so take the likely one.
    char likely[ULOC_FULLNAME_CAPACITY];
    UErrorCode status = U_ZERO_ERROR;
    uloc_addLikelySubtags(name.c_str(), likely, sizeof likely, &status);
    if (U_SUCCESS(status) && status != U_STRING_NOT_TERMINATED_WARNING) {
      uint32_t full = uloc_getLCID(likely);
      if (full < 0x400) {
        char language[ULOC_LANG_CAPACITY];
        char country[ULOC_COUNTRY_CAPACITY];
        uloc_getLanguage(likely, language, sizeof language, &status);
        uloc_getCountry(likely, country, sizeof country, &status);
        if (U_SUCCESS(status)) full = uloc_getLCID((std::string(language) + "_" + country).c_str());
      }
      if (full >= 0x400) lcid = full;
    }
  }
  return lcid ? lcid : 0x0409;
}

bool CodePageToUtf16(int codePage, std::string_view bytes, std::u16string& out) {
  out.clear();
  const TCodePage* page = FindCodePage(codePage);
  if (!page) return false;
  if (page->singleByte) {
    out.resize(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) out[i] = page->toUnicode[static_cast<uint8_t>(bytes[i])];
    return true;
  }
  if (page->utf8) {
    Utf8ToUtf16(bytes, out);
    return true;
  }
  return MultiByteToUtf16(*page, bytes, out);
}

bool Utf16ToCodePage(int codePage, std::u16string_view text, std::string& out) {
  out.clear();
  const TCodePage* page = FindCodePage(codePage);
  if (!page) return false;
  if (page->singleByte) {
    const auto length = static_cast<int32_t>(text.size());
    int32_t i = 0;
    while (i < length) {
      UChar32 c;
      U16_NEXT(text.data(), i, length, c);
      int b = U_IS_SURROGATE(c) ? -1 : page->ByteFor(static_cast<uint32_t>(c));
      out += b < 0 ? '?' : static_cast<char>(b);
    }
    return true;
  }
  if (page->utf8) {
    Utf16ToUtf8(text, out);
    return true;
  }
  return Utf16ToMultiByte(*page, text, out);
}

bool CodePageToUtf8(int codePage, std::string_view bytes, std::string& out) {
  out.clear();
  const TCodePage* page = FindCodePage(codePage);
  if (!page) return false;
  if (page->singleByte) {
    out.reserve(bytes.size());
    for (char b : bytes) out += page->toUtf8[static_cast<uint8_t>(b)];
    return true;
  }
  if (page->utf8) {
    SanitizeUtf8(bytes, out);
    return true;
  }
  std::u16string wide;
  if (!MultiByteToUtf16(*page, bytes, wide)) return false;
  Utf16ToUtf8(wide, out);
  return true;
}

std::string Utf8ToCodePageWithin(int codePage, std::string_view utf8, size_t maxBytes) {
  bool ascii = true;
  for (unsigned char c : utf8)
    if (c >= 0x80) ascii = false;
  if (ascii) return std::string(utf8.substr(0, maxBytes));
  std::string out;
  Utf8ToCodePage(codePage, utf8, out);
  if (out.size() <= maxBytes) return out;
  if (CodePageIsSingleByte(codePage)) {
    out.resize(maxBytes);
    return out;
  }
  std::string_view rest = utf8;
  while (!rest.empty() && out.size() > maxBytes) {
    // Cut roughly to size first, then character by character.
    size_t cut = std::min(rest.size() - 1, rest.size() * maxBytes / std::max<size_t>(out.size(), 1) + 4);
    while (cut > 0 && (static_cast<unsigned char>(rest[cut]) & 0xC0) == 0x80) --cut;
    rest = rest.substr(0, cut);
    out.clear();
    Utf8ToCodePage(codePage, rest, out);
  }
  if (out.size() > maxBytes) out.clear();
  return out;
}

bool Utf8ToCodePage(int codePage, std::string_view utf8, std::string& out) {
  out.clear();
  const TCodePage* page = FindCodePage(codePage);
  if (!page) return false;
  if (page->utf8) {
    SanitizeUtf8(utf8, out);
    return true;
  }
  if (page->singleByte) {
    const auto* s = reinterpret_cast<const uint8_t*>(utf8.data());
    const auto length = static_cast<int32_t>(utf8.size());
    int32_t i = 0;
    while (i < length) {
      UChar32 c;
      U8_NEXT(s, i, length, c);
      int b = c < 0 ? -1 : page->ByteFor(static_cast<uint32_t>(c));
      out += b < 0 ? '?' : static_cast<char>(b);
    }
    return true;
  }
  std::u16string wide;
  Utf8ToUtf16(utf8, wide);
  return Utf16ToMultiByte(*page, wide, out);
}

std::string UnstorableCharacters(int codePage, std::string_view utf8) {
  std::string missing;
  const TCodePage* page = FindCodePage(codePage);
  if (!page || page->utf8) return missing;
  const auto* s = reinterpret_cast<const uint8_t*>(utf8.data());
  const auto length = static_cast<int32_t>(utf8.size());
  std::vector<UChar32> seen;
  std::string bytes, back;
  int32_t i = 0;
  while (i < length) {
    const int32_t start = i;
    UChar32 c;
    U8_NEXT(s, i, length, c);
    if (c >= 0 && c < 0x80) continue;
    if (std::find(seen.begin(), seen.end(), c) != seen.end()) continue;
    seen.push_back(c);
    const std::string_view one = utf8.substr(static_cast<size_t>(start), static_cast<size_t>(i - start));
    // A round trip also catches "best fit" mappings that store a look-alike.
    if (c >= 0 && Utf8ToCodePage(codePage, one, bytes) && CodePageToUtf8(codePage, bytes, back) && back == one) continue;
    missing.append(c < 0 ? std::string_view("\xEF\xBF\xBD") : one);
  }
  return missing;
}

int CompareLocale(std::string_view a, std::string_view b, bool ignoreCase) {
  const UCollator* coll = CollatorFor(CurrentLocale(), ignoreCase);
  if (coll) {
    UErrorCode status = U_ZERO_ERROR;
    UCollationResult r = ucol_strcollUTF8(coll, a.data(), static_cast<int32_t>(a.size()), b.data(),
                                          static_cast<int32_t>(b.size()), &status);
    if (U_SUCCESS(status)) return r == UCOL_LESS ? -1 : r == UCOL_GREATER ? 1 : 0;
  }
  int r = a.compare(b);
  return r < 0 ? -1 : r > 0 ? 1 : 0;
}

bool CollationIsRootOrder(bool ignoreCase) {
  const UCollator* coll = CollatorFor(CurrentLocale(), ignoreCase);
  if (!coll) return false;
  int32_t rulesLength = 0;
  ucol_getRules(coll, &rulesLength);
  UErrorCode status = U_ZERO_ERROR;
  const int32_t reorderCount = ucol_getReorderCodes(coll, nullptr, 0, &status);
  if (status == U_BUFFER_OVERFLOW_ERROR) status = U_ZERO_ERROR;
  auto attribute = [&](UColAttribute a) { return ucol_getAttribute(coll, a, &status); };
  const bool plain = rulesLength == 0 && reorderCount == 0 && attribute(UCOL_ALTERNATE_HANDLING) == UCOL_NON_IGNORABLE &&
                     attribute(UCOL_NUMERIC_COLLATION) == UCOL_OFF && attribute(UCOL_CASE_LEVEL) == UCOL_OFF &&
                     attribute(UCOL_CASE_FIRST) == UCOL_OFF;
  return plain && U_SUCCESS(status);
}

size_t MapCaseUtf8Into(std::string_view text, char* out, size_t capacity, bool toUpper) {
  const UCaseMap* map = text.empty() ? nullptr : CaseMapFor(CurrentLocale());
  if (!map) {
    if (text.size() <= capacity) std::memcpy(out, text.data(), text.size());
    return text.size();
  }
  const auto room = static_cast<int32_t>(std::min<size_t>(capacity, INT32_MAX));
  UErrorCode status = U_ZERO_ERROR;
  const int32_t n = toUpper ? ucasemap_utf8ToUpper(map, out, room, text.data(), static_cast<int32_t>(text.size()), &status)
                            : ucasemap_utf8ToLower(map, out, room, text.data(), static_cast<int32_t>(text.size()), &status);
  if (status == U_BUFFER_OVERFLOW_ERROR) return static_cast<size_t>(n);
  if (U_FAILURE(status)) {
    if (text.size() <= capacity) std::memcpy(out, text.data(), text.size());
    return text.size();
  }
  return static_cast<size_t>(n);
}

size_t UpperUtf8Into(std::string_view text, char* out, size_t capacity) {
  return MapCaseUtf8Into(text, out, capacity, true);
}
size_t LowerUtf8Into(std::string_view text, char* out, size_t capacity) {
  return MapCaseUtf8Into(text, out, capacity, false);
}

std::string UpperUtf8(std::string_view text) { return MapCaseUtf8(text, true); }
std::string LowerUtf8(std::string_view text) { return MapCaseUtf8(text, false); }

void UpperInCodePage(int codePage, char* text, size_t length) { MapCaseInCodePage(codePage, text, length, true); }
void LowerInCodePage(int codePage, char* text, size_t length) { MapCaseInCodePage(codePage, text, length, false); }

}  // namespace norvale
