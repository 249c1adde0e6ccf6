#include "dataset/field.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "dataset/dataset.h"
#include "dataset/dataset_messages.h"
#include "engine/exceptions.h"
#include "engine/messages.h"
#include "engine/value_text.h"
#include "platform/ascii.h"

namespace norvale {

namespace {


std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::string FormatInteger(int64_t v) {
  char text[24];
  auto r = std::to_chars(text, text + sizeof text, v);
  return std::string(text, r.ptr);
}

std::string FormatDouble(double v, int precision) {
  if (!std::isfinite(v)) return v != v ? "NaN" : (v < 0 ? "-Inf" : "Inf");
  char text[400];
  auto r = precision > 0 ? std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, precision)
                         : std::to_chars(text, text + sizeof text, v);
  if (r.ec != std::errc()) return std::to_string(v);
  return std::string(text, r.ptr);
}

// value x 10000, exactly, with at least two decimals ("12.50", "0.1234").
std::string FormatScaled(int64_t scaled) {
  const bool negative = scaled < 0;
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
  std::string out = negative ? "-" : "";
  out += std::to_string(magnitude / 10000);
  char frac[5];
  std::snprintf(frac, sizeof frac, "%04u", static_cast<unsigned>(magnitude % 10000));
  int keep = 4;
  while (keep > 2 && frac[keep - 1] == '0') --keep;
  out += '.';
  out.append(frac, static_cast<size_t>(keep));
  return out;
}

bool ParseInt64(std::string_view text, int64_t* out) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  auto r = std::from_chars(text.data(), text.data() + text.size(), *out);
  return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

bool ParseDouble(std::string_view text, double* out) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  const char c = text.front() == '-' && text.size() > 1 ? text[1] : text.front();
  if (!((c >= '0' && c <= '9') || c == '.')) return false;
  auto r = std::from_chars(text.data(), text.data() + text.size(), *out, std::chars_format::general);
  return r.ec == std::errc() && r.ptr == text.data() + text.size() && std::isfinite(*out);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = AsciiUpper(c);
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Scratch for one value; most fit on the stack.
class TValueBuffer {
 public:
  explicit TValueBuffer(size_t size) {
    if (size > sizeof small_) large_.resize(size);
    data_ = size > sizeof small_ ? large_.data() : small_;
  }
  uint8_t* Data() { return data_; }
  template <typename T>
  T As() const {
    T v;
    std::memcpy(&v, data_, sizeof v);
    return v;
  }

 private:
  alignas(8) uint8_t small_[264];
  std::vector<uint8_t> large_;
  uint8_t* data_;
};

}  // namespace

// ---------------------------------------------------------------- TFieldDefs

TFieldDef& TFieldDefs::Add(const std::string& name, TFieldType type, int size, bool required) {
  TFieldDef def;
  def.name = name;
  def.dataType = type;
  def.size = size;
  def.required = required;
  def.fieldNo = Count() + 1;
  items_.push_back(def);
  if (OnChange) OnChange();
  return items_.back();
}

void TFieldDefs::Clear() {
  items_.clear();
  if (OnChange) OnChange();
}

int TFieldDefs::IndexOf(std::string_view name) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (EqualNoCaseAscii(items_[i].name, name)) return static_cast<int>(i);
  return -1;
}

// ---------------------------------------------------------------- date text

std::string FormatDateTimeText(TFieldType type, TDateTime value) {
  const TDateParts p = DecodeDateTime(value);
  std::string out;
  out.reserve(19);
  if (type != ftTime) {
    if (p.year < 0 || p.year > 9999) return FormatDouble(value, 0);
    AppendDateText(out, p.year, p.month, p.day);
  }
  if (type == ftDate) return out;
  if (type != ftTime) out += ' ';
  AppendTimeText(out, p.hour, p.minute, p.second);
  return out;
}

