// Text comparison skips the collator for plain ASCII and for number-like
// text; whatever the locale, its answers must be the collator's.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

#include "expr/text_rules.h"
#include "platform/text_services.h"

namespace norvale {
namespace {

class TLocaleScope {
 public:
  explicit TLocaleScope(const char* locale) {
    const char* old = std::getenv("LC_ALL");
    hadOld_ = old != nullptr;
    if (old) old_ = old;
    setenv("LC_ALL", locale, 1);
  }
  ~TLocaleScope() {
    if (hadOld_)
      setenv("LC_ALL", old_.c_str(), 1);
    else
      unsetenv("LC_ALL");
  }

 private:
  bool hadOld_ = false;
  std::string old_;
};

std::string RandomText(std::mt19937& rng, const std::string& alphabet, size_t maxLength) {
  std::string s(rng() % (maxLength + 1), ' ');
  for (char& c : s) c = alphabet[rng() % alphabet.size()];
  return s;
}

int Sign(int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

TEST(TextRules, ShortcutsAgreeWithTheCollatorInEveryLocale) {
  std::string printable;
  for (char c = 0x20; c <= 0x7E; ++c) printable += c;
  const std::string numeric = "0123456789 -.";
  const std::string letters = "aAbBcCsSzZiIyY -";
  // Pairs that tailorings treat specially: Hungarian double digraphs,
  // Danish "aa", Turkish dotted and dotless i, punctuation Thai ignores.
  const std::pair<const char*, const char*> tricky[] = {
      {"ccs", "cscs"}, {"aa", "AA"}, {"i", "I"}, {"a b", "ab"}, {"a-b", "ab"}, {"10", "9"}, {"1.5", "1-5"},
      {"-1", " 1"},    {"", " "},    {"Aa", "aA"}};
  for (const char* locale : {"C.UTF-8", "en_US.UTF-8", "de_DE.UTF-8", "da_DK.UTF-8", "hu_HU.UTF-8", "tr_TR.UTF-8",
                             "th_TH.UTF-8", "en_US@colNumeric=yes"}) {
    TLocaleScope scope(locale);
    TTextRules rules;
    rules.Setup(kUtf8CodePage);
    std::mt19937 rng(7);
    for (bool ignoreCase : {false, true}) {
      auto check = [&](const std::string& a, const std::string& b) {
        const int expected = CompareLocale(a, b, ignoreCase);
        ASSERT_EQ(rules.Equal(a, b, ignoreCase), expected == 0)
            << locale << " ignoreCase=" << ignoreCase << " [" << a << "] [" << b << "]";
        ASSERT_EQ(Sign(rules.Compare(a, b, ignoreCase)), expected)
            << locale << " ignoreCase=" << ignoreCase << " [" << a << "] [" << b << "]";
      };
      for (const auto& [a, b] : tricky) {
        check(a, b);
        check(b, a);
      }
      for (const std::string* alphabet : std::initializer_list<const std::string*>{&printable, &numeric, &letters}) {
        for (int i = 0; i < 1500; ++i) check(RandomText(rng, *alphabet, 6), RandomText(rng, *alphabet, 6));
      }
    }
  }
}

TEST(TextRules, TextInATableCodePageIsComparedAsItsCharacters) {
  TTextRules rules;
  rules.Setup(1252);
  // "Müller" and "MÜLLER" in code page 1252.
  EXPECT_TRUE(rules.Equal("M\xFCller", "M\xDCLLER", true));
  EXPECT_FALSE(rules.Equal("M\xFCller", "M\xDCLLER", false));
  EXPECT_TRUE(rules.WildcardEqual("M\xFCller", "*\xDCL*", true));
  EXPECT_TRUE(rules.WildcardEqual("M\xFCller", "M\xDC*", true));
  EXPECT_LT(rules.Compare("M\xFCller", "Mz", true), 0);
  // Characters are bytes in a single-byte code page.
  EXPECT_EQ(rules.CharCount("M\xFCller"), 6u);
  rules.Setup(kUtf8CodePage);
  EXPECT_EQ(rules.CharCount("Müller"), 6u);
  EXPECT_EQ(rules.CharOffset("Müller", 2), 3u);
  EXPECT_EQ(rules.CharOffset("Müller", 99), 7u);
}

}  // namespace
}  // namespace norvale
