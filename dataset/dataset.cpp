#include "dataset/dataset.h"

#include <algorithm>

#include "dataset/dataset_messages.h"
#include "engine/messages.h"

namespace norvale {

EAbort::EAbort() : Exception(msg::kOperationAborted) {}

// ---------------------------------------------------------------- links

TDataLink::~TDataLink() { SetDataSource(nullptr); }

void TDataLink::SetDataSource(TDataSource* source) {
  if (source == dataSource_) return;
  if (dataSource_) dataSource_->RemoveLink(this);
  if (source) source->AddLink(this);
  ActiveChanged();
}

TDataSet* TDataLink::DataSet() const { return dataSource_ ? dataSource_->DataSet() : nullptr; }

bool TDataLink::Active() const {
  TDataSet* ds = DataSet();
  return ds && ds->Active() && dataSource_->Enabled();
}

void TDataLink::SetBufferCount(int count) {
  bufferCount_ = std::max(count, 1);
  if (dataSource_) dataSource_->DataEvent(deLayoutChange, 0);
}

int TDataLink::ActiveRecord() const {
  TDataSet* ds = DataSet();
  return ds ? ds->ActiveRecord() : 0;
}

TDataSource::~TDataSource() {
  SetDataSet(nullptr);
  for (TDataLink* link : std::vector<TDataLink*>(links_)) link->SetDataSource(nullptr);
}

void TDataSource::SetDataSet(TDataSet* dataSet) {
  if (dataSet == dataSet_) return;
  if (dataSet_) dataSet_->RemoveDataSource(this);
  dataSet_ = dataSet;
  if (dataSet_) dataSet_->AddDataSource(this);
  for (TDataLink* link : std::vector<TDataLink*>(links_)) link->ActiveChanged();
}

void TDataSource::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  for (TDataLink* link : std::vector<TDataLink*>(links_)) link->ActiveChanged();
}

TDataSetState TDataSource::State() const { return dataSet_ ? dataSet_->State() : dsInactive; }

void TDataSource::AddLink(TDataLink* link) {
  links_.push_back(link);
  link->dataSource_ = this;
  if (dataSet_) dataSet_->UpdateBufferCount();
}

void TDataSource::RemoveLink(TDataLink* link) {
  links_.erase(std::remove(links_.begin(), links_.end(), link), links_.end());
  link->dataSource_ = nullptr;
  if (dataSet_) dataSet_->UpdateBufferCount();
}

void TDataSource::DataEvent(TDataEvent event, intptr_t info) {
  if (event == deUpdateState) {
    if (OnStateChange) OnStateChange(*this);
  } else if (event == deUpdateRecord) {
    if (OnUpdateData) OnUpdateData(*this);
  }
  if (!enabled_) return;
  // Links may detach themselves while being told.
  for (TDataLink* link : std::vector<TDataLink*>(links_)) {
    switch (event) {
      case deFieldChange:
        link->RecordChanged(reinterpret_cast<TField*>(info));
        break;
      case deRecordChange:
        link->RecordChanged(nullptr);
        break;
      case deDataSetChange:
        link->DataSetChanged();
        break;
      case deDataSetScroll:
        link->DataSetScrolled(static_cast<int>(info));
        break;
      case deLayoutChange:
        link->LayoutChanged();
        break;
      case deUpdateRecord:
        link->UpdateData();
        break;
      case deUpdateState:
        link->ActiveChanged();
        link->EditingChanged();
        break;
      case deCheckBrowseMode:
        link->CheckBrowseMode();
        break;
    }
  }
  if (OnDataChange && (event == deFieldChange || event == deRecordChange || event == deDataSetChange ||
                       event == deDataSetScroll))
    OnDataChange(*this, event == deFieldChange ? reinterpret_cast<TField*>(info) : nullptr);
}

// ---------------------------------------------------------------- dataset

TDataSet::TDataSet() = default;

TDataSet::~TDataSet() {
  for (TDataSource* source : std::vector<TDataSource*>(dataSources_)) source->SetDataSet(nullptr);
}

void TDataSet::AddDataSource(TDataSource* source) {
  dataSources_.push_back(source);
  UpdateBufferCount();
}

void TDataSet::RemoveDataSource(TDataSource* source) {
  dataSources_.erase(std::remove(dataSources_.begin(), dataSources_.end(), source), dataSources_.end());
  UpdateBufferCount();
}

