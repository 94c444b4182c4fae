// Calendar arithmetic on Jet Date/Time values (days since 1899-12-30, time as fraction).
// For negative values the fraction is still the time of day: -1.75 is 1899-12-29 18:00.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace bv::sql {

struct CivilTime {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0;
};

// Valid Date range: 100-01-01 .. 9999-12-31 23:59:59.
inline constexpr double kMinDate = -657434.0;
inline constexpr double kMaxDate = 2958465.99999;

// Day number of a proleptic Gregorian date (month/day may be out of range and roll over).
int64_t daysFromCivil(int64_t year, int64_t month, int64_t day);
CivilTime toCivil(double dateTime);           // rounds to the nearest second
double fromCivil(const CivilTime& c);         // negative days keep a positive time of day
double splitDay(double dateTime, double* timeOfDay);  // returns the day part (toward zero)
double timeOfDay(double dateTime);  // the time part as a fraction of a day, whole seconds

// Parses date/time text in the US locale: m/d/yyyy, m/d/yy, m/d, yyyy-mm-dd, yyyy/m/d,
// d-mmm-yyyy, mmmm d, yyyy, each optionally followed by a time h:nn[:ss] [AM|PM], or a
// time alone. Two-digit years 00-29 mean 2000-2029, 30-99 mean 1930-1999.
std::optional<double> parseDateTime(std::u16string_view text);

int weekday(double dateTime, int firstDayOfWeek = 1);  // 1..7, Sunday = 1 by default

// Calendar day of a date (time of day rounded to the second may carry into the next day).
int64_t dayNumber(double dateTime);
// First day (day number) of the week that holds `day`.
int64_t weekStart(int64_t day, int firstDayOfWeek);
// Week of the year, 1..54: firstWeekOfYear 1 = the week of January 1, 2 = the first week
// with four days in the new year, 3 = the first full week. Days before week 1 count in
// the last week of the year before.
int weekOfYear(double dateTime, int firstDayOfWeek, int firstWeekOfYear);

// The stored form keeps the time of day positive for days before 1899-12-30; the "linear"
// form is a plain timeline (day + time) on which time intervals can be added.
double toLinear(double dateTime);
double fromLinear(double linear);
int daysInMonth(int year, int month);

// Names in the fixed US English locale; month 1..12, day 1 (Sunday)..7.
std::u16string_view monthName(int month);
std::u16string_view dayName(int dayOfWeek);

}  // namespace bv::sql
