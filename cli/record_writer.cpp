#include "cli/record_writer.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "engine/date_time.h"
#include "engine/exceptions.h"

namespace norvale::cli {

namespace {

constexpr size_t kFlushAt = 1 << 20;
constexpr int64_t kBlockBytes = 1 << 20;

void AppendInt(std::string& out, int64_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

void AppendPadded(std::string& out, int v, int width) {
  char buf[12];
  auto r = std::to_chars(buf, buf + sizeof buf, v < 0 ? -v : v);
  if (v < 0) out += '-';
  for (int n = static_cast<int>(r.ptr - buf); n < width; ++n) out += '0';
  out.append(buf, r.ptr);
}

void AppendDate(std::string& out, int year, int month, int day) {
  AppendPadded(out, year, 4);
  out += '-';
  AppendPadded(out, month, 2);
  out += '-';
  AppendPadded(out, day, 2);
}

}  // namespace

std::string Base64(const uint8_t* data, size_t length) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((length + 2) / 3 * 4);
  for (size_t i = 0; i < length; i += 3) {
    uint32_t v = uint32_t(data[i]) << 16;
    if (i + 1 < length) v |= uint32_t(data[i + 1]) << 8;
    if (i + 2 < length) v |= data[i + 2];
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < length ? kAlphabet[(v >> 6) & 63] : '=';
    out += i + 2 < length ? kAlphabet[v & 63] : '=';
  }
  return out;
}

TRecordWriter::TRecordWriter(TDbfFile& table, const TCodePageDecoder& text, const TDumpOptions& options, FILE* out)
    : table_(table), text_(text), options_(options), out_(out) {
  int widest = 1;
  for (int i = 0; i < table_.FieldDefs().Count(); ++i) {
    const TDbfFieldDef& f = table_.FieldDefs().Item(i);
    widest = std::max(widest, f.Size() + 1);
    TColumn c{&f, TKind::kText, f.FieldType()};
    switch (f.FieldType()) {
      case ftString: c.kind = TKind::kText; break;
      case ftSmallint:
      case ftInteger:
      case ftLargeint:
      case ftAutoInc:
      case ftWord: c.kind = TKind::kInteger; break;
      case ftFloat:
      case ftCurrency: c.kind = TKind::kFloat; break;
      case ftBCD: c.kind = TKind::kCurrency; break;
      case ftBoolean: c.kind = TKind::kBoolean; break;
      case ftDate: c.kind = TKind::kDate; break;
      case ftDateTime: c.kind = TKind::kDateTime; break;
      case ftBytes: c.kind = TKind::kBytes; break;
      default:
        c.kind = TKind::kMemo;
        c.request = ftInteger;
        break;
    }
    columns_.push_back(c);
  }
  fieldText_.assign(static_cast<size_t>(std::max(widest, 16)), 0);
}

void TRecordWriter::Flush() {
  if (!buffer_.empty() && std::fwrite(buffer_.data(), 1, buffer_.size(), out_) != buffer_.size())
    throw Exception("Cannot write the output.");
  buffer_.clear();
}

void TRecordWriter::AppendJsonString(const char* text, size_t length) {
  buffer_ += '"';
  size_t run = 0;
  for (size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    buffer_.append(text + run, i - run);
    run = i + 1;
    switch (c) {
      case '"': buffer_ += "\\\""; break;
      case '\\': buffer_ += "\\\\"; break;
      case '\n': buffer_ += "\\n"; break;
      case '\r': buffer_ += "\\r"; break;
      case '\t': buffer_ += "\\t"; break;
      default: {
        static constexpr char kHex[] = "0123456789abcdef";
        buffer_ += "\\u00";
        buffer_ += kHex[c >> 4];
        buffer_ += kHex[c & 15];
      }
    }
  }
  buffer_.append(text + run, length - run);
  buffer_ += '"';
}

void TRecordWriter::AppendCsvText(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) {
    buffer_ += text;
    return;
  }
  buffer_ += '"';
  for (char c : text) {
    if (c == '"') buffer_ += '"';
    buffer_ += c;
  }
  buffer_ += '"';
}