bool ParseDateTimeText(std::string_view text, TDateTime* out) {
  text = Trim(text);
  TDateParts p;
  auto number = [&](size_t at, size_t count, int* v) {
    if (at + count > text.size()) return false;
    int64_t n;
    for (size_t i = at; i < at + count; ++i)
      if (text[i] < '0' || text[i] > '9') return false;
    if (!ParseInt64(text.substr(at, count), &n)) return false;
    *v = static_cast<int>(n);
    return true;
  };
  if (text.size() < 10 || text[4] != '-' || text[7] != '-') return false;
  if (!number(0, 4, &p.year) || !number(5, 2, &p.month) || !number(8, 2, &p.day)) return false;
  if (text.size() > 10) {
    if ((text[10] != ' ' && text[10] != 'T') || text.size() < 16 || text[13] != ':') return false;
    if (!number(11, 2, &p.hour) || !number(14, 2, &p.minute)) return false;
    if (text.size() > 16) {
      if (text.size() != 19 || text[16] != ':' || !number(17, 2, &p.second)) return false;
    }
  }
  return EncodeDateTime(p, out);
}

// ---------------------------------------------------------------- TField

TField::TField(TDataSet* dataSet, const TFieldDef& def, TFieldKind kind)
    : dataSet_(dataSet),
      name_(def.name),
      dataType_(def.dataType),
      size_(def.size),
      precision_(def.precision),
      fieldNo_(kind == fkData ? def.fieldNo : 0),
      kind_(kind),
      readOnly_(def.readOnly),
      required_(def.required) {}

bool TField::IsBlob() const {
  switch (dataType_) {
    case ftBlob:
    case ftMemo:
    case ftGraphic:
    case ftFmtMemo:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
      return true;
    default:
      return false;
  }
}

bool TField::IsTextBlob() const { return dataType_ == ftMemo || dataType_ == ftFmtMemo; }

int TField::DataSize() const {
  switch (dataType_) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
      return size_ + 1;
    case ftSmallint:
    case ftBoolean:
      return 2;
    case ftInteger:
    case ftWord:
    case ftAutoInc:
      return 4;
    case ftLargeint:
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftDate:
    case ftTime:
    case ftDateTime:
      return 8;
    case ftBytes:
    case ftVarBytes:
      return size_;
    default:
      // Blob fields: the block number of the value in the record.
      return IsBlob() ? 4 : 0;
  }
}

int TField::DisplayWidth() const {
  switch (dataType_) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
      return size_;
    case ftBoolean:
      return 5;
    case ftDate:
      return 10;
    case ftTime:
      return 8;
    case ftDateTime:
      return 19;
    case ftSmallint:
      return 6;
    case ftInteger:
    case ftWord:
    case ftAutoInc:
      return 11;
    case ftBytes:
    case ftVarBytes:
      return size_ * 2;
    default:
      return IsBlob() ? 10 : 15;
  }
}

bool TField::GetData(void* buffer) const { return dataSet_->GetFieldData(*this, buffer); }

void TField::SetData(const void* buffer) {
  CheckWritable();
  dataSet_->SetFieldData(*this, buffer);
}

void TField::CheckWritable() const {
  const TDataSetState state = dataSet_->State();
  if (kind_ != fkData) {
    if (state != dsCalcFields && state != dsEdit && state != dsInsert && state != dsFilter)
      throw EDbfError(msg::kNotEditing);
    return;
  }
  if (readOnly_) throw EDbfError(FormatMessage(msg::kFieldReadOnly, name_.c_str()));
  if (state != dsEdit && state != dsInsert && state != dsNewValue) throw EDbfError(msg::kNotEditing);
}

bool TField::IsNull() const {
  if (IsBlob()) {
    TValueBuffer v(8);
    return !GetData(v.Data());
  }
  TValueBuffer v(static_cast<size_t>(DataSize()) + 1);
  return !GetData(v.Data());
}

bool TField::IsNumeric() const {
  switch (dataType_) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint:
    case ftFloat:
    case ftCurrency:
    case ftBCD:
      return true;
    default:
      return false;
  }
}

bool TField::IsIntegerType() const {
  return dataType_ == ftSmallint || dataType_ == ftInteger || dataType_ == ftWord || dataType_ == ftAutoInc ||
         dataType_ == ftLargeint;
}

