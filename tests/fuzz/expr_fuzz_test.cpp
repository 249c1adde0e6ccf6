// A bounded, deterministic run of the expression fuzz target under the
// sanitizers: texts built from the language's own tokens, filters and keys
// seen in practice, and byte-level mutations of both.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "tests/fuzz/expr_fuzz.h"

namespace norvale::test {
namespace {

const char* const kSeeds[] = {
    "NAME = 'A*' AND PRICE > 5000 AND DTOS(BORN) >= '19700101'",
    "UPPER(NAME) + STR(QTY, 5) + DTOS(BORN)",
    "NOT (QTY > -5 OR OK) AND SUBSTR(NAME, 2, 3) <> 'nd'",
    "STR(PRICE * 100 / 3, 20, 8) + LOWER(SUBS(NAME, -3, 99))",
    "BIG * BIG - BIG / (QTY + 5) + COUNT",
    "10-3-2 = 5 AND 2*3+4 = 10 AND -(2+3) = -5",
    "'it''s' + \"x\"",
    "$1F + 1.5e2 - .5 * 1e5",
    "STR(STR) + STR(STR, 2, 1)",
    "(((NAME)))",
    "MEMO = 'x'",
    "RATE / 0.0 + 1.0 / 0 + QTY / 0",
    "NAME = '*ll*' OR NAME = '*' OR NAME = '**' OR '' = NAME",
    "STR(1, 99999, 99999)",
    "name",
};

const char* const kTokens[] = {
    "NAME", "QTY", "PRICE", "BORN", "OK", "BIG", "MEMO", "STR", "RATE", "COUNT", "NOPE", "name", "(", ")", "(", ")",
    ",", "+", "-", "*", "/", "=", "<", ">", "<=", ">=", "<>", "==", "!=", "&&", "||", "^", "NOT", "AND", "OR", "STR",
    "DTOS", "SUBSTR", "SUBS", "UPPER", "UPPERCASE", "LOWER", "LOWERCASE", "0", "1", "-1", "7", "2147483647",
    "3000000000", "1.5", ".5", "1e5", "1.5e2", "$FF", "$", "$X", "'A*'", "'*B'", "'*'", "''", "'Müller'", "\"q\"", "'",
    "\"", "\t", "\xC3", "\xFF", "~", "@", "-@", "+@",
};

std::string Generate(std::mt19937& rng) {
  std::string text;
  const int count = 1 + static_cast<int>(rng() % 24);
  for (int i = 0; i < count; ++i) {
    text += kTokens[rng() % std::size(kTokens)];
    if (rng() % 3) text += ' ';
  }
  return text;
}

// A well-typed expression over the fuzz table's fields, so that much of the
// run gets past the compiler into evaluation.
std::string Valid(std::mt19937& rng, char type, int depth) {
  auto pick = [&](std::initializer_list<const char*> items) { return std::string(items.begin()[rng() % items.size()]); };
  const bool leaf = depth <= 0 || rng() % 3 == 0;
  switch (type) {
    case 'N':
      if (leaf) return pick({"QTY", "PRICE", "BIG", "STR", "RATE", "COUNT", "7", "-3", "0", "2.5", "$10", "1e2", "1.5e2"});
      if (rng() % 4 == 0) return "-(" + Valid(rng, 'N', depth - 1) + ")";
      return "(" + Valid(rng, 'N', depth - 1) + pick({" + ", " - ", " * ", " / "}) + Valid(rng, 'N', depth - 1) + ")";
    case 'S':
      if (leaf) return pick({"NAME", "'A*'", "'*ll*'", "'x'", "''", "'Müller'", "DTOS(BORN)"});
      switch (rng() % 5) {
        case 0: return Valid(rng, 'S', depth - 1) + " + " + Valid(rng, 'S', depth - 1);
        case 1: return pick({"UPPER(", "LOWER(", "UPPERCASE("}) + Valid(rng, 'S', depth - 1) + ")";
        case 2:
          return "SUBSTR(" + Valid(rng, 'S', depth - 1) + ", " + Valid(rng, 'I', depth - 1) + ", " +
                 Valid(rng, 'I', depth - 1) + ")";
        case 3: return "STR(" + Valid(rng, 'N', depth - 1) + ")";
        default: return "STR(" + Valid(rng, 'N', depth - 1) + ", " + Valid(rng, 'I', 0) + ", " + Valid(rng, 'I', 0) + ")";
      }
    case 'I': return pick({"QTY", "STR", "COUNT", "1", "3", "-2", "0", "40", "99999"});
    default:
      if (leaf) return pick({"OK", "QTY > -5", "NAME = 'A*'", "NOT OK"});
      switch (rng() % 4) {
        case 0: return Valid(rng, 'B', depth - 1) + pick({" AND ", " OR ", " and "}) + Valid(rng, 'B', depth - 1);
        case 1: return "NOT (" + Valid(rng, 'B', depth - 1) + ")";
        case 2:
          return Valid(rng, 'N', depth - 1) + pick({" = ", " < ", " >= ", " <> "}) + Valid(rng, 'N', depth - 1);
        default:
          return Valid(rng, 'S', depth - 1) + pick({" = ", " < ", " >= ", " <> "}) + Valid(rng, 'S', depth - 1);
      }
  }
}

void Mutate(std::string& s, std::mt19937& rng) {
  const int rounds = 1 + static_cast<int>(rng() % 4);
  for (int i = 0; i < rounds; ++i) {
    const size_t at = s.empty() ? 0 : rng() % (s.size() + 1);
    switch (rng() % 5) {
      case 0:
        if (!s.empty()) s[at % s.size()] = static_cast<char>(rng());
        break;
      case 1: s.insert(at, 1, "()',*-+$.e\"0 "[rng() % 13]); break;
      case 2:
        if (!s.empty()) s.erase(at % s.size(), 1 + rng() % 4);
        break;
      case 3: s.insert(at, kTokens[rng() % std::size(kTokens)]); break;
      default: {  // splices a piece of the text into itself
        if (s.empty()) break;
        const size_t from = rng() % s.size();
        s.insert(at, s.substr(from, rng() % 12));
        break;
      }
    }
  }
}

bool Feed(uint8_t options, const std::string& text) {
  std::string input(1, static_cast<char>(options));
  input += text;
  return fuzz::FuzzExpression(reinterpret_cast<const uint8_t*>(input.data()), input.size()) ==
         fuzz::TFuzzOutcome::kEvaluated;
}

TEST(ExprFuzz, GeneratedAndMutatedTextsCompileOrFailCleanly) {
  std::mt19937 rng(20240611);
  const char* env = std::getenv("NORVALE_FUZZ_ITERATIONS");
  const int iterations = env ? std::atoi(env) : 100000;
  int evaluated = 0;
  for (int i = 0; i < iterations; ++i) {
    std::string text;
    uint8_t options = static_cast<uint8_t>(rng());
    switch (i % 4) {
      case 0: text = Generate(rng); break;
      case 1: text = kSeeds[rng() % std::size(kSeeds)]; break;
      case 2: text = Generate(rng) + " " + kSeeds[rng() % std::size(kSeeds)]; break;
      default:
        text = Valid(rng, "NSB"[rng() % 3], 1 + static_cast<int>(rng() % 5));
        options |= 2;  // with the table its fields belong to
        break;
    }
    if (i % 4 == 1 || i % 4 == 2 || rng() % 3 == 0) Mutate(text, rng);
    SCOPED_TRACE("iteration " + std::to_string(i) + ": " + text);
    evaluated += Feed(options, text);
  }
  // Both outcomes must be common, or the run tests only one side.
  EXPECT_GT(evaluated, iterations / 20);
  EXPECT_LT(evaluated, iterations - iterations / 20);
}

TEST(ExprFuzz, EverySeedUnderEveryOption) {
  for (const char* seed : kSeeds) {
    for (int options = 0; options < 64; ++options) {
      SCOPED_TRACE(seed);
      Feed(static_cast<uint8_t>(options), seed);
    }
  }
}

TEST(ExprFuzz, RandomBytes) {
  std::mt19937 rng(99);
  for (int i = 0; i < 3000; ++i) {
    std::string text(rng() % 64, ' ');
    for (char& c : text) c = static_cast<char>(rng());
    Feed(static_cast<uint8_t>(rng()), text);
  }
}

}  // namespace
}  // namespace norvale::test
