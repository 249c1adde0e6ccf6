// Conversion of text in a table's code page to UTF-8, through ICU.
#pragma once

#include <array>
#include <memory>
#include <string>

namespace norvale {

class TCodePageDecoder {
 public:
  // A decoder for a Windows-style code page number (65001 is UTF-8).
  explicit TCodePageDecoder(int codePage);
  ~TCodePageDecoder();
  TCodePageDecoder(const TCodePageDecoder&) = delete;
  TCodePageDecoder& operator=(const TCodePageDecoder&) = delete;

  // False when no converter handles the code page.
  bool Valid() const { return valid_; }
  int CodePage() const { return codePage_; }
  // Appends `bytes` as UTF-8; bytes the code page cannot map become U+FFFD.
  void AppendUtf8(std::string& out, const char* bytes, size_t count) const;

 private:
  struct Converter;
  int codePage_;
  bool valid_ = false;
  bool singleByte_ = false;
  std::array<std::string, 256> table_;  // single-byte code pages: byte -> UTF-8
  std::unique_ptr<Converter> converter_;
};

}  // namespace norvale
