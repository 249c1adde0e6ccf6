#include "app/export/export_value.h"

#include <algorithm>

#include "engine/date_time.h"

namespace norvale {

namespace {
void Pad(std::string& out, int v, int width) {
  std::string digits = std::to_string(v < 0 ? -v : v);
  if (v < 0) out += '-';
  for (size_t i = digits.size(); i < static_cast<size_t>(width); ++i) out += '0';
  out += digits;
}
}  // namespace

std::string ExportDateText(const TExportValue& v) {
  std::string out;
  Pad(out, v.day, 2);
  out += '/';
  Pad(out, v.month, 2);
  out += '/';
  Pad(out, v.year, 4);
  return out;
}

size_t ExportDateChars(const TExportValue& v, char* out) {
  if (v.year < 0 || v.year > 9999 || v.month < 0 || v.month > 99 || v.day < 0 || v.day > 99) {
    const std::string text = ExportDateText(v);
    const size_t n = std::min<size_t>(text.size(), 16);
    text.copy(out, n);
    return n;
  }
  const char digits[10] = {char('0' + v.day / 10),   char('0' + v.day % 10),          '/',
                           char('0' + v.month / 10), char('0' + v.month % 10),        '/',
                           char('0' + v.year / 1000), char('0' + v.year / 100 % 10), char('0' + v.year / 10 % 10),
                           char('0' + v.year % 10)};
  std::copy(digits, digits + 10, out);
  return 10;
}

std::string ExportTimeText(const TExportValue& v) {
  std::string out;
  Pad(out, v.hour, 2);
  out += ':';
  Pad(out, v.minute, 2);
  out += ':';
  Pad(out, v.second, 2);
  return out;
}

std::string ExportDateTimeText(const TExportValue& v) { return ExportDateText(v) + ' ' + ExportTimeText(v); }

std::string ExportIsoDate(const TExportValue& v) {
  std::string out;
  Pad(out, v.year, 4);
  out += '-';
  Pad(out, v.month, 2);
  out += '-';
  Pad(out, v.day, 2);
  return out;
}

std::string ExportIsoTime(const TExportValue& v) {
  std::string out;
  Pad(out, v.hour, 2);
  out += ':';
  Pad(out, v.minute, 2);
  out += ':';
  Pad(out, v.second, 2);
  if (v.millisecond != 0) {
    out += '.';
    Pad(out, v.millisecond, 3);
  }
  return out;
}

int64_t ExportDaySerial(const TExportValue& v) {
  if (!IsValidDate(v.year, v.month, v.day)) return -1;
  return int64_t(DayNumberFromDate(v.year, v.month, v.day)) - DayNumberFromDate(1899, 12, 30);
}

double ExportDayFraction(const TExportValue& v) {
  return (v.hour * 3600.0 + v.minute * 60.0 + v.second + v.millisecond / 1000.0) / 86400.0;
}

bool ExportExactDouble(int64_t value, double& out) {
  out = static_cast<double>(value);
  constexpr int64_t kExactLimit = int64_t(1) << 53;
  if (value >= -kExactLimit && value <= kExactLimit) return true;
  // Past 2^53 only some values are doubles; 2^63 itself is not an int64.
  if (out >= 9223372036854775807.0 || out < -9223372036854775807.0) return false;
  return static_cast<int64_t>(out) == value;
}

std::string ExportLogicalText(const TExportValue& v) { return v.logical ? "True" : "False"; }

std::string ExportGroupedNumber(const std::string& plain) {
  size_t start = (!plain.empty() && (plain[0] == '-' || plain[0] == '+')) ? 1 : 0;
  size_t end = start;
  while (end < plain.size() && plain[end] >= '0' && plain[end] <= '9') ++end;
  // Exponent forms and anything that is not a plain number stay as they are.
  if (end == start || (end < plain.size() && plain[end] != '.')) return plain;
  std::string out = plain.substr(0, start);
  const size_t digits = end - start;
  for (size_t i = 0; i < digits; ++i) {
    if (i > 0 && (digits - i) % 3 == 0) out += ',';
    out += plain[start + i];
  }
  out += plain.substr(end);
  return out;
}

std::string ExportDisplayText(const TExportColumn& column, const TExportValue& v, bool grouped) {
  if (v.null) return {};
  switch (column.kind) {
    case TExportKind::Integer:
    case TExportKind::Number:
      return grouped ? ExportGroupedNumber(v.text) : v.text;
    case TExportKind::Date:
      return ExportDateText(v);
    case TExportKind::DateTime:
      return ExportDateTimeText(v);
    case TExportKind::Time:
      return ExportTimeText(v);
    case TExportKind::Logical:
      return ExportLogicalText(v);
    case TExportKind::Binary:
      return {};
    case TExportKind::Text:
    case TExportKind::Memo:
      break;
  }
  return v.text;
}

}  // namespace norvale
