// The expression language without a table: grammar, precedence, signs,
// overloads, folding, every function and every compile message.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/date_time.h"
#include "engine/exceptions.h"
#include "expr/expr_exceptions.h"
#include "expr/functions.h"
#include "expr/parser_core.h"

namespace norvale {
namespace {

// A parser with a few variables of every type, optionally with wildcard or
// case-sensitive text equality.
class TTestParser : public TCustomExpressionParser {
 public:
  explicit TTestParser(bool partial = false, bool ignoreCase = true) {
    WordTable().Clear();
    WordTable().AddAll(GeneralWords());
    if (ignoreCase) {
      WordTable().AddAll(InsensitiveCompareWords());
      WordTable().AddAll(partial ? InsensitivePartialEqualWords() : InsensitiveExactEqualWords());
    } else {
      WordTable().AddAll(SensitiveCompareWords());
      WordTable().AddAll(partial ? SensitivePartialEqualWords() : SensitiveExactEqualWords());
    }
    AddIntegerVariable("A", &a);
    AddIntegerVariable("B", &b);
    AddIntegerVariable("C", &c);
    AddFloatVariable("X", &x);
    AddFloatVariable("Y", &y);
    AddLargeIntVariable("L", &l);
    AddDateTimeVariable("D", &d);
    AddBooleanVariable("FLAG", &flag);
    AddStringVariable("NAME", &name);
  }
  int32_t a = 1, b = 2, c = 3;
  // When set, an unknown name becomes an integer variable holding 7, the way
  // a table binder makes a field of it.
  bool offerVariables = false;
  int32_t seven = 7;
  double x = 0, y = 0;
  int64_t l = 5000000000;
  double d = 0;
  uint8_t flag = 1;
  const char* name = "SMITH";

