#include "dataset/dbf_table.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>

#include "dataset/dataset_messages.h"
#include "dataset/master_link.h"
#include "engine/date_time.h"
#include "engine/globals.h"
#include "engine/messages.h"
#include "engine/record_view.h"
#include "engine/table_file.h"
#include "platform/os_file.h"
#include "platform/text_services.h"

namespace norvale {

namespace {

// The line break a memo text uses, judged by its first one.
char LineBreakOf(std::string_view text) {
  const size_t lf = text.find('\n');
  if (lf == std::string_view::npos) return 0;
  return lf > 0 && text[lf - 1] == '\r' ? '\r' : '\n';
}

// `text` with every bare LF written as CR LF when `lineBreak` is '\r'.
std::string WithLineBreaks(const std::string& text, char lineBreak) {
  if (lineBreak != '\r' || text.find('\n') == std::string::npos) return text;
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
    out += text[i];
  }
  return out;
}

// Forward walks read this much of the file at once.
constexpr int64_t kReadAheadBytes = 64 * 1024;

bool IsAscii(std::string_view s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

int32_t GetInt32(const uint8_t* p) {
  int32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

void PutInt32(uint8_t* p, int32_t v) { std::memcpy(p, &v, sizeof v); }

}  // namespace

// ---------------------------------------------------------------- stream refs

TBlobStreamRef& TBlobStreamRef::operator=(TBlobStreamRef&& other) noexcept {
  if (this != &other) {
    Release();
    table_ = other.table_;
    stream_ = other.stream_;
    other.table_ = nullptr;
    other.stream_ = nullptr;
  }
  return *this;
}

void TBlobStreamRef::Release() {
  if (table_ && stream_) table_->ReleaseMemoStream(stream_);
  table_ = nullptr;
  stream_ = nullptr;
}

// ---------------------------------------------------------------- construction

TDbfTable::TDbfTable() {
  TDbfGlobals::Instance();
  InitMasterLink();
  FieldDefs().OnChange = [this] {
    if (!rebuildingDefs_) storeDefs_ = true;
  };
}

TDbfTable::~TDbfTable() {
  try {
    if (Active()) Close();
  } catch (...) {
    // A destructor cannot report; what the file holds stays as it was.
  }
  memoStreams_.clear();
  cursor_.reset();
  if (dbfFile_) dbfFile_->Close();
}

std::string TDbfTable::Version() const {
  char text[16];
  std::snprintf(text, sizeof text, "%d.%02d", kMajorVersion, kMinorVersion);
  return text;
}

void TDbfTable::CheckClosed() const { CheckInactive(); }

void TDbfTable::SetExclusive(bool value) {
  CheckClosed();
  exclusive_ = value;
}

void TDbfTable::SetReadOnly(bool value) {
  CheckClosed();
  readOnly_ = value;
}

void TDbfTable::SetTableLevel(int level) {
  if (level != 3 && level != 4 && level != 7 && level != 25) return;
  CheckClosed();
  tableLevel_ = level;
}

void TDbfTable::SetStorage(TDbfStorage storage) {
  CheckClosed();
  storage_ = storage;
}

void TDbfTable::SetUserStream(TStream* stream) {
  CheckClosed();
  userStream_ = stream;
  if (createdStream_ && stream != createdStream_.get()) createdStream_.reset();
}

// ---------------------------------------------------------------- paths

void TDbfTable::SetFilePath(const std::string& path) {
  CheckClosed();
  filePath_ = path;
  if (!filePath_.empty() && filePath_.back() != '/') filePath_ += '/';
  if (filePath_.empty()) {
    filePathFull_.clear();
  } else if (filePath_.front() == '/') {
    filePathFull_ = filePath_;
  } else {
    // Relative to where the user is, not to where the program lives.
    std::error_code ec;
    std::filesystem::path full = std::filesystem::current_path(ec) / filePath_;
    filePathFull_ = full.lexically_normal().string();
    if (filePathFull_.empty() || filePathFull_.back() != '/') filePathFull_ += '/';
  }
}

std::string TDbfTable::FilePathFull() const {
  if (!filePathFull_.empty()) return filePathFull_;
  std::error_code ec;
  std::string dir = std::filesystem::current_path(ec).string();
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

void TDbfTable::SetTableName(const std::string& name) {
  CheckClosed();
  const size_t slash = name.find_last_of('/');
  if (slash != std::string::npos) {
    SetFilePath(slash == 0 ? "/" : name.substr(0, slash));
    tableName_ = name.substr(slash + 1);
  } else {
    tableName_ = name;
  }
}

std::string TDbfTable::PhysicalTableName() const { return FilePathFull() + tableName_; }

void TDbfTable::SetFilter(const std::string& text) {
  if (text == Filter()) return;
  if (dbfFile_) CompileFilter(text);
  TDataSet::SetFilter(text);
  if (Active() && Filtered()) Refresh();
}

void TDbfTable::CompileFilter(const std::string& text) {
  if (text.empty()) {
    if (filter_) filter_->Clear();
    return;
  }
  if (!filter_) filter_ = std::make_unique<TTableFilter>(dbfFile_.get());
  filter_->Compile(text, (FilterOptions() & foCaseInsensitive) != 0, (FilterOptions() & foNoPartialCompare) == 0);
}

bool TDbfTable::AcceptRecord(uint8_t* buffer) {
  // A filter that rejects millions of records in a row holds up the move
  // that asked for the next one; the caller may want to show that, or stop.
  constexpr int64_t kJudgedStep = 4096;
  if (OnProgress && ++judged_ % kJudgedStep == 0) OnProgress(judged_, 0);
  if (filter_ && !filter_->Empty()) {
    bool met = false;
    try {
      met = filter_->Accepts(buffer + kHeaderSize);
    } catch (const Exception& e) {
      // Judging every further record would fail the same way: the walk ends
      // with one error, and the table goes on unfiltered.
      TDataSet::SetFiltered(false);
      throw EDbfError(FormatMessage(msg::kFilterFailed, filter_->Text().c_str(),
                                    static_cast<long long>(GetInt32(buffer + kBookmarkOffset)), e.what()));
    }
    if (!met) return false;
  }
  bool accepted = true;
  if (OnFilterRecord) {
    TTempState scope(*this, dsFilter, filterBuffer_, buffer);
    OnFilterRecord(*this, accepted);
  }
  return accepted;
}

void TDbfTable::SetFiltered(bool value) {
  if (value == Filtered()) return;
  TDataSet::SetFiltered(value);
  if (Active()) Refresh();
}

void TDbfTable::SetShowDeleted(bool value) {
  if (value == showDeleted_) return;
  if (Active()) CheckBrowseMode();
  showDeleted_ = value;
  if (Active()) Refresh();
}

// ---------------------------------------------------------------- open, close

void TDbfTable::InternalOpen() {
  dbfFile_.reset();
  const std::string fileName = PhysicalTableName();

  bool missing = storage_ == stoFile ? !std::filesystem::exists(fileName) && openMode_ != omNormal
                                     : userStream_ == nullptr;
  if (missing) {
    bool doCreate = true;
    if (BeforeAutoCreate) BeforeAutoCreate(*this, doCreate);
    if (!doCreate) return;
    CreateTableFile(nullptr, nullptr);
  }

  auto file = std::make_unique<TDbfFile>();
  // The index files opened with the table refer to it: they go first when
  // the open fails before the table is kept.
  struct TIndexGuard {
    std::unique_ptr<TTableIndexes>& indexes;
    bool armed = true;
    ~TIndexGuard() {
      if (armed) indexes.reset();
    }
  } indexGuard{indexFiles_};
  TPagedFileMode mode;
  if (storage_ == stoMemory) {
    mode = amMemoryOpen;
    file->SetStream(userStream_);
  } else {
    mode = readOnly_ ? amReadOnly : exclusive_ ? amExclusiveOpen : amSharedOpen;
    file->SetFileName(fileName);
  }
  file->SetDateTimeHandling(dateTimeHandling_);
  file->SetChosenCodePage(chosenCodePage_);
  file->SetDetectCodePage(detectCodePage_);
  OpenFileGuarded(*file, fileName, mode);
  if (file->GiveUp()) {
    indexFiles_.reset();
    file->Close();
    throw EAbort();
  }
  dbfFile_ = std::move(file);
  indexGuard.armed = false;
  recordSize_ = dbfFile_->RecordLength();

  tableLevel_ = dbfFile_->TableLevel();
  languageId_ = dbfFile_->LanguageId();

  BuildFieldDefs(*dbfFile_);
  CreateAndBindFields();
  fileFields_.assign(static_cast<size_t>(dbfFile_->FieldDefs().Count()), nullptr);
  for (int i = 0; i < dbfFile_->FieldDefs().Count(); ++i)
    fileFields_[static_cast<size_t>(i)] = &dbfFile_->FieldDefs().Item(i);
  memoStreams_.clear();
  memoStreams_.resize(static_cast<size_t>(FieldCount()));

  DetermineTranslationMode();
  tempBuffer_ = AllocRecordBuffer();
  try {
    CompileFilter(Filter());
  } catch (const EDbfError&) {
    // A filter naming a field this table lacks is dropped, not a reason to
    // refuse the table; a filter that is no valid expression refuses it.
    TDataSet::SetFilter(std::string());
  }

  AddProductionIndexTags();
  OpenListedIndexes();

  cursor_.reset();
  SelectIndex();
  editRecNo_ = -1;
  InvalidateReadAhead();
  lastRecordRead_ = -1;
  cursor_->First();
}

void TDbfTable::OpenFileGuarded(TDbfFile& file, const std::string& fileName, TPagedFileMode mode) {
  SetReadOnlyCause(rcNone, {});
  // The question of a missing production index is asked once, even when
  // the file is opened a second time read-only.
  std::optional<bool> unlink;
  file.OnIndexMissing = [this, &unlink](bool& deleteLink) {
    if (!unlink) {
      if (OnIndexMissing) OnIndexMissing(deleteLink);
      unlink = deleteLink;
    }
    deleteLink = *unlink;
  };
  const bool onDisk = storage_ == stoFile;
  if (onDisk && readOnly_) {
    SetReadOnlyCause(rcRequested, msg::kReadOnlyRequested);
  } else if (onDisk && mode != amReadOnly) {
    // Opening for writing a file the person marked read-only would let a
    // privileged user change it; a refused memo file would fail the first
    // post instead of the open.
    std::string refused;
    if (!TOsFile::MayWrite(fileName)) refused = fileName;
    for (const char* ext : {".dbt", ".fpt"}) {
      const std::string memo = FindCompanionFile(fileName, ext);
      if (refused.empty() && !memo.empty() && !TOsFile::MayWrite(memo)) refused = memo;
    }
    if (!refused.empty()) {
      SetReadOnlyCause(rcNoWriteAccess, FormatMessage(msg::kReadOnlyNoWriteAccess, refused.c_str()));
      mode = amReadOnly;
    }
  }
  file.SetMode(mode);
  file.Open();
  if (!onDisk || file.GiveUp()) return;
  OpenIndexFiles(file);
  if (mode == amReadOnly) return;

  TReadOnlyCause cause = rcNone;
  std::string reason;
  bool editAnyway = false;
  if (file.HeaderRecordCount() != file.RecordCount()) {
    cause = rcSizeMismatch;
    reason = FormatMessage(msg::kReadOnlySizeMismatch, fileName.c_str(), file.HeaderRecordCount(), file.RecordCount());
  } else if (!file.UnmaintainedIndexFile().empty()) {
    cause = rcUnmaintainedIndex;
    reason = indexOpenError_.empty() ? FormatMessage(msg::kReadOnlyIndex, file.UnmaintainedIndexFile().c_str())
                                     : FormatMessage(msg::kReadOnlyDamagedIndex, file.UnmaintainedIndexFile().c_str(),
                                                     indexOpenError_.c_str());
  }
  if (cause == rcNone) return;
  if (OnOpenReadOnly) OnOpenReadOnly(*this, cause, reason, editAnyway);
  if (editAnyway && cause == rcUnmaintainedIndex) return;
  // Nothing was written by the first open, so a second one read-only
  // leaves the file exactly as it was.
  indexFiles_.reset();
  file.Close();
  file.SetMode(amReadOnly);
  file.Open();
  OpenIndexFiles(file);
  SetReadOnlyCause(cause, std::move(reason));
}

void TDbfTable::OpenIndexFiles(TDbfFile& file) {
  indexFiles_.reset();
  indexOpenError_.clear();
  auto indexes = std::make_unique<TTableIndexes>(file);
  indexes->onLocaleError = OnLocaleError;
  try {
    indexes->OpenProduction();
  } catch (const EDbfError& e) {
    // The table stays readable; the index is named as one nobody keeps
    // current, with what is wrong with it.
    indexOpenError_ = e.what();
  }
  if (indexOpenError_.empty()) indexOpenError_ = indexes->UnmaintainedReason();
  indexFiles_ = std::move(indexes);
}

void TDbfTable::InternalClose() {
  indexDefs_.RemoveTemporaryTags();
  memoStreams_.clear();
  tempBuffer_.reset();
  filter_.reset();
  cursor_.reset();
  fileFields_.clear();
  if (dbfFile_) {
    if (editRecNo_ > 0) dbfFile_->UnlockRecord(editRecNo_);
    indexFiles_.reset();
    dbfFile_->Close();
  }
  dbfFile_.reset();
  editRecNo_ = -1;
  SetReadOnlyCause(rcNone, {});
  readAhead_.clear();
  readAhead_.shrink_to_fit();
  InvalidateReadAhead();
}

void TDbfTable::InternalInitFieldDefs() {
  if (dbfFile_ && dbfFile_->IsOpen()) {
    BuildFieldDefs(*dbfFile_);
    return;
  }
  // Closed: read the definitions from the file without keeping it open.
  TDbfFile file;
  if (storage_ == stoMemory) {
    if (!userStream_) return;
    file.SetStream(userStream_);
    file.SetMode(amMemoryOpen);
  } else {
    file.SetFileName(PhysicalTableName());
    file.SetMode(amReadOnly);
  }
  file.SetDetectCodePage(false);  // only the definitions are wanted
  file.Open();
  BuildFieldDefs(file);
  file.Close();
}

void TDbfTable::BuildFieldDefs(const TDbfFile& file) {
  rebuildingDefs_ = true;
  TFieldDefs& defs = FieldDefs();
  defs.Clear();
  const TDbfFieldDefs& native = file.FieldDefs();
  for (int i = 0; i < native.Count(); ++i) {
    const TDbfFieldDef& f = native.Item(i);
    // A name used by an earlier field gets the first free number: NAME,
    // NAME2, NAME3.
    std::string name = f.FieldName();
    for (int n = 2; defs.IndexOf(name) >= 0; ++n) name = f.FieldName() + std::to_string(n);
    const TFieldType type = f.FieldType();
    const bool sized = type == ftString || type == ftBCD || type == ftBytes;
    TFieldDef& def = defs.Add(name, type, sized ? f.Size() : 0, f.Required());
    if (type == ftFloat) def.precision = f.Precision();
    def.readOnly = type == ftAutoInc;
    def.fieldNo = i + 1;
  }
  rebuildingDefs_ = false;
}

void TDbfTable::DetermineTranslationMode() {
  TDbfGlobals& globals = TDbfGlobals::Instance();
  codePage_ = dbfFile_->UseCodePage();
  auto modeOf = [&](int cp) {
    if (cp == globals.AnsiCodePage()) return 1;
    if (cp == globals.OemCodePage()) return 2;
    const std::vector<int>& installed = globals.InstalledCodePages();
    if (std::find(installed.begin(), installed.end(), cp) != installed.end()) return 3;
    return 0;
  };
  translationMode_ = modeOf(codePage_);
  if (translationMode_ != 0) return;
  const int unknown = codePage_;
  TDbfLanguageAction action = laReadOnly;
  if (OnLanguageWarning) OnLanguageWarning(*this, action);
  switch (action) {
    case laReadOnly:
      break;
    case laForceOEM:
      codePage_ = globals.OemCodePage();
      translationMode_ = 2;
      break;
    case laForceANSI:
      codePage_ = globals.AnsiCodePage();
      translationMode_ = 1;
      break;
    case laDefault:
      codePage_ = globals.DefaultCodePage();
      translationMode_ = modeOf(codePage_);
      break;
  }
  if (translationMode_ == 0 && readOnlyCause_ == rcNone)
    SetReadOnlyCause(rcUnknownCodePage, FormatMessage(msg::kReadOnlyCodePage, unknown));
}

int TDbfTable::CodePage() const { return codePage_; }

TCodePageSource TDbfTable::CodePageSource() const { return dbfFile_ ? dbfFile_->CodePageSource() : cpsDefault; }

std::string TDbfTable::CodePageSourceText() const { return dbfFile_ ? dbfFile_->CodePageSourceText() : std::string(); }

void TDbfTable::SetChosenCodePage(int codePage) {
  CheckInactive();
  chosenCodePage_ = std::max(codePage, 0);
}

void TDbfTable::SetDetectCodePage(bool on) {
  CheckInactive();
  detectCodePage_ = on;
}

int TDbfTable::CodePageNamed(const std::string& name) { return CodePageFromName(name); }

bool TDbfTable::CodePageAvailable(int codePage) {
  const std::vector<int>& installed = TDbfGlobals::Instance().InstalledCodePages();
  return std::find(installed.begin(), installed.end(), codePage) != installed.end();
}

void TDbfTable::SetTableCodePage(int codePage) {
  CheckActive();
  if (!exclusive_ || !CanModify()) throw EDbfError(msg::kExclusiveRequired);
  CheckBrowseMode();
  dbfFile_->WriteCodePage(codePage);
  chosenCodePage_ = 0;
  DetermineTranslationMode();
  // The filter decodes text fields in the page it was compiled for.
  if (filter_ && !filter_->Empty()) CompileFilter(Filter());
  InvalidateReadAhead();
  Resync();
}

const TDbfFieldDefs* TDbfTable::NativeFieldDefs() const { return dbfFile_ ? &dbfFile_->FieldDefs() : nullptr; }

// ---------------------------------------------------------------- buffers

std::unique_ptr<uint8_t[]> TDbfTable::AllocRecordBuffer() {
  const size_t size = static_cast<size_t>(kHeaderSize + recordSize_ + CalcFieldsSize() + kSpareBytes);
  auto buffer = std::make_unique<uint8_t[]>(size);
  std::memset(buffer.get(), 0, size);
  PutInt32(buffer.get() + kBookmarkOffset, -1);
  return buffer;
}

void TDbfTable::InternalInitRecord(uint8_t* buffer) {
  std::memset(buffer, 0, kHeaderSize);
  dbfFile_->BlankRecord(buffer + kHeaderSize);
  ClearCalcFields(buffer);
}

void TDbfTable::ClearCalcFields(uint8_t* buffer) {
  if (CalcFieldsSize() > 0)
    std::memset(buffer + CalcFieldsOffset(), 0, static_cast<size_t>(CalcFieldsSize()));
}

TBookmark TDbfTable::GetBookmarkData(const uint8_t* buffer) const {
  return MakeBookmark(GetInt32(buffer + kBookmarkOffset));
}

TBookmarkFlag TDbfTable::GetBookmarkFlag(const uint8_t* buffer) const {
  return static_cast<TBookmarkFlag>(buffer[kFlagOffset]);
}

void TDbfTable::SetBookmarkFlag(uint8_t* buffer, TBookmarkFlag flag) { buffer[kFlagOffset] = flag; }

TBookmark TDbfTable::MakeBookmark(int64_t recNo) {
  TBookmark b(4);
  PutInt32(b.data(), static_cast<int32_t>(recNo));
  return b;
}

int64_t TDbfTable::BookmarkRecNo(const TBookmark& bookmark) {
  return bookmark.size() < 4 ? -1 : GetInt32(bookmark.data());
}

int TDbfTable::CompareBookmarks(const TBookmark& a, const TBookmark& b) const {
  // A missing bookmark sorts after every present one.
  if (a.empty() || b.empty()) return a.empty() == b.empty() ? 0 : (a.empty() ? 1 : -1);
  const int64_t x = BookmarkRecNo(a), y = BookmarkRecNo(b);
  return x < y ? -1 : x > y ? 1 : 0;
}

// ---------------------------------------------------------------- reading

void TDbfTable::ReadRecord(int64_t recNo, uint8_t* record) {
  const size_t length = static_cast<size_t>(recordSize_);
  if (recNo >= readAheadFirst_ && recNo < readAheadFirst_ + readAheadCount_) {
    std::memcpy(record, readAhead_.data() + (recNo - readAheadFirst_) * recordSize_, length);
    lastRecordRead_ = recNo;
    return;
  }
  if (recNo == lastRecordRead_ + 1 && recordSize_ > 0) {
    // A forward walk: fetch the records that follow in one transfer.
    const int64_t perBlock = std::max<int64_t>(1, kReadAheadBytes / recordSize_);
    const int64_t count = std::min<int64_t>(perBlock, std::max<int64_t>(dbfFile_->RecordsInFile() - recNo + 1, 1));
    readAhead_.resize(static_cast<size_t>(count) * length);
    const int64_t got = dbfFile_->ReadRecords(recNo, count, readAhead_.data());
    if (got > 0) {
      readAheadFirst_ = recNo;
      readAheadCount_ = got;
      std::memcpy(record, readAhead_.data(), length);
      lastRecordRead_ = recNo;
      return;
    }
    InvalidateReadAhead();
  }
  if (!dbfFile_->ReadRecord(recNo, record)) std::memset(record, ' ', length);
  lastRecordRead_ = recNo;
}

TGetResult TDbfTable::GetRecord(uint8_t* buffer, TGetMode mode, bool doCheck) {
  if (!cursor_) return grEOF;
  TGetResult result = grOK;
  bool accepted = false;
  do {
    result = grOK;
    accepted = false;
    if (mode == gmNext) {
      if (!cursor_->Next()) result = grEOF;
    } else if (mode == gmPrior) {
      if (!cursor_->Prev()) result = grBOF;
    }
    if (result == grOK) {
      const int64_t recNo = cursor_->GetPhysicalRecord();
      if (recNo <= 0 || !dbfFile_->RecordExists(recNo)) {
        result = grError;
      } else {
        ReadRecord(recNo, buffer + kHeaderSize);
        accepted = showDeleted_ || !TRecordView(buffer + kHeaderSize, static_cast<size_t>(recordSize_)).Deleted();
      }
    }
    if (accepted) {
      StampRecord(buffer);
      if (Filtered() || findInProgress_) {
        try {
          accepted = AcceptRecord(buffer);
        } catch (...) {
          // The cursor has left the record the window last read; the next
          // move must start from the window again, not from here.
          PutInt32(buffer + kBookmarkOffset, -1);
          CursorPosChanged();
          throw;
        }
      }
    }
    if (!accepted && result == grOK && mode == gmCurrent) result = grError;
  } while (!accepted && result == grOK);
  if (result != grOK) PutInt32(buffer + kBookmarkOffset, -1);
  return result;
}

void TDbfTable::StampRecord(uint8_t* buffer) {
  PutInt32(buffer + kBookmarkOffset, static_cast<int32_t>(cursor_->GetPhysicalRecord()));
  buffer[kFlagOffset] = bfCurrent;
  PutInt32(buffer + kOrderPositionOffset, static_cast<int32_t>(cursor_->GetOrderPosition()));
  GetCalcFields(buffer);
}

void TDbfTable::InternalFirst() {
  InvalidateReadAhead();
  cursor_->First();
}

void TDbfTable::InternalLast() {
  InvalidateReadAhead();
  cursor_->Last();
}

void TDbfTable::InternalGotoBookmark(const TBookmark& bookmark) {
  InvalidateReadAhead();
  const int64_t recNo = BookmarkRecNo(bookmark);
  if (recNo == 0) {
    cursor_->First();
  } else if (recNo == INT32_MAX) {
    cursor_->Last();
  } else if (cursor_->GetPhysicalRecord() != recNo) {
    cursor_->SetPhysicalRecord(recNo);
  }
}

void TDbfTable::InternalSetToRecord(uint8_t* buffer) {
  // By record number: in index order a position is an estimate that an
  // edit of any key may move.
  if (GetBookmarkFlag(buffer) == bfInserted) return;
  const int64_t recNo = GetInt32(buffer + kBookmarkOffset);
  if (recNo > 0 && cursor_->GetPhysicalRecord() != recNo) cursor_->SetPhysicalRecord(recNo);
}

int TDbfTable::RecordCount() {
  if (!cursor_) return 0;
  return static_cast<int>(std::min<int64_t>(cursor_->GetOrderCount(), INT_MAX));
}

int TDbfTable::RecNo() {
  if (!cursor_) return 0;
  const uint8_t* buffer = CurrentBuffer();
  if (!buffer) return 0;
  return GetInt32(buffer + kOrderPositionOffset);
}

void TDbfTable::SetRecNo(int value) {
  CheckBrowseMode();
  if (value == RecNo()) return;
  if (BeforeScroll) BeforeScroll(*this);
  InvalidateReadAhead();
  cursor_->SetOrderPosition(value);
  FillWindowFromCursor();
  if (AfterScroll) AfterScroll(*this);
}

void TDbfTable::WithFieldsOn(uint8_t* buffer, const std::function<void()>& read) {
  CheckActive();
  TTempState scope(*this, dsFilter, filterBuffer_, buffer);
  read();
}

bool TDbfTable::IsDeleted() {
  const uint8_t* buffer = CurrentBuffer();
  return !buffer || TRecordView(buffer + kHeaderSize, static_cast<size_t>(recordSize_)).Deleted();
}

bool TDbfTable::GetCanModify() { return readOnlyCause_ == rcNone && !readOnly_ && translationMode_ != 0; }

void TDbfTable::SetReadOnlyCause(TReadOnlyCause cause, std::string reason) {
  readOnlyCause_ = cause;
  readOnlyReason_ = std::move(reason);
}

// ---------------------------------------------------------------- values

uint8_t* TDbfTable::CurrentBuffer() const {
  switch (State()) {
    case dsCalcFields:
      return CalcBuffer();
    case dsFilter:
      return filterBuffer_;
    default:
      return ActiveBuffer();
  }
}

const TDbfFieldDef& TDbfTable::FileField(const TField& field) const {
  const size_t at = static_cast<size_t>(field.FieldNo() - 1);
  if (field.FieldNo() < 1 || at >= fileFields_.size()) throw EDbfError(msg::kDataSetClosed);
  return *fileFields_[at];
}

bool TDbfTable::GetFieldData(const TField& field, void* buffer, bool native) {
  const uint8_t* current = CurrentBuffer();
  if (!current || !dbfFile_) return false;
  if (field.FieldKind() != fkData) {
    if (field.CalcOffset() < 0) return false;
    const uint8_t* p = current + CalcFieldsOffset() + field.CalcOffset();
    if (!p[0]) return false;
    if (buffer) std::memcpy(buffer, p + 1, static_cast<size_t>(field.DataSize()));
    return true;
  }
  const TDbfFieldDef& def = FileField(field);
  // Without its memo file a blob field has no value to give.
  if (field.IsBlob() && dbfFile_->MemoFileName().empty()) return false;
  if (field.IsBlob()) {
    // A blob field's value in the record is the number of its first block;
    // block 0 is no value.
    int32_t block = 0;
    if (!dbfFile_->DecodeField(def, ftInteger, false, &block, current + kHeaderSize) || block <= 0) return false;
    if (buffer) std::memcpy(buffer, &block, sizeof block);
    return true;
  }
  // The codec consults the null flags only when asked for presence; a value
  // read must honour them too.
  if (buffer && def.NullPosition() >= 0 && dbfFile_->Codec().IsNullFlagged(def, current + kHeaderSize)) {
    if (field.DataType() == ftString) static_cast<char*>(buffer)[0] = 0;
    return false;
  }
  return dbfFile_->DecodeField(def, field.DataType(), native, buffer, current + kHeaderSize);
}

void TDbfTable::SetFieldData(TField& field, const void* buffer) {
  uint8_t* current = CurrentBuffer();
  if (!current || !dbfFile_) throw EDbfError(msg::kNotEditing);
  if (field.FieldKind() != fkData) {
    if (field.CalcOffset() < 0) return;
    uint8_t* p = current + CalcFieldsOffset() + field.CalcOffset();
    p[0] = buffer ? 1 : 0;
    if (buffer) std::memcpy(p + 1, buffer, static_cast<size_t>(field.DataSize()));
  } else {
    const TDbfFieldDef& def = FileField(field);
    const TFieldType request = field.IsBlob() ? ftInteger : field.DataType();
    dbfFile_->EncodeField(def, request, false, current + kHeaderSize, buffer);
  }
  DataEvent(deFieldChange, reinterpret_cast<intptr_t>(&field));
}

std::string TDbfTable::TextFromTable(std::string_view bytes) {
  std::string out;
  AppendTextFromTable(out, bytes);
  return out;
}

void TDbfTable::AppendTextFromTable(std::string& out, std::string_view bytes) {
  if (OnTranslate) {
    out += OnTranslate(*this, bytes, false);
    return;
  }
  if (IsAscii(bytes)) {
    out.append(bytes);
    return;
  }
  if (!decoder_ || decoder_->CodePage() != codePage_) {
    decoder_ = std::make_unique<TCodePageDecoder>(codePage_);
    // A code page without a converter still shows: as the ANSI code page.
    if (!decoder_->Valid()) decoder_ = std::make_unique<TCodePageDecoder>(TDbfGlobals::Instance().AnsiCodePage());
  }
  decoder_->AppendUtf8(out, bytes.data(), bytes.size());
}

bool TDbfTable::AppendStoredText(const TField& field, std::string& out) {
  const TFieldType type = field.DataType();
  if (type != ftFloat && type != ftDate && type != ftString && type != ftInteger) return false;
  const uint8_t* current = CurrentBuffer();
  if (!current || !dbfFile_ || field.FieldNo() < 1) return false;
  const TDbfFieldDef& def = FileField(field);
  if (def.NullPosition() >= 0) return false;  // the null flags decide: the long way
  const TRecordView record(current + kHeaderSize, static_cast<size_t>(recordSize_));
  const char letter = def.NativeFieldType();
  switch (type) {
    case ftString:
      if (letter != 'C' || def.Size() != field.Size()) return false;
      AppendTextFromTable(out, record.Text(def));
      return true;
    case ftInteger:
      return (letter == 'N' || letter == 'F') && TRecordView::AppendCanonicalInteger(record.Bytes(def), out);
    case ftDate:
      return letter == 'D' && def.Size() == 8 && TRecordView::AppendCanonicalDate(record.Bytes(def), out);
    default:
      return (letter == 'N' || letter == 'F') && def.Precision() == field.Precision() &&
             TRecordView::AppendCanonicalFixed(record.Bytes(def), def.Precision(), out);
  }
}

std::string TDbfTable::TextToTable(std::string_view utf8, int maxBytes) {
  if (maxBytes < 0) maxBytes = 0;
  if (OnTranslate) {
    std::string out = OnTranslate(*this, utf8, true);
    if (static_cast<int>(out.size()) > maxBytes) out.resize(static_cast<size_t>(maxBytes));
    return out;
  }
  return Utf8ToCodePageWithin(codePage_, utf8, static_cast<size_t>(maxBytes));
}

void TDbfTable::CheckStorableText(const TField& field, std::string_view utf8) {
  if (OnTranslate || !OnUnstorableText || IsAscii(utf8)) return;
  const std::string missing = UnstorableCharacters(codePage_, utf8);
  if (missing.empty()) return;
  bool storeAnyway = false;
  OnUnstorableText(*this, field, missing, storeAnyway);
  if (!storeAnyway) throw EAbort();
}

// ---------------------------------------------------------------- editing

void TDbfTable::LockAndRead(int64_t recNo, uint8_t* buffer) {
  InvalidateReadAhead();
  dbfFile_->LockAndReadRecord(recNo, buffer + kHeaderSize);
  if (dbfFile_->WriteError()) {
    // Stamping the lock field failed: the record stays as it was.
    dbfFile_->ClearWriteError();
    dbfFile_->UnlockRecord(recNo);
    throw EDbfWriteError(msg::kWriteError);
  }
}

void TDbfTable::InternalEdit() {
  const int64_t recNo = cursor_->GetPhysicalRecord();
  ResetMemoStreams();
  LockAndRead(recNo, ActiveBuffer());
  editRecNo_ = recNo;
}

void TDbfTable::InternalCancel() {
  ResetMemoStreams();
  if (editRecNo_ > 0) {
    dbfFile_->UnlockRecord(editRecNo_);
    editRecNo_ = -1;
  }
}

void TDbfTable::InternalPost() {
  uint8_t* buffer = ActiveBuffer();
  uint8_t* record = buffer + kHeaderSize;
  WriteBackMemoStreams(record);
  InvalidateReadAhead();
  if (State() == dsEdit) {
    dbfFile_->WriteBackRecord(editRecNo_, record);
    // In index order the record may have moved: the cursor follows it.
    if (IndexCursor()) cursor_->SetPhysicalRecord(editRecNo_);
    editRecNo_ = -1;
  } else {
    const int64_t recNo = dbfFile_->AppendRecord(record);
    if (recNo > 0) cursor_->SetPhysicalRecord(recNo);
  }
}

void TDbfTable::InternalDelete() {
  uint8_t* buffer = ActiveBuffer();
  if (editRecNo_ <= 0) {
    InternalEdit();
  } else {
    // Already locked by an edit: start again from the record as stored.
    ResetMemoStreams();
    InvalidateReadAhead();
    dbfFile_->ReadRecord(editRecNo_, buffer + kHeaderSize);
  }
  const TDataSetState old = SetTempState(dsEdit);
  try {
    SetRecordDeleted(buffer + kHeaderSize, true);
    dbfFile_->NotifyDeleted(editRecNo_, buffer + kHeaderSize);
    dbfFile_->WriteBackRecord(editRecNo_, buffer + kHeaderSize);
  } catch (...) {
    RestoreState(old);
    throw;
  }
  editRecNo_ = -1;
  RestoreState(old);
}

void TDbfTable::Undelete() {
  if (State() != dsEdit) Edit();
  if (State() != dsEdit) return;  // an empty view: Edit became an insert
  uint8_t* buffer = ActiveBuffer();
  if (!buffer || !TRecordView(buffer + kHeaderSize, static_cast<size_t>(recordSize_)).Deleted() || editRecNo_ <= 0)
    return;
  InvalidateReadAhead();
  dbfFile_->RecallRecord(editRecNo_);
  // The edit goes on, now of a live record.
  SetRecordDeleted(buffer + kHeaderSize, false);
  DataEvent(deRecordChange, 0);
}

// ---------------------------------------------------------------- memo streams

TBlobStreamRef TDbfTable::OpenMemoStream(TField& field, TBlobStreamMode mode) {
  CheckActive();
  if (mode != bmRead && State() != dsEdit && State() != dsInsert) throw EDbfError(msg::kNotEditing);
  if (!field.IsBlob() || field.FieldKind() != fkData)
    throw EDbfError(FormatMessage(msg::kNotBlobField, field.FieldName().c_str()));
  const size_t slot = static_cast<size_t>(field.Index());
  if (slot >= memoStreams_.size()) memoStreams_.resize(slot + 1);
  if (!memoStreams_[slot]) memoStreams_[slot] = std::make_unique<TDbfBlobStream>(&field);
  TDbfBlobStream* stream = memoStreams_[slot].get();
  ++stream->refCount_;

  int32_t block = 0;
  const bool hasBlock = GetFieldData(field, &block) && block > 0;
  if (hasBlock) {
    if (mode == bmWrite) {
      stream->data_.clear();
      stream->memoSize_ = 0;
      stream->lineBreak_ = 0;
    } else if (block != stream->blockNo_) {
      std::string raw;
      if (TMemoFile* memo = dbfFile_->MemoFile()) memo->ReadMemo(block, raw);
      stream->memoSize_ = static_cast<int64_t>(raw.size());
      stream->lineBreak_ = LineBreakOf(raw);
      stream->data_ = field.IsTextBlob() ? TextFromTable(raw) : std::move(raw);
    }
    stream->blockNo_ = block;
  } else if (!stream->dirty_ || mode == bmWrite) {
    stream->data_.clear();
    stream->memoSize_ = 0;
    stream->blockNo_ = 0;
    stream->lineBreak_ = 0;
  }
  if (mode != bmRead) stream->dirty_ = true;
  stream->position_ = 0;
  return TBlobStreamRef(this, stream);
}

void TDbfTable::ReleaseMemoStream(TDbfBlobStream* stream) {
  if (stream->refCount_ == 2 && stream->dirty_)
    DataEvent(deFieldChange, reinterpret_cast<intptr_t>(stream->Field()));
  if (stream->refCount_ > 1) --stream->refCount_;
}

void TDbfTable::ResetMemoStreams() {
  for (auto& stream : memoStreams_) {
    if (!stream) continue;
    stream->dirty_ = false;
    stream->blockNo_ = -1;
  }
}

void TDbfTable::WriteBackMemoStreams(uint8_t* record) {
  for (auto& stream : memoStreams_) {
    if (!stream || !stream->dirty_) continue;
    TField& field = *stream->Field();
    const TDbfFieldDef& def = FileField(field);
    stream->Truncate();
    TMemoFile* memo = dbfFile_->MemoFile();
    if (!memo) throw EDbfError(FormatMessage(msg::kMemoFileMissing, dbfFile_->MemoFileName().c_str()));
    int32_t oldBlock = 0;
    if (!dbfFile_->DecodeField(def, ftInteger, false, &oldBlock, record)) oldBlock = 0;
    if (oldBlock > 0 && (stream->blockNo_ != oldBlock || stream->memoSize_ == 0)) {
      // Written without being read: the old value still tells its extent
      // (its blocks can be reused) and its line breaks.
      std::string raw;
      memo->ReadMemo(oldBlock, raw);
      stream->blockNo_ = oldBlock;
      stream->memoSize_ = static_cast<int64_t>(raw.size());
      stream->lineBreak_ = LineBreakOf(raw);
    }
    // The stream keeps its UTF-8 text; the converted copy goes to the file,
    // so a later read of the same block still finds text, not code page
    // bytes. Editors hand back bare LF; DOS and FoxPro programs show such a
    // memo as one line, so the value's own convention comes back (CR LF for
    // a new value: these are DOS formats).
    if (field.IsTextBlob()) stream->data_ = WithLineBreaks(stream->data_, stream->lineBreak_ ? stream->lineBreak_ : '\r');
    const std::string bytes = field.IsTextBlob() ? TextToTable(stream->data_, INT_MAX) : stream->data_;
    const int64_t oldLength = stream->blockNo_ == oldBlock ? stream->memoSize_ : 0;
    const int64_t block = memo->WriteMemo(oldLength > 0 ? oldBlock : 0, oldLength, bytes);
    if (memo->WriteError()) {
      memo->ClearWriteError();
      throw EDbfWriteError(msg::kWriteError);
    }
    const int32_t stored = static_cast<int32_t>(block);
    dbfFile_->EncodeField(def, ftInteger, false, record, block > 0 ? &stored : nullptr);
    stream->dirty_ = false;
    stream->blockNo_ = block;
    stream->memoSize_ = static_cast<int64_t>(bytes.size());
    if (field.IsTextBlob()) stream->lineBreak_ = LineBreakOf(bytes);
  }
}

std::string TDbfTable::ReadBlob(const TField& field) {
  if (!CurrentBuffer()) return std::string();
  TBlobStreamRef stream = OpenMemoStream(const_cast<TField&>(field), bmRead);
  return stream->Data();
}

void TDbfTable::WriteBlob(TField& field, std::string_view value) {
  TBlobStreamRef stream = OpenMemoStream(field, bmWrite);
  stream->Write(value);
}

// --- records as stored

bool TDbfTable::ReadStoredRecord(int64_t recNo, uint8_t* buffer) {
  if (!dbfFile_ || recNo <= 0 || recNo > RecordCount()) return false;
  if (!dbfFile_->ReadRecord(recNo, buffer + kHeaderSize)) return false;
  PutInt32(buffer + kBookmarkOffset, static_cast<int32_t>(recNo));
  buffer[kFlagOffset] = bfCurrent;
  PutInt32(buffer + kOrderPositionOffset, static_cast<int32_t>(recNo));
  return true;
}

bool TDbfTable::StoredRecordDeleted(const uint8_t* buffer) const {
  return TRecordView(buffer + kHeaderSize, static_cast<size_t>(recordSize_)).Deleted();
}

}  // namespace norvale
