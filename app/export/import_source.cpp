#include "app/export/import_source.h"

#include <zlib.h>

#include <QByteArray>
#include <QString>
#include <QStringDecoder>
#include <QXmlStreamReader>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <unordered_map>

namespace norvale {

namespace {

std::string Grouped(int64_t n) { return ExportGroupedNumber(std::to_string(n)); }

struct TFileClose {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using TFile = std::unique_ptr<std::FILE, TFileClose>;

TFile OpenForReading(const std::string& path, int64_t& size) {
  TFile file(std::fopen(path.c_str(), "rb"));
  if (!file) throw EExportError("The file " + path + " could not be opened: " + std::strerror(errno));
  if (fseeko(file.get(), 0, SEEK_END) != 0 || (size = ftello(file.get())) < 0 || fseeko(file.get(), 0, SEEK_SET) != 0) {
    throw EExportError("The file " + path + " could not be read: " + std::strerror(errno));
  }
  return file;
}

std::string Trimmed(const std::string& s) {
  const size_t first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

std::vector<std::string> HeaderNames(const std::vector<std::string>& texts) {
  std::vector<std::string> names;
  for (size_t i = 0; i < texts.size(); ++i) {
    std::string name = Trimmed(texts[i]);
    names.push_back(name.empty() ? "Column" + std::to_string(i + 1) : name);
  }
  return names;
}

// ------------------------------------------------------------------ CSV

constexpr size_t kCsvBlock = size_t{1} << 20;
// One record larger than this is not data but a wrong quote or separator
// setting (or a hostile file); reading on would only fill the memory.
constexpr size_t kMaxRecordBytes = size_t{256} << 20;

class TCsvSource final : public TImportSource {
 public:
  TCsvSource(const std::string& path, const TCsvImportOptions& options);
  const std::vector<std::string>& ColumnNames() const override { return columns_; }
  bool Next(std::vector<TImportCell>& row) override;
  int64_t RowNumber() const override { return rowNumber_; }
  double Progress() const override;

 private:
  bool Fill();
  bool ReadRecord(std::vector<std::string>& cells);
  void Append(std::string& cell, const char* from, size_t n);
  void EndLine(char c);

  std::string path_;
  TCsvImportOptions options_;
  TFile file_;
  int64_t fileSize_ = 0;
  int64_t rawBefore_ = 0;  // bytes of the file before the current block
  size_t rawBlock_ = 0;    // bytes of the file in the current block
  std::vector<char> raw_;
  std::optional<QStringDecoder> decoder_;
  std::string buffer_;  // the current block, decoded to UTF-8
  size_t pos_ = 0;
  bool atEof_ = false;
  bool pendingCr_ = false;  // a line just ended with CR; an LF next belongs to it
  int64_t line_ = 1;
  int64_t recordLine_ = 0;
  int64_t rowNumber_ = 0;
  size_t recordBytes_ = 0;
  std::vector<std::string> columns_;
  std::vector<std::string> cells_;
  bool pending_ = false;  // cells_ holds the first record, read for the column count
};

TCsvSource::TCsvSource(const std::string& path, const TCsvImportOptions& options) : path_(path), options_(options) {
  const char sep = options.separator;
  if (sep == '\0' || sep == '\r' || sep == '\n' || sep == options.quote || options.quote == '\r' ||
      options.quote == '\n') {
    throw EExportError("The separator and quote characters must differ, and neither can be a line break.");
  }
  // The file is split after decoding to UTF-8, where a byte past 0x7F is
  // part of some character.
  if (static_cast<unsigned char>(sep) >= 0x80 || static_cast<unsigned char>(options.quote) >= 0x80) {
    throw EExportError("The separator and quote must be ASCII characters.");
  }
  file_ = OpenForReading(path, fileSize_);
  raw_.resize(kCsvBlock);
  if (!ReadRecord(cells_)) return;
  if (options.header) {
    columns_ = HeaderNames(cells_);
  } else {
    for (size_t i = 0; i < cells_.size(); ++i) columns_.push_back("Column" + std::to_string(i + 1));
    pending_ = true;
  }
  rowNumber_ = recordLine_;
}

bool TCsvSource::Fill() {
  buffer_.clear();
  pos_ = 0;
  rawBefore_ += static_cast<int64_t>(rawBlock_);
  rawBlock_ = 0;
  while (buffer_.empty() && !atEof_) {
    const size_t n = std::fread(raw_.data(), 1, raw_.size(), file_.get());
    if (n < raw_.size()) {
      if (std::ferror(file_.get())) {
        throw EExportError("The file " + path_ + " could not be read: " + std::strerror(errno));
      }
      atEof_ = true;
    }
    rawBefore_ += static_cast<int64_t>(rawBlock_);
    rawBlock_ = n;
    if (!decoder_) {
      // A UTF-8 byte order mark settles the question whatever was chosen.
      const bool utf8Bom = n >= 3 && std::memcmp(raw_.data(), "\xEF\xBB\xBF", 3) == 0;
      const std::string encoding = utf8Bom ? "UTF-8" : options_.encoding;
      decoder_.emplace(encoding.c_str());
      if (!decoder_->isValid()) throw EExportError("The encoding " + options_.encoding + " is not known.");
    }
    const QString text = (*decoder_)(QByteArrayView(raw_.data(), static_cast<qsizetype>(n)));
    const QByteArray utf8 = text.toUtf8();
    buffer_.assign(utf8.constData(), static_cast<size_t>(utf8.size()));
  }
  return !buffer_.empty();
}

void TCsvSource::Append(std::string& cell, const char* from, size_t n) {
  recordBytes_ += n;
  if (recordBytes_ > kMaxRecordBytes) {
    throw EExportError(path_ + ", line " + Grouped(recordLine_) +
                       ": the record there runs past 256 MB; are the separator and quote character right?");
  }
  cell.append(from, n);
}

void TCsvSource::EndLine(char c) {
  ++pos_;
  ++line_;
  if (c == '\r') pendingCr_ = true;
}

bool TCsvSource::ReadRecord(std::vector<std::string>& cells) {
  enum class TState { FieldStart, Unquoted, Quoted, AfterQuote };
  cells.clear();
  recordBytes_ = 0;
  TState state = TState::FieldStart;
  std::string cell;
  bool inRecord = false;
  int64_t quoteLine = 0;
  const char sep = options_.separator;
  const char quote = options_.quote;
  for (;;) {
    if (pos_ >= buffer_.size() && !Fill()) break;
    const char c = buffer_[pos_];
    if (pendingCr_) {
      pendingCr_ = false;
      if (c == '\n') {
        ++pos_;
        continue;
      }
    }
    switch (state) {
      case TState::FieldStart:
        if (!inRecord) {
          if (c == '\r' || c == '\n') {  // a blank line
            EndLine(c);
            continue;
          }
          inRecord = true;
          recordLine_ = line_;
        }
        if (quote != '\0' && c == quote) {
          state = TState::Quoted;
          quoteLine = line_;
          ++pos_;
          continue;
        }
        state = TState::Unquoted;
        [[fallthrough]];
      case TState::Unquoted: {
        size_t end = pos_;
        while (end < buffer_.size()) {
          const char d = buffer_[end];
          if (d == sep || d == '\r' || d == '\n') break;
          ++end;
        }
        Append(cell, buffer_.data() + pos_, end - pos_);
        pos_ = end;
        if (end == buffer_.size()) continue;
        const char d = buffer_[pos_];
        cells.push_back(std::move(cell));
        cell.clear();
        if (d == sep) {
          ++pos_;
          state = TState::FieldStart;
          continue;
        }
        EndLine(d);
        return true;
      }
      case TState::Quoted: {
        const char* begin = buffer_.data() + pos_;
        const size_t left = buffer_.size() - pos_;
        const auto* found = static_cast<const char*>(std::memchr(begin, quote, left));
        const size_t n = found != nullptr ? static_cast<size_t>(found - begin) : left;
        line_ += std::count(begin, begin + n, '\n');
        Append(cell, begin, n);
        pos_ += n;
        if (found != nullptr) {
          ++pos_;
          state = TState::AfterQuote;
        }
        continue;
      }
      case TState::AfterQuote:
        if (c == quote) {
          Append(cell, &quote, 1);
          ++pos_;
          state = TState::Quoted;
          continue;
        }
        if (c == sep) {
          cells.push_back(std::move(cell));
          cell.clear();
          ++pos_;
          state = TState::FieldStart;
          continue;
        }
        if (c == '\r' || c == '\n') {
          cells.push_back(std::move(cell));
          EndLine(c);
          return true;
        }
        state = TState::Unquoted;
        continue;
    }
  }
  if (state == TState::Quoted) {
    throw EExportError(path_ + ", line " + Grouped(quoteLine) +
                       ": the quoted value that begins there is never closed; the file ends inside it.");
  }
  if (!inRecord) return false;
  cells.push_back(std::move(cell));
  return true;
}

bool TCsvSource::Next(std::vector<TImportCell>& row) {
  if (pending_) {
    pending_ = false;
  } else if (!ReadRecord(cells_)) {
    return false;
  }
  rowNumber_ = recordLine_;
  row.assign(std::max(cells_.size(), columns_.size()), TImportCell{});
  for (size_t i = 0; i < cells_.size(); ++i) {
    row[i].empty = cells_[i].empty();
    row[i].text = std::move(cells_[i]);
  }
  return true;
}

double TCsvSource::Progress() const {
  if (fileSize_ <= 0) return 1.0;
  double done = static_cast<double>(rawBefore_);
  if (!buffer_.empty()) done += static_cast<double>(rawBlock_) * static_cast<double>(pos_) / buffer_.size();
  return std::min(1.0, done / static_cast<double>(fileSize_));
}

// ------------------------------------------------------------------ ZIP

uint16_t Le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const unsigned char* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

constexpr uint32_t kEndOfDirectory = 0x06054b50;
constexpr uint32_t kZip64Locator = 0x07064b50;
constexpr uint32_t kDirectoryEntry = 0x02014b50;
constexpr uint32_t kLocalHeader = 0x04034b50;
constexpr uint64_t kMaxDirectoryBytes = uint64_t{64} << 20;
// Deflate cannot expand data by more than about 1032 times; a part that
// claims more is lying about its size.
constexpr uint64_t kMaxDeflateRatio = 1032;

std::string Lower(const std::string& s) {
  std::string out = s;
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

struct TZipEntry {
  std::string name;
  uint16_t flags = 0, method = 0;
  uint32_t crc = 0;
  uint64_t compressedSize = 0, size = 0, localOffset = 0;
};

// The central directory of a workbook's zip; the parts are read through
// TZipStream.
class TZipArchive {
 public:
  explicit TZipArchive(const std::string& path);
  // Part names in a package ignore case.
  const TZipEntry* Find(const std::string& name) const {
    auto it = entries_.find(Lower(name));
    return it == entries_.end() ? nullptr : &it->second;
  }
  void ReadAt(uint64_t offset, void* out, size_t n) const;
  uint64_t DataEnd() const { return directoryOffset_; }
  [[noreturn]] void Damaged(const std::string& what) const {
    throw EExportError("The workbook " + path_ + " is damaged: " + what);
  }

 private:
  std::string path_;
  TFile file_;
  int64_t size_ = 0;
  uint64_t directoryOffset_ = 0;
  std::unordered_map<std::string, TZipEntry> entries_;
};

TZipArchive::TZipArchive(const std::string& path) : path_(path) {
  file_ = OpenForReading(path, size_);
  const std::string notWorkbook = "The file " + path + " is not an Excel workbook (.xlsx): ";
  if (size_ < 22) throw EExportError(notWorkbook + "it is too short.");
  const auto tailSize = static_cast<size_t>(std::min<int64_t>(size_, 22 + 65535));
  std::vector<unsigned char> tail(tailSize);
  ReadAt(static_cast<uint64_t>(size_) - tailSize, tail.data(), tailSize);
  size_t at = tailSize - 22;
  while (Le32(&tail[at]) != kEndOfDirectory) {
    if (at == 0) throw EExportError(notWorkbook + "it has no zip directory.");
    --at;
  }
  const unsigned char* end = &tail[at];
  const uint64_t endOffset = static_cast<uint64_t>(size_) - tailSize + at;
  const uint16_t disk = Le16(end + 4), directoryDisk = Le16(end + 6);
  const uint16_t diskEntries = Le16(end + 8), entryCount = Le16(end + 10);
  const uint32_t directorySize = Le32(end + 12), directoryOffset = Le32(end + 16);
  if ((at >= 20 && Le32(end - 20) == kZip64Locator) || entryCount == 0xFFFF || directorySize == 0xFFFFFFFF ||
      directoryOffset == 0xFFFFFFFF) {
    throw EExportError("The workbook " + path + " is a ZIP64 archive, which is not supported; save it again from "
                       "Excel or LibreOffice.");
  }
  if (disk != 0 || directoryDisk != 0 || diskEntries != entryCount) Damaged("it is split across several files.");
  if (uint64_t{directoryOffset} + directorySize > endOffset) Damaged("its directory lies outside the file.");
  if (directorySize > kMaxDirectoryBytes) Damaged("its directory is impossibly large.");
  directoryOffset_ = directoryOffset;

  std::vector<unsigned char> directory(directorySize);
  ReadAt(directoryOffset, directory.data(), directory.size());
  size_t pos = 0;
  for (unsigned k = 0; k < entryCount; ++k) {
    if (pos + 46 > directory.size() || Le32(&directory[pos]) != kDirectoryEntry) Damaged("its directory is cut short.");
    const unsigned char* p = &directory[pos];
    TZipEntry entry;
    entry.flags = Le16(p + 8);
    entry.method = Le16(p + 10);
    entry.crc = Le32(p + 16);
    entry.compressedSize = Le32(p + 20);
    entry.size = Le32(p + 24);
    const size_t nameLength = Le16(p + 28), extraLength = Le16(p + 30), commentLength = Le16(p + 32);
    entry.localOffset = Le32(p + 42);
    if (pos + 46 + nameLength + extraLength + commentLength > directory.size()) Damaged("its directory is cut short.");
    entry.name.assign(reinterpret_cast<const char*>(p + 46), nameLength);
    if (entry.compressedSize == 0xFFFFFFFF || entry.size == 0xFFFFFFFF || entry.localOffset == 0xFFFFFFFF) {
      throw EExportError("The workbook " + path + " is a ZIP64 archive, which is not supported.");
    }
    entries_.emplace(Lower(entry.name), entry);
    pos += 46 + nameLength + extraLength + commentLength;
  }
}

void TZipArchive::ReadAt(uint64_t offset, void* out, size_t n) const {
  if (offset > static_cast<uint64_t>(size_) || n > static_cast<uint64_t>(size_) - offset) {
    Damaged("it ends before its data does.");
  }
  if (fseeko(file_.get(), static_cast<off_t>(offset), SEEK_SET) != 0 || std::fread(out, 1, n, file_.get()) != n) {
    throw EExportError("The file " + path_ + " could not be read: " + std::strerror(errno));
  }
}

// One part of the zip, decompressed piece by piece and checked against
// its declared size and checksum.
class TZipStream {
 public:
  TZipStream(const TZipArchive& zip, const TZipEntry& entry);
  ~TZipStream() {
    if (inflating_) inflateEnd(&z_);
  }
  TZipStream(const TZipStream&) = delete;
  TZipStream& operator=(const TZipStream&) = delete;

  // Up to `max` bytes of the part; 0 at its end.
  size_t Read(char* out, size_t max);
  double Progress() const {
    if (entry_.compressedSize == 0) return 1.0;
    return static_cast<double>(entry_.compressedSize - left_) / static_cast<double>(entry_.compressedSize);
  }

 private:
  [[noreturn]] void Damaged(const std::string& what) const { zip_.Damaged("part " + entry_.name + " " + what); }

  const TZipArchive& zip_;
  TZipEntry entry_;
  uint64_t next_ = 0;  // where in the file the next compressed byte is
  uint64_t left_ = 0;  // compressed bytes not read yet
  uint64_t produced_ = 0;
  uLong crc_ = 0;
  z_stream z_{};
  bool inflating_ = false;
  bool ended_ = false;
  std::vector<unsigned char> in_;
};

TZipStream::TZipStream(const TZipArchive& zip, const TZipEntry& entry) : zip_(zip), entry_(entry) {
  if ((entry.flags & 1) != 0) {
    throw EExportError("The workbook is encrypted; open it in Excel and save it without a password.");
  }
  if (entry.method != 0 && entry.method != 8) {
    Damaged("is compressed by method " + std::to_string(entry.method) + ", which is not supported.");
  }
  if (entry.localOffset > zip.DataEnd() || zip.DataEnd() - entry.localOffset < 30) Damaged("lies outside the file.");
  unsigned char header[30];
  zip.ReadAt(entry.localOffset, header, sizeof header);
  if (Le32(header) != kLocalHeader) Damaged("does not begin where the directory says.");
  const uint64_t start = entry.localOffset + 30 + Le16(header + 26) + Le16(header + 28);
  if (start > zip.DataEnd() || entry.compressedSize > zip.DataEnd() - start) Damaged("runs past the end of the data.");
  if (entry.method == 0 && entry.compressedSize != entry.size) Damaged("has two different sizes.");
  if (entry.method == 8 && entry.size > entry.compressedSize * kMaxDeflateRatio + 64) {
    Damaged("claims a size its compressed data cannot hold.");
  }
  next_ = start;
  left_ = entry.compressedSize;
  crc_ = crc32(0, nullptr, 0);
  if (entry.method == 8) {
    if (inflateInit2(&z_, -MAX_WBITS) != Z_OK) throw EExportError("Out of memory reading the workbook.");
    inflating_ = true;
    in_.resize(64 * 1024);
  }
}

size_t TZipStream::Read(char* out, size_t max) {
  if (ended_ || max == 0) return 0;
  max = std::min<size_t>(max, size_t{1} << 30);
  size_t n = 0;
  bool finished = false;
  if (entry_.method == 0) {
    n = static_cast<size_t>(std::min<uint64_t>(max, left_));
    zip_.ReadAt(next_, out, n);
    next_ += n;
    left_ -= n;
    finished = left_ == 0;
  } else {
    z_.next_out = reinterpret_cast<Bytef*>(out);
    z_.avail_out = static_cast<uInt>(max);
    while (z_.avail_out == max) {
      if (z_.avail_in == 0 && left_ > 0) {
        const auto chunk = static_cast<size_t>(std::min<uint64_t>(in_.size(), left_));
        zip_.ReadAt(next_, in_.data(), chunk);
        next_ += chunk;
        left_ -= chunk;
        z_.next_in = in_.data();
        z_.avail_in = static_cast<uInt>(chunk);
      }
      const int result = inflate(&z_, Z_NO_FLUSH);
      if (result == Z_STREAM_END) {
        finished = true;
        break;
      }
      if (result == Z_BUF_ERROR && z_.avail_in == 0 && left_ == 0) Damaged("is cut short.");
      if (result != Z_OK && result != Z_BUF_ERROR) {
        Damaged(std::string("cannot be decompressed (") + (z_.msg != nullptr ? z_.msg : "bad data") + ").");
      }
    }
    n = max - z_.avail_out;
  }
  produced_ += n;
  if (produced_ > entry_.size) Damaged("holds more than its declared size.");
  crc_ = crc32(crc_, reinterpret_cast<const Bytef*>(out), static_cast<uInt>(n));
  if (finished) {
    ended_ = true;
    if (produced_ != entry_.size) Damaged("is shorter than its declared size.");
    if (crc_ != entry_.crc) Damaged("fails its checksum.");
  }
  return n;
}

// ------------------------------------------------------------------ XML

// A part's XML, fed to the reader as it is decompressed.
class TXmlPart {
 public:
  TXmlPart(const TZipArchive& zip, const TZipEntry& entry) : zip_(zip), name_(entry.name), stream_(zip, entry) {
    chunk_.resize(256 * 1024);
  }
  // The next token; EndDocument at the end. Raises EExportError on XML
  // that is not well formed.
  QXmlStreamReader::TokenType Next();
  const QXmlStreamReader& Xml() const { return xml_; }
  double Progress() const { return stream_.Progress(); }
  [[noreturn]] void Damaged(const std::string& what) const { zip_.Damaged("part " + name_ + ": " + what); }

 private:
  const TZipArchive& zip_;
  std::string name_;
  TZipStream stream_;
  QXmlStreamReader xml_;
  std::vector<char> chunk_;
  bool drained_ = false;
  bool done_ = false;
};

QXmlStreamReader::TokenType TXmlPart::Next() {
  if (done_) return QXmlStreamReader::EndDocument;
  for (;;) {
    const QXmlStreamReader::TokenType token = xml_.readNext();
    if (token == QXmlStreamReader::EndDocument) done_ = true;
    if (token != QXmlStreamReader::Invalid) return token;
    if (xml_.error() == QXmlStreamReader::PrematureEndOfDocumentError && !drained_) {
      const size_t n = stream_.Read(chunk_.data(), chunk_.size());
      if (n == 0) {
        drained_ = true;
      } else {
        xml_.addData(QByteArray(chunk_.data(), static_cast<qsizetype>(n)));
      }
      continue;
    }
    std::string reason = xml_.errorString().toStdString();
    while (!reason.empty() && reason.back() == '.') reason.pop_back();
    Damaged(reason + ", at line " + std::to_string(xml_.lineNumber()) + ".");
  }
}

bool Is(const QXmlStreamReader& xml, QStringView name) { return xml.name() == name; }

std::string Attribute(const QXmlStreamReader& xml, const char* name) {
  return xml.attributes().value(QLatin1StringView(name)).toString().toStdString();
}

// A relationship's id attribute carries a prefix ("r:id"); which prefix
// varies between writers.
std::string RelationshipId(const QXmlStreamReader& xml) {
  for (const QXmlStreamAttribute& a : xml.attributes()) {
    if (a.name() == u"id" && !a.namespaceUri().isEmpty()) return a.value().toString().toStdString();
  }
  return Attribute(xml, "id");
}

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Excel writes characters XML cannot carry as "_xHHHH_", and an underscore
// that would read as such as "_x005F_".
std::string Unescaped(const std::string& s) {
  if (s.find("_x") == std::string::npos) return s;
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    if (i + 7 <= s.size() && s[i] == '_' && s[i + 1] == 'x' && s[i + 6] == '_' && IsHexDigit(s[i + 2]) &&
        IsHexDigit(s[i + 3]) && IsHexDigit(s[i + 4]) && IsHexDigit(s[i + 5])) {
      const auto cp = static_cast<uint32_t>(std::stoul(s.substr(i + 2, 4), nullptr, 16));
      if (cp < 0xD800 || cp > 0xDFFF) {
        AppendUtf8(out, cp);
        i += 7;
        continue;
      }
    }
    out += s[i++];
  }
  return out;
}

void AppendText(std::string& out, QStringView text) {
  const QByteArray utf8 = text.toUtf8();
  out.append(utf8.constData(), static_cast<size_t>(utf8.size()));
}

// "xl/worksheets/../a.xml" as "xl/a.xml"; a target that starts with "/"
// is from the package's root.
std::string ResolvePart(const std::string& baseDir, const std::string& target) {
  const std::string joined = (!target.empty() && target[0] == '/') ? target.substr(1) : baseDir + target;
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= joined.size()) {
    size_t slash = joined.find('/', start);
    if (slash == std::string::npos) slash = joined.size();
    const std::string part = joined.substr(start, slash - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = slash + 1;
  }
  std::string out;
  for (const auto& p : parts) out += (out.empty() ? "" : "/") + p;
  return out;
}

std::string DirectoryOf(const std::string& part) {
  const size_t slash = part.rfind('/');
  return slash == std::string::npos ? std::string() : part.substr(0, slash + 1);
}

constexpr size_t kMaxRelationships = 1 << 16;

struct TRelationship {
  std::string type, target;
};

std::map<std::string, TRelationship> ReadRelationships(const TZipArchive& zip, const TZipEntry& entry) {
  std::map<std::string, TRelationship> out;
  TXmlPart part(zip, entry);
  for (auto token = part.Next(); token != QXmlStreamReader::EndDocument; token = part.Next()) {
    if (token != QXmlStreamReader::StartElement || !Is(part.Xml(), u"Relationship")) continue;
    if (Attribute(part.Xml(), "TargetMode") == "External") continue;
    if (out.size() >= kMaxRelationships) part.Damaged("it has more relationships than any workbook needs.");
    out.emplace(Attribute(part.Xml(), "Id"), TRelationship{Attribute(part.Xml(), "Type"),
                                                            Attribute(part.Xml(), "Target")});
  }
  return out;
}

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Whether a number format shows a date or time: a day, month, year, hour
// or second code outside quoted text, [brackets] (colours, conditions,
// locales) and the characters that \, _ and * take.
bool IsDateFormatCode(const std::string& code) {
  for (size_t i = 0; i < code.size(); ++i) {
    const char c = code[i];
    if (c == '"') {
      const size_t close = code.find('"', i + 1);
      if (close == std::string::npos) return false;
      i = close;
    } else if (c == '[') {
      const size_t close = code.find(']', i + 1);
      if (close == std::string::npos) return false;
      i = close;
    } else if (c == '\\' || c == '_' || c == '*') {
      ++i;
    } else if (std::strchr("dmyhsDMYHS", c) != nullptr && c != '\0') {
      return true;
    }
  }
  return false;
}

bool IsBuiltInDateFormat(int id) { return (id >= 14 && id <= 22) || (id >= 45 && id <= 47); }

// Days since 1970-01-01 to a calendar date.
void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0));
}

constexpr int64_t kDays18991230 = -25569;  // relative to 1970-01-01
constexpr int64_t kDays19040101 = -24107;

std::string DateText(const TImportCell& cell) {
  TExportValue v;
  v.year = cell.year, v.month = cell.month, v.day = cell.day;
  v.hour = cell.hour, v.minute = cell.minute, v.second = cell.second;
  if (cell.year == 0) return ExportTimeText(v);
  if (cell.hour == 0 && cell.minute == 0 && cell.second == 0) return ExportDateText(v);
  return ExportDateTimeText(v);
}

// A serial day number as Excel counts: in the 1900 system day 1 is
// 1900-01-01 and day 60 the 29 February 1900 that never was (given as the
// 28th, as other readers do); in the 1904 system day 0 is 1904-01-01. A
// value under one day is a time of day. False past 9999-12-31 or before
// the epoch: such a cell stays a number.
bool SerialToDate(double serial, bool date1904, TImportCell& cell) {
  const int64_t dayLimit = date1904 ? 2957004 : 2958466;
  if (!(serial >= 0.0 && serial < static_cast<double>(dayLimit))) return false;
  const auto seconds = static_cast<int64_t>(std::llround(serial * 86400.0));
  const int64_t days = seconds / 86400;
  const int64_t rest = seconds % 86400;
  if (days >= dayLimit) return false;
  if (days == 0) {
    cell.year = cell.month = cell.day = 0;
  } else if (date1904) {
    CivilFromDays(kDays19040101 + days, cell.year, cell.month, cell.day);
  } else if (days <= 60) {
    CivilFromDays(kDays18991230 + 1 + std::min<int64_t>(days, 59), cell.year, cell.month, cell.day);
  } else {
    CivilFromDays(kDays18991230 + days, cell.year, cell.month, cell.day);
  }
  cell.hour = static_cast<int>(rest / 3600);
  cell.minute = static_cast<int>(rest / 60 % 60);
  cell.second = static_cast<int>(rest % 60);
  cell.isDate = true;
  cell.empty = false;
  cell.text = DateText(cell);
  return true;
}

// An ISO 8601 date cell (t="d"): "2024-01-31", "2024-01-31T10:20:30" or
// "10:20:30".
bool ParseIsoDate(const std::string& s, TImportCell& cell) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0;
  char sepChar = 0;
  bool ok = false;
  if (std::sscanf(s.c_str(), "%d-%d-%d%c%d:%d:%d", &y, &mo, &d, &sepChar, &h, &mi, &sec) == 7) {
    ok = sepChar == 'T' || sepChar == ' ';
  } else if (std::sscanf(s.c_str(), "%d-%d-%d", &y, &mo, &d) == 3) {
    ok = true;
  } else if (std::sscanf(s.c_str(), "%d:%d:%d", &h, &mi, &sec) == 3) {
    ok = true;
    y = mo = d = 0;
  }
  if (!ok || (y != 0 && (y < 1 || y > 9999 || mo < 1 || mo > 12 || d < 1 || d > 31)) || h < 0 || h > 23 || mi < 0 ||
      mi > 59 || sec < 0 || sec > 59) {
    return false;
  }
  cell.year = y, cell.month = mo, cell.day = d, cell.hour = h, cell.minute = mi, cell.second = sec;
  cell.isDate = true;
  cell.empty = false;
  cell.text = DateText(cell);
  return true;
}