void TDataSet::CheckActive() const {
  if (!Active()) throw EDbfError(msg::kDataSetClosed);
}

void TDataSet::CheckInactive() const {
  if (state_ != dsInactive) throw EDbfError(msg::kDataSetOpen);
}

void TDataSet::SetState(TDataSetState state) {
  if (state == state_) return;
  state_ = state;
  modified_ = false;
  DataEvent(deUpdateState, 0);
}

TDataSetState TDataSet::SetTempState(TDataSetState state) {
  const TDataSetState old = state_;
  state_ = state;
  return old;
}

void TDataSet::RestoreState(TDataSetState state) { state_ = state; }

void TDataSet::DataEvent(TDataEvent event, intptr_t info) {
  if (event == deFieldChange) {
    // Values computed for calculated fields or filters are no edits.
    if (state_ == dsCalcFields || state_ == dsFilter || state_ == dsNewValue) return;
    modified_ = true;
  }
  if (disableCount_ > 0 && event != deUpdateState && event != deUpdateRecord && event != deCheckBrowseMode)
    return;
  for (TDataSource* source : std::vector<TDataSource*>(dataSources_)) source->DataEvent(event, info);
}

void TDataSet::DisableControls() { ++disableCount_; }

void TDataSet::EnableControls() {
  if (disableCount_ > 0 && --disableCount_ == 0 && Active()) DataEvent(deDataSetChange, 0);
}

// ---------------------------------------------------------------- fields

TField* TDataSet::FindField(std::string_view name) const {
  for (const auto& f : fields_) {
    const std::string& n = f->FieldName();
    if (n.size() == name.size() &&
        std::equal(n.begin(), n.end(), name.begin(), [](char a, char b) {
          return (a >= 'a' && a <= 'z' ? a - 32 : a) == (b >= 'a' && b <= 'z' ? b - 32 : b);
        }))
      return f.get();
  }
  return nullptr;
}

TField& TDataSet::FieldByName(std::string_view name) const {
  TField* f = FindField(name);
  if (!f) throw EDbfError(FormatMessage(msg::kFieldNotFound, std::string(name).c_str()));
  return *f;
}

TField& TDataSet::AddField(const TFieldDef& def, TFieldKind kind) {
  CheckInactive();
  if (defaultFields_) DestroyDefaultFields();
  fields_.push_back(std::make_unique<TField>(this, def, kind));
  fields_.back()->SetIndex(static_cast<int>(fields_.size()) - 1);
  return *fields_.back();
}

void TDataSet::UpdateFieldDefs() { InternalInitFieldDefs(); }

void TDataSet::CreateFields() {
  defaultFields_ = fields_.empty();
  if (!defaultFields_) return;
  for (int i = 0; i < fieldDefs_.Count(); ++i) {
    fields_.push_back(std::make_unique<TField>(this, fieldDefs_.Item(i), fkData));
    fields_.back()->SetIndex(i);
  }
}

void TDataSet::DestroyDefaultFields() {
  if (defaultFields_) fields_.clear();
  defaultFields_ = false;
}

void TDataSet::BindFields() {
  calcFieldsSize_ = 0;
  for (auto& f : fields_) {
    if (f->FieldKind() == fkData) {
      const int at = fieldDefs_.IndexOf(f->FieldName());
      if (at < 0) throw EDbfError(FormatMessage(msg::kFieldNotFound, f->FieldName().c_str()));
      f->Bind(fieldDefs_.Item(at).fieldNo, -1);
    } else {
      f->Bind(0, calcFieldsSize_);
      calcFieldsSize_ += 1 + f->DataSize();
    }
  }
}

// ---------------------------------------------------------------- open, close

void TDataSet::SetActive(bool value) {
  if (value == Active()) return;
  if (value) {
    Notify(BeforeOpen);
    state_ = dsOpening;
    bool opened = false;
    try {
      opened = OpenCursor();
    } catch (...) {
      state_ = dsInactive;
      CloseCursor();
      throw;
    }
    state_ = dsInactive;
    if (!opened) {
      // The derived class declined quietly (a handler chose not to create
      // the missing table): nothing was opened.
      CloseCursor();
      return;
    }
    SetState(dsBrowse);
    Notify(AfterOpen);
  } else {
    CheckBrowseMode();
    Notify(BeforeClose);
    SetState(dsInactive);
    CloseCursor();
    Notify(AfterClose);
  }
}

