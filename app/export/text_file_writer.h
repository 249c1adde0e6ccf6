// What the writers of text files share: the file and its buffer, a reading
// of UTF-8 that never lets an invalid byte through, and the machine forms of
// numbers, dates and times that JSON and SQL take.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/export/export_value.h"

namespace norvale {

inline constexpr char32_t kReplacementChar = 0xFFFD;
inline constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";

struct TUtf8Char {
  char32_t code = 0;
  bool valid = false;
};

// The character that starts at `pos` of `text`, moving `pos` past it. A
// byte that starts no well-formed sequence (a stray continuation byte, a
// sequence cut short, an overlong form, a surrogate, a code past U+10FFFF)
// is not valid and moves `pos` one byte on.
TUtf8Char DecodeUtf8Char(std::string_view text, size_t& pos);

// `text` as a number JSON and PostgreSQL both read: blanks around it and a
// "+" sign dropped, leading zeros cut, "0" put before a bare ".5" and a
// trailing "." dropped. Empty when `text` is not a decimal number at all.
std::string ExportPlainNumber(std::string_view text);


// The file, its buffer and the columns, for one writer. The file is opened
// by the constructor (EExportError when it cannot be) and written in 64 KiB
// pieces.
class TTextFileWriter : public TExportWriter {
 public:
  TTextFileWriter(const std::string& path, const TExportSettings& settings);
  ~TTextFileWriter() override;

 protected:
  void Put(std::string_view text) {
    buffer_.append(text);
    if (buffer_.size() >= kBufferSize) Flush();
  }
  void Put(char c) {
    buffer_ += c;
    if (buffer_.size() >= kBufferSize) Flush();
  }
  // Bytes known to be valid UTF-8; a long run goes to the file as it is.
  void PutBytes(const char* text, size_t length);
  // `text` with every invalid byte written as U+FFFD.
  void PutUtf8(std::string_view text);
  // `text` in `quote`, the quotes inside doubled.
  void PutQuoted(std::string_view text, char quote);
  // The character at `pos` of `text`, moving `pos` past it; U+FFFD (and
  // counted for the warning) for a byte that starts no valid sequence.
  char32_t NextChar(std::string_view text, size_t& pos);
  // Raises EExportError when `row` does not have a value for every column.
  void CheckRow(const TExportRow& row) const;
  // Writes what is buffered, closes the file and adds the shared warnings.
  void Close();

  std::string path_;
  TExportSettings settings_;
  std::vector<TExportColumn> columns_;

 private:
  static constexpr size_t kBufferSize = 64 * 1024;
  struct TFileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  static constexpr uint64_t kWriteBackEvery = 8 << 20;
  void Flush();
  void Written(size_t bytes);

  std::unique_ptr<std::FILE, TFileCloser> file_;
  uint64_t written_ = 0;
  uint64_t sentToDisk_ = 0;
  std::string buffer_;
  int64_t badUtf8_ = 0;
};

}  // namespace norvale
