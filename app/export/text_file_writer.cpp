#include "app/export/text_file_writer.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace norvale {

TUtf8Char DecodeUtf8Char(std::string_view text, size_t& pos) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos);
  if (lead < 0x80) return {static_cast<char32_t>(text[pos++]), true};
  int extra;
  char32_t code;
  char32_t least;
  if (lead >= 0xC2 && lead <= 0xDF) {
    extra = 1, code = lead & 0x1F, least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    extra = 2, code = lead & 0x0F, least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    extra = 3, code = lead & 0x07, least = 0x10000;
  } else {
    ++pos;
    return {};
  }
  if (pos + extra >= text.size()) {
    ++pos;
    return {};
  }
  for (int i = 1; i <= extra; ++i) {
    const unsigned char next = byte(pos + i);
    if ((next & 0xC0) != 0x80) {
      ++pos;
      return {};
    }
    code = (code << 6) | (next & 0x3F);
  }
  if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
    ++pos;
    return {};
  }
  pos += extra + 1;
  return {code, true};
}

std::string ExportPlainNumber(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  std::string out;
  size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    if (text[i] == '-') out += '-';
    ++i;
  }
  const auto digits = [&] {
    const size_t start = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    return text.substr(start, i - start);
  };
  std::string_view whole = digits();
  std::string_view fraction;
  if (i < text.size() && text[i] == '.') {
    ++i;
    fraction = digits();
  }
  if (whole.empty() && fraction.empty()) return {};
  while (whole.size() > 1 && whole.front() == '0') whole.remove_prefix(1);
  out += whole.empty() ? "0" : whole;
  if (!fraction.empty()) {
    out += '.';
    out += fraction;
  }
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    out += 'e';
    ++i;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) out += text[i++];
    const std::string_view exponent = digits();
    if (exponent.empty()) return {};
    out += exponent;
  }
  return i == text.size() ? out : std::string();
}

TTextFileWriter::TTextFileWriter(const std::string& path, const TExportSettings& settings)
    : path_(path), settings_(settings), file_(std::fopen(path.c_str(), "wb")) {
  if (!file_) throw EExportError("Cannot create \"" + path + "\": " + std::strerror(errno));
  buffer_.reserve(kBufferSize + 4096);
}

// A writer given up half way leaves a file the caller deletes; all there is
// to do is let go of it, without a word about what was still buffered.
TTextFileWriter::~TTextFileWriter() = default;

void TTextFileWriter::Flush() {
  if (!file_) throw EExportError("\"" + path_ + "\" was written after it was finished");
  if (!buffer_.empty() && std::fwrite(buffer_.data(), 1, buffer_.size(), file_.get()) != buffer_.size())
    throw EExportError("Cannot write \"" + path_ + "\": " + std::strerror(errno));
  Written(buffer_.size());
  buffer_.clear();
}

// A long export goes to the disk as it is written. Left to the end, the
// rename that puts it over an existing file would start the write-back of
// all of it at once (ext4 does, so that a replaced file is not lost), and
// the pile of dirty pages makes the writes themselves slower.
void TTextFileWriter::Written(size_t bytes) {
  written_ += bytes;
  if (written_ - sentToDisk_ < kWriteBackEvery) return;
  if (std::fflush(file_.get()) != 0)
    throw EExportError("Cannot write \"" + path_ + "\": " + std::strerror(errno));
  ::sync_file_range(fileno(file_.get()), static_cast<off_t>(sentToDisk_), static_cast<off_t>(written_ - sentToDisk_),
                    SYNC_FILE_RANGE_WRITE);
  sentToDisk_ = written_;
}

void TTextFileWriter::PutBytes(const char* text, size_t length) {
  if (length < kBufferSize) {
    Put(std::string_view(text, length));
    return;
  }
  Flush();
  if (std::fwrite(text, 1, length, file_.get()) != length)
    throw EExportError("Cannot write \"" + path_ + "\": " + std::strerror(errno));
  Written(length);
}

char32_t TTextFileWriter::NextChar(std::string_view text, size_t& pos) {
  const TUtf8Char c = DecodeUtf8Char(text, pos);
  if (c.valid) return c.code;
  ++badUtf8_;
  return kReplacementChar;
}

void TTextFileWriter::PutUtf8(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t start = pos;
    // Eight bytes at a time while none has its high bit: most text is ASCII.
    while (pos + 8 <= text.size()) {
      uint64_t word;
      std::memcpy(&word, text.data() + pos, 8);
      if (word & 0x8080808080808080ull) break;
      pos += 8;
    }
    while (pos < text.size() && static_cast<unsigned char>(text[pos]) < 0x80) ++pos;
    if (pos > start) Put(text.substr(start, pos - start));
    if (pos >= text.size()) break;
    const size_t before = pos;
    if (DecodeUtf8Char(text, pos).valid) {
      Put(text.substr(before, pos - before));
    } else {
      ++badUtf8_;
      Put(kReplacementUtf8);
    }
  }
}

void TTextFileWriter::PutQuoted(std::string_view text, char quote) {
  Put(quote);
  size_t start = 0;
  for (const char* at; (at = static_cast<const char*>(std::memchr(text.data() + start, quote, text.size() - start)));) {
    const size_t i = static_cast<size_t>(at - text.data());
    PutUtf8(text.substr(start, i + 1 - start));
    Put(quote);
    start = i + 1;
  }
  PutUtf8(text.substr(start));
  Put(quote);
}

void TTextFileWriter::CheckRow(const TExportRow& row) const {
  if (row.size() != columns_.size())
    throw EExportError("A record came with " + std::to_string(row.size()) + " values for " +
                       std::to_string(columns_.size()) + " columns");
}

void TTextFileWriter::Close() {
  Flush();
  if (std::fclose(file_.release()) != 0)
    throw EExportError("Cannot write \"" + path_ + "\": " + std::strerror(errno));
  if (badUtf8_ > 0)
    warnings_.push_back(std::to_string(badUtf8_) +
                        " bytes of text were not valid UTF-8 and were written as the replacement character "
                        "U+FFFD.");
}

}  // namespace norvale