// ------------------------------------------------------------------ XLSX

constexpr int kMaxSheetColumns = 16384;
constexpr int64_t kMaxSheetRows = 1048576;
constexpr size_t kMaxCellStyles = 1 << 20;
constexpr uint64_t kMaxSharedStringBytes = uint64_t{1} << 30;

class TXlsxSource final : public TImportSource {
 public:
  explicit TXlsxSource(const std::string& path);
  const std::vector<std::string>& ColumnNames() const override { return columns_; }
  bool Next(std::vector<TImportCell>& row) override;
  int64_t RowNumber() const override { return rowNumber_; }
  double Progress() const override { return sheet_ ? sheet_->Progress() : 1.0; }

 private:
  void ReadWorkbook(const std::string& workbookPart, std::string& sheetPart, std::string& stringsPart,
                    std::string& stylesPart);
  void ReadStyles(const TZipEntry& entry);
  void ReadSharedStrings(const TZipEntry& entry);
  bool ReadRow(std::vector<TImportCell>& cells);
  void ReadCell(std::vector<TImportCell>& cells, int& lastColumn, int64_t row);
  void MakeCell(TImportCell& cell, const std::string& ref, const std::string& type, int style,
                const std::string& value, const std::string& inlineText);

  std::string path_;
  std::unique_ptr<TZipArchive> zip_;
  std::unique_ptr<TXmlPart> sheet_;
  bool date1904_ = false;
  std::vector<bool> dateStyles_;
  // Shared strings one after another, each from its offset to the next.
  std::string strings_;
  std::vector<uint64_t> stringStarts_;
  std::vector<std::string> columns_;
  int64_t rowNumber_ = 0;
  int64_t lastRow_ = 0;
  bool ended_ = false;
};

