#include "app/export/pgsql_writer.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace norvale {

namespace {
// The longest varchar PostgreSQL declares; longer fields are text.
constexpr int kMaxVarchar = 10485760;

bool LeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

bool ValidDate(const TExportValue& v) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (v.year < 1 || v.year > 9999 || v.month < 1 || v.month > 12 || v.day < 1) return false;
  return v.day <= kDays[v.month - 1] + (v.month == 2 && LeapYear(v.year) ? 1 : 0);
}

bool ValidTime(const TExportValue& v) {
  return v.hour >= 0 && v.hour <= 23 && v.minute >= 0 && v.minute <= 59 && v.second >= 0 && v.second <= 59 &&
         v.millisecond >= 0 && v.millisecond <= 999;
}

TPgType IntegerType(int length) {
  if (length > 0 && length <= 9) return {"integer", TPgType::kInt32};
  if (length <= 18) return {"bigint", TPgType::kInt64};
  length = std::min(length, 1000);
  return {"numeric(" + std::to_string(length) + ",0)", TPgType::kDigits, length};
}

// How many digits before the point a number in ExportPlainNumber's form has,
// counting its exponent; -1 when the exponent is past counting.
long IntegerDigits(std::string_view plain) {
  if (!plain.empty() && plain.front() == '-') plain.remove_prefix(1);
  const size_t e = plain.find('e');
  long exponent = 0;
  if (e != std::string_view::npos) {
    std::string_view digits = plain.substr(e + 1);
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    if (std::from_chars(digits.data(), digits.data() + digits.size(), exponent).ec != std::errc()) return -1;
    plain = plain.substr(0, e);
  }
  const size_t point = std::min(plain.find('.'), plain.size());
  long zeros = 0;
  for (const char c : plain) {
    if (c == '.') continue;
    if (c != '0') break;
    ++zeros;
  }
  if (zeros == static_cast<long>(plain.size() - (point < plain.size() ? 1 : 0))) return 0;
  return std::max(0L, static_cast<long>(point) + exponent - zeros);
}

// Whether the column's type takes the number; PostgreSQL refuses the whole
// COPY for one that does not fit.
bool Fits(const std::string& plain, const TPgType& type) {
  const char* first = plain.data();
  const char* last = first + plain.size();
  switch (type.limit) {
    case TPgType::kNone: return true;
    case TPgType::kInt32: {
      int32_t n;
      const auto result = std::from_chars(first, last, n);
      return result.ec == std::errc() && result.ptr == last;
    }
    case TPgType::kInt64: {
      int64_t n;
      const auto result = std::from_chars(first, last, n);
      return result.ec == std::errc() && result.ptr == last;
    }
    case TPgType::kDigits: {
      const long digits = IntegerDigits(plain);
      return digits >= 0 && digits <= type.integerDigits;
    }
    case TPgType::kDouble: {
      // As PostgreSQL reads a double: out of range only when it overflows or
      // underflows to nothing; a denormal is taken.
      errno = 0;
      const double d = std::strtod(first, nullptr);
      return errno != ERANGE || (d != 0 && std::isfinite(d));
    }
  }
  return true;
}
}  // namespace

TPgType TPgsqlWriter::Type(const TExportColumn& column) {
  switch (column.kind) {
    case TExportKind::Text:
      if (column.length > 0 && column.length <= kMaxVarchar)
        return {"varchar(" + std::to_string(column.length) + ")"};
      return {"text"};
    case TExportKind::Memo: return {"text"};
    case TExportKind::Integer:
      if (column.fieldType == 'I' || column.fieldType == '+') return {"integer", TPgType::kInt32};
      return IntegerType(column.length);
    case TExportKind::Number:
      if (column.fieldType == 'Y') return {"numeric(19,4)", TPgType::kDigits, 15};
      if (column.fieldType == 'B' || column.fieldType == 'O') return {"double precision", TPgType::kDouble};
      if (column.length <= 0 || column.length > 1000 || column.decimals < 0 || column.decimals >= column.length)
        return {"numeric"};
      return {"numeric(" + std::to_string(column.length) + "," + std::to_string(column.decimals) + ")",
              TPgType::kDigits, column.length - column.decimals};
    case TExportKind::Date: return {"date"};
    case TExportKind::DateTime: return {"timestamp"};
    case TExportKind::Time: return {"time"};
    case TExportKind::Logical: return {"boolean"};
    case TExportKind::Binary: return {"bytea"};
  }
  return {"text"};
}

