#include "dataset/live_rows.h"

#include <algorithm>

#include "dataset/dbf_table.h"
#include "engine/record_view.h"
#include "engine/table_file.h"

namespace norvale {

namespace {
// One read: large enough that the flags of a million records cost a few
// hundred transfers, small enough that a block read from a cold disk fits
// in a step that leaves the window responsive.
constexpr int64_t kScanBytes = 256 << 10;

int64_t RecordsPerBlock(const TDbfFile& file) { return std::max<int64_t>(1, kScanBytes / std::max(1, file.RecordSize())); }
}  // namespace

void TLiveRows::Clear() {
  showDeleted_ = true;
  recordCount_ = 0;
  scanned_ = 0;
  live_.clear();
  live_.shrink_to_fit();
}

void TLiveRows::Reset(int64_t recordCount, bool showDeleted) {
  Clear();
  showDeleted_ = showDeleted;
  recordCount_ = std::max<int64_t>(recordCount, 0);
  scanned_ = showDeleted ? recordCount_ : 0;
}

void TLiveRows::Extend(int64_t newCount) {
  if (newCount <= recordCount_) return;
  recordCount_ = newCount;
  if (showDeleted_) scanned_ = recordCount_;
}

int64_t TLiveRows::Step(int64_t records) {
  const int64_t before = Count();
  Scan(std::min(recordCount_, scanned_ + std::max<int64_t>(records, 0)));
  return Count() - before;
}

int64_t TLiveRows::StepFor(std::chrono::microseconds budget) {
  const TDbfFile* file = table_->DbfFile();
  const int64_t perBlock = file ? RecordsPerBlock(*file) : recordCount_;
  const auto until = std::chrono::steady_clock::now() + budget;
  int64_t found = 0;
  do {
    found += Step(perBlock);
  } while (!Complete() && std::chrono::steady_clock::now() < until);
  return found;
}

void TLiveRows::ScanThrough(int64_t recNo) { Scan(std::min(recNo, recordCount_)); }

void TLiveRows::Scan(int64_t last) {
  if (last <= scanned_) return;
  TDbfFile* file = table_->DbfFile();
  if (!file) {
    // The table was closed under the map; what is left is no row until the
    // owner starts over.
    scanned_ = last;
    return;
  }
  const int64_t size = std::max(1, file->RecordSize());
  const int64_t perBlock = RecordsPerBlock(*file);
  block_.resize(static_cast<size_t>(perBlock * size));
  live_.reserve(static_cast<size_t>(recordCount_));
  while (scanned_ < last) {
    const int64_t at = scanned_ + 1;
    const int64_t want = std::min(perBlock, last - scanned_);
    const int64_t got = file->ReadRecords(at, want, block_.data());
    if (got <= 0) {
      // A record cut short by the end of the file still is a row, as the
      // table shows it (blank beyond the end); so is one that reads nothing.
      const bool read = file->ReadRecord(at, block_.data());
      if (!read || !TRecordView(block_.data(), static_cast<size_t>(size)).Deleted()) live_.push_back(static_cast<int32_t>(at));
      scanned_ = at;
      continue;
    }
    for (int64_t i = 0; i < got; ++i)
      if (!TRecordView(block_.data() + i * size, static_cast<size_t>(size)).Deleted())
        live_.push_back(static_cast<int32_t>(at + i));
    scanned_ += got;
  }
  if (Complete()) {
    block_.clear();
    block_.shrink_to_fit();
  }
}

int64_t TLiveRows::RecNoAt(int64_t row) const {
  if (row < 0 || row >= Count()) return 0;
  return showDeleted_ ? row + 1 : live_[static_cast<size_t>(row)];
}

int64_t TLiveRows::RowOf(int64_t recNo) const {
  if (recNo <= 0 || recNo > scanned_) return -1;
  if (showDeleted_) return recNo - 1;
  auto it = std::lower_bound(live_.begin(), live_.end(), recNo);
  if (it == live_.end() || *it != recNo) return -1;
  return it - live_.begin();
}

int64_t TLiveRows::Remove(int64_t recNo) {
  if (showDeleted_) return -1;
  const int64_t row = RowOf(recNo);
  if (row >= 0) live_.erase(live_.begin() + row);
  return row;
}

}  // namespace norvale
