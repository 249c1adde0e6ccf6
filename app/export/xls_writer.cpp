#include "app/export/xls_writer.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "engine/byte_order.h"
#include "engine/date_time.h"

namespace norvale {

namespace {

constexpr uint16_t kRecBof = 0x0809;
constexpr uint16_t kRecEof = 0x000A;
constexpr uint16_t kRecCodePage = 0x0042;
constexpr uint16_t kRecWindow1 = 0x003D;
constexpr uint16_t kRecDateMode = 0x0022;
constexpr uint16_t kRecFont = 0x0031;
constexpr uint16_t kRecFormat = 0x041E;
constexpr uint16_t kRecXf = 0x00E0;
constexpr uint16_t kRecStyle = 0x0293;
constexpr uint16_t kRecBoundSheet = 0x0085;
constexpr uint16_t kRecSst = 0x00FC;
constexpr uint16_t kRecContinue = 0x003C;
constexpr uint16_t kRecExtSst = 0x00FF;
constexpr uint16_t kRecDefColWidth = 0x0055;
constexpr uint16_t kRecColInfo = 0x007D;
constexpr uint16_t kRecDimensions = 0x0200;
constexpr uint16_t kRecWindow2 = 0x023E;
constexpr uint16_t kRecNumber = 0x0203;
constexpr uint16_t kRecRk = 0x027E;
constexpr uint16_t kRecLabelSst = 0x00FD;
constexpr uint16_t kRecBoolErr = 0x0205;

// Longest record body; what goes past it continues in CONTINUE records.
constexpr size_t kMaxRecordData = 8224;

// Cell formats. 0-14 are the style XFs every workbook carries, 15 the
// default cell format; ours follow.
constexpr uint16_t kXfGeneral = 15;
constexpr uint16_t kXfTitle = 16;
constexpr uint16_t kXfDate = 17;
constexpr uint16_t kXfDateTime = 18;
constexpr uint16_t kXfTime = 19;
constexpr uint16_t kXfFirstNumber = 20;
constexpr uint16_t kFormatDate = 164;  // the first number-format index free for a workbook's own
constexpr uint16_t kFormatDateTime = 165;
constexpr uint16_t kFormatTime = 166;
constexpr uint16_t kFormatFirstNumber = 167;
constexpr int kMaxFormatDecimals = 30;  // what Excel's format strings allow
constexpr uint16_t kFontBold = 5;       // font index 4 does not exist in BIFF

// Excel counts days from 30 December 1899 but believes in 29 February 1900:
// serials from 1 March 1900 on mean the same day to every reader.
constexpr int kFirstSerial = 61;      // 1900-03-01
constexpr int kLastSerial = 2958465;  // 9999-12-31

// The version 3 compound file holds streams of at most 2 GB.
constexpr uint64_t kMaxStreamSize = 0x80000000ull;

constexpr uint32_t kSectorSize = 512;
constexpr uint32_t kFreeSect = 0xFFFFFFFF;
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kFatSect = 0xFFFFFFFD;
constexpr uint32_t kDifSect = 0xFFFFFFFC;
constexpr uint32_t kNoStream = 0xFFFFFFFF;
constexpr uint32_t kHeaderDifatEntries = 109;
constexpr uint32_t kEntriesPerSector = kSectorSize / 4;
constexpr uint32_t kMiniStreamCutoff = 4096;

// Shared strings: a short text is looked up so that repeats share one
// entry, until the look-up holds this many bytes; longer texts (memos) are
// rarely repeated and are never looked up.
constexpr size_t kSharedLookupBudget = 32u << 20;
constexpr size_t kSharedLookupMaxLength = 255;
// EXTSST lists at most this many buckets of strings.
constexpr size_t kMaxExtSstBuckets = 128;

void AddU8(std::vector<uint8_t>& out, uint8_t v) { out.push_back(v); }
void AddU16(std::vector<uint8_t>& out, uint16_t v) {
  uint8_t b[2];
  PutLE16(b, v);
  out.insert(out.end(), b, b + 2);
}
void AddU32(std::vector<uint8_t>& out, uint32_t v) {
  uint8_t b[4];
  PutLE32(b, v);
  out.insert(out.end(), b, b + 4);
}
void AddZeros(std::vector<uint8_t>& out, size_t count) { out.insert(out.end(), count, 0); }

void AddRecord(std::vector<uint8_t>& out, uint16_t type, const std::vector<uint8_t>& body) {
  AddU16(out, type);
  AddU16(out, static_cast<uint16_t>(body.size()));
  out.insert(out.end(), body.begin(), body.end());
}

bool FitsLatin1(std::u16string_view text) {
  return std::all_of(text.begin(), text.end(), [](char16_t c) { return c <= 0xFF; });
}

// The characters of a string, one byte each when all fit Latin-1 (the
// "compressed" form), else UTF-16; `high` says which.
void AddChars(std::vector<uint8_t>& out, std::u16string_view text, bool high) {
  for (char16_t c : text) {
    if (high)
      AddU16(out, static_cast<uint16_t>(c));
    else
      AddU8(out, static_cast<uint8_t>(c));
  }
}

// A string with a two-byte length (FORMAT records).
void AddLongString(std::vector<uint8_t>& out, std::u16string_view text) {
  const bool high = !FitsLatin1(text);
  AddU16(out, static_cast<uint16_t>(text.size()));
  AddU8(out, high ? 1 : 0);
  AddChars(out, text, high);
}

// A string with a one-byte length (fonts, sheet names).
void AddShortString(std::vector<uint8_t>& out, std::u16string_view text) {
  const bool high = !FitsLatin1(text);
  AddU8(out, static_cast<uint8_t>(text.size()));
  AddU8(out, high ? 1 : 0);
  AddChars(out, text, high);
}

std::u16string Ascii16(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// UTF-16 of UTF-8 text. Line breaks become the lone LF a cell keeps for a
// break (CR LF would show a stray character in Excel); a byte that is not
// part of a UTF-8 sequence becomes U+FFFD.
std::u16string ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  const size_t n = utf8.size();
  size_t i = 0;
  while (i < n) {
    const auto b = static_cast<uint8_t>(utf8[i]);
    if (b < 0x80) {
      if (!(b == '\r' && i + 1 < n && utf8[i + 1] == '\n')) out += static_cast<char16_t>(b);
      ++i;
      continue;
    }
    size_t length = 0;
    uint32_t cp = 0, least = 0;
    if ((b & 0xE0) == 0xC0) {
      length = 2, cp = b & 0x1F, least = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      length = 3, cp = b & 0x0F, least = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      length = 4, cp = b & 0x07, least = 0x10000;
    }
    bool valid = length > 0 && i + length <= n;
    for (size_t k = 1; valid && k < length; ++k) {
      const auto c = static_cast<uint8_t>(utf8[i + k]);
      valid = (c & 0xC0) == 0x80;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (!valid || cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i += length;
  }
  return out;
}

// Cuts to at most `limit` UTF-16 units without splitting a surrogate pair.
void CutUtf16(std::u16string& text, size_t limit) {
  if (text.size() <= limit) return;
  size_t cut = limit;
  if (cut > 0 && text[cut - 1] >= 0xD800 && text[cut - 1] <= 0xDBFF) --cut;
  text.resize(cut);
}

// The 30-bit RK form of a number when it holds the value exactly: a whole
// number, the top of the double with the low 34 bits zero, or either of
// those divided by 100.
bool EncodeRk(double value, uint32_t& rk) {
  constexpr double kLeast = -536870912.0, kMost = 536870911.0;  // 30-bit signed
  if (value == std::floor(value) && value >= kLeast && value <= kMost && !(value == 0 && std::signbit(value))) {
    rk = (static_cast<uint32_t>(static_cast<int32_t>(value)) << 2) | 2u;
    return true;
  }
  const uint64_t bits = DoubleToBits(value);
  if ((bits & 0x3FFFFFFFFull) == 0) {
    rk = static_cast<uint32_t>(bits >> 32);
    return true;
  }
  const double hundred = value * 100;
  if (hundred == std::floor(hundred) && hundred >= kLeast && hundred <= kMost) {
    const auto whole = static_cast<int32_t>(hundred);
    if (static_cast<double>(whole) / 100 == value) {
      rk = (static_cast<uint32_t>(whole) << 2) | 3u;
      return true;
    }
  }
  return false;
}

// The day serial of a date readers agree on, or -1.
int64_t DateSerial(const TExportValue& v) {
  const int64_t serial = ExportDaySerial(v);
  return serial >= kFirstSerial && serial <= kLastSerial ? serial : -1;
}

std::string SystemReason() { return std::strerror(errno); }

std::string CountText(int64_t n) { return ExportGroupedNumber(std::to_string(n)); }

// The output, written front to back through a large buffer.
class TOutput {
 public:
  explicit TOutput(const std::string& path) : path_(path) {
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) throw EExportError("Cannot create \"" + path + "\": " + SystemReason() + ".");
    std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
  }
  ~TOutput() {
    if (file_) std::fclose(file_);
  }
  TOutput(const TOutput&) = delete;
  TOutput& operator=(const TOutput&) = delete;

  void Write(const void* data, size_t count) {
    if (count > 0 && std::fwrite(data, 1, count, file_) != count) Fail();
  }
  void Write(const std::vector<uint8_t>& bytes) { Write(bytes.data(), bytes.size()); }
  void Zeros(size_t count) {
    static const uint8_t kZeros[kSectorSize] = {};
    while (count > 0) {
      const size_t n = std::min<size_t>(count, sizeof kZeros);
      Write(kZeros, n);
      count -= n;
    }
  }
  void Close() {
    std::FILE* f = file_;
    file_ = nullptr;
    if (std::fflush(f) != 0 || std::ferror(f)) {
      const std::string reason = SystemReason();
      std::fclose(f);
      throw EExportError("Cannot write \"" + path_ + "\": " + reason + ".");
    }
    if (std::fclose(f) != 0) Fail();
  }

 private:
  [[noreturn]] void Fail() { throw EExportError("Cannot write \"" + path_ + "\": " + SystemReason() + "."); }

  std::string path_;
  std::FILE* file_ = nullptr;
};

}  // namespace

// A scratch file beside the output. It is unlinked as soon as it is open,
// so nothing is left behind however the export ends.
class TXlsWriter::TSpillFile {
 public:
  explicit TSpillFile(const std::string& near) : near_(near) {
    std::string pattern = near + ".XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) Fail();
    ::unlink(pattern.c_str());
    file_ = ::fdopen(fd, "w+b");
    if (!file_) {
      ::close(fd);
      Fail();
    }
    std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
  }
  ~TSpillFile() { std::fclose(file_); }
  TSpillFile(const TSpillFile&) = delete;
  TSpillFile& operator=(const TSpillFile&) = delete;

