// Field definitions: the tie between the one-letter native type stored in a
// table file and the logical field type, with the size rules of each version.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace norvale {

// Logical field types, numbered as other programs' messages show them.
enum TFieldType {
  ftUnknown = 0,
  ftString,
  ftSmallint,
  ftInteger,
  ftWord,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftBCD,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftVarBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftGraphic,
  ftFmtMemo,
  ftParadoxOle,
  ftDBaseOle,
  ftTypedBinary,
  ftCursor,
  ftFixedChar,
  ftWideString,
  ftLargeint,
};

const char* FieldTypeName(TFieldType type);

// Table versions; ordered, so "below xBaseVII" comparisons work.
enum TXBaseVersion {
  xUnknown = 0,
  xBaseIII = 2,
  xBaseIV = 3,
  xFoxPro = 5,
  xBaseVII = 6,
};

int TableLevelOf(TXBaseVersion version);
TXBaseVersion VersionOfTableLevel(int level);
const char* VersionName(TXBaseVersion version);

class TDbfFieldDefs;

class TDbfFieldDef {
 public:
  explicit TDbfFieldDef(TDbfFieldDefs* owner = nullptr);
  TDbfFieldDef(const TDbfFieldDef&) = delete;
  TDbfFieldDef& operator=(const TDbfFieldDef&) = delete;

  const std::string& FieldName() const { return fieldName_; }
  void SetFieldName(const std::string& name) { fieldName_ = name; }
  std::string DisplayName() const { return fieldName_; }

  TFieldType FieldType() const { return fieldType_; }
  // Derives the letter (EDbfError when the version has none), applies the
  // default size, then normalises.
  void SetFieldType(TFieldType type);
  char NativeFieldType() const { return nativeFieldType_; }
  // Upper-cases a-z, derives the logical type, normalises.
  void SetNativeFieldType(char letter);

  int Size() const { return size_; }
  void SetSize(int size);
  int Precision() const { return precision_; }
  void SetPrecision(int precision);
  // Size and precision exactly as a table file stores them. Fields read from
  // a file keep their stored width (a GIS N(24,15) stays 24 wide), so no
  // value is cut and offsets stay those of the file.
  void SetStoredSize(int size, int precision) {
    size_ = size;
    precision_ = precision;
  }

  bool Required() const { return required_; }
  void SetRequired(bool value) { required_ = value; }
  int NullPosition() const { return nullPosition_; }
  void SetNullPosition(int position) { nullPosition_ = position; }
  int Offset() const { return offset_; }
  void SetOffset(int offset) { offset_ = offset; }
  int32_t AutoIncNext() const { return autoIncNext_; }
  void SetAutoIncNext(int32_t value) { autoIncNext_ = value; }
  int CopyFrom() const { return copyFrom_; }
  void SetCopyFrom(int index) { copyFrom_ = index; }

  // Default, minimum and maximum value areas, each Size() bytes.
  bool HasDefault() const { return hasDefault_; }
  bool HasMin() const { return hasMin_; }
  bool HasMax() const { return hasMax_; }
  void SetHasDefault(bool v) { hasDefault_ = v; }
  void SetHasMin(bool v) { hasMin_ = v; }
  void SetHasMax(bool v) { hasMax_ = v; }
  uint8_t* DefaultBuf() { return ValueArea(0); }
  uint8_t* MinBuf() { return ValueArea(1); }
  uint8_t* MaxBuf() { return ValueArea(2); }

  // Copies every property of `source`; copy-from becomes the source's index.
  void Assign(const TDbfFieldDef& source);

  bool IsMemoField() const;
  // Fields whose value is a 4-byte binary memo block number.
  bool IsBinaryBlockField() const;
  TXBaseVersion Version() const;
  int Index() const;

 private:
  uint8_t* ValueArea(int which);
  void ApplyDefaultSize();
  void Normalize();
  void DeriveLogicalType();
  void DeriveNativeType();

  TDbfFieldDefs* owner_;
  std::string fieldName_;
  TFieldType fieldType_ = ftUnknown;
  char nativeFieldType_ = 0;
  std::unique_ptr<uint8_t[]> valueAreas_;
  int size_ = 0;
  int precision_ = 0;
  bool hasDefault_ = false, hasMin_ = false, hasMax_ = false;
  int allocSize_ = 0;
  int copyFrom_ = -1;
  int offset_ = 0;
  int32_t autoIncNext_ = 0;
  bool required_ = false;
  int nullPosition_ = -1;
};

class TDbfFieldDefs {
 public:
  explicit TDbfFieldDefs(TXBaseVersion version = xBaseIV) : version_(version) {}
  TXBaseVersion Version() const { return version_; }
  void SetVersion(TXBaseVersion version) { version_ = version; }

  TDbfFieldDef& Add();
  TDbfFieldDef& AddWithValues(const std::string& name, TFieldType type, bool required, int size);
  int Count() const { return static_cast<int>(items_.size()); }
  TDbfFieldDef& Item(int index) { return *items_.at(static_cast<size_t>(index)); }
  const TDbfFieldDef& Item(int index) const { return *items_.at(static_cast<size_t>(index)); }
  int IndexOf(const TDbfFieldDef* def) const;
  void Clear() { items_.clear(); }
  // Currency-as-BCD decides whether "Y" reads as ftBCD or ftCurrency.
  bool CurrencyAsBCD() const { return currencyAsBCD_; }
  void SetCurrencyAsBCD(bool value) { currencyAsBCD_ = value; }

 private:
  TXBaseVersion version_;
  bool currencyAsBCD_ = true;
  std::vector<std::unique_ptr<TDbfFieldDef>> items_;
};

}  // namespace norvale
