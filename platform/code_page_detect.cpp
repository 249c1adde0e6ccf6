#include "platform/code_page_detect.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <span>
#include <string_view>
#include <unordered_map>

#include <uchardet/uchardet.h>
#include <unicode/uchar.h>
#include <unicode/uscript.h>

#include "platform/text_services.h"

namespace norvale {

namespace {

// ---------------------------------------------------------------------------
// What natural text looks like. Single-byte pages differ only above 0x7F, so
// a reading is judged by the characters its high bytes become: which letters
// a language uses and how often, whether they sit inside words the way that
// language's letters do, and whether the words keep one letter case. Each
// high byte adds the log of how likely its character is there; the page with
// the highest sum reads the sample most like natural text.

enum class TScript : uint8_t { kOther, kLatin, kCyrillic, kGreek };
enum class TGroup : uint8_t { kWestern, kCentral, kCyrillic, kGreek };

struct TLetterFrequency {
  char16_t letter;  // lower case
  float percent;
};

// Latin languages list their letters beyond ASCII only, as a share of all
// letters; Cyrillic and Greek list their whole alphabet. Frequencies are
// those of running text, nudged where names and addresses differ from it.
constexpr TLetterFrequency kGerman[] = {{u'ä', 0.58f}, {u'ö', 0.44f}, {u'ü', 1.0f}, {u'ß', 0.31f}, {u'é', 0.02f}};
constexpr TLetterFrequency kFrench[] = {{u'é', 1.5f},  {u'è', 0.27f}, {u'ê', 0.22f},  {u'à', 0.49f},
                                        {u'â', 0.05f}, {u'ç', 0.09f}, {u'ô', 0.05f},  {u'î', 0.05f},
                                        {u'û', 0.06f}, {u'ù', 0.06f}, {u'ë', 0.02f},  {u'ï', 0.02f},
                                        {u'œ', 0.02f}, {u'æ', 0.002f}, {u'ÿ', 0.001f}};
constexpr TLetterFrequency kSpanish[] = {{u'á', 0.5f},  {u'é', 0.43f}, {u'í', 0.73f}, {u'ó', 0.83f},
                                         {u'ú', 0.17f}, {u'ñ', 0.31f}, {u'ü', 0.02f}};
constexpr TLetterFrequency kPortuguese[] = {{u'á', 0.35f}, {u'â', 0.3f},  {u'ã', 0.73f}, {u'à', 0.07f},
                                            {u'ç', 0.53f}, {u'é', 0.34f}, {u'ê', 0.3f},  {u'í', 0.2f},
                                            {u'ó', 0.3f},  {u'ô', 0.15f}, {u'õ', 0.1f},  {u'ú', 0.2f},
                                            {u'ü', 0.01f}};
constexpr TLetterFrequency kCatalan[] = {{u'à', 0.6f},  {u'è', 0.4f},  {u'é', 0.3f},  {u'í', 0.4f},
                                         {u'ï', 0.05f}, {u'ò', 0.3f},  {u'ó', 0.3f},  {u'ú', 0.1f},
                                         {u'ü', 0.03f}, {u'ç', 0.1f}};
constexpr TLetterFrequency kItalian[] = {{u'à', 0.64f}, {u'è', 0.26f}, {u'é', 0.08f}, {u'ì', 0.08f},
                                         {u'ò', 0.1f},  {u'ù', 0.17f}};
constexpr TLetterFrequency kDanish[] = {{u'å', 1.19f}, {u'æ', 0.87f}, {u'ø', 0.94f}, {u'é', 0.02f}};
constexpr TLetterFrequency kSwedish[] = {{u'å', 1.34f}, {u'ä', 1.8f}, {u'ö', 1.31f}, {u'é', 0.02f}};
constexpr TLetterFrequency kFinnish[] = {{u'ä', 3.58f}, {u'ö', 0.44f}, {u'å', 0.01f}};
constexpr TLetterFrequency kDutch[] = {{u'ë', 0.05f}, {u'é', 0.05f}, {u'è', 0.01f}, {u'ï', 0.02f}, {u'ö', 0.01f}};

constexpr TLetterFrequency kCzech[] = {{u'á', 0.87f}, {u'č', 0.46f}, {u'ď', 0.02f},  {u'é', 0.63f},
                                       {u'ě', 1.22f}, {u'í', 1.64f}, {u'ň', 0.03f},  {u'ó', 0.03f},
                                       {u'ř', 0.38f}, {u'š', 0.69f}, {u'ť', 0.03f},  {u'ú', 0.05f},
                                       {u'ů', 0.2f},  {u'ý', 1.0f},  {u'ž', 0.72f}};
constexpr TLetterFrequency kSlovak[] = {{u'á', 2.0f},  {u'ä', 0.1f},  {u'č', 0.9f},  {u'ď', 0.15f}, {u'é', 0.7f},
                                        {u'í', 1.6f},  {u'ĺ', 0.01f}, {u'ľ', 0.3f},  {u'ň', 0.1f},  {u'ó', 0.2f},
                                        {u'ô', 0.2f},  {u'ŕ', 0.01f}, {u'š', 0.7f},  {u'ť', 0.4f},  {u'ú', 0.7f},
                                        {u'ý', 1.2f},  {u'ž', 0.8f}};
constexpr TLetterFrequency kPolish[] = {{u'ą', 0.7f},  {u'ć', 0.4f}, {u'ę', 1.04f}, {u'ł', 2.1f}, {u'ń', 0.36f},
                                        {u'ó', 1.14f}, {u'ś', 0.8f}, {u'ź', 0.08f}, {u'ż', 0.7f}};
constexpr TLetterFrequency kHungarian[] = {{u'á', 3.4f}, {u'é', 4.1f}, {u'í', 0.6f}, {u'ó', 1.0f}, {u'ö', 1.0f},
                                           {u'ő', 0.9f}, {u'ú', 0.3f}, {u'ü', 0.6f}, {u'ű', 0.3f}};
constexpr TLetterFrequency kCroatian[] = {{u'č', 1.0f}, {u'ć', 0.5f}, {u'đ', 0.2f}, {u'š', 0.9f}, {u'ž', 0.7f}};
constexpr TLetterFrequency kRomanian[] = {{u'ă', 2.5f}, {u'â', 0.6f}, {u'î', 1.0f}, {u'ş', 1.0f}, {u'ţ', 1.0f}};

constexpr TLetterFrequency kRussian[] = {
    {u'о', 10.97f}, {u'е', 8.45f}, {u'а', 8.01f}, {u'и', 7.35f}, {u'н', 6.7f},  {u'т', 6.26f}, {u'с', 5.47f},
    {u'р', 4.73f},  {u'в', 4.54f}, {u'л', 4.4f},  {u'к', 3.49f}, {u'м', 3.21f}, {u'д', 2.98f}, {u'п', 2.81f},
    {u'у', 2.62f},  {u'я', 2.01f}, {u'ы', 1.9f},  {u'ь', 1.74f}, {u'г', 1.7f},  {u'з', 1.65f}, {u'б', 1.59f},
    {u'ч', 1.44f},  {u'й', 1.21f}, {u'х', 0.97f}, {u'ж', 0.94f}, {u'ш', 0.73f}, {u'ю', 0.64f}, {u'ц', 0.48f},
    {u'щ', 0.36f},  {u'э', 0.32f}, {u'ф', 0.26f}, {u'ъ', 0.04f}, {u'ё', 0.1f}};
constexpr TLetterFrequency kUkrainian[] = {
    {u'о', 9.4f}, {u'а', 7.2f}, {u'н', 6.5f}, {u'і', 5.8f}, {u'и', 5.6f}, {u'в', 5.4f}, {u'р', 4.8f},
    {u'т', 4.7f}, {u'е', 4.6f}, {u'с', 4.1f}, {u'к', 3.6f}, {u'л', 3.5f}, {u'у', 3.4f}, {u'д', 3.0f},
    {u'м', 2.9f}, {u'п', 2.8f}, {u'я', 2.0f}, {u'з', 2.0f}, {u'ь', 1.7f}, {u'г', 1.5f}, {u'б', 1.5f},
    {u'ч', 1.3f}, {u'х', 1.1f}, {u'ц', 0.9f}, {u'ї', 0.9f}, {u'й', 0.9f}, {u'ж', 0.8f}, {u'ш', 0.7f},
    {u'ю', 0.6f}, {u'є', 0.5f}, {u'щ', 0.5f}, {u'ф', 0.3f}, {u'ґ', 0.05f}};
constexpr TLetterFrequency kBulgarian[] = {
    {u'а', 8.9f}, {u'о', 8.6f}, {u'е', 8.0f}, {u'и', 7.6f}, {u'н', 6.8f}, {u'т', 6.6f}, {u'р', 5.3f},
    {u'с', 4.5f}, {u'в', 4.4f}, {u'л', 3.4f}, {u'к', 3.4f}, {u'д', 3.1f}, {u'п', 3.0f}, {u'м', 2.6f},
    {u'ъ', 2.2f}, {u'я', 2.0f}, {u'з', 1.8f}, {u'г', 1.6f}, {u'б', 1.3f}, {u'у', 1.2f}, {u'ч', 1.2f},
    {u'ц', 0.9f}, {u'ж', 0.7f}, {u'ш', 0.6f}, {u'х', 0.5f}, {u'й', 0.5f}, {u'щ', 0.5f}, {u'ю', 0.3f},
    {u'ф', 0.2f}, {u'ь', 0.05f}};
constexpr TLetterFrequency kGreek[] = {
    {u'α', 10.0f}, {u'ο', 8.2f}, {u'ι', 6.7f}, {u'ε', 6.5f}, {u'τ', 8.0f}, {u'σ', 4.2f}, {u'ς', 3.3f},
    {u'ν', 6.6f},  {u'η', 3.9f}, {u'υ', 3.5f}, {u'ρ', 4.5f}, {u'π', 4.0f}, {u'κ', 4.0f}, {u'μ', 3.3f},
    {u'λ', 2.8f},  {u'ω', 1.3f}, {u'δ', 1.8f}, {u'γ', 1.8f}, {u'θ', 1.3f}, {u'χ', 1.2f}, {u'φ', 0.8f},
    {u'β', 0.7f},  {u'ξ', 0.5f}, {u'ζ', 0.4f}, {u'ψ', 0.2f}, {u'ά', 2.0f}, {u'έ', 1.5f}, {u'ή', 1.1f},
    {u'ί', 1.8f},  {u'ό', 1.6f}, {u'ύ', 0.8f}, {u'ώ', 0.5f}, {u'ϊ', 0.1f}, {u'ϋ', 0.05f}, {u'ΐ', 0.02f},
    {u'ΰ', 0.01f}};

struct TLanguage {
  TScript script;
  TGroup group;
  std::span<const TLetterFrequency> letters;
};

constexpr TLanguage kLanguages[] = {
    {TScript::kLatin, TGroup::kWestern, kGerman},     {TScript::kLatin, TGroup::kWestern, kFrench},
    {TScript::kLatin, TGroup::kWestern, kSpanish},    {TScript::kLatin, TGroup::kWestern, kPortuguese},
    {TScript::kLatin, TGroup::kWestern, kCatalan},    {TScript::kLatin, TGroup::kWestern, kItalian},
    {TScript::kLatin, TGroup::kWestern, kDanish},     {TScript::kLatin, TGroup::kWestern, kSwedish},
    {TScript::kLatin, TGroup::kWestern, kFinnish},    {TScript::kLatin, TGroup::kWestern, kDutch},
    {TScript::kLatin, TGroup::kCentral, kCzech},      {TScript::kLatin, TGroup::kCentral, kSlovak},
    {TScript::kLatin, TGroup::kCentral, kPolish},     {TScript::kLatin, TGroup::kCentral, kHungarian},
    {TScript::kLatin, TGroup::kCentral, kCroatian},   {TScript::kLatin, TGroup::kCentral, kRomanian},
    {TScript::kCyrillic, TGroup::kCyrillic, kRussian}, {TScript::kCyrillic, TGroup::kCyrillic, kUkrainian},
    {TScript::kCyrillic, TGroup::kCyrillic, kBulgarian}, {TScript::kGreek, TGroup::kGreek, kGreek},
};
constexpr size_t kLanguageCount = std::size(kLanguages);

// A language mostly follows its own table, but a table of Czech names holds
// some Slovak ones and a Swiss one mixes German and French, so some of the
// weight goes to the letters of its neighbours.
constexpr double kOwnShare = 0.85;
// Share of high bytes that are letters rather than signs.
constexpr double kLetterShare = 0.95;
// Letters a language does not use: of its own script, or of another.
constexpr double kForeignLetter = 0.002;
constexpr double kOtherScriptLetter = 0.0002;

// Context, as log factors. Beyond-ASCII letters of Latin languages stand
// among ASCII letters, while a whole word of them is what a Cyrillic or
// Greek text looks like through a Latin page. Czech and Polish put two side
// by side often enough ("Šťastný", "Łódź") that each high-letter neighbour
// costs only this much.
const double kHighNeighbour = std::log(0.5);
// A Cyrillic or Greek letter touching an ASCII letter inside one word.
const double kMixedScript = std::log(0.05);
// A letter whose case breaks its word's pattern (lower, upper or title).
const double kCaseBreak = std::log(0.03);
// Signs, by how often they turn up in names, addresses and descriptions.
const double kCommonSign = -5.5;
const double kRareSign = -8.0;
const double kImplausibleSign = -12.0;  // box drawing, math, controls, holes
// A sign wedged between two letters ("Ren‚e": 850's é read through 1252).
const double kSignInsideWord = -4.0;

enum TKind : uint8_t { kNonLetter, kAsciiLower, kAsciiUpper, kHighLower, kHighUpper, kHighSign };

constexpr bool IsLetter(uint8_t kind) { return kind >= kAsciiLower && kind <= kHighUpper; }
constexpr bool IsHighLetter(uint8_t kind) { return kind == kHighLower || kind == kHighUpper; }

double SignScore(char16_t c) {
  switch (c) {
    case 0x00A0: case 0x00AB: case 0x00BB: case 0x201E: case 0x201C: case 0x201D: case 0x2018:
    case 0x2019: case 0x2013: case 0x2014: case 0x20AC: case 0x00B0: case 0x2116: case 0x00A7:
    case 0x00B7: case 0x00B4: case 0x00AA: case 0x00BA:
      return kCommonSign;
    case 0x00A3: case 0x00A5: case 0x00A2: case 0x00A9: case 0x00AE: case 0x2122: case 0x00B1:
    case 0x00D7: case 0x00F7: case 0x00B2: case 0x00B3: case 0x00B9: case 0x00BD: case 0x00BC:
    case 0x00BE: case 0x00B5: case 0x00B6: case 0x2022: case 0x2020: case 0x2021: case 0x2030:
    case 0x2039: case 0x203A: case 0x00A4: case 0x00A6: case 0x00A8: case 0x00AF: case 0x00B8:
    case 0x00AC: case 0x00BF: case 0x00A1: case 0x02C6: case 0x02DC: case 0x2026: case 0x201A:
    case 0x00AD: case 0x0384: case 0x0385: case 0x02D8: case 0x02DB: case 0x02DD: case 0x02C7:
    case 0x02D9:
      return kRareSign;
    default:
      return kImplausibleSign;
  }
}

// Signs that may stand between two letters: apostrophes, and the Catalan
// middle dot of "l·l".
bool JoinsLetters(char16_t c) { return c == 0x2019 || c == 0x00B4 || c == 0x00B7; }

TScript ScriptOf(char16_t c) {
  UErrorCode status = U_ZERO_ERROR;
  switch (uscript_getScript(c, &status)) {
    case USCRIPT_LATIN: return TScript::kLatin;
    case USCRIPT_CYRILLIC: return TScript::kCyrillic;
    case USCRIPT_GREEK: return TScript::kGreek;
    default: return TScript::kOther;
  }
}

// The languages a page is judged by are those of its own script: a reading
// through 1252 is taken for Latin text, one through 866 for Cyrillic.
constexpr size_t kMaxLanguages = 16;

// One single-byte candidate as the scorer sees it, built once.
struct TPageModel {
  int codePage = 0;
  TScript script = TScript::kLatin;
  size_t languages = 0;                       // used slots of letterScore
  std::array<size_t, kMaxLanguages> language{};  // index into kLanguages
  std::array<char16_t, 256> character{};
  std::array<uint8_t, 256> kind{};
  std::array<float, 128> signScore{};  // high bytes that are not letters
  std::array<bool, 128> joiner{};
  // For each high byte read as a letter, its log likelihood in each of the
  // page's languages; unused slots stay 0 and are never compared.
  alignas(64) std::array<std::array<float, kMaxLanguages>, 128> letterScore{};
  // The most a high byte can add to a reading: its best language's letter
  // score, or its sign score. Context only ever subtracts.
  std::array<float, 128> bound{};
};

// Per language, the share of each letter, blended with its group's.
std::array<std::unordered_map<char16_t, double>, kLanguageCount> LetterShares() {
  std::array<std::unordered_map<char16_t, double>, kLanguageCount> own;
  for (size_t l = 0; l < kLanguageCount; ++l) {
    double total = 0;
    for (const TLetterFrequency& f : kLanguages[l].letters) total += f.percent;
    for (const TLetterFrequency& f : kLanguages[l].letters) own[l][f.letter] = f.percent / total;
  }
  std::array<std::unordered_map<char16_t, double>, kLanguageCount> blended;
  for (size_t l = 0; l < kLanguageCount; ++l) {
    int members = 0;
    std::unordered_map<char16_t, double> group;
    for (size_t m = 0; m < kLanguageCount; ++m) {
      if (kLanguages[m].group != kLanguages[l].group) continue;
      ++members;
      for (const auto& [letter, share] : own[m]) group[letter] += share;
    }
    for (const auto& [letter, share] : group) blended[l][letter] = (1 - kOwnShare) * share / members;
    for (const auto& [letter, share] : own[l]) blended[l][letter] += kOwnShare * share;
  }
  return blended;
}

TPageModel BuildPageModel(int codePage, TScript script,
                          const std::array<std::unordered_map<char16_t, double>, kLanguageCount>& shares) {
  TPageModel m;
  m.codePage = codePage;
  m.script = script;
  for (size_t l = 0; l < kLanguageCount && m.languages < kMaxLanguages; ++l)
    if (kLanguages[l].script == script) m.language[m.languages++] = l;
  for (int b = 0; b < 256; ++b) {
    const char byte = static_cast<char>(b);
    std::u16string decoded;
    CodePageToUtf16(codePage, std::string_view(&byte, 1), decoded);
    const char16_t c = decoded.size() == 1 ? decoded[0] : char16_t(0xFFFD);
    m.character[static_cast<size_t>(b)] = c;
    uint8_t& kind = m.kind[static_cast<size_t>(b)];
    if (b < 0x80) {
      kind = b >= 'a' && b <= 'z' ? kAsciiLower : b >= 'A' && b <= 'Z' ? kAsciiUpper : kNonLetter;
      continue;
    }
    const size_t h = static_cast<size_t>(b - 0x80);
    // The ordinal indicators and the micro sign are letters to Unicode but
    // signs to anyone typing an address.
    const bool letter = u_isalpha(c) && c != 0x00AA && c != 0x00BA && c != 0x00B5 && c != 0xFFFD;
    if (!letter) {
      kind = kHighSign;
      m.signScore[h] = static_cast<float>(SignScore(c));
      m.bound[h] = m.signScore[h];
      m.joiner[h] = JoinsLetters(c);
      continue;
    }
    kind = u_islower(c) ? kHighLower : kHighUpper;
    const char16_t lower = static_cast<char16_t>(u_tolower(c));
    const bool ownScript = ScriptOf(c) == script;
    for (size_t k = 0; k < m.languages; ++k) {
      const auto& share = shares[m.language[k]];
      auto it = share.find(lower);
      const double p = it != share.end() ? it->second : ownScript ? kForeignLetter : kOtherScriptLetter;
      m.letterScore[h][k] = static_cast<float>(std::log(kLetterShare * std::max(p, kOtherScriptLetter)));
    }
    m.bound[h] = *std::max_element(m.letterScore[h].begin(), m.letterScore[h].begin() + m.languages);
  }
  return m;
}

struct TCandidatePage {
  int codePage;
  TScript script;
};

// Earlier pages win when two read the sample alike; the ANSI and OEM
// settings go before these.
constexpr TCandidatePage kSingleByteOrder[] = {
    {1252, TScript::kLatin}, {1250, TScript::kLatin}, {1251, TScript::kCyrillic}, {1253, TScript::kGreek},
    {850, TScript::kLatin},  {437, TScript::kLatin},  {852, TScript::kLatin},     {866, TScript::kCyrillic},
    {737, TScript::kGreek},  {20866, TScript::kCyrillic}};

const std::vector<TPageModel>& PageModels() {
  static const std::vector<TPageModel> models = [] {
    const auto shares = LetterShares();
    std::vector<TPageModel> all;
    for (const TCandidatePage& c : kSingleByteOrder)
      if (CodePageInstalled(c.codePage) && CodePageIsSingleByte(c.codePage))
        all.push_back(BuildPageModel(c.codePage, c.script, shares));
    return all;
  }();
  return models;
}

// A table is mostly in one language, with values in others among them (a
// Swiss customer list, Slovak names in a Czech one): each value is read in
// the table's main language, or in another at this price, as if the rest of
// the table were spread over four languages.
const double kMainLanguage = std::log(0.7);
const double kOtherLanguage = std::log(0.3 / 4);

// What one reading of the sample adds up to.
struct TTally {
  // Per main language: the letters of every value, each value read in the
  // main language or, if that scores better after the price, in its best.
  std::array<double, kMaxLanguages> letters{};
  double signs = 0;
  uint32_t caseBreaks = 0;
  uint32_t highPairs = 0;   // two high letters side by side in a word
  uint32_t mixedPairs = 0;  // a high letter beside an ASCII letter
};

// One pass over the sample per page; this is where Guess() spends its time.
TTally TallyReading(const TPageModel& m, std::string_view text) {
  TTally t;
  const auto* p = reinterpret_cast<const uint8_t*>(text.data());
  const size_t n = text.size();
  const size_t languages = m.languages;
  // The value being read (values are separated by line feeds).
  alignas(64) std::array<float, kMaxLanguages> value{};
  bool valueHasLetters = false;
  auto endValue = [&] {
    if (!valueHasLetters) return;
    float best = value[0];
    for (size_t k = 1; k < languages; ++k) best = std::max(best, value[k]);
    for (size_t k = 0; k < languages; ++k)
      t.letters[k] += std::max(value[k] + kMainLanguage, best + kOtherLanguage);
    value.fill(0);
    valueHasLetters = false;
  };
  // The word being read. The case every letter after the first should have
  // is that of the ASCII letters there, which read the same in every page,
  // else the majority's; the first letter may be a capital, but a small one
  // before capitals breaks the word.
  size_t length = 0;
  uint8_t first = kNonLetter;
  bool high = false;
  uint32_t restCount[6] = {};
  auto endWord = [&] {
    if (high) {
      const uint32_t ascii = restCount[kAsciiUpper] + restCount[kAsciiLower];
      const bool upperRest = ascii ? restCount[kAsciiUpper] > restCount[kAsciiLower]
                                   : restCount[kHighUpper] > restCount[kHighLower];
      t.caseBreaks += upperRest ? restCount[kHighLower] : restCount[kHighUpper];
      if (first == kHighLower && upperRest && length >= 3) ++t.caseBreaks;
    }
    length = 0;
    high = false;
    restCount[kAsciiLower] = restCount[kAsciiUpper] = restCount[kHighLower] = restCount[kHighUpper] = 0;
  };
  uint8_t previous = kNonLetter;
  bool signAfterLetter = false;  // a sign that wedges if a letter follows
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = p[i];
    const uint8_t kind = m.kind[b];
    if (signAfterLetter) {
      if (IsLetter(kind)) t.signs += kSignInsideWord;
      signAfterLetter = false;
    }
    if (!IsLetter(kind)) {
      if (length) endWord();
      if (kind == kHighSign) {
        t.signs += m.signScore[b - 0x80];
        signAfterLetter = IsLetter(previous) && !m.joiner[b - 0x80];
      } else if (b == '\n') {
        endValue();
      }
      previous = kind;
      continue;
    }
    if (IsHighLetter(kind)) {
      const std::array<float, kMaxLanguages>& row = m.letterScore[b - 0x80];
      for (size_t k = 0; k < kMaxLanguages; ++k) value[k] += row[k];
      valueHasLetters = true;
      high = true;
    }
    if (length == 0) {
      first = kind;
    } else {
      ++restCount[kind];
      if (IsHighLetter(kind) || IsHighLetter(previous)) {
        if (IsHighLetter(kind) && IsHighLetter(previous))
          ++t.highPairs;
        else
          ++t.mixedPairs;
      }
    }
    ++length;
    previous = kind;
  }
  if (length) endWord();
  endValue();
  return t;
}

// The log likelihood of the reading in its best main language.
double ReadingScore(const TPageModel& m, const TTally& t) {
  double letters = t.letters[0];
  for (size_t k = 1; k < m.languages; ++k) letters = std::max(letters, t.letters[k]);
  double score = letters + t.signs + t.caseBreaks * kCaseBreak;
  // A pair of high letters counts against both of them in a Latin text.
  if (m.script == TScript::kLatin)
    score += t.highPairs * 2 * kHighNeighbour;
  else
    score += t.mixedPairs * kMixedScript;
  return score;
}

struct TSingleByteResult {
  int codePage = 0;
  double score = 0;   // the best reading's log likelihood
  double margin = 0;  // over the best reading that differs from it
};

// Preference between pages that read the sample alike.
int Rank(int codePage) {
  if (codePage == AnsiCodePage()) return 0;
  if (codePage == OemCodePage()) return 1;
  for (size_t i = 0; i < std::size(kSingleByteOrder); ++i)
    if (kSingleByteOrder[i].codePage == codePage) return static_cast<int>(i) + 2;
  return 100;
}

bool Alike(const TPageModel& a, const TPageModel& b, const std::array<bool, 128>& present) {
  for (size_t h = 0; h < 128; ++h)
    if (present[h] && a.character[h + 0x80] != b.character[h + 0x80]) return false;
  return true;
}

// A page whose bound falls this far below a reading already scored cannot
// win, nor bring the margin below where confidence stops growing, so its
// reading is not tallied. On a large sample that spares most pages.
constexpr double kHopeless = 40;

// Average log likelihood a high byte, at and above which a reading is
// natural text, and at and below which it is gibberish. True readings
// average -1.5 to -3 in Latin languages and about -3.2 in Cyrillic and
// Greek; double-byte text read a byte at a time -4.5 and below.
constexpr double kNatural = -3.6;
constexpr double kGibberish = -4.6;

// Pages whose bound stays under `floor` are not tallied either: whatever
// they score, it is gibberish. When no page reaches it the result has
// codePage 0 and the best bound as its score.
TSingleByteResult ScoreSingleByte(std::string_view text, const std::array<uint32_t, 128>& counts,
                                  double floor) {
  struct TScored {
    const TPageModel* model;
    double bound;
    double score;
    int rank;
  };
  std::vector<TScored> pages;
  for (const TPageModel& m : PageModels()) {
    double bound = 0;
    for (size_t h = 0; h < 128; ++h)
      if (counts[h]) bound += counts[h] * static_cast<double>(m.bound[h]);
    pages.push_back({&m, bound, -INFINITY, Rank(m.codePage)});
  }
  auto better = [](double a, int rankA, double b, int rankB) { return a != b ? a > b : rankA < rankB; };
  std::sort(pages.begin(), pages.end(),
            [&](const TScored& a, const TScored& b) { return better(a.bound, a.rank, b.bound, b.rank); });
  TSingleByteResult r;
  if (pages.empty()) return r;
  double best = -INFINITY;
  size_t scored = 0;
  for (; scored < pages.size() && pages[scored].bound >= std::max(best - kHopeless, floor); ++scored) {
    pages[scored].score = ReadingScore(*pages[scored].model, TallyReading(*pages[scored].model, text));
    best = std::max(best, pages[scored].score);
  }
  if (scored == 0) {
    r.score = pages.front().bound;
    return r;
  }
  std::sort(pages.begin(), pages.begin() + static_cast<std::ptrdiff_t>(scored),
            [&](const TScored& a, const TScored& b) { return better(a.score, a.rank, b.score, b.rank); });
  const TScored& top = pages.front();
  r.codePage = top.model->codePage;
  r.score = top.score;
  // Pages left unscored read the sample differently (one that reads it alike
  // has the best page's bound, so it was scored) and score at most their
  // bound, so the margin is never overstated.
  r.margin = scored < pages.size() ? top.score - pages[scored].bound : INFINITY;
  std::array<bool, 128> present{};
  for (size_t h = 0; h < 128; ++h) present[h] = counts[h] > 0;
  for (size_t c = 1; c < scored; ++c) {
    if (!Alike(*pages[c].model, *top.model, present)) {
      r.margin = std::min(r.margin, top.score - pages[c].score);
      break;
    }
  }
  return r;
}

// ---------------------------------------------------------------------------
// UTF-8 and the double-byte pages.

struct TUtf8Tally {
  uint32_t weight = 0;  // continuation bytes of well-formed sequences
  uint32_t errors = 0;
};

TUtf8Tally TallyUtf8(std::string_view text, const std::vector<uint32_t>& ends) {
  TUtf8Tally t;
  const auto* p = reinterpret_cast<const uint8_t*>(text.data());
  size_t start = 0;
  for (uint32_t end : ends) {
    size_t i = start;
    while (i < end) {
      const uint8_t b = p[i];
      if (b < 0x80) {
        ++i;
        continue;
      }
      size_t length = b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
      // The second byte's range shuts out overlong forms and surrogates.
      uint8_t low = 0x80, high = 0xBF;
      if (b == 0xE0) low = 0xA0;
      if (b == 0xED) high = 0x9F;
      if (b == 0xF0) low = 0x90;
      if (b == 0xF4) high = 0x8F;
      size_t k = 1;
      while (length && k < length && i + k < end) {
        const uint8_t c = p[i + k];
        if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xBF)) break;
        ++k;
      }
      if (length && k == length) {
        t.weight += static_cast<uint32_t>(length - 1);
        i += length;
      } else if (length && i + k == end) {
        i = end;  // a character cut by the field's width
      } else {
        ++t.errors;
        ++i;
      }
    }
    start = end + 1;
  }
  return t;
}

