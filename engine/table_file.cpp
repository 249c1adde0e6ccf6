#include "engine/table_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <dirent.h>

#include "engine/byte_order.h"
#include "engine/dbf_format.h"
#include "engine/exceptions.h"
#include "engine/file_swap.h"
#include "engine/globals.h"
#include "engine/language.h"
#include "engine/messages.h"
#include "platform/code_page_detect.h"
#include "platform/os_file.h"
#include "platform/os_misc.h"
#include "platform/ascii.h"

namespace norvale {

namespace {

using namespace fmt;

TXBaseVersion RecogniseVersion(uint8_t b, uint8_t languageByte) {
  switch (b & 7) {
    case 2:
    case 5:
      return xFoxPro;
    case 3:
      return languageByte ? xBaseIV : xBaseIII;
    case 4:
      return xBaseVII;
    default:
      break;
  }
  if (b == 0x30 || b == 0x31) return xFoxPro;
  return xUnknown;
}

int ThreeDigitNumber(const uint8_t* p) {
  int v = 0;
  for (int i = 0; i < 3; ++i) {
    if (p[i] < '0' || p[i] > '9') return 0;
    v = v * 10 + (p[i] - '0');
  }
  return v;
}

}  // namespace

const char* VersionByteDescription(uint8_t versionByte) {
  switch (versionByte) {
    case 0x02: return "FoxBASE";
    case 0x03: return "FoxBASE+/Dbase III plus, no memo";
    case 0x30: return "Visual FoxPro";
    case 0x31: return "Visual FoxPro, autoincrement enabled";
    case 0x43: return "dBASE IV SQL table files, no memo";
    case 0x63: return "dBASE IV SQL system files, no memo";
    case 0x83: return "FoxBASE+/dBASE III PLUS, with memo";
    case 0x8B: return "dBASE IV with memo";
    case 0xCB: return "dBASE IV SQL table files, with memo";
    case 0xF5: return "FoxPro 2.x (or earlier) with memo";
    case 0xFB: return "FoxBASE";
    case 0x05: return "EXCLUSIVE MODE";
    default: return "Unknown";
  }
}

std::string FindCompanionFile(const std::string& tablePath, const std::string& ext) {
  if (tablePath.empty()) return {};  // a table in memory has no companions
  const size_t slash = tablePath.find_last_of('/');
  const size_t dot = tablePath.find_last_of('.');
  const std::string base = (dot != std::string::npos && (slash == std::string::npos || dot > slash))
                               ? tablePath.substr(0, dot)
                               : tablePath;
  for (const std::string& candidate : {base + AsciiLower(ext), base + AsciiUpper(ext)})
    if (TOsFile::Exists(candidate)) return candidate;
  const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : tablePath.substr(0, slash));
  const std::string wanted = AsciiLower((slash == std::string::npos ? base : base.substr(slash + 1)) + ext);
  std::string found;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      if (AsciiLower(e->d_name) == wanted) {
        found = (slash == std::string::npos ? std::string() : tablePath.substr(0, slash + 1)) + e->d_name;
        if (TOsFile::Exists(found)) break;
        found.clear();
      }
    }
    closedir(d);
  }
  return found;
}

TDbfFile::TDbfFile() { fieldDefs_.SetCurrencyAsBCD(TDbfGlobals::Instance().CurrencyAsBCD()); }

TDbfFile::~TDbfFile() {
  try {
    Close();
  } catch (...) {
  }
}

uint32_t TDbfFile::RecordCount() const { return header_.size() >= 8 ? GetLE32(header_.data() + kRecordCount) : 0; }

void TDbfFile::SetRecordCount(uint32_t count) {
  if (header_.size() >= 8) PutLE32(header_.data() + kRecordCount, count);
}

bool TDbfFile::HasMemoFields() const {
  for (int i = 0; i < fieldDefs_.Count(); ++i)
    if (fieldDefs_.Item(i).IsMemoField()) return true;
  return false;
}

TDbfFieldDef* TDbfFile::FieldDefByName(const std::string& name) {
  const std::string wanted = AsciiUpper(name);
  for (int i = 0; i < fieldDefs_.Count(); ++i)
    if (fieldDefs_.Item(i).FieldName() == wanted) return &fieldDefs_.Item(i);
  return nullptr;
}

std::string TDbfFile::LanguageDriverName() const {
  if (version_ != xBaseVII || header_.size() < kDriverName + kDriverNameSize) return {};
  const char* p = reinterpret_cast<const char*>(header_.data() + kDriverName);
  return std::string(p, strnlen(p, kDriverNameSize));
}

void TDbfFile::SetRecordSize(int size) {
  TPagedFile::SetRecordSize(size);
  prevRecord_.assign(static_cast<size_t>(std::max(size, 0)), ' ');
}

