#include "app/viewer_table.h"

namespace norvale {

void TViewerTable::InternalOpen() {
  storedBuffer_.reset();
  storedRecNo_ = -1;
  TDbfTable::InternalOpen();
}

void TViewerTable::InternalClose() {
  storedBuffer_.reset();
  storedRecNo_ = -1;
  TDbfTable::InternalClose();
}

bool TViewerTable::LoadStored(int64_t recNo) {
  // The buffer's size follows the open table's layout, so it is made on the
  // first read after each open.
  if (!storedBuffer_) storedBuffer_ = AllocRecordBuffer();
  if (recNo > 0 && recNo == storedRecNo_) return true;
  storedRecNo_ = TDbfTable::ReadStoredRecord(recNo, storedBuffer_.get()) ? recNo : -1;
  return storedRecNo_ == recNo;
}

bool TViewerTable::ReadStoredRecord(int64_t recNo, const std::function<void()>& read) {
  if (!Active() || !LoadStored(recNo)) return false;
  WithFieldsOn(storedBuffer_.get(), read);
  return true;
}

bool TViewerTable::StoredRecordDeleted(int64_t recNo) {
  return Active() && LoadStored(recNo) && TDbfTable::StoredRecordDeleted(storedBuffer_.get());
}

int64_t TViewerTable::CurrentRecNo() {
  if (!Active() || State() == dsInsert || IsEmpty()) return 0;
  const uint8_t* buffer = ActiveBuffer();
  if (!buffer) return 0;
  return BookmarkRecNo(GetBookmarkData(buffer));
}

bool TViewerTable::Appending() {
  return State() == dsInsert && ActiveBuffer() && GetBookmarkFlag(ActiveBuffer()) == bfEOF;
}

void TViewerTable::InternalPost() {
  const bool added = State() == dsInsert;
  const int64_t edited = EditRecNo();
  storedRecNo_ = -1;
  TDbfTable::InternalPost();
  const int64_t recNo = added ? Cursor()->GetPhysicalRecord() : edited;
  if (OnRecordPosted) OnRecordPosted(recNo, added);
}

void TViewerTable::InternalDelete() {
  const int64_t recNo = BookmarkRecNo(GetBookmarkData(ActiveBuffer()));
  storedRecNo_ = -1;
  TDbfTable::InternalDelete();
  if (OnRecordDeleted) OnRecordDeleted(recNo);
}

}  // namespace norvale
