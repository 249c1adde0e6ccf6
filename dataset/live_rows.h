// TLiveRows: which records of a table are the rows of a view, in the view's
// order: record-number order or the order of an index, without the deleted
// records when they are hidden, and only those a filter accepts.
//
// With deleted records shown, no filter and record order every record is a
// row and nothing is read. Otherwise the candidates (the record numbers, or
// the index's entries in key order) are judged by reading the records in
// large blocks (record order) or one by one (index order), testing the
// deletion flag and the filter; no field the filter does not reach is
// decoded. The judging runs in steps, so a view can show the first screen of
// a table of millions of records at once and learn of the rest while it
// stays responsive: Count() grows as the scan goes on.
//
// The object reads through the table's file while the table is open; it
// holds no file of its own, so whoever owns it starts over (Reset) after the
// table was closed or reopened, and after any change that can move records
// in the order of an index.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

namespace norvale {

class TDbfTable;
class TTableFilter;

class TLiveRows {
 public:
  explicit TLiveRows(TDbfTable& table) : table_(&table) {}

  // Starts over for records 1..recordCount; scans nothing yet. `filter`
  // (null for none) must outlive the rows or the next Reset. `order` lists
  // the record numbers of an index in key order (moved in); null keeps
  // record-number order.
  void Reset(int64_t recordCount, bool showDeleted, TTableFilter* filter = nullptr,
             std::vector<uint32_t>* order = nullptr);
  // Forgets everything: no records, no rows.
  void Clear();
  // Takes records up to `newCount` into the map, which the table appended;
  // they become rows as the scan reaches them. A smaller count, and any
  // count in index order (where new records land among the old ones), is
  // ignored.
  void Extend(int64_t newCount);

  // Judges at least `candidates` more candidates (whole read blocks, so
  // possibly more), stopping at the end. Returns how many rows it found.
  // Raises what the filter raises; the failing record counts as judged.
  int64_t Step(int64_t candidates);
  // Scans blocks until `budget` has passed (at least one block).
  int64_t StepFor(std::chrono::microseconds budget);
  // Scans until record `recNo` is judged (the whole map for a record that
  // is no candidate).
  void ScanThrough(int64_t recNo);
  // True when every candidate has been judged.
  bool Complete() const { return scanned_ >= Candidates(); }
  // Whether record `recNo` has been judged.
  bool Judged(int64_t recNo) const;

  // Rows known so far.
  int64_t Count() const { return AllRows() ? Candidates() : static_cast<int64_t>(live_.size()); }
  // Records the map covers.
  int64_t RecordCount() const { return recordCount_; }
  // Candidates judged so far (in record order: records 1..Scanned()).
  int64_t Scanned() const { return scanned_; }
  bool ShowDeleted() const { return showDeleted_; }
  bool Ordered() const { return ordered_; }
  bool Filtered() const { return filter_ != nullptr; }
  // Record number of `row` (0-based); 0 outside the rows known.
  int64_t RecNoAt(int64_t row) const;
  // Row of record `recNo`; -1 when it is no row, or not judged yet.
  int64_t RowOf(int64_t recNo) const;
  // Forgets a record that was marked deleted; returns its former row, or -1
  // when it was no row (or deleted records are rows anyway). A record the
  // scan has not reached needs nothing: the scan will find it deleted.
  int64_t Remove(int64_t recNo);

 private:
  // Every candidate is a row: nothing needs reading.
  bool AllRows() const { return showDeleted_ && !filter_; }
  int64_t Candidates() const { return ordered_ ? static_cast<int64_t>(order_.size()) : recordCount_; }
  // Judges candidates scanned_+1..last.
  void Scan(int64_t last);
  void ScanRecordOrder(int64_t last);
  void ScanIndexOrder(int64_t last);
  // Whether the record image passes the deletion rule and the filter.
  bool Accepts(const uint8_t* record) const;
  void AddRow(int64_t recNo);

  TDbfTable* table_;
  bool showDeleted_ = true;
  bool ordered_ = false;
  TTableFilter* filter_ = nullptr;
  int64_t recordCount_ = 0;
  int64_t scanned_ = 0;
  // The rows' record numbers (unless AllRows); ascending in record order.
  std::vector<int32_t> live_;
  // Index order: the candidates, and for each record number its row, or
  // kRejected once judged no row, kUnjudged before.
  std::vector<uint32_t> order_;
  std::vector<int32_t> rowOf_;
  std::vector<uint8_t> block_;
};

}  // namespace norvale