void TDbfFile::Open() {
  if (IsOpen()) return;
  giveUp_ = false;
  // A pack or restructure that a crash interrupted is finished or undone
  // before anything reads the files it was replacing.
  if (mode_ != amMemoryCreate && mode_ != amMemoryOpen && !fileName_.empty()) TFileSwap::Recover(fileName_);
  TPagedFile::Open();
  changeBegun_ = false;
  unlinkIndex_ = false;
  unmaintainedIndex_.clear();
  if (!ModeCreates(mode_)) {
    // Under the header lock, so that a count another program is changing
    // meanwhile is not read half-way.
    const bool locked = shared_ && AcquirePageLock(0, true);
    try {
      ReadHeaderAndFields();
    } catch (...) {
      headerModified_ = false;  // nothing of a refused file is written back
      if (locked) ReleasePageLock(0);
      memoFile_.reset();
      TPagedFile::Close();
      throw;
    }
    if (locked) ReleasePageLock(0);
  }
  for (TTableIndex* index : indexes_) index->Reopen();
}

void TDbfFile::ReadHeaderAndFields() {
  SetHeaderSize(kMainHeaderSize);
  if (fileSize_ < kMainHeaderSize) throw EDbfError(msg::kInvalidDbfFile);
  version_ = RecogniseVersion(header_[kVersion], header_[kLanguageId]);
  if (version_ == xUnknown) throw EDbfError(msg::kInvalidDbfFile);
  fieldDefs_.SetVersion(version_);
  codec_.version = version_;

  const int recordLength = GetLE16(header_.data() + kRecordLength);
  const int headerLength = GetLE16(header_.data() + kHeaderLength);
  SetRecordSize(recordLength);
  SetHeaderSize(headerLength);
  if (headerLength == 0 || recordLength == 0) {
    SetRecordSize(0);
    SetHeaderSize(0);
    giveUp_ = true;
    return;
  }
  // Everything below reads the main header (language byte, driver name), so
  // a header length that does not even cover it is a damaged file.
  if (headerLength < (version_ == xBaseVII ? kMainHeaderSizeVII : kMainHeaderSize))
    throw EDbfError(msg::kInvalidDbfFile);

  headerRecordCountAtOpen_ = RecordCount();
  DetermineCodePage();
  ReadFieldDescriptors();
  OpenCompanions();
  CorrectHeader();
  ResolveCodePage();
  // What the open repaired is used, not written: a table nobody changed
  // keeps its bytes and its modification time.
  headerModified_ = false;
}

void TDbfFile::CorrectHeader() {
  if (headerSize_ == 0 || recordSize_ == 0) return;
  const int64_t byFileSize = std::max<int64_t>((fileSize_ - headerSize_) / recordSize_, 0);
  SetRecordCount(static_cast<uint32_t>(std::min<int64_t>(byFileSize, UINT32_MAX)));
  if (version_ != xFoxPro) {
    if (HasMemoFields())
      header_[kVersion] |= kMemoBit;
    else
      header_[kVersion] &= static_cast<uint8_t>(~kMemoBit);
    if (unlinkIndex_) header_[kIndexFlag] = 0;
  }
}

void TDbfFile::BeginChange() {
  if (changeBegun_ || !ModeWritable(mode_)) return;
  changeBegun_ = true;
  const bool locked = AcquirePageLock(0, true);
  // Another program may have changed the header since the open.
  ReloadHeader();
  if (stream_) {
    fileSize_ = stream_->Size();
    pageCountStale_ = true;
  }
  CorrectHeader();
  StoreHeader();
  FlushHeader();
  if (locked) ReleasePageLock(0);
  if (WriteError()) {
    ClearWriteError();
    changeBegun_ = false;
    throw EDbfWriteError(msg::kWriteError);
  }
}

void TDbfFile::DetermineCodePage() {
  fileCodePage_ = 0;
  if (version_ != xBaseVII) {
    languageId_ = header_[kLanguageId];
    fileCodePage_ = LanguageEntry(languageId_).codePage;
  } else {
    const uint8_t* name = header_.data() + kDriverName;
    if (header_.size() >= kDriverName + kDriverNameSize) {
      if (name[0] == 'D' && name[1] == 'B') {
        if (std::memcmp(name + 2, "WIN", 3) == 0) {
          fileCodePage_ = 1252;
        } else if (std::memcmp(name + 2, "HEBREW", 6) == 0) {
          fileCodePage_ = 1255;
        } else {
          fileCodePage_ = ThreeDigitNumber(name + 2);
          if (fileCodePage_ && name[5] >= '0' && name[5] <= '9') fileCodePage_ = fileCodePage_ * 10 + (name[5] - '0');
        }
      } else if (name[0] == 'F' && name[1] == 'O' && name[2] == 'X') {
        fileCodePage_ = std::memcmp(name + 5, "WIN", 3) == 0 ? 1252 : ThreeDigitNumber(name + 5);
      }
    }
    // A damaged name must not make the table unreadable: it names no driver.
    try {
      languageId_ = static_cast<uint8_t>(LanguageIdFromName(LanguageDriverName()));
    } catch (const EConvertError&) {
      languageId_ = 0;
    }
  }
  useCodePage_ = fileCodePage_ ? fileCodePage_ : TDbfGlobals::Instance().DefaultCodePage();
}

