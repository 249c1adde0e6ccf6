// TRecordView: one record image of a table, its pointer and length together,
// and everything the layers above need to know of its bytes: the deletion
// flag, the null bits, each field's stored bytes and trimmed text, and the
// canonical text forms that let a reader print stored digits as they are
// instead of decoding and formatting them again.
//
// A field that does not lie inside the image reads as empty: a view never
// reads outside its bytes, whatever the field list says.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/dbf_format.h"
#include "engine/field_codec.h"
#include "engine/fields.h"

namespace norvale {

class TRecordView {
 public:
  TRecordView() = default;
  // `codec` (optional) supplies the null-flags field of the table.
  TRecordView(const uint8_t* image, size_t length, const TFieldCodec* codec = nullptr)
      : image_(image), length_(length), codec_(codec) {}

  const uint8_t* Data() const { return image_; }
  size_t Length() const { return length_; }
  bool Empty() const { return !image_ || length_ == 0; }

  bool Deleted() const { return !Empty() && image_[0] == fmt::kDeleted; }
  // The field's null bit in _NULLFLAGS (false without such a field).
  bool NullFlagged(const TDbfFieldDef& field) const;

  // The field's bytes as stored.
  std::string_view Bytes(const TDbfFieldDef& field) const;
  // The field's text as a character value reads: trailing blanks cut, then
  // up to the first NUL byte.
  std::string_view Text(const TDbfFieldDef& field) const;

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
  static char* PutCanonicalInteger(std::string_view stored, char* out);
  static char* PutCanonicalDate(std::string_view stored, char* out);

 private:
  const uint8_t* image_ = nullptr;
  size_t length_ = 0;
  const TFieldCodec* codec_ = nullptr;
};

// Marks `image` (a record image) deleted or live.
inline void SetRecordDeleted(uint8_t* image, bool deleted) { image[0] = deleted ? fmt::kDeleted : fmt::kLive; }

}  // namespace norvale
