#include "index/index_defs.h"

#include <algorithm>

namespace norvale {

namespace {

std::string TrimUpper(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return out;
}

bool HasExtension(const std::string& name) {
  const size_t slash = name.find_last_of('/');
  const size_t dot = name.find_last_of('.');
  return dot != std::string::npos && (slash == std::string::npos || dot > slash);
}

}  // namespace

TDbfIndexDef& TDbfIndexDefs::Add(const std::string& indexFile, const std::string& sortField, TIndexOptions options) {
  items_.push_back(TDbfIndexDef{indexFile, sortField, options, false});
  return items_.back();
}

void TDbfIndexDefs::Delete(int index) { items_.erase(items_.begin() + index); }

TDbfIndexDef* TDbfIndexDefs::GetIndexByName(std::string_view name) {
  for (TDbfIndexDef& d : items_)
    if (d.indexFile == name) return &d;
  return nullptr;
}

TDbfIndexDef* TDbfIndexDefs::GetIndexByField(std::string_view expression) {
  const std::string wanted = TrimUpper(expression);
  if (wanted.empty()) return nullptr;
  for (TDbfIndexDef& d : items_)
    if (TrimUpper(d.sortField) == wanted) return &d;
  return nullptr;
}

void TDbfIndexDefs::RemoveTemporaryTags() {
  items_.erase(std::remove_if(items_.begin(), items_.end(),
                              [](const TDbfIndexDef& d) { return d.temporary && !HasExtension(d.indexFile); }),
               items_.end());
}

}  // namespace norvale
