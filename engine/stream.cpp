#include "engine/stream.h"

#include <cstring>

#include "engine/exceptions.h"
#include "engine/messages.h"

namespace norvale {

TFileStream::TFileStream(const std::string& path, bool writable, TShareMode share, bool truncate) {
  if (!file_.Open(path, writable, share, truncate))
    throw Exception(FormatMessage(msg::kCannotOpenFile, path.c_str(), file_.LastError().c_str()));
}

int64_t TMemoryStream::ReadAt(uint64_t offset, void* buffer, size_t count) {
  if (offset >= data_.size()) return 0;
  size_t n = std::min<uint64_t>(count, data_.size() - offset);
  std::memcpy(buffer, data_.data() + offset, n);
  return static_cast<int64_t>(n);
}

int64_t TMemoryStream::WriteAt(uint64_t offset, const void* buffer, size_t count) {
  // Memory tables live in this process only; refuse sizes no table reaches
  // rather than let a damaged offset exhaust memory.
  constexpr uint64_t kLimit = uint64_t(1) << 36;
  if (offset > kLimit || count > kLimit - offset) return -1;
  if (offset + count > data_.size()) data_.resize(offset + count);
  if (count) std::memcpy(data_.data() + offset, buffer, count);
  return static_cast<int64_t>(count);
}

bool TMemoryStream::Resize(uint64_t size) {
  if (size > (uint64_t(1) << 36)) return false;
  data_.resize(size);
  return true;
}

}  // namespace norvale
