// Timestamp and date text: the UTC text of timestamp and date values as the writers place it.
//
//   write_timestamp  2021-03-04T05:06:07Z (s), 2021-03-04T05:06:07.250Z (ms),
//                    2021-03-04T05:06:07.250000Z (us)
//   write_date       2021-03-04
//
// Each text has a fixed length for its unit. The fraction always has all the digits of the unit,
// so that texts of one attribute sort as their values do. Kept inline for the writers' per-value
// paths: no allocation, no division by a variable (each unit's divisions are by constants), digits
// two at a time from the table of number_tables. Pure; safe on any thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/assert.h"
#include "output/integer_text.h"
#include "time/civil_time.h"
#include "time/time_unit.h"

namespace tessary {

inline constexpr std::size_t DATE_TEXT_LENGTH = 10;           // "2021-03-04"
inline constexpr std::size_t TIMESTAMP_TEXT_LENGTH_S = 20;    // "2021-03-04T05:06:07Z"
inline constexpr std::size_t TIMESTAMP_TEXT_LENGTH_MS = 24;   // "2021-03-04T05:06:07.250Z"
inline constexpr std::size_t TIMESTAMP_TEXT_LENGTH_US = 27;   // "2021-03-04T05:06:07.250000Z"
inline constexpr std::size_t TIMESTAMP_TEXT_CAPACITY = TIMESTAMP_TEXT_LENGTH_US;

constexpr std::size_t timestamp_text_length(TimeUnit unit) {
  switch (unit) {
    case TimeUnit::Seconds: return TIMESTAMP_TEXT_LENGTH_S;
    case TimeUnit::Milliseconds: return TIMESTAMP_TEXT_LENGTH_MS;
    case TimeUnit::Microseconds: return TIMESTAMP_TEXT_LENGTH_US;
  }
  return TIMESTAMP_TEXT_LENGTH_S;
}

// The values write_timestamp accepts in a unit: 0001-01-01T00:00:00Z to the last unit of
// 9999-12-31T23:59:59Z.
constexpr std::int64_t timestamp_value_min(TimeUnit unit) {
  return TIMESTAMP_SECONDS_MIN * units_per_second(unit);
}
constexpr std::int64_t timestamp_value_max(TimeUnit unit) {
  return TIMESTAMP_SECONDS_MAX * units_per_second(unit) + units_per_second(unit) - 1;
}

namespace time_text {

// Days since 0000-03-01 for day 0 of 0001-01-01: the day counts below start from 0001-01-01 so
// that they are never negative, and their divisions need no floor correction for values before
// 1970.
inline constexpr std::uint32_t ERA_ZERO_TO_YEAR_ONE = 306;

// Writes YYYY-MM-DD for the date `days` after 0001-01-01. Requires: the date lies in year 9999 or
// before. Returns one past the text.
inline char* put_date_since_year_one(std::uint32_t days, char* out) {
  const std::uint32_t since_era_zero = days + ERA_ZERO_TO_YEAR_ONE;
  const std::uint32_t era = since_era_zero / 146097;
  const CivilDate date = civil_from_day_of_era(since_era_zero - era * 146097);
  const auto year = static_cast<std::uint32_t>(date.year) + era * 400;
  TESSARY_ASSERT(1 <= year && year <= 9999);
  integer_text::put_pair(out, year / 100);
  integer_text::put_pair(out + 2, year % 100);
  out[4] = '-';
  integer_text::put_pair(out + 5, date.month);
  out[7] = '-';
  integer_text::put_pair(out + 8, date.day);
  return out + DATE_TEXT_LENGTH;
}

// The timestamp text for a count of 1/PER_SECOND seconds since 1970-01-01T00:00:00Z.
template <std::uint32_t PER_SECOND>
inline char* put_timestamp(std::int64_t value, char* out) {
  constexpr std::int64_t first = TIMESTAMP_SECONDS_MIN * PER_SECOND;
  TESSARY_ASSERT(first <= value && value <= TIMESTAMP_SECONDS_MAX * PER_SECOND + PER_SECOND - 1);
  const auto since_year_one = static_cast<std::uint64_t>(value - first);
  // One 64-bit division by a constant splits off the day; then only microseconds need 64 bits.
  constexpr std::uint64_t per_day = std::uint64_t{86400} * PER_SECOND;
  const std::uint64_t days = since_year_one / per_day;
  const std::uint64_t of_day = since_year_one - days * per_day;
  const auto second_of_day = static_cast<std::uint32_t>(of_day / PER_SECOND);
  [[maybe_unused]] const auto fraction = static_cast<std::uint32_t>(of_day % PER_SECOND);
  out = put_date_since_year_one(static_cast<std::uint32_t>(days), out);
  const std::uint32_t hour = second_of_day / 3600;
  const std::uint32_t second_of_hour = second_of_day % 3600;
  out[0] = 'T';
  integer_text::put_pair(out + 1, hour);
  out[3] = ':';
  integer_text::put_pair(out + 4, second_of_hour / 60);
  out[6] = ':';
  integer_text::put_pair(out + 7, second_of_hour % 60);
  out += 9;
  if constexpr (PER_SECOND == 1000) {
    out[0] = '.';
    out[1] = static_cast<char>('0' + fraction / 100);
    integer_text::put_pair(out + 2, fraction % 100);
    out += 4;
  } else if constexpr (PER_SECOND == 1000000) {
    out[0] = '.';
    integer_text::put_pair(out + 1, fraction / 10000);
    integer_text::put_pair(out + 3, fraction / 100 % 100);
    integer_text::put_pair(out + 5, fraction % 100);
    out += 7;
  }
  *out = 'Z';
  return out + 1;
}

}  // namespace time_text

// Requires: timestamp_value_min(unit) <= value <= timestamp_value_max(unit), and out has room for
// timestamp_text_length(unit) bytes. Writes the UTC text of value; returns one past its end.
inline char* write_timestamp(std::int64_t value, TimeUnit unit, char* out) {
  switch (unit) {
    case TimeUnit::Seconds: return time_text::put_timestamp<1>(value, out);
    case TimeUnit::Milliseconds: return time_text::put_timestamp<1000>(value, out);
    case TimeUnit::Microseconds: return time_text::put_timestamp<1000000>(value, out);
  }
  return out;
}

// Requires: DATE_DAYS_MIN <= days <= DATE_DAYS_MAX, and out has room for DATE_TEXT_LENGTH bytes.
// Writes YYYY-MM-DD for the date `days` after 1970-01-01; returns one past its end.
inline char* write_date(std::int32_t days, char* out) {
  TESSARY_ASSERT(DATE_DAYS_MIN <= days && days <= DATE_DAYS_MAX);
  return time_text::put_date_since_year_one(static_cast<std::uint32_t>(days - DATE_DAYS_MIN), out);
}

}  // namespace tessary
