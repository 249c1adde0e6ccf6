#include "dataset/variant.h"

#include <charconv>
#include <cmath>

#include "dataset/field.h"

namespace norvale {

TVariant TVariant::Date(TDateTime value) {
  TVariant v;
  v.type_ = varDate;
  v.float_ = value;
  return v;
}

TVariant TVariant::Array(std::vector<TVariant> items) {
  TVariant v;
  v.type_ = varArray;
  v.items_ = std::move(items);
  return v;
}

const std::string& TVariant::String() const {
  static const std::string kEmpty;
  return type_ == varString ? text_ : kEmpty;
}

std::string TVariant::ToText() const {
  char number[64];
  switch (type_) {
    case varBoolean: return integer_ ? "True" : "False";
    case varInteger: {
      const auto r = std::to_chars(number, number + sizeof number, integer_);
      return std::string(number, r.ptr);
    }
    case varFloat: {
      if (!std::isfinite(float_)) return float_ != float_ ? "NaN" : (float_ < 0 ? "-Inf" : "Inf");
      const auto r = std::to_chars(number, number + sizeof number, float_);
      return std::string(number, r.ptr);
    }
    case varDate:
      // A date without a time of day reads as the grid shows a date field.
      return FormatDateTimeText(float_ == std::floor(float_) ? ftDate : ftDateTime, float_);
    case varString: return text_;
    default: return std::string();
  }
}

bool TVariant::operator==(const TVariant& other) const {
  if (type_ != other.type_) return false;
  switch (type_) {
    case varNull: return true;
    case varBoolean:
    case varInteger: return integer_ == other.integer_;
    case varFloat:
    case varDate: return float_ == other.float_;
    case varString: return text_ == other.text_;
    case varArray: return items_ == other.items_;
  }
  return false;
}

}  // namespace norvale
