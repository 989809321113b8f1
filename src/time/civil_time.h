// Civil time: proleptic Gregorian dates as counts of days since 1970-01-01, and back.
//
// The conversions are Howard Hinnant's, "chrono-Compatible Low-Level Date Algorithms"
// (days_from_civil and civil_from_days): the calendar is split into 400-year eras of 146097 days
// that start on 1 March, so that the leap day ends the year of the era and the month lengths from
// March on follow the linear rule (153 m + 2) / 5. They are exact for every year in
// CIVIL_YEAR_MIN..CIVIL_YEAR_MAX, which keeps every intermediate well inside 32 bits.
//
// All functions are constexpr, pure and safe on any thread. The range requirements are checked
// by TESSARY_ASSERT in checked builds.
#pragma once

#include <cstdint>

#include "base/assert.h"

namespace tessary {

inline constexpr std::int32_t CIVIL_YEAR_MIN = -1000000;
inline constexpr std::int32_t CIVIL_YEAR_MAX = 1000000;

struct CivilDate {
  std::int32_t year = 1970;  // astronomical numbering: year 0 is 1 BC
  std::uint32_t month = 1;   // 1..12
  std::uint32_t day = 1;     // 1..days_in_month(year, month)
};

constexpr bool is_leap_year(std::int32_t year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

// Requires: 1 <= month <= 12. 28 to 31.
constexpr std::uint32_t days_in_month(std::int32_t year, std::uint32_t month) {
  TESSARY_ASSERT(1 <= month && month <= 12);
  if (month == 2) return is_leap_year(year) ? 29 : 28;
  return month == 4 || month == 6 || month == 9 || month == 11 ? 30 : 31;
}

// Requires: CIVIL_YEAR_MIN <= year <= CIVIL_YEAR_MAX, 1 <= month <= 12,
// 1 <= day <= days_in_month(year, month). Days from 1970-01-01 to the date (negative before).
constexpr std::int32_t days_from_civil(std::int32_t year, std::uint32_t month, std::uint32_t day) {
  TESSARY_ASSERT(CIVIL_YEAR_MIN <= year && year <= CIVIL_YEAR_MAX);
  TESSARY_ASSERT(1 <= month && month <= 12);
  TESSARY_ASSERT(1 <= day && day <= days_in_month(year, month));
  const std::int32_t march_year = year - (month <= 2 ? 1 : 0);  // January and February end it
  const std::int32_t era = (march_year >= 0 ? march_year : march_year - 399) / 400;  // floor
  const auto year_of_era = static_cast<std::uint32_t>(march_year - era * 400);
  TESSARY_ASSERT(year_of_era <= 399);
  const std::uint32_t march_month = month > 2 ? month - 3 : month + 9;  // 0 is March
  const std::uint32_t day_of_year = (153 * march_month + 2) / 5 + day - 1;
  TESSARY_ASSERT(day_of_year <= 365);
  const std::uint32_t day_of_era =
      year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  TESSARY_ASSERT(day_of_era <= 146096);
  // 719468: days from 0000-03-01, the start of era 0, to 1970-01-01.
  return era * 146097 + static_cast<std::int32_t>(day_of_era) - 719468;
}

// The date of a day of a 400-year era (day 0 is 1 March of the era's year 0), with the year
// counted within the era. Requires: day_of_era <= 146096. The inner step of civil_from_days, which
// the timestamp writer calls directly for its never-negative day counts.
constexpr CivilDate civil_from_day_of_era(std::uint32_t day_of_era) {
  TESSARY_ASSERT(day_of_era <= 146096);
  // Removing the era's leap days (one per 1460 days, less one per 36524, plus the era's last)
  // leaves 365 days per year.
  const std::uint32_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  TESSARY_ASSERT(year_of_era <= 399);
  const std::uint32_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  TESSARY_ASSERT(day_of_year <= 365);
  const std::uint32_t march_month = (5 * day_of_year + 2) / 153;  // inverse of (153 m + 2) / 5
  TESSARY_ASSERT(march_month <= 11);
  const std::uint32_t day = day_of_year - (153 * march_month + 2) / 5 + 1;
  const std::uint32_t month = march_month < 10 ? march_month + 3 : march_month - 9;
  return {static_cast<std::int32_t>(year_of_era + (month <= 2 ? 1 : 0)), month, day};
}

// The day count of days_from_civil for the earliest and the latest date of its range.
inline constexpr std::int32_t CIVIL_DAYS_MIN = days_from_civil(CIVIL_YEAR_MIN, 1, 1);
inline constexpr std::int32_t CIVIL_DAYS_MAX = days_from_civil(CIVIL_YEAR_MAX, 12, 31);

// Requires: CIVIL_DAYS_MIN <= days <= CIVIL_DAYS_MAX. The date `days` after 1970-01-01.
constexpr CivilDate civil_from_days(std::int32_t days) {
  TESSARY_ASSERT(CIVIL_DAYS_MIN <= days && days <= CIVIL_DAYS_MAX);
  const std::int32_t since_era_zero = days + 719468;  // days since 0000-03-01
  const std::int32_t era =
      (since_era_zero >= 0 ? since_era_zero : since_era_zero - 146096) / 146097;  // floor
  CivilDate date =
      civil_from_day_of_era(static_cast<std::uint32_t>(since_era_zero - era * 146097));
  date.year += era * 400;
  return date;
}

// The dates that attribute specs and output texts may carry: years 0001 to 9999, the years of
// four-digit text.
inline constexpr std::int32_t TEXT_YEAR_MIN = 1;
inline constexpr std::int32_t TEXT_YEAR_MAX = 9999;
inline constexpr std::int32_t DATE_DAYS_MIN = days_from_civil(TEXT_YEAR_MIN, 1, 1);     // -719162
inline constexpr std::int32_t DATE_DAYS_MAX = days_from_civil(TEXT_YEAR_MAX, 12, 31);  // 2932896

// 0001-01-01T00:00:00Z and 9999-12-31T23:59:59Z in seconds since 1970-01-01T00:00:00Z, the
// span of timestamp values.
inline constexpr std::int64_t TIMESTAMP_SECONDS_MIN = std::int64_t{DATE_DAYS_MIN} * 86400;
inline constexpr std::int64_t TIMESTAMP_SECONDS_MAX = std::int64_t{DATE_DAYS_MAX} * 86400 + 86399;

static_assert(days_from_civil(1970, 1, 1) == 0);
static_assert(DATE_DAYS_MIN == -719162 && DATE_DAYS_MAX == 2932896);

}  // namespace tessary
