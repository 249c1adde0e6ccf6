// TRecordView: one record image of a table, its pointer and length together,
// and everything the layers above need to know of its bytes: the deletion
// flag, the null bits, each field's stored bytes and trimmed text, and the
// canonical text forms that let a reader print stored digits as they are
// instead of decoding and formatting them again.
//
// A field that does not lie inside the image reads as empty: a view never
// reads outside its bytes, whatever the field list says.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "engine/date_time.h"
#include "engine/dbf_format.h"
#include "engine/field_codec.h"
#include "engine/fields.h"

namespace norvale {

class TRecordView {
 public:
  TRecordView() = default;
  // `codec` (optional) supplies the null-flags field of the table.
  TRecordView(const uint8_t* image, size_t length, const TFieldCodec* codec = nullptr)
      : image_(image), length_(image ? length : 0), codec_(codec) {}

  const uint8_t* Data() const { return image_; }
  size_t Length() const { return length_; }
  bool Empty() const { return length_ == 0; }

  bool Deleted() const { return !Empty() && image_[0] == fmt::kDeleted; }
  // The field's null bit in _NULLFLAGS (false without such a field).
  bool NullFlagged(const TDbfFieldDef& field) const;

  // The field's bytes as stored.
  std::string_view Bytes(const TDbfFieldDef& field) const { return Bytes(field.Offset(), field.Size()); }
  // The same for a field whose place a caller keeps (offset and size as the
  // field definition gives them).
  std::string_view Bytes(int offset, int size) const {
    // One comparison: taken as 32-bit unsigned numbers a negative offset or
    // size is beyond any record, and their sum cannot wrap in 64 bits; a view
    // without an image has no length.
    const uint64_t at = static_cast<uint32_t>(offset), n = static_cast<uint32_t>(size);
    if (at + n > length_) return {};
    return std::string_view(reinterpret_cast<const char*>(image_) + at, static_cast<size_t>(n));
  }
  // The field's text as a character value reads: trailing blanks cut, then
  // up to the first NUL byte.
  inline std::string_view Text(const TDbfFieldDef& field) const;

  // Canonical text forms of stored text. Each appends to `out` the text the
  // value's own formatting would give and returns true when the stored
  // bytes already are that text; false (nothing appended) for every other
  // shape, which the caller decodes the long way.
  // [-]digits, no superfluous zero or sign, at most nine digits.
  static bool AppendCanonicalInteger(std::string_view stored, std::string& out);
  // [-]digits.decimals with exactly `decimals` decimals (at least one), no
  // superfluous zero, at most 15 integer digits, not a negative zero.
  static bool AppendCanonicalFixed(std::string_view stored, int decimals, std::string& out);
  // Eight digits of a real date, as YYYY-MM-DD.
  static bool AppendCanonicalDate(std::string_view stored, std::string& out);
  // The same forms written at `out` (room for the stored size + 2); the end
  // of what was written, or null for another shape.
  static inline char* PutCanonicalInteger(std::string_view stored, char* out);
  static inline char* PutCanonicalDate(std::string_view stored, char* out);
  static inline char* PutCanonicalFixed(std::string_view stored, int decimals, char* out);

