// Small random tables for the filter and search model tests, with the values
// generated kept beside the file so that a test can work out in plain C++
// which records a condition or a search must give.
//   NAME C(8): letters a A b B c C É é, shared prefixes, some empty
//   QTY N(4,0) 0..12; AMOUNT N(7,2) quarters from -5 to 20; BORN D in
//   January 2020; ACTIVE L of T F Y N ? or blank. Any field but NAME may be
//   empty, and about one record in six is deleted. Code page 1252.
#pragma once

#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace norvale::test {

struct TRandomRow {
  std::string name;  // UTF-8
  std::optional<int> qty, quarters;
  std::string born;  // yyyymmdd or ""
  char active = ' ';
  bool deleted = false;
};

// The characters of a UTF-8 text (the letters here are at most two bytes).
inline std::vector<std::string> Characters(const std::string& s) {
  std::vector<std::string> out;
  for (size_t i = 0; i < s.size(); i += out.back().size())
    out.push_back(s.substr(i, (static_cast<unsigned char>(s[i]) & 0xE0) == 0xC0 ? 2 : 1));
  return out;
}

// Code page 1252 of text whose letters beyond ASCII are U+00C0..U+00FF.
inline std::string ToCp1252(const std::string& utf8) {
  std::string out;
  for (const std::string& c : Characters(utf8))
    out += c.size() == 2 ? static_cast<char>(static_cast<unsigned char>(c[1]) + 0x40) : c[0];
  return out;
}

// Letter case folded for the letters above.
inline std::string FoldCase(std::string s) {
  for (size_t at; (at = s.find("É")) != std::string::npos;) s.replace(at, 2, "é");
  for (char& c : s) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
  return s;
}

inline std::string RandomName(std::mt19937& rng) {
  static const char* const kLetters[] = {"a", "A", "b", "B", "c", "C", "É", "é"};
  std::string name;
  for (int n = std::uniform_int_distribution<int>(0, 5)(rng); n > 0; --n)
    name += kLetters[std::uniform_int_distribution<int>(0, 7)(rng)];
  return name;
}

inline std::vector<TRandomRow> RandomRows(std::mt19937& rng, int count) {
  auto chance = [&](int percent) { return std::uniform_int_distribution<int>(0, 99)(rng) < percent; };
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  std::vector<TRandomRow> rows;
  for (int i = 0; i < count; ++i) {
    TRandomRow r;
    // Earlier names again, or lengthened, give equal keys and prefixes.
    r.name = i > 0 && chance(40) ? rows[static_cast<size_t>(pick(0, i - 1))].name : RandomName(rng);
    if (chance(20) && Characters(r.name).size() < 8) r.name += "a";
    if (!chance(10)) r.qty = pick(0, 12);
    if (!chance(10)) r.quarters = pick(-20, 80);
    if (!chance(10)) r.born = "202001" + std::to_string(pick(10, 28));
    if (chance(30) && !r.born.empty()) r.born = "2020010" + std::to_string(pick(1, 9));
    r.active = "TFYN? "[pick(0, 5)];
    r.deleted = chance(16);
    rows.push_back(r);
  }
  return rows;
}

inline std::string AmountText(int quarters) {
  char text[16];
  std::snprintf(text, sizeof text, "%.2f", quarters / 4.0);
  return text;
}

// Writes the rows as random.dbf in `dir`; returns its path.
inline std::string WriteRandomTable(const TTempDir& dir, const std::vector<TRandomRow>& rows) {
  TTableImage t;
  t.languageId = 0x57;  // code page 1252
  t.fields = {{"NAME", 'C', 8}, {"QTY", 'N', 4}, {"AMOUNT", 'N', 7, 2}, {"BORN", 'D', 8}, {"ACTIVE", 'L', 1}};
  auto right = [](std::string s, size_t width) { return std::string(width - s.size(), ' ') + s; };
  for (const TRandomRow& r : rows) {
    t.records.push_back(
        t.Record({ToCp1252(r.name), r.qty ? right(std::to_string(*r.qty), 4) : "",
                  r.quarters ? right(AmountText(*r.quarters), 7) : "", r.born, std::string(1, r.active)},
                 r.deleted));
  }
  const std::string path = dir.File("random.dbf");
  WriteFile(path, t.Bytes());
  return path;
}

}  // namespace norvale::test