TXlsxSource::TXlsxSource(const std::string& path) : path_(path) {
  zip_ = std::make_unique<TZipArchive>(path);

  std::string workbookPart = "xl/workbook.xml";
  if (const TZipEntry* rels = zip_->Find("_rels/.rels")) {
    for (const auto& [id, rel] : ReadRelationships(*zip_, *rels)) {
      if (EndsWith(rel.type, "/officeDocument")) workbookPart = ResolvePart("", rel.target);
    }
  }
  std::string sheetPart, stringsPart, stylesPart;
  ReadWorkbook(workbookPart, sheetPart, stringsPart, stylesPart);
  if (const TZipEntry* styles = zip_->Find(stylesPart)) ReadStyles(*styles);
  if (const TZipEntry* strings = zip_->Find(stringsPart)) ReadSharedStrings(*strings);
  const TZipEntry* sheet = zip_->Find(sheetPart);
  if (sheet == nullptr) zip_->Damaged("its first sheet " + sheetPart + " is missing.");
  sheet_ = std::make_unique<TXmlPart>(*zip_, *sheet);

  std::vector<TImportCell> header;
  if (ReadRow(header)) {
    std::vector<std::string> texts;
    for (const auto& cell : header) texts.push_back(cell.text);
    columns_ = HeaderNames(texts);
  }
}

