#include "app/export/wks_writer.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "engine/byte_order.h"
#include "engine/date_time.h"
#include "platform/text_services.h"

namespace norvale {

namespace {

constexpr uint16_t kRecBof = 0x0000;
constexpr uint16_t kRecEof = 0x0001;
constexpr uint16_t kRecRange = 0x0006;
constexpr uint16_t kRecColumnWidth = 0x0008;
constexpr uint16_t kRecInteger = 0x000D;
constexpr uint16_t kRecNumber = 0x000E;
constexpr uint16_t kRecLabel = 0x000F;

constexpr uint16_t kVersion1A = 0x0404;
// Where RANGE's body is: after BOF's four-byte header and two-byte body,
// and RANGE's own header.
constexpr long kRangeBodyAt = 10;

// Cell format bytes: bit 7 protection (on, as 1-2-3 has every cell until
// told otherwise; it matters only once the sheet is protected), bits 4-6
// the kind, bits 0-3 decimals or the special format.
constexpr uint8_t kFormatComma = 0x80 | 0x40;      // "1,234.50"
constexpr uint8_t kFormatDate = 0x80 | 0x70 | 2;   // day-month-year
constexpr uint8_t kFormatTime = 0x80 | 0x70 | 11;  // hours:minutes:seconds
constexpr uint8_t kFormatDefault = 0x80 | 0x70 | 15;
constexpr int kMaxDecimals = 15;

// INTEGER cells hold -32767 to 32767.
constexpr double kIntegerLimit = 32767;

// 1-2-3 counts days as Excel does, 29 February 1900 included, and knows
// the years up to 2099.
constexpr int64_t kFirstSerial = 61;    // 1900-03-01
constexpr int64_t kLastSerial = 73050;  // 2099-12-31

int64_t DateSerial(const TExportValue& v) {
  const int64_t serial = ExportDaySerial(v);
  return serial >= kFirstSerial && serial <= kLastSerial ? serial : -1;
}

std::string CountText(int64_t n) { return ExportGroupedNumber(std::to_string(n)); }

void Header(uint8_t* p, uint16_t type, uint16_t length) {
  PutLE16(p, type);
  PutLE16(p + 2, length);
}

}  // namespace

TWksWriter::TWksWriter(const std::string& path, const TExportSettings& settings) : path_(path), settings_(settings) {}

TWksWriter::~TWksWriter() = default;

void TWksWriter::Fail() const { throw EExportError("Cannot write \"" + path_ + "\": " + std::strerror(errno) + "."); }

void TWksWriter::Put(const void* data, size_t count) {
  if (std::fwrite(data, 1, count, file_.get()) != count) Fail();
}

void TWksWriter::Begin(const std::vector<TExportColumn>& columns) {
  if (columns.size() > static_cast<size_t>(kMaxColumns))
    throw EExportError("WKS holds at most 256 columns; this export has " + std::to_string(columns.size()) + ".");
  columns_ = columns;
  columnFormat_.clear();
  for (const TExportColumn& column : columns_) {
    uint8_t format = kFormatDefault;
    if (column.kind == TExportKind::Integer)
      format = kFormatComma;
    else if (column.kind == TExportKind::Number)
      format = static_cast<uint8_t>(kFormatComma | std::clamp(column.decimals, 0, kMaxDecimals));
    else if (column.kind == TExportKind::Date)
      format = kFormatDate;
    else if (column.kind == TExportKind::Time)
      format = kFormatTime;
    columnFormat_.push_back(format);
  }

  file_.reset(std::fopen(path_.c_str(), "wb"));
  if (!file_) throw EExportError("Cannot create \"" + path_ + "\": " + std::strerror(errno) + ".");
  std::setvbuf(file_.get(), nullptr, _IOFBF, 1 << 20);

  uint8_t bof[6];
  Header(bof, kRecBof, 2);
  PutLE16(bof + 4, kVersion1A);
  Put(bof, sizeof bof);
  uint8_t range[12] = {};
  Header(range, kRecRange, 8);  // the body is filled in by Finish
  Put(range, sizeof range);
  for (size_t c = 0; c < columns_.size(); ++c) {
    const int pixels = columns_[c].widthPixels;
    if (pixels <= 0) continue;
    // Widths count characters of the screen font, about 7 pixels each
    // after the cell's margin.
    const long characters = std::clamp(std::lround((pixels - 5) / 7.0), 1L, 240L);
    uint8_t width[7];
    Header(width, kRecColumnWidth, 3);
    PutLE16(width + 4, static_cast<uint16_t>(c));
    width[6] = static_cast<uint8_t>(characters);
    Put(width, sizeof width);
  }
  if (settings_.titleLine) {
    for (size_t c = 0; c < columns_.size(); ++c) WriteLabel(static_cast<int>(c), columns_[c].name);
    ++rows_;
  }
}

void TWksWriter::Row(const TExportRow& row) {
  if (!file_) throw EExportError("The WKS export was not begun.");
  if (rows_ >= kMaxRows)
    throw EExportError(std::string("WKS holds at most 8,192 rows") +
                       (settings_.titleLine ? ", the line of column names included" : "") +
                       "; this export has more. Export fewer records, or choose XLS or another format.");
  const size_t count = std::min(row.size(), columns_.size());
  for (size_t c = 0; c < count; ++c)
    if (!row[c].null) WriteCell(static_cast<int>(c), columns_[c], row[c]);
  ++rows_;
}

void TWksWriter::WriteCell(int col, const TExportColumn& column, const TExportValue& v) {
  const uint8_t format = columnFormat_[static_cast<size_t>(col)];
  switch (column.kind) {
    case TExportKind::Text:
    case TExportKind::Memo:
      WriteLabel(col, v.text);
      return;
    case TExportKind::Binary:
      return;
    case TExportKind::Logical:
      WriteLabel(col, ExportLogicalText(v));
      return;
    case TExportKind::Integer: {
      double value = 0;
      if (ExportExactDouble(v.integer, value)) {
        WriteNumber(col, format, value);
      } else {
        ++textNumbers_;
        WriteLabel(col, v.text);
      }
      return;
    }
    case TExportKind::Number:
      if (std::isfinite(v.number)) {
        WriteNumber(col, format, v.number);
      } else {
        ++textNumbers_;
        WriteLabel(col, v.text);
      }
      return;
    case TExportKind::Date: {
      const int64_t serial = DateSerial(v);
      if (serial < 0) {
        ++textDates_;
        WriteLabel(col, ExportDateText(v));
      } else {
        WriteNumber(col, format, static_cast<double>(serial));
      }
      return;
    }
    case TExportKind::DateTime:
      // No release 1A format shows a date with its time, and LibreOffice
      // rounds a number under a date format to the nearest day: the text
      // is the one form every reader shows whole.
      WriteLabel(col, ExportDateTimeText(v));
      return;
    case TExportKind::Time:
      WriteNumber(col, format, ExportDayFraction(v));
      return;
  }
}

void TWksWriter::WriteNumber(int col, uint8_t format, double value) {
  uint8_t record[17];
  record[4] = format;
  PutLE16(record + 5, static_cast<uint16_t>(col));
  PutLE16(record + 7, static_cast<uint16_t>(rows_));
  if (value == std::floor(value) && std::fabs(value) <= kIntegerLimit && !(value == 0 && std::signbit(value))) {
    Header(record, kRecInteger, 7);
    PutLE16(record + 9, static_cast<uint16_t>(static_cast<int16_t>(value)));
    Put(record, 11);
  } else {
    Header(record, kRecNumber, 13);
    PutLE64(record + 9, DoubleToBits(value));
    Put(record, 17);
  }
}

void TWksWriter::WriteLabel(int col, const std::string& utf8) {
  if (utf8.empty()) return;
  // A label is one line (LibreOffice drops the breaks outright), so each
  // break, CR LF or a lone CR or LF, becomes a blank.
  std::string text;
  text.reserve(utf8.size());
  bool broken = false;
  for (size_t i = 0; i < utf8.size(); ++i) {
    if (utf8[i] == '\r' || utf8[i] == '\n') {
      if (utf8[i] == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n') ++i;
      text += ' ';
      broken = true;
    } else {
      text += utf8[i];
    }
  }
  if (broken) ++brokenLabels_;

  // The page has one byte for every character, so the label's room is a
  // count of characters; cutting first leaves out of the count below
  // characters that would not have been written anyway.
  const size_t room = kMaxLabelBytes - 1;  // the prefix takes one
  size_t characters = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (characters++ == room) {
      text.resize(i);
      ++cutLabels_;
      break;
    }
  }
  std::string bytes;
  Utf8ToCodePage(kCodePage, text, bytes);
  if (bytes.size() > room) bytes.resize(room);  // only malformed UTF-8 gets here
  // The conversion writes '?' for what the page lacks; more of them than
  // the text had means something was lost. A NUL would end the label early.
  bool lossy = std::count(bytes.begin(), bytes.end(), '?') > std::count(text.begin(), text.end(), '?');
  for (char& b : bytes)
    if (b == '\0') b = '?', lossy = true;
  if (lossy) ++lossyLabels_;

  std::vector<uint8_t> record(4 + 5 + 1 + bytes.size() + 1);
  Header(record.data(), kRecLabel, static_cast<uint16_t>(record.size() - 4));
  record[4] = kFormatDefault;
  PutLE16(&record[5], static_cast<uint16_t>(col));
  PutLE16(&record[7], static_cast<uint16_t>(rows_));
  record[9] = '\'';  // left-aligned
  std::memcpy(&record[10], bytes.data(), bytes.size());
  record.back() = 0;
  Put(record.data(), record.size());
}

void TWksWriter::Finish() {
  if (!file_) throw EExportError("The WKS export was not begun.");
  uint8_t eof[4];
  Header(eof, kRecEof, 0);
  Put(eof, sizeof eof);

  uint8_t range[8];
  const bool empty = rows_ == 0 || columns_.empty();
  // An empty sheet's range starts at column -1.
  PutLE16(range, empty ? 0xFFFF : 0);
  PutLE16(range + 2, 0);
  PutLE16(range + 4, static_cast<uint16_t>(empty ? 0 : columns_.size() - 1));
  PutLE16(range + 6, static_cast<uint16_t>(empty ? 0 : rows_ - 1));
  if (std::fseek(file_.get(), kRangeBodyAt, SEEK_SET) != 0) Fail();
  Put(range, sizeof range);
  std::FILE* f = file_.release();
  if (std::fflush(f) != 0 || std::ferror(f)) {
    const int error = errno;
    std::fclose(f);
    errno = error;
    Fail();
  }
  if (std::fclose(f) != 0) Fail();

  if (lossyLabels_ > 0)
    warnings_.push_back(CountText(lossyLabels_) + (lossyLabels_ == 1 ? " value has" : " values have") +
                        " characters that WKS text (code page 850, DOS Western European) lacks; they were written "
                        "as \"?\".");
  if (brokenLabels_ > 0)
    warnings_.push_back(CountText(brokenLabels_) + (brokenLabels_ == 1 ? " text had" : " texts had") +
                        " line breaks, written as blanks: a WKS label is a single line.");
  if (cutLabels_ > 0)
    warnings_.push_back(CountText(cutLabels_) + (cutLabels_ == 1 ? " text was" : " texts were") +
                        " longer than the 240 bytes a WKS label holds and " + (cutLabels_ == 1 ? "was" : "were") +
                        " cut there.");
  if (textDates_ > 0)
    warnings_.push_back(CountText(textDates_) + (textDates_ == 1 ? " date was" : " dates were") +
                        " written as text, being outside the days 1-2-3 counts (1 March 1900 to 31 December 2099) "
                        "or not a day of the calendar.");
  if (textNumbers_ > 0)
    warnings_.push_back(CountText(textNumbers_) + (textNumbers_ == 1 ? " number was" : " numbers were") +
                        " written as text, as a spreadsheet number cannot hold " + (textNumbers_ == 1 ? "it" : "them") +
                        " to the last digit.");
}

}  // namespace norvale
