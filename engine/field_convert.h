// Carrying a stored value from one field definition to another when a
// table's structure changes: by value, never by bytes, so that a number keeps
// its value when its width or decimals change, and a value that would not
// survive the change stops it instead of arriving altered.
#pragma once

#include <cstdint>
#include <string>

#include "engine/fields.h"

namespace norvale {

enum class TConversion {
  kBytes,    // same type and layout: the bytes themselves
  kMemo,     // a memo value, copied between the memo files
  kNumber,   // decimal text, realigned and rounded to the new decimals
  kText,     // text to text (what fits)
  kToText,   // a number, date or logical as its text
  kFromText, // text that must read as the new type
  kNone,     // no defined conversion
};

// How values of `from` reach `to`.
TConversion ConversionFor(const TDbfFieldDef& from, const TDbfFieldDef& to);

// Converts the stored bytes `in` (from.Size() bytes) into `out` (to.Size()
// bytes, already blank). Returns an empty string, or why the value cannot
// be carried ("Value 12345.67 does not fit field AMOUNT (width 6, 2
// decimals)."). Not for kMemo and kNone.
std::string ConvertValue(TConversion how, const TDbfFieldDef& from, const uint8_t* in, const TDbfFieldDef& to,
                         uint8_t* out);

}  // namespace norvale