void TXlsxSource::ReadWorkbook(const std::string& workbookPart, std::string& sheetPart, std::string& stringsPart,
                               std::string& stylesPart) {
  const TZipEntry* workbook = zip_->Find(workbookPart);
  if (workbook == nullptr) {
    throw EExportError("The file " + path_ + " is not an Excel workbook (.xlsx): it has no " + workbookPart + ".");
  }
  std::string firstSheetId;
  bool haveSheet = false;
  {
    TXmlPart part(*zip_, *workbook);
    for (auto token = part.Next(); token != QXmlStreamReader::EndDocument; token = part.Next()) {
      if (token != QXmlStreamReader::StartElement) continue;
      if (Is(part.Xml(), u"workbookPr")) {
        const std::string flag = Attribute(part.Xml(), "date1904");
        date1904_ = flag == "1" || flag == "true";
      } else if (Is(part.Xml(), u"sheet") && !haveSheet) {
        haveSheet = true;
        firstSheetId = RelationshipId(part.Xml());
      }
    }
  }
  if (!haveSheet) throw EExportError("The workbook " + path_ + " has no sheets.");

  const std::string baseDir = DirectoryOf(workbookPart);
  sheetPart = baseDir + "worksheets/sheet1.xml";
  stringsPart = baseDir + "sharedStrings.xml";
  stylesPart = baseDir + "styles.xml";
  const std::string relsPart = baseDir + "_rels/" + workbookPart.substr(baseDir.size()) + ".rels";
  if (const TZipEntry* rels = zip_->Find(relsPart)) {
    const auto relationships = ReadRelationships(*zip_, *rels);
    for (const auto& [id, rel] : relationships) {
      if (EndsWith(rel.type, "/sharedStrings")) stringsPart = ResolvePart(baseDir, rel.target);
      if (EndsWith(rel.type, "/styles")) stylesPart = ResolvePart(baseDir, rel.target);
    }
    auto sheet = relationships.find(firstSheetId);
    if (sheet == relationships.end()) zip_->Damaged("its first sheet has no part.");
    sheetPart = ResolvePart(baseDir, sheet->second.target);
  }
}