struct TDoubleByteTally {
  uint32_t characters = 0;  // characters beyond ASCII that decode
  uint32_t errors = 0;
};

TDoubleByteTally TallyDoubleByte(int codePage, std::string_view text) {
  TDoubleByteTally t;
  std::u16string decoded;
  if (!CodePageToUtf16(codePage, text, decoded)) return t;
  for (size_t i = 0; i < decoded.size(); ++i) {
    const char16_t c = decoded[i];
    // A lead byte just before a value's line feed is a character cut by the
    // field's width, not an error.
    if (c == 0xFFFD)
      t.errors += i + 1 < decoded.size() && decoded[i + 1] == u'\n' ? 0 : 1;
    else if (c >= 0x80)
      ++t.characters;
  }
  return t;
}

// What libuchardet names, as one of our candidates; 0 for anything else.
int CandidateForCharset(std::string_view name) {
  struct TName {
    std::string_view name;
    int codePage;
  };
  static constexpr TName kNames[] = {
      {"SHIFT_JIS", 932},   {"GB18030", 936},      {"BIG5", 950},         {"EUC-KR", 949},
      {"UHC", 949},         {"WINDOWS-1251", 1251}, {"IBM866", 866},       {"KOI8-R", 20866},
      {"WINDOWS-1250", 1250}, {"ISO-8859-2", 1250}, {"IBM852", 852},       {"WINDOWS-1253", 1253},
      {"ISO-8859-7", 1253}, {"WINDOWS-1252", 1252}, {"ISO-8859-1", 1252},  {"ISO-8859-15", 1252},
  };
  for (const TName& n : kNames)
    if (n.name == name) return n.codePage;
  return 0;
}

