// ASCII letter case, for names, type letters and keywords: the one mapping
// the code uses where the user's locale and the table's code page must not
// matter (a Turkish locale would turn "i" into a dotted capital).
#pragma once

#include <string>
#include <string_view>

namespace norvale {

constexpr char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
constexpr char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

inline std::string AsciiUpper(std::string s) {
  for (char& c : s) c = AsciiUpper(c);
  return s;
}

inline std::string AsciiLower(std::string s) {
  for (char& c : s) c = AsciiLower(c);
  return s;
}

inline bool EqualNoCaseAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  return true;
}

}  // namespace norvale