void TDbfFile::ResolveCodePage() {
  codePageConfidence_ = 0;
  codePageNote_.clear();
  cpgFileName_ = FindCompanionFile(fileName_, ".cpg");
  if (chosenCodePage_ > 0) {
    useCodePage_ = chosenCodePage_;
    codePageSource_ = cpsChosen;
    return;
  }
  if (!cpgFileName_.empty()) {
    TOsFile cpg;
    char text[128];
    int64_t got = -1;
    if (cpg.Open(cpgFileName_, false, TShareMode::kDenyNone, false)) got = cpg.ReadAt(0, text, sizeof text);
    const int named = got > 0 ? CodePageFromName(std::string_view(text, static_cast<size_t>(got))) : 0;
    if (named > 0) {
      useCodePage_ = named;
      codePageSource_ = cpsCpgFile;
      return;
    }
    codePageNote_ = "the .cpg file names no code page known here";
  }
  if (fileCodePage_ > 0) {
    useCodePage_ = fileCodePage_;
    codePageSource_ = cpsLanguageDriver;
    return;
  }
  useCodePage_ = TDbfGlobals::Instance().DefaultCodePage();
  codePageSource_ = cpsDefault;
  // Only a table that names no driver at all is examined: a driver byte,
  // even one naming a page we cannot convert, is the writer's word.
  const bool namesNone = languageId_ == 0 && (version_ == xBaseVII || header_[kLanguageId] == 0);
  if (!namesNone || !detectCodePage_) return;
  const TCodePageGuess guess = DetectTableCodePage(*this);
  if (guess.codePage > 0) {
    useCodePage_ = guess.codePage;
    codePageSource_ = cpsDetected;
    codePageConfidence_ = guess.confidence;
  } else if (codePageNote_.empty()) {
    codePageNote_ = guess.asciiOnly ? "the text is ASCII" : "detection was not sure";
  }
}

std::string TDbfFile::CodePageSourceText() const {
  switch (codePageSource_) {
    case cpsChosen:
      return "chosen";
    case cpsCpgFile:
      return ".cpg file";
    case cpsLanguageDriver: {
      if (version_ == xBaseVII) return "language driver " + LanguageDriverName();
      char hex[8];
      std::snprintf(hex, sizeof hex, "0x%02X", header_.size() > kLanguageId ? header_[kLanguageId] : 0);
      return std::string("language driver ") + hex;
    }
    case cpsDetected: {
      char text[48];
      std::snprintf(text, sizeof text, "detected (confidence %.2f)", codePageConfidence_);
      return text;
    }
    case cpsDefault:
      break;
  }
  return codePageNote_.empty() ? "default" : "default (" + codePageNote_ + ")";
}

namespace {

// The driver id that names `codePage` for a table of `family`: one of that
// family, of the current driver's locale when there is one; else one of the
// other family (readers take a dBASE table's 0xC9 for 1251 all the same);
// 0 for none.
int DriverIdFor(int codePage, TLanguageFamily family, int currentId) {
  const uint32_t locale = LanguageEntry(currentId).localeId & 0xFFFF;
  int first = 0, other = 0;
  for (int id = 1; id < 256; ++id) {
    const TLanguageEntry& e = LanguageEntry(id);
    if (e.codePage != codePage) continue;
    if (LanguageFamily(id) != family) {
      if (!other) other = id;
      continue;
    }
    if (locale && (e.localeId & 0xFFFF) == locale) return id;
    if (!first) first = id;
  }
  return first ? first : other;
}

}  // namespace

void TDbfFile::WriteCodePage(int codePage) {
  if (!IsOpen() || !ModeWritable(mode_) || shared_) throw EDbfError(msg::kExclusiveRequired);
  if (codePage <= 0) throw EDbfError(FormatMessage(msg::kCodePageUnknown, codePage));
  std::string driverName;
  int id = 0;
  if (version_ == xBaseVII) {
    driverName = LanguageNameFor(codePage, LanguageEntry(languageId_).localeId, false);
    id = driverName.empty() ? 0 : LanguageIdFromName(driverName);
  } else {
    id = DriverIdFor(codePage, version_ == xFoxPro ? lfFoxPro : lfDBase, languageId_);
  }
  // The .cpg first: when it cannot be written the header still names the
  // page it named, and the two never disagree.
  if (!cpgFileName_.empty() || id == 0) WriteCpgFile(codePage);
  BeginChange();
  if (version_ == xBaseVII) {
    std::memset(header_.data() + kDriverName, 0, kDriverNameSize);
    std::memcpy(header_.data() + kDriverName, driverName.data(), std::min<size_t>(driverName.size(), kDriverNameSize));
  } else {
    header_[kLanguageId] = static_cast<uint8_t>(id);
  }
  headerModified_ = true;
  StoreHeader();
  FlushHeader();
  if (WriteError()) {
    ClearWriteError();
    throw EDbfWriteError(msg::kWriteError);
  }
  languageId_ = static_cast<uint8_t>(id);
  fileCodePage_ = id ? LanguageEntry(id).codePage : 0;
  if (version_ == xBaseVII) fileCodePage_ = id ? codePage : 0;
  chosenCodePage_ = 0;
  useCodePage_ = codePage;
  codePageSource_ = id ? cpsLanguageDriver : cpsCpgFile;
  codePageConfidence_ = 0;
  codePageNote_.clear();
}

