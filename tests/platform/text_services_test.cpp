// Code pages, the user's locale, comparison and case mapping.
#include "platform/text_services.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/text_codec.h"

namespace norvale {
namespace {

// Sets environment variables for one test and puts the old values back.
class TEnvironment {
 public:
  TEnvironment(std::initializer_list<std::pair<const char*, const char*>> values) {
    for (auto [name, value] : values) {
      const char* old = std::getenv(name);
      saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
      if (value)
        setenv(name, value, 1);
      else
        unsetenv(name);
    }
  }
  TEnvironment(const TEnvironment&) = delete;
  TEnvironment& operator=(const TEnvironment&) = delete;
  ~TEnvironment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second)
        setenv(it->first.c_str(), it->second->c_str(), 1);
      else
        unsetenv(it->first.c_str());
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// The user's locale is LANG alone, as on a desktop session.
TEnvironment Lang(const char* lang) {
  return TEnvironment{{"LC_ALL", nullptr}, {"LC_COLLATE", nullptr}, {"LANG", lang}};
}

std::string Upper(int cp, std::string s) {
  UpperInCodePage(cp, s.data(), s.size());
  return s;
}
std::string Lower(int cp, std::string s) {
  LowerInCodePage(cp, s.data(), s.size());
  return s;
}

TEST(TextServicesTest, KnownCharactersConvertBothWays) {
  struct TCase {
    int cp;
    std::string bytes;
    std::string utf8;
    std::u16string utf16;
  };
  const TCase cases[] = {
      {437, "\x81\xE1\x9B\xE6", "üß¢µ", u"üß¢µ"},  // micro sign, not Greek mu
      {850, "\x9B\xD5\xA9", "øı®", u"øı®"},
      {852, "\xA5\xA4\x9F\xAA", "ąĄč¬", u"ąĄč¬"},
      {866, "\x80\xA0\xF1\xF0", "АаёЁ", u"АаёЁ"},
      {1251, "\xC0\xE0\xA8", "АаЁ", u"АаЁ"},
      {1252, "\x80\xE9\x9F", "€éŸ", u"€éŸ"},
      {28591, "\xE9\xA0", "é\xC2\xA0", u"é\u00A0"},
      {65001, "\xCE\xA9x\xF0\x9F\x98\x80", "Ωx😀", u"Ωx😀"},
      {932, "\x82\xA0" "a\x83\x41", "あaア", u"あaア"},
      {936, "\xD6\xD0" "a", "中a", u"中a"},
      {949, "\xC7\xD1" "a", "한a", u"한a"},
      {950, "\xA4\xA4" "a", "中a", u"中a"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.cp);
    std::string utf8, bytes;
    std::u16string utf16;
    ASSERT_TRUE(CodePageToUtf8(c.cp, c.bytes, utf8));
    EXPECT_EQ(utf8, c.utf8);
    ASSERT_TRUE(Utf8ToCodePage(c.cp, c.utf8, bytes));
    EXPECT_EQ(bytes, c.bytes);
    ASSERT_TRUE(CodePageToUtf16(c.cp, c.bytes, utf16));
    EXPECT_EQ(utf16, c.utf16);
    ASSERT_TRUE(Utf16ToCodePage(c.cp, c.utf16, bytes));
    EXPECT_EQ(bytes, c.bytes);
  }
}

TEST(TextServicesTest, CyrillicRowOfCp866) {
  std::string bytes;
  for (int b = 0x80; b <= 0xAF; ++b) bytes += static_cast<char>(b);
  std::u16string text;
  ASSERT_TRUE(CodePageToUtf16(866, bytes, text));
  ASSERT_EQ(text.size(), 48u);
  for (size_t i = 0; i < text.size(); ++i) EXPECT_EQ(text[i], u'А' + i) << i;
}

// A wrong reverse table would turn good text into '?' or into a neighbour.
TEST(TextServicesTest, EverySingleByteCharacterRoundTrips) {
  for (int cp : InstalledCodePages()) {
    if (!CodePageIsSingleByte(cp)) continue;
    SCOPED_TRACE(cp);
    for (int b = 0; b < 256; ++b) {
      const std::string byte(1, static_cast<char>(b));
      std::u16string text;
      ASSERT_TRUE(CodePageToUtf16(cp, byte, text));
      ASSERT_EQ(text.size(), 1u) << b;
      if (text[0] == 0xFFFD) continue;
      std::string back;
      ASSERT_TRUE(Utf16ToCodePage(cp, text, back));
      EXPECT_EQ(back, byte) << "byte " << b;
    }
  }
}

// ICU's IBM pages move 0x1A, 0x1C and 0x7F around; the end-of-file mark must
// stay what it is, and ASCII must be ASCII in the pages tables use most.
TEST(TextServicesTest, AsciiAndControlsDecodeAsThemselves) {
  std::string ascii;
  for (int b = 0; b < 0x80; ++b) ascii += static_cast<char>(b);
  for (int cp : {437, 850, 852, 866, 1251, 1252, 932, 936, 950}) {
    SCOPED_TRACE(cp);
    std::string utf8, back;
    ASSERT_TRUE(CodePageToUtf8(cp, ascii, utf8));
    EXPECT_EQ(utf8, ascii);
    ASSERT_TRUE(Utf8ToCodePage(cp, ascii, back));
    EXPECT_EQ(back, ascii);
  }
}

TEST(TextServicesTest, CharactersTheCodePageLacksBecomeQuestionMarks) {
  struct TCase {
    int cp;
    std::string utf8;
    std::string bytes;
  };
  const TCase cases[] = {
      {1252, "aЖb", "a?b"},
      {437, "€", "?"},
      {866, "é", "?"},
      {1252, "😀", "?"},                  // one mark for a supplementary character
      {1252, "a\xFF" "b", "a?b"},         // not UTF-8 at all
      {950, "aé", "a?"},
      {932, "€x", "?x"},
      {65001, "a\xC3" "b", "a\xEF\xBF\xBD" "b"},  // nothing is unmappable, only malformed
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.cp);
    std::string bytes;
    ASSERT_TRUE(Utf8ToCodePage(c.cp, c.utf8, bytes));
    EXPECT_EQ(bytes, c.bytes);
  }
  std::string bytes;
  const std::u16string loneSurrogate = {u'a', char16_t(0xD800), u'b'};
  ASSERT_TRUE(Utf16ToCodePage(1252, loneSurrogate, bytes));
  EXPECT_EQ(bytes, "a?b");
  ASSERT_TRUE(Utf16ToCodePage(949, loneSurrogate, bytes));
  EXPECT_EQ(bytes, "a?b");
  ASSERT_TRUE(Utf16ToCodePage(65001, loneSurrogate, bytes));
  EXPECT_EQ(bytes, "a\xEF\xBF\xBD" "b");
}

TEST(TextServicesTest, InvalidSourceBytesBecomeReplacementCharacters) {
  struct TCase {
    int cp;
    std::string bytes;
    std::u16string text;
  };
  const TCase cases[] = {
      {65001, "a\xFF" "b", u"a\uFFFDb"},
      {65001, "a\xE2\x82", u"a\uFFFD"},          // cut off inside a character
      {65001, "\xC0\xAF", u"\uFFFD\uFFFD"},      // overlong '/'
      {65001, "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // encoded surrogate
      {950, "a\xA4", u"a\uFFFD"},                // lead byte without its trail
      {932, "\xA0" "a", u"\uFFFDa"},
      {1253, "a\xD2", u"a\uFFFD"},              // a hole in the Greek page
      {20127, "\xE9", u"\uFFFD"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.cp);
    std::u16string text;
    ASSERT_TRUE(CodePageToUtf16(c.cp, c.bytes, text));
    EXPECT_EQ(text, c.text);
    std::string utf8, expected;
    ASSERT_TRUE(CodePageToUtf8(c.cp, c.bytes, utf8));
    ASSERT_TRUE(Utf16ToCodePage(65001, c.text, expected));
    EXPECT_EQ(utf8, expected);
  }
}

TEST(TextServicesTest, CodePagesWithoutAConverterAreNotInstalled) {
  // 867 and 868 exist in ICU as IBM's Hebrew and Urdu pages, not the
  // Kamenicky and Bulgarian pages a table means by them; 37 is EBCDIC.
  for (int cp : {620, 895, 867, 868, 37, 1200, 0, -1, 99999}) {
    SCOPED_TRACE(cp);
    EXPECT_FALSE(CodePageInstalled(cp));
    std::string bytes = "stale";
    std::u16string text = u"stale";
    EXPECT_FALSE(CodePageToUtf8(cp, "abc", bytes));
    EXPECT_TRUE(bytes.empty());
    EXPECT_FALSE(CodePageToUtf16(cp, "abc", text));
    EXPECT_TRUE(text.empty());
    bytes = "stale";
    EXPECT_FALSE(Utf8ToCodePage(cp, "abc", bytes));
    EXPECT_TRUE(bytes.empty());
    bytes = "stale";
    EXPECT_FALSE(Utf16ToCodePage(cp, u"abc", bytes));
    EXPECT_TRUE(bytes.empty());
  }
  // Case mapping still works on ASCII so keys of such tables stay usable.
  EXPECT_EQ(Upper(895, "ab\xA0"), "AB\xA0");
}

TEST(TextServicesTest, InstalledListHoldsTheTablePagesInOrder) {
  const std::vector<int> installed = InstalledCodePages();
  EXPECT_TRUE(std::is_sorted(installed.begin(), installed.end()));
  EXPECT_EQ(std::adjacent_find(installed.begin(), installed.end()), installed.end());
  for (int cp : {437, 737, 850, 852, 857, 860, 861, 863, 865, 866, 869, 874, 932, 936, 949, 950, 1250, 1251, 1252,
                 1253, 1254, 1255, 1256, 1257, 1258, 10000, 10006, 10007, 10029, 20127, 28591, 28592, 28605, 65001})
    EXPECT_NE(std::find(installed.begin(), installed.end(), cp), installed.end()) << cp;
  for (int cp : installed) EXPECT_TRUE(CodePageInstalled(cp)) << cp;
  for (int cp : {620, 895}) EXPECT_EQ(std::find(installed.begin(), installed.end(), cp), installed.end()) << cp;
}

TEST(TextServicesTest, AnsiAndOemCodePagesFollowTheEnvironment) {
  struct TCase {
    const char* ansi;
    const char* oem;
    int expectedAnsi;
    int expectedOem;
  };
  const TCase cases[] = {
      {nullptr, nullptr, 1252, 437},
      {"1251", "866", 1251, 866},
      {"", "", 1252, 437},
      {"abc", "850x", 1252, 437},
      {"0", "-5", 1252, 437},
      {"70000", "65001", 1252, 65001},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.ansi ? c.ansi : "(unset)") + " " + (c.oem ? c.oem : "(unset)"));
    TEnvironment env{{"NORVALE_ANSI_CP", c.ansi}, {"NORVALE_OEM_CP", c.oem}};
    EXPECT_EQ(AnsiCodePage(), c.expectedAnsi);
    EXPECT_EQ(OemCodePage(), c.expectedOem);
  }
}

