// TIndexFile: a single-index (.ndx, any extension but .mdx) or multiple-index
// (.mdx, level 4 or 7) file with its B+-trees. It builds keys from table
// records, keeps the trees in step with appends, edits, deletes and recalls,
// creates, removes and rebuilds tags, and walks a tag in key order.
//
// Nothing read from the file is trusted: page numbers, counts, key lengths,
// entry sizes and tag counts are checked, and a file that breaks them raises
// EDbfError naming the file and saying to regenerate the index. Such a file
// is never written from a page that could not be read.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "engine/index_link.h"
#include "engine/language.h"
#include "engine/paged_file.h"
#include "index/index_defs.h"
#include "index/index_page.h"

namespace norvale {

class TDbfFile;
class TDbfIndexParser;

enum TIndexUniqueness { iuNormal, iuUnique, iuDistinct };
enum TSeekMode { smEqual, smGreaterOrEqual, smGreater };

struct TIndexTagInfo {
  std::string name;
  std::string expression;
  char keyType = 'C';
  int keyLength = 0;
  TIndexUniqueness uniqueness = iuNormal;
  bool descending = false;
  // Written elsewhere with a condition on the records it holds, which this
  // program does not evaluate.
  bool filtered = false;
};

class TIndexFile : public TPagedFile, public TTableIndex {
 public:
  // Descents deeper than this are taken as a loop in a damaged file.
  static constexpr int kMaxDepth = 32;
  // How long a wait for another program's page lock may last.
  static constexpr int kLockWaitMs = 30000;
  // How long a change waits for another program's lock before it gives up.
  void SetLockWait(int ms) { lockWaitMs_ = ms; }

  // `table` is the table whose records the keys come from; it must outlive
  // this object.
  explicit TIndexFile(TDbfFile* table);
  ~TIndexFile() override;

  // Creates and initialises a new file when the mode creates one (or the
  // file is empty and writable); otherwise reads and checks the existing
  // one. Selects the first tag; updates all tags when there are two or more.
  void Open();
  void Close();

  bool IsMultiple() const { return multiple_; }
  int Level() const { return level_; }
  // The language driver of a multiple-index header (0 none, or .ndx).
  int LanguageId() const;
  // Character keys compare by this collation from now on.
  void SetCollation(const TCollation& collation) { collation_ = &collation; }
  // A file that may not be edited takes no key changes (they succeed
  // without effect).
  void SetCanEdit(bool value) { canEdit_ = value; }
  bool CanEdit() const { return canEdit_; }

  int TagCount() const { return static_cast<int>(tags_.size()); }
  TIndexTagInfo TagInfo(int tag) const;
  // The tag of that name (case ignored); -1 when none. A single-index file
  // has tag 0 under any name.
  int IndexOfTag(const std::string& name) const;
  // A tag out of range leaves the selection as it is.
  void SelectTag(int tag);
  int SelectedTag() const { return selected_; }
  // All tags, or the selected one only; forced to selected only for a
  // single-index file or fewer than two tags.
  void SetUpdateAll(bool all) { updateAll_ = all; }
  bool UpdatesAll() const { return updateAll_ && multiple_ && tags_.size() >= 2; }

  // Adds a tag (a multiple-index file) or sets up the one index, with an
  // empty tree, and selects it. The table must be open exclusively. Raises
  // "Invalid index type..." for keys of other than text or number type and
  // "Can not create index: too many indexes in file." when the tag table is
  // full. Fill it with RebuildTag.
  void CreateTag(const std::string& expression, const std::string& tagName, TIndexOptions options);
  // What CreateTag would refuse about `expression` on `table`, raised before
  // any file is touched; gives the key's parser, type letter and length.
  static std::unique_ptr<TDbfIndexParser> CheckKeyExpression(TDbfFile* table, const std::string& expression,
                                                             bool multiple, char* keyType, int* keyLength);
  // Removes a tag; a single-index file is closed and deleted. Unknown names
  // are ignored.
  void DeleteTag(const std::string& tagName);
  // CreateTag and RebuildTag in one, with the keys read from the records
  // before the file is touched: a bad record or a cancel (see
  // SetBuildProgress) leaves the file as it was. An existing tag of that
  // name is replaced (a single-index file is set up anew). A failure while
  // the new tree is written removes the new tag.
  void BuildTag(const std::string& expression, const std::string& tagName, TIndexOptions options);
  // Builds a tag's tree anew from every record of the table, in bulk: keys
  // sorted, leaves written full, inner levels bottom-up. On failure the tag
  // and its old tree stay as they were.
  void RebuildTag(int tag);
  // Re-initialises the file and rebuilds every tag the same way; all keys
  // are gathered before the file is re-initialised.
  void RebuildAll();