// Reads a numeric field; false for null. Integers come exactly in *integer.
bool TField::ReadNumber(double* value, int64_t* integer, bool* isInteger) const {
  TValueBuffer v(8);
  if (!GetData(v.Data())) return false;
  *isInteger = true;
  switch (dataType_) {
    case ftSmallint:
    case ftBoolean:
      *integer = v.As<int16_t>();
      break;
    case ftInteger:
    case ftWord:
    case ftAutoInc:
      *integer = v.As<int32_t>();
      break;
    case ftLargeint:
      *integer = v.As<int64_t>();
      break;
    case ftBCD:
      *isInteger = false;
      *value = static_cast<double>(v.As<int64_t>()) / 10000.0;
      return true;
    default:
      *isInteger = false;
      *value = v.As<double>();
      return true;
  }
  *value = static_cast<double>(*integer);
  return true;
}

std::string TField::AsString() const {
  std::string out;
  GetText(out);
  return out;
}

void TField::GetText(std::string& out) const {
  out.clear();
  if (IsBlob()) {
    out = dataSet_->ReadBlob(*this);
    return;
  }
  if (kind_ == fkData && dataSet_->AppendStoredText(*this, out)) return;
  char number[64];
  auto appendNumber = [&](std::to_chars_result r) { out.append(number, r.ptr); };
  switch (dataType_) {
    case ftString:
    case ftFixedChar:
    case ftWideString: {
      TValueBuffer v(static_cast<size_t>(size_) + 1);
      if (!GetData(v.Data())) return;
      const char* text = reinterpret_cast<const char*>(v.Data());
      dataSet_->AppendTextFromTable(out, std::string_view(text, strnlen(text, static_cast<size_t>(size_))));
      return;
    }
    case ftBoolean: {
      TValueBuffer v(2);
      if (GetData(v.Data())) out = v.As<int16_t>() ? "True" : "False";
      return;
    }
    case ftDate: {
      // As a day number: no round trip through the date-time double.
      TValueBuffer v(8);
      if (!dataSet_->GetFieldData(*this, v.Data(), true)) return;
      int year, month, day;
      DateFromDayNumber(v.As<int32_t>(), &year, &month, &day);
      if (year < 0 || year > 9999) {
        appendNumber(std::to_chars(number, number + sizeof number, v.As<int32_t>()));
        return;
      }
      char text[10] = {char('0' + year / 1000), char('0' + year / 100 % 10), char('0' + year / 10 % 10),
                       char('0' + year % 10), '-', char('0' + month / 10), char('0' + month % 10), '-',
                       char('0' + day / 10), char('0' + day % 10)};
      out.append(text, sizeof text);
      return;
    }
    case ftTime:
    case ftDateTime: {
      TValueBuffer v(8);
      if (GetData(v.Data())) out = FormatDateTimeText(dataType_, v.As<double>());
      return;
    }
    case ftBCD: {
      TValueBuffer v(8);
      if (GetData(v.Data())) out = FormatScaled(v.As<int64_t>());
      return;
    }
    case ftBytes:
    case ftVarBytes: {
      TValueBuffer v(static_cast<size_t>(size_));
      if (!GetData(v.Data())) return;
      static const char kHex[] = "0123456789ABCDEF";
      out.reserve(static_cast<size_t>(size_) * 2);
      for (int i = 0; i < size_; ++i) {
        out += kHex[v.Data()[i] >> 4];
        out += kHex[v.Data()[i] & 15];
      }
      return;
    }
    default:
      break;
  }
  double d = 0;
  int64_t i = 0;
  bool isInteger = false;
  if (!IsNumeric() || !ReadNumber(&d, &i, &isInteger)) return;
  if (d == 0) d = 0;  // no "-0.00"
  if (isInteger) {
    appendNumber(std::to_chars(number, number + sizeof number, i));
  } else if (std::isfinite(d) && std::fabs(d) < 1e30) {
    appendNumber(precision_ > 0 ? std::to_chars(number, number + sizeof number, d, std::chars_format::fixed,
                                                std::min(precision_, 30))
                                : std::to_chars(number, number + sizeof number, d));
  } else {
    out = FormatDouble(d, precision_);
  }
}

int64_t TField::AsLargeInt() const {
  if (IsNumeric() || dataType_ == ftBoolean) {
    double d = 0;
    int64_t i = 0;
    bool isInteger = false;
    if (!ReadNumber(&d, &i, &isInteger)) return 0;
    if (isInteger) return i;
    const double r = std::round(d);
    return std::isfinite(r) && std::fabs(r) < 9.2e18 ? static_cast<int64_t>(r) : 0;
  }
  const std::string text = AsString();
  if (Trim(text).empty()) return 0;
  int64_t v;
  if (!ParseInt64(text, &v)) throw EConvertError(FormatMessage(msg::kInvalidInteger, text.c_str()));
  return v;
}