TEST(TextServicesTest, UserLocaleComesFromTheFirstSetVariable) {
  struct TCase {
    const char* lcAll;
    const char* lcCollate;
    const char* lang;
    std::string name;
    uint32_t id;
  };
  const TCase cases[] = {
      {nullptr, nullptr, nullptr, "root", 0x0409},
      {nullptr, nullptr, "de_DE.UTF-8", "de_DE", 0x0407},
      {"", "", "de_DE.UTF-8", "de_DE", 0x0407},
      {nullptr, "fr_CA.UTF-8", "de_DE.UTF-8", "fr_CA", 0x0C0C},
      {"ru_RU.KOI8-R", "fr_CA.UTF-8", "de_DE.UTF-8", "ru_RU", 0x0419},
      {"C.UTF-8", nullptr, "de_DE.UTF-8", "root", 0x0409},
      {nullptr, nullptr, "POSIX", "root", 0x0409},
      {nullptr, nullptr, "de", "de", 0x0407},
      {nullptr, nullptr, "sv_SE@euro", "sv_SE", 0x041D},
      {nullptr, nullptr, "sr_RS@latin", "sr_Latn_RS", 0x241A},
      {nullptr, nullptr, "xx_YY.UTF-8", "xx_YY", 0x0409},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TEnvironment env{{"LC_ALL", c.lcAll}, {"LC_COLLATE", c.lcCollate}, {"LANG", c.lang}};
    EXPECT_EQ(UserLocaleName(), c.name);
    EXPECT_EQ(UserLocaleId(), c.id);
  }
}

