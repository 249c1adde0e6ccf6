// The built-in words: operators, the functions, and the seven standard word
// tables, built once per process and read-only afterwards.
#pragma once

#include "expr/words.h"

namespace norvale {

// Arithmetic ("*" and "/" bind tighter than "+" and "-"), signs, the numeric
// comparisons, NOT, AND, OR, brackets, the comma and the functions STR, DTOS,
// SUBSTR, UPPERCASE and LOWERCASE.
const TExpressList& GeneralWords();
// "<", ">", "<=", ">=", "<>" on two texts.
const TExpressList& SensitiveCompareWords();
const TExpressList& InsensitiveCompareWords();
// "=" on two texts, exact or with "*" at the start or end of the right one.
const TExpressList& SensitiveExactEqualWords();
const TExpressList& SensitivePartialEqualWords();
const TExpressList& InsensitiveExactEqualWords();
const TExpressList& InsensitivePartialEqualWords();

// AND and OR can skip their right operand when the left one decides, as
// long as nothing skipped could raise (only division can).
enum class TShortCut { kNone, kAnd, kOr };
TShortCut ShortCutOf(TExprFunc routine);
bool MayRaise(TExprFunc routine);
// The routine of the guard node that decides the skip.
void ShortCutGuard(ExprNode* node);

// STR's widths and decimals are kept to this many characters, so that no
// literal can make one evaluation allocate gigabytes.
inline constexpr int kMaxStrWidth = 65535;

// Precedences: a greater number binds more loosely.
inline constexpr int kSignPrecedence = 20;
inline constexpr int kProductPrecedence = 30;
inline constexpr int kSumPrecedence = 40;
inline constexpr int kComparePrecedence = 80;
inline constexpr int kNotPrecedence = 85;
inline constexpr int kAndPrecedence = 90;
inline constexpr int kOrPrecedence = 100;

}  // namespace norvale
