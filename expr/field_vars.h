// Field variables: each field an expression uses gets one, which decodes the
// field from a record buffer into storage that the expression's variable
// word reads. Empty fields read as 0 (texts as empty).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/fields.h"
#include "expr/expr_node.h"
#include "platform/text_codec.h"

namespace norvale {

class TDbfFile;
class TExprWord;

// The record an evaluation reads; the generation changes with every record,
// so each field variable decodes its field at most once per record.
struct TRecordState {
  const uint8_t* record = nullptr;
  uint64_t generation = 0;
};

class TFieldVar {
 public:
  TFieldVar(const TDbfFieldDef& field, const TDbfFile& table, std::string name)
      : field_(field), table_(table), fieldName_(std::move(name)) {}
  virtual ~TFieldVar() = default;
  TFieldVar(const TFieldVar&) = delete;
  TFieldVar& operator=(const TFieldVar&) = delete;

  // Address of the value storage the variable word points at.
  virtual void* FieldVal() = 0;
  virtual TExpressionType FieldType() const = 0;
  virtual void SetExprWord(TExprWord* word) { exprWord_ = word; }
  virtual void Refresh(const uint8_t* record) = 0;

  // Decodes the field of the state's record unless already done; the
  // variable word calls this before each copy, so fields an evaluation
  // skips are not decoded at all.
  void Follow(const TRecordState* state) { state_ = state; }
  static void RefreshHook(void* fieldVar);

  const TDbfFieldDef& FieldDef() const { return field_; }
  // The name as the expression wrote it.
  const std::string& FieldName() const { return fieldName_; }
  TExprWord* ExprWord() const { return exprWord_; }

 protected:
  bool IsNull(const uint8_t* record) const;
  // Decodes the field as `request` into `value`; false (value untouched)
  // when the field is empty or null.
  bool Decode(TFieldType request, void* value, const uint8_t* record) const;

  const TDbfFieldDef& field_;
  const TDbfFile& table_;
  std::string fieldName_;
  TExprWord* exprWord_ = nullptr;
  const TRecordState* state_ = nullptr;
  uint64_t generation_ = 0;
};

// How a table's text becomes UTF-8: `decoder` converts its code page (null:
// the table is UTF-8 already); `asciiKept` when the page's bytes below 0x80
// are ASCII, so such text needs no conversion.
struct TTextSource {
  const TCodePageDecoder* decoder = nullptr;
  bool asciiKept = true;
};

// Raw: the text pointer points at the field inside the record buffer, all
// Size() bytes, trailing blanks included, in the table's code page. Not raw:
// the text without trailing blanks in UTF-8. Text that needs no conversion is
// read in place (its length given to the variable word); other text is
// converted into a buffer of three bytes per byte and zero-terminated.
class TStringFieldVar : public TFieldVar {
 public:
  TStringFieldVar(const TDbfFieldDef& field, const TDbfFile& table, std::string name, TTextSource source);
  void* FieldVal() override { return &text_; }
  TExpressionType FieldType() const override { return rtString; }
  void SetExprWord(TExprWord* word) override;
  void Refresh(const uint8_t* record) override;
  bool Raw() const { return raw_; }
  void SetRaw(bool raw);
  // Raw: the stored bytes (Size() of them). Otherwise the text,
  // zero-terminated (text read in place is copied to the buffer first).
  const char* Text();

 private:
  void SetLength(int length);

  const char* text_ = "";
  int inPlaceLength_ = -1;  // >= 0 while text_ points into the record
  bool raw_ = true;
  TTextSource source_;
  std::string buffer_;
};

class TFloatFieldVar : public TFieldVar {
 public:
  using TFieldVar::TFieldVar;
  void* FieldVal() override { return &value_; }
  TExpressionType FieldType() const override { return rtFloat; }
  void Refresh(const uint8_t* record) override;

 private:
  double value_ = 0;
};

// Smallint, integer and autoincrement fields, each decoded by its own type.
class TIntegerFieldVar : public TFieldVar {
 public:
  using TFieldVar::TFieldVar;
  void* FieldVal() override { return &value_; }
  TExpressionType FieldType() const override { return rtInteger; }
  void Refresh(const uint8_t* record) override;

 private:
  int32_t value_ = 0;
};

class TLargeIntFieldVar : public TFieldVar {
 public:
  using TFieldVar::TFieldVar;
  void* FieldVal() override { return &value_; }
  TExpressionType FieldType() const override { return rtLargeInt; }
  void Refresh(const uint8_t* record) override;

 private:
  int64_t value_ = 0;
};

// Dates at midnight and date-times, as days since 1899-12-30.
class TDateTimeFieldVar : public TFieldVar {
 public:
  using TFieldVar::TFieldVar;
  void* FieldVal() override { return &value_; }
  TExpressionType FieldType() const override { return rtDateTime; }
  void Refresh(const uint8_t* record) override;

 private:
  double value_ = 0;
};

class TBooleanFieldVar : public TFieldVar {
 public:
  using TFieldVar::TFieldVar;
  void* FieldVal() override { return &value_; }
  TExpressionType FieldType() const override { return rtBoolean; }
  void Refresh(const uint8_t* record) override;

 private:
  uint8_t value_ = 0;
};

// The field variable for a field of this logical type; null for the types
// an expression cannot use (memos, blobs, currency and the rest).
std::unique_ptr<TFieldVar> MakeFieldVar(const TDbfFieldDef& field, const TDbfFile& table, const std::string& name,
                                        TTextSource source);

}  // namespace norvale