TEST(TextServicesTest, CompareLocaleOrdersByTheUserLocale) {
  {
    auto env = Lang("en_US.UTF-8");
    const std::vector<std::string> ascending = {"a", "A", "b", "B", "c", "résumé", "Résumé", "resumes"};
    for (size_t i = 0; i < ascending.size(); ++i) {
      for (size_t j = 0; j < ascending.size(); ++j) {
        int expected = i < j ? -1 : i > j ? 1 : 0;
        EXPECT_EQ(CompareLocale(ascending[i], ascending[j], false), expected) << ascending[i] << " " << ascending[j];
      }
    }
    EXPECT_EQ(CompareLocale("abc", "ABC", true), 0);
    EXPECT_EQ(CompareLocale("Résumé", "résumé", true), 0);
    EXPECT_EQ(CompareLocale("resume", "résumé", true), -1);  // accents still count
    EXPECT_EQ(CompareLocale("abd", "ABC", true), 1);
    EXPECT_EQ(CompareLocale("ö", "z", false), -1);
  }
  {
    // Swedish puts ö after z: the collator must follow a changed locale.
    auto env = Lang("sv_SE.UTF-8");
    EXPECT_EQ(CompareLocale("ö", "z", false), 1);
    EXPECT_EQ(CompareLocale("Ö", "z", true), 1);
  }
}