int32_t TField::AsInteger() const {
  const int64_t v = AsLargeInt();
  if (v < INT32_MIN || v > INT32_MAX)
    throw EConvertError(FormatMessage(msg::kInvalidInteger, FormatInteger(v).c_str()));
  return static_cast<int32_t>(v);
}

double TField::AsFloat() const {
  if (IsNumeric() || dataType_ == ftBoolean) {
    double d = 0;
    int64_t i = 0;
    bool isInteger = false;
    return ReadNumber(&d, &i, &isInteger) ? d : 0.0;
  }
  if (dataType_ == ftDate || dataType_ == ftTime || dataType_ == ftDateTime) return AsDateTime();
  const std::string text = AsString();
  if (Trim(text).empty()) return 0;
  double v;
  if (!ParseDouble(text, &v)) throw EConvertError(FormatMessage(msg::kInvalidFloat, text.c_str()));
  return v;
}

bool TField::AsBoolean() const {
  if (dataType_ == ftBoolean) {
    TValueBuffer v(2);
    return GetData(v.Data()) && v.As<int16_t>() != 0;
  }
  if (IsNumeric()) return AsFloat() != 0;
  const std::string text(Trim(AsString()));
  if (text.empty()) return false;
  const char c = AsciiUpper(text[0]);
  if (c == 'T' || c == 'Y') return true;
  if (c == 'F' || c == 'N') return false;
  throw EConvertError(FormatMessage(msg::kInvalidBoolean, text.c_str(), name_.c_str()));
}

TDateTime TField::AsDateTime() const {
  if (dataType_ == ftDate || dataType_ == ftTime || dataType_ == ftDateTime) {
    TValueBuffer v(8);
    return GetData(v.Data()) ? v.As<double>() : 0.0;
  }
  if (IsNumeric()) return AsFloat();
  const std::string text = AsString();
  if (Trim(text).empty()) return 0;
  TDateTime v;
  if (!ParseDateTimeText(text, &v)) throw EConvertError(FormatMessage(msg::kInvalidDate, text.c_str()));
  return v;
}

void TField::Clear() {
  if (IsBlob()) {
    CheckWritable();
    dataSet_->WriteBlob(*this, std::string_view());
    return;
  }
  SetData(nullptr);
}

void TField::WriteText(std::string_view value) {
  dataSet_->CheckStorableText(*this, value);
  std::string bytes = dataSet_->TextToTable(value, size_);
  bytes.resize(std::min(bytes.size(), static_cast<size_t>(size_)));
  // The codec reads up to the terminator, so a stray zero byte would end
  // the value early; the table's blank is the better stand-in.
  for (char& c : bytes)
    if (c == 0) c = ' ';
  SetData(bytes.c_str());
}

void TField::SetAsString(std::string_view value) {
  if (IsBlob()) {
    CheckWritable();
    if (IsTextBlob()) dataSet_->CheckStorableText(*this, value);
    dataSet_->WriteBlob(*this, value);
    return;
  }
  switch (dataType_) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
      if (value.empty()) {
        Clear();
      } else {
        WriteText(value);
      }
      return;
    default:
      break;
  }
  const std::string_view text = Trim(value);
  if (text.empty()) {
    Clear();
    return;
  }
  switch (dataType_) {
    case ftBoolean: {
      const std::string_view t = text;
      if (EqualNoCaseAscii(t, "T") || EqualNoCaseAscii(t, "TRUE") || EqualNoCaseAscii(t, "Y") || EqualNoCaseAscii(t, "YES") || t == "1")
        return SetAsBoolean(true);
      if (EqualNoCaseAscii(t, "F") || EqualNoCaseAscii(t, "FALSE") || EqualNoCaseAscii(t, "N") || EqualNoCaseAscii(t, "NO") || t == "0")
        return SetAsBoolean(false);
      throw EConvertError(FormatMessage(msg::kInvalidBoolean, std::string(text).c_str(), name_.c_str()));
    }
    case ftDate:
    case ftTime:
    case ftDateTime: {
      TDateTime v;
      if (!ParseDateTimeText(text, &v))
        throw EConvertError(FormatMessage(msg::kInvalidDate, std::string(text).c_str()));
      return SetAsDateTime(v);
    }
    case ftBytes:
    case ftVarBytes: {
      if (text.size() % 2 != 0 || static_cast<int>(text.size() / 2) > size_)
        throw EConvertError(FormatMessage(msg::kInvalidInteger, std::string(text).c_str()));
      std::vector<uint8_t> bytes(static_cast<size_t>(size_), 0);
      for (size_t i = 0; i < text.size(); i += 2) {
        const int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
        if (hi < 0 || lo < 0) throw EConvertError(FormatMessage(msg::kInvalidInteger, std::string(text).c_str()));
        bytes[i / 2] = static_cast<uint8_t>(hi * 16 + lo);
      }
      SetData(bytes.data());
      return;
    }
    default:
      break;
  }
  if (IsIntegerType()) {
    int64_t v;
    if (!ParseInt64(text, &v)) throw EConvertError(FormatMessage(msg::kInvalidInteger, std::string(text).c_str()));
    return SetAsLargeInt(v);
  }
  double v;
  if (!ParseDouble(text, &v)) throw EConvertError(FormatMessage(msg::kInvalidFloat, std::string(text).c_str()));
  SetAsFloat(v);
}