  uint64_t Size() const { return size_; }
  void Append(const void* data, size_t count) {
    if (count > 0 && std::fwrite(data, 1, count, file_) != count) Fail();
    size_ += count;
  }
  void Append(const std::vector<uint8_t>& bytes) { Append(bytes.data(), bytes.size()); }
  // Overwrites bytes written before (a count known only later).
  void Patch(uint64_t offset, const void* data, size_t count) {
    if (std::fseek(file_, static_cast<long>(offset), SEEK_SET) != 0 || std::fwrite(data, 1, count, file_) != count ||
        std::fseek(file_, 0, SEEK_END) != 0)
      Fail();
  }
  void CopyTo(TOutput& out) {
    if (std::fflush(file_) != 0 || std::fseek(file_, 0, SEEK_SET) != 0) Fail();
    std::vector<uint8_t> buffer(1 << 20);
    uint64_t left = size_;
    while (left > 0) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(left, buffer.size()));
      if (std::fread(buffer.data(), 1, n, file_) != n) Fail();
      out.Write(buffer.data(), n);
      left -= n;
    }
  }

 private:
  [[noreturn]] void Fail() {
    throw EExportError("Cannot write a temporary file beside \"" + near_ + "\": " + SystemReason() + ".");
  }

  std::string near_;
  std::FILE* file_ = nullptr;
  uint64_t size_ = 0;
};

