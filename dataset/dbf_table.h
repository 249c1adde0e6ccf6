// TDbfTable: the table object through which the viewer, the command-line
// tool and every dialog work with one DBF table.
//
// It opens the file through TDbfFile, turns its field descriptors into the
// dataset's fields, walks the records through a cursor and carries the
// editing cycle: Edit locks and re-reads the record, Post writes it back (or
// appends a new one), Cancel releases the lock, Delete and Undelete mark and
// recall. Text values cross it as UTF-8, translated to and from the table's
// code page.
//
// Record buffers hold a small header (bookmark, bookmark flag, order
// position), then the record exactly as stored, then the calculated fields.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dataset/blob_stream.h"
#include "dataset/cursor.h"
#include "dataset/dataset.h"
#include "dataset/table_filter.h"
#include "dataset/variant.h"
#include "engine/code_page_choice.h"
#include "engine/field_codec.h"
#include "engine/language.h"
#include "engine/paged_file.h"
#include "index/table_indexes.h"
#include "index/index_defs.h"
#include "platform/text_codec.h"

namespace norvale {

class TIndexCursor;
class TDbfMasterLink;

class TDbfFile;
class TStream;

enum TDbfOpenMode { omNormal, omAutoCreate, omTemporary };
enum TDbfStorage { stoMemory, stoFile };
enum TDbfLanguageAction { laReadOnly, laForceOEM, laForceANSI, laDefault };
// How Locate compares text keys: without letter case, and accepting a field
// whose text begins with the last key's text.
enum TLocateOption : uint32_t {
  loCaseInsensitive = 1,
  loPartialKey = 2,
};
using TLocateOptions = uint32_t;
// Why a table asked for writing was opened read-only.
enum TReadOnlyCause {
  rcNone,
  // ReadOnly was set.
  rcRequested,
  // The file has no write permission, or the system refused write access.
  rcNoWriteAccess,
  // The file's size does not agree with the record count of its header.
  rcSizeMismatch,
  // The header announces an index file this program cannot keep current.
  rcUnmaintainedIndex,
  // The code page has no converter and OnLanguageWarning left it read-only.
  rcUnknownCodePage,
};

class TDbfTable;

// A memo stream in use; releases it when destroyed.
class TBlobStreamRef {
 public:
  TBlobStreamRef() = default;
  TBlobStreamRef(TDbfTable* table, TDbfBlobStream* stream) : table_(table), stream_(stream) {}
  TBlobStreamRef(TBlobStreamRef&& other) noexcept { *this = std::move(other); }
  TBlobStreamRef& operator=(TBlobStreamRef&& other) noexcept;
  ~TBlobStreamRef() { Release(); }
  TDbfBlobStream* operator->() const { return stream_; }
  TDbfBlobStream& operator*() const { return *stream_; }
  TDbfBlobStream* Get() const { return stream_; }
  void Release();

 private:
  TDbfTable* table_ = nullptr;
  TDbfBlobStream* stream_ = nullptr;
};

class TDbfTable : public TDataSet {
 public:
  static constexpr int kMajorVersion = 6;
  static constexpr int kMinorVersion = 9;
  // Record buffer header: bookmark (int32), flag (byte), order position (int32).
  static constexpr int kBookmarkOffset = 0;
  static constexpr int kFlagOffset = 4;
  static constexpr int kOrderPositionOffset = 5;
  static constexpr int kHeaderSize = 9;
  static constexpr int kSpareBytes = 8;

  TDbfTable();
  ~TDbfTable() override;