  // Called now and then while a build reads the records for its keys (at
  // least every kBuildBatch records), with the records read so far and the
  // table's record count. It may throw to cancel: nothing of the file has
  // changed yet, in memory or on disk, and the index works on as before.
  using TBuildProgress = std::function<void(int64_t done, int64_t total)>;
  static constexpr int64_t kBuildBatch = 4096;
  void SetBuildProgress(TBuildProgress progress) { buildProgress_ = std::move(progress); }

  // A rebuild in two steps, so that one of several files changes none of
  // them when a later file's reading fails or is cancelled. GatherKeys reads
  // the records and sorts the keys of tag `tag`, or of every tag when `tag`
  // is -1, changing nothing; WriteKeys writes those trees exactly as
  // RebuildTag or RebuildAll would. The records and the tags must not change
  // in between: keys gathered before a tag came or went, or by another
  // file, raise std::logic_error.
  class TGatheredKeys;
  std::unique_ptr<TGatheredKeys> GatherKeys(int tag);
  void WriteKeys(const TGatheredKeys& keys);

  // Each returns false when a distinct tag refuses the key; the message is
  // then KeyViolationMessage() and every tag is as it was before.
  bool AddRecordKey(int64_t recNo, const uint8_t* record);
  void RemoveRecordKey(int64_t recNo, const uint8_t* record);
  bool ChangeRecordKey(int64_t recNo, const uint8_t* before, const uint8_t* after);
  // The same for the deletion flag: only distinct tags take or lose keys.
  bool AddKeyOnRecall(int64_t recNo, const uint8_t* record);
  void RemoveKeyOnDelete(int64_t recNo, const uint8_t* record);

  // The key of a record as the selected tag stores it (empty when no tag is
  // selected).
  std::string BuildKey(const uint8_t* record);
  // Visits tag `tag`'s entries in tree order until `visit` returns false.
  void ForEachEntry(int tag, const std::function<bool(std::string_view key, uint32_t recNo)>& visit);
  // The depth of a tag's tree (1: the root is a leaf).
  int TreeDepth(int tag);
  // How two keys of tag `tag` compare in its order (negative, 0, positive);
  // keys shorter than the key length compare as unequal to any full key.
  int CompareKeys(int tag, std::string_view a, std::string_view b) const;

  // Navigation of the selected tag in its order. Each tag keeps its own
  // position and range, so switching tags and back finds both again. Keys
  // given here are in the tag's stored form (see BuildKey, SearchKey).
  //
  // Before the first entry / after the last one (of the range, when a range
  // is active).
  void MoveFirst();
  void MoveLast();
  // True when the step lands on an entry.
  bool MoveNext();
  bool MovePrior();
  // Up to `max` steps forward at once, for walks that only want the records
  // (a dump in index order): their numbers in `records`; fewer at the end.
  int MoveNextMany(int64_t* records, int max);
  // The record of the current entry; -1 before the first or after the last.
  int64_t CurrentRecord();
  // The stored key of the current entry; empty outside the entries.
  std::string CurrentKey();
  // Stands on the first entry whose key equals (smEqual), is at least
  // (smGreaterOrEqual) or exceeds (smGreater) `key`. Not found leaves the
  // position as it was.
  bool SeekKey(const std::string& key, TSeekMode mode);
  // Stands on the first entry whose key starts with these bytes.
  bool SeekPrefix(std::string_view prefix);
  // Stands on the entry of record recNo, whose key is built from the record
  // as stored; false (position unchanged) when the record does not exist or
  // has no entry in this tag.
  bool GotoRecord(int64_t recNo);
  // Position numbers in index order: 0 before the first entry, kAfterLast
  // after the last, otherwise estimates from the tree's shape that a scroll
  // bar can use; setting a position that GetIndexPosition gave comes back to
  // the same entry.
  static constexpr int64_t kAfterLast = 2147483647;
  int64_t GetIndexPosition();
  void SetIndexPosition(int64_t position);
  int64_t EstimatedCount();
  // Restricts the walk to keys from low to high, both included.
  void SetKeyRange(const std::string& low, const std::string& high);
  void ClearKeyRange();
  bool RangeActive() const;
  // A search value as the selected tag's key: text cut to the key length at
  // a character boundary of the table's code page and padded with blanks, a
  // number in the tag's numeric form. Empty when no tag is selected.
  std::string SearchKey(std::string_view text) const;
  std::string SearchKey(double number) const;

