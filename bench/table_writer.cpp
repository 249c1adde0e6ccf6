#include "bench/table_writer.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>
#include <limits>
#include <stdexcept>

#include "engine/byte_order.h"
#include "engine/dbf_format.h"
#include "engine/exceptions.h"
#include "engine/table_file.h"

namespace norvale::gen {

namespace {

constexpr int kMainHeaderSize = fmt::kMainHeaderSize;
constexpr int kDescriptorSize = fmt::kDescriptorSize;
constexpr uint8_t kEofByte = fmt::kEndOfFile;
constexpr size_t kBufferBytes = 1 << 20;

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

bool ValidDate(int year, int month, int day) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  return day <= kDays[month - 1] + (month == 2 && IsLeap(year) ? 1 : 0);
}

void PutDigits(uint8_t* p, int value, int width) {
  for (int i = width - 1; i >= 0; --i) {
    p[i] = static_cast<uint8_t>('0' + value % 10);
    value /= 10;
  }
}

void CheckName(const std::string& name) {
  bool ok = !name.empty() && name.size() <= 10 &&
            ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
  for (char c : name)
    ok = ok && ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_');
  if (!ok) throw std::invalid_argument("bad field name \"" + name + "\"");
}

void CheckColumn(const TColumnSpec& c) {
  CheckName(c.name);
  bool ok = false;
  switch (c.type) {
    case 'C': ok = c.length >= 1 && c.length <= 255 && c.decimals == 0; break;
    // Precision up to length - 2 leaves room for "0." in front of the decimals.
    case 'N': ok = c.length >= 1 && c.length <= 20 && c.decimals >= 0 && (c.decimals == 0 || c.decimals <= c.length - 2); break;
    case 'D': ok = c.length == 8 && c.decimals == 0; break;
    case 'L': ok = c.length == 1 && c.decimals == 0; break;
    default: break;
  }
  if (!ok) throw std::invalid_argument("bad layout for field " + c.name);
}

}  // namespace

TTableWriter::TTableWriter(const std::string& path, std::vector<TColumnSpec> columns, uint8_t languageId)
    : columns_(std::move(columns)), languageId_(languageId), path_(path) {
  if (columns_.empty()) throw std::invalid_argument("a table needs at least one field");
  for (const TColumnSpec& c : columns_) {
    CheckColumn(c);
    offsets_.push_back(recordLength_);
    recordLength_ += c.length;
  }
  headerLength_ = kMainHeaderSize + kDescriptorSize * static_cast<int>(columns_.size()) + 1;
  if (recordLength_ > 0xFFFF || headerLength_ > 0xFFFF) throw std::invalid_argument("too many fields");

  buffer_.resize(std::max(kBufferBytes, static_cast<size_t>(recordLength_)));
  // The structure is the engine's own; the records then go straight to the
  // file, which keeps generating millions of them at disk speed.
  {
    TDbfFile table;
    table.SetFileName(path);
    table.SetCreateVersion(xBaseIV);
    table.SetCreateLanguageId(languageId_);
    table.SetMode(amExclusiveCreate);
    TDbfFieldDefs defs(xBaseIV);
    for (const TColumnSpec& c : columns_) {
      TDbfFieldDef& d = defs.Add();
      d.SetFieldName(c.name);
      d.SetNativeFieldType(c.type);
      d.SetStoredSize(c.length, c.decimals);
    }
    try {
      table.Open();
      table.CreateStructure(defs, 512);
    } catch (const std::exception& e) {
      throw std::runtime_error("cannot create " + path + ": " + e.what());
    }
    if (table.HeaderLength() != headerLength_) throw std::logic_error("header length differs from the layout");
  }
  file_ = std::fopen(path.c_str(), "r+b");
  if (!file_ || std::fseek(file_, headerLength_, SEEK_SET) != 0)
    throw std::runtime_error("cannot create " + path + ": " + std::strerror(errno));
}

TTableWriter::~TTableWriter() {
  if (!file_) return;
  inRecord_ = false;  // a record left half-built is dropped
  try {
    Finish();
  } catch (...) {
    // Destructors must not throw; a caller that cares calls Finish().
    if (file_) std::fclose(file_);
  }
}

void TTableWriter::WriteCount(FILE* file) {
  uint8_t count[4];
  PutLE32(count, count_);
  if (std::fseek(file, 4, SEEK_SET) != 0 || std::fwrite(count, 1, 4, file) != 4) failed_ = true;
}

void TTableWriter::FlushBuffer() {
  if (used_ && std::fwrite(buffer_.data(), 1, used_, file_) != used_) failed_ = true;
  used_ = 0;
}

void TTableWriter::BeginRecord(bool deleted) {
  if (!file_) throw std::logic_error("table already finished");
  if (inRecord_) throw std::logic_error("BeginRecord inside a record");
  if (count_ == std::numeric_limits<uint32_t>::max()) throw std::length_error("record count overflow");
  if (used_ + static_cast<size_t>(recordLength_) > buffer_.size()) FlushBuffer();
  uint8_t* r = buffer_.data() + used_;
  std::memset(r, ' ', static_cast<size_t>(recordLength_));
  r[0] = deleted ? '*' : ' ';
  inRecord_ = true;
}