  // --- properties
  TDateTimeHandling DateTimeHandling() const { return dateTimeHandling_; }
  void SetDateTimeHandling(TDateTimeHandling value) { dateTimeHandling_ = value; }
  bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool value);
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool value);
  // The directory of the table as set, with a trailing "/" when not empty.
  const std::string& FilePath() const { return filePath_; }
  void SetFilePath(const std::string& path);
  // The absolute directory: FilePath when absolute, otherwise FilePath
  // resolved against the current directory (when it was set, or when the
  // table is opened for an empty FilePath).
  std::string FilePathFull() const;
  const std::string& TableName() const { return tableName_; }
  // Keeps the file-name part; a directory part becomes the FilePath.
  void SetTableName(const std::string& name);
  // FilePathFull followed by TableName.
  std::string PhysicalTableName() const;
  TDbfIndexDefs& IndexDefs() { return indexDefs_; }
  TDbfIndexDefs& Indexes() { return indexDefs_; }
  const std::string& IndexName() const { return indexName_; }
  void SetIndexName(const std::string& name);
  // The key expression of the current index's definition, empty in record
  // order; setting it selects the index defined with that expression (or
  // record order when none is).
  std::string IndexFieldNames() const;
  void SetIndexFieldNames(const std::string& names);
  // The names of every open index: the production tags, then the index
  // files opened by name. The table must be open.
  std::vector<std::string> GetIndexNames() const;
  // Opens one more existing index file (resolved against FilePathFull); it
  // is kept current from now on but does not change the order.
  void OpenIndexFile(const std::string& name);
  // Restricts the current index's order to the keys from low to high, both
  // included, and goes to the first record; nothing in record order.
  void SetRange(const TVariant& low, const TVariant& high);
  void CancelRange();
  // The index cursor when the table is in index order.
  TIndexCursor* IndexCursor() const;
  // --- master-detail (master_link.cpp)
  // The source of the master whose current record this table follows; null
  // for none. Raises "Circular datalinks are not allowed" when the source's
  // table is this one or follows it, directly or through its own masters.
  // While the master is open and MasterFields is set, the current index
  // holds only the records whose key equals MasterFields evaluated on the
  // master's current record; the range goes when the master closes or the
  // source is cleared. Record order is not restricted.
  TDataSource* MasterSource() const;
  void SetMasterSource(TDataSource* source);
  // An expression over the master's fields. A different text is compiled
  // against the master at once when it is open (raising the parser's
  // errors, the text kept and the link without a key until it compiles).
  const std::string& MasterFields() const;
  void SetMasterFields(const std::string& fields);
  TDbfOpenMode OpenMode() const { return openMode_; }
  void SetOpenMode(TDbfOpenMode mode) { openMode_ = mode; }
  bool ShowDeleted() const { return showDeleted_; }
  void SetShowDeleted(bool value);
  TDbfStorage Storage() const { return storage_; }
  void SetStorage(TDbfStorage storage);
  // The caller's stream of a stoMemory table (it stays the caller's).
  TStream* UserStream() const { return userStream_; }
  void SetUserStream(TStream* stream);
  bool StoreDefs() const { return storeDefs_; }
  void SetStoreDefs(bool value) { storeDefs_ = value; }
  int TableLevel() const { return tableLevel_; }
  // 3, 4, 7 or 25; other values are ignored. Only while closed.
  void SetTableLevel(int level);
  // The engine version, "6.09".
  std::string Version() const;
  void SetVersion(const std::string&) {}

  // --- events
  std::function<void(TDbfTable&, bool& doCreate)> BeforeAutoCreate;
  std::function<void(TDbfTable&, TDbfLanguageAction& action)> OnLanguageWarning;
  TLocaleErrorEvent OnLocaleError;
  std::function<void(bool& deleteLink)> OnIndexMissing;
  // Raised while opening, before a table that was asked for writing is
  // opened read-only because of a damaged header (rcSizeMismatch) or an
  // index it cannot keep current (rcUnmaintainedIndex). `message` says what
  // is wrong. Setting `editAnyway` keeps the table writable; it is honoured
  // only for rcUnmaintainedIndex, where the index then goes stale.
  std::function<void(TDbfTable&, TReadOnlyCause cause, const std::string& message, bool& editAnyway)>
      OnOpenReadOnly;
  // Raised before text holding characters the table's code page cannot
  // store is written into `field`; `characters` lists them (UTF-8, each
  // once). Leaving `storeAnyway` false aborts the assignment silently
  // (EAbort) and the field keeps its value; true stores them as "?".
  // Without a handler they are stored as "?".
  std::function<void(TDbfTable&, const TField& field, const std::string& characters, bool& storeAnyway)>
      OnUnstorableText;
  // Replaces the built-in conversion: `toTable` true converts UTF-8 text to
  // the table's code page. Returns the converted text.
  std::function<std::string(TDbfTable&, std::string_view src, bool toTable)> OnTranslate;
  // Called now and then during Pack, RebuildIndexes and AddIndex; throwing (EAbort) cancels, leaving the table as it was.
  // Also called while the filter judges records (`done` counts them, `total` is 0): a move that passes over
  // many rejected records can be cancelled the same way, ending like a filter that fails on a record, with the
  // table usable.
  std::function<void(int64_t done, int64_t total)> OnProgress;

  // --- state for callers
  TDbfFile* DbfFile() const { return dbfFile_.get(); }
  TVirtualCursor* Cursor() const { return cursor_.get(); }
  // The open table's index files (null while closed).
  TTableIndexes* IndexFiles() const { return indexFiles_.get(); }
  // Why the open table cannot be written (rcNone when it can), and the
  // sentence that says so.
  TReadOnlyCause ReadOnlyCause() const { return readOnlyCause_; }
  const std::string& ReadOnlyReason() const { return readOnlyReason_; }
  // 0 unknown code page, 1 ANSI, 2 OEM, 3 another installed code page.
  int TranslationMode() const { return translationMode_; }
  // The physical record number locked for editing, -1 when none.
  int64_t EditRecNo() const { return editRecNo_; }
  // The code page text is translated from and to.
  int CodePage() const;
  // Where CodePage() came from, and that in words ("language driver 0x65",
  // ".cpg file", "detected (confidence 0.93)", "chosen", "default").
  TCodePageSource CodePageSource() const;
  std::string CodePageSourceText() const;
  // Set while closed, for the next open: a code page chosen by the person
  // (0: the table's own, its .cpg, or detection), and whether a table that
  // names none has its text examined. Writing keeps the bytes in the page
  // read; the header changes only through SetTableCodePage.
  int ChosenCodePage() const { return chosenCodePage_; }
  void SetChosenCodePage(int codePage);
  bool DetectCodePage() const { return detectCodePage_; }
  void SetDetectCodePage(bool on);
  // Names `codePage` in the open table's header (and its .cpg); the table
  // must be open exclusively and writable. Text is read in it from then on.
  void SetTableCodePage(int codePage);
  // The code page a name stands for ("866", "cp866", "UTF-8", "KOI8-R",
  // "ISO-8859-2"), 0 for none; and whether text converts in it here.
  static int CodePageNamed(const std::string& name);
  static bool CodePageAvailable(int codePage);
  // The file's field definitions, for the table dialogs (null while closed).
  const TDbfFieldDefs* NativeFieldDefs() const;

  // --- table administration (dbf_table_admin.cpp)
  // Creates the table named by FilePath and TableName (with stoMemory, in
  // UserStream, or in a stream of the table's own when none was given) at
  // TableLevel, with the language byte of the last table opened here, and
  // creates every index listed in Indexes. Without `definitions` the fields
  // come from FieldDefs, or from the field objects when there are none. An
  // existing file of that name is overwritten, and a production index left
  // beside it removed. On any failure nothing of the new table stays on
  // disk. The table must be closed and stays closed.
  void CreateTable(const TDbfFieldDefs* definitions = nullptr);
  // Rewrites the closed table with `definitions` (CopyFrom() names each
  // field's old field, -1 for a new one), dropping deleted records when
  // `pack`. Below level 7 only the types C, D, F, L, M and N are accepted.
  // Returns the name the old table is kept under. Stays closed.
  std::string Restructure(const TDbfFieldDefs& definitions, bool pack);
  // The following need the table open exclusively and writable ("Exclusive
  // access is required for this operation." on a shared table, checked
  // before anything is changed), leave any edit first and keep IndexName.
  //
  // Removes the deleted records; the records are numbered anew and the
  // table shows its first record. A failure leaves the old table open.
  void Pack();
  // Removes every record; the open indexes are rebuilt empty.
  void Zap();
  void EmptyTable() { Zap(); }
  // Builds every open index anew from the records.
  void RebuildIndexes();
  // Creates (or builds anew) a tag of the production index, or with an
  // extension in `name` a single-index file, from `expression`. The name
  // and the expression are checked before any file is touched. The new
  // index is listed in Indexes.
  void AddIndex(const std::string& name, const std::string& expression, TIndexOptions options = 0);
  // Deletes a tag or a single-index file and its item in Indexes; the
  // table goes to record order first when it was the current index. False
  // when no open index has that name.
  bool DeleteIndex(const std::string& name);
  // Creates this closed table with the structure of the open `source` (its
  // version, language byte and fields) and the indexes listed in Indexes,
  // and copies every record as stored, deleted ones with their flags and
  // memo values into the new memo file. Stays closed.
  void CopyFrom(TDbfTable& source);

  // Runs `read` while field reads see the record image in `buffer` (one from
  // AllocRecordBuffer), as when a record is judged for a filter: views can
  // show records the window does not hold. The current record, the state
  // and any edit stay as they are.
  void WithFieldsOn(uint8_t* buffer, const std::function<void()>& read);

  // --- records as stored, for views that show records the window does not hold
  // Fills `buffer` (one from AllocRecordBuffer) with record `recNo` as the
  // file holds it now, not as read ahead, and with that record's bookmark,
  // ready for WithFieldsOn. False, with the buffer untouched, when the table
  // is closed or the record does not exist.
  bool ReadStoredRecord(int64_t recNo, uint8_t* buffer);
  // Whether the record in `buffer` (filled by ReadStoredRecord) is marked
  // deleted.
  bool StoredRecordDeleted(const uint8_t* buffer) const;

  // True when there is no current record or it is marked deleted.
  bool IsDeleted();
  // Recalls the current record; see the .cpp for the state it leaves.
  void Undelete();
  int CompareBookmarks(const TBookmark& a, const TBookmark& b) const override;
  // The record number a bookmark stands for (-1 for the null bookmark).
  static int64_t BookmarkRecNo(const TBookmark& bookmark);
  static TBookmark MakeBookmark(int64_t recNo);

  // Opens the memo stream of `field` in the current record. Writing modes
  // need edit or insert state ("Dataset not in edit or insert mode").
  TBlobStreamRef OpenMemoStream(TField& field, TBlobStreamMode mode);

  // --- dataset values
  int RecordCount() override;
  int RecNo() override;
  void SetRecNo(int value) override;
  bool GetFieldData(const TField& field, void* buffer, bool native = false) override;
  void SetFieldData(TField& field, const void* buffer) override;
  std::string TextFromTable(std::string_view bytes) override;
  void AppendTextFromTable(std::string& out, std::string_view bytes) override;
  bool AppendStoredText(const TField& field, std::string& out) override;
  std::string TextToTable(std::string_view utf8, int maxBytes) override;
  void CheckStorableText(const TField& field, std::string_view utf8) override;
  std::string ReadBlob(const TField& field) override;
  void WriteBlob(TField& field, std::string_view value) override;
  // While open, compiles the text with the current FilterOptions (see
  // TTableFilter::Compile for what it raises; the text in force stays then);
  // while closed, keeps it for the open. The same text again does nothing,
  // so changed FilterOptions need a new text or a new open.
  void SetFilter(const std::string& text) override;
  void SetFiltered(bool value) override;

  // --- searching (dbf_table_search.cpp)
  // Key fields are named in `keyFields`, separated by ";" (an unknown name
  // raises "Field '%s' not found"); `keyValues` is one value for a single
  // field or an array of one value per field, and any other shape matches
  // nothing. Text fields compare as UTF-8 text, without letter case under
  // loCaseInsensitive; with loPartialKey the last field also matches when
  // its text begins with the value's text. Other fields compare as values
  // (null matches null only; text that is no value of the field's type
  // raises EConvertError before any record is read). Hidden deleted
  // records and, while Filtered, filtered-out ones are passed over.
  //
  // Makes the first matching record in the current order current and
  // answers true; otherwise the current record stays and the answer is
  // false.
  bool Locate(const std::string& keyFields, const TVariant& keyValues, TLocateOptions options);
  // The values of `resultFields` (";"-separated; several give an array) in
  // the first record whose keys equal `keyValues` exactly, or null. Never
  // moves the current record.
  TVariant Lookup(const std::string& keyFields, const TVariant& keyValues, const std::string& resultFields);
  // Behind FindFirst, FindLast, FindNext and FindPrior: leaves any edit,
  // then moves from the current record (or from the start or end when
  // `restart`) to the next or prior record that Filter and OnFilterRecord
  // accept, whether or not Filtered is on. Not found: nothing moves.
  bool FindRecord(bool restart, bool goForward) override;

 protected:
  void InternalOpen() override;
  void InternalClose() override;
  bool IsCursorOpen() const override { return cursor_ != nullptr; }
  void InternalInitFieldDefs() override;
  std::unique_ptr<uint8_t[]> AllocRecordBuffer() override;
  void InternalInitRecord(uint8_t* buffer) override;
  TGetResult GetRecord(uint8_t* buffer, TGetMode mode, bool doCheck) override;
  void InternalFirst() override;
  void InternalLast() override;
  void InternalGotoBookmark(const TBookmark& bookmark) override;
  void InternalSetToRecord(uint8_t* buffer) override;
  TBookmark GetBookmarkData(const uint8_t* buffer) const override;
  TBookmarkFlag GetBookmarkFlag(const uint8_t* buffer) const override;
  void SetBookmarkFlag(uint8_t* buffer, TBookmarkFlag flag) override;
  void InternalEdit() override;
  void InternalCancel() override;
  void InternalPost() override;
  void InternalDelete() override;
  bool GetCanModify() override;
  // A refresh shows what the file holds now, not what was read ahead.
  void InternalRefresh() override {
    InvalidateReadAhead();
    lastRecordRead_ = -1;
  }
  void ClearCalcFields(uint8_t* buffer) override;
  int CalcFieldsOffset() const override { return kHeaderSize + recordSize_; }

 private:
  friend class TBlobStreamRef;
  void CheckClosed() const;
  void BuildFieldDefs(const TDbfFile& file);
  void DetermineTranslationMode();
  // Opens the production index the header announces, remembering why when
  // it cannot be read.
  void OpenIndexFiles(TDbfFile& file);
  void SetReadOnlyCause(TReadOnlyCause cause, std::string reason);
  // Opens `file` for writing unless something says it must not be written;
  // then read-only, with the cause kept.
  void OpenFileGuarded(TDbfFile& file, const std::string& fileName, TPagedFileMode mode);
  void AddProductionIndexTags();
  void OpenListedIndexes();
  // A search value in the current index's key form.
  std::string IndexKeyFor(const TVariant& value);
  // Compiles `text` into the filter with the current FilterOptions.
  void CompileFilter(const std::string& text);
  // Whether the record in `buffer` passes Filter and OnFilterRecord. A
  // condition that fails on it turns Filtered off and raises one error that
  // names the filter and the record.
  bool AcceptRecord(uint8_t* buffer);
  // Fills the header of `buffer`, whose record was just read from under the
  // cursor, and computes its calculated fields.
  void StampRecord(uint8_t* buffer);
  // Leaves the cursor on the first record in cursor order, from the start,
  // that matches the keys (see Locate), with that record in tempBuffer_;
  // false when none does.
  bool LinearSearch(const std::string& keyFields, const TVariant& keyValues, TLocateOptions options);
  // The same answer through an index, when one can give it (a single key
  // field that an open index has for its expression, no filter, case as
  // stored): true with *found set when it answered, false to search
  // linearly.
  bool IndexSearch(const std::string& keyFields, const TVariant& keyValues, TLocateOptions options, bool* found);
  bool Search(const std::string& keyFields, const TVariant& keyValues, TLocateOptions options);
  // The fields named in `names`, ";"-separated.
  std::vector<TField*> FieldList(const std::string& names) const;
  void SelectIndex();
  void InitMasterLink();
  // The master moved: leave any edit, then show the master's records.
  void MasterChanged();
  void MasterDisabled();
  // Sets the master's key as the range of the current index and puts the
  // cursor before its first record; false when the link does not restrict
  // this order (inactive, no key, record order).
  bool RestrictToMaster();
  // Lifts the master's range from the current index before the order
  // changes.
  void LeaveMasterRange();
  // The buffer field values are read from and written to in this state.
  uint8_t* CurrentBuffer() const;
  const TDbfFieldDef& FileField(const TField& field) const;
  // Reads record `recNo` into `record`, through a read-ahead block while
  // the walk goes forward through the file.
  void ReadRecord(int64_t recNo, uint8_t* record);
  void InvalidateReadAhead() { readAheadCount_ = 0; }
  void ResetMemoStreams();
  void WriteBackMemoStreams(uint8_t* record);
  void ReleaseMemoStream(TDbfBlobStream* stream);
  void LockAndRead(int64_t recNo, uint8_t* buffer);
  // --- administration helpers (dbf_table_admin.cpp)
  void RequireExclusiveAccess() const;
  // Writes the new table; `fill` adds records before the indexes are built.
  void CreateTableFile(const TDbfFieldDefs* definitions, const std::function<void(TDbfFile&)>& fill);
  void BuildCreateDefinitions(TDbfFieldDefs& defs);
  // An index name as the index files know it: a tag name trimmed, a file
  // name made absolute against FilePathFull.
  std::string ResolveIndexName(const std::string& name) const;
  // Lets go of the table file (and its indexes) while the dataset stays
  // open, and takes it up again from the file on disk.
  void ReleaseTableFile();
  void ReopenTableFile(const std::vector<std::string>& indexFiles, const std::string& indexName);
  // Runs `change` on the indexes in record order, then selects `indexName`
  // again and shows the window anew.
  void WithRecordOrder(std::string indexName, const std::function<void()>& change);

  // Published properties.
  TDateTimeHandling dateTimeHandling_ = dtBDETimeStamp;
  bool exclusive_ = false;
  bool readOnly_ = false;
  std::string filePath_;
  std::string filePathFull_;
  std::string tableName_;
  TDbfIndexDefs indexDefs_;
  std::string indexName_;
  TDbfOpenMode openMode_ = omNormal;
  bool showDeleted_ = false;
  TDbfStorage storage_ = stoFile;
  bool storeDefs_ = false;
  int tableLevel_ = 4;

  // Internal state.
  // The stream a stoMemory table created itself; before the table file,
  // which writes into it while closing.
  std::unique_ptr<TStream> createdStream_;
  std::unique_ptr<TDbfFile> dbfFile_;
  std::unique_ptr<TVirtualCursor> cursor_;
  std::unique_ptr<TDbfMasterLink> masterLink_;
  std::vector<std::unique_ptr<TDbfBlobStream>> memoStreams_;
  TStream* userStream_ = nullptr;
  std::unique_ptr<uint8_t[]> tempBuffer_;
  uint8_t* filterBuffer_ = nullptr;
  // The compiled Filter, from its first compile while open until close.
  std::unique_ptr<TTableFilter> filter_;
  int64_t judged_ = 0;  // records the filter has judged, for OnProgress
  // Set while FindRecord reads: the filter applies even with Filtered off.
  bool findInProgress_ = false;
  int64_t editRecNo_ = -1;
  uint8_t languageId_ = 0;
  int translationMode_ = 0;
  int codePage_ = 0;
  int chosenCodePage_ = 0;
  bool detectCodePage_ = true;
  // Table text to UTF-8, resolved once per open.
  std::unique_ptr<TCodePageDecoder> decoder_;
  std::unique_ptr<TTableIndexes> indexFiles_;
  // Why the production index could not be opened (empty when it could).
  std::string indexOpenError_;
  int recordSize_ = 0;
  bool rebuildingDefs_ = false;
  TReadOnlyCause readOnlyCause_ = rcNone;
  std::string readOnlyReason_;
  // Field objects by field number, for the file field behind each.
  std::vector<const TDbfFieldDef*> fileFields_;

  // Records read ahead for forward walks.
  std::vector<uint8_t> readAhead_;
  int64_t readAheadFirst_ = 0;
  int64_t readAheadCount_ = 0;
  int64_t lastRecordRead_ = -1;
};

}  // namespace norvale
