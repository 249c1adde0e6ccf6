#include "engine/record_view.h"

#include <cstring>

#include "engine/date_time.h"

namespace norvale {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The stored text without the blanks around it.
std::string_view Trimmed(std::string_view s) {
  size_t begin = 0, end = s.size();
  while (begin < end && s[begin] == ' ') ++begin;
  while (end > begin && s[end - 1] == ' ') --end;
  return s.substr(begin, end - begin);
}

}  // namespace

bool TRecordView::NullFlagged(const TDbfFieldDef& field) const {
  if (!codec_ || !codec_->nullFlagsField || field.NullPosition() < 0) return false;
  const TDbfFieldDef& flags = *codec_->nullFlagsField;
  if (static_cast<size_t>(flags.Offset()) + static_cast<size_t>(flags.Size()) > length_) return false;
  return codec_->IsNullFlagged(field, image_);
}

bool TRecordView::AppendCanonicalInteger(std::string_view stored, std::string& out) {
  const std::string_view t = Trimmed(stored);
  char text[16];
  const char* end = t.size() <= 10 ? PutCanonicalInteger(t, text) : nullptr;
  if (!end) return false;
  out.append(text, static_cast<size_t>(end - text));
  return true;
}

bool TRecordView::AppendCanonicalFixed(std::string_view stored, int decimals, std::string& out) {
  if (decimals <= 0) return false;
  const std::string_view t = Trimmed(stored);
  size_t i = !t.empty() && t[0] == '-' ? 1 : 0;
  const size_t digitsStart = i;
  while (i < t.size() && IsDigit(t[i])) ++i;
  const size_t intDigits = i - digitsStart;
  if (intDigits == 0 || intDigits > 15 || (intDigits > 1 && t[digitsStart] == '0') || i >= t.size() || t[i] != '.')
    return false;
  if (t.size() - i - 1 != static_cast<size_t>(decimals)) return false;
  bool allZero = true;
  for (size_t k = i + 1; k < t.size(); ++k) {
    if (!IsDigit(t[k])) return false;
    allZero = allZero && t[k] == '0';
  }
  // "-0.00" prints without its sign.
  if (digitsStart == 1 && allZero && intDigits == 1 && t[1] == '0') return false;
  out.append(t);
  return true;
}

bool TRecordView::AppendCanonicalDate(std::string_view stored, std::string& out) {
  char text[10];
  if (!PutCanonicalDate(stored, text)) return false;
  out.append(text, sizeof text);
  return true;
}

}  // namespace norvale