void TField::SetAsLargeInt(int64_t value) {
  switch (dataType_) {
    case ftSmallint:
    case ftBoolean:
    case ftInteger:
    case ftWord:
    case ftAutoInc: {
      const int64_t lo = dataType_ == ftSmallint || dataType_ == ftBoolean ? INT16_MIN : INT32_MIN;
      const int64_t hi = dataType_ == ftSmallint || dataType_ == ftBoolean ? INT16_MAX : INT32_MAX;
      if (value < lo || value > hi)
        throw EConvertError(FormatMessage(msg::kInvalidInteger, FormatInteger(value).c_str()));
      if (dataType_ == ftSmallint || dataType_ == ftBoolean) {
        const int16_t v = static_cast<int16_t>(value);
        return SetData(&v);
      }
      const int32_t v = static_cast<int32_t>(value);
      return SetData(&v);
    }
    case ftLargeint:
      return SetData(&value);
    default:
      if (IsNumeric()) return SetAsFloat(static_cast<double>(value));
      return SetAsString(FormatInteger(value));
  }
}

void TField::SetAsInteger(int32_t value) { SetAsLargeInt(value); }

void TField::SetAsFloat(double value) {
  if (IsIntegerType()) {
    const double r = std::round(value);
    if (!std::isfinite(r) || std::fabs(r) >= 9.2e18)
      throw EConvertError(FormatMessage(msg::kInvalidInteger, FormatDouble(value, 0).c_str()));
    return SetAsLargeInt(static_cast<int64_t>(r));
  }
  switch (dataType_) {
    case ftFloat:
    case ftCurrency:
      return SetData(&value);
    case ftBCD: {
      const double scaled = std::round(value * 10000.0);
      if (!std::isfinite(scaled) || std::fabs(scaled) >= 9.2e18)
        throw EConvertError(FormatMessage(msg::kInvalidFloat, FormatDouble(value, 0).c_str()));
      const int64_t v = static_cast<int64_t>(scaled);
      return SetData(&v);
    }
    case ftDate:
    case ftTime:
    case ftDateTime:
      return SetAsDateTime(value);
    default:
      return SetAsString(FormatDouble(value, 0));
  }
}

void TField::SetAsBoolean(bool value) {
  if (dataType_ == ftBoolean) {
    const int16_t v = value ? 1 : 0;
    return SetData(&v);
  }
  if (IsNumeric()) return SetAsLargeInt(value ? 1 : 0);
  SetAsString(value ? "T" : "F");
}

void TField::SetAsDateTime(TDateTime value) {
  if (dataType_ == ftDate || dataType_ == ftTime || dataType_ == ftDateTime) {
    if (!std::isfinite(value)) throw EConvertError(FormatMessage(msg::kInvalidDate, "NaN"));
    return SetData(&value);
  }
  if (IsNumeric()) return SetAsFloat(value);
  SetAsString(FormatDateTimeText(ftDateTime, value));
}

}  // namespace norvale