 private:
  const uint8_t* image_ = nullptr;
  size_t length_ = 0;
  const TFieldCodec* codec_ = nullptr;
};

// Filters and dumps call these for every field of every record, so they
// live here, inline.
inline std::string_view TRecordView::Text(const TDbfFieldDef& field) const {
  const std::string_view bytes = Bytes(field);
  size_t end = bytes.size();
  // Character fields are mostly padding: the blanks go eight at a time.
  constexpr uint64_t kBlanks = 0x2020202020202020ull;
  while (end >= 8) {
    uint64_t word;
    std::memcpy(&word, bytes.data() + end - 8, sizeof word);
    if (word != kBlanks) break;
    end -= 8;
  }
  while (end > 0 && bytes[end - 1] == ' ') --end;
  const void* zero = end ? std::memchr(bytes.data(), 0, end) : nullptr;
  return bytes.substr(0, zero ? static_cast<size_t>(static_cast<const char*>(zero) - bytes.data()) : end);
}

inline char* TRecordView::PutCanonicalInteger(std::string_view stored, char* out) {
  size_t begin = 0, end = stored.size();
  while (end > 0 && stored[end - 1] == ' ') --end;
  while (begin < end && stored[begin] == ' ') ++begin;
  const size_t first = begin + (begin < end && stored[begin] == '-' ? 1 : 0);
  const size_t digits = end - first;
  // 007 and -0 are not how the number prints.
  if (digits < 1 || digits > 9 || (stored[first] == '0' && (digits > 1 || first > begin))) return nullptr;
  for (size_t i = first; i < end; ++i)
    if (stored[i] < '0' || stored[i] > '9') return nullptr;
  std::memcpy(out, stored.data() + begin, end - begin);
  return out + (end - begin);
}


inline char* TRecordView::PutCanonicalDate(std::string_view stored, char* out) {
  if (stored.size() < 8) return nullptr;
  uint64_t word;
  std::memcpy(&word, stored.data(), sizeof word);
  // All eight bytes digits: a byte below '0' borrows into its high bit, one
  // above '9' carries into it.
  constexpr uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
  if ((((word + kOnes * 0x46) | (word - kOnes * 0x30)) & kHigh) != 0) return nullptr;
  const char* p = stored.data();
  const int y = (p[0] - '0') * 1000 + (p[1] - '0') * 100 + (p[2] - '0') * 10 + (p[3] - '0');
  const int m = (p[4] - '0') * 10 + (p[5] - '0'), d = (p[6] - '0') * 10 + (p[7] - '0');
  // Days up to the 28th exist in every month of every year.
  if (!(y >= 1 && m >= 1 && m <= 12 && d >= 1 && d <= 28) && !IsValidDate(y, m, d)) return nullptr;
  // YYYY-MM- in one word, DD in another (the bytes of a little-endian word).
  static_assert(std::endian::native == std::endian::little);
  const uint64_t head = (word & 0xFFFFFFFFull) | (uint64_t{'-'} << 32) | ((word & 0xFFFF00000000ull) << 8) |
                        (uint64_t{'-'} << 56);
  const uint16_t day = static_cast<uint16_t>(word >> 48);
  std::memcpy(out, &head, sizeof head);
  std::memcpy(out + 8, &day, sizeof day);
  return out + 10;
}

inline char* TRecordView::PutCanonicalFixed(std::string_view stored, int decimals, char* out) {
  if (decimals <= 0) return nullptr;
  size_t begin = 0, end = stored.size();
  while (end > 0 && stored[end - 1] == ' ') --end;
  while (begin < end && stored[begin] == ' ') ++begin;
  const size_t first = begin + (begin < end && stored[begin] == '-' ? 1 : 0);
  size_t i = first;
  while (i < end && stored[i] >= '0' && stored[i] <= '9') ++i;
  const size_t whole = i - first;
  if (whole == 0 || whole > 15 || (whole > 1 && stored[first] == '0') || i >= end || stored[i] != '.' ||
      end - i - 1 != static_cast<size_t>(decimals))
    return nullptr;
  bool allZero = true;
  for (size_t k = i + 1; k < end; ++k) {
    if (stored[k] < '0' || stored[k] > '9') return nullptr;
    allZero = allZero && stored[k] == '0';
  }
  // "-0.00" prints without its sign.
  if (first > begin && allZero && whole == 1 && stored[first] == '0') return nullptr;
  std::memcpy(out, stored.data() + begin, end - begin);
  return out + (end - begin);
}

// Marks `image` (a record image) deleted or live.
inline void SetRecordDeleted(uint8_t* image, bool deleted) { image[0] = deleted ? fmt::kDeleted : fmt::kLive; }

}  // namespace norvale
