#include "index/index_tag.h"

#include <cstring>

#include "engine/byte_order.h"
#include "engine/dbf_format.h"

namespace norvale {

namespace ix = fmt::idx;

uint32_t TIndexTag::HeaderPage() const { return GetLE32(entry_ + ix::kTagHeaderPage); }

std::string TIndexTag::Name() const {
  const char* p = reinterpret_cast<const char*>(entry_ + ix::kTagName);
  std::string name(p, strnlen(p, static_cast<size_t>(NameSize())));
  while (!name.empty() && name.back() == ' ') name.pop_back();
  return name;
}

void TIndexTag::SetHeaderPage(uint32_t block) { PutLE32(entry_ + ix::kTagHeaderPage, block); }

void TIndexTag::SetName(const std::string& name) {
  const size_t room = static_cast<size_t>(NameSize() - 1);
  std::memset(entry_ + ix::kTagName, 0, static_cast<size_t>(NameSize()));
  for (size_t i = 0; i < name.size() && i < room; ++i) {
    char c = name[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    entry_[ix::kTagName + i] = static_cast<uint8_t>(c);
  }
}

int TMdx4Tag::NameSize() const { return ix::kTagNameSize4; }
int TMdx4Tag::FormatOffset() const { return ix::kTagKeyFormat4; }
int TMdx7Tag::NameSize() const { return ix::kTagNameSize7; }
int TMdx7Tag::FormatOffset() const { return ix::kTagKeyFormat7; }

std::unique_ptr<TIndexTag> MakeIndexTag(int level, uint8_t* entry) {
  if (level == 7) return std::make_unique<TMdx7Tag>(entry);
  return std::make_unique<TMdx4Tag>(entry);
}

}  // namespace norvale
