#include "engine/field_codec.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "engine/byte_order.h"
#include "engine/date_time.h"
#include "engine/exceptions.h"
#include "engine/messages.h"
#include "engine/globals.h"

namespace norvale {

namespace {

constexpr uint32_t kSignBit32 = 0x80000000u;

bool AllZero(const uint8_t* p, int n) {
  for (int i = 0; i < n; ++i)
    if (p[i]) return false;
  return true;
}

// Parses [spaces][sign]digits filling the whole text; false when it is not a number.
bool ParseInteger(const char* first, const char* last, int64_t* out) {
  while (first < last && *first == ' ') ++first;
  if (first < last && *first == '+') ++first;
  if (first == last) return false;
  auto r = std::from_chars(first, last, *out);
  return r.ec == std::errc() && r.ptr == last;
}

bool ParseFloat(const char* first, const char* last, double* out) {
  while (first < last && *first == ' ') ++first;
  if (first < last && *first == '+') ++first;
  if (first == last) return false;
  // from_chars would accept "inf" and "nan"; a numeric field never means them.
  const char c = *first == '-' && first + 1 < last ? first[1] : *first;
  if (!((c >= '0' && c <= '9') || c == '.')) return false;
  auto r = std::from_chars(first, last, *out, std::chars_format::general);
  return r.ec == std::errc() && r.ptr == last;
}

int DatePart(const char* text, int from, int count, int size) {
  if (from + count > size) return 1;
  int64_t v;
  return ParseInteger(text + from, text + from + count, &v) ? static_cast<int>(v) : 1;
}

// A double that no 64-bit integer can hold (infinite, NaN, too large) gives 0
// rather than undefined behaviour.
int64_t TruncateToInt64(double d) {
  return std::isfinite(d) && std::fabs(d) < 9.2e18 ? static_cast<int64_t>(d) : 0;
}

// Currency is value x 10000 with the further digits cut off. The product of a
// typed value such as 19.99 lands a few ulps below the integer it means
// (199899.99999999997), and cutting that would store 19.9899; products that
// close to an integer are taken as that integer.
int64_t ScaleCurrency(double value) {
  const double scaled = value * 10000.0;
  const double nearest = std::nearbyint(scaled);
  if (std::fabs(scaled - nearest) <= 8 * std::numeric_limits<double>::epsilon() * std::fabs(nearest))
    return TruncateToInt64(nearest);
  return TruncateToInt64(scaled);
}

void PutNumber(void* dst, TFieldType request, int64_t i, double d, bool isFloat) {
  switch (request) {
    case ftSmallint:
    case ftBoolean: {
      int16_t v = static_cast<int16_t>(isFloat ? TruncateToInt64(d) : i);
      std::memcpy(dst, &v, sizeof v);
      break;
    }
    case ftInteger:
    case ftAutoInc:
    case ftWord: {
      int32_t v = static_cast<int32_t>(isFloat ? TruncateToInt64(d) : i);
      std::memcpy(dst, &v, sizeof v);
      break;
    }
    case ftLargeint: {
      int64_t v = isFloat ? TruncateToInt64(d) : i;
      std::memcpy(dst, &v, sizeof v);
      break;
    }
    case ftBCD: {
      int64_t v = ScaleCurrency(isFloat ? d : double(i));
      std::memcpy(dst, &v, sizeof v);
      break;
    }
    default: {
      double v = isFloat ? d : double(i);
      std::memcpy(dst, &v, sizeof v);
      break;
    }
  }
}

void PutDate(void* dst, TFieldType request, bool nativeFormat, TDateTime value) {
  if (nativeFormat && request != ftDateTime) {
    int64_t day, ms;
    DateTimeToDayMs(value, &day, &ms);
    int32_t v = static_cast<int32_t>(day);
    std::memcpy(dst, &v, sizeof v);
  } else {
    std::memcpy(dst, &value, sizeof value);
  }
}

TDateTime GetDate(const void* value, TFieldType request, bool nativeFormat) {
  if (nativeFormat && request != ftDateTime) {
    int32_t day;
    std::memcpy(&day, value, sizeof day);
    return DateTimeFromDayMs(day, 0);
  }
  TDateTime v;
  std::memcpy(&v, value, sizeof v);
  return v;
}

int64_t GetInteger(const void* value, TFieldType request) {
  switch (request) {
    case ftSmallint:
    case ftBoolean: {
      int16_t v;
      std::memcpy(&v, value, sizeof v);
      return v;
    }
    case ftInteger:
    case ftAutoInc:
    case ftWord: {
      int32_t v;
      std::memcpy(&v, value, sizeof v);
      return v;
    }
    case ftLargeint:
    case ftBCD: {
      int64_t v;
      std::memcpy(&v, value, sizeof v);
      return v;
    }
    default: {
      double v;
      std::memcpy(&v, value, sizeof v);
      return TruncateToInt64(v);
    }
  }
}

double GetFloat(const void* value, TFieldType request) {
  switch (request) {
    case ftFloat:
    case ftCurrency:
    case ftDate:
    case ftDateTime: {
      double v;
      std::memcpy(&v, value, sizeof v);
      return v;
    }
    case ftBCD:
      return double(GetInteger(value, request)) / 10000.0;
    default:
      return double(GetInteger(value, request));
  }
}

TDateTime BdeMsToDateTime(double ms) {
  if (!std::isfinite(ms) || std::fabs(ms) > 9.0e17) return 0;
  double day = std::floor(ms / double(kMsPerDay));
  return DateTimeFromDayMs(static_cast<int64_t>(day), static_cast<int64_t>(ms - day * double(kMsPerDay)));
}

double DateTimeToBdeMs(TDateTime value) {
  int64_t day, ms;
  DateTimeToDayMs(value, &day, &ms);
  return double(day) * double(kMsPerDay) + double(ms);
}

// Keeping the low-order digits of a number too wide for its field would
// store a different number without a word; the write is refused instead.
[[noreturn]] void RaiseDoesNotFit(const TDbfFieldDef& field, const std::string& value) {
  throw EDbfError(FormatMessage(msg::kValueDoesNotFit, value.c_str(), field.FieldName().c_str(), field.Size(),
                                field.Precision()));
}

// Integer digits right-aligned in the field, as the text rules want them.
void EncodeIntegerText(const TDbfFieldDef& field, uint8_t* p, int width, int64_t value, bool zeroPad) {
  if (width <= 0) return;
  char digits[24];
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  auto r = std::to_chars(digits, digits + sizeof digits, magnitude);
  int n = static_cast<int>(r.ptr - digits);
  const bool negative = value < 0;
  if (n + (negative ? 1 : 0) > width) RaiseDoesNotFit(field, std::to_string(value));
  std::memset(p, zeroPad ? '0' : ' ', static_cast<size_t>(width));
  std::memcpy(p + width - n, digits, static_cast<size_t>(n));
  if (negative) p[zeroPad ? 0 : width - n - 1] = '-';
}

// Fixed-point text of `value` rounded to `decimals` decimals, halves away
// from zero as dBASE programs round (0.125 gives 0.13 where to_chars alone,
// rounding an exact tie to even, would give 0.12). A value that rounds to
// zero is written without a sign. Returns the length, 0 when it does not fit.
int FixedText(char* text, size_t capacity, double value, int decimals) {
  // Extra digits show which side of the half the value lies on.
  constexpr int kGuard = 30;
  auto r = std::to_chars(text, text + capacity, value, std::chars_format::fixed, decimals + kGuard);
  if (r.ec != std::errc()) return 0;
  int len = static_cast<int>(r.ptr - text) - kGuard;
  if (decimals == 0) --len;  // the point went with the guard digits
  const bool negative = text[0] == '-';
  const bool up = text[len + (decimals == 0 ? 1 : 0)] >= '5';
  if (up) {
    int i = len - 1;
    for (; i >= (negative ? 1 : 0); --i) {
      if (text[i] == '.') continue;
      if (text[i] != '9') break;
      text[i] = '0';
    }
    if (i >= (negative ? 1 : 0)) {
      ++text[i];
    } else {  // a carry out of the first digit: 99.5 becomes 100
      if (static_cast<size_t>(len) + 1 >= capacity) return 0;
      const int at = negative ? 1 : 0;
      std::memmove(text + at + 1, text + at, static_cast<size_t>(len - at));
      text[at] = '1';
      ++len;
    }
  }
  bool zero = true;
  for (int i = negative ? 1 : 0; i < len; ++i) zero = zero && (text[i] == '0' || text[i] == '.');
  if (negative && zero) {
    std::memmove(text, text + 1, static_cast<size_t>(len - 1));
    --len;
  }
  return len;
}

// Fixed-point text with `decimals` decimals, rounded to fewer where the
// field is too narrow for all of them. The text is made with to_chars, not
// printf: the viewer runs under the user's locale, and a table must get "."
// whatever that locale's decimal separator is.
void EncodeFloatText(const TDbfFieldDef& field, uint8_t* p, int width, int decimals, double value) {
  if (width <= 0) return;
  char text[400];
  int len;
  if (!std::isfinite(value)) {
    const char* word = std::isnan(value) ? "NAN" : (value < 0 ? "-INF" : "INF");
    len = static_cast<int>(std::strlen(word));
    std::memcpy(text, word, static_cast<size_t>(len));
  } else {
    // Beyond 1e300 the fixed text would not fit the buffer; no field holds it.
    if (std::fabs(value) >= 1e300) RaiseDoesNotFit(field, std::to_string(value));
    int roundTo = std::clamp(decimals, 0, 60);
    len = FixedText(text, sizeof text, value, roundTo);
    // Each decimal dropped saves a character, the last one the point too;
    // rounding may carry into a new digit, so the text is made again.
    while (len > width && roundTo > 0) {
      roundTo = std::max(0, roundTo - (len - width));
      len = FixedText(text, sizeof text, value, roundTo);
    }
    if (len <= 0 || len > width) {
      char shortest[64];
      auto r = std::to_chars(shortest, shortest + sizeof shortest, value);
      RaiseDoesNotFit(field, std::string(shortest, r.ptr));
    }
  }
  len = std::clamp(len, 0, width);
  std::memset(p, ' ', static_cast<size_t>(width));
  std::memcpy(p + width - len, text, static_cast<size_t>(len));
}

void EncodeDateText(uint8_t* p, int width, TDateTime value, bool withTime) {
  TDateParts d = DecodeDateTime(value);
  char text[32];
  int len = withTime && width >= 14
                ? std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", d.year, d.month, d.day, d.hour,
                                d.minute, d.second)
                : std::snprintf(text, sizeof text, "%04d%02d%02d", d.year, d.month, d.day);
  len = std::clamp(len, 0, width);
  std::memset(p, ' ', static_cast<size_t>(width));
  std::memcpy(p, text, static_cast<size_t>(len));
}

// Whether the digits at [from, from + count) of a date form a number: blanks
// may lead (two-digit years), nothing else may stand among them.
bool DateDigits(const char* text, int from, int count, int size) {
  if (from + count > size) return true;  // a short field: the part defaults
  int i = from;
  while (i < from + count - 1 && text[i] == ' ') ++i;
  for (; i < from + count; ++i)
    if (text[i] < '0' || text[i] > '9') return false;
  return true;
}

}  // namespace

