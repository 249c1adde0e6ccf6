// Calendar arithmetic on the two date forms the field encodings use:
// the date-time double (days since 1899-12-30, fraction = time of day) and the
// day number (0001-01-01 is day 1, proleptic Gregorian calendar).
#pragma once

#include <cstdint>

namespace norvale {

using TDateTime = double;

inline constexpr int32_t kDayNumberOf18991230 = 693594;
inline constexpr int32_t kJulianDayOffset = 1721425;  // Julian day = day number + this
inline constexpr int64_t kMsPerDay = 86400000;

struct TDateParts {
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

bool IsValidDate(int year, int month, int day);
bool IsValidTime(int hour, int minute, int second, int millisecond);
// Day number of a valid date.
int32_t DayNumberFromDate(int year, int month, int day);
void DateFromDayNumber(int64_t dayNumber, int* year, int* month, int* day);

// Builds a date-time; false (and *out = 0) for an impossible date or time.
bool EncodeDateTime(const TDateParts& parts, TDateTime* out);
// Splits a date-time into calendar parts (milliseconds rounded).
TDateParts DecodeDateTime(TDateTime value);

// Whole days and the milliseconds of the day of a date-time, the way the
// timestamp encodings need them: day number, and ms since midnight.
void DateTimeToDayMs(TDateTime value, int64_t* dayNumber, int64_t* msOfDay);
TDateTime DateTimeFromDayMs(int64_t dayNumber, int64_t msOfDay);

}  // namespace norvale
