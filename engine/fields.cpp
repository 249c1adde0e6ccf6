#include "engine/fields.h"

#include <algorithm>
#include <cstring>

#include "engine/exceptions.h"
#include "engine/messages.h"
#include "platform/ascii.h"

namespace norvale {

const char* FieldTypeName(TFieldType type) {
  static constexpr const char* kNames[] = {
      "ftUnknown",  "ftString",    "ftSmallint", "ftInteger",  "ftWord",       "ftBoolean", "ftFloat",
      "ftCurrency", "ftBCD",       "ftDate",     "ftTime",     "ftDateTime",   "ftBytes",   "ftVarBytes",
      "ftAutoInc",  "ftBlob",      "ftMemo",     "ftGraphic",  "ftFmtMemo",    "ftParadoxOle",
      "ftDBaseOle", "ftTypedBinary", "ftCursor", "ftFixedChar", "ftWideString", "ftLargeint"};
  int i = static_cast<int>(type);
  return (i >= 0 && i <= ftLargeint) ? kNames[i] : "ftUnknown";
}

int TableLevelOf(TXBaseVersion version) {
  switch (version) {
    case xBaseIII: return 3;
    case xBaseVII: return 7;
    case xFoxPro: return 25;
    default: return 4;
  }
}

TXBaseVersion VersionOfTableLevel(int level) {
  switch (level) {
    case 3: return xBaseIII;
    case 7: return xBaseVII;
    case 25: return xFoxPro;
    default: return xBaseIV;
  }
}

const char* VersionName(TXBaseVersion version) {
  switch (version) {
    case xBaseIII: return "xBaseIII";
    case xBaseIV: return "xBaseIV";
    case xFoxPro: return "xFoxPro";
    case xBaseVII: return "xBaseVII";
    default: return "xUnknown";
  }
}

TDbfFieldDef::TDbfFieldDef(TDbfFieldDefs* owner) : owner_(owner) {}

TXBaseVersion TDbfFieldDef::Version() const { return owner_ ? owner_->Version() : xBaseIV; }

int TDbfFieldDef::Index() const { return owner_ ? owner_->IndexOf(this) : -1; }

void TDbfFieldDef::SetFieldType(TFieldType type) {
  fieldType_ = type;
  DeriveNativeType();
  ApplyDefaultSize();
  Normalize();
}

void TDbfFieldDef::SetNativeFieldType(char letter) {
  nativeFieldType_ = AsciiUpper(letter);
  DeriveLogicalType();
  Normalize();
}

void TDbfFieldDef::SetSize(int size) {
  size_ = size;
  Normalize();
}

void TDbfFieldDef::SetPrecision(int precision) {
  precision_ = precision;
  Normalize();
}

void TDbfFieldDef::DeriveLogicalType() {
  const TXBaseVersion version = Version();
  switch (static_cast<unsigned char>(nativeFieldType_)) {
    case 'C':
    case 0x91:
      fieldType_ = ftString;
      break;
    case 'N':
    case 'F':
      if (precision_ > 0)
        fieldType_ = ftFloat;
      else if (size_ <= 4)
        fieldType_ = ftSmallint;
      else if (size_ <= 9)
        fieldType_ = ftInteger;
      else
        fieldType_ = ftLargeint;
      break;
    case 'I':
      fieldType_ = ftInteger;
      break;
    case '+':
      // FoxPro tables this engine creates carry "+" fields too; they must reopen.
      if (version == xBaseVII || version == xFoxPro) fieldType_ = ftAutoInc;
      break;
    case 'L':
      fieldType_ = ftBoolean;
      break;
    case 'D':
      fieldType_ = ftDate;
      break;
    case '@':
    case 'T':
      fieldType_ = ftDateTime;
      break;
    case 'O':
      fieldType_ = ftFloat;
      break;
    case 'B':
      fieldType_ = version == xFoxPro ? ftFloat : ftBlob;
      break;
    case 'M':
      fieldType_ = ftMemo;
      break;
    case 'G':
      fieldType_ = ftDBaseOle;
      break;
    case 'Y':
      fieldType_ = (owner_ == nullptr || owner_->CurrencyAsBCD()) ? ftBCD : ftCurrency;
      break;
    case '0':
      fieldType_ = ftBytes;
      break;
    default:
      fieldType_ = ftUnknown;
      nativeFieldType_ = 0;
      break;
  }
}

void TDbfFieldDef::DeriveNativeType() {
  const TXBaseVersion version = Version();
  char letter = 0;
  switch (fieldType_) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
      letter = 'C';
      break;
    case ftSmallint:
    case ftWord:
    case ftFloat:
    case ftLargeint:
      letter = 'N';
      break;
    case ftInteger:
      letter = version == xBaseVII ? 'I' : 'N';
      break;
    case ftBoolean:
      letter = 'L';
      break;
    case ftCurrency:
    case ftBCD:
      letter = version == xFoxPro ? 'Y' : 0;
      break;
    case ftDate:
      letter = 'D';
      break;
    case ftDateTime:
      letter = version == xBaseVII ? '@' : version == xFoxPro ? 'T' : 'D';
      break;
    case ftAutoInc:
      letter = '+';
      break;
    case ftBlob:
      letter = 'B';
      break;
    case ftMemo:
      letter = 'M';
      break;
    case ftDBaseOle:
      letter = 'G';
      break;
    default:
      break;
  }
  if (letter == 0)
    throw EDbfError(FormatMessage(msg::kFieldTypeNotSupported, fieldName_.c_str(), static_cast<unsigned>(fieldType_)));
  nativeFieldType_ = letter;
}

