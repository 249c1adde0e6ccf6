// TLiveRows: which records of a table are the rows of a view that hides
// deleted records, in record-number order.
//
// With deleted records shown every record is a row and nothing is read.
// Otherwise the numbers of the live records are found by reading records in
// large blocks and testing only their deletion flags; no field is decoded.
// The scan runs in steps, so a view can show the first screen of a table of
// millions of records at once and learn of the rest while it stays
// responsive: rows are known up to Scanned(), and Count() grows as the scan
// goes on.
//
// The object reads through the table's file while the table is open; it
// holds no file of its own, so whoever owns it starts over (Reset) after the
// table was closed or reopened.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

namespace norvale {

class TDbfTable;

class TLiveRows {
 public:
  explicit TLiveRows(TDbfTable& table) : table_(&table) {}

  // Starts over for records 1..recordCount; scans nothing yet (with deleted
  // records shown there is nothing to scan).
  void Reset(int64_t recordCount, bool showDeleted);
  // Forgets everything: no records, no rows.
  void Clear();
  // Takes records up to `newCount` into the map, which the table appended;
  // they become rows as the scan reaches them. A smaller count is ignored.
  void Extend(int64_t newCount);

  // Scans at least `records` more records (whole read blocks, so possibly
  // more), stopping at the end. Returns how many rows it found.
  int64_t Step(int64_t records);
  // Scans blocks until `budget` has passed (at least one block).
  int64_t StepFor(std::chrono::microseconds budget);
  // Scans up to and including record `recNo` (the whole map for a number
  // beyond it).
  void ScanThrough(int64_t recNo);
  // True when every record of the map has been scanned.
  bool Complete() const { return scanned_ >= recordCount_; }

  // Rows known so far.
  int64_t Count() const { return showDeleted_ ? recordCount_ : static_cast<int64_t>(live_.size()); }
  // Records the map covers, scanned or not.
  int64_t RecordCount() const { return recordCount_; }
  // Records 1..Scanned() have been judged.
  int64_t Scanned() const { return scanned_; }
  bool ShowDeleted() const { return showDeleted_; }
  // Record number of `row` (0-based); 0 outside the rows known.
  int64_t RecNoAt(int64_t row) const;
  // Row of record `recNo`; -1 when it is no row, or not scanned yet.
  int64_t RowOf(int64_t recNo) const;
  // Forgets a record that was marked deleted; returns its former row, or -1
  // when it was no row (or deleted records are rows anyway). A record the
  // scan has not reached needs nothing: the scan will find it deleted.
  int64_t Remove(int64_t recNo);

 private:
  // Scans records scanned_+1..last.
  void Scan(int64_t last);

  TDbfTable* table_;
  bool showDeleted_ = true;
  int64_t recordCount_ = 0;
  int64_t scanned_ = 0;
  std::vector<int32_t> live_;
  std::vector<uint8_t> block_;
};

}  // namespace norvale
