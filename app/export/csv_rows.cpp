#include "app/export/csv_rows.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "app/export/table_export.h"
#include "app/export/text_file_writer.h"
#include "app/export/text_writers.h"
#include "dataset/dbf_table.h"
#include "dataset/field.h"
#include "engine/field_codec.h"
#include "engine/record_view.h"
#include "engine/table_file.h"
#include "platform/byte_masks.h"
#include "platform/text_services.h"

namespace norvale {

namespace {

constexpr size_t kFlushAt = 256 << 10;
constexpr int64_t kBlockBytes = 256 << 10;
// Progress (and with it a Cancel) is looked at every this many rows.
constexpr int64_t kProgressEvery = 256;
// The text form reads and writes 16 bytes at a time: up to 31 bytes past a
// field (so record images are followed by this much) and 15 past what it
// writes.
constexpr size_t kSlack = 64;

bool Blank(const uint8_t* p, int size) {
  constexpr uint64_t kSpaces = 0x2020202020202020ull;
  int i = 0;
  for (; i + 8 <= size; i += 8) {
    uint64_t word;
    std::memcpy(&word, p + i, 8);
    if (word != kSpaces) return false;
  }
  for (; i < size; ++i)
    if (p[i] != ' ') return false;
  return true;
}

// Whether the set bits of `x` (not 0) are side by side.
bool Contiguous(uint32_t x) { return ((x + (x & (0 - x))) & x) == 0; }

// A number field of at most 16 bytes in the form PutCanonicalInteger
// (decimals 0) or PutCanonicalFixed takes, found with a few 16-byte compares:
// blanks, [-], digits, and for decimals exactly that many after a point, then
// blanks. Writes the text at `out` and returns its end; null for another shape
// (`*blank` set when the field is all blanks).
char* ShortNumber(const uint8_t* p, uint32_t field, int decimals, char* out, bool* blank) {
  const uint32_t filled = ~masks::Equal(p, ' ') & field;
  *blank = filled == 0;
  if (!filled || !Contiguous(filled)) return nullptr;
  const int begin = std::countr_zero(filled);
  const int end = 32 - std::countl_zero(filled);
  const uint32_t sign = masks::Equal(p, '-') & (1u << begin);
  const uint32_t digits = masks::Digit(p) & field;
  const uint32_t point = decimals > 0 ? masks::Equal(p, '.') & field : 0;
  if ((digits | point | sign) != filled) return nullptr;
  // Where the point must stand (the end for an integer), and the digits
  // before it; at least one, so the point's place is inside the field.
  const int at = decimals > 0 ? end - decimals - 1 : end;
  const int whole = at - begin - (sign ? 1 : 0);
  if (whole < 1 || whole > (decimals > 0 ? 15 : 9)) return nullptr;
  if (decimals > 0 && point != 1u << at) return nullptr;
  const int first = begin + (sign ? 1 : 0);
  if (p[first] == '0') {
    if (whole > 1) return nullptr;  // 007
    if (sign) {
      // -0 and -0.00 print without the sign.
      const uint32_t fraction = decimals > 0 ? digits & ~((2u << at) - 1) : 0;
      if ((fraction & ~masks::Equal(p, '0')) == 0) return nullptr;
    }
  }
  masks::Copy16(out, p + begin);
  return out + (end - begin);
}

// Whether `text` is one or more whole, valid UTF-8 characters.
bool ValidUtf8(const std::string& text) {
  size_t pos = 0;
  while (pos < text.size())
    if (!DecodeUtf8Char(text, pos).valid) return false;
  return !text.empty();
}

}  // namespace

TCsvRecordRows::TCsvRecordRows(TDbfTable& table, TExportReader& reader, TCsvWriter& writer)
    : table_(table), reader_(reader), writer_(writer) {
  separator_ = writer.Separator();
  quote_ = writer.Quote();
  TDbfFile* file = table.DbfFile();
  // Text the table translates through its own hook, and forms the writer's
  // settings would change, are left to the general path entirely.
  if (!file || table.OnTranslate || static_cast<unsigned char>(quote_) >= 0x80 || quote_ < 0x20 ||
      static_cast<unsigned char>(separator_) >= 0x80)
    return;
  recordLength_ = static_cast<size_t>(std::max(file->RecordLength(), 0));

  // Printable ASCII must decode to itself and the quote be doubled; bytes
  // above ASCII decode one by one only when the table's decoding of each
  // agrees with its decoding of all of them in a row (a one-byte code page).
  std::string ascii, decoded;
  for (int b = 0x20; b < 0x7F; ++b) ascii += static_cast<char>(b);
  table.AppendTextFromTable(decoded, ascii);
  const bool asciiIdentity = decoded == ascii;
  if (asciiIdentity) {
    for (int b = 0x20; b < 0x7F; ++b) bytes_[b] = {{static_cast<char>(b)}, 1};
    bytes_[static_cast<uint8_t>(quote_)] = {{quote_, quote_}, 2};
  }
  // Bytes above ASCII start characters of several bytes in other pages (or
  // are not characters at all, as in UTF-8), whatever each decodes to alone.
  if (asciiIdentity && CodePageIsSingleByte(table.CodePage())) {
    std::string all, joined;
    TByteText high[128] = {};
    for (int b = 0x80; b < 0x100; ++b) {
      const char byte = static_cast<char>(b);
      std::string one;
      table.AppendTextFromTable(one, std::string_view(&byte, 1));
      all += byte;
      joined += one;
      if (one.size() > 3 || !ValidUtf8(one) || static_cast<unsigned char>(one[0]) < 0x80 || one == kReplacementUtf8)
        continue;
      high[b - 0x80].length = static_cast<uint8_t>(one.size());
      std::memcpy(high[b - 0x80].bytes, one.data(), one.size());
    }
    decoded.clear();
    table.AppendTextFromTable(decoded, all);
    if (decoded == joined) std::copy(high, high + 128, bytes_ + 0x80);
  }

  const std::vector<TField*>& fields = reader.Fields();
  const std::vector<TExportColumn>& exported = reader.Columns();
  const TDbfFieldDefs* defs = table.NativeFieldDefs();
  rowBound_ = 2 + kSlack;
  for (size_t i = 0; i < fields.size(); ++i) {
    const TField& field = *fields[i];
    TColumn c;
    const int no = field.FieldNo();
    if (defs && field.FieldKind() == fkData && no >= 1 && no <= defs->Count()) {
      const TDbfFieldDef& def = defs->Item(no - 1);
      c.offset = def.Offset();
      c.size = def.Size();
      c.decimals = def.Precision();
      c.bytes = c.size >= 16 ? 0xFFFFu : (1u << std::max(c.size, 0)) - 1;
      c.bytes64 = c.size >= 64 ? ~0ull : (1ull << std::max(c.size, 0)) - 1;
      const char letter = def.NativeFieldType();
      const bool numeric = letter == 'N' || letter == 'F';
      const bool inRecord = c.offset >= 0 && c.size > 0 && static_cast<size_t>(c.offset + c.size) <= recordLength_;
      // A field with a null flag is read the long way, which knows the flags.
      const bool plain = inRecord && def.NullPosition() < 0;
      const TFieldType type = field.DataType();
      if (exported[i].kind == TExportKind::Binary) {
        c.form = TForm::kEmpty;  // written as nothing, whatever it holds
      } else if (!plain) {
        c.form = TForm::kGeneral;
      } else if (type == ftString && letter == 'C' && def.Size() == field.Size() && asciiIdentity) {
        static constexpr TForm kByPieces[] = {TForm::kText, TForm::kText16, TForm::kText32, TForm::kText48,
                                              TForm::kText64};
        c.form = c.size <= 64 ? kByPieces[(c.size + 15) / 16] : TForm::kText;
      } else if ((type == ftInteger || type == ftSmallint || type == ftLargeint) && numeric) {
        c.form = TForm::kInteger;
      } else if (type == ftFloat && numeric && c.decimals > 0 && def.Precision() == field.Precision()) {
        c.form = TForm::kFixed;
      } else if (type == ftDate && letter == 'D' && c.size == 8) {
        c.form = TForm::kDate;
      } else if (type == ftBoolean && letter == 'L') {
        c.form = TForm::kLogical;
      }
    }
    useful_ = useful_ || (c.form != TForm::kGeneral && c.form != TForm::kEmpty);
    rowBound_ += 3 * static_cast<size_t>(c.size) + 16 + 16;
    columns_.push_back(c);
  }
  output_.resize(kFlushAt + rowBound_);
  record_.assign(recordLength_ + kSlack, 0);
  values_.resize(columns_.size());
}

// Text fields of at most 64 bytes (most are), as Text below writes them:
// the whole field is classified in one pass of 16-byte compares, and text
// without bytes to convert (most of it) is copied 16 bytes at a time.
template <int kPieces>
TCsvRecordRows::TResult TCsvRecordRows::ShortText(const TColumn& column, const uint8_t* p, char*& out) const {
  uint64_t spaces = 0, unusual = 0;
  for (int k = 0; k < kPieces; ++k) spaces |= static_cast<uint64_t>(masks::Equal(p + 16 * k, ' ')) << (16 * k);
  const uint64_t filled = ~spaces & column.bytes64;
  if (!filled) return TResult::kNull;
  const int end = 64 - std::countl_zero(filled);
  // Only the pieces the text reaches into are looked at again.
  for (int k = 0; k < kPieces && 16 * k < end; ++k)
    unusual |= static_cast<uint64_t>(
                   masks::Unusual(p + 16 * k, static_cast<uint8_t>(quote_), static_cast<uint8_t>(quote_)))
               << (16 * k);
  uint64_t events = unusual & (~0ull >> (64 - end));
  char* o = out;
  *o++ = quote_;
  if (!events) {
    for (int k = 0; k < kPieces; ++k) masks::Copy16(o + 16 * k, p + 16 * k);
    o += end;
  } else {
    int at = 0;
    while (events) {
      const int i = std::countr_zero(events);
      events &= events - 1;
      o = masks::CopyRun(o, p + at, static_cast<size_t>(i - at));
      const TByteText& text = bytes_[p[i]];
      if (!text.length) return TResult::kGeneral;
      std::memcpy(o, text.bytes, 4);
      o += text.length;
      at = i + 1;
    }
    o = masks::CopyRun(o, p + at, static_cast<size_t>(end - at));
  }
  *o++ = quote_;
  out = o;
  return TResult::kValue;
}

// Text as GetText gives it, blanks at the end cut, in quotes with the quotes
// inside doubled; kGeneral for control bytes (a NUL ends the text there, CR
// and LF are the general path's to judge) and bytes without a decoding here.
TCsvRecordRows::TResult TCsvRecordRows::Text(const TColumn& column, const uint8_t* p, char*& out) const {
  const int size = column.size;
  const int pieces = (size + 15) / 16;
  int end = 0;
  for (int k = pieces - 1; k >= 0; --k) {
    uint32_t filled = ~masks::Equal(p + 16 * k, ' ') & 0xFFFFu;
    if (k == pieces - 1 && size % 16) filled &= (1u << (size % 16)) - 1;
    if (filled) {
      end = 16 * k + 32 - std::countl_zero(filled);
      break;
    }
  }
  // A blank field reads as no value at all.
  if (end == 0) return TResult::kNull;
  char* o = out;
  *o++ = quote_;
  for (int from = 0; from < end; from += 16) {
    const int n = std::min(16, end - from);
    const uint32_t kept = n == 16 ? 0xFFFFu : (1u << n) - 1;
    uint32_t events = masks::Unusual(p + from, static_cast<uint8_t>(quote_), static_cast<uint8_t>(quote_)) & kept;
    // The runs between bytes that are not copied as they stand are shorter
    // than 16 bytes here, so each is one store.
    int at = from;
    while (events) {
      const int i = from + std::countr_zero(events);
      events &= events - 1;
      masks::Copy16(o, p + at);
      o += i - at;
      const TByteText& text = bytes_[p[i]];
      if (!text.length) return TResult::kGeneral;
      std::memcpy(o, text.bytes, 4);
      o += text.length;
      at = i + 1;
    }
    masks::Copy16(o, p + at);
    o += from + n - at;
  }
  *o++ = quote_;
  out = o;
  return TResult::kValue;
}

// Each form writes exactly what the general path writes for the shapes it
// takes, and kGeneral (having written nothing) for every other one.
[[gnu::always_inline]] inline TCsvRecordRows::TResult TCsvRecordRows::Value(const TColumn& column, const uint8_t* image, char*& out) const {
  const uint8_t* p = image + column.offset;
  const std::string_view stored(reinterpret_cast<const char*>(p), static_cast<size_t>(column.size));
  switch (column.form) {
    case TForm::kGeneral:
      return TResult::kGeneral;
    case TForm::kEmpty:
      return TResult::kNull;
    case TForm::kText16: return ShortText<1>(column, p, out);
    case TForm::kText32: return ShortText<2>(column, p, out);
    case TForm::kText48: return ShortText<3>(column, p, out);
    case TForm::kText64: return ShortText<4>(column, p, out);
    case TForm::kText: return Text(column, p, out);
    case TForm::kInteger:
    case TForm::kFixed: {
      const int decimals = column.form == TForm::kFixed ? column.decimals : 0;
      char* end;
      if (column.size <= 16) {
        bool blank;
        end = ShortNumber(p, column.bytes, decimals, out, &blank);
        if (blank) return TResult::kNull;
      } else {
        if (Blank(p, column.size)) return TResult::kNull;
        end = decimals ? TRecordView::PutCanonicalFixed(stored, decimals, out)
                       : TRecordView::PutCanonicalInteger(stored, out);
      }
      if (!end) return TResult::kGeneral;
      out = end;
      return TResult::kValue;
    }
    case TForm::kDate: {
      if (Blank(p, column.size)) return TResult::kNull;
      // The canonical form checks the date; the text is rearranged from the
      // stored YYYYMMDD (bytes of a little-endian word) as "DD/MM/YYYY".
      char iso[16];
      if (!TRecordView::PutCanonicalDate(stored, iso)) return TResult::kGeneral;
      uint64_t ymd;
      std::memcpy(&ymd, p, 8);
      const uint64_t q = static_cast<uint8_t>(quote_);
      const uint64_t head = q | (((ymd >> 48) & 0xFFFF) << 8) | (uint64_t{'/'} << 24) | (((ymd >> 32) & 0xFFFF) << 32) |
                            (uint64_t{'/'} << 48) | ((ymd & 0xFF) << 56);
      const uint32_t tail = static_cast<uint32_t>((ymd >> 8) & 0xFFFFFF) | static_cast<uint32_t>(q << 24);
      std::memcpy(out, &head, 8);
      std::memcpy(out + 8, &tail, 4);
      out += 12;
      return TResult::kValue;
    }
    case TForm::kLogical: {
      int begin = 0, end = column.size;
      while (end > 0 && p[end - 1] == ' ') --end;
      while (begin < end && p[begin] == ' ') ++begin;
      // NUL padding and the other odd shapes: the codec's rules.
      if (begin == end || p[begin] == 0) return TResult::kGeneral;
      const int value = LogicalValue(static_cast<char>(p[begin]));
      if (value < 0) return TResult::kNull;
      char* o = out;
      *o++ = quote_;
      std::memcpy(o, value ? "True" : "False", 5);
      o += value ? 4 : 5;
      *o++ = quote_;
      out = o;
      return TResult::kValue;
    }
  }
  return TResult::kGeneral;
}

void TCsvRecordRows::FlushOutput() {
  if (used_) writer_.PutFormatted(output_.data(), used_);
  used_ = 0;
}

void TCsvRecordRows::WriteRow(const uint8_t* image, const std::function<void(size_t, TExportValue&)>& general) {
  char* out = output_.data() + used_;
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (Value(columns_[i], image, out) == TResult::kGeneral) {
      // What is made so far goes first, then the general path's value.
      used_ = static_cast<size_t>(out - output_.data());
      FlushOutput();
      general(i, values_[i]);
      writer_.PutValue(i, values_[i]);
      out = output_.data();
    }
    // A separator after every value; the last becomes the line's end.
    *out++ = separator_;
  }
  if (!columns_.empty()) --out;
  *out++ = '\r';
  *out++ = '\n';
  used_ = static_cast<size_t>(out - output_.data());
  if (used_ >= kFlushAt) FlushOutput();
}

