#include "engine/field_convert.h"

#include <cstring>

#include "engine/exceptions.h"
#include "engine/messages.h"

namespace norvale {

namespace {

bool IsMemoLike(const TDbfFieldDef& f) {
  const char t = f.NativeFieldType();
  return t == 'M' || t == 'G' || (t == 'B' && f.Version() != xFoxPro);
}

bool IsDecimal(const TDbfFieldDef& f) { return f.NativeFieldType() == 'N' || f.NativeFieldType() == 'F'; }

bool IsPlainText(const TDbfFieldDef& f) { return f.NativeFieldType() == 'C'; }

bool HasTextForm(const TDbfFieldDef& f) {
  const char t = f.NativeFieldType();
  return IsDecimal(f) || t == 'D' || t == 'L';
}

std::string Trimmed(const uint8_t* p, int n) {
  int b = 0, e = n;
  while (b < e && (p[b] == ' ' || p[b] == 0)) ++b;
  while (e > b && (p[e - 1] == ' ' || p[e - 1] == 0)) --e;
  return std::string(reinterpret_cast<const char*>(p) + b, static_cast<size_t>(e - b));
}

struct TDecimal {
  bool negative = false;
  std::string whole;  // digits, no leading zeros ("" for zero)
  std::string fraction;
};

bool ParseDecimal(const std::string& text, TDecimal& d) {
  size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) d.negative = text[i++] == '-';
  bool digits = false;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    if (!(d.whole.empty() && text[i] == '0')) d.whole += text[i];
    digits = true;
    ++i;
  }
  if (i < text.size() && (text[i] == '.' || text[i] == ',')) {
    ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      d.fraction += text[i++];
      digits = true;
    }
  }
  return digits && i == text.size();
}

// Rounds half away from zero to `decimals` places and writes the number as
// a table stores it; empty when it needs more than `width` characters.
std::string FormatDecimal(TDecimal d, int width, int decimals) {
  if (static_cast<int>(d.fraction.size()) > decimals) {
    const bool up = d.fraction[static_cast<size_t>(decimals)] >= '5';
    d.fraction.resize(static_cast<size_t>(decimals));
    if (up) {
      std::string all = d.whole + d.fraction;
      int k = static_cast<int>(all.size()) - 1;
      while (k >= 0 && all[static_cast<size_t>(k)] == '9') all[static_cast<size_t>(k--)] = '0';
      if (k < 0)
        all.insert(all.begin(), '1');
      else
        ++all[static_cast<size_t>(k)];
      d.whole = all.substr(0, all.size() - d.fraction.size());
      d.fraction = all.substr(all.size() - d.fraction.size());
    }
  }
  d.fraction.resize(static_cast<size_t>(decimals), '0');
  const bool zero = d.whole.find_first_not_of('0') == std::string::npos && d.fraction.find_first_not_of('0') == std::string::npos;
  std::string text = (d.negative && !zero ? "-" : "") + (d.whole.empty() ? std::string("0") : d.whole);
  if (decimals > 0) text += "." + d.fraction;
  if (static_cast<int>(text.size()) > width && d.whole.empty() && decimals > 0) {
    // "0.50" one character too wide is stored as ".50", as other programs do.
    text.erase(text.find('0'), 1);
  }
  if (static_cast<int>(text.size()) > width) return {};
  return text;
}

std::string DoesNotFit(const std::string& value, const TDbfFieldDef& to) {
  return FormatMessage(msg::kValueDoesNotFit, value.c_str(), to.FieldName().c_str(), to.Size(), to.Precision());
}

void PutRight(const std::string& text, const TDbfFieldDef& to, uint8_t* out) {
  std::memset(out, ' ', static_cast<size_t>(to.Size()));
  std::memcpy(out + to.Size() - static_cast<int>(text.size()), text.data(), text.size());
}

void PutLeft(const std::string& text, const TDbfFieldDef& to, uint8_t* out) {
  std::memset(out, ' ', static_cast<size_t>(to.Size()));
  std::memcpy(out, text.data(), text.size());
}

