#include "dataset/live_rows.h"

#include <algorithm>

#include "dataset/dbf_table.h"
#include "dataset/table_filter.h"
#include "engine/record_view.h"
#include "engine/table_file.h"

namespace norvale {

namespace {
// One read: large enough that the flags of a million records cost a few
// hundred transfers, small enough that a block read from a cold disk fits
// in a step that leaves the window responsive.
constexpr int64_t kScanBytes = 256 << 10;
// Index order reads record by record, so a step is counted in records.
constexpr int64_t kOrderedStep = 2048;
constexpr int32_t kUnjudged = -1;
constexpr int32_t kRejected = -2;

int64_t RecordsPerBlock(const TDbfFile& file) { return std::max<int64_t>(1, kScanBytes / std::max(1, file.RecordSize())); }
}  // namespace

void TLiveRows::Clear() {
  showDeleted_ = true;
  ordered_ = false;
  filter_ = nullptr;
  recordCount_ = 0;
  scanned_ = 0;
  live_.clear();
  live_.shrink_to_fit();
  order_.clear();
  order_.shrink_to_fit();
  rowOf_.clear();
  rowOf_.shrink_to_fit();
}

void TLiveRows::Reset(int64_t recordCount, bool showDeleted, TTableFilter* filter, std::vector<uint32_t>* order) {
  Clear();
  showDeleted_ = showDeleted;
  filter_ = filter;
  recordCount_ = std::max<int64_t>(recordCount, 0);
  if (order) {
    ordered_ = true;
    order_ = std::move(*order);
    // A damaged index may name records the table does not have, or name
    // one twice; neither may become a row.
    rowOf_.assign(static_cast<size_t>(recordCount_ + 1), kUnjudged);
    std::vector<uint8_t> seen(static_cast<size_t>(recordCount_ + 1), 0);
    size_t kept = 0;
    for (uint32_t recNo : order_) {
      if (recNo == 0 || recNo > recordCount_ || seen[recNo]) continue;
      seen[recNo] = 1;
      order_[kept++] = recNo;
    }
    order_.resize(kept);
    if (AllRows())
      for (size_t row = 0; row < order_.size(); ++row) rowOf_[order_[row]] = static_cast<int32_t>(row);
  }
  scanned_ = AllRows() ? Candidates() : 0;
}

void TLiveRows::Extend(int64_t newCount) {
  if (ordered_ || newCount <= recordCount_) return;
  recordCount_ = newCount;
  if (AllRows()) scanned_ = recordCount_;
}

int64_t TLiveRows::Step(int64_t candidates) {
  const int64_t before = Count();
  Scan(std::min(Candidates(), scanned_ + std::max<int64_t>(candidates, 0)));
  return Count() - before;
}

int64_t TLiveRows::StepFor(std::chrono::microseconds budget) {
  const TDbfFile* file = table_->DbfFile();
  const int64_t perBlock = ordered_ ? kOrderedStep : file ? RecordsPerBlock(*file) : Candidates();
  const auto until = std::chrono::steady_clock::now() + budget;
  int64_t found = 0;
  do {
    found += Step(perBlock);
  } while (!Complete() && std::chrono::steady_clock::now() < until);
  return found;
}

bool TLiveRows::Judged(int64_t recNo) const {
  if (recNo <= 0 || recNo > recordCount_) return Complete();
  if (!ordered_) return recNo <= scanned_;
  return Complete() || rowOf_[static_cast<size_t>(recNo)] != kUnjudged;
}

void TLiveRows::ScanThrough(int64_t recNo) {
  if (!ordered_) {
    Scan(std::min(recNo, recordCount_));
    return;
  }
  while (!Judged(recNo)) Scan(std::min(Candidates(), scanned_ + kOrderedStep));
}

bool TLiveRows::Accepts(const uint8_t* record) const {
  const size_t size = static_cast<size_t>(std::max(1, table_->DbfFile()->RecordSize()));
  if (!showDeleted_ && TRecordView(record, size).Deleted()) return false;
  return !filter_ || filter_->Accepts(record);
}

void TLiveRows::AddRow(int64_t recNo) {
  if (ordered_) rowOf_[static_cast<size_t>(recNo)] = static_cast<int32_t>(live_.size());
  live_.push_back(static_cast<int32_t>(recNo));
}

void TLiveRows::Scan(int64_t last) {
  if (last <= scanned_) return;
  if (!table_->DbfFile()) {
    // The table was closed under the map; what is left is no row until the
    // owner starts over.
    scanned_ = last;
    return;
  }
  if (ordered_) {
    ScanIndexOrder(last);
  } else {
    ScanRecordOrder(last);
  }
  if (Complete()) {
    block_.clear();
    block_.shrink_to_fit();
  }
}

void TLiveRows::ScanRecordOrder(int64_t last) {
  TDbfFile* file = table_->DbfFile();
  const int64_t size = std::max(1, file->RecordSize());
  const int64_t perBlock = RecordsPerBlock(*file);
  block_.resize(static_cast<size_t>(perBlock * size));
  if (!filter_) live_.reserve(static_cast<size_t>(recordCount_));
  while (scanned_ < last) {
    const int64_t at = scanned_ + 1;
    const int64_t want = std::min(perBlock, last - scanned_);
    const int64_t got = file->ReadRecords(at, want, block_.data());
    if (got <= 0) {
      // A record cut short by the end of the file still is a row, as the
      // table shows it (blank beyond the end); so is one that reads nothing.
      const bool read = file->ReadRecord(at, block_.data());
      scanned_ = at;
      if (!read) {
        if (!filter_) AddRow(at);
      } else if (Accepts(block_.data())) {
        AddRow(at);
      }
      continue;
    }
    for (int64_t i = 0; i < got; ++i) {
      // Counted as judged before the filter runs, so a filter that fails
      // here is not asked about the same record again.
      scanned_ = at + i;
      if (Accepts(block_.data() + i * size)) AddRow(at + i);
    }
  }
}

void TLiveRows::ScanIndexOrder(int64_t last) {
  TDbfFile* file = table_->DbfFile();
  const size_t size = static_cast<size_t>(std::max(1, file->RecordSize()));
  block_.resize(size);
  while (scanned_ < last) {
    const int64_t recNo = order_[static_cast<size_t>(scanned_)];
    ++scanned_;
    rowOf_[static_cast<size_t>(recNo)] = kRejected;
    if (!file->ReadRecord(recNo, block_.data())) continue;
    if (Accepts(block_.data())) AddRow(recNo);
  }
}

int64_t TLiveRows::RecNoAt(int64_t row) const {
  if (row < 0 || row >= Count()) return 0;
  if (AllRows()) return ordered_ ? order_[static_cast<size_t>(row)] : row + 1;
  return live_[static_cast<size_t>(row)];
}

int64_t TLiveRows::RowOf(int64_t recNo) const {
  if (recNo <= 0 || recNo > recordCount_) return -1;
  if (ordered_) {
    const int32_t row = rowOf_[static_cast<size_t>(recNo)];
    return row >= 0 ? row : -1;
  }
  if (recNo > scanned_) return -1;
  if (AllRows()) return recNo - 1;
  auto it = std::lower_bound(live_.begin(), live_.end(), recNo);
  if (it == live_.end() || *it != recNo) return -1;
  return it - live_.begin();
}

int64_t TLiveRows::Remove(int64_t recNo) {
  if (showDeleted_) return -1;
  const int64_t row = RowOf(recNo);
  if (row < 0) return row;
  live_.erase(live_.begin() + row);
  if (ordered_) {
    rowOf_[static_cast<size_t>(recNo)] = kRejected;
    for (size_t r = static_cast<size_t>(row); r < live_.size(); ++r)
      rowOf_[static_cast<size_t>(live_[r])] = static_cast<int32_t>(r);
  }
  return row;
}

}  // namespace norvale
