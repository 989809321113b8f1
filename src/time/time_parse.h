// Reading the timestamps and dates of attribute specs: RFC 3339 (section 5.6) date-time text and
// full-date text, into counts since 1970-01-01T00:00:00Z.
//
//   timestamp: YYYY-MM-DD "T" hh:mm:ss ["." one or more digits] ("Z" / +hh:mm / -hh:mm)
//              ("t" and "z" are accepted for "T" and "Z")
//   date:      YYYY-MM-DD
//
// Years 0001 to 9999 in the text; the month and the day must name a day of the proleptic
// Gregorian calendar; hours 00-23, minutes and seconds 00-59 (":60" is refused: there are no leap
// seconds in counts since the epoch); offset hours 00-23 and minutes 00-59 ("-00:00" reads as
// "Z"). A timestamp's instant, once its offset is applied, must also lie in years 0001 to 9999
// UTC: from TIMESTAMP_SECONDS_MIN to the last nanosecond of TIMESTAMP_SECONDS_MAX.
//
// Errors are values that name what is wrong and what was expected, and the byte index of the
// fault: of the first bad character, of the start of a field whose value is out of range, or the
// text's length when it ends too soon. Pure functions; they allocate only an error's message and
// may run on any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "time/civil_time.h"
#include "time/time_unit.h"

namespace tessary {

struct [[nodiscard]] TextError {
  std::size_t offset = 0;  // byte index inside the text of the fault, or its length
  std::string message;
};

// A point in time read from text: seconds + nanoseconds / 10^9 seconds since the epoch, or a
// little more when inexact.
struct Instant {
  std::int64_t seconds = 0;        // TIMESTAMP_SECONDS_MIN..TIMESTAMP_SECONDS_MAX, floor
  std::uint32_t nanoseconds = 0;   // 0..999999999
  bool inexact = false;            // the fraction had a nonzero digit past the ninth
};

std::variant<Instant, TextError> parse_timestamp(std::string_view text);

// Days since 1970-01-01: DATE_DAYS_MIN..DATE_DAYS_MAX.
std::variant<std::int32_t, TextError> parse_date(std::string_view text);

// The instant as a count of units since the epoch, the smallest count not before it (for the
// start of a range) or the largest not after it (for its end). Exact for every Instant: the
// counts lie within ±2.6 × 10^17, far from the limits of int64.
//
// For a range start..end with ceiling(start) <= floor(end), both counts lie in the range that
// write_timestamp accepts (TIMESTAMP_SECONDS_MIN * units per second to the last unit of
// TIMESTAMP_SECONDS_MAX); a start within the last unit of year 9999 can round up past it, and
// then the range holds no count.
std::int64_t units_rounded_up(const Instant& instant, TimeUnit unit);
std::int64_t units_rounded_down(const Instant& instant, TimeUnit unit);

}  // namespace tessary
