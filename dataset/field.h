// Field definitions and field objects of a dataset.
//
// A TFieldDef describes a column as the dataset offers it (name, logical
// type, size); a TField is the object views and callers read and write a
// column through. Fields hold no value: every access asks the dataset for
// the value of the current record, so a field always shows what the current
// buffer holds.
//
// Text crosses a field as UTF-8. Conversion to and from the table's code
// page is the dataset's business (Translate), because only it knows the
// code page.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/date_time.h"
#include "engine/fields.h"

namespace norvale {

class TDataSet;

enum TFieldKind { fkData, fkCalculated, fkLookup };

struct TFieldDef {
  std::string name;
  TFieldType dataType = ftUnknown;
  int size = 0;
  int precision = 0;
  bool required = false;
  bool readOnly = false;
  // 1-based position of the column in the record; 0 for fields the dataset
  // computes.
  int fieldNo = 0;
};

class TFieldDefs {
 public:
  TFieldDef& Add(const std::string& name, TFieldType type, int size = 0, bool required = false);
  void Clear();
  int Count() const { return static_cast<int>(items_.size()); }
  TFieldDef& Item(int index) { return items_.at(static_cast<size_t>(index)); }
  const TFieldDef& Item(int index) const { return items_.at(static_cast<size_t>(index)); }
  // Case-insensitive, as field names are in tables; -1 when absent.
  int IndexOf(std::string_view name) const;
  // Told of every change made through Add and Clear.
  std::function<void()> OnChange;

 private:
  std::vector<TFieldDef> items_;
};

class TField {
 public:
  TField(TDataSet* dataSet, const TFieldDef& def, TFieldKind kind);
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;

  TDataSet* DataSet() const { return dataSet_; }
  const std::string& FieldName() const { return name_; }
  TFieldType DataType() const { return dataType_; }
  int Size() const { return size_; }
  int Precision() const { return precision_; }
  int FieldNo() const { return fieldNo_; }
  TFieldKind FieldKind() const { return kind_; }
  bool Calculated() const { return kind_ != fkData; }
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool value) { readOnly_ = value; }
  bool Required() const { return required_; }
  bool Visible() const { return visible_; }
  void SetVisible(bool value) { visible_ = value; }
  // Characters a view reserves for the value.
  int DisplayWidth() const;
  // Position in the dataset's field list.
  int Index() const { return index_; }
  // Where a calculated field's presence byte sits in the calculated-field
  // area of a record buffer (the value follows it).
  int CalcOffset() const { return calcOffset_; }
  bool IsBlob() const;
  // Blob fields that hold text in the table's code page (memo fields).
  bool IsTextBlob() const;

  // Bytes the value takes in the form GetData fills.
  int DataSize() const;
  // The value of the current record in the dataset's in-memory form (see
  // engine/field_codec.h, dates as TDateTime); false when it is null.
  bool GetData(void* buffer) const;
  // Stores a value in that form into the current record; null clears it.
  void SetData(const void* buffer);

  bool IsNull() const;
  std::string AsString() const;
  // AsString into a caller's string, whose capacity is reused: the form for
  // loops over many records.
  void GetText(std::string& out) const;
  int32_t AsInteger() const;
  int64_t AsLargeInt() const;
  double AsFloat() const;
  bool AsBoolean() const;
  TDateTime AsDateTime() const;

  // Text that does not make a value of the field's type raises EConvertError;
  // empty text clears the field.
  void SetAsString(std::string_view value);
  void SetAsInteger(int32_t value);
  void SetAsLargeInt(int64_t value);
  void SetAsFloat(double value);
  void SetAsBoolean(bool value);
  void SetAsDateTime(TDateTime value);
  void Clear();

 private:
  friend class TDataSet;
  void SetIndex(int index) { index_ = index; }
  void Bind(int fieldNo, int calcOffset) {
    fieldNo_ = fieldNo;
    calcOffset_ = calcOffset;
  }
  void CheckWritable() const;
  bool IsNumeric() const;
  bool IsIntegerType() const;
  bool ReadNumber(double* value, int64_t* integer, bool* isInteger) const;
  void WriteText(std::string_view value);

  TDataSet* dataSet_;
  std::string name_;
  TFieldType dataType_;
  int size_;
  int precision_;
  int fieldNo_;
  TFieldKind kind_;
  bool readOnly_;
  bool required_;
  bool visible_ = true;
  int index_ = -1;
  int calcOffset_ = -1;
};

// The text a date, time or date-time shows as: ISO 8601, which sorts and
// reads the same in every locale ("2024-03-01", "2024-03-01 13:45:10").
std::string FormatDateTimeText(TFieldType type, TDateTime value);
// Parses what FormatDateTimeText writes (the time part optional, seconds
// optional); false for anything else or an impossible date.
bool ParseDateTimeText(std::string_view text, TDateTime* out);

}  // namespace norvale
