#include "time/time_parse.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <variant>

namespace tessary {
namespace {

namespace chr = std::chrono;

// Seconds since the epoch of a UTC civil time, by the standard library's calendar.
std::int64_t utc_seconds(int year, unsigned month, unsigned day, int hour, int minute,
                         int second) {
  const auto time = chr::sys_days{chr::year{year} / month / day} + chr::hours{hour} +
                    chr::minutes{minute} + chr::seconds{second};
  return time.time_since_epoch().count();
}

// An error case: the message, the offset, and the text with a caret under the offset.
struct ErrorCase {
  std::string_view message;
  std::size_t offset;
  std::string_view text;
};

template <typename Value>
void expect_errors(std::variant<Value, TextError> (*parse)(std::string_view),
                   std::initializer_list<ErrorCase> cases) {
  for (const ErrorCase& c : cases) {
    const auto result = parse(c.text);
    const auto* error = std::get_if<TextError>(&result);
    ASSERT_NE(error, nullptr) << c.text;
    EXPECT_EQ(error->message, c.message) << c.text;
    EXPECT_EQ(error->offset, c.offset) << c.text;
  }
}

TEST(ParseTimestamp, ErrorsNameTheFaultAndItsOffset) {
  expect_errors(parse_timestamp, {
      {"expected 4 digits of the year, as in 2021-03-04", 0,
       ""},
      //^ offset 0
      {"expected 4 digits of the year, as in 2021-03-04", 2,
       "21-03-04T05:06:07Z"},
      //  ^ offset 2
      {"expected 4 digits of the year, as in 2021-03-04", 0,
       "+2021-03-04T05:06:07Z"},
      //^ offset 0
      {"year 0000 is not 0001 to 9999", 0,
       "0000-03-04T05:06:07Z"},
      //^ offset 0
      {"expected `-` between the year and the month", 4,
       "20210-03-04T05:06:07Z"},
      //    ^ offset 4
      {"month 13 is not 01 to 12", 5,
       "2021-13-04T05:06:07Z"},
      //     ^ offset 5
      {"month 00 is not 01 to 12", 5,
       "2021-00-04T05:06:07Z"},
      //     ^ offset 5
      {"expected 2 digits of the month, as in 2021-03-04", 6,
       "2021-3-04T05:06:07Z"},
      //      ^ offset 6
      {"expected `-` between the month and the day", 7,
       "2021-03/04T05:06:07Z"},
      //       ^ offset 7
      {"day 32 is not 01 to 31", 8,
       "2021-03-32T05:06:07Z"},
      //        ^ offset 8
      {"day 00 is not 01 to 31", 8,
       "2021-03-00T05:06:07Z"},
      //        ^ offset 8
      {"day 31 does not exist in April 2021", 8,
       "2021-04-31T05:06:07Z"},
      //        ^ offset 8
      {"day 29 does not exist in February 2021", 8,
       "2021-02-29T05:06:07Z"},
      //        ^ offset 8
      {"day 29 does not exist in February 1900", 8,
       "1900-02-29T05:06:07Z"},
      //        ^ offset 8
      {"expected `T` between the date and the time", 10,
       "2021-03-04 05:06:07Z"},
      //          ^ offset 10
      {"expected `T` between the date and the time", 10,
       "2021-03-04"},
      //          ^ offset 10
      {"hour 24 is not 00 to 23", 11,
       "2021-03-04T24:00:00Z"},
      //           ^ offset 11
      {"expected `:` between the hour and the minute", 13,
       "2021-03-04T05-06:07Z"},
      //             ^ offset 13
      {"expected 2 digits of the minute, as in T05:06:07", 15,
       "2021-03-04T05:6:07Z"},
      //               ^ offset 15
      {"minute 60 is not 00 to 59", 14,
       "2021-03-04T05:60:07Z"},
      //              ^ offset 14
      {"expected `:` between the minute and the second", 16,
       "2021-03-04T05:06Z"},
      //                ^ offset 16
      {"leap seconds (:60) are not supported", 17,
       "2021-03-04T23:59:60Z"},
      //                 ^ offset 17
      {"second 61 is not 00 to 59", 17,
       "2021-03-04T05:06:61Z"},
      //                 ^ offset 17
      {"expected `Z` or an offset such as +01:00", 19,
       "2021-03-04T05:06:07"},
      //                   ^ offset 19
      {"expected `Z` or an offset such as +01:00", 19,
       "2021-03-04T05:06:07,5Z"},
      //                   ^ offset 19
      {"expected a digit after `.`", 20,
       "2021-03-04T05:06:07.Z"},
      //                    ^ offset 20
      {"expected 2 digits of the offset's hours, as in +01:00", 21,
       "2021-03-04T05:06:07+1:00"},
      //                     ^ offset 21
      {"offset hour 24 is not 00 to 23", 20,
       "2021-03-04T05:06:07+24:00"},
      //                    ^ offset 20
      {"expected `:` between the offset's hours and minutes", 22,
       "2021-03-04T05:06:07+0100"},
      //                      ^ offset 22
      {"offset minute 60 is not 00 to 59", 23,
       "2021-03-04T05:06:07-01:60"},
      //                       ^ offset 23
      {"expected 2 digits of the offset's minutes, as in +01:00", 24,
       "2021-03-04T05:06:07+01:0"},
      //                        ^ offset 24
      {"expected the end of the timestamp", 20,
       "2021-03-04T05:06:07Zx"},
      //                    ^ offset 20
      {"expected the end of the timestamp", 27,
       "2021-03-04T05:06:07.5+01:00 "},
      //                           ^ offset 27
      {"the offset moves the instant before 0001-01-01T00:00:00Z, the earliest supported", 19,
       "0001-01-01T00:30:00+01:00"},
      //                   ^ offset 19
      {"the offset moves the instant past 9999-12-31T23:59:59Z, the latest supported", 19,
       "9999-12-31T23:30:00-00:31"},
      //                   ^ offset 19
  });
}

TEST(ParseDate, ErrorsNameTheFaultAndItsOffset) {
  expect_errors(parse_date, {
      {"expected 4 digits of the year, as in 2021-03-04", 0,
       ""},
      //^ offset 0
      {"year 0000 is not 0001 to 9999", 0,
       "0000-01-01"},
      //^ offset 0
      {"expected 2 digits of the day, as in 2021-03-04", 9,
       "2021-03-4"},
      //         ^ offset 9
      {"day 29 does not exist in February 2021", 8,
       "2021-02-29"},
      //        ^ offset 8
      {"expected the end of the date", 10,
       "2021-03-04T05:06:07Z"},
      //          ^ offset 10
  });
}

struct InstantCase {
  std::string_view text;
  std::int64_t seconds;  // from the standard library's calendar
  std::uint32_t nanoseconds;
  bool inexact;
};

TEST(ParseTimestamp, ReadsTheInstantInUtc) {
  const InstantCase cases[] = {
      {"2021-03-04T05:06:07Z", utc_seconds(2021, 3, 4, 5, 6, 7), 0, false},
      {"2021-03-04t05:06:07z", utc_seconds(2021, 3, 4, 5, 6, 7), 0, false},
      {"2021-03-04T05:06:07-00:00", utc_seconds(2021, 3, 4, 5, 6, 7), 0, false},
      {"2021-03-04T05:06:07.5+01:00", utc_seconds(2021, 3, 4, 4, 6, 7), 500000000, false},
      // Offsets that move the date across a day, a year, and by nearly a day.
      {"2021-03-04T23:30:00-01:00", utc_seconds(2021, 3, 5, 0, 30, 0), 0, false},
      {"2021-01-01T00:30:00+01:00", utc_seconds(2020, 12, 31, 23, 30, 0), 0, false},
      {"2020-12-31T23:59:59-23:59", utc_seconds(2021, 1, 1, 23, 58, 59), 0, false},
      {"2021-03-01T00:00:00+00:01", utc_seconds(2021, 2, 28, 23, 59, 0), 0, false},
      {"2020-03-01T00:00:00+00:01", utc_seconds(2020, 2, 29, 23, 59, 0), 0, false},
      // Leap days.
      {"2020-02-29T12:00:00Z", utc_seconds(2020, 2, 29, 12, 0, 0), 0, false},
      {"2000-02-29T00:00:00Z", utc_seconds(2000, 2, 29, 0, 0, 0), 0, false},
      // Fractions: nine digits exact, a nonzero digit past them inexact, zeros past them exact.
      {"1969-12-31T23:59:59.999999999Z", -1, 999999999, false},
      {"1970-01-01T00:00:00.123456789Z", 0, 123456789, false},
      {"1970-01-01T00:00:00.1234567891Z", 0, 123456789, true},
      {"1970-01-01T00:00:00.12345678900000Z", 0, 123456789, false},
      {"1970-01-01T00:00:00.000000000001Z", 0, 0, true},
      {"1970-01-01T00:00:00.01Z", 0, 10000000, false},
      // The extremes, also reached through an offset.
      {"0001-01-01T00:00:00Z", utc_seconds(1, 1, 1, 0, 0, 0), 0, false},
      {"0001-01-01T23:59:00+23:59", utc_seconds(1, 1, 1, 0, 0, 0), 0, false},
      {"9999-12-31T23:59:59.999999999Z", utc_seconds(9999, 12, 31, 23, 59, 59), 999999999, false},
      {"9999-12-31T00:00:59-23:59", utc_seconds(9999, 12, 31, 23, 59, 59), 0, false},
  };
  EXPECT_EQ(TIMESTAMP_SECONDS_MIN, utc_seconds(1, 1, 1, 0, 0, 0));
  EXPECT_EQ(TIMESTAMP_SECONDS_MAX, utc_seconds(9999, 12, 31, 23, 59, 59));
  for (const InstantCase& c : cases) {
    const auto result = parse_timestamp(c.text);
    const auto* instant = std::get_if<Instant>(&result);
    ASSERT_NE(instant, nullptr) << c.text << ": " << std::get<TextError>(result).message;
    EXPECT_EQ(instant->seconds, c.seconds) << c.text;
    EXPECT_EQ(instant->nanoseconds, c.nanoseconds) << c.text;
    EXPECT_EQ(instant->inexact, c.inexact) << c.text;
  }
}

TEST(ParseDate, ReadsDaysSinceTheEpoch) {
  const struct {
    std::string_view text;
    chr::year_month_day date;
  } cases[] = {
      {"2021-03-04", chr::year{2021} / 3 / 4}, {"2020-02-29", chr::year{2020} / 2 / 29},
      {"2000-02-29", chr::year{2000} / 2 / 29}, {"1969-12-31", chr::year{1969} / 12 / 31},
      {"0001-01-01", chr::year{1} / 1 / 1},     {"9999-12-31", chr::year{9999} / 12 / 31},
  };
  for (const auto& c : cases) {
    const auto result = parse_date(c.text);
    ASSERT_TRUE(std::holds_alternative<std::int32_t>(result)) << c.text;
    EXPECT_EQ(std::get<std::int32_t>(result), chr::sys_days{c.date}.time_since_epoch().count())
        << c.text;
  }
}

// The smallest count of units not before the instant and the largest not after it: a fraction
// that is not a whole number of units, or digits past the ninth, round the start up.
TEST(InstantUnits, RoundUpForStartsAndDownForEnds) {
  const struct {
    Instant instant;
    TimeUnit unit;
    std::int64_t up;
    std::int64_t down;
  } cases[] = {
      {{7, 0, false}, TimeUnit::Seconds, 7, 7},
      {{7, 1, false}, TimeUnit::Seconds, 8, 7},
      {{7, 0, true}, TimeUnit::Seconds, 8, 7},
      {{-1, 500000000, false}, TimeUnit::Seconds, 0, -1},
      {{-1, 500000000, false}, TimeUnit::Milliseconds, -500, -500},
      {{-1, 500000001, false}, TimeUnit::Milliseconds, -499, -500},
      {{0, 1000000, true}, TimeUnit::Milliseconds, 2, 1},
      {{0, 999999999, false}, TimeUnit::Milliseconds, 1000, 999},
      {{0, 999, false}, TimeUnit::Microseconds, 1, 0},
      {{0, 1000, true}, TimeUnit::Microseconds, 2, 1},
      {{-62135596800, 0, false}, TimeUnit::Microseconds, -62135596800000000, -62135596800000000},
      {{253402300799, 999999999, true}, TimeUnit::Microseconds, 253402300800000000,
       253402300799999999},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(units_rounded_up(c.instant, c.unit), c.up)
        << c.instant.seconds << " s " << c.instant.nanoseconds << " ns";
    EXPECT_EQ(units_rounded_down(c.instant, c.unit), c.down)
        << c.instant.seconds << " s " << c.instant.nanoseconds << " ns";
  }
}

TEST(TimeUnitName, NamesReadBackAndNothingElseReads) {
  for (TimeUnit unit : {TimeUnit::Seconds, TimeUnit::Milliseconds, TimeUnit::Microseconds}) {
    EXPECT_EQ(time_unit_from_name(time_unit_name(unit)), unit);
  }
  EXPECT_EQ(time_unit_name(TimeUnit::Milliseconds), "ms");
  EXPECT_EQ(units_per_second(TimeUnit::Microseconds), 1000000);
  for (std::string_view other : {"", "S", "ns", "sec", "us "}) {
    EXPECT_EQ(time_unit_from_name(other), std::nullopt) << other;
  }
}

}  // namespace
}  // namespace tessary
