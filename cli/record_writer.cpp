#include "cli/record_writer.h"

#include "platform/file_mapping.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

#include "platform/byte_masks.h"
#include "cli/cli_messages.h"
#include "engine/date_time.h"
#include "engine/exceptions.h"
#include "engine/memo_file.h"
#include "engine/value_text.h"

namespace norvale::cli {

namespace {

constexpr size_t kFlushAt = 128 << 10;
constexpr int64_t kBlockBytes = 256 << 10;
// The fast paths load and store 16 bytes at a time: loads may run up to 16
// bytes past the field (so the block of records has this much after the
// last one), stores up to 16 past the value written.
constexpr size_t kReadSlack = 64;
constexpr size_t kWriteSlack = 128;

// Room AppendFast may need for a field, and a record's framing around them.
constexpr size_t kFloatText = 32;
constexpr size_t kRecordFraming = 96;
size_t FastBound(const TDbfFieldDef& f) {
  // Text triples at worst (every byte three bytes of UTF-8, or an ASCII
  // byte escaped), plus quotes and a separator.
  return std::max(3 * static_cast<size_t>(std::max(f.Size(), 0)) + 2, kFloatText) + 2;
}

// Code pages that are one byte per character by definition; only for these
// may text be decoded byte by byte.
bool SingleByteCodePage(int cp) {
  return cp == 437 || cp == 720 || cp == 737 || cp == 775 || (cp >= 850 && cp <= 869) || cp == 874 ||
         (cp >= 1250 && cp <= 1258) || (cp >= 10000 && cp <= 10082) || cp == 20127 || cp == 20866 ||
         cp == 21866 || (cp >= 28591 && cp <= 28605);
}

// The word-at-a-time scans below find byte positions from bit positions,
// which holds for little-endian words only.
static_assert(std::endian::native == std::endian::little);
constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighBits = 0x8080808080808080ull;

uint64_t LoadWord(const uint8_t* p) {
  uint64_t word;
  std::memcpy(&word, p, 8);
  return word;
}

// Length of a field without its trailing spaces; blank text padding is long,
// so whole words of spaces are skipped at a time.
int TrimmedLength(const uint8_t* p, int size) {
  while (size >= 8) {
    // The last byte that is not a space holds the highest set bit of the
    // difference (bytes are little-endian in the word).
    const uint64_t diff = LoadWord(p + size - 8) ^ (kOnes * ' ');
    if (diff) return size - 8 + (63 - __builtin_clzll(diff)) / 8 + 1;
    size -= 8;
  }
  while (size > 0 && p[size - 1] == ' ') --size;
  return size;
}

// Non-zero when some byte of `word` equals `byte` (exact as a yes/no answer).
uint64_t HasByte(uint64_t word, uint8_t byte) {
  const uint64_t x = word ^ (kOnes * byte);
  return (x - kOnes) & ~x & kHighBits;
}

struct TTextScan {
  bool noControl;  // no control byte or DEL among the ASCII bytes
  bool high;       // holds bytes above ASCII
  bool special;    // holds `a` or `b`, which the output format escapes
};

// Scans the first `n` of the `size` bytes of a field eight at a time (text
// is mostly short names). Bytes between n and size are spaces, which no test
// here flags, so a last word may run into them.
TTextScan ScanText(const uint8_t* p, int n, int size, uint8_t a, uint8_t b) {
  uint64_t control = 0, high = 0, special = 0;
  auto check = [&](uint64_t w) {
    high |= w & kHighBits;
    control |= ((w - kOnes * 0x20) & ~w & kHighBits) | HasByte(w, 0x7F);
    special |= HasByte(w, a) | HasByte(w, b);
  };
  int i = 0;
  for (; i < n && i + 8 <= size; i += 8) check(LoadWord(p + i));
  if (i < n) {
    uint64_t tail = kOnes * ' ';
    std::memcpy(&tail, p + i, static_cast<size_t>(n - i));
    check(tail);
  }
  return {control == 0, high != 0, special != 0};
}

int LeadingSpaces(const uint8_t* p, int end) {
  int begin = 0;
  for (; begin + 8 <= end; begin += 8) {
    const uint64_t diff = LoadWord(p + begin) ^ (kOnes * ' ');
    if (diff) return begin + __builtin_ctzll(diff) / 8;
  }
  while (begin < end && p[begin] == ' ') ++begin;
  return begin;
}

bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }


// Copies short runs with a few word moves instead of a call to memcpy;
// reads and writes stay within the n bytes.
char* Put(char* out, const char* text, size_t n) {
  if (n >= 8) {
    for (size_t i = 0; i + 8 < n; i += 8) std::memcpy(out + i, text + i, 8);
    std::memcpy(out + n - 8, text + n - 8, 8);
  } else if (n >= 4) {
    std::memcpy(out, text, 4);
    std::memcpy(out + n - 4, text + n - 4, 4);
  } else {
    for (size_t i = 0; i < n; ++i) out[i] = text[i];
  }
  return out + n;
}

template <size_t N>
char* Put(char* out, const char (&literal)[N]) {
  return Put(out, literal, N - 1);
}

using masks::CopyRun;

// Writes a number stored as [-]digits[.digits] (1 to 15 digits) as
// std::to_chars writes the double it stands for. `point` is the index of the
// '.' (or of the end), `first` and `last` those of the first and last
// non-zero digit (-1 for none). With at most 15 significant digits the
// shortest text that reads back as that double has exactly the stored
// digits, less leading and trailing zeros; to_chars prints them fixed unless
// scientific notation is strictly shorter. Returns null when it would be.
char* PutDecimal(char* out, const char* text, bool negative, int point, int first, int last) {
  if (negative) *out++ = '-';
  if (first < 0) {  // zero, signed as stored: to_chars prints 0 or -0
    *out++ = '0';
    return out;
  }
  // Decimal exponents of the first and last significant digits.
  auto exponent = [&](int i) { return i < point ? point - i - 1 : point - i; };
  const int high = exponent(first), low = exponent(last);
  const int digits = high - low + 1;
  const int fixedLength = (high >= 0 ? high + 1 : 1) + (low < 0 ? 1 - low : 0);
  const int magnitude = high < 0 ? -high : high;
  const int scientificLength = digits + (digits > 1) + 2 + (magnitude >= 100 ? 3 : 2);
  if (fixedLength > scientificLength) return nullptr;
  if (high >= 0)
    out = CopyRun(out, text + first, static_cast<size_t>(point - first));
  else
    *out++ = '0';
  if (low < 0) {
    *out++ = '.';
    out = CopyRun(out, text + point + 1, static_cast<size_t>(-low));
  }
  return out;
}

void AppendInt(std::string& out, int64_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
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
    : table_(table),
      recordLength_(static_cast<size_t>(std::max(table.RecordLength(), 0))),
      text_(text),
      options_(options),
      out_(out) {
  json_ = options_.format == TOutputFormat::kJson;
  if (json_) {
    separator_[1] = ' ';
    separatorLength_ = 2;
  }
  // Printable ASCII is copied as it stands when the code page decodes it to
  // itself (every page a table is likely to name does; checked, not assumed).
  std::string ascii, decoded;
  for (int b = 0x20; b < 0x7F; ++b) ascii += static_cast<char>(b);
  text_.AppendUtf8(decoded, ascii.data(), ascii.size());
  asciiIdentity_ = decoded == ascii;

  // Bytes above ASCII decode one by one through a table taken from the
  // decoder itself, in single-byte code pages, for entries that are wholly
  // non-ASCII (so they never need quoting or escaping). The decoder must
  // agree with the table on a run of all of them, or the table stays unused.
  if (asciiIdentity_ && SingleByteCodePage(text_.CodePage())) {
    std::string all, joined;
    for (int b = 0x80; b < 0x100; ++b) {
      const char byte = static_cast<char>(b);
      std::string one;
      text_.AppendUtf8(one, &byte, 1);
      all += byte;
      joined += one;
      TUtf8& entry = highUtf8_[b - 0x80];
      entry.length = 0;
      if (one.empty() || one.size() > 3) continue;
      bool nonAscii = true;
      for (unsigned char c : one) nonAscii = nonAscii && c >= 0x80;
      if (!nonAscii) continue;
      std::memcpy(entry.bytes, one.data(), one.size());
      entry.length = static_cast<uint8_t>(one.size());
    }
    decoded.clear();
    text_.AppendUtf8(decoded, all.data(), all.size());
    highTable_ = decoded == joined;
  }
  for (int b = 0x20; b < 0x7F; ++b) escapes_[b] = {{static_cast<char>(b)}, 1, false};
  escapes_['"'] = json_ ? TEscape{{'\\', '"'}, 2, true} : TEscape{{'"', '"'}, 2, true};
  if (json_)
    escapes_['\\'] = {{'\\', '\\'}, 2, true};
  else
    escapes_[','].quote = true;
  for (int b = 0x80; b < 0x100 && highTable_; ++b) {
    const TUtf8& utf8 = highUtf8_[b - 0x80];
    std::memcpy(escapes_[b].bytes, utf8.bytes, 4);
    escapes_[b].length = utf8.length;
  }

  int widest = 1;
  for (int i = 0; i < table_.FieldDefs().Count(); ++i) {
    const TDbfFieldDef& f = table_.FieldDefs().Item(i);
    widest = std::max(widest, f.Size() + 1);
    TColumn c{&f, TKind::kText, f.FieldType()};
    c.offset = f.Offset();
    c.size = f.Size();
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
    // The fast formats follow the text rules of these letters only.
    const char letter = f.NativeFieldType();
    const bool numeric = letter == 'N' || letter == 'F';
    const int pieces = (c.size + 15) / 16;
    if (c.size >= 1 && c.size <= 64) c.bytes = ~0ull >> (64 - c.size);
    if (c.kind == TKind::kText && asciiIdentity_) {
      static constexpr TFast kByPieces[] = {TFast::kText, TFast::kText16, TFast::kText32, TFast::kText48,
                                            TFast::kText64};
      c.fast = c.bytes ? kByPieces[pieces] : TFast::kText;
    } else if (c.kind == TKind::kInteger && numeric &&
               (c.request == ftSmallint || c.request == ftInteger || c.request == ftLargeint)) {
      c.fast = c.bytes && pieces == 1 ? TFast::kShortInteger : TFast::kInteger;
    } else if (c.kind == TKind::kFloat && numeric) {
      c.fast = c.bytes && pieces == 1 ? TFast::kShortFloat : TFast::kFloat;
    } else if (c.kind == TKind::kDate && letter == 'D') {
      c.fast = TFast::kDate;
    } else if (c.kind == TKind::kBoolean && letter == 'L') {
      c.fast = TFast::kBoolean;
    }
    columns_.push_back(c);
  }
  recordBound_ = kRecordFraming;
  for (const TColumn& c : columns_) recordBound_ += FastBound(*c.field);
  output_.resize(kFlushAt + recordBound_ + kWriteSlack);
  fieldText_.assign(static_cast<size_t>(std::max(widest, 16)), 0);
}

char* TRecordWriter::Flush(char* out) {
  const size_t n = static_cast<size_t>(out - output_.data());
  if (n && std::fwrite(output_.data(), 1, n, out_) != n) throw Exception(msg::kCannotWriteOutput);
  return output_.data();
}

char* TRecordWriter::CopyBuffer(char* out) {
  const size_t n = buffer_.size();
  char* const limit = output_.data() + kFlushAt;
  // Past the limit only one record's fast values are sure to fit.
  if (out > limit || n > static_cast<size_t>(limit - out)) {
    out = Flush(out);
    if (n > kFlushAt) {
      if (std::fwrite(buffer_.data(), 1, n, out_) != n) throw Exception(msg::kCannotWriteOutput);
      buffer_.clear();
      return out;
    }
  }
  std::memcpy(out, buffer_.data(), n);
  buffer_.clear();
  return out + n;
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

// Text of at most 64 bytes: one pass of 16-byte compares finds the end of
// the text and the bytes in it that need more than a copy; most text has
// none and is copied 16 bytes at a time.
template <bool kJson, int kPieces>
inline TRecordWriter::TFastResult TRecordWriter::ShortText(const TColumn& column, const uint8_t* p,
                                                           char*& out) const {
  constexpr uint8_t kOther = kJson ? '\\' : ',';
  uint64_t spaces = 0, unusual = 0;
  for (int k = 0; k < kPieces; ++k) {
    spaces |= static_cast<uint64_t>(masks::Equal(p + 16 * k, ' ')) << (16 * k);
    unusual |= static_cast<uint64_t>(masks::Unusual(p + 16 * k, '"', kOther)) << (16 * k);
  }
  const uint64_t filled = ~spaces & column.bytes;
  const int end = 64 - std::countl_zero(filled);
  const uint64_t kept = end ? ~0ull >> (64 - end) : 0;
  if (unusual & kept) return EscapedText<kJson>(p, unusual & kept, end, out);
  // JSON's quotes are written always and kept only for JSON; in CSV the
  // text or the separator overwrites them.
  char* o = out;
  *o = '"';
  o += kJson;
  for (int k = 0; k < kPieces; ++k) masks::Copy16(o + 16 * k, p + 16 * k);
  o += end;
  *o = '"';
  o += kJson;
  out = o;
  return TFastResult::kValue;
}

// `events` marks the bytes among the first `end` of a short text field that
// are not copied as they stand; escapes_ says what each becomes.
template <bool kJson>
TRecordWriter::TFastResult TRecordWriter::EscapedText(const uint8_t* p, uint64_t events, int end,
                                                      char*& out) const {
  char* o = out;
  *o = '"';
  o += kJson;
  int from = 0;
  bool quote = kJson;
  while (events) {
    const int i = std::countr_zero(events);
    events &= events - 1;
    // Runs between such bytes are short in most text.
    masks::Copy16(o, p + from);
    if (i - from > 16) CopyRun(o + 16, p + from + 16, static_cast<size_t>(i - from - 16));
    o += i - from;
    const TEscape& escape = escapes_[p[i]];
    if (!escape.length) return TFastResult::kGeneral;
    std::memcpy(o, escape.bytes, 4);
    o += escape.length;
    quote |= escape.quote;
    from = i + 1;
  }
  o = CopyRun(o, p + from, static_cast<size_t>(end - from));
  if (quote && !kJson) {
    // Only now is it known that CSV quotes this text.
    std::memmove(out + 1, out, static_cast<size_t>(o - out));
    *out = '"';
    ++o;
  }
  if (quote) *o++ = '"';
  out = o;
  return TFastResult::kValue;
}

// A number field of at most 16 bytes: spaces, then [-] and digits (with a
// point for floats) side by side, then spaces; found without a loop.
struct TNumberText {
  int begin;        // first byte of the number
  int end;          // one past its last
  int negative;     // 1 if it starts with '-'
  uint32_t filled;  // bits of the bytes that are not spaces
  uint32_t digits;  // bits of the digits
  uint32_t sign;    // bit of the leading '-', or 0
};

inline bool FindNumber(const uint8_t* p, uint64_t bytes, TNumberText& n) {
  const uint32_t field = static_cast<uint32_t>(bytes);
  n.filled = ~masks::Equal(p, ' ') & field;
  if (!n.filled) return false;
  n.begin = std::countr_zero(n.filled);
  n.end = 32 - std::countl_zero(n.filled);
  n.sign = masks::Equal(p, '-') & n.filled & (0 - n.filled);
  n.negative = n.sign != 0;
  n.digits = masks::Digit(p) & field;
  return true;
}

// Whether the set bits of `x` (not 0) are side by side.
inline bool Contiguous(uint32_t x) { return ((x + (x & (0 - x))) & x) == 0; }

// [-]digits without leading zeros prints as it is stored; nine digits fit
// every integer request, so no range rule can change the value.
inline TRecordWriter::TFastResult TRecordWriter::ShortInteger(const TColumn& column, const uint8_t* p,
                                                              char*& out) const {
  TNumberText n;
  if (!FindNumber(p, column.bytes, n)) return TFastResult::kNull;
  const int digits = n.end - n.begin - n.negative;
  // Every byte after the sign a digit: no space or other byte inside.
  if (n.digits != (n.filled ^ n.sign) || !Contiguous(n.filled) || digits < 1 || digits > 9)
    return TFastResult::kGeneral;
  const bool leadingZero = (masks::Equal(p, '0') & n.digits & (0 - n.digits)) != 0;
  if (leadingZero && (digits > 1 || n.negative)) return TFastResult::kGeneral;  // 007, -0
  masks::Copy16(out, p + n.begin);
  out += n.end - n.begin;
  return TFastResult::kValue;
}

inline TRecordWriter::TFastResult TRecordWriter::ShortFloat(const TColumn& column, const uint8_t* p,
                                                            char*& out) const {
  TNumberText n;
  if (!FindNumber(p, column.bytes, n)) return TFastResult::kNull;
  const uint32_t point = masks::Equal(p, '.') & n.filled;
  const int digits = n.end - n.begin - n.negative - (point != 0);
  if ((point & (point - 1)) || n.digits != (n.filled ^ n.sign ^ point) || !Contiguous(n.filled) || digits < 1 ||
      digits > 15)
    return TFastResult::kGeneral;
  const uint32_t nonZero = n.digits & ~masks::Equal(p, '0');
  const int first = nonZero ? std::countr_zero(nonZero) : -1;
  const int last = nonZero ? 31 - std::countl_zero(nonZero) : -1;
  const int at = point ? std::countr_zero(point) : n.end;
  if (first >= 0 && first < at && last > at) {
    // Significant digits on both sides of the point: the stored text from
    // the first to the last of them, always shorter than an exponent form.
    char* o = out;
    *o = '-';
    o += n.negative;
    masks::Copy16(o, p + first);
    out = o + (last - first + 1);
    return TFastResult::kValue;
  }
  char* next = PutDecimal(out, reinterpret_cast<const char*>(p), n.negative, at, first, last);
  if (!next) return TFastResult::kGeneral;
  out = next;
  return TFastResult::kValue;
}

// Each case gives exactly what AppendValue would for the shapes it accepts,
// and kGeneral for every other shape.
// Inlined by force: it is called for every field, and the compiler would
// otherwise keep it out of line for its size.
template <bool kJson>
[[gnu::always_inline]] inline TRecordWriter::TFastResult TRecordWriter::AppendFast(const TColumn& column,
                                                                                   const TRecordView& record,
                                                                                   char*& out) const {
  const std::string_view stored = record.Bytes(column.offset, column.size);
  if (stored.empty()) return TFastResult::kNull;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(stored.data());
  const char* text = stored.data();
  const int size = column.size;
  constexpr bool json = kJson;

  switch (column.fast) {
    case TFast::kNone: break;
    case TFast::kText16: return ShortText<kJson, 1>(column, p, out);
    case TFast::kText32: return ShortText<kJson, 2>(column, p, out);
    case TFast::kText48: return ShortText<kJson, 3>(column, p, out);
    case TFast::kText64: return ShortText<kJson, 4>(column, p, out);
    case TFast::kShortInteger: return ShortInteger(column, p, out);
    case TFast::kShortFloat: return ShortFloat(column, p, out);
    case TFast::kText: {
      // Decoding stops at a NUL byte, CR and LF need quoting in CSV, and
      // other control bytes escaping in JSON: all of them, like bytes the
      // code page may decode differently, take the general path.
      if (!asciiIdentity_) return TFastResult::kGeneral;
      const int end = TrimmedLength(p, size);
      const TTextScan scan = ScanText(p, end, size, '"', json ? '\\' : ',');
      if (!scan.noControl || (scan.high && !highTable_)) return TFastResult::kGeneral;
      if (!scan.high && !scan.special) {
        if (json) *out++ = '"';
        out = Put(out, text, static_cast<size_t>(end));
        if (json) *out++ = '"';
        return TFastResult::kValue;
      }
      char* const start = out;
      const bool quote = json || scan.special;
      if (quote) *out++ = '"';
      for (int i = 0; i < end; ++i) {
        const uint8_t c = p[i];
        if (c >= 0x80) {
          const TUtf8& utf8 = highUtf8_[c - 0x80];
          if (!utf8.length) {
            out = start;
            return TFastResult::kGeneral;
          }
          out = Put(out, utf8.bytes, utf8.length);
          continue;
        }
        if (c == '"')
          *out++ = json ? '\\' : '"';
        else if (json && c == '\\')
          *out++ = '\\';
        *out++ = static_cast<char>(c);
      }
      if (quote) *out++ = '"';
      return TFastResult::kValue;
    }
    case TFast::kInteger: {
      // Nine digits fit every integer request, so no range rule can change
      // a canonical value.
      // The blanks are found a word at a time here; the value's rules are
      // the record view's.
      const int end = TrimmedLength(p, size);
      const int begin = LeadingSpaces(p, end);
      if (begin == end) return TFastResult::kNull;
      char* next = TRecordView::PutCanonicalInteger(stored.substr(static_cast<size_t>(begin), static_cast<size_t>(end - begin)), out);
      if (!next) return TFastResult::kGeneral;
      out = next;
      return TFastResult::kValue;
    }
    case TFast::kFloat: {
      const int end = TrimmedLength(p, size);
      const int begin = LeadingSpaces(p, end);
      if (begin == end) return TFastResult::kNull;
      const bool negative = p[begin] == '-';
      int point = end, digits = 0, first = -1, last = -1;
      for (int i = begin + negative; i < end; ++i) {
        if (IsDigit(p[i])) {
          ++digits;
          if (p[i] != '0') {
            if (first < 0) first = i;
            last = i;
          }
        } else if (p[i] == '.' && point == end) {
          point = i;
        } else {
          return TFastResult::kGeneral;
        }
      }
      if (digits < 1 || digits > 15) return TFastResult::kGeneral;
      char* next = PutDecimal(out, text, negative, point, first, last);
      if (!next) return TFastResult::kGeneral;
      out = next;
      return TFastResult::kValue;
    }
    case TFast::kDate: {
      char* o = out;
      *o = '"';
      o += json;
      o = TRecordView::PutCanonicalDate(stored, o);
      if (!o) return TFastResult::kGeneral;
      *o = '"';
      out = o + json;
      return TFastResult::kValue;
    }
    case TFast::kBoolean: {
      const int end = size == 1 ? 1 : TrimmedLength(p, size);
      const int begin = size == 1 ? 0 : LeadingSpaces(p, end);
      // NUL padding and every other shape: the codec's rules.
      if (begin == end || p[begin] == 0) return TFastResult::kGeneral;
      const int value = LogicalValue(static_cast<char>(p[begin]));
      if (value < 0) return TFastResult::kNull;
      std::memcpy(out, value ? "true" : "false", 5);
      out += 5 - value;
      return TFastResult::kValue;
    }
  }
  return TFastResult::kGeneral;
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
      AppendDateText(buffer_, y, m, d);
      if (json) buffer_ += '"';
      return true;
    }
    case TKind::kDateTime: {
      if (!table_.DecodeField(f, ftDateTime, false, &v, record)) return false;
      const TDateParts p = DecodeDateTime(v.d);
      if (json) buffer_ += '"';
      AppendDateText(buffer_, p.year, p.month, p.day);
      buffer_ += 'T';
      AppendTimeText(buffer_, p.hour, p.minute, p.second, p.millisecond);
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
      // No block is no value (null); memo text goes out as text, binary and
      // OLE values as base64.
      if (!table_.DecodeField(f, ftInteger, false, &v, record) || v.i32 <= 0) return false;
      if (table_.MemoFileName().empty()) return false;  // the memo file is missing
      std::string value;
      if (table_.MemoFile()) table_.MemoFile()->ReadMemo(v.i32, value);
      if (f.FieldType() == ftMemo) {
        scratch_.clear();
        text_.AppendUtf8(scratch_, value.data(), value.size());
        if (json)
          AppendJsonString(scratch_.data(), scratch_.size());
        else
          AppendCsvText(scratch_);
        return true;
      }
      const std::string encoded = Base64(reinterpret_cast<const uint8_t*>(value.data()), value.size());
      if (json) buffer_ += "{\"base64\": \"";
      buffer_ += encoded;
      if (json) buffer_ += "\"}";
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

template <bool kJson>
[[gnu::always_inline]] inline char* TRecordWriter::WriteRecord(int64_t recNo, const uint8_t* record,
                                                               char* out) {
  const TRecordView view(record, static_cast<size_t>(recordLength_), &table_.Codec());
  const bool deleted = view.Deleted();
  if (deleted && !options_.includeDeleted) return out;
  if (options_.accept && !options_.accept(record)) return out;
  if (!kJson) {
    if (options_.includeDeleted) out = deleted ? Put(out, "true,") : Put(out, "false,");
  } else {
    out = firstRecord_ ? Put(out, "\n{\"recno\": ") : Put(out, ",\n{\"recno\": ");
    out = std::to_chars(out, out + 24, recNo).ptr;
    out = deleted ? Put(out, ", \"deleted\": true, \"values\": [")
                  : Put(out, ", \"deleted\": false, \"values\": [");
  }
  const bool nullFlags = table_.Codec().nullFlagsField != nullptr;
  for (const TColumn& column : columns_) {
    TFastResult result = TFastResult::kNull;
    if (!nullFlags || !view.NullFlagged(*column.field)) result = AppendFast<kJson>(column, view, out);
    if (result == TFastResult::kGeneral) {
      if (AppendValue(column, record)) {
        out = CopyBuffer(out);
        result = TFastResult::kValue;
      } else {
        buffer_.clear();
        result = TFastResult::kNull;
      }
    }
    if (result == TFastResult::kNull && kJson) out = Put(out, "null");
    std::memcpy(out, separator_, 2);
    out += separatorLength_;
  }
  if (!columns_.empty()) out -= separatorLength_;
  std::memcpy(out, kJson ? "]}" : "\r\n", 2);
  firstRecord_ = false;
  return out + 2;
}

template <bool kJson>
char* TRecordWriter::WriteRecords(int64_t firstNo, int64_t count, const uint8_t* records, char* out) {
  char* const limit = output_.data() + kFlushAt;
  const size_t length = static_cast<size_t>(table_.RecordLength());
  for (int64_t i = 0; i < count; ++i, records += length) {
    if (out >= limit) out = Flush(out);
    out = WriteRecord<kJson>(firstNo + i, records, out);
  }
  return out;
}

void TRecordWriter::WriteAll() {
  char* out = output_.data();
  WritePreamble();
  out = CopyBuffer(out);
  const int length = table_.RecordLength();
  const int64_t count = table_.RecordCount();
  const int64_t perBlock = std::clamp<int64_t>(kBlockBytes / std::max(length, 1), 1, std::max<int64_t>(count, 1));
  std::vector<uint8_t> block(static_cast<size_t>(perBlock * length) + kReadSlack);
  for (int64_t first = 1; first <= count;) {
    const int64_t want = std::min(perBlock, count - first + 1);
    const int64_t got = table_.ReadRecords(first, want, block.data());
    if (got <= 0) break;  // the file ended before the counted records
    out = json_ ? WriteRecords<true>(first, got, block.data(), out)
                : WriteRecords<false>(first, got, block.data(), out);
    first += got;
    if (got < want) break;
  }
  if (json_) {
    buffer_ += "\n]}\n";
    out = CopyBuffer(out);
  }
  Flush(out);
  if (std::fflush(out_) != 0) throw Exception(msg::kCannotWriteOutput);
}

void TRecordWriter::WriteInOrder(const std::function<int64_t()>& next) {
  char* out = output_.data();
  WritePreamble();
  out = CopyBuffer(out);
  char* const limit = output_.data() + kFlushAt;
  const size_t length = static_cast<size_t>(table_.RecordLength());
  const uint64_t first = static_cast<uint64_t>(table_.HeaderLength());
  std::vector<uint8_t> record(length + kReadSlack);
  // Index order visits the file at random: the records are copied from a
  // view of the file, not read one system call at a time. Records beyond
  // the view (appended since) are read from the file.
  TFileMapping view;
  const bool mapped = view.Map(table_.FileName());
  const auto offsetOf = [&](int64_t recNo) { return first + static_cast<uint64_t>(recNo - 1) * length; };
  // The walk runs a few records ahead of the writing, so that the records
  // it names are on their way from memory while earlier ones are written.
  constexpr size_t kAhead = 128;
  int64_t ahead[kAhead];
  size_t aheadHead = 0, aheadCount = 0;
  bool walkEnded = false;
  const auto pull = [&] {
    const int64_t r = next();
    if (r <= 0) {
      walkEnded = true;
      return;
    }
    if (mapped && offsetOf(r) + length <= view.Size()) {
      // Every cache line the record touches, its last partial one too.
      const uint64_t from = offsetOf(r) & ~uint64_t(63);
      for (uint64_t line = from; line < offsetOf(r) + length; line += 64) __builtin_prefetch(view.At(line), 0, 1);
    }
    ahead[(aheadHead + aheadCount++) % kAhead] = r;
  };
  for (;;) {
    while (aheadCount < kAhead && !walkEnded) pull();
    if (aheadCount == 0) break;
    const int64_t recNo = ahead[aheadHead];
    aheadHead = (aheadHead + 1) % kAhead;
    --aheadCount;
    const TFileMapping::TCopy copied =
        mapped ? view.Copy(offsetOf(recNo), record.data(), length) : TFileMapping::kOutside;
    if (copied == TFileMapping::kFault) throw Exception(msg::kTableShrank);
    // An index entry may name a record the file no longer holds.
    if (copied == TFileMapping::kOutside && !table_.ReadRecord(recNo, record.data())) continue;
    if (out >= limit) out = Flush(out);
    out = json_ ? WriteRecord<true>(recNo, record.data(), out) : WriteRecord<false>(recNo, record.data(), out);
  }
  if (json_) {
    buffer_ += "\n]}\n";
    out = CopyBuffer(out);
  }
  Flush(out);
  if (std::fflush(out_) != 0) throw Exception(msg::kCannotWriteOutput);
}

}  // namespace norvale::cli