// The shared-string table (SST) as it grows: its records go to a spill
// file, a string that does not fit a record going on in a CONTINUE record.
class TXlsWriter::TSharedStrings {
 public:
  explicit TSharedStrings(const std::string& near) : file_(near) {
    AddZeros(record_, 8);  // the two counts, patched by Close
  }

  uint32_t Index(const std::u16string& text) {
    ++uses_;
    const bool lookUp = text.size() <= kSharedLookupMaxLength;
    if (lookUp) {
      auto found = known_.find(text);
      if (found != known_.end()) return found->second;
    }
    const uint32_t index = count_;
    Add(text);
    if (lookUp && lookupBytes_ < kSharedLookupBudget) {
      known_.emplace(text, index);
      lookupBytes_ += text.size() * 2 + 32;
    }
    return index;
  }

  uint64_t Size() const { return file_.Size() + (closed_ ? 0 : 4 + record_.size()); }

  void Close() {
    EndRecord();
    uint8_t counts[8];
    PutLE32(counts, uses_);
    PutLE32(counts + 4, count_);
    file_.Patch(4, counts, sizeof counts);
    closed_ = true;
  }

  void CopyTo(TOutput& out) { file_.CopyTo(out); }

  // The EXTSST record, for a table that starts at `streamOffset`.
  std::vector<uint8_t> ExtSst(uint64_t streamOffset) const {
    std::vector<uint8_t> body;
    AddU16(body, static_cast<uint16_t>(perBucket_));
    for (const TBucket& bucket : buckets_) {
      AddU32(body, static_cast<uint32_t>(streamOffset + bucket.position));
      AddU16(body, bucket.inRecord);
      AddU16(body, 0);
    }
    std::vector<uint8_t> record;
    AddRecord(record, kRecExtSst, body);
    return record;
  }

 private:
  struct TBucket {
    uint64_t position;  // of the bucket's first string, from the table's start
    uint16_t inRecord;  // the same from its record's header
  };