void TDataSet::CreateAndBindFields() {
  CreateFields();
  BindFields();
}

bool TDataSet::OpenCursor() {
  InternalOpen();
  if (!IsCursorOpen()) return false;
  ClearBuffers();
  // Fill the window from the top, as First does, but without the browse
  // check and the scroll notifications of a user's move.
  if (GetNextRecord()) GetNextRecords();
  bof_ = true;
  eof_ = recordCount_ == 0;
  return true;
}

void TDataSet::CloseCursor() {
  buffers_.clear();
  bufferCount_ = 0;
  recordCount_ = 0;
  activeRecord_ = 0;
  currentRecord_ = -1;
  bof_ = eof_ = true;
  if (IsCursorOpen() || state_ == dsInactive) InternalClose();
  DestroyDefaultFields();
  for (auto& f : fields_) f->Bind(0, -1);
}

// ---------------------------------------------------------------- window

void TDataSet::UpdateBufferCount() {
  int wanted = 1;
  for (TDataSource* source : dataSources_)
    for (TDataLink* link : source->DataLinks()) wanted = std::max(wanted, link->BufferCount());
  if (IsCursorOpen() && Active() && wanted != bufferCount_) {
    SetBufferCount(wanted);
    if (state_ == dsBrowse) {
      // A view joining or leaving changes how much is kept, not where the
      // dataset stands: a walk to Eof must not start over because a form
      // was opened beside the grid.
      const bool bof = bof_, eof = eof_;
      UpdateCursorPos();
      Resync();
      if (recordCount_ > 0) {
        bof_ = bof;
        eof_ = eof;
      }
    } else {
      // The edit stays; the views that remain may have lost records.
      DataEvent(deDataSetChange, 0);
    }
  }
}

void TDataSet::SetBufferCount(int count) {
  const int have = static_cast<int>(buffers_.size());
  const int want = count + 1;
  if (want > have) {
    for (int i = have; i < want; ++i) buffers_.push_back(AllocRecordBuffer());
  } else if (want < have) {
    // Keep the active record inside the smaller window.
    if (activeRecord_ >= count) {
      const int drop = activeRecord_ - count + 1;
      std::rotate(buffers_.begin(), buffers_.begin() + drop, buffers_.end());
      activeRecord_ -= drop;
      recordCount_ -= drop;
      currentRecord_ = -1;
    }
    buffers_.resize(static_cast<size_t>(want));
  }
  bufferCount_ = count;
  recordCount_ = std::min(recordCount_, bufferCount_);
  activeRecord_ = std::min(activeRecord_, std::max(recordCount_ - 1, 0));
}

void TDataSet::ClearBuffers() {
  if (bufferCount_ == 0) {
    int wanted = 1;
    for (TDataSource* source : dataSources_)
      for (TDataLink* link : source->DataLinks()) wanted = std::max(wanted, link->BufferCount());
    SetBufferCount(wanted);
  }
  recordCount_ = 0;
  activeRecord_ = 0;
  currentRecord_ = -1;
  bof_ = eof_ = true;
}

void TDataSet::ActivateBuffers() {
  recordCount_ = 1;
  activeRecord_ = 0;
  currentRecord_ = 0;
  bof_ = eof_ = false;
}

uint8_t* TDataSet::ActiveBuffer() const {
  if (buffers_.empty()) return nullptr;
  if (recordCount_ == 0 && state_ != dsInsert) return nullptr;
  return buffers_[static_cast<size_t>(activeRecord_)].get();
}

uint8_t* TDataSet::WindowBuffer(int index) const {
  if (index < 0 || index >= recordCount_) return nullptr;
  return buffers_[static_cast<size_t>(index)].get();
}

void TDataSet::SetCurrentRecord(int index) {
  if (currentRecord_ == index) return;
  uint8_t* buffer = buffers_[static_cast<size_t>(index)].get();
  switch (GetBookmarkFlag(buffer)) {
    case bfCurrent:
    case bfInserted:
      InternalSetToRecord(buffer);
      break;
    case bfBOF:
      InternalFirst();
      break;
    case bfEOF:
      InternalLast();
      break;
  }
  currentRecord_ = index;
}

void TDataSet::UpdateCursorPos() {
  if (recordCount_ > 0) SetCurrentRecord(activeRecord_);
}