bool TextHasValue(char letter, TFieldType request, const char* text, int begin, int end, int size) {
  // "?" is the logical that was never answered; other bytes mean nothing.
  if (request == ftBoolean) return LogicalValue(text[begin]) >= 0;
  if (letter == 'N' || letter == 'F') {
    // All stars: the mark of a value that overflowed, or of none (GDAL).
    for (int i = begin; i < end; ++i)
      if (text[i] != '*') return true;
    return false;
  }
  if (letter == 'D' || letter == 'T') {
    // "00000000", digits of no real date, or letters: no date, rather than
    // day 0 of the calendar (which shows as 1899-12-30).
    if (size >= 8 && std::all_of(text, text + 8, [](char c) { return c >= '0' && c <= '9'; })) {
      // The common shape, eight digits: days up to the 28th exist in every
      // month of every year.
      const int y = (text[0] - '0') * 1000 + (text[1] - '0') * 100 + (text[2] - '0') * 10 + (text[3] - '0');
      const int m = (text[4] - '0') * 10 + (text[5] - '0'), d = (text[6] - '0') * 10 + (text[7] - '0');
      return (y >= 1 && m >= 1 && m <= 12 && d >= 1 && d <= 28) || IsValidDate(y, m, d);
    }
    if (!DateDigits(text, 0, 4, size) || !DateDigits(text, 4, 2, size) || !DateDigits(text, 6, 2, size)) return false;
    if (size < 8) return true;
    const int month = DatePart(text, 4, 2, size), day = DatePart(text, 6, 2, size);
    int year = DatePart(text, 0, 4, size);
    // Two-digit years fall in a century below; any century has the day.
    if (year < 100 && text[0] == ' ' && text[1] == ' ') year += 2000;
    return IsValidDate(year, month, day);
  }
  return true;
}