void TDbfFile::WriteCpgFile(int codePage) {
  std::string path = cpgFileName_;
  if (path.empty()) {
    const size_t slash = fileName_.find_last_of('/');
    const size_t dot = fileName_.find_last_of('.');
    const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    path = (hasExt ? fileName_.substr(0, dot) : fileName_) + ".cpg";
  }
  std::string error;
  if (!TOsFile::ReplaceContents(path, CpgTextFor(codePage) + "\n", error))
    throw EDbfWriteError(FormatMessage(msg::kCpgWriteError, path.c_str(), error.c_str()));
  cpgFileName_ = path;
}

void TDbfFile::ReadFieldDescriptors() {
  fieldDefs_.Clear();
  lockField_ = nullptr;
  nullFlagsField_ = nullptr;
  codec_.nullFlagsField = nullptr;
  autoIncPresent_ = false;
  const bool vii = version_ == xBaseVII;
  const int d = vii ? kDescriptorSizeVII : kDescriptorSize;
  const int h = vii ? kMainHeaderSizeVII : kMainHeaderSize;
  const int headerLength = headerSize_;
  const int expected = (headerLength - h) / d;
  if (headerLength > h && header_[static_cast<size_t>(h)] == kTerminator)
    throw EDbfError(FormatMessage(msg::kInvalidFieldCount, 0));
  // The descriptors must lie inside the header, the first one included.
  if (expected < 1) throw EDbfError(msg::kInvalidDbfFile);

  const std::string computerName = TDbfGlobals::Instance().ComputerName();
  int offset = 1;
  int nullPosition = 0;
  int count = 0;
  for (int i = 1;; ++i) {
    const uint8_t* p = header_.data() + h + (i - 1) * d;
    const int nameLength = vii ? kFieldNameSizeVII : kFieldNameSize;
    std::string name = AsciiUpper(std::string(reinterpret_cast<const char*>(p), strnlen(reinterpret_cast<const char*>(p), nameLength)));
    char letter;
    int length, decimals;
    int32_t autoInc = 0;
    bool nullable = false;
    if (vii) {
      letter = static_cast<char>(p[kFieldTypeVII]);
      length = p[kFieldLengthVII];
      decimals = p[kFieldDecimalsVII];
      autoInc = static_cast<int32_t>(GetLE32(p + kAutoIncNextVII));
      if (letter == '+') autoIncPresent_ = true;
    } else {
      letter = static_cast<char>(p[kFieldType]);
      length = p[kFieldLength];
      decimals = p[kFieldDecimals];
      if (version_ == xFoxPro) {
        if (letter == 'C' || letter == 'c') {
          length = p[kFieldLength] + 256 * p[kFieldDecimals];
          decimals = 0;
        }
        if (letter == '+') autoInc = static_cast<int32_t>(GetLE32(p + kFoxAutoIncNext));
        nullable = (p[kFieldFlags] & kFieldNullable) && name != "_NULLFLAGS";
      }
    }

    TDbfFieldDef& def = fieldDefs_.Add();
    def.SetFieldName(name);
    def.SetOffset(offset);
    def.SetStoredSize(length, decimals);
    def.SetAutoIncNext(autoInc);
    def.SetNativeFieldType(letter);
    def.SetStoredSize(length, decimals);
    def.SetNullPosition(nullable ? nullPosition++ : -1);
    if (name.empty() || def.FieldType() == ftUnknown) throw EDbfError(msg::kInvalidFieldType);
    // A field reaching past the record would make every read of it unsafe.
    if (length < 0 || offset + length > recordSize_) throw EDbfError(msg::kInvalidDbfFile);

    if (name == "_DBASELOCK") {
      lockField_ = &def;
      userNameLength_ = std::clamp(length - 8, 0, static_cast<int>(computerName.size()));
    } else if (name == "_NULLFLAGS") {
      nullFlagsField_ = &def;
    }
    offset += length;
    ++count;
    if (!(i < expected && header_[static_cast<size_t>(h + i * d)] != kTerminator)) break;
  }
  if (count > kMaxFields) throw EDbfError(FormatMessage(msg::kInvalidFieldCount, count));
  codec_.nullFlagsField = nullFlagsField_;
  // The dBASE 7 properties structure follows the terminator.
  if (vii) ReadFieldProperties(h + count * d + 1);
  SetRecordSize(GetLE16(header_.data() + kRecordLength));
}