bool TRecordWriter::AppendValue(const TColumn& column, const uint8_t* record) {
  const TDbfFieldDef& f = *column.field;
  const TFieldCodec& codec = table_.Codec();
  if (codec.IsNullFlagged(f, record)) return false;
  const bool json = options_.format == TOutputFormat::kJson;
  union {
    int16_t i16;
    int32_t i32;
    int64_t i64;
    double d;
  } v{};

  switch (column.kind) {
    case TKind::kText: {
      // Blank text is an empty string, not a missing value: only the null
      // flags (checked above) make a character field null.
      table_.DecodeField(f, ftString, false, fieldText_.data(), record);
      scratch_.clear();
      text_.AppendUtf8(scratch_, fieldText_.data(), std::strlen(fieldText_.data()));
      if (json)
        AppendJsonString(scratch_.data(), scratch_.size());
      else
        AppendCsvText(scratch_);
      return true;
    }
    case TKind::kInteger: {
      if (!table_.DecodeField(f, column.request, false, &v, record)) return false;
      const int64_t n = column.request == ftSmallint ? v.i16 : column.request == ftLargeint ? v.i64 : v.i32;
      AppendInt(buffer_, n);
      return true;
    }
    case TKind::kFloat: {
      if (!table_.DecodeField(f, ftFloat, false, &v, record)) return false;
      if (!std::isfinite(v.d)) {
        const char* word = std::isnan(v.d) ? "nan" : v.d > 0 ? "inf" : "-inf";
        if (json) {
          buffer_ += "{\"float\": \"";
          buffer_ += word;
          buffer_ += "\"}";
        } else {
          buffer_ += word;
        }
        return true;
      }
      char buf[32];
      auto r = std::to_chars(buf, buf + sizeof buf, v.d);
      buffer_.append(buf, r.ptr);
      return true;
    }
    case TKind::kCurrency: {
      if (!table_.DecodeField(f, ftBCD, false, &v, record)) return false;
      // Exact decimal text of value x 10000: no binary rounding on the way.
      const bool negative = v.i64 < 0;
      uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(v.i64) : static_cast<uint64_t>(v.i64);
      if (negative) buffer_ += '-';
      char buf[24];
      auto r = std::to_chars(buf, buf + sizeof buf, magnitude / 10000);
      buffer_.append(buf, r.ptr);
      int frac = static_cast<int>(magnitude % 10000);
      if (frac) {
        int digits = 4;
        while (frac % 10 == 0) frac /= 10, --digits;
        buffer_ += '.';
        AppendPadded(buffer_, frac, digits);
      }
      return true;
    }
    case TKind::kBoolean:
      if (!table_.DecodeField(f, ftBoolean, false, &v, record)) return false;
      buffer_ += v.i16 ? "true" : "false";
      return true;
    case TKind::kDate: {
      if (!table_.DecodeField(f, ftDate, true, &v, record)) return false;
      int y, m, d;
      DateFromDayNumber(v.i32, &y, &m, &d);
      if (json) buffer_ += '"';
      AppendDate(buffer_, y, m, d);
      if (json) buffer_ += '"';
      return true;
    }
    case TKind::kDateTime: {
      if (!table_.DecodeField(f, ftDateTime, false, &v, record)) return false;
      const TDateParts p = DecodeDateTime(v.d);
      if (json) buffer_ += '"';
      AppendDate(buffer_, p.year, p.month, p.day);
      buffer_ += 'T';
      AppendPadded(buffer_, p.hour, 2);
      buffer_ += ':';
      AppendPadded(buffer_, p.minute, 2);
      buffer_ += ':';
      AppendPadded(buffer_, p.second, 2);
      if (p.millisecond) {
        buffer_ += '.';
        AppendPadded(buffer_, p.millisecond, 3);
      }
      if (json) buffer_ += '"';
      return true;
    }
    case TKind::kBytes: {
      if (!table_.DecodeField(f, ftBytes, false, fieldText_.data(), record)) return false;
      const std::string encoded = Base64(reinterpret_cast<const uint8_t*>(fieldText_.data()), static_cast<size_t>(f.Size()));
      if (json) {
        buffer_ += "{\"base64\": \"" + encoded + "\"}";
      } else {
        buffer_ += encoded;
      }
      return true;
    }
    case TKind::kMemo: {
      if (!table_.DecodeField(f, ftInteger, false, &v, record) || v.i32 == 0) return false;
      if (json) buffer_ += "{\"memo_block\": ";
      AppendInt(buffer_, v.i32);
      if (json) buffer_ += '}';
      return true;
    }
  }
  return false;
}