  void Add(const std::u16string& text) {
    const bool high = !FitsLatin1(text);
    const size_t charSize = high ? 2 : 1;
    // A string's header is never split, and its first character goes with it.
    if (record_.size() + 3 + charSize > kMaxRecordData) EndRecord();
    if (count_ % perBucket_ == 0) {
      buckets_.push_back({file_.Size() + 4 + record_.size(), static_cast<uint16_t>(4 + record_.size())});
      if (buckets_.size() > kMaxExtSstBuckets) {
        // Twice the strings per bucket: every other bucket start stays one.
        perBucket_ *= 2;
        size_t kept = 0;
        for (size_t i = 0; i < buckets_.size(); i += 2) buckets_[kept++] = buckets_[i];
        buckets_.resize(kept);
      }
    }
    ++count_;
    AddU16(record_, static_cast<uint16_t>(text.size()));
    AddU8(record_, high ? 1 : 0);
    size_t done = 0;
    while (true) {
      const size_t room = (kMaxRecordData - record_.size()) / charSize;
      const size_t n = std::min(room, text.size() - done);
      AddChars(record_, std::u16string_view(text).substr(done, n), high);
      done += n;
      if (done == text.size()) break;
      // The rest continues after a fresh option byte; a character is never split.
      EndRecord();
      AddU8(record_, high ? 1 : 0);
    }
  }

  void EndRecord() {
    if (record_.empty() && !first_) return;
    uint8_t header[4];
    PutLE16(header, first_ ? kRecSst : kRecContinue);
    PutLE16(header + 2, static_cast<uint16_t>(record_.size()));
    file_.Append(header, 4);
    file_.Append(record_);
    record_.clear();
    first_ = false;
  }

  TSpillFile file_;
  std::vector<uint8_t> record_;
  bool first_ = true;
  bool closed_ = false;
  uint32_t uses_ = 0;
  uint32_t count_ = 0;
  std::unordered_map<std::u16string, uint32_t> known_;
  size_t lookupBytes_ = 0;
  std::vector<TBucket> buckets_;
  uint32_t perBucket_ = 8;
};

TXlsWriter::TXlsWriter(const std::string& path, const TExportSettings& settings) : path_(path), settings_(settings) {}

TXlsWriter::~TXlsWriter() = default;

void TXlsWriter::Begin(const std::vector<TExportColumn>& columns) {
  if (columns.size() > static_cast<size_t>(kMaxColumns))
    throw EExportError("XLS holds at most 256 columns; this export has " + std::to_string(columns.size()) + ".");
  columns_ = columns;
  columnXf_.clear();
  numberDecimals_.clear();
  for (const TExportColumn& column : columns_) {
    uint16_t xf = kXfGeneral;
    switch (column.kind) {
      case TExportKind::Integer:
      case TExportKind::Number: {
        const int decimals =
            column.kind == TExportKind::Integer ? 0 : std::clamp(column.decimals, 0, kMaxFormatDecimals);
        auto found = std::find(numberDecimals_.begin(), numberDecimals_.end(), decimals);
        if (found == numberDecimals_.end()) found = numberDecimals_.insert(numberDecimals_.end(), decimals);
        xf = static_cast<uint16_t>(kXfFirstNumber + (found - numberDecimals_.begin()));
        break;
      }
      case TExportKind::Date:
        xf = kXfDate;
        break;
      case TExportKind::DateTime:
        xf = kXfDateTime;
        break;
      case TExportKind::Time:
        xf = kXfTime;
        break;
      default:
        break;
    }
    columnXf_.push_back(xf);
  }
  // Both scratch files go beside the output: the same disk, and a folder
  // the person can write to.
  cells_ = std::make_unique<TSpillFile>(path_);
  strings_ = std::make_unique<TSharedStrings>(path_);
  begun_ = true;
  StartSheet();
}

std::u16string TXlsWriter::SheetName(int number) const {
  // Excel refuses these characters in sheet names, and an apostrophe at
  // either end.
  std::u16string title = ToUtf16(settings_.title);
  for (char16_t& c : title)
    if (c < 0x20 || std::u16string_view(u"[]:*?/\\").find(c) != std::u16string_view::npos) c = u'_';
  const bool blank = std::all_of(title.begin(), title.end(), [](char16_t c) { return c == u' '; });
  if (blank) return Ascii16("Sheet" + std::to_string(number));
  if (title.front() == u'\'') title.front() = u'_';
  const std::u16string suffix = number > 1 ? Ascii16(" (" + std::to_string(number) + ")") : std::u16string();
  CutUtf16(title, 31 - suffix.size());
  if (!title.empty() && title.back() == u'\'') title.back() = u'_';
  return title + suffix;
}