void TDbfFile::ReadFieldProperties(int position) {
  const int headerLength = headerSize_;
  if (position + kPropertiesHeaderSize >= headerLength) return;
  const uint8_t* base = header_.data() + position;
  const int entries = GetLE16(base + kPropertyCount);
  const int start = GetLE16(base + kPropertyStart);
  for (int j = 0; j < entries; ++j) {
    const int64_t at = int64_t(position) + start + kPropertyEntrySize * j;
    if (at + kPropertyEntrySize > headerLength) break;
    const uint8_t* e = header_.data() + at;
    const int fieldNo = GetLE16(e + kPropertyField);
    if (fieldNo == 0 || fieldNo > fieldDefs_.Count()) continue;
    TDbfFieldDef& def = fieldDefs_.Item(fieldNo - 1);
    const int kind = e[kPropertyKind];
    if (kind == kPropertyRequired) {
      def.SetRequired(true);
      continue;
    }
    if (kind < kPropertyMinimum || kind > kPropertyDefault || def.Size() <= 0) continue;
    const int64_t dataAt = int64_t(position) + GetLE16(e + kPropertyDataOffset);
    int length = std::min<int>(GetLE16(e + kPropertyDataLength), def.Size());
    if (dataAt < 0 || dataAt >= headerLength) continue;
    length = static_cast<int>(std::min<int64_t>(length, headerLength - dataAt));
    uint8_t* area = kind == kPropertyMinimum ? def.MinBuf() : kind == kPropertyMaximum ? def.MaxBuf() : def.DefaultBuf();
    std::memcpy(area, header_.data() + dataAt, static_cast<size_t>(length));
    if (kind == kPropertyMinimum) def.SetHasMin(true);
    if (kind == kPropertyMaximum) def.SetHasMax(true);
    if (kind == kPropertyDefault) def.SetHasDefault(true);
  }
}

void TDbfFile::OpenCompanions() {
  memoFileName_.clear();
  if (HasMemoFields()) {
    memoFileName_ = FindCompanionFile(fileName_, version_ == xFoxPro ? ".fpt" : ".dbt");
    OpenMemoFile();
  }

  if (version_ != xFoxPro && header_[kIndexFlag] != 0) {
    const std::string mdx = FindCompanionFile(fileName_, ".mdx");
    if (mdx.empty()) {
      bool deleteLink = true;
      if (OnIndexMissing) OnIndexMissing(deleteLink);
      if (deleteLink)
        unlinkIndex_ = true;
      else
        giveUp_ = true;
    } else {
      unmaintainedIndex_ = mdx;
    }
  } else if (version_ == xFoxPro && (header_[kIndexFlag] & kFoxStructuralIndex)) {
    // The structural compound index: FoxPro opens it with the table.
    unmaintainedIndex_ = FindCompanionFile(fileName_, ".cdx");
  }
}

void TDbfFile::OpenMemoFile() {
  if (memoFileName_.empty()) {
    // Named as the file would be, so that a refused write can say which one
    // is missing.
    const std::string ext = version_ == xFoxPro ? ".fpt" : ".dbt";
    const size_t slash = fileName_.find_last_of('/');
    const size_t dot = fileName_.find_last_of('.');
    const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    memoFile_ = std::make_unique<TNullMemoFile>(version_, (hasExt ? fileName_.substr(0, dot) : fileName_) + ext);
  } else if (version_ == xFoxPro) {
    memoFile_ = std::make_unique<TFoxProMemoFile>(version_, 0);
  } else {
    memoFile_ = std::make_unique<TDbaseMemoFile>(version_, 0);
  }
  memoFile_->SetFileName(memoFileName_);
  memoFile_->SetMode(mode_);
  memoFile_->SetAutoCreate(false);
  memoFile_->Open();
}

void TDbfFile::AcquireExclusive() {
  TPagedFile::AcquireExclusive();
  // Only a table that really became exclusive takes its memo file along.
  if (ExclusiveUpgraded() && memoFile_) memoFile_->AcquireExclusive();
}

void TDbfFile::ReleaseExclusive() {
  if (memoFile_) memoFile_->ReleaseExclusive();
  TPagedFile::ReleaseExclusive();
}

void TDbfFile::Close() {
  if (!IsOpen()) return;
  for (TTableIndex* index : indexes_) index->CloseFile();
  memoFile_.reset();
  TPagedFile::Close();
  memoFileName_.clear();
  prevRecord_.clear();
  blankRecord_.clear();
  languageId_ = 0;
}