  void Flush() override;

  // TTableIndex
  bool InsertKey(int64_t recNo, const uint8_t* record) override { return AddRecordKey(recNo, record); }
  void DeleteKey(int64_t recNo, const uint8_t* record) override { RemoveRecordKey(recNo, record); }
  bool UpdateKey(int64_t recNo, const uint8_t* before, const uint8_t* after) override {
    return ChangeRecordKey(recNo, before, after);
  }
  bool RecordDeleted(int64_t recNo, const uint8_t* record) override {
    RemoveKeyOnDelete(recNo, record);
    return true;
  }
  bool RecordRecalled(int64_t recNo, const uint8_t* record) override { return AddKeyOnRecall(recNo, record); }
  bool WriteError() const override { return TPagedFile::WriteError(); }
  void ClearWriteError() override { TPagedFile::ClearWriteError(); }
  std::string KeyViolationMessage() const override { return keyViolation_; }
  void Reopen() override;
  void CloseFile() override { Close(); }

 private:
  struct TTagState;
  struct TStep {
    TIndexPage* page;
    int pos;
  };
  using TPath = std::vector<TStep>;
  enum TModifyMode { mmNormal, mmDeletionFlag };
  enum TInsertResult { irInserted, irSkipped, irRefused };
  class TLockGuard;

  [[noreturn]] void Damaged(const std::string& what) const;
  void InitNewFile();
  void ReadExistingFile();
  void ReadTagHeader(TTagState& tag);
  void PrepareTag(TTagState& tag);
  void ParseTagExpression(TTagState& tag);
  int TagEntrySize() const { return tagEntrySize_; }
  int MaxTags() const;
  uint8_t* TagEntry(int slot);
  std::string BaseName() const;

  // Key building and comparison for one tag.
  bool MakeKey(TTagState& tag, const uint8_t* record, std::string& key);
  int Compare(const TTagState& tag, const uint8_t* a, const uint8_t* b) const;

  // Pages.
  TIndexPage* Page(TTagState& tag, uint32_t block);
  TIndexPage* NewPage(TTagState& tag);
  uint32_t AllocateBlock(TTagState& tag);
  void WriteTagHeader(TTagState& tag, bool now);
  void WriteFileHeader();
  void WriteModifiedPages();
  void MarkModified(TIndexPage* page);
  void LockForChange(TIndexPage* page);
  void LockBlock(uint32_t block);
  void UnlockBlock(uint32_t block);
  void ClearCache();
  void DropCache();
  void TrimCache();
  void BeginOperation();
  void EndOperation();
  // The same for walks, which change nothing: the cache stays while the
  // file's change stamp says nobody wrote.
  void BeginReading();
  void RefreshUnderLock(TTagState& tag);
  void EndReading();

