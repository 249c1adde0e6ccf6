// Key encodings and comparisons of index keys: the decimal form of numeric
// keys in multiple-index files, doubles in single-index files, and
// character keys by collation weight.
#pragma once

#include <cstdint>
#include <string>

#include "engine/language.h"

namespace norvale {

// The 12-byte decimal form of an integer (all its digits, up to 19) and of a
// double (rounded to 15 significant digits).
void DecimalFromInteger(int64_t value, uint8_t* key);
void DecimalFromDouble(double value, uint8_t* key);
// The value a decimal form stands for (for messages and checks).
double DoubleFromDecimal(const uint8_t* key);

int CompareDecimal(const uint8_t* a, const uint8_t* b, int keyLength);
int CompareDouble(const uint8_t* a, const uint8_t* b);
int CompareCharacter(const TCollation& collation, const uint8_t* a, const uint8_t* b, int keyLength);

}  // namespace norvale