void TXlsWriter::StartSheet() {
  TSheet sheet;
  sheet.name = SheetName(static_cast<int>(sheets_.size()) + 1);
  sheet.start = cells_->Size();
  std::vector<uint8_t> out;
  std::vector<uint8_t> body;
  AddU16(body, 0x0600);  // BIFF8
  AddU16(body, 0x0010);  // a worksheet
  AddU16(body, 0x0DBB);  // build and year of the Excel 97 that defined it
  AddU16(body, 0x07CC);
  AddU32(body, 0);
  AddU32(body, 6);  // lowest BIFF version that can read it
  AddRecord(out, kRecBof, body);
  body.clear();
  AddU16(body, 8);
  AddRecord(out, kRecDefColWidth, body);
  for (size_t c = 0; c < columns_.size(); ++c) {
    const int pixels = columns_[c].widthPixels;
    if (pixels <= 0) continue;
    // Widths count 1/256 of the zero digit of the default font, 7 pixels
    // wide in Arial 10, plus 5 pixels of cell margin.
    const double characters = pixels > 12 ? (pixels - 5) / 7.0 : pixels / 12.0;
    const auto units = static_cast<uint16_t>(std::clamp(std::lround(characters * 256), 256L, 255L * 256));
    body.clear();
    AddU16(body, static_cast<uint16_t>(c));
    AddU16(body, static_cast<uint16_t>(c));
    AddU16(body, units);
    AddU16(body, kXfGeneral);
    AddU16(body, 0);
    AddU16(body, 0);
    AddRecord(out, kRecColInfo, body);
  }
  sheet.dimensions = sheet.start + out.size();
  body.assign(14, 0);
  AddRecord(out, kRecDimensions, body);
  cells_->Append(out);
  sheets_.push_back(sheet);
  if (settings_.titleLine) WriteTitleRow();
}

void TXlsWriter::WriteTitleRow() {
  TSheet& sheet = sheets_.back();
  for (size_t c = 0; c < columns_.size(); ++c)
    if (!columns_[c].name.empty()) WriteText(sheet.rows, static_cast<int>(c), kXfTitle, columns_[c].name);
  ++sheet.rows;
}

void TXlsWriter::EndSheet() {
  TSheet& sheet = sheets_.back();
  uint8_t dimensions[14] = {};
  PutLE32(dimensions, 0);
  PutLE32(dimensions + 4, static_cast<uint32_t>(sheet.rows));
  PutLE16(dimensions + 8, 0);
  PutLE16(dimensions + 10, static_cast<uint16_t>(sheet.rows > 0 ? columns_.size() : 0));
  cells_->Patch(sheet.dimensions + 4, dimensions, sizeof dimensions);

  std::vector<uint8_t> out, body;
  // Grid lines, headers, zeros, outline symbols; the first sheet is the
  // one selected and shown.
  AddU16(body, sheets_.size() == 1 ? 0x06B6 : 0x00B6);
  AddU16(body, 0);
  AddU16(body, 0);
  AddU16(body, 64);
  AddU16(body, 0);
  AddU16(body, 0);
  AddU16(body, 0);
  AddU32(body, 0);
  AddRecord(out, kRecWindow2, body);
  AddRecord(out, kRecEof, {});
  cells_->Append(out);
}

void TXlsWriter::Row(const TExportRow& row) {
  if (!begun_) throw EExportError("The XLS export was not begun.");
  if (sheets_.back().rows >= kMaxRows) {
    EndSheet();
    StartSheet();
  }
  TSheet& sheet = sheets_.back();
  const size_t count = std::min(row.size(), columns_.size());
  for (size_t c = 0; c < count; ++c)
    if (!row[c].null) WriteCell(sheet.rows, static_cast<int>(c), columns_[c], row[c]);
  ++sheet.rows;
  // Checked as rows go, so that an export too big for the format stops
  // before it has filled the disk.
  if (cells_->Size() + strings_->Size() > kMaxStreamSize - (1u << 20))
    throw EExportError(
        "The workbook would pass the 2 GB an XLS file can hold; export fewer rows or columns, or choose another "
        "format.");
}

void TXlsWriter::WriteCell(int row, int col, const TExportColumn& column, const TExportValue& v) {
  const uint16_t xf = columnXf_[static_cast<size_t>(col)];
  switch (column.kind) {
    case TExportKind::Text:
    case TExportKind::Memo:
      WriteText(row, col, kXfGeneral, v.text);
      return;
    case TExportKind::Binary:
      return;
    case TExportKind::Integer: {
      double value = 0;
      if (ExportExactDouble(v.integer, value)) {
        WriteNumber(row, col, xf, value);
      } else {
        ++textNumbers_;
        WriteText(row, col, kXfGeneral, v.text);
      }
      return;
    }
    case TExportKind::Number:
      if (std::isfinite(v.number)) {
        WriteNumber(row, col, xf, v.number);
      } else {
        ++textNumbers_;
        WriteText(row, col, kXfGeneral, v.text);
      }
      return;
    case TExportKind::Date:
    case TExportKind::DateTime: {
      const int64_t serial = DateSerial(v);
      if (serial < 0) {
        ++textDates_;
        WriteText(row, col, kXfGeneral, column.kind == TExportKind::Date ? ExportDateText(v) : ExportDateTimeText(v));
      } else {
        WriteNumber(row, col, xf,
                    static_cast<double>(serial) + (column.kind == TExportKind::DateTime ? ExportDayFraction(v) : 0.0));
      }
      return;
    }
    case TExportKind::Time:
      WriteNumber(row, col, xf, ExportDayFraction(v));
      return;
    case TExportKind::Logical: {
      uint8_t record[12];
      PutLE16(record, kRecBoolErr);
      PutLE16(record + 2, 8);
      PutLE16(record + 4, static_cast<uint16_t>(row));
      PutLE16(record + 6, static_cast<uint16_t>(col));
      PutLE16(record + 8, xf);
      record[10] = v.logical ? 1 : 0;
      record[11] = 0;  // a boolean, not an error code
      cells_->Append(record, sizeof record);
      return;
    }
  }
}

