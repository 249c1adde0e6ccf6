// The text forms of dates and times, made in one place so that the grid,
// the dump, the clipboard and the exports show a value alike: ISO order,
// zero-padded, whatever the user's locale.
#pragma once

#include <string>

namespace norvale {

// `v` in at least `width` digits, a minus sign before them when negative.
void AppendPadded(std::string& out, int v, int width);
// YYYY-MM-DD.
void AppendDateText(std::string& out, int year, int month, int day);
// HH:MM:SS, and .mmm when `millisecond` is given and not zero.
void AppendTimeText(std::string& out, int hour, int minute, int second, int millisecond = 0);

}  // namespace norvale
