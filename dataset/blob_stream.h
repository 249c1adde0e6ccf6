// TDbfBlobStream: the in-memory text of one memo field of an open table.
//
// A stream is filled from the memo file when opened for reading and written
// back at Post when it was opened for writing. Memo text (M fields) is held
// as UTF-8; binary values (B, G, P fields) as the bytes stored.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace norvale {

class TField;
class TDbfTable;

enum TBlobStreamMode { bmRead, bmWrite, bmReadWrite };

class TDbfBlobStream {
 public:
  explicit TDbfBlobStream(TField* field) : field_(field) {}
  TDbfBlobStream(const TDbfBlobStream&) = delete;
  TDbfBlobStream& operator=(const TDbfBlobStream&) = delete;

  TField* Field() const { return field_; }
  const std::string& Data() const { return data_; }
  int64_t Size() const { return static_cast<int64_t>(data_.size()); }
  // Writes at the position, growing the stream as needed.
  void Write(const void* buffer, int64_t count);
  void Write(std::string_view text) { Write(text.data(), static_cast<int64_t>(text.size())); }
  // Cuts the stream at the position.
  void Truncate();

 private:
  friend class TDbfTable;
  TField* field_;
  bool dirty_ = false;
  // Block number of the value held: 0 none, -1 unknown (reload on next open).
  int64_t blockNo_ = -1;
  // Size of the value as it was read from the memo file.
  int64_t memoSize_ = 0;
  int refCount_ = 1;
  // The line break of the value as read: 0 unknown (not read, or none in
  // it), '\n' for LF alone, '\r' for CR LF.
  char lineBreak_ = 0;
  std::string data_;
  int64_t position_ = 0;
};

}  // namespace norvale