bool TDataSet::GetNextRecord() {
  if (recordCount_ > 0) SetCurrentRecord(recordCount_ - 1);
  uint8_t* spare = buffers_[static_cast<size_t>(recordCount_)].get();
  const bool ok = GetRecord(spare, gmNext, true) == grOK;
  if (!ok) {
    CursorPosChanged();
    return false;
  }
  if (recordCount_ == 0) {
    ActivateBuffers();
  } else if (recordCount_ < bufferCount_) {
    ++recordCount_;
  } else {
    // The window is full: the oldest buffer becomes the spare.
    std::rotate(buffers_.begin(), buffers_.begin() + 1, buffers_.end());
    --activeRecord_;
  }
  currentRecord_ = recordCount_ - 1;
  return true;
}

bool TDataSet::GetPriorRecord() {
  if (recordCount_ > 0) SetCurrentRecord(0);
  uint8_t* spare = buffers_[static_cast<size_t>(recordCount_)].get();
  const bool ok = GetRecord(spare, gmPrior, true) == grOK;
  if (!ok) {
    CursorPosChanged();
    return false;
  }
  if (recordCount_ == 0) {
    ActivateBuffers();
  } else {
    // The record read goes in front; when the window was full, the last one
    // falls off into the spare slot.
    std::rotate(buffers_.begin(), buffers_.begin() + recordCount_, buffers_.begin() + recordCount_ + 1);
    if (recordCount_ < bufferCount_) {
      ++recordCount_;
    }
    ++activeRecord_;
  }
  currentRecord_ = 0;
  return true;
}

int TDataSet::GetNextRecords() {
  int n = 0;
  while (recordCount_ < bufferCount_ && GetNextRecord()) ++n;
  return n;
}

int TDataSet::GetPriorRecords() {
  int n = 0;
  while (recordCount_ < bufferCount_ && GetPriorRecord()) ++n;
  return n;
}

void TDataSet::GetCalcFields(uint8_t* buffer) {
  if (calcFieldsSize_ == 0 && !OnCalcFields) return;
  TTempState scope(*this, dsCalcFields, calcBuffer_, buffer);
  ClearCalcFields(buffer);
  if (OnCalcFields) OnCalcFields(*this);
}

// ---------------------------------------------------------------- moving

void TDataSet::First() {
  CheckBrowseMode();
  Notify(BeforeScroll);
  ClearBuffers();
  InternalFirst();
  if (GetNextRecord()) GetNextRecords();
  bof_ = true;
  eof_ = recordCount_ == 0;
  DataEvent(deDataSetChange, 0);
  Notify(AfterScroll);
}

void TDataSet::Last() {
  CheckBrowseMode();
  Notify(BeforeScroll);
  ClearBuffers();
  InternalLast();
  if (GetPriorRecord()) GetPriorRecords();
  eof_ = true;
  bof_ = recordCount_ == 0;
  activeRecord_ = std::max(recordCount_ - 1, 0);
  DataEvent(deDataSetChange, 0);
  Notify(AfterScroll);
}

int TDataSet::MoveBy(int distance) {
  CheckBrowseMode();
  int moved = 0;
  if ((distance > 0 && eof_) || (distance < 0 && bof_) || distance == 0) return 0;
  Notify(BeforeScroll);
  bof_ = eof_ = false;
  const int oldActive = activeRecord_;
  bool rebuilt = false;
  while (distance > 0) {
    if (activeRecord_ < recordCount_ - 1) {
      ++activeRecord_;
    } else {
      const int before = recordCount_;
      if (!GetNextRecord()) {
        eof_ = true;
        break;
      }
      if (recordCount_ == before) rebuilt = true;  // the window shifted
      activeRecord_ = recordCount_ - 1;
    }
    --distance;
    ++moved;
  }
  while (distance < 0) {
    if (activeRecord_ > 0) {
      --activeRecord_;
    } else {
      if (!GetPriorRecord()) {
        bof_ = true;
        break;
      }
      rebuilt = true;
      activeRecord_ = 0;
    }
    ++distance;
    --moved;
  }
  if (rebuilt || activeRecord_ != oldActive)
    DataEvent(rebuilt ? deDataSetChange : deDataSetScroll, activeRecord_ - oldActive);
  Notify(AfterScroll);
  return moved;
}

int TDataSet::RecordCount() { return 0; }

int TDataSet::RecNo() { return -1; }