void TDbfFieldDef::ApplyDefaultSize() {
  const bool vii = Version() == xBaseVII;
  switch (fieldType_) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
      size_ = 30, precision_ = 0;
      break;
    case ftSmallint:
    case ftWord:
      size_ = 4, precision_ = 0;
      break;
    case ftInteger:
    case ftAutoInc:
      size_ = vii ? 4 : 9, precision_ = 0;
      break;
    case ftFloat:
      size_ = 18, precision_ = 8;
      break;
    case ftCurrency:
    case ftBCD:
      size_ = 8, precision_ = 4;
      break;
    case ftLargeint:
      size_ = 18, precision_ = 0;
      break;
    default:
      break;
  }
}

void TDbfFieldDef::Normalize() {
  const TXBaseVersion version = Version();
  switch (nativeFieldType_) {
    case '+':
    case 'I':
      size_ = 4, precision_ = 0;
      break;
    case '@':
    case 'D':
    case 'O':
      size_ = 8, precision_ = 0;
      break;
    case 'B':
      // A memo block number below FoxPro, an 8-byte double there.
      if (version != xFoxPro)
        size_ = 10, precision_ = 0;
      else if (size_ <= 0)
        size_ = 8;
      break;
    case 'C': {
      const int maximum = version == xFoxPro ? 65535 : 255;
      size_ = std::clamp(size_, 0, maximum);
      precision_ = 0;
      break;
    }
    case 'N':
    case 'F':
      if (size_ <= 0) size_ = 1;
      if (size_ >= 20) size_ = 20;
      if (precision_ > size_ - 2) precision_ = size_ - 2;
      if (precision_ < 0) precision_ = 0;
      break;
    case 'G':
    case 'M':
      if (version == xFoxPro) {
        if (size_ != 4 && size_ != 10) size_ = 4;
      } else {
        size_ = 10;
      }
      precision_ = 0;
      break;
    case 'L':
      size_ = 1, precision_ = 0;
      break;
    case 'T':
      size_ = version == xFoxPro ? 8 : 14, precision_ = 0;
      break;
    case 'Y':
      size_ = 8, precision_ = 4;
      break;
    default:
      break;
  }
}

uint8_t* TDbfFieldDef::ValueArea(int which) {
  if (!valueAreas_ || allocSize_ != size_) {
    const int n = std::max(size_, 0);
    auto fresh = std::make_unique<uint8_t[]>(static_cast<size_t>(3 * n) + 1);
    if (valueAreas_) {
      const int keep = std::min(n, allocSize_);
      for (int a = 0; a < 3; ++a)
        std::memcpy(fresh.get() + a * n, valueAreas_.get() + a * allocSize_, static_cast<size_t>(keep));
    }
    valueAreas_ = std::move(fresh);
    allocSize_ = n;
  }
  return valueAreas_.get() + which * allocSize_;
}

void TDbfFieldDef::Assign(const TDbfFieldDef& source) {
  fieldName_ = source.fieldName_;
  fieldType_ = source.fieldType_;
  nativeFieldType_ = source.nativeFieldType_;
  size_ = source.size_;
  precision_ = source.precision_;
  required_ = source.required_;
  nullPosition_ = source.nullPosition_;
  offset_ = source.offset_;
  autoIncNext_ = source.autoIncNext_;
  hasDefault_ = source.hasDefault_;
  hasMin_ = source.hasMin_;
  hasMax_ = source.hasMax_;
  valueAreas_.reset();
  allocSize_ = 0;
  if (source.valueAreas_) {
    const size_t bytes = static_cast<size_t>(3 * source.allocSize_);
    valueAreas_ = std::make_unique<uint8_t[]>(bytes + 1);
    std::memcpy(valueAreas_.get(), source.valueAreas_.get(), bytes);
    allocSize_ = source.allocSize_;
  }
  copyFrom_ = source.Index();
}

bool TDbfFieldDef::IsMemoField() const {
  return nativeFieldType_ == 'B' || nativeFieldType_ == 'G' || nativeFieldType_ == 'M';
}

bool TDbfFieldDef::IsBinaryBlockField() const {
  if (size_ != 4) return false;
  // At FoxPro, G of size 4 holds a binary block number just as M does.
  return nativeFieldType_ == 'M' || (nativeFieldType_ == 'G' && Version() == xFoxPro);
}

TDbfFieldDef& TDbfFieldDefs::Add() {
  items_.push_back(std::make_unique<TDbfFieldDef>(this));
  return *items_.back();
}

TDbfFieldDef& TDbfFieldDefs::AddWithValues(const std::string& name, TFieldType type, bool required, int size) {
  TDbfFieldDef& def = Add();
  def.SetFieldName(name);
  def.SetFieldType(type);
  def.SetRequired(required);
  if (size != 0) def.SetSize(size);
  return def;
}

int TDbfFieldDefs::IndexOf(const TDbfFieldDef* def) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (items_[i].get() == def) return static_cast<int>(i);
  return -1;
}

}  // namespace norvale
