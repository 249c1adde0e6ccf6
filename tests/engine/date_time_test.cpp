#include <gtest/gtest.h>

#include "engine/date_time.h"

namespace norvale {
namespace {

TEST(DayNumbers, FixedPoints) {
  EXPECT_EQ(DayNumberFromDate(1, 1, 1), 1);
  EXPECT_EQ(DayNumberFromDate(1899, 12, 30), kDayNumberOf18991230);
  EXPECT_EQ(DayNumberFromDate(2000, 1, 1), 730120);
  // The Julian day of 2000-01-01 is 2451545.
  EXPECT_EQ(DayNumberFromDate(2000, 1, 1) + kJulianDayOffset, 2451545);
  EXPECT_EQ(DayNumberFromDate(1900, 3, 1) - DayNumberFromDate(1900, 2, 28), 1);
  EXPECT_EQ(DayNumberFromDate(2000, 3, 1) - DayNumberFromDate(2000, 2, 28), 2);
}

TEST(DayNumbers, RoundTripAcrossTheCalendar) {
  for (int64_t day = 1; day <= DayNumberFromDate(9999, 12, 31); day += 97) {
    int y, m, d;
    DateFromDayNumber(day, &y, &m, &d);
    ASSERT_TRUE(IsValidDate(y, m, d)) << day;
    ASSERT_EQ(DayNumberFromDate(y, m, d), day);
  }
}

TEST(DayNumbers, Validity) {
  struct {
    int y, m, d;
    bool valid;
  } cases[] = {{2024, 2, 29, true}, {2023, 2, 29, false}, {1900, 2, 29, false}, {2000, 2, 29, true},
               {2024, 4, 31, false}, {2024, 12, 31, true}, {2024, 13, 1, false}, {2024, 0, 1, false},
               {2024, 1, 0, false},  {0, 1, 1, false},     {1, 1, 1, true},      {9999, 12, 31, true},
               {10000, 1, 1, false}};
  for (const auto& c : cases) EXPECT_EQ(IsValidDate(c.y, c.m, c.d), c.valid) << c.y << "-" << c.m << "-" << c.d;
}

TEST(DateTimeValues, EncodeKnownValues) {
  struct {
    TDateParts parts;
    double want;
  } cases[] = {
      {{1899, 12, 30, 0, 0, 0, 0}, 0.0},
      {{2000, 1, 1, 12, 0, 0, 0}, 36526.5},
      {{1899, 12, 29, 6, 0, 0, 0}, -1.25},  // before the epoch the time still counts forward
      {{1900, 1, 1, 18, 0, 0, 0}, 2.75},
  };
  for (const auto& c : cases) {
    TDateTime v = -99;
    EXPECT_TRUE(EncodeDateTime(c.parts, &v));
    EXPECT_DOUBLE_EQ(v, c.want) << c.parts.year << "-" << c.parts.month << "-" << c.parts.day;
    const TDateParts back = DecodeDateTime(v);
    EXPECT_EQ(back.year, c.parts.year);
    EXPECT_EQ(back.month, c.parts.month);
    EXPECT_EQ(back.day, c.parts.day);
    EXPECT_EQ(back.hour, c.parts.hour);
  }
}

TEST(DateTimeValues, ImpossibleDatesAndTimesGiveZero) {
  TDateParts cases[] = {{2023, 2, 29}, {2024, 1, 1, 24}, {2024, 1, 1, 0, 60}, {2024, 1, 1, 0, 0, 60},
                        {2024, 1, 1, 0, 0, 0, 1000}, {0, 0, 0}};
  for (const TDateParts& p : cases) {
    TDateTime v = 123;
    EXPECT_FALSE(EncodeDateTime(p, &v));
    EXPECT_EQ(v, 0.0);
  }
}

TEST(DateTimeValues, DayAndMillisecondsRoundTrip) {
  struct {
    int64_t day;
    int64_t ms;
  } cases[] = {{730120, 43200000},  {kDayNumberOf18991230, 0}, {kDayNumberOf18991230 - 1, 21600000},
               {1, 0},              {1, 86399999},             {DayNumberFromDate(9999, 12, 31), 86399000},
               {693000, 1234}};
  for (const auto& c : cases) {
    int64_t day = -1, ms = -1;
    DateTimeToDayMs(DateTimeFromDayMs(c.day, c.ms), &day, &ms);
    EXPECT_EQ(day, c.day);
    EXPECT_EQ(ms, c.ms) << "day " << c.day;
  }
}

TEST(DateTimeValues, RoundingUpToMidnightMovesToTheNextDay) {
  int64_t day, ms;
  DateTimeToDayMs(36526.0 - 1e-10, &day, &ms);
  EXPECT_EQ(day, 730120);
  EXPECT_EQ(ms, 0);
  DateTimeToDayMs(-2.0 + 1e-10, &day, &ms);  // 1899-12-28 00:00 seen from below
  EXPECT_EQ(day, kDayNumberOf18991230 - 2);
  EXPECT_EQ(ms, 0);
}

TEST(DateTimeValues, NonFiniteValuesStayInsideTheCalendar) {
  for (double v : {1.0 / 0.0, -1.0 / 0.0, 0.0 / 0.0, 1e300, -1e300}) {
    int64_t day, ms;
    DateTimeToDayMs(v, &day, &ms);
    EXPECT_GE(day, 1);
    EXPECT_LE(day, DayNumberFromDate(9999, 12, 31));
    EXPECT_GE(ms, 0);
    EXPECT_LT(ms, kMsPerDay);
  }
}

}  // namespace
}  // namespace norvale