void TDbfFile::StoreHeader() {
  if (headerSize_ == 0) return;
  const TLocalTime now = LocalNow();
  header_[kUpdateYear] = static_cast<uint8_t>((now.year - 1900) & 0xFF);
  header_[kUpdateMonth] = static_cast<uint8_t>(now.month);
  header_[kUpdateDay] = static_cast<uint8_t>(now.day);
  TPagedFile::StoreHeader();
  const int64_t after = int64_t(RecordCount()) + 1;
  // When shared, an appender that finished ahead of a slower one may already
  // have written the record after our count. The last appender to count its
  // record puts the byte in its place.
  if (shared_ && PageCount() >= after) return;
  const uint8_t eof = kEofByte;
  WriteBytesAt(PageOffset(after), &eof, 1);
}

void TDbfFile::BlankRecord(uint8_t* buffer) {
  if (blankRecord_.size() != static_cast<size_t>(recordSize_)) {
    blankRecord_.assign(static_cast<size_t>(recordSize_), ' ');
    for (int i = 0; i < fieldDefs_.Count(); ++i) {
      TDbfFieldDef& f = fieldDefs_.Item(i);
      uint8_t* p = blankRecord_.data() + f.Offset();
      const size_t n = static_cast<size_t>(f.Size());
      const char t = f.NativeFieldType();
      if (&f == nullFlagsField_) {
        std::memset(p, 0xFF, n);
      } else if (t == '+' || t == '0' || t == '@' || t == 'I' || t == 'O' || t == 'Y' || f.IsBinaryBlockField() ||
                 (version_ == xFoxPro && (t == 'T' || t == 'B')) || (t == 'T' && f.Size() == 8)) {
        // Binary fields blank as zero bytes, which read as "no value". An
        // 8-byte "T" is binary at every version; spaces there would read as
        // a date in the year 1.4 million.
        std::memset(p, 0, n);
      }
    }
    for (int i = 0; i < fieldDefs_.Count(); ++i) {
      TDbfFieldDef& f = fieldDefs_.Item(i);
      if (!f.HasDefault()) continue;
      std::memcpy(blankRecord_.data() + f.Offset(), f.DefaultBuf(), static_cast<size_t>(f.Size()));
      if (nullFlagsField_ && f.NullPosition() >= 0 && f.NullPosition() / 8 < nullFlagsField_->Size())
        blankRecord_[static_cast<size_t>(nullFlagsField_->Offset() + f.NullPosition() / 8)] &=
            static_cast<uint8_t>(~(1u << (f.NullPosition() % 8)));
    }
  }
  // A given-up table has no record; there is nothing to copy.
  if (!blankRecord_.empty()) std::memcpy(buffer, blankRecord_.data(), blankRecord_.size());
}

void TDbfFile::StampLockField(uint8_t* buffer) {
  if (!lockField_ || lockField_->Size() < kLockUser) return;
  uint8_t* p = buffer + lockField_->Offset();
  PutLE16(p + kLockCounter, static_cast<uint16_t>(GetLE16(p + kLockCounter) + 1));
  const TLocalTime now = LocalNow();
  p[kLockHour] = static_cast<uint8_t>(now.hour);
  p[kLockMinute] = static_cast<uint8_t>(now.minute);
  p[kLockSecond] = static_cast<uint8_t>(now.second);
  p[kLockYear] = static_cast<uint8_t>((now.year - 1900) & 0xFF);
  p[kLockMonth] = static_cast<uint8_t>(now.month);
  p[kLockDay] = static_cast<uint8_t>(now.day);
  const int area = lockField_->Size() - kLockUser;
  std::memset(p + kLockUser, ' ', static_cast<size_t>(area));
  const std::string& name = TDbfGlobals::Instance().ComputerName();
  std::memcpy(p + kLockUser, name.data(), static_cast<size_t>(std::min({userNameLength_, area, static_cast<int>(name.size())})));
}

void TDbfFile::AssignAutoIncValues(uint8_t* buffer) {
  const bool fox = version_ == xFoxPro;
  bool any = false;
  for (int k = 0; k < fieldDefs_.Count(); ++k)
    if (fieldDefs_.Item(k).NativeFieldType() == '+') any = true;
  if (!any || (!autoIncPresent_ && !fox)) return;
  if (shared_) {
    AcquirePageLock(0, true);
    ReloadHeader();
  }
  for (int k = 0; k < fieldDefs_.Count(); ++k) {
    TDbfFieldDef& f = fieldDefs_.Item(k);
    if (f.NativeFieldType() != '+') continue;
    // FoxPro keeps the counter and its step in the descriptor as well.
    const size_t at = fox ? size_t(kMainHeaderSize + kDescriptorSize * k + kFoxAutoIncNext)
                          : size_t(kMainHeaderSizeVII + kDescriptorSizeVII * k + kAutoIncNextVII);
    if (at + 4 > header_.size()) continue;
    int32_t next = shared_ ? static_cast<int32_t>(GetLE32(header_.data() + at)) : f.AutoIncNext();
    int32_t step = fox && at + 5 <= header_.size() ? header_[at + (kFoxAutoIncStep - kFoxAutoIncNext)] : 1;
    if (step == 0) step = 1;
    codec_.Encode(f, ftAutoInc, false, buffer, &next);
    const int32_t following = static_cast<int32_t>(static_cast<uint32_t>(next) + static_cast<uint32_t>(step));
    f.SetAutoIncNext(following);
    PutLE32(header_.data() + at, static_cast<uint32_t>(following));
  }
  StoreHeader();
  if (shared_) ReleasePageLock(0);
}

