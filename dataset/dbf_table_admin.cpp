// The table object's administration: creating a table (also when an open
// finds it missing), restructuring, packing, zapping, and adding, deleting
// and rebuilding indexes.
#include <algorithm>
#include <cstring>

#include "dataset/dataset_messages.h"
#include "dataset/dbf_table.h"
#include "engine/exceptions.h"
#include "engine/messages.h"
#include "engine/stream.h"
#include "engine/table_file.h"
#include "expr/table_parser.h"
#include "index/index_file.h"
#include "index/table_indexes.h"
#include "index/table_rewrite.h"
#include "platform/ascii.h"
#include "platform/os_file.h"

namespace norvale {

namespace {

std::string Trimmed(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

bool HasExtension(const std::string& name) {
  const size_t slash = name.find_last_of('/');
  const size_t dot = name.find_last_of('.');
  return dot != std::string::npos && (slash == std::string::npos || dot > slash);
}

// Fields whose record bytes name a block of the memo file ("B" is a double
// at FoxPro).
bool NamesMemoBlock(const TDbfFieldDef& def, TXBaseVersion version) {
  const char t = def.NativeFieldType();
  return t == 'M' || t == 'G' || (t == 'B' && version != xFoxPro);
}

// A tag is written into a fixed slot of the production file, which cuts
// longer names and upper-cases them: a name that does not survive that
// could never be selected again.
bool ValidTagName(const std::string& name, size_t room) {
  if (name.empty() || name.size() > room) return false;
  const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (!letter(name[0])) return false;
  return std::all_of(name.begin(), name.end(),
                     [&](char c) { return letter(c) || (c >= '0' && c <= '9') || c == '_'; });
}

// Records read between two progress reports of an in-memory pack.
constexpr int64_t kProgressStep = 4096;

// The table's progress callback on its index files for one operation only:
// Zap rebuilds them too, after the records are gone, where a cancel would
// leave indexes that no longer match the table.
class TIndexProgress {
 public:
  TIndexProgress(TTableIndexes* indexes, const std::function<void(int64_t, int64_t)>& progress)
      : indexes_(indexes) {
    if (indexes_) indexes_->SetProgress(progress);
  }
  ~TIndexProgress() {
    if (indexes_) indexes_->SetProgress(nullptr);
  }
  TIndexProgress(const TIndexProgress&) = delete;
  TIndexProgress& operator=(const TIndexProgress&) = delete;

 private:
  TTableIndexes* indexes_;
};

}  // namespace

// ---------------------------------------------------------------- checks

void TDbfTable::RequireExclusiveAccess() const {
  CheckActive();
  // A table in memory is this object's alone.
  if (storage_ == stoMemory) return;
  if (!ModeWritable(dbfFile_->Mode())) throw EDbfError(msg::kDataSetReadOnly);
  if (!exclusive_ || dbfFile_->IsShared()) throw EDbfError(msg::kExclusiveRequired);
}

std::string TDbfTable::ResolveIndexName(const std::string& name) const {
  const std::string trimmed = Trimmed(name);
  if (!HasExtension(trimmed) || trimmed.front() == '/') return trimmed;
  return FilePathFull() + trimmed;
}

// ---------------------------------------------------------------- creating

void TDbfTable::CreateTable(const TDbfFieldDefs* definitions) {
  CheckInactive();
  CreateTableFile(definitions, nullptr);
}

void TDbfTable::BuildCreateDefinitions(TDbfFieldDefs& defs) {
  const auto add = [&defs](const std::string& name, TFieldType type, int size, int precision, bool required) {
    TDbfFieldDef& def = defs.Add();
    def.SetFieldName(name);
    def.SetFieldType(type);
    if (size > 0) def.SetSize(size);
    // Float definitions carry their decimals without a size (the open
    // builds them so); dropping them would round every value on a copy.
    if (precision > 0) def.SetPrecision(precision);
    def.SetRequired(required);
  };
  if (FieldDefs().Count() > 0) {
    for (int i = 0; i < FieldDefs().Count(); ++i) {
      const TFieldDef& f = FieldDefs().Item(i);
      add(f.name, f.dataType, f.size, f.precision, f.required);
    }
    return;
  }
  for (int i = 0; i < FieldCount(); ++i) {
    const TField& f = Fields(i);
    if (f.FieldKind() == fkData) add(f.FieldName(), f.DataType(), f.Size(), f.Precision(), f.Required());
  }
}

void TDbfTable::CreateTableFile(const TDbfFieldDefs* definitions, const std::function<void(TDbfFile&)>& fill) {
  const TXBaseVersion version = VersionOfTableLevel(tableLevel_);
  TDbfFieldDefs built(version);
  if (!definitions) {
    BuildCreateDefinitions(built);
    definitions = &built;
  }
  const bool onDisk = storage_ == stoFile;
  const std::string path = PhysicalTableName();
  bool ownStream = false;

  auto file = std::make_unique<TDbfFile>();
  file->SetCreateVersion(version);
  file->SetCreateLanguageId(languageId_);
  if (onDisk) {
    file->SetFileName(path);
    file->SetMode(amExclusiveCreate);
  } else {
    TStream* stream = userStream_;
    if (!stream) {
      createdStream_ = std::make_unique<TMemoryStream>();
      stream = createdStream_.get();
      ownStream = true;
    } else {
      stream->Resize(0);
    }
    userStream_ = stream;
    file->SetStream(stream);
    file->SetMode(amMemoryCreate);
  }

  bool created = false;
  std::string memoPath;
  std::vector<std::string> indexPaths;
  try {
    file->Open();
    // From here the file is the new, empty table: a failure removes it.
    created = true;
    file->CreateStructure(*definitions, 512);
    memoPath = file->MemoFileName();
    if (fill) fill(*file);
    if (onDisk) {
      // An .mdx left from a table of the same name would be taken for the
      // new table's and get its tags added to the old ones.
      const std::string stale = FindCompanionFile(path, ".mdx");
      if (!stale.empty()) TOsFile::Remove(stale);
    }
    if (indexDefs_.Count() > 0) {
      TTableIndexes indexes(*file);
      indexes.onLocaleError = OnLocaleError;
      try {
        for (int i = 0; i < indexDefs_.Count(); ++i) {
          const TDbfIndexDef& def = indexDefs_.Item(i);
          indexes.AttachIndex(ResolveIndexName(def.indexFile), def.sortField, def.options, true);
        }
      } catch (...) {
        for (const auto& index : indexes.Files()) indexPaths.push_back(index->FileName());
        throw;
      }
    }
    file->Close();
  } catch (...) {
    if (memoPath.empty()) memoPath = file->MemoFileName();
    try {
      file->Close();
    } catch (...) {
      // The files are removed below; what the close could not write is moot.
    }
    file.reset();
    if (onDisk && created) {
      TOsFile::Remove(path);
      if (!memoPath.empty()) TOsFile::Remove(memoPath);
      for (const std::string& p : indexPaths) TOsFile::Remove(p);
    }
    if (ownStream) {
      // The next open asks to create the table again.
      userStream_ = nullptr;
      createdStream_.reset();
    }
    throw;
  }
}

void TDbfTable::CopyFrom(TDbfTable& source) {
  CheckInactive();
  if (!source.Active() || !source.dbfFile_) throw EDbfError(msg::kDataSetClosed);
  TDbfFile& from = *source.dbfFile_;
  const TXBaseVersion version = from.Version();
  // The records are copied as bytes, so the new table must lay them out
  // and read their text exactly as the source does.
  tableLevel_ = from.TableLevel();
  languageId_ = from.LanguageId();
  TDbfFieldDefs defs(version);
  std::vector<const TDbfFieldDef*> sources;
  for (int i = 0; i < from.FieldDefs().Count(); ++i) {
    const TDbfFieldDef& f = from.FieldDefs().Item(i);
    // The null flags field is made again from the fields that may be null.
    if (&f == from.NullFlagsField()) continue;
    defs.Add().Assign(f);
    sources.push_back(&f);
  }

  CreateTableFile(&defs, [&](TDbfFile& fresh) {
    const int inLength = from.RecordLength();
    const int outLength = fresh.RecordLength();
    std::vector<const TDbfFieldDef*> targets;
    for (size_t i = 0; i < sources.size(); ++i) targets.push_back(&fresh.FieldDefs().Item(static_cast<int>(i)));
    const TDbfFieldDef* inFlags = from.NullFlagsField();
    const TDbfFieldDef* outFlags = fresh.NullFlagsField();
    TMemoFile* inMemo = from.MemoFile();
    TMemoFile* outMemo = fresh.MemoFile();
    std::vector<uint8_t> blank(static_cast<size_t>(outLength));
    fresh.BlankRecord(blank.data());

    constexpr int64_t kChunk = 4096;
    const int64_t total = from.RecordsInFile();
    std::vector<uint8_t> in(static_cast<size_t>(kChunk * inLength));
    std::vector<uint8_t> out(static_cast<size_t>(kChunk * outLength));
    std::string value;
    for (int64_t first = 1; first <= total; first += kChunk) {
      const int64_t got = from.ReadRecords(first, std::min(kChunk, total - first + 1), in.data());
      if (got <= 0) break;
      for (int64_t k = 0; k < got; ++k) {
        const uint8_t* rec = in.data() + k * inLength;
        uint8_t* dst = out.data() + k * outLength;
        std::memcpy(dst, blank.data(), blank.size());
        dst[0] = rec[0];
        for (size_t i = 0; i < sources.size(); ++i) {
          const TDbfFieldDef& s = *sources[i];
          const TDbfFieldDef& t = *targets[i];
          if (!NamesMemoBlock(s, version)) {
            std::memcpy(dst + t.Offset(), rec + s.Offset(), static_cast<size_t>(std::min(s.Size(), t.Size())));
            continue;
          }
          // Block numbers mean nothing in another memo file: the value
          // itself is carried.
          int32_t block = 0;
          int32_t written = 0;
          if (inMemo && outMemo && from.DecodeField(s, ftInteger, false, &block, rec) && block > 0) {
            inMemo->ReadMemo(block, value);
            if (!value.empty()) {
              written = static_cast<int32_t>(outMemo->WriteMemo(0, 0, value));
              if (outMemo->WriteError()) throw EDbfWriteError(msg::kWriteError);
            }
          }
          fresh.EncodeField(t, ftInteger, false, dst, written > 0 ? &written : nullptr);
        }
        if (inFlags && outFlags)
          std::memcpy(dst + outFlags->Offset(), rec + inFlags->Offset(),
                      static_cast<size_t>(std::min(inFlags->Size(), outFlags->Size())));
      }
      fresh.WriteNewRecords(out.data(), got);
    }
    fresh.FinishNewRecords();
    if (outMemo) {
      outMemo->Flush();
      if (outMemo->WriteError()) throw EDbfWriteError(msg::kWriteError);
    }
  });
}

// ---------------------------------------------------------------- restructuring

std::string TDbfTable::Restructure(const TDbfFieldDefs& definitions, bool pack) {
  CheckInactive();
  if (tableLevel_ < 7) {
    for (int i = 0; i < definitions.Count(); ++i) {
      const TDbfFieldDef& def = definitions.Item(i);
      if (!std::strchr("CDFLMN", def.NativeFieldType()) || def.NativeFieldType() == 0)
        throw EDbfError(FormatMessage(msg::kInvalidFieldTypeFor, FieldTypeText(def.NativeFieldType()).c_str(),
                                      def.FieldName().c_str()));
    }
  }
  if (storage_ == stoMemory) throw EDbfError(msg::kMemoryRestructure);
  TRewriteOptions options;
  // The single-index files the table opens are rebuilt with it; a listed
  // one that is missing would refuse the open anyway.
  for (int i = 0; i < indexDefs_.Count(); ++i) {
    const std::string name = ResolveIndexName(indexDefs_.Item(i).indexFile);
    if (HasExtension(name) && TOsFile::Exists(name)) options.indexFiles.push_back(name);
  }
  return RestructureTable(PhysicalTableName(), definitions, pack, options).backup;
}

// ---------------------------------------------------------------- pack, zap

void TDbfTable::ReleaseTableFile() {
  cursor_.reset();
  filter_.reset();
  ResetMemoStreams();
  InvalidateReadAhead();
  lastRecordRead_ = -1;
  indexFiles_.reset();
  fileFields_.clear();
  if (dbfFile_) dbfFile_->Close();
  dbfFile_.reset();
}

void TDbfTable::ReopenTableFile(const std::vector<std::string>& indexFiles, const std::string& indexName) {
  const std::string fileName = PhysicalTableName();
  auto file = std::make_unique<TDbfFile>();
  file->SetFileName(fileName);
  file->SetDateTimeHandling(dateTimeHandling_);
  file->SetChosenCodePage(chosenCodePage_);
  file->SetDetectCodePage(detectCodePage_);
  try {
    OpenFileGuarded(*file, fileName, readOnly_ ? amReadOnly : exclusive_ ? amExclusiveOpen : amSharedOpen);
  } catch (...) {
    indexFiles_.reset();
    throw;
  }
  if (file->GiveUp()) {
    indexFiles_.reset();
    file->Close();
    throw EAbort();
  }
  dbfFile_ = std::move(file);
  recordSize_ = dbfFile_->RecordLength();
  fileFields_.assign(static_cast<size_t>(dbfFile_->FieldDefs().Count()), nullptr);
  for (int i = 0; i < dbfFile_->FieldDefs().Count(); ++i)
    fileFields_[static_cast<size_t>(i)] = &dbfFile_->FieldDefs().Item(i);
  try {
    CompileFilter(Filter());
  } catch (const EDbfError&) {
    TDataSet::SetFilter(std::string());
  }
  if (indexFiles_)
    for (const std::string& name : indexFiles) indexFiles_->AttachIndex(name, std::string(), 0, false);
  editRecNo_ = -1;
  indexName_ = indexName;
  cursor_.reset();
  SelectIndex();
  // Whoever compiled an expression over this table's fields (a detail's
  // master key) must compile it again over the new file's.
  DataEvent(deLayoutChange, 0);
}

void TDbfTable::Pack() {
  RequireExclusiveAccess();
  CheckBrowseMode();
  const std::string indexName = indexName_;
  if (storage_ == stoMemory) {
    // No other program reads a table in memory, so it is compacted in
    // place; the memo values of the records dropped stay unreferenced.
    // Every record is read before the first is changed, so that a cancel
    // finds the table as it was.
    const int64_t total = dbfFile_->RecordsInFile();
    std::vector<uint8_t> kept;
    std::vector<uint8_t> record(static_cast<size_t>(recordSize_));
    int64_t count = 0;
    for (int64_t recNo = 1; recNo <= total; ++recNo) {
      if (dbfFile_->ReadRecord(recNo, record.data()) && record[0] != '*') {
        kept.insert(kept.end(), record.begin(), record.end());
        ++count;
      }
      if (OnProgress && (recNo % kProgressStep == 0 || recNo == total)) OnProgress(recNo, total);
    }
    dbfFile_->Zap();
    if (count > 0) dbfFile_->WriteNewRecords(kept.data(), count);
    dbfFile_->FinishNewRecords();
    ResetMemoStreams();
    InvalidateReadAhead();
    lastRecordRead_ = -1;
    indexName_.clear();
    SelectIndex();
    First();
    return;
  }

  const std::string path = PhysicalTableName();
  TRewriteOptions options;
  options.progress = OnProgress;
  if (indexFiles_)
    for (const auto& file : indexFiles_->Files())
      if (!file->IsMultiple()) options.indexFiles.push_back(file->FileName());
  ReleaseTableFile();
  try {
    PackTable(path, options);
  } catch (...) {
    // The rewrite leaves the old files as they were: the table goes on
    // with them. When even they cannot be opened, the table closes.
    try {
      ReopenTableFile(options.indexFiles, indexName);
      First();
    } catch (...) {
      Close();
    }
    throw;
  }
  try {
    ReopenTableFile(options.indexFiles, indexName);
  } catch (...) {
    Close();
    throw;
  }
  // The window held records by their old numbers.
  First();
}

void TDbfTable::WithRecordOrder(std::string indexName, const std::function<void()>& change) {
  // A cursor in a tag holds the tag's number and its place in the tree;
  // both can change under it.
  indexName_.clear();
  SelectIndex();
  try {
    change();
  } catch (...) {
    indexName_ = indexName;
    SelectIndex();
    FillWindowFromCursor();
    throw;
  }
  indexName_ = indexName;
  SelectIndex();
}

void TDbfTable::Zap() {
  RequireExclusiveAccess();
  CheckBrowseMode();
  WithRecordOrder(indexName_, [this] {
    dbfFile_->Zap();
    if (indexFiles_) indexFiles_->RebuildAllIndexes();
  });
  ResetMemoStreams();
  InvalidateReadAhead();
  lastRecordRead_ = -1;
  // Nothing the window holds exists any more; an edit of it would be
  // written past the end.
  First();
}

void TDbfTable::RebuildIndexes() {
  RequireExclusiveAccess();
  CheckBrowseMode();
  WithRecordOrder(indexName_, [this] {
    TIndexProgress progress(indexFiles_.get(), OnProgress);
    if (indexFiles_) indexFiles_->RebuildAllIndexes();
  });
  FillWindowFromCursor();
}

// ---------------------------------------------------------------- indexes

void TDbfTable::AddIndex(const std::string& name, const std::string& expression, TIndexOptions options) {
  RequireExclusiveAccess();
  const std::string resolved = ResolveIndexName(name);
  if (resolved.empty()) throw EDbfError(msg::kIndexNameMissing);
  if (!HasExtension(resolved)) {
    TIndexFile* production = indexFiles_ ? indexFiles_->Production() : nullptr;
    const int level = production ? production->Level() : tableLevel_ == 7 ? 7 : 4;
    const int room = level == 7 ? 32 : 10;
    if (!ValidTagName(resolved, static_cast<size_t>(room)))
      throw EDbfError(FormatMessage(msg::kTagNameInvalid, resolved.c_str(), room));
  }
  const std::string key = AsciiUpper(Trimmed(expression));
  if (key.empty()) throw EDbfError(msg::kIndexNeedsExpression);
  {
    // The index files would raise the same errors, but only once a file is
    // created or an existing tag of that name is gone.
    TDbfIndexParser parser(dbfFile_.get());
    parser.ParseExpression(key);
    const TExpressionType type = parser.ResultType();
    if (type != rtString && type != rtInteger && type != rtLargeInt && type != rtFloat)
      throw EDbfError(msg::kInvalidIndexType);
  }
  if (!indexFiles_) throw EDbfError(msg::kIndexInMemory);
  CheckBrowseMode();
  WithRecordOrder(indexName_, [&] {
    TIndexProgress progress(indexFiles_.get(), OnProgress);
    indexFiles_->AttachIndex(resolved, key, options, true);
  });
  AddProductionIndexTags();
  if (HasExtension(resolved) && !indexDefs_.GetIndexByName(Trimmed(name))) {
    // Listed like the caller's own, so the next open keeps the file
    // current too.
    indexDefs_.Add(Trimmed(name), key, options);
  }
  FillWindowFromCursor();
}

bool TDbfTable::DeleteIndex(const std::string& name) {
  RequireExclusiveAccess();
  const std::string resolved = ResolveIndexName(name);
  if (resolved.empty() || !indexFiles_) return false;
  int tag = -1;
  TIndexFile* target = indexFiles_->Find(resolved, &tag);
  if (!target) return false;
  CheckBrowseMode();
  std::string indexName = indexName_;
  int currentTag = -1;
  if (indexFiles_->Find(ResolveIndexName(indexName), &currentTag) == target && currentTag == tag) indexName.clear();
  bool dropped = false;
  WithRecordOrder(indexName, [&] { dropped = indexFiles_->DropIndex(resolved); });
  // An item left behind would make the next open look for a file that is
  // gone, or CreateTable make the index again.
  const std::string wanted = AsciiUpper(Trimmed(name));
  const std::string wantedLeaf = wanted.substr(wanted.find_last_of('/') + 1);
  for (int i = indexDefs_.Count() - 1; i >= 0; --i) {
    std::string item = AsciiUpper(Trimmed(indexDefs_.Item(i).indexFile));
    item = item.substr(item.find_last_of('/') + 1);
    if (item == wantedLeaf) indexDefs_.Delete(i);
  }
  FillWindowFromCursor();
  return dropped;
}

}  // namespace norvale
