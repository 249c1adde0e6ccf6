#include "index/index_page.h"

#include <algorithm>
#include <cstring>

#include "engine/byte_order.h"
#include "engine/dbf_format.h"

namespace norvale {

namespace ix = fmt::idx;

TIndexPage::TIndexPage(const TIndexGeometry& geometry, int64_t pageNo)
    : geometry_(geometry), pageNo_(pageNo), buffer_(static_cast<size_t>(geometry.pageSize), 0) {}

void TIndexPage::ClearSlotAfter(int count) {
  if (count < 0) return;
  // A full page has no slot behind its last entry; writing one would run
  // into the next page.
  const int at = geometry_.pageHeader + count * geometry_.entrySize;
  if (at + geometry_.entryHeader <= geometry_.pageSize) std::memset(buffer_.data() + at, 0, geometry_.entryHeader);
}

void TIndexPage::ShiftEntries(int from, int count, int delta) {
  if (count <= from) return;
  uint8_t* src = EntryAddress(from);
  const size_t bytes = static_cast<size_t>(count - from) * static_cast<size_t>(geometry_.entrySize);
  std::memmove(src + delta * geometry_.entrySize, src, bytes);
}

void TIndexPage::Clear() { std::fill(buffer_.begin(), buffer_.end(), 0); }

int TNdxPage::EntryCount() const { return static_cast<int>(std::min<uint32_t>(GetLE32(buffer_.data()), 0x7FFFFFFF)); }
void TNdxPage::StoreCount(int count) { PutLE32(buffer_.data() + ix::kPageEntryCount, static_cast<uint32_t>(count)); }
uint32_t TNdxPage::ChildPage(int n) const { return GetLE32(EntryAddress(n) + ix::kNdxEntryChild); }
uint32_t TNdxPage::EntryRecord(int n) const { return GetLE32(EntryAddress(n) + ix::kNdxEntryRecord); }
bool TNdxPage::IsInner() const { return ChildPage(0) != 0; }
void TNdxPage::StoreLinksAt(int n, uint32_t record, uint32_t child, bool inner) {
  PutLE32(EntryAddress(n) + ix::kNdxEntryChild, inner ? child : 0);
  PutLE32(EntryAddress(n) + ix::kNdxEntryRecord, inner ? 0 : record);
}

int TMdxPage::EntryCount() const { return GetLE16(buffer_.data() + ix::kPageEntryCount); }
void TMdxPage::StoreCount(int count) { PutLE32(buffer_.data() + ix::kPageEntryCount, static_cast<uint32_t>(count)); }
uint32_t TMdxPage::ChildPage(int n) const { return GetLE32(EntryAddress(n) + ix::kMdxEntryLink); }
uint32_t TMdxPage::EntryRecord(int n) const { return GetLE32(EntryAddress(n) + ix::kMdxEntryLink); }
bool TMdxPage::IsInner() const {
  const int count = EntryCount();
  return count < geometry_.maxEntries && EntryFits(count) && ChildPage(count) != 0;
}
void TMdxPage::StoreLinksAt(int n, uint32_t record, uint32_t child, bool inner) {
  PutLE32(EntryAddress(n) + ix::kMdxEntryLink, inner ? child : record);
}

std::unique_ptr<TIndexPage> MakeIndexPage(bool multiple, const TIndexGeometry& geometry, int64_t pageNo) {
  if (multiple) return std::make_unique<TMdxPage>(geometry, pageNo);
  return std::make_unique<TNdxPage>(geometry, pageNo);
}

}  // namespace norvale
