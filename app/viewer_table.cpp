#include "app/viewer_table.h"

#include <cstring>

#include "engine/table_file.h"

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
  TDbfFile* file = DbfFile();
  if (!file || recNo <= 0 || recNo > RecordCount()) return false;
  // The buffer's size follows the open table's layout, so it is made on the
  // first read after each open.
  if (!storedBuffer_) storedBuffer_ = AllocRecordBuffer();
  if (recNo == storedRecNo_) return true;
  uint8_t* record = storedBuffer_.get() + kHeaderSize;
  const int size = file->RecordSize();
  const int got = file->ReadPage(recNo, record);
  if (got <= 0) {
    storedRecNo_ = -1;
    return false;
  }
  if (got < size) std::memset(record + got, ' ', static_cast<size_t>(size - got));
  const int32_t bookmark = static_cast<int32_t>(recNo);
  std::memcpy(storedBuffer_.get() + kBookmarkOffset, &bookmark, sizeof bookmark);
  storedBuffer_[kFlagOffset] = bfCurrent;
  std::memcpy(storedBuffer_.get() + kOrderPositionOffset, &bookmark, sizeof bookmark);
  storedRecNo_ = recNo;
  return true;
}

bool TViewerTable::ReadStoredRecord(int64_t recNo, const std::function<void()>& read) {
  if (!Active() || !LoadStored(recNo)) return false;
  WithFieldsOn(storedBuffer_.get(), read);
  return true;
}

bool TViewerTable::StoredRecordDeleted(int64_t recNo) {
  return Active() && LoadStored(recNo) && storedBuffer_[kHeaderSize] == '*';
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
