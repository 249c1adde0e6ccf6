#include "engine/record_view.h"

#include <cstring>

#include "engine/date_time.h"

namespace norvale {

namespace {

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
  const size_t at = out.size();
  out.resize(at + stored.size());
  const char* end = PutCanonicalFixed(stored, decimals, out.data() + at);
  out.resize(end ? static_cast<size_t>(end - out.data()) : at);
  return end != nullptr;
}

bool TRecordView::AppendCanonicalDate(std::string_view stored, std::string& out) {
  char text[10];
  if (!PutCanonicalDate(stored, text)) return false;
  out.append(text, sizeof text);
  return true;
}

}  // namespace norvale
