#include "index/index_keys.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/byte_order.h"
#include "engine/dbf_format.h"

namespace norvale {

namespace ix = fmt::idx;

namespace {

// Stores digits (characters '1'..'9', '0') with exponent e and sign.
void StoreDecimal(const std::string& digits, int exponent, bool negative, uint8_t* key) {
  std::memset(key, 0, ix::kDecimalKeyLength);
  std::string d = digits;
  while (!d.empty() && d.back() == '0') d.pop_back();
  const int maxDigits = 2 * (ix::kDecimalKeyLength - ix::kDecimalDigits);
  if (static_cast<int>(d.size()) > maxDigits) d.resize(static_cast<size_t>(maxDigits));
  if (d.empty()) {
    exponent = 0;
    negative = false;
  }
  // Exponents a byte cannot hold are pinned to its ends; such values lie far
  // outside what any field holds.
  const int e = std::clamp(exponent + ix::kDecimalBias, 0, 255);
  const int n = static_cast<int>(d.size());
  key[ix::kDecimalExponent] = static_cast<uint8_t>(e);
  key[ix::kDecimalCount] = static_cast<uint8_t>(((n + 1) / 2) * 8 + 1 + (negative ? ix::kDecimalNegative : 0));
  for (int i = 0; i < n; ++i) {
    const uint8_t digit = static_cast<uint8_t>(d[static_cast<size_t>(i)] - '0');
    key[ix::kDecimalDigits + i / 2] |= (i % 2 == 0) ? static_cast<uint8_t>(digit << 4) : digit;
  }
}

}  // namespace

void DecimalFromInteger(int64_t value, uint8_t* key) {
  const bool negative = value < 0;
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  const std::string digits = magnitude == 0 ? std::string() : std::to_string(magnitude);
  StoreDecimal(digits, static_cast<int>(digits.size()), negative, key);
}

void DecimalFromDouble(double value, uint8_t* key) {
  if (!std::isfinite(value) || value == 0) {
    StoreDecimal({}, 0, false, key);
    return;
  }
  char text[40];
  std::snprintf(text, sizeof text, "%.14e", std::fabs(value));
  // text is d.dddddddddddddde[+-]xx
  std::string digits;
  const char* p = text;
  for (; *p && *p != 'e'; ++p)
    if (*p >= '0' && *p <= '9') digits += *p;
  const int exponent = *p == 'e' ? std::atoi(p + 1) : 0;
  StoreDecimal(digits, exponent + 1, value < 0, key);
}

double DoubleFromDecimal(const uint8_t* key) {
  const int n = (key[ix::kDecimalCount] & 0x7F) / 8 * 2;
  double mantissa = 0, scale = 0.1;
  for (int i = 0; i < n && i < 20; ++i) {
    const uint8_t b = key[ix::kDecimalDigits + i / 2];
    const int digit = (i % 2 == 0) ? b >> 4 : b & 0x0F;
    mantissa += digit * scale;
    scale /= 10;
  }
  const double v = mantissa * std::pow(10.0, static_cast<int>(key[ix::kDecimalExponent]) - ix::kDecimalBias);
  return (key[ix::kDecimalCount] & ix::kDecimalNegative) ? -v : v;
}

int CompareDecimal(const uint8_t* a, const uint8_t* b, int keyLength) {
  const bool negA = a[ix::kDecimalCount] & ix::kDecimalNegative;
  const bool negB = b[ix::kDecimalCount] & ix::kDecimalNegative;
  if (negA != negB) return negA ? -1 : 1;
  int result = 0;
  if (a[ix::kDecimalExponent] == b[ix::kDecimalExponent]) {
    // Every digit byte counts, so integers of 17 to 19 digits stay apart.
    for (int i = ix::kDecimalDigits; i < keyLength; ++i) {
      if (a[i] != b[i]) {
        result = a[i] < b[i] ? -1 : 1;
        break;
      }
    }
  } else if (a[ix::kDecimalExponent] == ix::kDecimalBias && a[ix::kDecimalCount] == 1) {
    result = -1;
  } else if (b[ix::kDecimalExponent] == ix::kDecimalBias && b[ix::kDecimalCount] == 1) {
    result = 1;
  } else {
    result = static_cast<int>(a[ix::kDecimalExponent]) - static_cast<int>(b[ix::kDecimalExponent]);
  }
  return negA ? -result : result;
}

int CompareDouble(const uint8_t* a, const uint8_t* b) {
  const double x = BitsToDouble(GetLE64(a));
  const double y = BitsToDouble(GetLE64(b));
  if (x > y) return 1;
  if (x < y) return -1;
  return 0;
}

int CompareCharacter(const TCollation& collation, const uint8_t* a, const uint8_t* b, int keyLength) {
  for (int i = 0; i < keyLength; ++i) {
    const uint8_t wa = collation.Weight(a[i]);
    const uint8_t wb = collation.Weight(b[i]);
    if (wa != wb) return wa < wb ? -1 : 1;
  }
  return 0;
}

}  // namespace norvale