void TTableWriter::EndRecord() {
  if (!inRecord_) throw std::logic_error("EndRecord without BeginRecord");
  used_ += static_cast<size_t>(recordLength_);
  ++count_;
  inRecord_ = false;
}

uint8_t* TTableWriter::Field(int column, char expectedType) {
  if (!inRecord_) throw std::logic_error("field set outside a record");
  if (column < 0 || column >= static_cast<int>(columns_.size())) throw std::out_of_range("no such field");
  const TColumnSpec& c = columns_[static_cast<size_t>(column)];
  if (expectedType && c.type != expectedType)
    throw std::invalid_argument("field " + c.name + " is of type " + c.type + ", not " + expectedType);
  return buffer_.data() + used_ + offsets_[static_cast<size_t>(column)];
}

void TTableWriter::SetText(int column, std::string_view bytes) {
  uint8_t* p = Field(column, 'C');
  const size_t width = static_cast<size_t>(columns_[static_cast<size_t>(column)].length);
  const size_t n = std::min(bytes.size(), width);
  std::memcpy(p, bytes.data(), n);
  std::memset(p + n, ' ', width - n);
}

void TTableWriter::SetScaled(int column, int64_t units) {
  uint8_t* p = Field(column, 'N');
  const TColumnSpec& c = columns_[static_cast<size_t>(column)];
  const bool negative = units < 0;
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(units) : static_cast<uint64_t>(units);
  char digits[24];
  const int n = static_cast<int>(std::to_chars(digits, digits + sizeof digits, magnitude).ptr - digits);
  // At least one digit before the point: 5 units in N(6,2) is 0.05.
  const int intDigits = std::max(n - c.decimals, 1);
  const int lead = intDigits + c.decimals - n;  // zeros between the point and the digits
  const int textLength = (negative ? 1 : 0) + intDigits + (c.decimals ? 1 + c.decimals : 0);
  if (textLength > c.length)
    throw std::invalid_argument("value too wide for " + c.name + "(" + std::to_string(c.length) + "," +
                                std::to_string(c.decimals) + ")");

  char text[48];
  int at = 0;
  if (negative) text[at++] = '-';
  int src = 0;
  for (int i = 0; i < intDigits; ++i) text[at++] = i < lead ? '0' : digits[src++];
  if (c.decimals) {
    text[at++] = '.';
    for (int i = 0; i < c.decimals; ++i) text[at++] = intDigits + i < lead ? '0' : digits[src++];
  }
  std::memset(p, ' ', static_cast<size_t>(c.length - at));
  std::memcpy(p + c.length - at, text, static_cast<size_t>(at));
}

void TTableWriter::SetInteger(int column, int64_t value) {
  const TColumnSpec& c = columns_.at(static_cast<size_t>(column));
  int64_t units = value;
  for (int i = 0; i < c.decimals; ++i) {
    if (units > std::numeric_limits<int64_t>::max() / 10 || units < std::numeric_limits<int64_t>::min() / 10)
      throw std::invalid_argument("value too wide for " + c.name);
    units *= 10;
  }
  SetScaled(column, units);
}

void TTableWriter::SetDate(int column, int year, int month, int day) {
  uint8_t* p = Field(column, 'D');
  if (!ValidDate(year, month, day))
    throw std::invalid_argument("impossible date " + std::to_string(year) + "-" + std::to_string(month) + "-" +
                                std::to_string(day));
  PutDigits(p, year, 4);
  PutDigits(p + 4, month, 2);
  PutDigits(p + 6, day, 2);
}

void TTableWriter::SetLogical(int column, bool value) { *Field(column, 'L') = value ? 'T' : 'F'; }

void TTableWriter::SetBlank(int column) {
  uint8_t* p = Field(column, 0);
  std::memset(p, ' ', static_cast<size_t>(columns_[static_cast<size_t>(column)].length));
}

void TTableWriter::Finish() {
  if (!file_) return;
  if (inRecord_) throw std::logic_error("Finish inside a record");
  FlushBuffer();
  if (std::fputc(kEofByte, file_) == EOF) failed_ = true;
  // The count goes last: it describes the finished table.
  WriteCount(file_);
  if (std::fclose(file_) != 0) failed_ = true;
  file_ = nullptr;
  if (failed_) throw std::runtime_error("cannot write " + path_);
}

std::string Cp1252FromUtf8(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    // Only two-byte sequences can encode U+00A0..U+00FF (lead byte C2 or C3).
    if ((c == 0xC2 || c == 0xC3) && i + 1 < utf8.size()) {
      const unsigned char t = static_cast<unsigned char>(utf8[i + 1]);
      const unsigned code = ((c & 0x1Fu) << 6) | (t & 0x3Fu);
      if ((t & 0xC0) == 0x80 && code >= 0xA0) {
        out += static_cast<char>(code);
        i += 2;
        continue;
      }
    }
    throw std::invalid_argument("text outside Latin-1 at byte " + std::to_string(i) + ": " + std::string(utf8));
  }
  return out;
}

}  // namespace norvale::gen