void TXlsWriter::WriteNumber(int row, int col, uint16_t xf, double value) {
  uint8_t record[18];
  PutLE16(record + 4, static_cast<uint16_t>(row));
  PutLE16(record + 6, static_cast<uint16_t>(col));
  PutLE16(record + 8, xf);
  uint32_t rk = 0;
  if (EncodeRk(value, rk)) {
    PutLE16(record, kRecRk);
    PutLE16(record + 2, 10);
    PutLE32(record + 10, rk);
    cells_->Append(record, 14);
  } else {
    PutLE16(record, kRecNumber);
    PutLE16(record + 2, 14);
    PutLE64(record + 10, DoubleToBits(value));
    cells_->Append(record, 18);
  }
}

void TXlsWriter::WriteText(int row, int col, uint16_t xf, const std::string& utf8) {
  if (utf8.empty()) return;
  std::u16string text = ToUtf16(utf8);
  if (text.size() > static_cast<size_t>(kMaxTextLength)) {
    CutUtf16(text, kMaxTextLength);
    ++cutTexts_;
  }
  const uint32_t index = strings_->Index(text);
  uint8_t record[14];
  PutLE16(record, kRecLabelSst);
  PutLE16(record + 2, 10);
  PutLE16(record + 4, static_cast<uint16_t>(row));
  PutLE16(record + 6, static_cast<uint16_t>(col));
  PutLE16(record + 8, xf);
  PutLE32(record + 10, index);
  cells_->Append(record, sizeof record);
}

std::vector<uint8_t> TXlsWriter::Globals(std::vector<size_t>& sheetOffsetAt) const {
  std::vector<uint8_t> out, body;
  AddU16(body, 0x0600);
  AddU16(body, 0x0005);  // the workbook globals
  AddU16(body, 0x0DBB);
  AddU16(body, 0x07CC);
  AddU32(body, 0);
  AddU32(body, 6);
  AddRecord(out, kRecBof, body);

  body.clear();
  AddU16(body, 1200);  // strings are UTF-16 (or its Latin-1 subset)
  AddRecord(out, kRecCodePage, body);

  body.clear();
  AddU16(body, 0);  // window position
  AddU16(body, 0);
  AddU16(body, 0x4000);  // window size, twips
  AddU16(body, 0x2000);
  AddU16(body, 0x0038);  // scroll bars and sheet tabs shown
  AddU16(body, 0);       // the first sheet is the active one
  AddU16(body, 0);
  AddU16(body, 1);
  AddU16(body, 600);  // tab bar width, per mille
  AddRecord(out, kRecWindow1, body);

  body.clear();
  AddU16(body, 0);  // the 1900 date system
  AddRecord(out, kRecDateMode, body);

  // Four identical fonts fill indices 0-3 as Excel expects; index 4 is
  // never used, so the fifth record is font 5, the bold of the title line.
  for (int i = 0; i < 5; ++i) {
    body.clear();
    AddU16(body, 200);             // 10 points
    AddU16(body, i == 4 ? 1 : 0);  // the bold bit older readers go by, beside the weight
    AddU16(body, 0x7FFF);          // automatic colour
    AddU16(body, i == 4 ? 700 : 400);
    AddU16(body, 0);
    AddU8(body, 0);
    AddU8(body, 0);
    AddU8(body, 0);
    AddU8(body, 0);
    AddShortString(body, u"Arial");
    AddRecord(out, kRecFont, body);
  }

  auto format = [&](uint16_t index, const std::string& code) {
    body.clear();
    AddU16(body, index);
    AddLongString(body, Ascii16(code));
    AddRecord(out, kRecFormat, body);
  };
  format(kFormatDate, "dd/mm/yyyy");
  format(kFormatDateTime, "dd/mm/yyyy hh:mm:ss");
  format(kFormatTime, "hh:mm:ss");
  for (size_t k = 0; k < numberDecimals_.size(); ++k) {
    const int decimals = numberDecimals_[k];
    format(static_cast<uint16_t>(kFormatFirstNumber + k),
           "#,##0" + (decimals > 0 ? "." + std::string(static_cast<size_t>(decimals), '0') : std::string()));
  }

  // flags: locked, a style (parent 0xFFF) or a cell of style 0; `used`
  // marks the attributes a cell format sets itself.
  auto xf = [&](uint16_t font, uint16_t numberFormat, uint16_t flags, uint16_t used) {
    body.clear();
    AddU16(body, font);
    AddU16(body, numberFormat);
    AddU16(body, flags);
    AddU8(body, 0x20);  // bottom-aligned
    AddU8(body, 0);
    AddU16(body, used);
    AddZeros(body, 8);     // no borders
    AddU16(body, 0x20C0);  // the system's window colours as pattern colours
    AddRecord(out, kRecXf, body);
  };
  xf(0, 0, 0xFFF5, 0x0000);
  for (int i = 1; i < 15; ++i) xf(i <= 2 ? 1 : i <= 4 ? 2 : 0, 0, 0xFFF5, 0xF400);
  xf(0, 0, 0x0001, 0x0000);                // 15: general
  xf(kFontBold, 0, 0x0001, 0x0800);        // 16: title line
  xf(0, kFormatDate, 0x0001, 0x0400);      // 17
  xf(0, kFormatDateTime, 0x0001, 0x0400);  // 18
  xf(0, kFormatTime, 0x0001, 0x0400);      // 19
  for (size_t k = 0; k < numberDecimals_.size(); ++k)
    xf(0, static_cast<uint16_t>(kFormatFirstNumber + k), 0x0001, 0x0400);

  body.clear();
  AddU16(body, 0x8000);  // built-in style "Normal" on style XF 0
  AddU8(body, 0);
  AddU8(body, 0xFF);
  AddRecord(out, kRecStyle, body);

  sheetOffsetAt.clear();
  for (const TSheet& sheet : sheets_) {
    body.clear();
    AddU32(body, 0);  // the sheet's BOF in the stream, filled in by the caller
    AddU8(body, 0);   // visible
    AddU8(body, 0);   // a worksheet
    AddShortString(body, sheet.name);
    sheetOffsetAt.push_back(out.size() + 4);
    AddRecord(out, kRecBoundSheet, body);
  }
  return out;
}