 protected:
  void ResolveUnknownWord(const std::string& word) override {
    if (offerVariables) AddIntegerVariable(word, &seven);
  }
};

// "I:5", "S:text", "B:1", "F:3.5", "L:...", or the error: "P:" parser,
// "C:" conversion, "D:" table error, each followed by the message.
std::string Show(TCustomExpressionParser& p) {
  const char* r = p.ResultBuffer();
  switch (p.ResultType()) {
    case rtInteger: {
      int32_t v;
      std::memcpy(&v, r, sizeof v);
      return "I:" + std::to_string(v);
    }
    case rtLargeInt: {
      int64_t v;
      std::memcpy(&v, r, sizeof v);
      return "L:" + std::to_string(v);
    }
    case rtFloat:
    case rtDateTime: {
      double v;
      std::memcpy(&v, r, sizeof v);
      char text[64];
      std::snprintf(text, sizeof text, "%.15g", v);
      return (p.ResultType() == rtFloat ? "F:" : "D:") + std::string(text);
    }
    case rtBoolean: return "B:" + std::to_string(int(r[0]));
    case rtString: return "S:" + std::string(r);
    default: return "none";
  }
}

std::string Eval(TCustomExpressionParser& p, const std::string& text) {
  try {
    p.Clear();
    p.Compile(text);
    p.EvaluateList();
    return Show(p);
  } catch (const EParserException& e) {
    return std::string("P:") + e.what();
  } catch (const EConvertError& e) {
    return std::string("C:") + e.what();
  } catch (const EDbfError& e) {
    return std::string("D:") + e.what();
  }
}

struct TCase {
  const char* text;
  const char* expected;
};

void ExpectAll(TCustomExpressionParser& p, std::initializer_list<TCase> cases) {
  for (const TCase& c : cases) EXPECT_EQ(Eval(p, c.text), c.expected) << "expression: " << c.text;
}

TEST(ExprParser, ArithmeticBindsProductsFirstAndGroupsFromTheLeft) {
  TTestParser p;
  ExpectAll(p, {
                   {"10-3-2", "I:5"},
                   {"2*3+4", "I:10"},
                   {"(2*3)+4", "I:10"},
                   {"2+3*4", "I:14"},
                   {"2*(3+4)", "I:14"},
                   {"8/4/2", "I:1"},
                   {"10-(3-2)", "I:9"},
                   {"100/10*2", "I:20"},
                   {"1-2+3", "I:2"},
                   {"2*3-4*5+6/2", "I:-11"},
                   {"((2+3))*4", "I:20"},
                   {"(2)+(3)", "I:5"},
                   {"A+B*C", "I:7"},
                   {"A-B-C", "I:-4"},
               });
}

TEST(ExprParser, NumericTypesWidenAndWrap) {
  TTestParser p;
  ExpectAll(p, {
                   {"7 / 2", "I:3"},
                   {"0-7 / 2", "I:-3"},
                   {"7.0 / 2", "F:3.5"},
                   {"7 / 2.0", "F:3.5"},
                   {"1 + 2.5", "F:3.5"},
                   {"2147483647 + 1", "I:-2147483648"},
                   {"0-2147483647-2", "I:2147483647"},
                   {"65536 * 65536", "I:0"},
                   {"L + 1", "L:5000000001"},
                   {"1 + L", "L:5000000001"},
                   {"L * L * L * L", "L:-4927124840600567808"},
                   {"L / 2", "L:2500000000"},
                   {"L + 0.5", "F:5000000000.5"},
                   {"$1F", "I:31"},
                   {"$7FFFFFFF", "I:2147483647"},
                   {"1.5e2", "F:150"},
                   {"1.5e+2 + 2.5e-1", "F:150.25"},
                   {".5 + 1", "F:1.5"},
                   {"5.", "F:5"},
               });
}

TEST(ExprParser, SignsInFrontOfOperands) {
  TTestParser p;
  ExpectAll(p, {
                   {"-5", "I:-5"},
                   {"+5", "I:5"},
                   {"- -5", "I:5"},
                   {"-+-5", "I:5"},
                   {"--5", "I:5"},
                   {"-(2+3)", "I:-5"},
                   {"2 - -3", "I:5"},
                   {"2--3", "I:5"},
                   {"3 * -2", "I:-6"},
                   {"-2 * 3", "I:-6"},
                   {"-10 - 3 - 2", "I:-15"},
                   {"X > -5", "B:1"},
                   {"-1.5 * 2", "F:-3"},
                   {"-L", "L:-5000000000"},
                   {"(-A)", "I:-1"},
                   {"STR(-A, 3)", "S: -1"},
                   {"NOT -A = 1", "B:1"},
                   {"0 - 2147483647 - 1 = -2147483647 - 1", "B:1"},
                   {"-'abc'", "P:Argument type mismatch"},
               });
}

TEST(ExprParser, LogicAndComparisonPrecedence) {
  TTestParser p;
  ExpectAll(p, {
                   // OR is looser than AND: (1 = 1) OR ((1 = 2) AND (1 = 3)).
                   {"1 = 1 OR 1 = 2 AND 1 = 3", "B:1"},
                   {"A = 1 OR B = 1 AND C = 1", "B:1"},
                   {"(A = 1 OR B = 1) AND C = 1", "B:0"},
                   // NOT applies to the whole comparison.
                   {"NOT A = B", "B:1"},
                   {"NOT A = 1", "B:0"},
                   {"NOT A = 1 OR B = 2", "B:1"},
                   {"NOT NOT A = 1", "B:1"},
                   {"A = 1 AND NOT B = 1 AND C = 3", "B:1"},
                   {"A < B AND B <= 2 AND C > B AND C >= 3 AND A <> B", "B:1"},
                   {"1 = 1.0 AND 1.5 > 1 AND L > 1 AND 1 < L AND L = 5000000000.0", "B:1"},
                   {"FLAG AND NOT FLAG", "B:0"},
                   {"FLAG OR FLAG", "B:1"},
                   {"a = 1 and b = 2 or c = 0", "B:1"},
               });
}

TEST(ExprParser, TextFunctions) {
  TTestParser p;
  ExpectAll(p, {
                   {"'AB' + 'CD' + 'EF'", "S:ABCDEF"},
                   {"UPPER('ab' + 'cd')", "S:ABCD"},
                   {"UPPERCASE(NAME) + LOWER(NAME)", "S:SMITHsmith"},
                   {"upper('straße')", "S:STRASSE"},
                   {"LOWER('ÄÖÜ')", "S:äöü"},
                   {"NAME + '-' + NAME", "S:SMITH-SMITH"},
                   {"SUBSTR('ABCDEF', 3, 2)", "S:CD"},
                   {"SUBS('ABCDEF', 3, 2)", "S:CD"},
                   {"SUBSTR('ABC', 2, 10)", "S:BC"},
                   {"SUBSTR('ABC', 5, 1)", "S:"},
                   {"SUBSTR('ABC', 0, 2)", "S:AB"},
                   {"SUBSTR('ABC', -9, 1)", "S:A"},
                   {"SUBSTR('ABC', 2, -1)", "S:"},
                   {"SUBSTR('ABC', 2, 0)", "S:"},
                   {"SUBSTR('Müller', 2, 2)", "S:ül"},
                   {"SUBSTR(NAME, 2, 3) + SUBSTR(NAME, 1, 1)", "S:MITS"},
                   {"'it' + \"'s\"", "S:it's"},
                   {"'unterminated", "S:'unterminated"},
               });
}

TEST(ExprParser, StrOfNumbers) {
  TTestParser p;
  ExpectAll(p, {
                   {"STR(12.5, 8, 2)", "S:   12.50"},
                   {"STR(-7)", "S:-7"},
                   {"STR(42, 5)", "S:   42"},
                   {"STR(42, 5, 1)", "S:   42.0"},
                   {"STR(42, 5, 0)", "S:   42."},
                   {"STR(5, 4, 2)", "S:   5.00"},
                   {"STR(-123, 3)", "S:-23"},
                   {"STR(12345, 3)", "S:345"},
                   {"STR(-5, 4)", "S:  -5"},
                   {"STR(-5, 1)", "S:-"},
                   {"STR(7, 0)", "S:"},
                   {"STR(7, 0, 2)", "S:.00"},
                   {"STR(0-2147483647-1)", "S:-2147483648"},
                   {"STR(7, -1)", "S:"},
                   {"STR(7.5, -3, 1)", "S:"},
                   {"STR(1.5)", "S:2"},
                   {"STR(0.1, 25, 20)", "S:   0.10000000000000000000"},
                   {"STR(1234.5678, 6, 2)", "S:1234.5"},
                   {"STR(0-0.001, 8, 2)", "S:    0.00"},
                   {"STR(0-2.25, 6, 1)", "S:  -2.2"},
                   {"STR(X)", "S:0"},
                   {"STR(123456789.0, 5)", "S:12345"},
                   {"STR(1.0/3, 20, 18)", "S:0.333333333333333300"},
                   {"STR(L * 1.0, 12)", "S:  5000000000"},
               });
  // Widths are kept to a sane size whatever the literal says.
  EXPECT_EQ(Eval(p, "STR(1, 2000000000)").size(), 2 + static_cast<size_t>(kMaxStrWidth));
  EXPECT_EQ(Eval(p, "STR(1.0, 2000000000, 2000000000)").size(), 2 + static_cast<size_t>(kMaxStrWidth));
}

TEST(ExprParser, DateToString) {
  TTestParser p;
  TDateTime date;
  ASSERT_TRUE(EncodeDateTime(TDateParts{2004, 3, 1}, &date));
  p.d = date;
  EXPECT_EQ(Eval(p, "DTOS(D)"), "S:20040301");
  p.d = date + 0.75;  // the time of day does not show
  EXPECT_EQ(Eval(p, "DTOS(D)"), "S:20040301");
  p.d = 0;
  EXPECT_EQ(Eval(p, "DTOS(D)"), "S:18991230");
  p.d = -1;
  EXPECT_EQ(Eval(p, "DTOS(D)"), "S:18991229");
  p.d = 1e300;  // far outside the calendar: read as day 0
  EXPECT_EQ(Eval(p, "DTOS(D)"), "S:18991230");
  EXPECT_EQ(Eval(p, "DTOS(D) >= '18991230' AND DTOS(D) < '19000101'"), "B:1");
}

TEST(ExprParser, TextComparisonByLocale) {
  TTestParser insensitive;
  ExpectAll(insensitive, {
                             {"'abc' = 'ABC'", "B:1"},
                             {"'abc' <> 'ABD'", "B:1"},
                             {"'a' < 'B'", "B:1"},
                             {"'B' > 'a'", "B:1"},
                             {"'19700101' <= '19700102'", "B:1"},
                             {"'Äpfel' = 'äpfel'", "B:1"},
                             {"'abc' = 'ab*'", "B:0"},
                             {"'Müller' >= 'muller'", "B:1"},
                         });
  TTestParser sensitive(false, false);
  ExpectAll(sensitive, {
                           {"'abc' = 'ABC'", "B:0"},
                           {"'abc' = 'abc'", "B:1"},
                           {"'abc' < 'ABC'", "B:1"},
                           {"'a' < 'B'", "B:1"},
                       });
}

TEST(ExprParser, WildcardEquality) {
  TTestParser p(true);
  auto with = [&](const char* value, const char* expression) {
    p.name = value;
    return Eval(p, expression);
  };
  EXPECT_EQ(with("SMITH", "NAME = 'SM*'"), "B:1");
  EXPECT_EQ(with("SM", "NAME = 'SM*'"), "B:1");
  EXPECT_EQ(with("S", "NAME = 'SM*'"), "B:0");
  EXPECT_EQ(with("smith", "NAME = 'SM*'"), "B:1");
  EXPECT_EQ(with("SMITH", "NAME = '*TH'"), "B:1");
  EXPECT_EQ(with("TH", "NAME = '*TH'"), "B:1");
  EXPECT_EQ(with("H", "NAME = '*TH'"), "B:0");
  EXPECT_EQ(with("SMITH", "NAME = '*MI*'"), "B:1");
  EXPECT_EQ(with("SMITH", "NAME = '*mi*'"), "B:1");
  EXPECT_EQ(with("SMITH", "NAME = '*MX*'"), "B:0");
  EXPECT_EQ(with("SMITH", "NAME = '**'"), "B:1");
  EXPECT_EQ(with("SMITH", "NAME = '*'"), "B:0");
  EXPECT_EQ(with("", "NAME = '*'"), "B:0");
  EXPECT_EQ(with("", "NAME = ''"), "B:1");
  EXPECT_EQ(with("A*B", "NAME = 'A*B'"), "B:1");
  EXPECT_EQ(with("AXB", "NAME = 'A*B'"), "B:0");
  // The left operand is never a pattern.
  EXPECT_EQ(with("AxB", "'A*B' = NAME"), "B:0");
  EXPECT_EQ(with("A*", "'ABC' = NAME"), "B:1");
  // Characters, not bytes: "ü" is one.
  EXPECT_EQ(with("Müller", "NAME = 'MÜ*'"), "B:1");
  EXPECT_EQ(with("Müller", "NAME = '*ÜLLER'"), "B:1");
  EXPECT_EQ(with("Mü", "NAME = '*Ü'"), "B:1");
  EXPECT_EQ(with("Müller", "NAME = '*üll*'"), "B:1");
}

TEST(ExprParser, CompileMessages) {
  TTestParser p;
  std::string deep;
  for (int i = 0; i < 1200; ++i) deep += "(";
  deep += "1";
  for (int i = 0; i < 1200; ++i) deep += "+1)";
  std::string deepCalls;
  for (int i = 0; i < 1200; ++i) deepCalls += "UPPER(";
  deepCalls += "'a'" + std::string(1200, ')');
  ExpectAll(p, {
                   {"(5", "P:Unequal brackets"},
                   {"5)", "P:Unequal brackets"},
                   {"(A", "P:Unequal brackets"},
                   {"(5)(6)", "P:Missing operator between )("},
                   {"5 (6)", "P:Missing operator between constant/variable and ("},
                   {"A (B)", "P:Missing operator between constant/variable and ("},
                   {"(5) 6", "P:Missing operator between ) and constant/variable"},
                   {"(A) B", "P:Missing operator between ) and constant/variable"},
                   {")+(", "P:Missing closing bracket"},
                   {"'it''s'", "P:Missing operator between ''it'' and ''s''"},
                   {"1 2", "P:Missing operator between '1' and '2'"},
                   {"A B", "P:Missing operator between 'A' and 'B'"},
                   {"5) + (6", "P:Operator/function missing"},
                   {"STR(1, 2, 3, 4)", "P:Function or operand has too many arguments"},
                   {"STR(1, 2, 3, 4, 5, 6, 7)", "P:Function or operand has too many arguments"},
                   {"SUBSTR('abc', 1)", "P:Function or operand has too few arguments"},
                   {"STR()", "P:Function or operand has too few arguments"},
                   {"NOT", "P:Function or operand has too few arguments"},
                   {"UPPER(5)", "P:Argument type mismatch"},
                   {"'a' + 1", "P:Argument type mismatch"},
                   {"A AND B", "P:Argument type mismatch"},
                   {"STR", "P:No function with this name, remove brackets for variable"},
                   {"ZZZ", "P:Unknown variable 'ZZZ' found."},
                   {"A == 1", "P:Unknown variable '==' found."},
                   {"1e5", "C:'1e5' is not a valid integer value"},
                   {"3000000000", "C:'3000000000' is not a valid integer value"},
                   {"$FFFFFFFF", "C:'4294967295' is not a valid integer value"},
                   {"1.5e", "C:'1.5e' is not a valid floating point value"},
                   {"1.0e999", "C:'1.0e999' is not a valid floating point value"},
                   {".", "C:'.' is not a valid floating point value"},
                   {"1.0 / 0", "P:Floating point division by zero"},
                   {deep.c_str(), "P:Expression nested too deeply"},
                   {deepCalls.c_str(), "P:Expression nested too deeply"},
               });
}

TEST(ExprParser, TokensSeparateOnControlCharacters) {
  TTestParser p;
  ExpectAll(p, {
                   {"\t1\t+\r\n2 ", "I:3"},
                   {"A\t=\t1", "B:1"},
                   {"A<>B", "B:1"},
                   {"A<=B", "B:1"},
                   {"", "none"},
                   {"   ", "none"},
                   {"()", "none"},
               });
}

TEST(ExprParser, DivisionByZeroLeavesTheListUsable) {
  TTestParser p;
  p.Compile("X / Y");
  EXPECT_THROW(p.EvaluateList(), EParserException);
  p.y = 4;
  p.x = 2;
  p.EvaluateList();
  EXPECT_EQ(Show(p), "F:0.5");
  p.Clear();
  p.Compile("A / (B - 2)");
  try {
    p.EvaluateList();
    FAIL() << "no error";
  } catch (const EParserException& e) {
    EXPECT_STREQ(e.what(), "Division by zero");
  }
}

TEST(ExprParser, FailedCompileLeavesNothingAndCompilesAgain) {
  TTestParser p;
  EXPECT_THROW(p.Compile("A + (B * 'x')"), EParserException);
  EXPECT_FALSE(p.HasExpression());
  EXPECT_EQ(p.ResultType(), rtUnknown);
  EXPECT_EQ(Eval(p, "A + B"), "I:3");
}

TEST(ExprParser, ConstantsFoldOnlyWhenOptimising) {
  // Folding computes constant parts while compiling, so a float division by
  // zero among constants fails there; without folding it fails when run.
  TTestParser p;
  EXPECT_THROW(p.Compile("X + 1.0 / 0"), EParserException);
  p.SetOptimize(false);
  p.Compile("X + 1.0 / 0");
  EXPECT_THROW(p.EvaluateList(), EParserException);
  p.Clear();
  // Folded texts and booleans give the same values as computed ones.
  for (bool optimise : {true, false}) {
    p.SetOptimize(optimise);
    EXPECT_EQ(Eval(p, "UPPER('ab' + 'cd') + NAME"), "S:ABCDSMITH");
    EXPECT_EQ(Eval(p, "1 = 1 AND A = 1"), "B:1");
    EXPECT_EQ(Eval(p, "2.5 * 2 + X"), "F:5");
  }
}

TEST(ExprParser, OverloadsAreTriedInOrderAndShortNamesWork) {
  TTestParser p;
  ExpectAll(p, {
                   {"STR(5)", "S:5"},
                   {"STR(5.0)", "S:5"},
                   {"str(5, 3)", "S:  5"},
                   {"Lower('AB')", "S:ab"},
                   {"SUBS('abc', 2, 2)", "S:bc"},
               });
  // A variable named like a function is found when written without
  // brackets; calls still find the function.
  p.offerVariables = true;
  EXPECT_EQ(Eval(p, "STR(STR) + 'x'"), "S:7x");
  EXPECT_EQ(Eval(p, "STR + 1"), "I:8");
  EXPECT_EQ(Eval(p, "STR(STR + 1, 3)"), "S:  8");
  EXPECT_EQ(Eval(p, "QTY * 2"), "I:14");
}

TEST(ExprParser, ResultBufferGrowsForLongTexts) {
  TTestParser p;
  std::string longText(300, 'q');
  p.name = longText.c_str();
  EXPECT_EQ(Eval(p, "NAME + NAME + UPPER(NAME)"), "S:" + longText + longText + std::string(300, 'Q'));
  EXPECT_EQ(Eval(p, "SUBSTR(NAME + 'end', 299, 10)"), "S:qqend");
}

TEST(ExprParser, TooManyLettersInASignature) {
  EXPECT_THROW(TFunction("F", "", "IIIIIII", -1, rtInteger, nullptr), EParserException);
}

}  // namespace
}  // namespace norvale
