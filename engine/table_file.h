// TDbfFile: one DBF table file. A page is a record; page 0 is the header.
// It reads and writes the header and field descriptors, decodes and encodes
// values, appends and rewrites records under record and header locks, and
// keeps the table's index files informed.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/code_page_choice.h"
#include "engine/dbf_format.h"
#include "engine/field_codec.h"
#include "engine/fields.h"
#include "engine/index_link.h"
#include "engine/memo_file.h"
#include "engine/paged_file.h"

namespace norvale {

// Finds `base` + `ext` beside the table whatever the case of its letters
// (DOS-era tables come as CUSTOMER.DBF with customer.dbt). Empty when absent.
std::string FindCompanionFile(const std::string& tablePath, const std::string& ext);

// The file type other programs name a version byte by ("Unknown" for others).
const char* VersionByteDescription(uint8_t versionByte);

// The text a field type letter is named by in messages: ' "I" (#49) '.
std::string FieldTypeText(char letter);
// Whether tables of `version` can hold fields of native type `letter`.
bool VersionHoldsFieldType(TXBaseVersion version, char letter);

class TDbfFile : public TPagedFile {
 public:
  static constexpr uint8_t kEofByte = fmt::kEndOfFile;
  static constexpr uint8_t kTerminator = fmt::kTerminator;
  static constexpr int kMaxFields = 4095;

  TDbfFile();
  ~TDbfFile() override;

  // Opens in the mode set beforehand; no-op when already open. Raises
  // EDbfError for a file that is not a table, Exception for a missing one.
  void Open();
  void Close();

  TXBaseVersion Version() const { return version_; }
  int TableLevel() const { return TableLevelOf(version_); }
  uint8_t VersionByte() const { return header_.empty() ? 0 : header_[0]; }
  uint8_t LanguageId() const { return languageId_; }
  // The code page the language driver names (0: none); the one the text is
  // read and written in, and where that one came from.
  int FileCodePage() const { return fileCodePage_; }
  int UseCodePage() const { return useCodePage_; }
  TCodePageSource CodePageSource() const { return codePageSource_; }
  // How sure detection was (0..1); 0 unless the page was detected.
  double CodePageConfidence() const { return codePageConfidence_; }
  // "language driver 0x65", ".cpg file", "detected (confidence 0.93)",
  // "chosen", "default" (with the reason when detection could not decide).
  std::string CodePageSourceText() const;
  // The .cpg sidecar found at open; empty when there is none.
  const std::string& CpgFileName() const { return cpgFileName_; }
  // Set before Open: the page a person chose (0: none), and whether a table
  // whose driver byte is 0 and that has no .cpg has its text examined.
  void SetChosenCodePage(int codePage) { chosenCodePage_ = codePage; }
  int ChosenCodePage() const { return chosenCodePage_; }
  void SetDetectCodePage(bool on) { detectCodePage_ = on; }
  // Names `codePage` in the header (the language driver byte, or the driver
  // name of a dBASE 7 table) and in the .cpg when there is one; a page no
  // driver names is written to the .cpg alone, created if need be, with the
  // driver byte 0. Needs the table open exclusively and writable.
  void WriteCodePage(int codePage);
  // The language driver name of a dBASE 7 header (empty below dBASE 7).
  std::string LanguageDriverName() const;

  // Set before opening in a creating mode: the version and the language
  // driver id a new table is written with (0: the process default).
  void SetCreateVersion(TXBaseVersion version) { version_ = version; }
  void SetCreateLanguageId(uint8_t id) { languageId_ = id; }
  // Writes the header of a new, empty table with the fields of `defs` (names
  // upper-cased and cut to the version's length), and creates its memo file
  // when it has memo fields. FoxPro fields whose NullPosition() is set may
  // hold null. Definitions the version cannot hold (names empty, repeated or
  // unprintable, types it has no letter for, a header or record past the
  // 16-bit limits) raise EDbfError before anything is written.
  void CreateStructure(const TDbfFieldDefs& defs, int memoBlockSize);
  // Cuts an exclusively open table to its header. The memo file and the
  // indexes are the caller's: other programs read the memo file whole.
  void Zap();

  TDbfFieldDefs& FieldDefs() { return fieldDefs_; }
  const TDbfFieldDefs& FieldDefs() const { return fieldDefs_; }
  TDbfFieldDef* FieldDefByName(const std::string& name);
  const TDbfFieldDef* LockField() const { return lockField_; }
  const TDbfFieldDef* NullFlagsField() const { return nullFlagsField_; }
  bool HasAutoIncFields() const { return autoIncPresent_; }
  bool HasMemoFields() const;
  // The memo file found beside the table (empty when none or not needed).
  const std::string& MemoFileName() const { return memoFileName_; }
  // The table's memo file while open: a TNullMemoFile when the table has
  // memo fields but the file is missing; null without memo fields.
  TMemoFile* MemoFile() const { return memoFile_.get(); }

  // The count stored in the header; RecordCount() as corrected at open from
  // the file size. The correction, like every other repair an open makes
  // (the memo flag, a missing production index unlinked), lives in memory:
  // it reaches the file with the first change, never by opening.
  uint32_t HeaderRecordCount() const { return headerRecordCountAtOpen_; }
  // An index file the header announces (a dBASE production .mdx, a FoxPro
  // structural .cdx) that exists but that nothing here keeps current; empty
  // when there is none.
  const std::string& UnmaintainedIndexFile() const { return unmaintainedIndex_; }
  uint32_t RecordCount() const;
  int RecordLength() const { return recordSize_; }
  int HeaderLength() const { return headerSize_; }
  bool GiveUp() const { return giveUp_; }

