// TIndexPage: one tree page held in memory, with the single-index (TNdxPage)
// and multiple-index (TMdxPage) layouts. A page knows its bytes and nothing
// of the tree it belongs to; the index file walks and changes the tree.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace norvale {

struct TIndexGeometry {
  int pageSize = 0;
  int pageHeader = 0;
  int entryHeader = 0;
  int entrySize = 0;
  int keyLength = 0;
  int maxEntries = 0;
};

class TIndexPage {
 public:
  TIndexPage(const TIndexGeometry& geometry, int64_t pageNo);
  virtual ~TIndexPage() = default;

  int64_t PageNo() const { return pageNo_; }
  uint8_t* Buffer() { return buffer_.data(); }
  const uint8_t* Buffer() const { return buffer_.data(); }
  bool Modified() const { return modified_; }
  void SetModified(bool value) { modified_ = value; }

  uint8_t* EntryAddress(int n) { return buffer_.data() + geometry_.pageHeader + n * geometry_.entrySize; }
  const uint8_t* EntryAddress(int n) const {
    return buffer_.data() + geometry_.pageHeader + n * geometry_.entrySize;
  }
  // Whether entry n lies wholly inside the page.
  bool EntryFits(int n) const { return geometry_.pageHeader + (n + 1) * geometry_.entrySize <= geometry_.pageSize; }
  const uint8_t* KeyOfEntry(int n) const { return EntryAddress(n) + geometry_.entryHeader; }
  uint8_t* KeyOfEntry(int n) { return EntryAddress(n) + geometry_.entryHeader; }

  virtual int EntryCount() const = 0;
  virtual void StoreCount(int count) = 0;
  virtual uint32_t ChildPage(int n) const = 0;
  virtual uint32_t EntryRecord(int n) const = 0;
  virtual bool IsInner() const = 0;
  // Stores record and child of entry n; a multiple-index entry has one field
  // for both, which holds the child in an inner page and the record in a leaf.
  virtual void StoreLinksAt(int n, uint32_t record, uint32_t child, bool inner) = 0;

  void IncrementCount(int delta) { StoreCount(EntryCount() + delta); }
  // Zeroes the entry header just past the last entry, when that slot fits.
  void ClearSlotAfter(int count);
  // Moves entries [from, count) one slot on (delta 1) or back (delta -1).
  void ShiftEntries(int from, int count, int delta);
  void Clear();

 protected:
  TIndexGeometry geometry_;
  int64_t pageNo_;
  std::vector<uint8_t> buffer_;
  bool modified_ = false;
};

class TNdxPage : public TIndexPage {
 public:
  using TIndexPage::TIndexPage;
  int EntryCount() const override;
  void StoreCount(int count) override;
  uint32_t ChildPage(int n) const override;
  uint32_t EntryRecord(int n) const override;
  bool IsInner() const override;
  void StoreLinksAt(int n, uint32_t record, uint32_t child, bool inner) override;
};

class TMdxPage : public TIndexPage {
 public:
  using TIndexPage::TIndexPage;
  int EntryCount() const override;
  void StoreCount(int count) override;
  uint32_t ChildPage(int n) const override;
  uint32_t EntryRecord(int n) const override;
  bool IsInner() const override;
  void StoreLinksAt(int n, uint32_t record, uint32_t child, bool inner) override;
};

std::unique_ptr<TIndexPage> MakeIndexPage(bool multiple, const TIndexGeometry& geometry, int64_t pageNo);

}  // namespace norvale
