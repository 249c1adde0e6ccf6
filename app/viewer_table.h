// TViewerTable: the table object of the main window.
//
// It is a TDbfTable with the two things a grid of a million rows needs and
// the dataset frame does not offer: reading the values of any record
// without moving the current record (the grid paints rows far from it), and
// being told which record a post or a delete touched, so the grid's live
// rows follow without scanning the file again.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "dataset/dbf_table.h"

namespace norvale {

class TViewerTable : public TDbfTable {
 public:
  // Runs `read` while the fields show record `recNo` as the file holds it.
  // Field reads inside `read` see that record; the current record, the state
  // and any edit in progress are untouched. Memo text is not available this
  // way (only whether a memo is set, through IsNull). False, without calling
  // `read`, when the record does not exist.
  bool ReadStoredRecord(int64_t recNo, const std::function<void()>& read);
  // The deletion flag of record `recNo` as stored.
  bool StoredRecordDeleted(int64_t recNo);
  // The physical record number of the current record; 0 for a new record or
  // when there is none.
  int64_t CurrentRecNo();
  // True while a new record is being added at the end rather than before the
  // current record.
  bool Appending();
  // Drops the record ReadStoredRecord keeps between calls, after something
  // may have written it behind the table's back (Undelete does).
  void ForgetStoredRecord() { storedRecNo_ = -1; }

  // After a record was marked deleted, with its physical number.
  std::function<void(int64_t recNo)> OnRecordDeleted;
  // After a record was written; `added` for a new record.
  std::function<void(int64_t recNo, bool added)> OnRecordPosted;

 protected:
  void InternalOpen() override;
  void InternalClose() override;
  void InternalPost() override;
  void InternalDelete() override;

 private:
  bool LoadStored(int64_t recNo);

  std::unique_ptr<uint8_t[]> storedBuffer_;
  int64_t storedRecNo_ = -1;
};

}  // namespace norvale
