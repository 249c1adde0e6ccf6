#include "dataset/blob_stream.h"

#include <algorithm>
#include <cstring>

namespace norvale {

void TDbfBlobStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return;
  const size_t end = static_cast<size_t>(position_ + count);
  if (end > data_.size()) data_.resize(end);
  std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
  position_ += count;
}

void TDbfBlobStream::Truncate() {
  if (static_cast<size_t>(position_) < data_.size()) data_.resize(static_cast<size_t>(position_));
}

}  // namespace norvale
