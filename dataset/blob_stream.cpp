#include "dataset/blob_stream.h"

#include <algorithm>
#include <cstring>

namespace norvale {

void TDbfBlobStream::Seek(int64_t position) { position_ = std::max<int64_t>(position, 0); }

int64_t TDbfBlobStream::Read(void* buffer, int64_t count) {
  const int64_t n = std::clamp<int64_t>(Size() - position_, 0, std::max<int64_t>(count, 0));
  if (n > 0) std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

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