bool TFieldCodec::IsNullFlagged(const TDbfFieldDef& field, const uint8_t* record) const {
  if (!nullFlagsField || field.NullPosition() < 0) return false;
  const int byte = field.NullPosition() / 8;
  if (byte >= nullFlagsField->Size()) return false;
  return (record[nullFlagsField->Offset() + byte] >> (field.NullPosition() % 8)) & 1;
}

bool TFieldCodec::Decode(const TDbfFieldDef& field, TFieldType request, bool nativeFormat, void* dst,
                         const uint8_t* record) const {
  if (!record) return false;
  if (!dst && nullFlagsField && field.NullPosition() >= 0) return !IsNullFlagged(field, record);

  const uint8_t* p = record + field.Offset();
  const int size = field.Size();
  const char letter = field.NativeFieldType();
  const bool fox = version == xFoxPro;

  switch (letter) {
    case 'I':
    case '+':
      if (size < 4) return false;
      if (!fox) {
        if (AllZero(p, 4)) return false;
        if (dst) PutNumber(dst, request, static_cast<int32_t>(GetBE32(p) ^ kSignBit32), 0, false);
      } else if (dst) {
        PutNumber(dst, request, static_cast<int32_t>(GetLE32(p)), 0, false);
      }
      return true;
    case '@': {
      if (size < 8 || AllZero(p, 8)) return false;
      double raw = BitsToDouble(GetBE64(p));
      TDateTime value = dateTimeHandling == dtBDETimeStamp ? BdeMsToDateTime(raw) : raw;
      if (dst) PutDate(dst, request, nativeFormat, std::isfinite(value) ? value : 0);
      return true;
    }
    case 'O': {
      if (size < 8 || AllZero(p, 8)) return false;
      uint64_t bits = GetBE64(p);
      bits = static_cast<int64_t>(bits) > 0 ? ~bits : bits ^ (uint64_t(1) << 63);
      if (dst) PutNumber(dst, request, 0, BitsToDouble(bits), true);
      return true;
    }
    case 'T':
      if (!fox && size != 8) break;  // a 14-character text date-time
      if (size < 8 || AllZero(p, 8)) return false;
      if (dst) {
        int64_t day = static_cast<int64_t>(GetLE32(p)) - kJulianDayOffset;
        int64_t ms = GetLE32(p + 4);
        PutDate(dst, request, nativeFormat, DateTimeFromDayMs(day, ms));
      }
      return true;
    case 'B':
      if (!fox) break;
      if (size < 8) return false;
      if (dst) PutNumber(dst, request, 0, BitsToDouble(GetLE64(p)), true);
      return true;
    case 'Y':
      if (size < 8) return false;
      if (dst) {
        int64_t v = static_cast<int64_t>(GetLE64(p));
        if (request == ftBCD)
          std::memcpy(dst, &v, sizeof v);
        else
          PutNumber(dst, request, 0, double(v) / 10000.0, true);
      }
      return true;
    case '0':
      if (request == ftBytes) {
        if (dst) std::memcpy(dst, p, static_cast<size_t>(size));
        return true;
      }
      break;
    default:
      if (field.IsBinaryBlockField()) {
        uint32_t block = GetLE32(p);
        if (block == 0) return false;
        if (dst) PutNumber(dst, request, block, 0, false);
        return true;
      }
      break;
  }

  // Text rules.
  const char* text = reinterpret_cast<const char*>(p);
  const bool asText = request == ftString;
  // Some writers pad numbers and dates with NUL bytes instead of blanks.
  auto padding = [asText](char c) { return c == ' ' || (!asText && c == 0); };
  int end = size;
  while (end > 0 && padding(text[end - 1])) --end;
  int begin = 0;
  if (!asText)
    while (begin < end && padding(text[begin])) ++begin;
  if (begin >= end) {
    if (dst && asText) static_cast<char*>(dst)[0] = 0;
    return false;
  }
  if (!asText && !TextHasValue(letter, request, text, begin, end, size)) return false;
  if (!dst) return true;

  switch (request) {
    case ftString: {
      const int n = std::min(end, size);
      std::memcpy(dst, text, static_cast<size_t>(n));
      static_cast<char*>(dst)[n] = 0;
      break;
    }
    case ftSmallint:
    case ftInteger:
    case ftLargeint:
    case ftAutoInc:
    case ftWord: {
      int64_t v = 0;
      if (!ParseInteger(text + begin, text + end, &v)) v = 0;
      if (request != ftLargeint && (v < INT32_MIN || v > INT32_MAX)) v = 0;
      PutNumber(dst, request, v, 0, false);
      break;
    }
    case ftBoolean: {
      int16_t v = LogicalValue(text[begin]) > 0 ? 1 : 0;
      std::memcpy(dst, &v, sizeof v);
      break;
    }
    case ftFloat:
    case ftCurrency: {
      double v = 0;
      if (!ParseFloat(text + begin, text + end, &v)) v = 0;
      std::memcpy(dst, &v, sizeof v);
      break;
    }
    case ftDate:
    case ftDateTime: {
      // Date digits sit at fixed places, so they are read from the field as
      // stored, not from the trimmed text.
      TDateParts d;
      d.year = DatePart(text, 0, 4, size);
      d.month = DatePart(text, 4, 2, size);
      d.day = DatePart(text, 6, 2, size);
      if (d.year < 100 && size >= 2 && text[0] == ' ' && text[1] == ' ') {
        constexpr int kWindow = 50;
        const int y0 = TDbfGlobals::Instance().CurrentYear() - kWindow;
        d.year += (y0 / 100) * 100;
        if (kWindow > 0 && d.year < y0) d.year += 100;
      }
      // The time part exists only in fields wide enough to hold it.
      if (field.FieldType() == ftDateTime && request == ftDateTime && size >= 14) {
        // A date stored without its time is midnight, not 01:01:01.
        const bool noTime = std::all_of(text + 8, text + 14, [](char c) { return c == ' '; });
        if (!noTime) {
          d.hour = DatePart(text, 8, 2, size);
          d.minute = DatePart(text, 10, 2, size);
          d.second = DatePart(text, 12, 2, size);
        }
      }
      TDateTime value = 0;
      EncodeDateTime(d, &value);
      PutDate(dst, request, nativeFormat, value);
      break;
    }
    default:
      break;
  }
  return true;
}