// libuchardet spends 90 to 400 ns a byte, so it sees the first values only;
// its verdicts settle within a few hundred characters.
constexpr size_t kUchardetBytes = 2 * 1024;

int AskUchardet(std::string_view text, const std::vector<uint32_t>& ends) {
  // A double-byte character cut by the field's width would make libuchardet
  // drop the page altogether. Page-blind, but good enough: a value ending in
  // an odd run of high bytes loses its last one.
  std::string input;
  size_t start = 0;
  for (uint32_t end : ends) {
    if (input.size() >= kUchardetBytes) break;
    size_t run = 0;
    while (run < end - start && static_cast<uint8_t>(text[end - 1 - run]) >= 0x80) ++run;
    input.append(text, start, end - start - run % 2);
    input += '\n';
    start = end + 1;
  }
  struct TCloser {
    void operator()(uchardet_t u) const { uchardet_delete(u); }
  };
  std::unique_ptr<std::remove_pointer_t<uchardet_t>, TCloser> u(uchardet_new());
  if (!u) return 0;
  if (uchardet_handle_data(u.get(), input.data(), input.size()) != 0) return 0;
  uchardet_data_end(u.get());
  const char* name = uchardet_get_charset(u.get());
  return name ? CandidateForCharset(name) : 0;
}