void TXlsxSource::ReadStyles(const TZipEntry& entry) {
  std::map<int, std::string> customFormats;
  std::vector<int> xfFormats;
  bool inCellXfs = false;
  TXmlPart part(*zip_, entry);
  for (auto token = part.Next(); token != QXmlStreamReader::EndDocument; token = part.Next()) {
    const QXmlStreamReader& xml = part.Xml();
    if (token == QXmlStreamReader::StartElement) {
      if (Is(xml, u"numFmt")) {
        if (customFormats.size() >= kMaxCellStyles) part.Damaged("it has more number formats than Excel allows.");
        customFormats[xml.attributes().value(QLatin1StringView("numFmtId")).toInt()] = Attribute(xml, "formatCode");
      } else if (Is(xml, u"cellXfs")) {
        inCellXfs = true;
      } else if (Is(xml, u"xf") && inCellXfs) {
        if (xfFormats.size() >= kMaxCellStyles) part.Damaged("it has more cell styles than Excel allows.");
        xfFormats.push_back(xml.attributes().value(QLatin1StringView("numFmtId")).toInt());
      }
    } else if (token == QXmlStreamReader::EndElement && Is(xml, u"cellXfs")) {
      inCellXfs = false;
    }
  }
  dateStyles_.reserve(xfFormats.size());
  for (const int id : xfFormats) {
    auto custom = customFormats.find(id);
    dateStyles_.push_back(custom != customFormats.end() ? IsDateFormatCode(custom->second) : IsBuiltInDateFormat(id));
  }
}

