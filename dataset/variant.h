// TVariant: one value whose type is known only when the program runs (null,
// a logical, a whole number, a floating-point number, a date-time, UTF-8
// text), or a one-dimensional list of such values. Locate and Lookup take
// their key values in it and Lookup answers in it, because the key fields'
// types are only known from the field names the caller passes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/date_time.h"

namespace norvale {

enum TVarType { varNull, varBoolean, varInteger, varFloat, varDate, varString, varArray };

class TVariant {
 public:
  TVariant() = default;
  TVariant(bool value) : type_(varBoolean), integer_(value ? 1 : 0) {}
  TVariant(int value) : type_(varInteger), integer_(value) {}
  TVariant(int64_t value) : type_(varInteger), integer_(value) {}
  TVariant(double value) : type_(varFloat), float_(value) {}
  TVariant(const char* utf8) : type_(varString), text_(utf8 ? utf8 : "") {}
  TVariant(std::string utf8) : type_(varString), text_(std::move(utf8)) {}
  static TVariant Date(TDateTime value);
  static TVariant Array(std::vector<TVariant> items);

  TVarType Type() const { return type_; }
  bool IsNull() const { return type_ == varNull; }
  bool IsArray() const { return type_ == varArray; }

  // The stored value of its own type; others give 0, false or "".
  bool Boolean() const { return type_ == varBoolean && integer_ != 0; }
  int64_t Integer() const { return type_ == varInteger ? integer_ : 0; }
  // Floats and date-times.
  double Float() const { return type_ == varFloat || type_ == varDate ? float_ : 0; }
  const std::string& String() const;
  const std::vector<TVariant>& Items() const { return items_; }

  // The value as text: null is empty, logicals "True"/"False", numbers in
  // the shortest form that reads back the same, dates as the grid shows
  // them. An array has no text form and gives "".
  std::string ToText() const;

  // Same type and same value (NaN equals nothing); arrays item by item.
  bool operator==(const TVariant& other) const;

 private:
  TVarType type_ = varNull;
  int64_t integer_ = 0;
  double float_ = 0;
  std::string text_;
  std::vector<TVariant> items_;
};

}  // namespace norvale
