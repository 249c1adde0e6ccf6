// Every message text the expression layer raises. Users of other programs
// know these words, so they are kept verbatim.
#pragma once

namespace norvale::msg {

// Compiling.
inline constexpr const char* kTooManyArguments = "Too many arguments";
inline constexpr const char* kUnequalBrackets = "Unequal brackets";
inline constexpr const char* kMissingOperatorBetween = "Missing operator between '%s' and '%s'";
inline constexpr const char* kMissingClosingBracket = "Missing closing bracket";
inline constexpr const char* kMissingOperatorBrackets = "Missing operator between )(";
inline constexpr const char* kMissingOperatorAfterBracket = "Missing operator between ) and constant/variable";
inline constexpr const char* kMissingOperatorBeforeBracket = "Missing operator between constant/variable and (";
inline constexpr const char* kOperatorMissing = "Operator/function missing";
inline constexpr const char* kTooFewArgs = "Function or operand has too few arguments";
inline constexpr const char* kArgTypeMismatch = "Argument type mismatch";
inline constexpr const char* kTooManyArgs = "Function or operand has too many arguments";
inline constexpr const char* kNoFunction = "No function with this name, remove brackets for variable";
inline constexpr const char* kUnknownVariable = "Unknown variable '%s' found.";
// Brackets and operators nested deeper than the compiler follows.
inline constexpr const char* kTooComplex = "Expression nested too deeply";

// Number literals (raised as EConvertError).
inline constexpr const char* kNotValidInteger = "'%s' is not a valid integer value";
inline constexpr const char* kNotValidFloat = "'%s' is not a valid floating point value";

// Evaluating.
inline constexpr const char* kDivisionByZero = "Division by zero";
inline constexpr const char* kFloatDivisionByZero = "Floating point division by zero";

// Binding to a table (raised as EDbfError).
inline constexpr const char* kUnknownField = "Index based on unknown field \"%s\".";
inline constexpr const char* kInvalidIndexFieldType = "Field \"%s\" is an invalid field type to base index on.";
inline constexpr const char* kIndexResultTooLong = "Index result for \"%s\" too long, >100 characters (%d).";

}  // namespace norvale::msg
