#include "app/row_map.h"

#include <algorithm>

#include "engine/table_file.h"

namespace norvale {

namespace {
constexpr int64_t kScanBytes = 1 << 20;
}

void TRowMap::Clear() {
  showDeleted_ = true;
  recordCount_ = 0;
  live_.clear();
  live_.shrink_to_fit();
}

void TRowMap::Build(TDbfFile* file, int64_t recordCount, bool showDeleted) {
  Clear();
  showDeleted_ = showDeleted;
  recordCount_ = 0;
  if (!file) return;
  if (showDeleted) {
    recordCount_ = recordCount;
    return;
  }
  live_.reserve(static_cast<size_t>(recordCount));
  Scan(file, 1, recordCount);
  recordCount_ = recordCount;
}

void TRowMap::Extend(TDbfFile* file, int64_t newCount) {
  if (newCount <= recordCount_) return;
  if (!showDeleted_ && file) Scan(file, recordCount_ + 1, newCount);
  recordCount_ = newCount;
}

void TRowMap::Scan(TDbfFile* file, int64_t first, int64_t last) {
  const int64_t size = std::max(1, file->RecordSize());
  const int64_t perBlock = std::max<int64_t>(1, kScanBytes / size);
  std::vector<uint8_t> block(static_cast<size_t>(perBlock * size));
  for (int64_t at = first; at <= last;) {
    const int64_t want = std::min(perBlock, last - at + 1);
    int64_t got = file->ReadPages(at, want, block.data());
    if (got <= 0) {
      // A record cut short by the end of the file still counts as a row, as
      // the table shows it (blank beyond the end).
      uint8_t flag = ' ';
      std::vector<uint8_t> one(static_cast<size_t>(size), ' ');
      if (file->ReadPage(at, one.data()) > 0) flag = one[0];
      if (flag != '*') live_.push_back(static_cast<int32_t>(at));
      ++at;
      continue;
    }
    for (int64_t i = 0; i < got; ++i)
      if (block[static_cast<size_t>(i * size)] != '*') live_.push_back(static_cast<int32_t>(at + i));
    at += got;
  }
}

int64_t TRowMap::RecNoAt(int64_t row) const {
  if (row < 0 || row >= Count()) return 0;
  return showDeleted_ ? row + 1 : live_[static_cast<size_t>(row)];
}

int64_t TRowMap::RowOf(int64_t recNo) const {
  if (recNo <= 0 || recNo > recordCount_) return -1;
  if (showDeleted_) return recNo - 1;
  auto it = std::lower_bound(live_.begin(), live_.end(), recNo);
  if (it == live_.end() || *it != recNo) return -1;
  return it - live_.begin();
}

int64_t TRowMap::Remove(int64_t recNo) {
  if (showDeleted_) return -1;
  const int64_t row = RowOf(recNo);
  if (row >= 0) live_.erase(live_.begin() + row);
  return row;
}

}  // namespace norvale
