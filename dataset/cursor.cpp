#include "dataset/cursor.h"

#include "engine/table_file.h"
#include "index/index_file.h"

namespace norvale {

// The records the file holds now: in shared mode other programs append, and
// their records count as soon as they are complete, header or not.
int64_t TDbfCursor::GetOrderCount() { return file_->RecordsInFile(); }

bool TDbfCursor::Next() {
  // The presence test brings a shared file's known count up to date when
  // the position passes it, so records other programs appended are found.
  if (file_->RecordExists(recNo_)) {
    ++recNo_;
    return file_->RecordExists(recNo_);
  }
  recNo_ = file_->RecordsInFile() + 1;
  return false;
}

bool TDbfCursor::Prev() {
  if (recNo_ > 0) --recNo_;
  return recNo_ > 0;
}

void TDbfCursor::Last() {
  const int64_t count = file_->RecordsInFile();
  recNo_ = count > 0 ? count + 1 : 0;
}

TIndexCursor::TIndexCursor(TDbfFile* file, TIndexFile* index, int tag)
    : TVirtualCursor(file), index_(index), tag_(tag) {}

TIndexFile& TIndexCursor::Selected() {
  if (index_->SelectedTag() != tag_) index_->SelectTag(tag_);
  return *index_;
}

int64_t TIndexCursor::GetPhysicalRecord() { return Selected().CurrentRecord(); }
int64_t TIndexCursor::GetOrderPosition() { return Selected().GetIndexPosition(); }
int64_t TIndexCursor::GetOrderCount() { return Selected().EstimatedCount(); }
void TIndexCursor::SetPhysicalRecord(int64_t recNo) { Selected().GotoRecord(recNo); }
void TIndexCursor::SetOrderPosition(int64_t position) { Selected().SetIndexPosition(position); }
bool TIndexCursor::Next() { return Selected().MoveNext(); }
bool TIndexCursor::Prev() { return Selected().MovePrior(); }
void TIndexCursor::First() { Selected().MoveFirst(); }
void TIndexCursor::Last() { Selected().MoveLast(); }

}  // namespace norvale
