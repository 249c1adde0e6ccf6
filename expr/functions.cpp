#include "expr/functions.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string_view>
#include <vector>

#include "engine/date_time.h"
#include "expr/expr_exceptions.h"
#include "expr/expr_messages.h"
#include "expr/text_rules.h"

namespace norvale {
namespace {

template <typename T>
T Arg(const ExprNode* node, int i) {
  T value;
  std::memcpy(&value, node->args[i].Start(), sizeof value);
  return value;
}

template <typename T>
void Put(ExprNode* node, T value) {
  std::memcpy(node->result.dest->pos, &value, sizeof value);
}

void PutBoolean(ExprNode* node, bool value) { *node->result.dest->pos = value ? 1 : 0; }

// Texts end at their zero byte, as stored raw fields with NUL bytes inside do.
std::string_view ArgText(const ExprNode* node, int i) {
  const TArgBuffer& b = node->args[i];
  return std::string_view(b.Start(), strnlen(b.Start(), static_cast<size_t>(b.Used())));
}

int ArgCount(const ExprNode* node) {
  int n = 0;
  while (n < kMaxArgs && node->argType[n] != rtUnknown) ++n;
  return n;
}

// ---- Arithmetic. Integer forms wrap around; unsigned arithmetic makes the
// wrap defined.

template <typename T>
T WrapAdd(T a, T b) {
  using U = std::make_unsigned_t<T>;
  return static_cast<T>(static_cast<U>(a) + static_cast<U>(b));
}
template <typename T>
T WrapSub(T a, T b) {
  using U = std::make_unsigned_t<T>;
  return static_cast<T>(static_cast<U>(a) - static_cast<U>(b));
}
template <typename T>
T WrapMul(T a, T b) {
  using U = std::make_unsigned_t<T>;
  return static_cast<T>(static_cast<U>(a) * static_cast<U>(b));
}
template <typename T>
T WrapNeg(T a) {
  using U = std::make_unsigned_t<T>;
  return static_cast<T>(U(0) - static_cast<U>(a));
}

struct TAdd {
  static double Apply(double a, double b) { return a + b; }
  template <typename T>
  static T Apply(T a, T b) {
    return WrapAdd(a, b);
  }
};
struct TSub {
  static double Apply(double a, double b) { return a - b; }
  template <typename T>
  static T Apply(T a, T b) {
    return WrapSub(a, b);
  }
};
struct TMul {
  static double Apply(double a, double b) { return a * b; }
  template <typename T>
  static T Apply(T a, T b) {
    return WrapMul(a, b);
  }
};
struct TDiv {
  static double Apply(double a, double b) {
    if (b == 0) throw EParserException(msg::kFloatDivisionByZero);
    return a / b;
  }
  template <typename T>
  static T Apply(T a, T b) {
    if (b == 0) throw EParserException(msg::kDivisionByZero);
    if (b == -1) return WrapNeg(a);  // the lowest value divided by -1 wraps
    return a / b;
  }
};

template <typename A, typename B, typename R, typename Op>
void Arithmetic(ExprNode* node) {
  Put<R>(node, Op::Apply(static_cast<R>(Arg<A>(node, 0)), static_cast<R>(Arg<B>(node, 1))));
}

template <typename T>
void Negate(ExprNode* node) {
  if constexpr (std::is_floating_point_v<T>)
    Put<T>(node, -Arg<T>(node, 0));
  else
    Put<T>(node, WrapNeg(Arg<T>(node, 0)));
}

template <typename T>
void Identity(ExprNode* node) {
  Put<T>(node, Arg<T>(node, 0));
}

// ---- Comparisons.

enum class TCmp { kEq, kLt, kGt, kLe, kGe, kNe };

template <TCmp kOp, typename T>
bool Holds(T a, T b) {
  switch (kOp) {
    case TCmp::kEq: return a == b;
    case TCmp::kLt: return a < b;
    case TCmp::kGt: return a > b;
    case TCmp::kLe: return a <= b;
    case TCmp::kGe: return a >= b;
    case TCmp::kNe: return a != b;
  }
  return false;
}

template <typename A, typename B, typename C, TCmp kOp>
void NumericCompare(ExprNode* node) {
  PutBoolean(node, Holds<kOp, C>(static_cast<C>(Arg<A>(node, 0)), static_cast<C>(Arg<B>(node, 1))));
}

template <TCmp kOp, bool kIgnoreCase>
void TextCompare(ExprNode* node) {
  const std::string_view a = ArgText(node, 0);
  const std::string_view b = ArgText(node, 1);
  bool result;
  if (kOp == TCmp::kEq || kOp == TCmp::kNe)
    result = node->rules->Equal(a, b, kIgnoreCase) == (kOp == TCmp::kEq);
  else
    result = Holds<kOp, int>(node->rules->Compare(a, b, kIgnoreCase), 0);
  PutBoolean(node, result);
}

template <bool kIgnoreCase>
void TextWildcardEqual(ExprNode* node) {
  PutBoolean(node, node->rules->WildcardEqual(ArgText(node, 0), ArgText(node, 1), kIgnoreCase));
}

// ---- Logic. Both operands are always evaluated.

void Not(ExprNode* node) { PutBoolean(node, Arg<uint8_t>(node, 0) == 0); }
void And(ExprNode* node) { PutBoolean(node, Arg<uint8_t>(node, 0) != 0 && Arg<uint8_t>(node, 1) != 0); }
void Or(ExprNode* node) { PutBoolean(node, Arg<uint8_t>(node, 0) != 0 || Arg<uint8_t>(node, 1) != 0); }

// ---- Functions.

int64_t ClampWidth(int64_t width) { return std::min<int64_t>(width, kMaxStrWidth); }

// Fixed notation with `decimals` decimals, at most 17 significant digits:
// digits past the shortest text that reads back as the same double are
// binary noise (0.1 would show as 0.1000000000000000055), so those places
// are zeros. Returns the length written to `text`.
int64_t FixedText(char* text, size_t capacity, double value, int decimals) {
  char shortest[64];
  auto s = std::to_chars(shortest, shortest + sizeof shortest, value, std::chars_format::scientific);
  const std::string_view sci(shortest, static_cast<size_t>(s.ptr - shortest));
  const size_t e = sci.find('e');
  int exponent = 0;
  std::from_chars(sci.data() + e + (sci[e + 1] == '+' ? 2 : 1), sci.data() + sci.size(), exponent);
  int significant = 0;
  for (size_t i = 0; i < e; ++i) significant += sci[i] >= '0' && sci[i] <= '9';
  const int lastPlace = significant - 1 - exponent;  // decimals the shortest text needs
  if (decimals < lastPlace) {
    auto r = std::to_chars(text, text + capacity, value, std::chars_format::fixed, decimals);
    return r.ec == std::errc() ? r.ptr - text : 0;
  }
  auto r = std::to_chars(text, text + capacity, value, std::chars_format::fixed);
  if (r.ec != std::errc()) return 0;
  int64_t length = r.ptr - text;
  const std::string_view printed(text, static_cast<size_t>(length));
  const size_t point = printed.find('.');
  int have = point == std::string_view::npos ? 0 : static_cast<int>(length - static_cast<int64_t>(point) - 1);
  if (decimals > 0 && point == std::string_view::npos) text[length++] = '.';
  for (; have < decimals && static_cast<size_t>(length) < capacity; ++have) text[length++] = '0';
  return length;
}

void StrFloat(ExprNode* node) {
  const int count = ArgCount(node);
  const double value = Arg<double>(node, 0);
  const int64_t width = count > 1 ? Arg<int32_t>(node, 1) : 18;
  const int64_t decimals = count > 2 ? std::max<int64_t>(Arg<int32_t>(node, 2), 0) : 0;
  TArgBuffer& dest = *node->result.dest;
  if (width < 0) {
    dest.Append("", 0);
    return;
  }
  const int64_t w = ClampWidth(width);
  constexpr int kMaxPrinted = 330;
  char text[kMaxPrinted + 64];
  std::to_chars_result r{};
  const bool scientific = std::isfinite(value) && std::fabs(value) >= 1e18;
  int64_t length = 0;
  if (!std::isfinite(value) || scientific) {
    r = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific, 17);
    length = r.ec == std::errc() ? r.ptr - text : 0;
    std::replace(text, text + length, 'e', 'E');
  } else {
    length = FixedText(text, sizeof text, value, static_cast<int>(std::min<int64_t>(decimals, kMaxPrinted)));
    // A value that rounds to zero has no sign.
    if (length > 0 && text[0] == '-' &&
        std::all_of(text + 1, text + length, [](char c) { return c == '0' || c == '.'; })) {
      std::memmove(text, text + 1, static_cast<size_t>(length - 1));
      --length;
    }
  }
  // Decimals past what to_chars printed are zeros anyway.
  const int64_t zeros = !scientific && std::isfinite(value) && decimals > kMaxPrinted ? std::min(decimals, w) - kMaxPrinted : 0;
  const int64_t full = length + std::max<int64_t>(zeros, 0);
  const int64_t shown = std::min(full, w);
  const int64_t pad = count > 1 ? w - shown : 0;
  dest.EnsureSpace(pad + shown + 4);
  char* out = dest.pos;
  std::memset(out, ' ', static_cast<size_t>(pad));
  out += pad;
  const int64_t fromText = std::min(length, shown);
  std::memcpy(out, text, static_cast<size_t>(fromText));
  out += fromText;
  std::memset(out, '0', static_cast<size_t>(shown - fromText));
  out += shown - fromText;
  *out = 0;
  dest.pos = out;
}

void StrInteger(ExprNode* node) {
  const int count = ArgCount(node);
  const int64_t value = Arg<int32_t>(node, 0);
  TArgBuffer& dest = *node->result.dest;
  char digits[24];
  if (count == 1) {
    auto r = std::to_chars(digits, digits + sizeof digits, value);
    dest.Append(digits, r.ptr - digits);
    return;
  }
  const int64_t width = Arg<int32_t>(node, 1);
  if (width < 0) {
    dest.Append("", 0);
    return;
  }
  const int64_t w = ClampWidth(width);
  const int64_t decimals = count > 2 ? ClampWidth(std::max<int64_t>(Arg<int32_t>(node, 2), 0)) : -1;
  const bool negative = value < 0;
  auto r = std::to_chars(digits, digits + sizeof digits, negative ? -value : value);
  const int64_t digitCount = r.ptr - digits;
  dest.EnsureSpace(w + (decimals >= 0 ? decimals + 1 : 0) + 4);
  char* out = dest.pos;
  std::memset(out, ' ', static_cast<size_t>(w));
  // The lowest-order digits that fit, right-aligned.
  const int64_t kept = std::min(digitCount, w);
  std::memcpy(out + w - kept, digits + digitCount - kept, static_cast<size_t>(kept));
  if (negative && w > 0) {
    // With no blank left in front, the highest remaining digit gives way.
    out[kept < w ? w - kept - 1 : 0] = '-';
  }
  out += w;
  if (decimals >= 0) {
    *out++ = '.';
    std::memset(out, '0', static_cast<size_t>(decimals));
    out += decimals;
  }
  *out = 0;
  dest.pos = out;
}

void DateToString(ExprNode* node) {
  const TDateParts d = DecodeDateTime(Arg<double>(node, 0));
  char text[32];
  int length;
  if (d.year >= 0 && d.year <= 9999) {
    int y = d.year;
    for (int i = 3; i >= 0; --i, y /= 10) text[i] = static_cast<char>('0' + y % 10);
    text[4] = static_cast<char>('0' + d.month / 10);
    text[5] = static_cast<char>('0' + d.month % 10);
    text[6] = static_cast<char>('0' + d.day / 10);
    text[7] = static_cast<char>('0' + d.day % 10);
    length = 8;
  } else {
    length = std::snprintf(text, sizeof text, "%04d%02d%02d", d.year, d.month, d.day);
  }
  node->result.dest->Append(text, length);
}

void SubString(ExprNode* node) {
  const std::string_view text = ArgText(node, 0);
  const int64_t start = std::max<int64_t>(Arg<int32_t>(node, 1), 1);
  const int64_t count = Arg<int32_t>(node, 2);
  TArgBuffer& dest = *node->result.dest;
  if (count <= 0) {
    dest.Append("", 0);
    return;
  }
  const TTextRules& rules = *node->rules;
  const std::string_view rest = text.substr(rules.CharOffset(text, static_cast<size_t>(start - 1)));
  const std::string_view part = rest.substr(0, rules.CharOffset(rest, static_cast<size_t>(count)));
  dest.Append(part.data(), static_cast<int64_t>(part.size()));
}

template <bool kUpper>
void MapCase(ExprNode* node) {
  const std::string_view text = ArgText(node, 0);
  TArgBuffer& dest = *node->result.dest;
  const int64_t from = dest.Used();
  dest.Append(text.data(), static_cast<int64_t>(text.size()));
  node->rules->MapCase(dest, from, kUpper);
}

// ---- Building the tables.

void Add(TExpressList& table, std::shared_ptr<TExprWord> word) { table.Add(std::move(word)); }

void AddOperator(TExpressList& table, const char* name, const char* signature, TExpressionType result, TExprFunc f,
                 int precedence) {
  Add(table, std::make_shared<TFunction>(name, "", signature, -1, result, f, true, precedence));
}

void AddFunction(TExpressList& table, const char* name, const char* shortName, const char* signature, int minArgs,
                 TExpressionType result, TExprFunc f) {
  Add(table, std::make_shared<TFunction>(name, shortName, signature, minArgs, result, f, false, 0));
}

template <typename Op>
void AddArithmetic(TExpressList& t, const char* name, int precedence) {
  AddOperator(t, name, "FF", rtFloat, Arithmetic<double, double, double, Op>, precedence);
  AddOperator(t, name, "FI", rtFloat, Arithmetic<double, int32_t, double, Op>, precedence);
  AddOperator(t, name, "IF", rtFloat, Arithmetic<int32_t, double, double, Op>, precedence);
  AddOperator(t, name, "II", rtInteger, Arithmetic<int32_t, int32_t, int32_t, Op>, precedence);
  AddOperator(t, name, "FL", rtFloat, Arithmetic<double, int64_t, double, Op>, precedence);
  AddOperator(t, name, "IL", rtLargeInt, Arithmetic<int32_t, int64_t, int64_t, Op>, precedence);
  AddOperator(t, name, "LF", rtFloat, Arithmetic<int64_t, double, double, Op>, precedence);
  AddOperator(t, name, "LL", rtLargeInt, Arithmetic<int64_t, int64_t, int64_t, Op>, precedence);
  AddOperator(t, name, "LI", rtLargeInt, Arithmetic<int64_t, int32_t, int64_t, Op>, precedence);
}

template <typename A, typename B, typename C>
void AddNumericComparisons(TExpressList& t, const char* signature) {
  AddOperator(t, "=", signature, rtBoolean, NumericCompare<A, B, C, TCmp::kEq>, kComparePrecedence);
  AddOperator(t, "<", signature, rtBoolean, NumericCompare<A, B, C, TCmp::kLt>, kComparePrecedence);
  AddOperator(t, ">", signature, rtBoolean, NumericCompare<A, B, C, TCmp::kGt>, kComparePrecedence);
  AddOperator(t, "<=", signature, rtBoolean, NumericCompare<A, B, C, TCmp::kLe>, kComparePrecedence);
  AddOperator(t, ">=", signature, rtBoolean, NumericCompare<A, B, C, TCmp::kGe>, kComparePrecedence);
  AddOperator(t, "<>", signature, rtBoolean, NumericCompare<A, B, C, TCmp::kNe>, kComparePrecedence);
}

TExpressList BuildGeneralWords() {
  TExpressList t;
  Add(t, std::make_shared<TLeftBracket>());
  Add(t, std::make_shared<TRightBracket>());
  Add(t, std::make_shared<TComma>());
  // Concatenation has no routine: its parts append into one buffer.
  AddOperator(t, "+", "SS", rtString, nullptr, kSumPrecedence);
  AddArithmetic<TAdd>(t, "+", kSumPrecedence);
  AddArithmetic<TSub>(t, "-", kSumPrecedence);
  AddArithmetic<TMul>(t, "*", kProductPrecedence);
  AddArithmetic<TDiv>(t, "/", kProductPrecedence);
  // A sign in front of an operand (-5, X > -5, -(A + B)).
  AddOperator(t, "-@", "I", rtInteger, Negate<int32_t>, kSignPrecedence);
  AddOperator(t, "-@", "L", rtLargeInt, Negate<int64_t>, kSignPrecedence);
  AddOperator(t, "-@", "F", rtFloat, Negate<double>, kSignPrecedence);
  AddOperator(t, "+@", "I", rtInteger, Identity<int32_t>, kSignPrecedence);
  AddOperator(t, "+@", "L", rtLargeInt, Identity<int64_t>, kSignPrecedence);
  AddOperator(t, "+@", "F", rtFloat, Identity<double>, kSignPrecedence);
  AddNumericComparisons<double, double, double>(t, "FF");
  AddNumericComparisons<double, int32_t, double>(t, "FI");
  AddNumericComparisons<int32_t, int32_t, int32_t>(t, "II");
  AddNumericComparisons<int32_t, double, double>(t, "IF");
  AddNumericComparisons<int64_t, int64_t, int64_t>(t, "LL");
  AddNumericComparisons<int64_t, double, double>(t, "LF");
  AddNumericComparisons<int64_t, int32_t, int64_t>(t, "LI");
  AddNumericComparisons<double, int64_t, double>(t, "FL");
  AddNumericComparisons<int32_t, int64_t, int64_t>(t, "IL");
  AddOperator(t, "NOT", "B", rtBoolean, Not, kNotPrecedence);
  AddOperator(t, "AND", "BB", rtBoolean, And, kAndPrecedence);
  AddOperator(t, "OR", "BB", rtBoolean, Or, kOrPrecedence);
  AddFunction(t, "STR", "", "FII", 1, rtString, StrFloat);
  AddFunction(t, "STR", "", "III", 1, rtString, StrInteger);
  AddFunction(t, "DTOS", "", "D", 1, rtString, DateToString);
  AddFunction(t, "SUBSTR", "SUBS", "SII", 3, rtString, SubString);
  AddFunction(t, "UPPERCASE", "UPPER", "S", 1, rtString, MapCase<true>);
  AddFunction(t, "LOWERCASE", "LOWER", "S", 1, rtString, MapCase<false>);
  return t;
}

template <bool kIgnoreCase>
TExpressList BuildCompareWords() {
  TExpressList t;
  AddOperator(t, "<", "SS", rtBoolean, TextCompare<TCmp::kLt, kIgnoreCase>, kComparePrecedence);
  AddOperator(t, ">", "SS", rtBoolean, TextCompare<TCmp::kGt, kIgnoreCase>, kComparePrecedence);
  AddOperator(t, "<=", "SS", rtBoolean, TextCompare<TCmp::kLe, kIgnoreCase>, kComparePrecedence);
  AddOperator(t, ">=", "SS", rtBoolean, TextCompare<TCmp::kGe, kIgnoreCase>, kComparePrecedence);
  AddOperator(t, "<>", "SS", rtBoolean, TextCompare<TCmp::kNe, kIgnoreCase>, kComparePrecedence);
  return t;
}

template <bool kIgnoreCase, bool kPartial>
TExpressList BuildEqualWords() {
  TExpressList t;
  if (kPartial)
    AddOperator(t, "=", "SS", rtBoolean, TextWildcardEqual<kIgnoreCase>, kComparePrecedence);
  else
    AddOperator(t, "=", "SS", rtBoolean, TextCompare<TCmp::kEq, kIgnoreCase>, kComparePrecedence);
  return t;
}

}  // namespace