void TDataSet::Resync() {
  if (!Active() || buffers_.empty()) return;
  if (recordCount_ == 0) {
    // Nothing was visible: look from the top again.
    InternalFirst();
    if (GetNextRecord()) GetNextRecords();
    bof_ = true;
    eof_ = recordCount_ == 0;
    DataEvent(deDataSetChange, 0);
    return;
  }
  // The cursor stands where the operation that asks for the resync left it
  // (on the record edited, posted or deleted).
  const int keepAbove = activeRecord_;
  uint8_t* first = buffers_[0].get();
  // The record itself, or its nearest visible neighbour when it vanished
  // (deleted and hidden, or filtered out).
  TGetResult r = GetRecord(first, gmCurrent, false);
  if (r != grOK) r = GetRecord(first, gmNext, false);
  if (r != grOK) r = GetRecord(first, gmPrior, false);
  if (r != grOK) {
    ClearBuffers();
    DataEvent(deDataSetChange, 0);
    return;
  }
  recordCount_ = 1;
  activeRecord_ = 0;
  currentRecord_ = 0;
  bof_ = eof_ = false;
  // Keep the record where it was in the window when there is room above it.
  for (int i = 0; i < keepAbove && GetPriorRecord();) ++i;
  GetNextRecords();
  // Near the end there may be too few records below: fill from above, or a
  // grid shows empty rows while records exist.
  GetPriorRecords();
  DataEvent(deDataSetChange, 0);
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  Notify(BeforeRefresh);
  UpdateCursorPos();
  InternalRefresh();
  Resync();
  Notify(AfterRefresh);
}

TBookmark TDataSet::GetBookmark() {
  if (!Active() || recordCount_ == 0 || state_ == dsInsert) return {};
  return GetBookmarkData(ActiveBuffer());
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
  if (bookmark.empty()) return;
  CheckBrowseMode();
  Notify(BeforeScroll);
  InternalGotoBookmark(bookmark);
  FillWindowFromCursor();
  Notify(AfterScroll);
}

void TDataSet::FillWindowFromCursor() {
  ClearBuffers();
  uint8_t* first = buffers_[0].get();
  if (GetRecord(first, gmCurrent, false) == grOK) {
    ActivateBuffers();
    // Centre the record in the window so that both directions show context.
    const int above = (bufferCount_ - 1) / 2;
    for (int i = 0; i < above && GetPriorRecord();) ++i;
    GetNextRecords();
    GetPriorRecords();
  } else if (GetNextRecord()) {
    GetNextRecords();
    GetPriorRecords();
  } else {
    // Past the end: show the last records.
    InternalLast();
    if (GetPriorRecord()) GetPriorRecords();
    activeRecord_ = std::max(recordCount_ - 1, 0);
  }
  bof_ = eof_ = recordCount_ == 0;
  DataEvent(deDataSetChange, 0);
}

bool TDataSet::BookmarkValid(const TBookmark& bookmark) {
  if (bookmark.empty() || !Active()) return false;
  uint8_t* spare = buffers_[static_cast<size_t>(recordCount_)].get();
  InternalGotoBookmark(bookmark);
  const bool ok = GetRecord(spare, gmCurrent, false) == grOK;
  CursorPosChanged();
  return ok;
}

// ---------------------------------------------------------------- editing

void TDataSet::CheckCanModify() {
  if (!GetCanModify()) throw EDbfError(msg::kDataSetReadOnly);
}

void TDataSet::CheckOperation(void (TDataSet::*operation)(), const TErrorEvent& onError) {
  for (;;) {
    try {
      (this->*operation)();
      return;
    } catch (const Exception& e) {
      if (!onError) throw;
      TDataAction action = daFail;
      onError(*this, e, action);
      if (action == daFail) throw;
      if (action == daAbort) throw EAbort();
    }
  }
}

void TDataSet::UpdateRecord() {
  if (state_ != dsEdit && state_ != dsInsert) throw EDbfError(msg::kNotEditing);
  DataEvent(deUpdateRecord, 0);
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  DataEvent(deCheckBrowseMode, 0);
  if (state_ == dsEdit || state_ == dsInsert) {
    UpdateRecord();
    if (modified_)
      Post();
    else
      Cancel();
  }
}