  void SetDateTimeHandling(TDateTimeHandling value) { codec_.dateTimeHandling = value; }
  TDateTimeHandling DateTimeHandling() const { return codec_.dateTimeHandling; }
  // Raised when the production index named by the header is missing;
  // leaving deleteLink true unlinks it, false gives the open up.
  std::function<void(bool& deleteLink)> OnIndexMissing;

  void StoreHeader() override;
  void SetRecordSize(int size) override;
  // The memo file follows the table into exclusive access and back.
  void AcquireExclusive() override;
  void ReleaseExclusive() override;

  void BlankRecord(uint8_t* buffer);
  bool DecodeField(const TDbfFieldDef& field, TFieldType request, bool nativeFormat, void* dst,
                   const uint8_t* record) const {
    return codec_.Decode(field, request, nativeFormat, dst, record);
  }
  void EncodeField(const TDbfFieldDef& field, TFieldType request, bool nativeFormat, uint8_t* record,
                   const void* value) const {
    codec_.Encode(field, request, nativeFormat, record, value);
  }
  const TFieldCodec& Codec() const { return codec_; }

  // Record reads for the layers above, which do not see pages. Both read
  // what the file holds now; a record cut short by the end of the file reads
  // as blanks beyond it. ReadRecord returns false when record `recNo` does
  // not exist; ReadRecords returns how many whole records it read.
  bool ReadRecord(int64_t recNo, uint8_t* buffer);
  int64_t ReadRecords(int64_t first, int64_t count, uint8_t* buffer);
  // The records the file holds now (in shared mode other programs append).
  int64_t RecordsInFile() { return PageCount(); }
  // Whether record `recNo` exists; in shared mode a record past the known
  // end brings the count up to date.
  bool RecordExists(int64_t recNo) { return PageExists(recNo); }
  // Gives up the lock LockAndReadRecord took, without writing.
  void UnlockRecord(int64_t recNo) { ReleasePageLock(recNo); }

  // Appends a complete record image; returns its record number.
  int64_t AppendRecord(uint8_t* buffer);
  // Writes `count` complete records after the last one, for a table being
  // built: open exclusively with no index attached (its indexes are built
  // afterwards from the records). FinishNewRecords writes the header.
  void WriteNewRecords(const uint8_t* records, int64_t count);
  void FinishNewRecords();
  // Locks record `recNo` (EDbfError "Record locked." when another holds it)
  // and reads it into `buffer`.
  void LockAndReadRecord(int64_t recNo, uint8_t* buffer);
  // Writes the record locked by LockAndReadRecord back and releases the lock.
  void WriteBackRecord(int64_t recNo, uint8_t* buffer);
  // Recalls record `recNo` (locked by LockAndReadRecord) as it is stored:
  // the indexes take its keys back and its live flag is written, and nothing
  // else, whatever an edit in progress changed. Keeps the lock.
  void RecallRecord(int64_t recNo);
  // Called after the deletion flag in `buffer` changed.
  void NotifyDeleted(int64_t recNo, uint8_t* buffer);
  void NotifyRecalled(int64_t recNo, uint8_t* buffer);

  // Index files kept in step with the records (owned by the caller's layer).
  void AddIndex(TTableIndex* index) { indexes_.push_back(index); }
  void RemoveIndex(TTableIndex* index);
  // The index UnmaintainedIndexFile() names is kept current after all (the
  // index layer opened it); the table need not open read-only for it.
  void MarkIndexMaintained(const std::string& path);
  // Sets header byte 28, which tells other programs whether the table has a
  // production index, and writes the header.
  void SetProductionIndexFlag(bool present);
  const std::vector<TTableIndex*>& Indexes() const { return indexes_; }

 private:
  void ReadHeaderAndFields();
  void ReadFieldDescriptors();
  void ReadFieldProperties(int position);
  void DetermineCodePage();
  // Chooses the page the text is read in, once the fields and the memo file
  // are known (detection reads values).
  void ResolveCodePage();
  void WriteCpgFile(int codePage);
  void OpenCompanions();
  void OpenMemoFile();
  void StampLockField(uint8_t* buffer);
  void AssignAutoIncValues(uint8_t* buffer);
  void RemoveKeys(int64_t recNo, const uint8_t* buffer, size_t upTo);
  // Writes the indexes' changed pages at the end of a change; raises the
  // index write error when one of them failed.
  void FlushIndexes();
  // Brings the header's repairs and today's date to the file before the
  // first change of this open; later changes find it done.
  void BeginChange();
  // The repairs an open makes to the header image, in memory only.
  void CorrectHeader();
  void SetRecordCount(uint32_t count);

  TXBaseVersion version_ = xUnknown;
  uint8_t languageId_ = 0;
  int fileCodePage_ = 0;
  int useCodePage_ = 0;
  int chosenCodePage_ = 0;
  bool detectCodePage_ = true;
  TCodePageSource codePageSource_ = cpsDefault;
  double codePageConfidence_ = 0;
  std::string codePageNote_;
  std::string cpgFileName_;
  TDbfFieldDefs fieldDefs_;
  TFieldCodec codec_;
  const TDbfFieldDef* lockField_ = nullptr;
  const TDbfFieldDef* nullFlagsField_ = nullptr;
  int userNameLength_ = 0;
  bool autoIncPresent_ = false;
  std::string memoFileName_;
  std::unique_ptr<TMemoFile> memoFile_;
  std::vector<TTableIndex*> indexes_;
  std::vector<uint8_t> prevRecord_;
  std::vector<uint8_t> blankRecord_;
  bool giveUp_ = false;
  uint32_t headerRecordCountAtOpen_ = 0;
  bool changeBegun_ = false;
  bool unlinkIndex_ = false;
  std::string unmaintainedIndex_;
};

}  // namespace norvale
