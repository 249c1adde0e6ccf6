// Conversion of text in a table's code page to UTF-8, for callers that decode
// many fields of one table and want the code page resolved once.
#pragma once

#include <array>
#include <cstddef>
#include <string>

namespace norvale {

class TCodePageDecoder {
 public:
  // A decoder for a Windows-style code page number (65001 is UTF-8).
  explicit TCodePageDecoder(int codePage);
  TCodePageDecoder(const TCodePageDecoder&) = delete;
  TCodePageDecoder& operator=(const TCodePageDecoder&) = delete;

  // False when no converter handles the code page.
  bool Valid() const { return valid_; }
  int CodePage() const { return codePage_; }
  // Appends `bytes` as UTF-8; bytes the code page cannot map become U+FFFD.
  // Without a converter ASCII is kept and every other byte becomes U+FFFD.
  void AppendUtf8(std::string& out, const char* bytes, size_t count) const;

 private:
  int codePage_;
  bool valid_ = false;
  bool singleByte_ = false;
  bool asciiKept_ = false;              // bytes below 0x80 decode to themselves
  std::array<std::string, 256> table_;  // single-byte code pages: byte -> UTF-8
};

}  // namespace norvale