void TDataSet::Edit() {
  if (state_ == dsEdit || state_ == dsInsert) return;
  CheckActive();
  if (recordCount_ == 0) {
    Insert();
    return;
  }
  CheckCanModify();
  Notify(BeforeEdit);
  UpdateCursorPos();
  CheckOperation(&TDataSet::DoInternalEdit, OnEditError);
  GetCalcFields(ActiveBuffer());
  SetState(dsEdit);
  DataEvent(deRecordChange, 0);
  Notify(AfterEdit);
}

void TDataSet::BeginInsertAppend(bool append) {
  CheckBrowseMode();
  CheckCanModify();
  Notify(BeforeInsert);
  Notify(BeforeScroll);
  if (append) {
    // The new record goes after the last one: show the end of the table.
    ClearBuffers();
    InternalLast();
    for (int i = 0; i < bufferCount_ - 1 && GetPriorRecord();) ++i;
    activeRecord_ = recordCount_;
  } else {
    UpdateCursorPos();
    if (recordCount_ == 0) activeRecord_ = 0;
    // Make room at the active position; the last buffer may fall off.
    std::rotate(buffers_.begin() + activeRecord_, buffers_.begin() + recordCount_,
                buffers_.begin() + recordCount_ + 1);
  }
  uint8_t* buffer = buffers_[static_cast<size_t>(activeRecord_)].get();
  InternalInitRecord(buffer);
  SetBookmarkFlag(buffer, append ? bfEOF : bfInserted);
  if (recordCount_ < bufferCount_) {
    ++recordCount_;
  } else if (append) {
    // Full window: drop the oldest record to keep the new one visible.
    std::rotate(buffers_.begin(), buffers_.begin() + 1, buffers_.end());
    --activeRecord_;
  }
  currentRecord_ = -1;
  bof_ = eof_ = false;
  SetState(dsInsert);
  try {
    if (OnNewRecord) OnNewRecord(*this);
  } catch (...) {
    Cancel();
    throw;
  }
  modified_ = false;
  DataEvent(deDataSetChange, 0);
  Notify(AfterInsert);
  Notify(AfterScroll);
}

void TDataSet::Insert() { BeginInsertAppend(false); }

void TDataSet::Append() { BeginInsertAppend(true); }

void TDataSet::Post() {
  UpdateRecord();
  if (state_ != dsEdit && state_ != dsInsert) return;
  DataEvent(deCheckBrowseMode, 0);
  Notify(BeforePost);
  CheckOperation(&TDataSet::DoInternalPost, OnPostError);
  SetState(dsBrowse);
  Resync();
  Notify(AfterPost);
}

void TDataSet::Cancel() {
  if (state_ != dsEdit && state_ != dsInsert) return;
  DataEvent(deCheckBrowseMode, 0);
  Notify(BeforeCancel);
  if (state_ == dsInsert) {
    // Back to where the new record was begun. Setting to its buffer leaves
    // the cursor on the record it went in front of (which a full window may
    // have pushed out, so no neighbour in the window will do), or puts it
    // past the end for an append; the resync reads from there.
    CursorPosChanged();
    UpdateCursorPos();
  }
  InternalCancel();
  SetState(dsBrowse);
  Resync();
  Notify(AfterCancel);
}

void TDataSet::Delete() {
  CheckActive();
  if (state_ == dsInsert) {
    Cancel();
    return;
  }
  if (recordCount_ == 0) throw EDbfError(msg::kDataSetEmpty);
  DataEvent(deCheckBrowseMode, 0);
  CheckCanModify();
  Notify(BeforeDelete);
  Notify(BeforeScroll);
  UpdateCursorPos();
  CheckOperation(&TDataSet::DoInternalDelete, OnDeleteError);
  SetState(dsBrowse);
  Resync();
  Notify(AfterDelete);
  Notify(AfterScroll);
}

void TDataSet::SetFiltered(bool value) { filtered_ = value; }

std::string TDataSet::TextToTable(std::string_view utf8, int maxBytes) {
  return std::string(utf8.substr(0, static_cast<size_t>(std::max(maxBytes, 0))));
}

std::string TDataSet::ReadBlob(const TField& field) {
  throw EDbfError(FormatMessage(msg::kNotBlobField, field.FieldName().c_str()));
}

void TDataSet::WriteBlob(TField& field, std::string_view) {
  throw EDbfError(FormatMessage(msg::kNotBlobField, field.FieldName().c_str()));
}

}  // namespace norvale