TEST(TextServicesTest, Utf8CaseMappingIsFullAndFollowsTheLocale) {
  struct TCase {
    const char* lang;
    std::string text;
    std::string upper;
    std::string lower;
  };
  const TCase cases[] = {
      {"de_DE.UTF-8", "Straße", "STRASSE", "straße"},
      {"en_US.UTF-8", "ΟΔΟΣ", "ΟΔΟΣ", "οδο\u03C2"},  // final sigma
      {"en_US.UTF-8", "iİ", "Iİ", "ii\xCC\x87"},
      {"tr_TR.UTF-8", "iIİı", "İIİI", "iıiı"},
      {"en_US.UTF-8", "a\xFF" "b", "A\xFF" "B", "a\xFF" "b"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.text + " " + c.lang);
    auto env = Lang(c.lang);
    EXPECT_EQ(UpperUtf8(c.text), c.upper);
    EXPECT_EQ(LowerUtf8(c.text), c.lower);
  }
}

TEST(TextServicesTest, CaseMappingInCodePage) {
  struct TCase {
    int cp;
    std::string lower;
    std::string upper;
  };
  const TCase cases[] = {
      {1252, "az\xE9\xFF\xE6", "AZ\xC9\x9F\xC6"},  // é, ÿ -> Ÿ at 0x9F, æ
      {1252, "\xDF\xB5\xAA", "\xDF\xB5\xAA"},       // ß and µ have no one-byte capital here
      {1251, "\xE0\xFF\xB8", "\xC0\xDF\xA8"},       // а я ё
      {866, "\xA0\xAF\xE0\xEF\xF1", "\x80\x8F\x90\x9F\xF0"},
      {437, "\x81\x82\x87\xA4", "\x9A\x90\x80\xA5"},  // ü é ç ñ
      {437, "\xA0\xE1", "\xA0\xE1"},                  // á and ß: no capitals in 437
      {852, "\xA5\xE7", "\xA4\xE6"},                  // ą š
      {1253, "\xE1\xF3", "\xC1\xD3"},                 // α σ
      {65001, "ab\xC3\xA9", "AB\xC3\xA9"},            // only ASCII in multi-byte pages
      {950, "x\xA4\x61y", "X\xA4\x61Y"},              // trail bytes that look like letters
      {950, "x\xA4\x41y", "X\xA4\x41Y"},
      {932, "a\x82\x61" "b", "A\x82\x61" "B"},
      {936, "a\x81\x61", "A\x81\x61"},
      {949, "\xB0\x7A" "z\xB0", "\xB0\x7A" "Z\xB0"},  // ending on a lone lead byte
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.cp);
    EXPECT_EQ(Upper(c.cp, c.lower), c.upper);
    EXPECT_EQ(Lower(c.cp, c.upper), c.lower);
  }
  // Final ς shares Σ as its capital, so upper-casing is one-way there.
  EXPECT_EQ(Upper(1253, "\xF2"), "\xD3");
}

TEST(TextServicesTest, DecoderAgreesWithTheConversions) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const std::string big5 = "a\xA4\xA4\xA4";
  for (int cp : {437, 1252, 950, 65001}) {
    SCOPED_TRACE(cp);
    const TCodePageDecoder decoder(cp);
    ASSERT_TRUE(decoder.Valid());
    for (const std::string& bytes : {all, big5}) {
      std::string viaDecoder = "prefix", direct;
      decoder.AppendUtf8(viaDecoder, bytes.data(), bytes.size());
      ASSERT_TRUE(CodePageToUtf8(cp, bytes, direct));
      EXPECT_EQ(viaDecoder, "prefix" + direct);
    }
  }
  const TCodePageDecoder missing(895);
  EXPECT_FALSE(missing.Valid());
  std::string out;
  missing.AppendUtf8(out, "a\x80", 2);
  EXPECT_EQ(out, "a\xEF\xBF\xBD");
}

// First use of a code page, a collator and a case map from several threads at
// once: each must be built exactly once and agree across threads.
TEST(TextServicesTest, FirstUseFromSeveralThreads) {
  auto env = Lang("da_DK.UTF-8");
  std::vector<std::string> results(8);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < results.size(); ++t) {
    threads.emplace_back([&results, t] {
      std::string& r = results[t];
      for (int cp : {1257, 10007, 54936, 855}) {
        std::string bytes, back;
        Utf8ToCodePage(cp, "Žė€ж", bytes);
        CodePageToUtf8(cp, bytes, back);
        r += back + "|";
      }
      r += std::to_string(CompareLocale("å", "z", false)) + UpperUtf8("ø");
    });
  }
  for (auto& th : threads) th.join();
  for (const std::string& r : results) EXPECT_EQ(r, results[0]);
  // Danish sorts å last; Windows-1257 has Ž, ė and € but not ж.
  EXPECT_EQ(results[0].substr(0, results[0].find('|')), "Žė€?");
  EXPECT_EQ(results[0].substr(results[0].rfind('|') + 1), "1Ø");
}

}  // namespace
}  // namespace norvale