void TDbfFile::RemoveIndex(TTableIndex* index) {
  indexes_.erase(std::remove(indexes_.begin(), indexes_.end(), index), indexes_.end());
}

void TDbfFile::MarkIndexMaintained(const std::string& path) {
  if (path == unmaintainedIndex_) unmaintainedIndex_.clear();
}

void TDbfFile::SetProductionIndexFlag(bool present) {
  if (version_ == xFoxPro) return;  // FoxPro's flag names a .cdx
  BeginChange();
  const bool locked = AcquirePageLock(0, true);
  ReloadHeader();
  CorrectHeader();
  header_[kIndexFlag] = present ? 1 : 0;
  unlinkIndex_ = false;
  StoreHeader();
  FlushHeader();
  if (locked) ReleasePageLock(0);
  if (WriteError()) {
    ClearWriteError();
    throw EDbfWriteError(msg::kWriteError);
  }
}

void TDbfFile::FlushIndexes() {
  bool failed = false;
  for (TTableIndex* index : indexes_) {
    index->Flush();
    if (index->WriteError()) {
      index->ClearWriteError();
      failed = true;
    }
  }
  if (failed) throw EDbfWriteError(msg::kWriteErrorIndexes);
}

void TDbfFile::RemoveKeys(int64_t recNo, const uint8_t* buffer, size_t upTo) {
  for (size_t i = 0; i < upTo && i < indexes_.size(); ++i) indexes_[i]->DeleteKey(recNo, buffer);
}

bool TDbfFile::ReadRecord(int64_t recNo, uint8_t* buffer) {
  if (recNo <= 0 || recordSize_ <= 0) return false;
  const int got = ReadPage(recNo, buffer);
  if (got <= 0) return false;
  if (got < recordSize_) std::memset(buffer + got, ' ', static_cast<size_t>(recordSize_ - got));
  return true;
}

int64_t TDbfFile::ReadRecords(int64_t first, int64_t count, uint8_t* buffer) {
  if (first <= 0 || count <= 0 || recordSize_ <= 0) return 0;
  return ReadPages(first, count, buffer);
}

int64_t TDbfFile::AppendRecord(uint8_t* buffer) {
  BeginChange();
  int64_t recNo = int64_t(RecordCount()) + 1;
  if (shared_) {
    // Other programs append too. The number is chosen under the header lock,
    // so that nobody counts or finishes a record between our look and our
    // record lock. An appender that finished ahead of a slower one has
    // written past the count, which the file's size shows; every number
    // between there and the last one taken is still locked by its appender.
    AcquirePageLock(0, true);
    ReloadHeader();
    recNo = std::max<int64_t>(RecordCount(), PageCount()) + 1;
  }
  while (!AcquirePageLock(recNo, false)) ++recNo;
  if (shared_) ReleasePageLock(0);

  AssignAutoIncValues(buffer);

  for (size_t i = 0; i < indexes_.size(); ++i) {
    TTableIndex* index = indexes_[i];
    const bool added = index->InsertKey(recNo, buffer);
    if (!added || index->WriteError()) {
      ReleasePageLock(recNo);
      RemoveKeys(recNo, buffer, i);
      ClearWriteError();
      if (!added) throw EDbfError(index->KeyViolationMessage());
      index->ClearWriteError();
      throw EDbfWriteError(msg::kWriteErrorIndexes);
    }
  }

  // The header lock stays on until the record is down: otherwise another
  // appender, counting after us, could put its end-of-file byte on our record
  // between our count and our write.
  AcquirePageLock(0, true);
  ReloadHeader();
  // The count covers our record rather than adding one to it: a program
  // that began changing the table meanwhile has set it from the file's size,
  // which already holds the records of appenders that finished ahead of us.
  const uint32_t countBefore = RecordCount();
  SetRecordCount(static_cast<uint32_t>(std::max<int64_t>(countBefore, recNo)));
  StoreHeader();
  // Written now even when exclusive, so that a full disk is seen here and
  // not at close, where nobody can be told.
  FlushHeader();
  if (!WriteError()) {
    StampLockField(buffer);
    WritePage(recNo, buffer);
  }
  const bool failed = WriteError();
  if (failed) {
    // The header must never count a record that was not written; the lock
    // is still ours, so nobody has counted past us since.
    ClearWriteError();
    SetRecordCount(countBefore);
    StoreHeader();
    FlushHeader();
  }
  ReleasePageLock(0);
  ReleasePageLock(recNo);
  if (failed) {
    ClearWriteError();
    RemoveKeys(recNo, buffer, indexes_.size());
    for (TTableIndex* index : indexes_) index->Flush();
    throw EDbfWriteError(msg::kWriteError);
  }
  FlushIndexes();
  return recNo;
}