void TXlsxSource::ReadSharedStrings(const TZipEntry& entry) {
  TXmlPart part(*zip_, entry);
  std::string current;
  bool inItem = false, inText = false;
  int phonetic = 0;  // inside <rPh>: a reading aid, not part of the text
  for (auto token = part.Next(); token != QXmlStreamReader::EndDocument; token = part.Next()) {
    const QXmlStreamReader& xml = part.Xml();
    if (token == QXmlStreamReader::StartElement) {
      if (Is(xml, u"si")) {
        inItem = true;
        current.clear();
      } else if (Is(xml, u"rPh")) {
        ++phonetic;
      } else if (Is(xml, u"t") && inItem && phonetic == 0) {
        inText = true;
      }
    } else if (token == QXmlStreamReader::EndElement) {
      if (Is(xml, u"t")) {
        inText = false;
      } else if (Is(xml, u"rPh")) {
        phonetic = std::max(0, phonetic - 1);
      } else if (Is(xml, u"si") && inItem) {
        inItem = false;
        stringStarts_.push_back(strings_.size());
        strings_ += Unescaped(current);
        if (strings_.size() > kMaxSharedStringBytes) part.Damaged("its shared strings pass 1 GB.");
      }
    } else if (token == QXmlStreamReader::Characters && inText) {
      AppendText(current, xml.text());
      if (current.size() > kMaxSharedStringBytes) part.Damaged("its shared strings pass 1 GB.");
    }
  }
}