TShortCut ShortCutOf(TExprFunc routine) {
  return routine == And ? TShortCut::kAnd : routine == Or ? TShortCut::kOr : TShortCut::kNone;
}

bool MayRaise(TExprFunc routine) {
  struct TKnown {
    std::vector<TExprFunc> safe;
    std::vector<TExprFunc> raising;
    TKnown() {
      for (const TExpressList* table :
           {&GeneralWords(), &SensitiveCompareWords(), &InsensitiveCompareWords(), &SensitiveExactEqualWords(),
            &SensitivePartialEqualWords(), &InsensitiveExactEqualWords(), &InsensitivePartialEqualWords()}) {
        for (int i = 0; i < table->Count(); ++i) {
          const TExprWord* w = table->Item(i);
          (w->Name() == "/" ? raising : safe).push_back(w->Evaluate());
        }
      }
      for (TExprFunc copy : {copy::FloatCopy, copy::DateTimeCopy, copy::LargeIntCopy, copy::IntegerCopy,
                             copy::BooleanCopy, copy::StringConstantAppend, copy::StringVariableAppend})
        safe.push_back(copy);
      safe.push_back(nullptr);
    }
  };
  static const TKnown known;
  if (std::find(known.raising.begin(), known.raising.end(), routine) != known.raising.end()) return true;
  // Words a binder adds might raise; only the built-in ones are known not to.
  return std::find(known.safe.begin(), known.safe.end(), routine) == known.safe.end();
}

void ShortCutGuard(ExprNode* node) {
  const bool left = static_cast<const TArgBuffer*>(node->value)->Start()[0] != 0;
  node->next = left == node->skipWhen ? node->skipTo : node->resume;
}

const TExpressList& GeneralWords() {
  static const TExpressList table = BuildGeneralWords();
  return table;
}
const TExpressList& SensitiveCompareWords() {
  static const TExpressList table = BuildCompareWords<false>();
  return table;
}
const TExpressList& InsensitiveCompareWords() {
  static const TExpressList table = BuildCompareWords<true>();
  return table;
}
const TExpressList& SensitiveExactEqualWords() {
  static const TExpressList table = BuildEqualWords<false, false>();
  return table;
}
const TExpressList& SensitivePartialEqualWords() {
  static const TExpressList table = BuildEqualWords<false, true>();
  return table;
}
const TExpressList& InsensitiveExactEqualWords() {
  static const TExpressList table = BuildEqualWords<true, false>();
  return table;
}
const TExpressList& InsensitivePartialEqualWords() {
  static const TExpressList table = BuildEqualWords<true, true>();
  return table;
}

}  // namespace norvale
