// How the expression language treats text: the code page texts are in,
// comparison by the user's locale (with and without case), "*" wildcards,
// and case mapping. Comparing and case mapping work on UTF-8; texts in
// another code page are converted into scratch buffers that keep their size,
// so steady evaluation does not allocate.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "expr/expr_node.h"
#include "platform/text_codec.h"

namespace norvale {

inline constexpr int kUtf8CodePage = 65001;

struct TTextRules {
  // Texts are in `codePage` (65001: UTF-8, the text of filters typed by
  // users; an index key's raw field bytes are in the table's code page).
  // Also takes a fresh look at the user's locale.
  void Setup(int codePage);
  int CodePage() const { return codePage_; }
  bool IsUtf8() const { return utf8_; }

  // Three-way comparison by the user's locale.
  int Compare(std::string_view a, std::string_view b, bool ignoreCase);
  bool Equal(std::string_view a, std::string_view b, bool ignoreCase);
  // `pattern` with a leading and/or trailing "*": contains, ends with,
  // starts with; a lone "*" matches nothing; no star: Equal.
  bool WildcardEqual(std::string_view value, std::string_view pattern, bool ignoreCase);
  // Maps the case of what `dest` holds from byte `from` on.
  void MapCase(TArgBuffer& dest, int64_t from, bool upper);

  // Characters are code points in UTF-8 and bytes in other code pages.
  size_t CharCount(std::string_view text) const;
  // Byte offset of character `index` (clamped to the end).
  size_t CharOffset(std::string_view text, size_t index) const;

 private:
  std::string_view AsUtf8(std::string_view text, std::string& scratch);
  int CompareUtf8(std::string_view a, std::string_view b, bool ignoreCase) const;
  bool EqualUtf8(std::string_view a, std::string_view b, bool ignoreCase) const;

  int codePage_ = kUtf8CodePage;
  bool utf8_ = true;
  bool rootOrder_[2] = {false, false};
  bool asciiCaseSimple_ = true;
  std::unique_ptr<TCodePageDecoder> decoder_;
  std::string scratchA_;
  std::string scratchB_;
  std::string caseScratch_;
};

}  // namespace norvale
