// TDataSet: the record-set frame that every table object plugs into.
//
// The frame keeps a small window of record buffers around the current
// record for the views attached through data sources, tracks the state
// (browse, edit, insert, ...), runs the Before/After notifications and the
// browse check that posts or cancels an edit before any move. Everything
// that touches records is delegated to the primitives a derived class
// implements (InternalOpen, GetRecord, InternalPost, ...); the frame itself
// knows nothing of files, and nothing of any user interface.
//
// Only one thread uses a dataset.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/field.h"
#include "engine/exceptions.h"

namespace norvale {

class TDataSource;

enum TDataSetState {
  dsInactive,
  dsBrowse,
  dsEdit,
  dsInsert,
  dsCalcFields,
  dsFilter,
  dsNewValue,
  dsOpening,
};

enum TGetMode { gmCurrent, gmNext, gmPrior };
// How a filter compares text: without letter case, and with "=" as an exact
// comparison instead of one that honours "*" at the ends of its right side.
enum TFilterOption : uint32_t {
  foCaseInsensitive = 1,
  foNoPartialCompare = 2,
};
using TFilterOptions = uint32_t;
enum TGetResult { grOK, grBOF, grEOF, grError };
enum TBookmarkFlag : uint8_t { bfCurrent, bfBOF, bfEOF, bfInserted };
enum TDataAction { daFail, daAbort, daRetry };
enum TDataEvent {
  deFieldChange,
  deRecordChange,
  deDataSetChange,
  deDataSetScroll,
  deLayoutChange,
  deUpdateRecord,
  deUpdateState,
  deCheckBrowseMode,
};

// Raised to end an operation quietly (a handler chose to abort); callers
// that catch every error still see its message.
class EAbort : public Exception {
 public:
  EAbort();
};

// A bookmark's bytes; empty is the null bookmark.
using TBookmark = std::vector<uint8_t>;

// A view's tie to a dataset through a data source. The frame calls these as
// the dataset changes; the defaults do nothing.
class TDataLink {
 public:
  virtual ~TDataLink();
  TDataSource* DataSource() const { return dataSource_; }
  void SetDataSource(TDataSource* source);
  TDataSet* DataSet() const;
  bool Active() const;
  // Records the view shows at once; the frame keeps at least that many.
  int BufferCount() const { return bufferCount_; }
  void SetBufferCount(int count);
  // Position of the current record within the frame's window.
  int ActiveRecord() const;

  virtual void ActiveChanged() {}
  virtual void DataSetChanged() {}
  virtual void DataSetScrolled(int distance) {}
  virtual void RecordChanged(TField* field) {}
  virtual void EditingChanged() {}
  virtual void LayoutChanged() {}
  // Asked to put an edit the view holds into the fields before a post.
  virtual void UpdateData() {}
  virtual void CheckBrowseMode() {}

 private:
  friend class TDataSource;
  TDataSource* dataSource_ = nullptr;
  int bufferCount_ = 1;
};

class TDataSource {
 public:
  TDataSource() = default;
  explicit TDataSource(TDataSet* dataSet) { SetDataSet(dataSet); }
  ~TDataSource();
  TDataSource(const TDataSource&) = delete;
  TDataSource& operator=(const TDataSource&) = delete;

  TDataSet* DataSet() const { return dataSet_; }
  void SetDataSet(TDataSet* dataSet);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  TDataSetState State() const;
  const std::vector<TDataLink*>& DataLinks() const { return links_; }
  // Whether this source depends on `dataSet` (directly, or through the
  // master of the dataset it serves).

  std::function<void(TDataSource&)> OnStateChange;
  std::function<void(TDataSource&, TField*)> OnDataChange;
  std::function<void(TDataSource&)> OnUpdateData;

 private:
  friend class TDataSet;
  friend class TDataLink;
  void AddLink(TDataLink* link);
  void RemoveLink(TDataLink* link);
  void DataEvent(TDataEvent event, intptr_t info);

  TDataSet* dataSet_ = nullptr;
  std::vector<TDataLink*> links_;
  bool enabled_ = true;
};

class TDataSet {
 public:
  using TNotify = std::function<void(TDataSet&)>;
  using TErrorEvent = std::function<void(TDataSet&, const Exception&, TDataAction&)>;

  TDataSet();
  virtual ~TDataSet();
  TDataSet(const TDataSet&) = delete;
  TDataSet& operator=(const TDataSet&) = delete;

  // --- opening and closing
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  bool Active() const { return state_ != dsInactive && state_ != dsOpening; }
  void SetActive(bool value);
  TDataSetState State() const { return state_; }

