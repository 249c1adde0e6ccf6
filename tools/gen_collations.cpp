// Writes engine/collation_tables.cpp: the weight tables of the language
// drivers and the registrations that name them.
//
// A table ranks the 256 bytes of the driver's code page as ICU collates them
// for the driver's locale: each byte is decoded alone, bytes are sorted by
// the collation key (tertiary strength, lower case first), and ties, as well
// as bytes that do not decode alone (DBCS lead bytes, unassigned bytes),
// fall back to byte order; then each upper-case letter is moved right behind
// its lower-case letter. Some tables have rows that other programs' indexes
// depend on; those weights are pinned and the other bytes fill the remaining
// weights (see Weights), so every table stays a permutation.
//
// Usage: gen_collations OUTPUT.cpp

#include <unicode/ucnv.h>
#include <unicode/ucol.h>
#include <unicode/uchar.h>
#include <unicode/uloc.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "engine/language_table.h"

namespace {

using norvale::kLanguageTable;
using TWeights = std::array<int, 256>;

enum TPins { pinNone, pinIdentity, pinWindows, pinCjk };

struct TRegistration {
  int id;
  const char* name;
};

// Registrations listed together share one table, made from the first one's
// code page and locale.
struct TTableSpec {
  std::vector<TRegistration> registrations;
  TPins pins = pinNone;
};

const std::vector<TTableSpec> kTables = {
    {{{8, "DB865DA0"}, {23, "DB865NO0"}}},
    {{{9, "DB437NL0"}, {13, "DB437FR0"}, {17, "DB437IT0"}, {25, "DB437UK0"}}},
    {{{10, "DB850NL0"}, {14, "DB850FR0"}, {18, "DB850IT1"}, {20, "DB850ES0"}, {26, "DB850UK0"}}},
    {{{77, "DB936CN0"}, {78, "DB949KO0"}, {79, "DB950TW0"}}, pinCjk},
    {{{88, "DBWINWE0"}, {89, "DBWINES0"}}, pinWindows},
    {{{11, "DB437FI0"}}},
    {{{15, "DB437DE0"}}},
    {{{16, "DB850DE0"}}},
    {{{21, "DB437SV0"}}},
    {{{22, "DB850SV1"}}},
    {{{24, "DB437ES1"}}},
    {{{27, "DB437US0"}}, pinIdentity},
    {{{28, "DB863CF1"}}},
    {{{29, "DB850CF0"}}},
    {{{31, "DB852CZ0"}}},
    {{{32, "DB867CZ0"}}},
    {{{34, "db852hdc"}}},
    {{{35, "db852po0"}}},
    {{{36, "DB860PT0"}}},
    {{{37, "DB850PT0"}}},
    {{{38, "db866ru0"}}},
    {{{55, "DB850US0"}}},
    {{{80, "db874th0"}}},
    {{{86, "DB932JP1"}}},
    {{{94, "FOXDE437"}}},
    {{{95, "FOXNO437"}}},
    {{{96, "FOXNO850"}}},
    {{{97, "FOXDEWIN"}}},
    {{{98, "FOXNOWIN"}}},
    {{{104, "FOXCZ895"}}},
    {{{133, "dbHebrew"}}},
    {{{134, "db437gr0"}}},
    {{{135, "db852sl0"}}},
    {{{136, "DB857TR0"}}},
    {{{155, "FOXCZWIN"}}},
};

const std::vector<TRegistration> kBinaryRegistrations = {{87, "DBWINUS0"}, {19, "DB932JP0"}};

// dBASE's 867 and FoxPro's 895 are the Kamenicky code page, which ICU lacks
// (its ibm-867 is Hebrew). It differs from 437 only in 0x80-0xAF.
constexpr char16_t kKamenickyHigh[48] = {
    0x010C, 0x00FC, 0x00E9, 0x010F, 0x00E4, 0x010E, 0x0164, 0x010D, 0x011B, 0x011A, 0x0139, 0x00CD,
    0x013E, 0x013A, 0x00C4, 0x00C1, 0x00C9, 0x017E, 0x017D, 0x00F4, 0x00F6, 0x00D3, 0x016F, 0x00DA,
    0x00FD, 0x00D6, 0x00DC, 0x0160, 0x013D, 0x00DD, 0x0158, 0x0165, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x0148, 0x0147, 0x016E, 0x00D4, 0x0161, 0x0159, 0x0155, 0x0154, 0x00BC, 0x00A7, 0x00AB, 0x00BB,
};

[[noreturn]] void Fail(const std::string& message) {
  std::cerr << "gen_collations: " << message << "\n";
  std::exit(1);
}

bool Kamenicky(int codePage) { return codePage == 867 || codePage == 895; }

std::string ConverterName(int codePage) {
  if (Kamenicky(codePage)) return "ibm-437";
  if (codePage == 874 || codePage >= 1250 || (codePage >= 932 && codePage <= 950))
    return "windows-" + std::to_string(codePage);
  return "ibm-" + std::to_string(codePage);
}

class TDecoder {
 public:
  explicit TDecoder(int codePage) : codePage_(codePage) {
    UErrorCode status = U_ZERO_ERROR;
    cnv_ = ucnv_open(ConverterName(codePage).c_str(), &status);
    if (U_FAILURE(status)) Fail("no converter for code page " + std::to_string(codePage));
    status = U_ZERO_ERROR;
    ucnv_setToUCallBack(cnv_, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  }
  ~TDecoder() { ucnv_close(cnv_); }

  // The text of one byte on its own, or nothing when it does not decode alone.
  std::optional<std::u16string> Decode(int byte) {
    if (Kamenicky(codePage_) && byte >= 0x80 && byte < 0xB0) return std::u16string(1, kKamenickyHigh[byte - 0x80]);
    ucnv_reset(cnv_);
    const char in = static_cast<char>(byte);
    UChar out[8];
    UErrorCode status = U_ZERO_ERROR;
    const int32_t n = ucnv_toUChars(cnv_, out, 8, &in, 1, &status);
    if (U_FAILURE(status) || n <= 0) return std::nullopt;
    return std::u16string(reinterpret_cast<const char16_t*>(out), static_cast<size_t>(n));
  }

 private:
  int codePage_;
  UConverter* cnv_ = nullptr;
};

std::string LocaleFor(uint32_t lcid) {
  char buffer[ULOC_FULLNAME_CAPACITY];
  UErrorCode status = U_ZERO_ERROR;
  const int32_t n = uloc_getLocaleForLCID(lcid, buffer, sizeof buffer, &status);
  if (U_FAILURE(status) || n <= 0) Fail("no locale for LCID " + std::to_string(lcid));
  return std::string(buffer, static_cast<size_t>(n));
}

using TDecoded = std::array<std::optional<std::u16string>, 256>;

TDecoded DecodeAll(int codePage) {
  TDecoder decoder(codePage);
  TDecoded decoded;
  for (int byte = 0; byte < 256; ++byte) decoded[byte] = decoder.Decode(byte);
  return decoded;
}

struct TOrder {
  std::vector<int> bytes;             // in collation order
  // What misplacing a byte costs: letters and digits most, then other
  // characters, least the ignorable and undecodable bytes.
  std::array<int, 256> importance{};
};

TOrder IcuOrder(const TDecoded& decoded, const std::string& locale) {
  UErrorCode status = U_ZERO_ERROR;
  UCollator* collator = ucol_open(locale.c_str(), &status);
  if (U_FAILURE(status)) Fail("no collator for " + locale);
  ucol_setStrength(collator, UCOL_TERTIARY);
  ucol_setAttribute(collator, UCOL_CASE_FIRST, UCOL_LOWER_FIRST, &status);
  if (U_FAILURE(status)) Fail("cannot configure the collator for " + locale);

  std::vector<std::pair<std::string, int>> keyed;
  for (int byte = 0; byte < 256; ++byte) {
    std::string key;  // empty: sorts with the ignorable characters, by byte value
    if (const auto& text = decoded[byte]) {
      std::vector<uint8_t> buffer(64);
      const auto* chars = reinterpret_cast<const UChar*>(text->data());
      const int32_t length = static_cast<int32_t>(text->size());
      int32_t n = ucol_getSortKey(collator, chars, length, buffer.data(), static_cast<int32_t>(buffer.size()));
      if (n > static_cast<int32_t>(buffer.size())) {
        buffer.resize(static_cast<size_t>(n));
        n = ucol_getSortKey(collator, chars, length, buffer.data(), n);
      }
      // Drop the terminating zero so that an ignorable character's key equals
      // the empty key of an undecodable byte.
      key.assign(buffer.begin(), buffer.begin() + (n > 0 ? n - 1 : 0));
      if (key.find_first_not_of('\x01') == std::string::npos) key.clear();
    }
    keyed.emplace_back(std::move(key), byte);
  }
  ucol_close(collator);
  std::sort(keyed.begin(), keyed.end());
  TOrder order;
  for (const auto& [key, byte] : keyed) {
    order.bytes.push_back(byte);
    const auto& text = decoded[byte];
    order.importance[byte] = key.empty() ? 1 : u_isalnum(text->front()) ? 100 : 10;
  }
  return order;
}

// Moves each upper-case letter right behind its lower-case letter, so that
// case variants of one letter are neighbours even where ICU puts a variant
// such as the ordinal indicators between them. Lower-casing follows the
// locale: a Turkish "I" pairs with the dotless "ı".
void PairCases(TOrder& order, const TDecoded& decoded, const std::string& locale) {
  std::array<int, 256> partner;
  partner.fill(-1);
  for (int byte = 0; byte < 256; ++byte) {
    const auto& text = decoded[byte];
    if (!text || text->size() != 1) continue;
    UChar lower[4];
    UErrorCode status = U_ZERO_ERROR;
    const int32_t n = u_strToLower(lower, 4, reinterpret_cast<const UChar*>(text->data()), 1, locale.c_str(), &status);
    if (U_FAILURE(status) || n != 1 || lower[0] == text->front()) continue;
    for (int other = 0; other < 256; ++other)
      if (decoded[other] && *decoded[other] == std::u16string(1, static_cast<char16_t>(lower[0]))) partner[byte] = other;
  }
  std::vector<int> paired;
  for (int byte : order.bytes) {
    if (partner[byte] >= 0) continue;
    paired.push_back(byte);
    for (int upper = 0; upper < 256; ++upper)
      if (partner[upper] == byte) paired.push_back(upper);
  }
  order.bytes = paired;
}

// Minimum-cost assignment of n rows to n columns (Hungarian method); returns
// the column of each row.
std::vector<int> Assign(const std::vector<std::vector<long>>& cost) {
  const int n = static_cast<int>(cost.size());
  const long kInf = 1L << 60;
  std::vector<long> u(n + 1), v(n + 1);
  std::vector<int> p(n + 1), way(n + 1);
  for (int i = 1; i <= n; ++i) {
    p[0] = i;
    int j0 = 0;
    std::vector<long> minv(n + 1, kInf);
    std::vector<bool> used(n + 1, false);
    do {
      used[j0] = true;
      const int i0 = p[j0];
      long delta = kInf;
      int j1 = 0;
      for (int j = 1; j <= n; ++j) {
        if (used[j]) continue;
        const long cur = cost[i0 - 1][j - 1] - u[i0] - v[j];
        if (cur < minv[j]) {
          minv[j] = cur;
          way[j] = j0;
        }
        if (minv[j] < delta) {
          delta = minv[j];
          j1 = j;
        }
      }
      for (int j = 0; j <= n; ++j) {
        if (used[j]) {
          u[p[j]] += delta;
          v[j] -= delta;
        } else {
          minv[j] -= delta;
        }
      }
      j0 = j1;
    } while (p[j0] != 0);
    do {
      const int j1 = way[j0];
      p[j0] = p[j1];
      j0 = j1;
    } while (j0);
  }
  std::vector<int> column(n);
  for (int j = 1; j <= n; ++j) column[p[j] - 1] = j - 1;
  return column;
}

TWeights Pins(TPins kind) {
  TWeights pin;
  pin.fill(-1);
  switch (kind) {
    case pinNone:
      break;
    case pinIdentity:
      for (int b = 0; b < 256; ++b) pin[b] = b;
      break;
    case pinCjk:
      // Lead bytes first, then the single-byte characters.
      pin[0] = 0;
      for (int b = 0x01; b <= 0x7F; ++b) pin[b] = b + 0x7F;
      pin[0x80] = 0xFF;
      for (int b = 0x81; b <= 0xFF; ++b) pin[b] = b - 0x80;
      break;
    case pinWindows:
      pin[0] = 0;
      for (int b = 0x01; b <= 0x1F; ++b) pin[b] = b + 1;
      pin[' '] = 0x01;
      pin['0'] = 0x6F;
      pin['1'] = 0x73;
      pin['2'] = 0x75;
      pin['a'] = 0x7F;
      pin['A'] = 0x80;
      pin['b'] = 0x90;
      pin['B'] = 0x91;
      break;
  }
  return pin;
}

// Pinned bytes keep their weights. The others get the free weights so that
// as few of them as possible land on the wrong side of a pinned byte (as ICU
// sees it), which keeps digits with digits and letters with letters when the
// pinned rows leave room for a different number of characters than ICU puts
// between them. Inside each stretch between two pinned weights the ICU order
// is kept.
TWeights Weights(const TOrder& order, TPins kind) {
  TWeights weight = Pins(kind);
  std::array<bool, 256> taken{};
  std::array<int, 256> position{};
  for (int i = 0; i < 256; ++i) position[order.bytes[i]] = i;
  std::vector<int> pinned;
  for (int b = 0; b < 256; ++b) {
    if (weight[b] < 0) continue;
    if (taken[weight[b]]) Fail("two bytes pinned to one weight");
    taken[weight[b]] = true;
    pinned.push_back(b);
  }
  std::vector<int> items;  // free bytes in collation order
  for (int byte : order.bytes)
    if (weight[byte] < 0) items.push_back(byte);
  std::vector<int> slots;  // free weights, ascending
  for (int w = 0; w < 256; ++w)
    if (!taken[w]) slots.push_back(w);
  if (items.empty()) return weight;

  std::vector<std::vector<long>> cost(items.size(), std::vector<long>(slots.size()));
  for (size_t i = 0; i < items.size(); ++i) {
    for (size_t s = 0; s < slots.size(); ++s) {
      long wrongSide = 0;
      for (int q : pinned) wrongSide += (position[items[i]] < position[q]) != (slots[s] < weight[q]);
      cost[i][s] = wrongSide * order.importance[items[i]];
    }
  }
  const std::vector<int> column = Assign(cost);

  // Stretch of a weight: how many pinned weights lie below it.
  auto stretch = [&](int w) {
    int below = 0;
    for (int q : pinned) below += weight[q] < w;
    return below;
  };
  std::vector<std::vector<int>> itemsIn(pinned.size() + 1), slotsIn(pinned.size() + 1);
  for (size_t i = 0; i < items.size(); ++i) itemsIn[stretch(slots[column[i]])].push_back(items[i]);
  for (int w : slots) slotsIn[stretch(w)].push_back(w);
  for (size_t k = 0; k < itemsIn.size(); ++k)
    for (size_t i = 0; i < itemsIn[k].size(); ++i) weight[itemsIn[k][i]] = slotsIn[k][i];
  return weight;
}

std::string Hex(int value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) Fail("usage: gen_collations OUTPUT.cpp");
  std::ostringstream out;
  out << "// Generated by tools/gen_collations.cpp from ICU " << U_ICU_VERSION << "; do not edit.\n"
      << "// Regenerate: cmake --build BUILD_DIR --target regenerate_collations\n"
      << "// (or run BUILD_DIR/tools/gen_collations engine/collation_tables.cpp).\n\n"
      << "#include \"engine/collation_tables.h\"\n\nnamespace norvale {\n\nnamespace {\n";
  for (const TTableSpec& table : kTables) {
    const TRegistration& first = table.registrations.front();
    const auto& entry = kLanguageTable[static_cast<size_t>(first.id)];
    const std::string locale = LocaleFor(entry.localeId);
    const TDecoded decoded = DecodeAll(entry.codePage);
    TOrder order = IcuOrder(decoded, locale);
    PairCases(order, decoded, locale);
    const TWeights weight = Weights(order, table.pins);
    out << "\n// Code page " << entry.codePage << ", locale " << locale << ".\n"
        << "constexpr uint8_t k" << first.name << "[256] = {\n";
    for (int row = 0; row < 16; ++row) {
      out << "   ";
      for (int col = 0; col < 16; ++col) out << " " << Hex(weight[row * 16 + col]) << ",";
      out << "\n";
    }
    out << "};\n";
  }
  out << "\n}  // namespace\n\nconst TCollationRegistration kCollationRegistrations[] = {\n";
  int count = 0;
  for (const TTableSpec& table : kTables) {
    for (const TRegistration& reg : table.registrations) {
      out << "    {" << reg.id << ", \"" << reg.name << "\", k" << table.registrations.front().name << "},\n";
      ++count;
    }
  }
  for (const TRegistration& reg : kBinaryRegistrations) {
    out << "    {" << reg.id << ", \"" << reg.name << "\", nullptr},\n";
    ++count;
  }
  out << "};\n\nconst int kCollationRegistrationCount = " << count << ";\n\n}  // namespace norvale\n";

  std::ofstream file(argv[1], std::ios::binary);
  file << out.str();
  if (!file.flush()) Fail(std::string("cannot write ") + argv[1]);
  return 0;
}