void TXlsWriter::Finish() {
  if (!begun_) throw EExportError("The XLS export was not begun.");
  EndSheet();
  strings_->Close();

  std::vector<size_t> sheetOffsetAt;
  std::vector<uint8_t> globals = Globals(sheetOffsetAt);
  std::vector<uint8_t> tail = strings_->ExtSst(globals.size());
  AddRecord(tail, kRecEof, {});
  const uint64_t sheetsStart = globals.size() + strings_->Size() + tail.size();
  if (sheetsStart + cells_->Size() > kMaxStreamSize)
    throw EExportError(
        "The workbook would pass the 2 GB an XLS file can hold; export fewer rows or columns, or choose another "
        "format.");
  for (size_t i = 0; i < sheets_.size(); ++i)
    PutLE32(globals.data() + sheetOffsetAt[i], static_cast<uint32_t>(sheetsStart + sheets_[i].start));
  WriteCompoundFile(globals, tail);

  if (sheets_.size() > 1)
    warnings_.push_back("An XLS sheet holds at most 65,536 rows, so the export fills " +
                        std::to_string(sheets_.size()) + " sheets" +
                        (settings_.titleLine ? ", each beginning with the column names." : "."));
  if (cutTexts_ > 0)
    warnings_.push_back(CountText(cutTexts_) + (cutTexts_ == 1 ? " text was" : " texts were") +
                        " longer than the 32,767 characters an XLS cell holds and " +
                        (cutTexts_ == 1 ? "was" : "were") + " cut there.");
  if (textDates_ > 0)
    warnings_.push_back(CountText(textDates_) + (textDates_ == 1 ? " date was" : " dates were") +
                        " written as text, being before 1 March 1900 (spreadsheets disagree on the day numbers "
                        "before it) or not a day of the calendar.");
  if (textNumbers_ > 0)
    warnings_.push_back(CountText(textNumbers_) + (textNumbers_ == 1 ? " number was" : " numbers were") +
                        " written as text, as a spreadsheet number cannot hold " + (textNumbers_ == 1 ? "it" : "them") +
                        " to the last digit.");
  begun_ = false;
}

