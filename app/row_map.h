// TRowMap: which records the grid's rows are, in record-number order.
//
// With deleted records shown every record is a row and nothing is stored.
// Otherwise the map holds the numbers of the live records, found by reading
// the deletion flags in large blocks: a million records take one pass over
// the file, and no field is decoded.
#pragma once

#include <cstdint>
#include <vector>

namespace norvale {

class TDbfFile;

class TRowMap {
 public:
  // Maps records 1..recordCount of `file`.
  void Build(TDbfFile* file, int64_t recordCount, bool showDeleted);
  void Clear();
  // Adds records oldCount+1..newCount, which the table appended.
  void Extend(TDbfFile* file, int64_t newCount);

  int64_t Count() const { return showDeleted_ ? recordCount_ : static_cast<int64_t>(live_.size()); }
  int64_t RecordCount() const { return recordCount_; }
  bool ShowDeleted() const { return showDeleted_; }
  // Record number of `row` (0-based); 0 outside the map.
  int64_t RecNoAt(int64_t row) const;
  // Row of record `recNo`; -1 when it is not a row.
  int64_t RowOf(int64_t recNo) const;
  // Forgets a record that was marked deleted; returns its former row, or -1
  // when it was no row (or deleted records are rows anyway).
  int64_t Remove(int64_t recNo);

 private:
  void Scan(TDbfFile* file, int64_t first, int64_t last);

  bool showDeleted_ = true;
  int64_t recordCount_ = 0;
  std::vector<int32_t> live_;
};

}  // namespace norvale
