#include "engine/date_time.h"

#include <cmath>

namespace norvale {

namespace {

// Days from 1970-01-01 for a proleptic Gregorian date (H. Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

constexpr int64_t kDayNumberOfUnixEpoch = 719163;  // 1970-01-01

}  // namespace

bool IsValidDate(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int limit = kDays[month - 1];
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month == 2 && leap) limit = 29;
  return day <= limit;
}

bool IsValidTime(int hour, int minute, int second, int millisecond) {
  return hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60 &&
         millisecond >= 0 && millisecond < 1000;
}

int32_t DayNumberFromDate(int year, int month, int day) {
  return static_cast<int32_t>(DaysFromCivil(year, unsigned(month), unsigned(day)) + kDayNumberOfUnixEpoch);
}

void DateFromDayNumber(int64_t dayNumber, int* year, int* month, int* day) {
  int64_t y;
  unsigned m, d;
  CivilFromDays(dayNumber - kDayNumberOfUnixEpoch, &y, &m, &d);
  *year = static_cast<int>(y);
  *month = static_cast<int>(m);
  *day = static_cast<int>(d);
}

bool EncodeDateTime(const TDateParts& p, TDateTime* out) {
  *out = 0;
  if (!IsValidDate(p.year, p.month, p.day) || !IsValidTime(p.hour, p.minute, p.second, p.millisecond))
    return false;
  int64_t ms = ((int64_t(p.hour) * 60 + p.minute) * 60 + p.second) * 1000 + p.millisecond;
  *out = DateTimeFromDayMs(DayNumberFromDate(p.year, p.month, p.day), ms);
  return true;
}

void DateTimeToDayMs(TDateTime value, int64_t* dayNumber, int64_t* msOfDay) {
  if (!std::isfinite(value) || std::fabs(value) > 4.0e6) value = 0;  // far outside 0001..9999
  double whole = std::trunc(value);
  int64_t ms = std::llround(std::fabs(value - whole) * double(kMsPerDay));
  int64_t days = static_cast<int64_t>(whole);
  if (ms >= kMsPerDay) {  // rounding reached the next midnight
    ms -= kMsPerDay;
    days += value < 0 ? -1 : 1;
  }
  *dayNumber = days + kDayNumberOf18991230;
  *msOfDay = ms;
}

TDateTime DateTimeFromDayMs(int64_t dayNumber, int64_t msOfDay) {
  double days = double(dayNumber - kDayNumberOf18991230);
  double frac = double(msOfDay) / double(kMsPerDay);
  // Before 1899-12-30 the fraction still counts forward from midnight, so the
  // whole part is negative and the time is added as its absolute value.
  return days < 0 ? days - frac : days + frac;
}

TDateParts DecodeDateTime(TDateTime value) {
  int64_t dayNumber, ms;
  DateTimeToDayMs(value, &dayNumber, &ms);
  TDateParts p;
  DateFromDayNumber(dayNumber, &p.year, &p.month, &p.day);
  p.hour = static_cast<int>(ms / 3600000);
  p.minute = static_cast<int>(ms / 60000 % 60);
  p.second = static_cast<int>(ms / 1000 % 60);
  p.millisecond = static_cast<int>(ms % 1000);
  return p;
}

}  // namespace norvale