  // --- fields
  TFieldDefs& FieldDefs() { return fieldDefs_; }
  const TFieldDefs& FieldDefs() const { return fieldDefs_; }
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  TField& Fields(int index) const { return *fields_.at(static_cast<size_t>(index)); }
  // Case-insensitive; FieldByName raises "Field '%s' not found" when absent.
  TField* FindField(std::string_view name) const;
  TField& FieldByName(std::string_view name) const;
  // A persistent field the caller defines before opening: calculated fields,
  // or data fields that take the place of the default ones.
  TField& AddField(const TFieldDef& def, TFieldKind kind);
  // Rebuilds the field definitions (opening the table briefly when closed).
  void UpdateFieldDefs();

  // --- navigation
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  // Moves up to `distance` records; returns how far it went.
  int MoveBy(int distance);
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  bool IsEmpty() const { return Active() && recordCount_ == 0 && state_ != dsInsert; }
  virtual int RecordCount();
  virtual int RecNo();
  virtual void SetRecNo(int value) {}
  // Re-reads the window from the table.
  void Refresh();
  void Resync();

  TBookmark GetBookmark();
  void GotoBookmark(const TBookmark& bookmark);
  bool BookmarkValid(const TBookmark& bookmark);
  virtual int CompareBookmarks(const TBookmark& a, const TBookmark& b) const { return 0; }

  // --- editing
  void Edit();
  void Insert();
  void Append();
  void Post();
  void Cancel();
  void Delete();
  // Posts a pending edit when fields were modified, otherwise cancels it.
  void CheckBrowseMode();
  bool Modified() const { return modified_; }
  bool CanModify() { return GetCanModify(); }
  bool ControlsDisabled() const { return disableCount_ > 0; }
  void DisableControls();
  void EnableControls();

  // --- the window, for data links and derived classes
  int BufferCount() const { return bufferCount_; }
  int WindowRecordCount() const { return recordCount_; }
  int ActiveRecord() const { return activeRecord_; }
  uint8_t* ActiveBuffer() const;
  uint8_t* WindowBuffer(int index) const;

  // --- filter properties (their evaluation belongs to the table object)
  const std::string& Filter() const { return filterText_; }
  virtual void SetFilter(const std::string& text) { filterText_ = text; }
  bool Filtered() const { return filtered_; }
  virtual void SetFiltered(bool value);
  TFilterOptions FilterOptions() const { return filterOptions_; }
  void SetFilterOptions(TFilterOptions options) { filterOptions_ = options; }

  // --- finding: the next or prior record that passes the filter, applied
  // even while Filtered is off; true when one became current.
  bool FindFirst() { return FindRecord(true, true); }
  bool FindLast() { return FindRecord(true, false); }
  bool FindNext() { return FindRecord(false, true); }
  bool FindPrior() { return FindRecord(false, false); }
  virtual bool FindRecord(bool restart, bool goForward) { return false; }

  // --- values, in the in-memory forms of engine/field_codec.h; `native`
  // gives dates as day numbers (int32) instead of TDateTime.
  virtual bool GetFieldData(const TField& field, void* buffer, bool native = false) = 0;
  virtual void SetFieldData(TField& field, const void* buffer) = 0;
  // Text between the table's code page and UTF-8.
  virtual std::string TextFromTable(std::string_view bytes) { return std::string(bytes); }
  virtual void AppendTextFromTable(std::string& out, std::string_view bytes) { out += TextFromTable(bytes); }
  // Where the stored form of a value already is its text as GetText gives
  // it, appends that and returns true; false leaves the work to the field.
  virtual bool AppendStoredText(const TField& field, std::string& out) { return false; }
  virtual std::string TextToTable(std::string_view utf8, int maxBytes);
  // Called before text is stored into `field` (character and memo fields);
  // raises to refuse it. The base class stores anything.
  virtual void CheckStorableText(const TField& field, std::string_view utf8) {}
  // The whole value of a blob field of the current record (UTF-8 for memo
  // text), and its replacement. Datasets without blobs raise.
  virtual std::string ReadBlob(const TField& field);
  virtual void WriteBlob(TField& field, std::string_view value);

  // Tells the views that `field` changed, unless the value is being
  // computed; marks the record modified.
  void DataEvent(TDataEvent event, intptr_t info = 0);

  // --- notifications
  TNotify BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TNotify BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
  TNotify BeforePost, AfterPost, BeforeCancel, AfterCancel;
  TNotify BeforeDelete, AfterDelete, BeforeRefresh, AfterRefresh;
  TNotify BeforeScroll, AfterScroll;
  TNotify OnCalcFields, OnNewRecord;
  std::function<void(TDataSet&, bool& accept)> OnFilterRecord;
  TErrorEvent OnDeleteError, OnEditError, OnPostError;