// The column of a reference such as "B7" (1), or -1 when it is not one.
int ColumnOfReference(const std::string& ref) {
  int column = 0;
  size_t i = 0;
  for (; i < ref.size() && i < 4 && ref[i] >= 'A' && ref[i] <= 'Z'; ++i) column = column * 26 + (ref[i] - 'A' + 1);
  if (i == 0 || i > 3) return -1;
  for (size_t k = i; k < ref.size(); ++k)
    if (ref[k] < '0' || ref[k] > '9') return -1;
  return column - 1;
}

bool TXlsxSource::ReadRow(std::vector<TImportCell>& cells) {
  while (!ended_) {
    const auto token = sheet_->Next();
    const QXmlStreamReader& xml = sheet_->Xml();
    if (token == QXmlStreamReader::EndDocument ||
        (token == QXmlStreamReader::EndElement && Is(xml, u"sheetData"))) {
      ended_ = true;
      break;
    }
    if (token != QXmlStreamReader::StartElement || !Is(xml, u"row")) continue;

    const std::string r = Attribute(xml, "r");
    int64_t row = lastRow_ + 1;
    if (!r.empty()) {
      const auto parsed = std::from_chars(r.data(), r.data() + r.size(), row);
      if (parsed.ec != std::errc() || parsed.ptr != r.data() + r.size()) sheet_->Damaged("row number \"" + r + "\".");
    }
    if (row < 1 || row > kMaxSheetRows) sheet_->Damaged("row " + Grouped(row) + " lies outside a sheet.");
    // Rows come in order; a file that repeats them could make reading last
    // without end.
    if (row <= lastRow_) sheet_->Damaged("row " + Grouped(row) + " comes after row " + Grouped(lastRow_) + ".");
    lastRow_ = row;
    cells.clear();
    int lastColumn = -1;
    for (;;) {
      const auto inner = sheet_->Next();
      if (inner == QXmlStreamReader::EndDocument) sheet_->Damaged("row " + Grouped(row) + " is never closed.");
      if (inner == QXmlStreamReader::EndElement && Is(xml, u"row")) break;
      if (inner == QXmlStreamReader::StartElement && Is(xml, u"c")) ReadCell(cells, lastColumn, row);
    }
    if (std::any_of(cells.begin(), cells.end(), [](const TImportCell& c) { return !c.empty; })) {
      rowNumber_ = row;
      return true;
    }
  }
  return false;
}