bool IsDoubleByte(int codePage) {
  return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950;
}

// Whether two single-byte candidates read every high byte of the sample as
// the same character.
bool ReadAlike(int a, int b, const std::array<bool, 128>& present) {
  if (a == b) return true;
  const TPageModel* ma = nullptr;
  const TPageModel* mb = nullptr;
  for (const TPageModel& m : PageModels()) {
    if (m.codePage == a) ma = &m;
    if (m.codePage == b) mb = &m;
  }
  return ma && mb && Alike(*ma, *mb, present);
}

// How much a count of independent clues is worth: a handful proves little.
double Evidence(double clues, double half) { return clues / (clues + half); }

TCodePageGuess Verdict(int codePage, double confidence) {
  TCodePageGuess g;
  g.confidence = std::clamp(confidence, 0.0, 1.0);
  if (g.confidence >= kCodePageVerdictConfidence) g.codePage = codePage;
  return g;
}

}  // namespace

void TCodePageDetector::Add(const char* bytes, size_t count) {
  if (Full() || count == 0) return;
  count = std::min(count, kBudget - bytes_);
  bytes_ += count;
  const auto* p = reinterpret_cast<const uint8_t*>(bytes);
  if (std::none_of(p, p + count, [](uint8_t b) { return b >= 0x80; })) return;
  text_.append(bytes, count);
  ends_.push_back(static_cast<uint32_t>(text_.size()));
  text_ += '\n';
}