void TDbfFile::WriteNewRecords(const uint8_t* records, int64_t count) {
  if (shared_ || !indexes_.empty() || count <= 0) throw EDbfError(msg::kExclusiveRequired);
  BeginChange();
  const int64_t first = int64_t(RecordCount()) + 1;
  WriteBytesAt(PageOffset(first), records, static_cast<size_t>(count * recordSize_));
  // The new table is synced before it replaces the old one: its bytes go
  // to the disk while the next ones are copied.
  if (stream_) stream_->StartWriteback(static_cast<uint64_t>(PageOffset(first)), static_cast<uint64_t>(count * recordSize_));
  SetRecordCount(static_cast<uint32_t>(first - 1 + count));
  headerModified_ = true;
  if (WriteError()) {
    ClearWriteError();
    throw EDbfWriteError(msg::kWriteError);
  }
}

void TDbfFile::FinishNewRecords() {
  StoreHeader();
  FlushHeader();
  if (WriteError()) {
    ClearWriteError();
    throw EDbfWriteError(msg::kWriteError);
  }
}

void TDbfFile::LockAndReadRecord(int64_t recNo, uint8_t* buffer) {
  if (!AcquirePageLock(recNo, false)) throw EDbfError(msg::kRecordLocked);
  ReadPage(recNo, buffer);
  prevRecord_.assign(buffer, buffer + recordSize_);
  if (lockField_) {
    try {
      BeginChange();
    } catch (...) {
      ReleasePageLock(recNo);
      throw;
    }
    StampLockField(buffer);
    WritePage(recNo, buffer);
  }
}

void TDbfFile::WriteBackRecord(int64_t recNo, uint8_t* buffer) {
  try {
    BeginChange();
  } catch (...) {
    ReleasePageLock(recNo);
    throw;
  }
  if (prevRecord_.size() != static_cast<size_t>(recordSize_)) prevRecord_.assign(buffer, buffer + recordSize_);
  for (size_t i = 0; i < indexes_.size(); ++i) {
    if (!indexes_[i]->UpdateKey(recNo, prevRecord_.data(), buffer)) {
      for (size_t j = i; j-- > 0;) indexes_[j]->UpdateKey(recNo, buffer, prevRecord_.data());
      throw EDbfError(indexes_[i]->KeyViolationMessage());
    }
  }
  WritePage(recNo, buffer);
  ReleasePageLock(recNo);
  if (WriteError()) {
    ClearWriteError();
    // The record on disk is the old one: so must its keys be.
    for (size_t j = indexes_.size(); j-- > 0;) indexes_[j]->UpdateKey(recNo, buffer, prevRecord_.data());
    for (TTableIndex* index : indexes_) index->Flush();
    throw EDbfWriteError(msg::kWriteError);
  }
  FlushIndexes();
}

void TDbfFile::RecallRecord(int64_t recNo) {
  BeginChange();
  std::vector<uint8_t> stored(static_cast<size_t>(recordSize_), ' ');
  ReadPage(recNo, stored.data());
  NotifyRecalled(recNo, stored.data());
  stored[0] = kLive;
  WritePage(recNo, stored.data());
  if (WriteError()) {
    ClearWriteError();
    // Still deleted on disk: the keys the recall gave go again.
    stored[0] = kDeleted;
    for (TTableIndex* index : indexes_) {
      index->RecordDeleted(recNo, stored.data());
      index->Flush();
    }
    throw EDbfWriteError(msg::kWriteError);
  }
  FlushIndexes();
  // A later write-back compares keys with the record as it now stands.
  if (prevRecord_.size() == stored.size()) prevRecord_[0] = kLive;
}

void TDbfFile::NotifyDeleted(int64_t recNo, uint8_t* buffer) {
  for (TTableIndex* index : indexes_) index->RecordDeleted(recNo, buffer);
}

void TDbfFile::NotifyRecalled(int64_t recNo, uint8_t* buffer) {
  for (size_t i = 0; i < indexes_.size(); ++i) {
    if (!indexes_[i]->RecordRecalled(recNo, buffer)) {
      for (size_t j = 0; j < i; ++j) indexes_[j]->RecordDeleted(recNo, buffer);
      throw EDbfError(indexes_[i]->KeyViolationMessage());
    }
  }
}

}  // namespace norvale