void TXlsxSource::ReadCell(std::vector<TImportCell>& cells, int& lastColumn, int64_t row) {
  const QXmlStreamReader& xml = sheet_->Xml();
  std::string ref = Attribute(xml, "r");
  const std::string type = Attribute(xml, "t");
  const std::string styleText = Attribute(xml, "s");
  int column = lastColumn + 1;
  if (!ref.empty()) {
    column = ColumnOfReference(ref);
    if (column < 0) sheet_->Damaged("row " + Grouped(row) + " has a cell reference \"" + ref + "\".");
  } else {
    ref = "column " + std::to_string(column + 1) + " of row " + std::to_string(row);
  }
  if (column >= kMaxSheetColumns) sheet_->Damaged("cell " + ref + " lies past the last column of a sheet.");
  lastColumn = column;
  int style = -1;
  if (!styleText.empty()) std::from_chars(styleText.data(), styleText.data() + styleText.size(), style);

  std::string value, inlineText;
  bool inValue = false, inInline = false, inText = false;
  int phonetic = 0;
  for (;;) {
    const auto token = sheet_->Next();
    if (token == QXmlStreamReader::EndDocument) sheet_->Damaged("cell " + ref + " is never closed.");
    if (token == QXmlStreamReader::StartElement) {
      if (Is(xml, u"v")) inValue = true;
      else if (Is(xml, u"is")) inInline = true;
      else if (Is(xml, u"rPh")) ++phonetic;
      else if (Is(xml, u"t") && inInline && phonetic == 0) inText = true;
    } else if (token == QXmlStreamReader::EndElement) {
      if (Is(xml, u"c")) break;
      if (Is(xml, u"v")) inValue = false;
      else if (Is(xml, u"is")) inInline = false;
      else if (Is(xml, u"rPh")) phonetic = std::max(0, phonetic - 1);
      else if (Is(xml, u"t")) inText = false;
    } else if (token == QXmlStreamReader::Characters) {
      if (inValue) AppendText(value, xml.text());
      else if (inText) AppendText(inlineText, xml.text());
    }
  }
  TImportCell cell;
  MakeCell(cell, ref, type, style, value, inlineText);
  // Writers mark blank cells for their formatting out to the last column;
  // only a value widens the row.
  if (cell.empty) {
    if (static_cast<size_t>(column) < cells.size()) cells[static_cast<size_t>(column)] = TImportCell{};
    return;
  }
  if (static_cast<size_t>(column) >= cells.size()) cells.resize(static_cast<size_t>(column) + 1);
  cells[static_cast<size_t>(column)] = std::move(cell);
}

void TXlsxSource::MakeCell(TImportCell& cell, const std::string& ref, const std::string& type, int style,
                           const std::string& value, const std::string& inlineText) {
  auto setText = [&cell](std::string text) {
    cell.empty = text.empty();
    cell.text = std::move(text);
  };
  if (type == "s") {
    const std::string trimmed = Trimmed(value);
    if (trimmed.empty()) return;
    uint64_t index = 0;
    const auto parsed = std::from_chars(trimmed.data(), trimmed.data() + trimmed.size(), index);
    if (parsed.ec != std::errc() || parsed.ptr != trimmed.data() + trimmed.size()) {
      sheet_->Damaged("cell " + ref + " names shared string \"" + value + "\".");
    }
    if (index >= stringStarts_.size()) {
      sheet_->Damaged("cell " + ref + " refers to shared string " + Grouped(static_cast<int64_t>(index)) +
                      ", but there are " + Grouped(static_cast<int64_t>(stringStarts_.size())) + ".");
    }
    const uint64_t start = stringStarts_[index];
    const uint64_t end = index + 1 < stringStarts_.size() ? stringStarts_[index + 1] : strings_.size();
    setText(strings_.substr(start, end - start));
  } else if (type == "inlineStr") {
    setText(Unescaped(inlineText));
  } else if (type == "str" || type == "e") {
    setText(Unescaped(value));
  } else if (type == "b") {
    const std::string v = Trimmed(value);
    if (v.empty()) return;
    cell.isBool = true;
    cell.boolean = v == "1" || v == "true";
    setText(cell.boolean ? "True" : "False");
  } else if (type == "d") {
    const std::string v = Trimmed(value);
    if (!v.empty() && !ParseIsoDate(v, cell)) setText(v);
  } else {
    const std::string v = Trimmed(value);
    if (v.empty()) return;
    double number = 0;
    const auto parsed = std::from_chars(v.data(), v.data() + v.size(), number);
    if (parsed.ec != std::errc() || parsed.ptr != v.data() + v.size() || !std::isfinite(number)) {
      sheet_->Damaged("cell " + ref + " holds \"" + v.substr(0, 40) + "\" where a number belongs.");
    }
    const bool dated = style >= 0 && static_cast<size_t>(style) < dateStyles_.size() && dateStyles_[style];
    if (dated && SerialToDate(number, date1904_, cell)) return;
    cell.isNumber = true;
    cell.number = number;
    // The digits Excel shows: 15 significant, never the binary noise of 17.
    char text[64];
    std::snprintf(text, sizeof text, "%.15g", number);
    setText(text);
  }
}

bool TXlsxSource::Next(std::vector<TImportCell>& row) {
  if (!ReadRow(row)) return false;
  if (row.size() < columns_.size()) row.resize(columns_.size());
  return true;
}

}  // namespace

std::unique_ptr<TImportSource> OpenCsvSource(const std::string& path, const TCsvImportOptions& options) {
  return std::make_unique<TCsvSource>(path, options);
}

std::unique_ptr<TImportSource> OpenXlsxSource(const std::string& path) { return std::make_unique<TXlsxSource>(path); }

std::vector<std::string> CsvEncodings() {
  static const char* const kOffered[] = {"UTF-8",        "UTF-16LE",     "UTF-16BE",     "windows-1252",
                                         "ISO-8859-1",   "ISO-8859-15",  "IBM850",       "IBM437",
                                         "IBM852",       "IBM866",       "windows-1250", "windows-1251",
                                         "windows-1253", "windows-1254", "KOI8-R",       "Shift_JIS",
                                         "GBK",          "Big5"};
  std::vector<std::string> out;
  for (const char* name : kOffered)
    if (QStringDecoder(name).isValid()) out.emplace_back(name);
  return out;
}

}  // namespace norvale
