#include "expr/text_rules.h"

#include <algorithm>

#include "platform/text_services.h"
#include "platform/ascii.h"

namespace norvale {
namespace {

bool IsPrintableAscii(std::string_view s) {
  for (char c : s) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b > 0x7E) return false;
  }
  return true;
}

// Digits, blanks, "-" and ".": the text of numbers and dates, which the root
// order sorts as their bytes.
bool IsNumericText(std::string_view s) {
  for (char c : s)
    if (!((c >= '0' && c <= '9') || c == ' ' || c == '-' || c == '.')) return false;
  return true;
}

bool IsAscii(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}


// Turkic languages pair "i" with a dotted capital, so ASCII case rules do
// not hold for them.
bool LocaleHasAsciiCaseRules(const std::string& locale) {
  for (const char* turkic : {"tr", "az"}) {
    if (locale.rfind(turkic, 0) == 0 && (locale.size() == 2 || locale[2] == '_' || locale[2] == '-' || locale[2] == '@'))
      return false;
  }
  return true;
}

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

void TTextRules::Setup(int codePage) {
  if (codePage != codePage_ || (!utf8_ && !decoder_)) {
    codePage_ = codePage;
    utf8_ = codePage == kUtf8CodePage;
    decoder_ = utf8_ ? nullptr : std::make_unique<TCodePageDecoder>(codePage);
  }
  rootOrder_[0] = CollationIsRootOrder(false);
  rootOrder_[1] = CollationIsRootOrder(true);
  asciiCaseSimple_ = LocaleHasAsciiCaseRules(UserLocaleName());
}

std::string_view TTextRules::AsUtf8(std::string_view text, std::string& scratch) {
  if (utf8_) return text;
  scratch.clear();
  decoder_->AppendUtf8(scratch, text.data(), text.size());
  return scratch;
}

int TTextRules::CompareUtf8(std::string_view a, std::string_view b, bool ignoreCase) const {
  if (rootOrder_[ignoreCase] && IsNumericText(a) && IsNumericText(b)) {
    const int r = a.compare(b);
    return r < 0 ? -1 : r > 0 ? 1 : 0;
  }
  return CompareLocale(a, b, ignoreCase);
}

bool TTextRules::EqualUtf8(std::string_view a, std::string_view b, bool ignoreCase) const {
  if (rootOrder_[ignoreCase] && IsPrintableAscii(a) && IsPrintableAscii(b)) {
    if (a.size() != b.size()) return false;
    if (!ignoreCase) return a == b;
    for (size_t i = 0; i < a.size(); ++i)
      if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
    return true;
  }
  return CompareLocale(a, b, ignoreCase) == 0;
}

int TTextRules::Compare(std::string_view a, std::string_view b, bool ignoreCase) {
  return CompareUtf8(AsUtf8(a, scratchA_), AsUtf8(b, scratchB_), ignoreCase);
}

bool TTextRules::Equal(std::string_view a, std::string_view b, bool ignoreCase) {
  return EqualUtf8(AsUtf8(a, scratchA_), AsUtf8(b, scratchB_), ignoreCase);
}

namespace {

size_t Utf8CharCount(std::string_view text) {
  size_t n = 0;
  for (char c : text) n += IsContinuationByte(c) ? 0 : 1;
  return n;
}

size_t Utf8CharOffset(std::string_view text, size_t index) {
  size_t at = 0;
  for (size_t chars = 0; at < text.size(); ++chars) {
    if (chars == index) return at;
    ++at;
    while (at < text.size() && IsContinuationByte(text[at])) ++at;
  }
  return text.size();
}

}  // namespace

size_t TTextRules::CharCount(std::string_view text) const {
  return utf8_ ? Utf8CharCount(text) : text.size();
}

size_t TTextRules::CharOffset(std::string_view text, size_t index) const {
  return utf8_ ? Utf8CharOffset(text, index) : std::min(index, text.size());
}

bool TTextRules::WildcardEqual(std::string_view value, std::string_view pattern, bool ignoreCase) {
  const size_t n = pattern.size();
  const bool leading = n > 0 && pattern.front() == '*';
  const bool trailing = n > 0 && pattern.back() == '*';
  if (!leading && !trailing) return Equal(value, pattern, ignoreCase);
  if (n == 1) return false;
  // Both sides are UTF-8 from here on, so characters are code points.
  const std::string_view v = AsUtf8(value, scratchA_);
  const std::string_view p = AsUtf8(pattern, scratchB_);
  const size_t begin = leading ? 1 : 0;
  const size_t end = p.size() - (trailing ? 1 : 0);
  const std::string_view needle = p.substr(begin, end - begin);
  const size_t m = Utf8CharCount(needle);
  if (!leading) {
    // A prefix: only its first m characters of the value matter, and
    // filters test prefixes on every record.
    const size_t cut = Utf8CharOffset(v, m);
    if (cut == v.size() && Utf8CharCount(v) < m) return false;
    return EqualUtf8(v.substr(0, cut), needle, ignoreCase);
  }
  const size_t length = Utf8CharCount(v);
  if (length < m) return false;
  if (leading && trailing) {
    size_t from = 0;
    for (size_t start = 0; start + m <= length; ++start) {
      const std::string_view rest = v.substr(from);
      if (EqualUtf8(rest.substr(0, Utf8CharOffset(rest, m)), needle, ignoreCase)) return true;
      from += Utf8CharOffset(rest, 1);
    }
    return false;
  }
  return EqualUtf8(v.substr(Utf8CharOffset(v, length - m)), needle, ignoreCase);
}

void TTextRules::MapCase(TArgBuffer& dest, int64_t from, bool upper) {
  char* text = dest.Start() + from;
  const auto length = static_cast<size_t>(dest.Used() - from);
  if (!utf8_) {
    if (upper)
      UpperInCodePage(codePage_, text, length);
    else
      LowerInCodePage(codePage_, text, length);
    return;
  }
  const std::string_view view(text, length);
  if (asciiCaseSimple_ && IsAscii(view)) {
    for (size_t i = 0; i < length; ++i) text[i] = upper ? AsciiUpper(text[i]) : AsciiLower(text[i]);
    return;
  }
  // Full Unicode mapping may change the length ("ß" becomes "SS"); the
  // source moves to a scratch buffer that keeps its size between records.
  caseScratch_.assign(view);
  dest.pos = text;
  for (int attempt = 0; attempt < 2; ++attempt) {
    const int64_t room = dest.capacity - dest.Used() - 1;
    const size_t needed = upper ? UpperUtf8Into(caseScratch_, dest.pos, static_cast<size_t>(room))
                                : LowerUtf8Into(caseScratch_, dest.pos, static_cast<size_t>(room));
    if (static_cast<int64_t>(needed) <= room) {
      dest.pos += needed;
      *dest.pos = 0;
      return;
    }
    dest.EnsureSpace(static_cast<int64_t>(needed) + 4);
  }
  dest.Append(caseScratch_.data(), static_cast<int64_t>(caseScratch_.size()));
}

}  // namespace norvale
