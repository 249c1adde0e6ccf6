// A read-only view of a whole file in memory, for reading a table's records
// in an order of their own without a system call per record.
//
// Another program may shorten the file while the view exists; touching the
// lost part would end the process with a bus error. Copy guards against
// that: it reports the fault instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace norvale {

class TFileMapping {
 public:
  enum TCopy { kCopied, kOutside, kFault };

  TFileMapping() = default;
  ~TFileMapping();
  TFileMapping(const TFileMapping&) = delete;
  TFileMapping& operator=(const TFileMapping&) = delete;

  // Maps the file as it is now; false (and nothing mapped) when it is empty
  // or cannot be mapped.
  bool Map(const std::string& path);
  size_t Size() const { return size_; }
  // The address of a byte, for prefetching only (never read it directly).
  const uint8_t* At(uint64_t offset) const { return data_ + offset; }
  // Copies [offset, offset + count): kOutside when that is not all inside
  // the view, kFault when the file no longer holds it.
  TCopy Copy(uint64_t offset, void* out, size_t count) const;

 private:
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace norvale