bool TCsvRecordRows::WalksTheFile() const {
  return table_.IndexCursor() == nullptr && table_.IndexName().empty() && !table_.Filtered() &&
         !table_.OnFilterRecord && table_.MasterSource() == nullptr && table_.DbfFile() != nullptr;
}

int64_t TCsvRecordRows::WriteAll(const std::function<void(int64_t rows)>& progress) {
  const int64_t rows = WalksTheFile() ? WriteFromFile(progress) : WriteFromWalk(progress);
  FlushOutput();
  if (progress) progress(rows);
  return rows;
}

// The walk in record order, read from the file in blocks: the table object
// would spend more time moving from record to record than this takes to
// write them. A value the fast forms do not take is read through the table
// object placed on its record.
int64_t TCsvRecordRows::WriteFromFile(const std::function<void(int64_t rows)>& progress) {
  // As the walk would: an edit in progress is settled first.
  table_.First();
  TDbfFile& file = *table_.DbfFile();
  const bool showDeleted = table_.ShowDeleted();
  const int64_t length = static_cast<int64_t>(std::max<size_t>(recordLength_, 1));
  const int64_t perBlock = std::max<int64_t>(kBlockBytes / length, 1);
  std::vector<uint8_t> block(static_cast<size_t>(perBlock * length) + kSlack);
  int64_t rows = 0;
  int64_t recNo = 0;
  const auto general = [&](size_t i, TExportValue& value) {
    if (table_.RecNo() != recNo) table_.SetRecNo(static_cast<int>(recNo));
    if (table_.RecNo() != recNo)
      throw EExportError("Record " + std::to_string(recNo) + " could not be read for the export.");
    reader_.ReadValue(i, value);
  };
  const auto write = [&](const uint8_t* image) {
    if (!showDeleted && TRecordView(image, recordLength_).Deleted()) return;
    WriteRow(image, general);
    if (++rows % kProgressEvery == 0 && progress) progress(rows);
  };
  // The records the file holds, as the table object's walk finds them: whole
  // ones in blocks, and one at a time where a block comes up short (a last
  // record cut short by the end of the file reads as blanks beyond it).
  // The records there are as the export starts: asking the file system for
  // the size before every block would cost more than it could find.
  const int64_t inFile = file.RecordsInFile();
  for (int64_t first = 1;; first += perBlock) {
    if (first > inFile) break;
    const int64_t want = std::min(perBlock, inFile - first + 1);
    const int64_t got = file.ReadRecords(first, want, block.data());
    for (int64_t k = 0; k < got; ++k) {
      recNo = first + k;
      write(block.data() + k * length);
    }
    if (got == want) continue;
    for (recNo = first + std::max<int64_t>(got, 0); recNo < first + want; ++recNo) {
      if (!file.ReadRecord(recNo, record_.data())) break;
      write(record_.data());
    }
    break;
  }
  return rows;
}

// Any other walk goes through the table object, its order and filter; the
// current record's image is formatted where the forms allow it.
int64_t TCsvRecordRows::WriteFromWalk(const std::function<void(int64_t rows)>& progress) {
  const auto general = [&](size_t i, TExportValue& value) { reader_.ReadValue(i, value); };
  int64_t rows = 0;
  for (table_.First(); !table_.Eof(); table_.Next()) {
    const uint8_t* buffer = table_.ActiveBuffer();
    if (!buffer) break;
    std::memcpy(record_.data(), buffer + TDbfTable::kHeaderSize, recordLength_);
    WriteRow(record_.data(), general);
    if (++rows % kProgressEvery == 0 && progress) progress(rows);
  }
  return rows;
}

}  // namespace norvale
