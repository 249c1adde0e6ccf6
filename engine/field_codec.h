// Decoding field values from a record image into typed values and encoding
// them back, by the field's native type letter and the requested logical type.
//
// In-memory value forms by requested type:
//   ftString            NUL-terminated text (the destination holds Size + 1 bytes)
//   ftSmallint, ftBoolean  int16_t (0/1 for boolean)
//   ftInteger, ftAutoInc   int32_t
//   ftLargeint          int64_t
//   ftFloat, ftCurrency double
//   ftBCD               int64_t holding value x 10000
//   ftDate, ftDateTime  TDateTime; with the native-format flag and a request
//                       other than ftDateTime a date is an int32_t day number
//   ftBytes             the field's raw bytes (Size bytes)
#pragma once

#include <array>
#include <cstdint>

#include "engine/fields.h"

namespace norvale {

enum TDateTimeHandling { dtDateTime, dtBDETimeStamp };

// A logical byte: 1 for T, t, Y, y; 0 for F, f, N, n; -1 for "?" and every
// other byte, which has no value.
namespace detail {
// Read for every logical of every record a dump writes: one look-up.
constexpr std::array<int8_t, 256> kLogicalValues = [] {
  std::array<int8_t, 256> values{};
  values.fill(-1);
  for (const char c : {'T', 't', 'Y', 'y'}) values[static_cast<uint8_t>(c)] = 1;
  for (const char c : {'F', 'f', 'N', 'n'}) values[static_cast<uint8_t>(c)] = 0;
  return values;
}();
}  // namespace detail

inline int LogicalValue(char c) { return detail::kLogicalValues[static_cast<uint8_t>(c)]; }
// Whether the trimmed stored text [begin, end) of a field of type `letter`
// holds a value when read as `request` (not ftString): no "?" logical, no
// number made of stars, no date of zeros, impossible or not of digits.
bool TextHasValue(char letter, TFieldType request, const char* text, int begin, int end, int size);

struct TFieldCodec {
  TXBaseVersion version = xBaseIV;
  const TDbfFieldDef* nullFlagsField = nullptr;
  TDateTimeHandling dateTimeHandling = dtBDETimeStamp;

  // Whether the field has a value; the value goes to `dst` when given.
  bool Decode(const TDbfFieldDef& field, TFieldType request, bool nativeFormat, void* dst,
              const uint8_t* record) const;
  // `value` null means null. Never writes outside the field (and its null
  // bit). A number whose integer digits do not fit the field raises EDbfError
  // and writes nothing; decimals that do not fit are rounded away.
  void Encode(const TDbfFieldDef& field, TFieldType request, bool nativeFormat, uint8_t* record,
              const void* value) const;
  bool IsNullFlagged(const TDbfFieldDef& field, const uint8_t* record) const;
};

}  // namespace norvale