void TFieldCodec::Encode(const TDbfFieldDef& field, TFieldType request, bool nativeFormat, uint8_t* record,
                         const void* value) const {
  if (nullFlagsField && field.NullPosition() >= 0) {
    const int byte = field.NullPosition() / 8;
    if (byte < nullFlagsField->Size()) {
      uint8_t& flags = record[nullFlagsField->Offset() + byte];
      const uint8_t bit = static_cast<uint8_t>(1u << (field.NullPosition() % 8));
      flags = value ? static_cast<uint8_t>(flags & ~bit) : static_cast<uint8_t>(flags | bit);
    }
  }

  uint8_t* p = record + field.Offset();
  const int size = field.Size();
  const char letter = field.NativeFieldType();
  const bool fox = version == xFoxPro;

  switch (letter) {
    case 'I':
    case '+':
      if (size < 4) return;
      if (!value) {
        std::memset(p, 0, 4);
      } else {
        uint32_t v = static_cast<uint32_t>(static_cast<int32_t>(GetInteger(value, request)));
        if (fox)
          PutLE32(p, v);
        else
          PutBE32(p, v ^ kSignBit32);
      }
      return;
    case '@':
      if (size < 8) return;
      if (!value) {
        std::memset(p, 0, 8);
      } else {
        TDateTime dt = GetDate(value, request, nativeFormat);
        double stored = dateTimeHandling == dtBDETimeStamp ? DateTimeToBdeMs(dt) : dt;
        PutBE64(p, DoubleToBits(stored));
      }
      return;
    case 'O':
      if (size < 8) return;
      if (!value) {
        std::memset(p, 0, 8);
      } else {
        double d = GetFloat(value, request);
        uint64_t bits = d >= 0 ? DoubleToBits(d) | (uint64_t(1) << 63) : ~DoubleToBits(d);
        if (std::isnan(d)) bits = ~DoubleToBits(d);
        PutBE64(p, bits);
      }
      return;
    case 'T':
      if (!fox && size != 8) break;
      if (size < 8) return;
      if (!value) {
        std::memset(p, 0, 8);
      } else {
        int64_t day, ms;
        DateTimeToDayMs(GetDate(value, request, nativeFormat), &day, &ms);
        PutLE32(p, static_cast<uint32_t>(day + kJulianDayOffset));
        PutLE32(p + 4, static_cast<uint32_t>(ms));
      }
      return;
    case 'B':
      if (!fox) break;
      if (size < 8) return;
      PutLE64(p, value ? DoubleToBits(GetFloat(value, request)) : 0);
      return;
    case 'Y': {
      if (size < 8) return;
      int64_t v = 0;
      if (value) {
        if (request == ftBCD)
          std::memcpy(&v, value, sizeof v);
        else
          v = ScaleCurrency(GetFloat(value, request));
      }
      PutLE64(p, static_cast<uint64_t>(v));
      return;
    }
    case '0':
      if (request == ftBytes) {
        if (value)
          std::memcpy(p, value, static_cast<size_t>(size));
        else
          std::memset(p, 0, static_cast<size_t>(size));
        return;
      }
      break;
    default:
      if (field.IsBinaryBlockField()) {
        PutLE32(p, value ? static_cast<uint32_t>(GetInteger(value, request)) : 0);
        return;
      }
      break;
  }

  if (size <= 0) return;
  if (!value) {
    std::memset(p, ' ', static_cast<size_t>(size));
    return;
  }
  switch (request) {
    case ftString: {
      const char* s = static_cast<const char*>(value);
      const size_t n = strnlen(s, static_cast<size_t>(size));
      std::memcpy(p, s, n);
      std::memset(p + n, ' ', static_cast<size_t>(size) - n);
      break;
    }
    case ftSmallint:
    case ftInteger:
    case ftLargeint:
    case ftAutoInc:
    case ftWord:
      EncodeIntegerText(field, p, size, GetInteger(value, request), request == ftInteger && field.IsMemoField());
      break;
    case ftBoolean: {
      int16_t b;
      std::memcpy(&b, value, sizeof b);
      std::memset(p, ' ', static_cast<size_t>(size));
      p[0] = b ? 'T' : 'F';
      break;
    }
    case ftFloat:
    case ftCurrency:
    case ftBCD:
      EncodeFloatText(field, p, size, field.Precision(), GetFloat(value, request));
      break;
    case ftDate:
      EncodeDateText(p, size, GetDate(value, request, nativeFormat), false);
      break;
    case ftDateTime:
      EncodeDateText(p, size, GetDate(value, request, nativeFormat), true);
      break;
    default:
      break;
  }
}

}  // namespace norvale