  // Trees.
  int SearchPage(const TTagState& tag, const TIndexPage& page, const uint8_t* key, bool upper) const;
  void Descend(TTagState& tag, const uint8_t* key, bool upper, bool split, TPath& path);
  bool IsFull(const TTagState& tag, const TIndexPage& page) const;
  void SplitChild(TTagState& tag, TPath& path, TIndexPage*& page, const uint8_t* key, bool upper);
  bool NextLeaf(TTagState& tag, TPath& path);
  void PropagateMax(TTagState& tag, TPath& path, size_t level, const uint8_t* key);
  void RemoveFromParent(TTagState& tag, TPath& path, size_t level);
  TInsertResult InsertEntry(TTagState& tag, const std::string& key, uint32_t recNo, uint32_t* holder);
  bool RemoveEntry(TTagState& tag, const std::string& key, uint32_t recNo);
  void ResetTree(TTagState& tag);
  // The parts of CreateTag: a tag's state and its tag table entry made
  // without touching the file, and their entry into the file.
  std::unique_ptr<TTagState> NewTagState(const std::string& expression, const std::string& tagName,
                                         TIndexOptions options, std::vector<uint8_t>& entry);
  TTagState& InstallTag(std::unique_ptr<TTagState> tag, const std::vector<uint8_t>& entry);
  // The keys of the tags `into` names, in one pass over the records.
  void GatherInto(TGatheredKeys& into);
  void WriteTree(TTagState& tag, size_t keysOf, const TGatheredKeys& keys);
  // Navigation on a path of pages.
  TTagState* SelectedState();
  bool StepForward(TTagState& tag, TPath& path);
  bool StepBack(TTagState& tag, TPath& path);
  bool PrevLeaf(TTagState& tag, TPath& path);
  bool LandForward(TTagState& tag, TPath& path);
  void DescendEdge(TTagState& tag, bool last, TPath& path);
  bool LoadWalk(TTagState& tag, TPath& path, bool* moved);
  // The first step forward from where the walk stands.
  bool StepFromWalk(TTagState& tag, TPath& path);
  void StoreWalk(TTagState& tag, const TPath& path);
  bool InRange(const TTagState& tag, const uint8_t* key, bool checkLow, bool checkHigh) const;
  std::vector<int64_t> LevelWeights(TTagState& tag, int depth);
  void WalkPage(TTagState& tag, uint32_t block, int depth, std::unordered_set<uint32_t>& visited,
                const std::function<bool(std::string_view, uint32_t)>& visit, bool& go);

  // Per-tag key work with the tag rules (uniqueness, modify mode).
  bool TagAdd(TTagState& tag, uint32_t recNo, const uint8_t* record, bool* inserted);
  bool TagRemove(TTagState& tag, uint32_t recNo, const uint8_t* record);
  std::vector<int> TagsToUpdate() const;
  bool AddKeys(int64_t recNo, const uint8_t* record);
  void RemoveKeys(int64_t recNo, const uint8_t* record);
  void PrepareViolation(TTagState& tag, const std::string& key, uint32_t holder);

  TDbfFile* table_;
  bool multiple_ = false;
  int level_ = 4;
  int tagEntrySize_ = 0;
  TIndexGeometry base_;
  std::vector<std::unique_ptr<TTagState>> tags_;
  std::map<uint32_t, std::unique_ptr<TIndexPage>> cache_;
  std::vector<uint32_t> dirty_;  // blocks of the cached pages changed since the last write
  std::map<uint32_t, int> locks_;
  std::vector<uint32_t> pageLocks_;  // pages changed under the current outermost lock
  int activeGuards_ = 0;
  uint64_t generation_ = 1;  // bumped by every change of a tree or of the cache
  int lockWaitMs_ = kLockWaitMs;
  // The file's size and change time when the cache was last known good; a
  // stamp too recent to trust (the clock behind it is coarse) is not kept.
  int64_t seenSize_ = -1;
  int64_t seenModified_ = -1;
  bool stampSettled_ = false;
  std::chrono::steady_clock::time_point stampChecked_;
  // Raw bytes read ahead for walks (never for changes); emptied whenever a
  // page changes or the cache goes.
  static constexpr size_t kAheadBytes = 32 * 1024;
  bool readingAhead_ = false;
  TPath scratchPath_;
  std::vector<uint8_t> ahead_;
  int64_t aheadOffset_ = 0;
  int64_t aheadBytes_ = 0;
  int selected_ = -1;
  bool updateAll_ = true;
  bool canEdit_ = true;
  TModifyMode modifyMode_ = mmNormal;
  const TCollation* collation_ = nullptr;
  std::string keyViolation_;
  TBuildProgress buildProgress_;
  uint64_t tagSet_ = 0;  // bumped whenever tags come or go
  int depth_ = 0;  // nesting of public operations
};

class TIndexFile::TGatheredKeys {
 private:
  friend class TIndexFile;
  struct TTagKeys {
    std::vector<uint8_t> keys;      // the key length's bytes per record taken
    std::vector<uint32_t> records;  // the record of each key
    std::vector<uint32_t> order;    // positions in key order, the tag's uniqueness applied
  };
  const TIndexFile* file_ = nullptr;
  uint64_t tagSet_ = 0;  // the file's tag set when they were gathered
  bool all_ = false;
  std::vector<TTagState*> tags_;
  std::vector<TTagKeys> keys_;
};

}  // namespace norvale