void TRecordWriter::WritePreamble() {
  if (options_.format == TOutputFormat::kCsv) {
    if (options_.includeDeleted) buffer_ += "_DELETED,";
    for (size_t i = 0; i < columns_.size(); ++i) {
      if (i) buffer_ += ',';
      scratch_.clear();
      const std::string& name = columns_[i].field->FieldName();
      text_.AppendUtf8(scratch_, name.data(), name.size());
      AppendCsvText(scratch_);
    }
    buffer_ += "\r\n";
    return;
  }
  buffer_ += "{\"fields\": [";
  for (size_t i = 0; i < columns_.size(); ++i) {
    const TDbfFieldDef& f = *columns_[i].field;
    buffer_ += i ? ",\n  " : "\n  ";
    buffer_ += "{\"name\": ";
    scratch_.clear();
    text_.AppendUtf8(scratch_, f.FieldName().data(), f.FieldName().size());
    AppendJsonString(scratch_.data(), scratch_.size());
    buffer_ += ", \"type\": ";
    const char letter = f.NativeFieldType();
    scratch_.clear();
    text_.AppendUtf8(scratch_, &letter, 1);
    AppendJsonString(scratch_.data(), scratch_.size());
    buffer_ += ", \"size\": ";
    AppendInt(buffer_, f.Size());
    buffer_ += ", \"decimals\": ";
    AppendInt(buffer_, f.Precision());
    buffer_ += ", \"logical\": \"";
    buffer_ += FieldTypeName(f.FieldType());
    buffer_ += "\"}";
  }
  buffer_ += "],\n\"records\": [";
}

void TRecordWriter::WriteRecord(int64_t recNo, const uint8_t* record) {
  const bool deleted = record[0] == '*';
  if (deleted && !options_.includeDeleted) return;
  if (options_.format == TOutputFormat::kCsv) {
    if (options_.includeDeleted) buffer_ += deleted ? "true," : "false,";
    for (size_t i = 0; i < columns_.size(); ++i) {
      if (i) buffer_ += ',';
      AppendValue(columns_[i], record);
    }
    buffer_ += "\r\n";
  } else {
    buffer_ += firstRecord_ ? "\n" : ",\n";
    buffer_ += "{\"recno\": ";
    AppendInt(buffer_, recNo);
    buffer_ += deleted ? ", \"deleted\": true, \"values\": [" : ", \"deleted\": false, \"values\": [";
    for (size_t i = 0; i < columns_.size(); ++i) {
      if (i) buffer_ += ", ";
      if (!AppendValue(columns_[i], record)) buffer_ += "null";
    }
    buffer_ += "]}";
  }
  firstRecord_ = false;
  if (buffer_.size() >= kFlushAt) Flush();
}

void TRecordWriter::WriteAll() {
  WritePreamble();
  const int length = table_.RecordLength();
  const int64_t count = table_.RecordCount();
  const int64_t perBlock = std::clamp<int64_t>(kBlockBytes / std::max(length, 1), 1, std::max<int64_t>(count, 1));
  std::vector<uint8_t> block(static_cast<size_t>(perBlock * length));
  for (int64_t first = 1; first <= count;) {
    const int64_t want = std::min(perBlock, count - first + 1);
    const int64_t got = table_.ReadPages(first, want, block.data());
    if (got <= 0) break;  // the file ended before the counted records
    for (int64_t i = 0; i < got; ++i) WriteRecord(first + i, block.data() + i * length);
    first += got;
    if (got < want) break;
  }
  if (options_.format == TOutputFormat::kJson) buffer_ += "\n]}\n";
  Flush();
  if (std::fflush(out_) != 0) throw Exception("Cannot write the output.");
}

}  // namespace norvale::cli