void TXlsWriter::WriteCompoundFile(const std::vector<uint8_t>& globals, const std::vector<uint8_t>& tail) {
  // The workbook stream. Below 4,096 bytes it would belong in the mini
  // stream; zeros after the last EOF keep it out, and readers stop at the EOF.
  uint64_t streamSize = globals.size() + strings_->Size() + tail.size() + cells_->Size();
  const uint64_t padding = streamSize < kMiniStreamCutoff ? kMiniStreamCutoff - streamSize : 0;
  streamSize += padding;

  // Sectors: the stream, then the directory, the FAT, and the DIFAT sectors
  // that list the FAT sectors the header has no room for.
  const auto streamSectors = static_cast<uint32_t>((streamSize + kSectorSize - 1) / kSectorSize);
  const uint32_t directorySector = streamSectors;
  uint32_t fatSectors = 1, difatSectors = 0;
  while (true) {
    // A DIFAT sector lists 127 FAT sectors and the next DIFAT sector.
    const uint32_t unlisted = fatSectors > kHeaderDifatEntries ? fatSectors - kHeaderDifatEntries : 0;
    difatSectors = (unlisted + kEntriesPerSector - 2) / (kEntriesPerSector - 1);
    const uint64_t total = uint64_t(streamSectors) + 1 + fatSectors + difatSectors;
    if (total <= uint64_t(fatSectors) * kEntriesPerSector) break;
    ++fatSectors;
  }
  const uint32_t firstFat = directorySector + 1;
  const uint32_t firstDifat = firstFat + fatSectors;

  TOutput out(path_);
  std::vector<uint8_t> header(kSectorSize, 0);
  const uint8_t signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::memcpy(header.data(), signature, sizeof signature);
  PutLE16(&header[24], 0x003E);  // minor version
  PutLE16(&header[26], 0x0003);  // version 3: 512-byte sectors
  PutLE16(&header[28], 0xFFFE);  // little-endian
  PutLE16(&header[30], 9);       // 2^9-byte sectors
  PutLE16(&header[32], 6);       // 2^6-byte mini sectors
  PutLE32(&header[44], fatSectors);
  PutLE32(&header[48], directorySector);
  PutLE32(&header[56], kMiniStreamCutoff);
  PutLE32(&header[60], kEndOfChain);  // no mini FAT
  PutLE32(&header[68], difatSectors > 0 ? firstDifat : kEndOfChain);
  PutLE32(&header[72], difatSectors);
  for (uint32_t i = 0; i < kHeaderDifatEntries; ++i)
    PutLE32(&header[76 + 4 * i], i < fatSectors ? firstFat + i : kFreeSect);
  out.Write(header);

  out.Write(globals);
  strings_->CopyTo(out);
  out.Write(tail);
  cells_->CopyTo(out);
  out.Zeros(padding + (uint64_t(streamSectors) * kSectorSize - streamSize));

  std::vector<uint8_t> directory(kSectorSize, 0);
  auto entry = [&](int index, std::u16string_view name, uint8_t type, uint32_t child, uint32_t start, uint32_t size) {
    uint8_t* e = &directory[static_cast<size_t>(index) * 128];
    for (size_t i = 0; i < name.size(); ++i) PutLE16(e + 2 * i, static_cast<uint16_t>(name[i]));
    PutLE16(e + 64, name.empty() ? 0 : static_cast<uint16_t>((name.size() + 1) * 2));
    e[66] = type;
    e[67] = type == 0 ? 0 : 1;  // black in the red-black tree
    PutLE32(e + 68, kNoStream);
    PutLE32(e + 72, kNoStream);
    PutLE32(e + 76, child);
    PutLE32(e + 116, start);
    PutLE32(e + 120, size);
  };
  entry(0, u"Root Entry", 5, 1, kEndOfChain, 0);
  entry(1, u"Workbook", 2, kNoStream, 0, static_cast<uint32_t>(streamSize));
  entry(2, u"", 0, kNoStream, 0, 0);
  entry(3, u"", 0, kNoStream, 0, 0);
  out.Write(directory);

  std::vector<uint8_t> sector(kSectorSize);
  for (uint32_t s = 0; s < fatSectors; ++s) {
    for (uint32_t k = 0; k < kEntriesPerSector; ++k) {
      const uint64_t i = uint64_t(s) * kEntriesPerSector + k;
      uint32_t next = kFreeSect;
      if (i + 1 < streamSectors)
        next = static_cast<uint32_t>(i + 1);
      else if (i + 1 == streamSectors || i == directorySector)
        next = kEndOfChain;
      else if (i >= firstFat && i < firstDifat)
        next = kFatSect;
      else if (i >= firstDifat && i < uint64_t(firstDifat) + difatSectors)
        next = kDifSect;
      PutLE32(&sector[4 * k], next);
    }
    out.Write(sector);
  }
  uint32_t listed = kHeaderDifatEntries;
  for (uint32_t d = 0; d < difatSectors; ++d) {
    for (uint32_t k = 0; k + 1 < kEntriesPerSector; ++k, ++listed)
      PutLE32(&sector[4 * k], listed < fatSectors ? firstFat + listed : kFreeSect);
    PutLE32(&sector[kSectorSize - 4], d + 1 < difatSectors ? firstDifat + d + 1 : kEndOfChain);
    out.Write(sector);
  }
  out.Close();
}

}  // namespace norvale
