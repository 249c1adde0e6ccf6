#include "engine/language.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/exceptions.h"
#include "platform/text_services.h"

namespace norvale {
namespace {

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

int Compare(const TCollation& c, const std::string& a, const std::string& b) {
  return CompareCollated(c, Bytes(a), static_cast<int>(a.size()), static_cast<int>(b.size()), Bytes(b));
}

const TCollation& Named(int id) {
  const TCollation* c = CollationFor(id);
  EXPECT_NE(c, nullptr);
  return *c;
}

TEST(LanguageTable, EntriesMarkersAndFamilies) {
  EXPECT_EQ(LanguageEntry(0).suffixKind, skNone);
  EXPECT_EQ(LanguageEntry(0).localeId, 0x10000u);
  EXPECT_EQ(LanguageEntry(142).suffixKind, skBulgarian);
  EXPECT_EQ(LanguageEntry(142).codePage, 868);
  EXPECT_EQ(LanguageEntry(122).localeId, 0x21004u);
  EXPECT_STREQ(LanguageEntry(97).suffix, "DE");
  EXPECT_EQ(LanguageEntry(155).suffixKind, skText);
  EXPECT_STREQ(LanguageEntry(155).suffix, "");
  EXPECT_EQ(LanguageEntry(203).codePage, 1253);
  for (int empty : {5, 30, 93, 99, 204, 255, -1, 256}) {
    EXPECT_EQ(LanguageEntry(empty).codePage, 0) << empty;
    EXPECT_EQ(LanguageEntry(empty).localeId, 0u) << empty;
  }
  const std::vector<std::pair<int, TLanguageFamily>> families = {
      {0, lfDBase}, {1, lfFoxPro}, {4, lfFoxPro}, {5, lfDBase}, {93, lfDBase}, {94, lfFoxPro}, {255, lfFoxPro}};
  for (auto [id, family] : families) EXPECT_EQ(LanguageFamily(id), family) << id;
}

TEST(LanguageLookup, IdForCodePageAndLocale) {
  struct Case {
    int codePage;
    uint32_t locale;
    bool fox;
    int id;
  };
  const Case cases[] = {
      {437, 0x0409, false, 27},  // dBASE preferred over FoxPro's 1
      {437, 0x0409, true, 1},
      {437, 0x10409, false, 27},   // only the low 16 bits count
      {1252, 0x0409, false, 55},   // no 1252 entry for 0x0409: any code page
      {1252, 0x0809, false, 88},   // highest of 88 (and FoxPro 3)
      {1252, 0x0809, true, 3},
      {868, 0x0402, false, 142},   // FoxPro only, even when dBASE is wanted
      {1250, 0x0405, true, 200},   // highest FoxPro match
      {850, 0x0405, false, 156},   // FoxPro only
  };
  for (const Case& c : cases)
    EXPECT_EQ(LanguageIdFor(c.codePage, c.locale, c.fox), c.id) << c.codePage << "/" << std::hex << c.locale;
  EXPECT_EQ(FindLanguageId(1252, 0x0409u, false), 0);
  EXPECT_EQ(FindLanguageId(0, std::string_view("WE0"), false), 88);
}

TEST(LanguageLookup, NameForCodePageAndLocale) {
  struct Case {
    int codePage;
    uint32_t locale;
    bool fox;
    const char* name;
  };
  const Case cases[] = {
      {437, 0x0409, false, "DB437US0"},  {1252, 0x0809, false, "DBWINWE0"}, {850, 0x0809, true, "FOXUK0850"},
      {1252, 0x0407, true, "FOXDEWIN"},  {868, 0x0402, false, "BGDB868"},   {866, 0x0419, false, "DB866RU0"},
      {1250, 0x0405, true, "FOXCZ01250"}, {4321, 0x0436, false, ""},  // nothing found: id 0 cannot be named
  };
  for (const Case& c : cases) EXPECT_EQ(LanguageNameFor(c.codePage, c.locale, c.fox), c.name) << c.name;
}

TEST(LanguageLookup, IdFromName) {
  const std::vector<std::pair<const char*, int>> cases = {
      {"DBWINWE0", 88}, {"FOXDEWIN", 97}, {"DB437US0", 27}, {"DB862REW", 133}, {"DB866RU0", 38},
      {"FOXNO850", 96}, {"DB437us0", 0},  {"DB999US0", 0},  {"FOXUK0850", 0},  // page text "085"
  };
  for (auto [name, id] : cases) EXPECT_EQ(LanguageIdFromName(name), id) << name;

  for (const char* bad : {"dbwinwe0", "DBxyzUS0", "FOXDExyz", "DB", "BGDB868"})
    EXPECT_THROW(LanguageIdFromName(bad), EConvertError) << bad;
  try {
    LanguageIdFromName("DB4x7US0");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'4x7' is not a valid integer value");
  }
}

const std::vector<std::pair<int, const char*>> kRegistrations = {
    {8, "DB865DA0"},   {23, "DB865NO0"},  {9, "DB437NL0"},   {13, "DB437FR0"},  {17, "DB437IT0"},  {25, "DB437UK0"},
    {10, "DB850NL0"},  {14, "DB850FR0"},  {18, "DB850IT1"},  {20, "DB850ES0"},  {26, "DB850UK0"},  {77, "DB936CN0"},
    {78, "DB949KO0"},  {79, "DB950TW0"},  {88, "DBWINWE0"},  {89, "DBWINES0"},  {87, "DBWINUS0"},  {19, "DB932JP0"},
    {11, "DB437FI0"},  {15, "DB437DE0"},  {16, "DB850DE0"},  {21, "DB437SV0"},  {22, "DB850SV1"},  {24, "DB437ES1"},
    {27, "DB437US0"},  {28, "DB863CF1"},  {29, "DB850CF0"},  {31, "DB852CZ0"},  {32, "DB867CZ0"},  {34, "db852hdc"},
    {35, "db852po0"},  {36, "DB860PT0"},  {37, "DB850PT0"},  {38, "db866ru0"},  {55, "DB850US0"},  {80, "db874th0"},
    {86, "DB932JP1"},  {94, "FOXDE437"},  {95, "FOXNO437"},  {96, "FOXNO850"},  {97, "FOXDEWIN"},  {98, "FOXNOWIN"},
    {104, "FOXCZ895"}, {133, "dbHebrew"}, {134, "db437gr0"}, {135, "db852sl0"}, {136, "DB857TR0"}, {155, "FOXCZWIN"},
};

TEST(CollationRegistry, NamesSharingAndBinarySlots) {
  ASSERT_EQ(kRegistrations.size(), 48u);
  std::set<const TCollation*> tables;
  for (auto [id, name] : kRegistrations) {
    EXPECT_EQ(CollationNameFor(id), name) << id;
    ASSERT_NE(CollationFor(id), nullptr);
    if (!CollationFor(id)->IsBinary()) tables.insert(CollationFor(id));
  }
  EXPECT_EQ(tables.size(), 35u);
  int named = 0;
  for (int id = 0; id < 256; ++id) named += !CollationNameFor(id).empty();
  EXPECT_EQ(named, 48);

  const std::vector<std::vector<int>> shared = {{8, 23}, {9, 13, 17, 25}, {10, 14, 18, 20, 26}, {77, 78, 79}, {88, 89}};
  for (const auto& group : shared)
    for (int id : group) EXPECT_EQ(CollationFor(id), CollationFor(group[0])) << id;
  EXPECT_NE(CollationFor(15), CollationFor(16));

  for (int binary : {87, 19, 0, 1, 200, 255}) EXPECT_EQ(CollationFor(binary), &BinaryCollation()) << binary;
  EXPECT_EQ(CollationFor(-1), nullptr);
  EXPECT_EQ(CollationFor(256), nullptr);
}

TEST(CollationTables, EveryTableIsAPermutation) {
  for (auto [id, name] : kRegistrations) {
    const TCollation& c = Named(id);
    if (c.IsBinary()) continue;
    std::set<int> weights;
    for (int b = 0; b < 256; ++b) weights.insert(c.Weight(static_cast<uint8_t>(b)));
    EXPECT_EQ(weights.size(), 256u) << name;
  }
}

TEST(CollationTables, FixedRows) {
  const TCollation& us = Named(27);
  for (int b = 0; b < 256; ++b) EXPECT_EQ(us.Weight(static_cast<uint8_t>(b)), b);

  const TCollation& cjk = Named(77);
  EXPECT_EQ(cjk.Weight(0x00), 0x00);
  for (int b = 0x01; b <= 0x7F; ++b) EXPECT_EQ(cjk.Weight(static_cast<uint8_t>(b)), b + 0x7F) << b;
  EXPECT_EQ(cjk.Weight(0x80), 0xFF);
  for (int b = 0x81; b <= 0xFF; ++b) EXPECT_EQ(cjk.Weight(static_cast<uint8_t>(b)), b - 0x80) << b;

  const TCollation& win = Named(88);
  EXPECT_EQ(win.Weight(0x00), 0x00);
  for (int b = 0x01; b <= 0x1F; ++b) EXPECT_EQ(win.Weight(static_cast<uint8_t>(b)), b + 1) << b;
  const std::vector<std::pair<char, int>> pinned = {{' ', 0x01}, {'0', 0x6F}, {'1', 0x73}, {'2', 0x75},
                                                    {'a', 0x7F}, {'A', 0x80}, {'b', 0x90}, {'B', 0x91}};
  for (auto [ch, weight] : pinned) EXPECT_EQ(win.Weight(static_cast<uint8_t>(ch)), weight) << ch;

  // Every case pair of code page 1252: the lower-case letter weighs one less.
  std::vector<std::pair<int, int>> pairs = {{0x9A, 0x8A}, {0x9C, 0x8C}, {0x9E, 0x8E}, {0xFF, 0x9F}};
  for (int c = 'a'; c <= 'z'; ++c) pairs.emplace_back(c, c - 0x20);
  for (int c = 0xE0; c <= 0xFE; ++c)
    if (c != 0xF7) pairs.emplace_back(c, c - 0x20);
  for (auto [lower, upper] : pairs)
    EXPECT_EQ(win.Weight(static_cast<uint8_t>(lower)) + 1, win.Weight(static_cast<uint8_t>(upper)))
        << std::hex << lower;
}

TEST(CollationTables, DigitsThenLettersLowerCaseFirst) {
  const std::set<const TCollation*> fullyPinned = {CollationFor(27), CollationFor(77)};
  for (auto [id, name] : kRegistrations) {
    const TCollation& c = Named(id);
    if (c.IsBinary()) continue;
    const std::string order = "0123456789abcdefghijklmnopqrstuvwxyz";
    for (size_t i = 1; i < order.size(); ++i)
      EXPECT_LT(c.Weight(order[i - 1]), c.Weight(order[i])) << name << " " << order[i];
    if (fullyPinned.count(&c)) continue;
    for (char lower = 'a'; lower <= 'z'; ++lower) {
      if (id == 136 && lower == 'i') continue;  // Turkish pairs I with dotless i
      EXPECT_EQ(c.Weight(lower) + 1, c.Weight(lower - 0x20)) << name << " " << lower;
    }
  }
}

TEST(CollationTables, OrderLettersOfTheirLanguage) {
  struct Case {
    int id;
    uint8_t low, mid, high;  // collate as low < mid < high
  };
  const Case cases[] = {
      {16, 'a', 0x84, 'b'},    // DB850DE0: ä between a and b
      {15, 'o', 0x94, 'p'},    // DB437DE0: ö between o and p
      {38, 0x80, 0x81, 0x82},  // db866ru0: А Б В
      {38, 0xA0, 0x80, 0xA1},  // db866ru0: а А б
      {21, 'z', 0x86, 0x84},   // DB437SV0: z å ä
      {8, 'z', 0x91, 0x9B},    // DB865DA0: z æ ø
      {8, 0x91, 0x9B, 0x86},   // DB865DA0: æ ø å
      {31, 'c', 0x9F, 'd'},    // DB852CZ0: c č d
      {32, 'c', 0x87, 'd'},    // DB867CZ0 (Kamenicky): c č d
      {104, 'r', 0xA9, 's'},   // FOXCZ895 (Kamenicky): r ř s
      {24, 'n', 0xA4, 'o'},    // DB437ES1: n ñ o
      {136, 'h', 0x8D, 'I'},   // DB857TR0: h ı I
      {136, 'I', 'i', 0x98},   // DB857TR0: I i İ
      {133, 0x80, 0x81, 0x82}, // dbHebrew: א ב ג
      {155, 's', 0x9A, 't'},   // FOXCZWIN: s š t
  };
  for (const Case& c : cases) {
    const TCollation& collation = Named(c.id);
    EXPECT_LT(collation.Weight(c.low), collation.Weight(c.mid)) << CollationNameFor(c.id) << " " << int(c.mid);
    EXPECT_LT(collation.Weight(c.mid), collation.Weight(c.high)) << CollationNameFor(c.id) << " " << int(c.mid);
  }
}

TEST(CollationCompare, WeightsThenLength) {
  const TCollation& win = Named(88);
  const TCollation& binary = BinaryCollation();
  EXPECT_LT(Compare(win, "a", "A"), 0);
  EXPECT_LT(Compare(win, "A", "b"), 0);
  EXPECT_LT(Compare(win, "a", "B"), 0);
  EXPECT_GT(Compare(binary, "a", "B"), 0);
  EXPECT_LT(Compare(binary, "A", "a"), 0);
  EXPECT_LT(Compare(win, "ab", "abc"), 0);
  EXPECT_GT(Compare(win, "abc", "ab"), 0);
  EXPECT_GT(Compare(win, "b", "abc"), 0);
  EXPECT_EQ(Compare(win, "abc", "abc"), 0);
  EXPECT_EQ(Compare(binary, "", ""), 0);
  // Bytes above 0x7F compare unsigned.
  EXPECT_GT(Compare(binary, "\xE9", "z"), 0);
}

TEST(LocaleCheck, Outcomes) {
  struct Case {
    int tableId;
    int indexId;
    bool handler;
    TLocaleSolution answer;
    TLocaleError error;
    bool open;
    bool maintained;
    const TCollation* collation;
  };
  const TCollation* binary = &BinaryCollation();
  const Case cases[] = {
      {27, 27, false, lsNotOpen, leNone, true, true, CollationFor(27)},
      {88, 0, false, lsNotOpen, leNone, true, true, CollationFor(88)},
      {0, 88, false, lsNotOpen, leNone, true, true, CollationFor(88)},
      {0, 0, false, lsNotOpen, leNone, true, true, binary},
      {27, 88, false, lsNotOpen, leNotAvailable, false, false, nullptr},
      {27, 88, true, lsNotOpen, leNotAvailable, false, false, nullptr},
      {27, 88, true, lsNoEdit, leNotAvailable, true, false, CollationFor(88)},
      {27, 88, true, lsBinary, leNotAvailable, true, true, binary},
  };
  for (const Case& c : cases) {
    int calls = 0;
    TLocaleErrorEvent handler;
    if (c.handler) {
      handler = [&](TLocaleError error, TLocaleSolution& solution) {
        ++calls;
        EXPECT_EQ(error, leNotAvailable);
        EXPECT_EQ(solution, lsNotOpen);
        solution = c.answer;
      };
    }
    const TIndexLocale result = CheckIndexLocale(c.tableId, c.indexId, handler);
    const std::string label = std::to_string(c.tableId) + "/" + std::to_string(c.indexId) + "/" +
                              std::to_string(c.answer);
    EXPECT_EQ(result.error, c.error) << label;
    EXPECT_EQ(result.open, c.open) << label;
    EXPECT_EQ(result.maintained, c.maintained) << label;
    EXPECT_EQ(result.collation, c.collation) << label;
    EXPECT_EQ(calls, c.handler && c.error != leNone ? 1 : 0) << label;
  }

  EXPECT_TRUE(CheckIndexLocale("DBWINWE0", 88, nullptr).open);
  EXPECT_FALSE(CheckIndexLocale("DBWINWE0", 27, nullptr).open);
  EXPECT_EQ(CheckIndexLocale("DBWINWE0", 0, nullptr).collation, CollationFor(88));
}

std::string Translate(int from, int to, const std::string& text, int capacity = 4096) {
  std::string target(static_cast<size_t>(capacity), '\0');
  const int n = TranslateText(from, to, text.data(), static_cast<int>(text.size()), target.data(), capacity);
  return target.substr(0, static_cast<size_t>(n));
}

TEST(LanguageTranslate, BetweenCodePages) {
  ASSERT_EQ(AnsiCodePage(), 1252);
  ASSERT_EQ(OemCodePage(), 437);
  const std::string dos866 = "\x8F\xE0\xA8\xA2\xA5\xE2";  // Привет
  const std::string win1251 = "\xCF\xF0\xE8\xE2\xE5\xF2";
  const std::string utf8 = "Привет";
  EXPECT_EQ(Translate(866, 1251, dos866), win1251);
  EXPECT_EQ(Translate(1251, 866, win1251), dos866);
  EXPECT_EQ(Translate(1251, 65001, win1251), utf8);
  EXPECT_EQ(Translate(65001, 866, utf8), dos866);
  EXPECT_EQ(Translate(437, 1252, "caf\x82 \x81"), "caf\xE9 \xFC");  // OEM to ANSI
  EXPECT_EQ(Translate(1252, 437, "caf\xE9 \xFC"), "caf\x82 \x81");
  EXPECT_EQ(Translate(850, 850, "\x01\xFFz"), "\x01\xFFz");
  EXPECT_EQ(Translate(12345, 1252, "abc"), "");
  EXPECT_EQ(Translate(1252, 12345, "abc"), "");

  char target[16] = {};
  EXPECT_EQ(TranslateText(866, 1251, "\x8F\xE0", -1, target, sizeof target), 2);  // up to the NUL
  EXPECT_EQ(std::string(target), "\xCF\xF0");
  char same[] = "abc";
  EXPECT_EQ(TranslateText(1252, 1252, same, -1, same, 3), 3);
  EXPECT_STREQ(same, "abc");
  EXPECT_EQ(TranslateText(1252, 1252, "", -1, target, sizeof target), 0);
}

TEST(LanguageTranslate, WorkBufferLimitsAllButTheOemAnsiPair) {
  const std::string fits(1024, '\xE0');
  const std::string tooLong(1025, '\xE0');
  EXPECT_EQ(Translate(866, 1251, fits), std::string(1024, '\xF0'));
  EXPECT_EQ(Translate(866, 1251, tooLong), "");
  EXPECT_EQ(Translate(437, 1252, tooLong).size(), 1025u);
  EXPECT_EQ(Translate(1252, 437, std::string(3000, 'x')).size(), 3000u);
}

TEST(LanguageTranslate, NeverWritesPastTheTarget) {
  const std::string win1251 = "\xCF\xF0\xE8\xE2\xE5\xF2";  // 12 bytes in UTF-8
  std::string buffer(20, '#');
  EXPECT_EQ(TranslateText(1251, 65001, win1251.data(), 6, buffer.data(), 11), 0);
  EXPECT_EQ(buffer, std::string(20, '#'));
  EXPECT_EQ(TranslateText(1251, 65001, win1251.data(), 6, buffer.data(), 12), 12);
  EXPECT_EQ(buffer.substr(12), std::string(8, '#'));
  EXPECT_EQ(TranslateText(1252, 1252, "abcdef", 6, buffer.data(), 5), 0);
  EXPECT_EQ(TranslateText(437, 1252, "abcdef", 6, buffer.data(), 5), 0);
  EXPECT_EQ(TranslateText(866, 1251, "abcdef", 6, buffer.data() + 12, -1), 0);
  EXPECT_EQ(buffer.substr(12), std::string(8, '#'));
}

}  // namespace
}  // namespace norvale