 protected:
  // --- primitives for derived classes
  virtual void InternalOpen() = 0;
  virtual void InternalClose() = 0;
  virtual bool IsCursorOpen() const = 0;
  virtual void InternalInitFieldDefs() = 0;
  virtual std::unique_ptr<uint8_t[]> AllocRecordBuffer() = 0;
  virtual void InternalInitRecord(uint8_t* buffer) = 0;
  virtual TGetResult GetRecord(uint8_t* buffer, TGetMode mode, bool doCheck) = 0;
  virtual void InternalFirst() = 0;
  virtual void InternalLast() = 0;
  virtual void InternalGotoBookmark(const TBookmark& bookmark) = 0;
  virtual void InternalSetToRecord(uint8_t* buffer) = 0;
  virtual TBookmark GetBookmarkData(const uint8_t* buffer) const = 0;
  virtual TBookmarkFlag GetBookmarkFlag(const uint8_t* buffer) const = 0;
  virtual void SetBookmarkFlag(uint8_t* buffer, TBookmarkFlag flag) = 0;
  virtual void InternalEdit() {}
  virtual void InternalCancel() {}
  virtual void InternalPost() = 0;
  virtual void InternalDelete() = 0;
  virtual void InternalRefresh() {}
  virtual bool GetCanModify() { return true; }
  virtual void ClearCalcFields(uint8_t* buffer) {}
  // Where calculated values live in a buffer; -1 when they have no room.
  virtual int CalcFieldsOffset() const { return -1; }

  // A transient state and the buffer it reads, for the length of a scope:
  // computing calculated fields or judging a record for a filter.
  class TTempState {
   public:
    TTempState(TDataSet& dataSet, TDataSetState state, uint8_t*& bufferSlot, uint8_t* buffer)
        : dataSet_(dataSet), old_(dataSet.SetTempState(state)), slot_(bufferSlot), oldBuffer_(bufferSlot) {
      slot_ = buffer;
    }
    ~TTempState() {
      slot_ = oldBuffer_;
      dataSet_.RestoreState(old_);
    }
    TTempState(const TTempState&) = delete;
    TTempState& operator=(const TTempState&) = delete;

   private:
    TDataSet& dataSet_;
    TDataSetState old_;
    uint8_t*& slot_;
    uint8_t* oldBuffer_;
  };

  // --- helpers for derived classes
  void CheckActive() const;
  void CheckInactive() const;
  // Sets a transient state (calculated fields, filter); returns the old one.
  TDataSetState SetTempState(TDataSetState state);
  void RestoreState(TDataSetState state);
  // Computes the calculated fields of `buffer` through OnCalcFields.
  void GetCalcFields(uint8_t* buffer);
  // The buffer calculated fields are being computed for.
  uint8_t* CalcBuffer() const { return calcBuffer_; }
  int CalcFieldsSize() const { return calcFieldsSize_; }
  bool DefaultFields() const { return defaultFields_; }
  void SetModified(bool value) { modified_ = value; }
  // Builds the field objects from the field definitions (default ones when
  // the caller defined none) and binds them; the open sequence calls it.
  void CreateAndBindFields();
  // Makes the buffer window match the cursor around the active record again.
  void UpdateCursorPos();
  // Rebuilds the window around the record the cursor stands on (or the
  // nearest visible one) after the cursor was moved directly.
  void FillWindowFromCursor();
  // Says that the cursor no longer stands where the window thinks it does,
  // so the next move seats it again from the window's buffers.
  void CursorPosChanged() { currentRecord_ = -1; }

 private:
  bool OpenCursor();
  void CloseCursor();
  void CreateFields();
  void DestroyDefaultFields();
  void BindFields();
  void SetState(TDataSetState state);
  void SetBufferCount(int count);
  void UpdateBufferCount();
  void ClearBuffers();
  void ActivateBuffers();
  bool GetNextRecord();
  bool GetPriorRecord();
  int GetNextRecords();
  int GetPriorRecords();
  void SetCurrentRecord(int index);
  void UpdateRecord();
  void Notify(const TNotify& handler) {
    if (handler) handler(*this);
  }
  void CheckOperation(void (TDataSet::*operation)(), const TErrorEvent& onError);
  void DoInternalPost() { InternalPost(); }
  void DoInternalEdit() { InternalEdit(); }
  void DoInternalDelete() { InternalDelete(); }
  void CheckCanModify();
  void BeginInsertAppend(bool append);

  friend class TDataSource;
  void AddDataSource(TDataSource* source);
  void RemoveDataSource(TDataSource* source);

  TDataSetState state_ = dsInactive;
  TFieldDefs fieldDefs_;
  std::vector<std::unique_ptr<TField>> fields_;
  bool defaultFields_ = false;
  int calcFieldsSize_ = 0;
  // The window: bufferCount_ + 1 buffers, the last a spare for reading ahead.
  std::vector<std::unique_ptr<uint8_t[]>> buffers_;
  int bufferCount_ = 0;
  int recordCount_ = 0;
  int activeRecord_ = 0;
  int currentRecord_ = -1;
  bool bof_ = true;
  bool eof_ = true;
  bool modified_ = false;
  int disableCount_ = 0;
  uint8_t* calcBuffer_ = nullptr;
  std::string filterText_;
  bool filtered_ = false;
  TFilterOptions filterOptions_ = 0;
  std::vector<TDataSource*> dataSources_;
};

}  // namespace norvale
