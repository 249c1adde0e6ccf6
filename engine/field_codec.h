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

#include <cstdint>

#include "engine/fields.h"

namespace norvale {

enum TDateTimeHandling { dtDateTime, dtBDETimeStamp };

struct TFieldCodec {
  TXBaseVersion version = xBaseIV;
  const TDbfFieldDef* nullFlagsField = nullptr;
  TDateTimeHandling dateTimeHandling = dtBDETimeStamp;

  // Whether the field has a value; the value goes to `dst` when given.
  bool Decode(const TDbfFieldDef& field, TFieldType request, bool nativeFormat, void* dst,
              const uint8_t* record) const;
  // `value` null means null. Never writes outside the field (and its null bit).
  void Encode(const TDbfFieldDef& field, TFieldType request, bool nativeFormat, uint8_t* record,
              const void* value) const;
  bool IsNullFlagged(const TDbfFieldDef& field, const uint8_t* record) const;
};

}  // namespace norvale