TCodePageGuess TCodePageDetector::Guess() const {
  if (text_.empty()) {
    TCodePageGuess g;
    g.asciiOnly = true;
    return g;
  }

  // Well-formed multi-byte sequences almost never arise by chance from
  // 8-bit text: an accented capital followed by a sign, or a small letter by
  // two signs. A few stray errors (one value typed in another page) are
  // tolerated when the well-formed sequences outnumber them by far.
  const TUtf8Tally utf8 = TallyUtf8(text_, ends_);
  if (utf8.weight > 0 && utf8.weight >= 50 * utf8.errors) {
    const double sure = 1 - std::pow(0.5, utf8.weight);
    return Verdict(65001, sure * (1 - 10.0 * utf8.errors / utf8.weight));
  }

  const int named = AskUchardet(text_, ends_);
  TCodePageGuess doubleByte;
  if (IsDoubleByte(named)) {
    const TDoubleByteTally t = TallyDoubleByte(named, text_);
    const double clean =
        t.errors == 0 ? 1 : std::max(0.0, 1 - 10.0 * t.errors / std::max<uint32_t>(t.characters, 1));
    doubleByte = Verdict(named, Evidence(t.characters, 4) * clean);
    if (doubleByte.codePage) return doubleByte;
  }

  std::array<uint32_t, 128> counts{};
  std::array<bool, 128> present{};
  size_t highBytes = 0;
  for (unsigned char c : text_) {
    if (c < 0x80) continue;
    ++counts[c - 0x80];
    present[c - 0x80] = true;
    ++highBytes;
  }
  const double high = static_cast<double>(highBytes);
  const TSingleByteResult r = ScoreSingleByte(text_, counts, kGibberish * high);
  const double natural = std::clamp((r.score / high - kGibberish) / (kNatural - kGibberish), 0.0, 1.0);
  const double separated = 1 - std::exp(-r.margin / 2);
  double confidence = Evidence(high, 6) * separated * natural;
  // libuchardet agreeing is a second opinion. Its silence or dissent is not
  // held against the reading: it cannot name 850, 437 or 737, and it takes
  // upper-case Russian for KOI8-R whatever its page.
  if (named && ReadAlike(named, r.codePage, present))
    confidence += (1 - confidence) * 0.5 * Evidence(high, 20);
  const TCodePageGuess singleByte = Verdict(r.codePage, confidence);
  return singleByte.confidence >= doubleByte.confidence ? singleByte : doubleByte;
}

}  // namespace norvale