namespace {
std::string QuotedName(std::string_view name) {
  std::string out = "\"";
  for (const char c : name) {
    if (c == '\0') continue;
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}
}  // namespace

void TPgsqlWriter::PutCopyText(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t start = pos;
    while (pos < text.size()) {
      const char c = text[pos];
      if (c == '\\' || c == '\t' || c == '\n' || c == '\r' || c == '\0') break;
      ++pos;
    }
    if (pos > start) PutUtf8(text.substr(start, pos - start));
    if (pos >= text.size()) break;
    switch (text[pos++]) {
      case '\\': Put("\\\\"); break;
      case '\t': Put("\\t"); break;
      case '\n': Put("\\n"); break;
      case '\r': Put("\\r"); break;
      default: ++droppedNul_;
    }
  }
}

void TPgsqlWriter::Begin(const std::vector<TExportColumn>& columns) {
  columns_ = columns;
  types_.clear();
  for (const TExportColumn& column : columns_) types_.push_back(Type(column));
  const std::string table = QuotedName(settings_.title.empty() ? std::string("export") : settings_.title);
  Put("\\set ON_ERROR_STOP on\nSET client_encoding = 'UTF8';\nBEGIN;\nCREATE TABLE ");
  PutUtf8(table);
  Put(" (");
  std::string names;
  for (size_t i = 0; i < columns_.size(); ++i) {
    const std::string name = QuotedName(columns_[i].name);
    Put(i > 0 ? ",\n  " : "\n  ");
    PutUtf8(name);
    Put(' ');
    Put(types_[i].name);
    names += (i > 0 ? ", " : "") + name;
  }
  Put("\n);\nCOPY ");
  PutUtf8(table);
  // A table of no columns is copied without a list: "()" is not allowed.
  if (!columns_.empty()) {
    Put(" (");
    PutUtf8(names);
    Put(')');
  }
  Put(" FROM stdin;\n");
}

void TPgsqlWriter::Row(const TExportRow& row) {
  CheckRow(row);
  for (size_t i = 0; i < row.size(); ++i) {
    if (i > 0) Put('\t');
    const TExportValue& value = row[i];
    if (value.null) {
      Put("\\N");
      continue;
    }
    std::string plain;
    bool refused = false;
    switch (columns_[i].kind) {
      case TExportKind::Text:
      case TExportKind::Memo: PutCopyText(value.text); continue;
      case TExportKind::Integer:
      case TExportKind::Number:
        plain = ExportPlainNumber(value.text);
        refused = plain.empty() || !Fits(plain, types_[i]);
        break;
      case TExportKind::Date:
        refused = !ValidDate(value);
        if (!refused) plain = ExportIsoDate(value);
        break;
      case TExportKind::DateTime:
        refused = !ValidDate(value) || !ValidTime(value);
        if (!refused) plain = ExportIsoDate(value) + ' ' + ExportIsoTime(value);
        break;
      case TExportKind::Time:
        refused = !ValidTime(value);
        if (!refused) plain = ExportIsoTime(value);
        break;
      case TExportKind::Logical: plain = value.logical ? "t" : "f"; break;
      case TExportKind::Binary: plain = "\\N"; break;
    }
    if (refused) {
      ++refused_;
      plain = "\\N";
    }
    Put(plain);
  }
  Put('\n');
}

void TPgsqlWriter::Finish() {
  Put("\\.\nCOMMIT;\n");
  Close();
  if (refused_ > 0)
    warnings_.push_back(
        std::to_string(refused_) +
        " values PostgreSQL would refuse (numbers that are not numbers or too large for their column, "
        "dates or times that do not exist) were written as NULL.");
  if (droppedNul_ > 0)
    warnings_.push_back(std::to_string(droppedNul_) +
                        " NUL characters were left out of text values, as PostgreSQL text cannot hold them.");
}

}  // namespace norvale