std::string ToNumber(const std::string& text, const TDbfFieldDef& to, uint8_t* out) {
  if (text.empty()) return {};  // no value stays no value
  TDecimal d;
  if (!ParseDecimal(text, d)) return FormatMessage(msg::kValueNotANumber, text.c_str(), to.FieldName().c_str());
  const std::string stored = FormatDecimal(d, to.Size(), to.Precision());
  if (stored.empty()) return DoesNotFit(text, to);
  PutRight(stored, to, out);
  return {};
}

bool ValidDate(const std::string& digits) {
  if (digits.size() != 8 || digits.find_first_not_of("0123456789") != std::string::npos) return false;
  const int month = std::stoi(digits.substr(4, 2));
  const int day = std::stoi(digits.substr(6, 2));
  return month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

}  // namespace

TConversion ConversionFor(const TDbfFieldDef& from, const TDbfFieldDef& to) {
  if (IsMemoLike(from) || IsMemoLike(to))
    return from.NativeFieldType() == to.NativeFieldType() ? TConversion::kMemo : TConversion::kNone;
  if (from.NativeFieldType() == to.NativeFieldType() && from.Size() == to.Size() && from.Precision() == to.Precision())
    return TConversion::kBytes;
  if (IsDecimal(from) && IsDecimal(to)) return TConversion::kNumber;
  if (IsPlainText(from) && IsPlainText(to)) return TConversion::kText;
  if (IsPlainText(to) && HasTextForm(from)) return TConversion::kToText;
  if (IsPlainText(from) && HasTextForm(to)) return TConversion::kFromText;
  return TConversion::kNone;
}

std::string ConvertValue(TConversion how, const TDbfFieldDef& from, const uint8_t* in, const TDbfFieldDef& to,
                         uint8_t* out) {
  switch (how) {
    case TConversion::kBytes:
      std::memcpy(out, in, static_cast<size_t>(to.Size()));
      return {};
    case TConversion::kNumber:
      return ToNumber(Trimmed(in, from.Size()), to, out);
    case TConversion::kText: {
      int n = from.Size();
      while (n > 0 && (in[n - 1] == ' ' || in[n - 1] == 0)) --n;
      if (n > to.Size()) return DoesNotFit("\"" + std::string(reinterpret_cast<const char*>(in), static_cast<size_t>(n)) + "\"", to);
      std::memset(out, ' ', static_cast<size_t>(to.Size()));
      std::memcpy(out, in, static_cast<size_t>(n));
      return {};
    }
    case TConversion::kToText: {
      const std::string text = Trimmed(in, from.Size());
      if (static_cast<int>(text.size()) > to.Size()) return DoesNotFit("\"" + text + "\"", to);
      PutLeft(text, to, out);
      return {};
    }
    case TConversion::kFromText: {
      const std::string text = Trimmed(in, from.Size());
      const char t = to.NativeFieldType();
      if (t == 'N' || t == 'F') return ToNumber(text, to, out);
      if (text.empty()) return {};
      if (t == 'D') {
        std::string digits = text;
        if (digits.size() == 10 && digits[4] == '-' && digits[7] == '-') digits = digits.substr(0, 4) + digits.substr(5, 2) + digits.substr(8, 2);
        if (!ValidDate(digits)) return FormatMessage(msg::kValueNotADate, text.c_str(), to.FieldName().c_str());
        std::memcpy(out, digits.data(), 8);
        return {};
      }
      const char c = text.size() == 1 ? text[0] : 0;
      if (c == 'T' || c == 't' || c == 'Y' || c == 'y') out[0] = 'T';
      else if (c == 'F' || c == 'f' || c == 'N' || c == 'n') out[0] = 'F';
      else if (c == '?') out[0] = '?';
      else return FormatMessage(msg::kValueNotALogical, text.c_str(), to.FieldName().c_str());
      return {};
    }
    default:
      return FormatMessage(msg::kNoConversion, from.FieldName().c_str(), from.NativeFieldType(), to.NativeFieldType());
  }
}

}  // namespace norvale
