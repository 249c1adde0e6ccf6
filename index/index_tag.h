// TIndexTag: a view on one tag entry of a multiple-index file header, with
// the level-4 (TMdx4Tag) and level-7 (TMdx7Tag) layouts. Only the header
// page and the name are read back; the other fields are written for the
// programs that read them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace norvale {

class TIndexTag {
 public:
  explicit TIndexTag(uint8_t* entry) : entry_(entry) {}
  virtual ~TIndexTag() = default;

  uint32_t HeaderPage() const;
  std::string Name() const;
  uint8_t KeyFormat() const { return entry_[FormatOffset()]; }
  uint8_t ForwardTag1() const { return entry_[FormatOffset() + 1]; }
  uint8_t ForwardTag2() const { return entry_[FormatOffset() + 2]; }
  uint8_t BackwardTag() const { return entry_[FormatOffset() + 3]; }
  uint8_t Reserved() const { return entry_[FormatOffset() + 4]; }
  char KeyType() const { return static_cast<char>(entry_[FormatOffset() + 5]); }

  void SetHeaderPage(uint32_t block);
  // Upper-cases and cuts the name to the level's length, NUL-terminated.
  void SetName(const std::string& name);
  void SetKeyFormat(uint8_t v) { entry_[FormatOffset()] = v; }
  void SetForwardTag1(uint8_t v) { entry_[FormatOffset() + 1] = v; }
  void SetForwardTag2(uint8_t v) { entry_[FormatOffset() + 2] = v; }
  void SetBackwardTag(uint8_t v) { entry_[FormatOffset() + 3] = v; }
  void SetReserved(uint8_t v) { entry_[FormatOffset() + 4] = v; }
  void SetKeyType(char v) { entry_[FormatOffset() + 5] = static_cast<uint8_t>(v); }

 protected:
  virtual int NameSize() const = 0;
  virtual int FormatOffset() const = 0;
  uint8_t* entry_;
};

class TMdx4Tag : public TIndexTag {
 public:
  using TIndexTag::TIndexTag;

 protected:
  int NameSize() const override;
  int FormatOffset() const override;
};

class TMdx7Tag : public TIndexTag {
 public:
  using TIndexTag::TIndexTag;

 protected:
  int NameSize() const override;
  int FormatOffset() const override;
};

std::unique_ptr<TIndexTag> MakeIndexTag(int level, uint8_t* entry);

}  // namespace norvale
