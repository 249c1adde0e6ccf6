#include "engine/value_text.h"

#include <charconv>

namespace norvale {

void AppendPadded(std::string& out, int v, int width) {
  char buf[12];
  // The magnitude in unsigned arithmetic: -INT_MIN does not exist.
  const unsigned magnitude = v < 0 ? 0u - static_cast<unsigned>(v) : static_cast<unsigned>(v);
  auto r = std::to_chars(buf, buf + sizeof buf, magnitude);
  if (v < 0) out += '-';
  for (int n = static_cast<int>(r.ptr - buf); n < width; ++n) out += '0';
  out.append(buf, r.ptr);
}

void AppendDateText(std::string& out, int year, int month, int day) {
  AppendPadded(out, year, 4);
  out += '-';
  AppendPadded(out, month, 2);
  out += '-';
  AppendPadded(out, day, 2);
}

void AppendTimeText(std::string& out, int hour, int minute, int second, int millisecond) {
  AppendPadded(out, hour, 2);
  out += ':';
  AppendPadded(out, minute, 2);
  out += ':';
  AppendPadded(out, second, 2);
  if (millisecond) {
    out += '.';
    AppendPadded(out, millisecond, 3);
  }
}

}  // namespace norvale
