#include "time/time_parse.h"

#include <algorithm>
#include <array>
#include <optional>

namespace tessary {
namespace {

constexpr std::array<std::string_view, 12> MONTH_NAMES = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};

// A fixed-width field of digits at `at`, and the message when one of them is missing.
struct DigitField {
  std::size_t at;
  std::size_t width;
  std::string_view expected;
};

// The value of the field's digits, or the error at the first byte that is not a digit (the text's
// length when it ends inside the field).
std::variant<std::uint32_t, TextError> read_digits(std::string_view text, const DigitField& field) {
  std::uint32_t value = 0;
  for (std::size_t i = field.at; i < field.at + field.width; ++i) {
    if (i >= text.size() || text[i] < '0' || text[i] > '9') {
      return TextError{i < text.size() ? i : text.size(), std::string(field.expected)};
    }
    value = value * 10 + static_cast<std::uint32_t>(text[i] - '0');
  }
  return value;
}

// Nothing when text[at] is `expected`, else the error at `at` (or at the end).
std::optional<TextError> expect_char(std::string_view text, std::size_t at, char expected,
                                     std::string_view message) {
  if (at < text.size() && text[at] == expected) return std::nullopt;
  return TextError{at < text.size() ? at : text.size(), std::string(message)};
}

// "{name} {field's text as written} is not {range}".
TextError out_of_range(std::string_view text, const DigitField& field, std::string_view name,
                       std::string_view range) {
  std::string message(name);
  message += ' ';
  message += text.substr(field.at, field.width);
  message += " is not ";
  message += range;
  return TextError{field.at, std::move(message)};
}

constexpr DigitField YEAR{0, 4, "expected 4 digits of the year, as in 2021-03-04"};
constexpr DigitField MONTH{5, 2, "expected 2 digits of the month, as in 2021-03-04"};
constexpr DigitField DAY{8, 2, "expected 2 digits of the day, as in 2021-03-04"};
constexpr DigitField HOUR{11, 2, "expected 2 digits of the hour, as in T05:06:07"};
constexpr DigitField MINUTE{14, 2, "expected 2 digits of the minute, as in T05:06:07"};
constexpr DigitField SECOND{17, 2, "expected 2 digits of the second, as in T05:06:07"};
constexpr std::size_t DATE_LENGTH = 10;
constexpr std::size_t TIME_END = 19;  // just past the seconds

// Reads and checks the YYYY-MM-DD that starts text.
std::variant<CivilDate, TextError> read_date(std::string_view text) {
  const auto year = read_digits(text, YEAR);
  if (const auto* error = std::get_if<TextError>(&year)) return *error;
  const std::uint32_t y = std::get<std::uint32_t>(year);
  if (y < TEXT_YEAR_MIN) return out_of_range(text, YEAR, "year", "0001 to 9999");
  if (auto error = expect_char(text, 4, '-', "expected `-` between the year and the month")) {
    return *std::move(error);
  }
  const auto month = read_digits(text, MONTH);
  if (const auto* error = std::get_if<TextError>(&month)) return *error;
  const std::uint32_t m = std::get<std::uint32_t>(month);
  if (m < 1 || m > 12) return out_of_range(text, MONTH, "month", "01 to 12");
  if (auto error = expect_char(text, 7, '-', "expected `-` between the month and the day")) {
    return *std::move(error);
  }
  const auto day = read_digits(text, DAY);
  if (const auto* error = std::get_if<TextError>(&day)) return *error;
  const std::uint32_t d = std::get<std::uint32_t>(day);
  if (d < 1 || d > 31) return out_of_range(text, DAY, "day", "01 to 31");
  const auto civil_year = static_cast<std::int32_t>(y);
  if (d > days_in_month(civil_year, m)) {
    std::string message = "day ";
    message += text.substr(DAY.at, DAY.width);
    message += " does not exist in ";
    message += MONTH_NAMES[m - 1];
    message += ' ';
    message += text.substr(YEAR.at, YEAR.width);
    return TextError{DAY.at, std::move(message)};
  }
  return CivilDate{civil_year, m, d};
}

}  // namespace

std::variant<std::int32_t, TextError> parse_date(std::string_view text) {
  const auto date = read_date(text);
  if (const auto* error = std::get_if<TextError>(&date)) return *error;
  if (text.size() > DATE_LENGTH) return TextError{DATE_LENGTH, "expected the end of the date"};
  const CivilDate& civil = std::get<CivilDate>(date);
  return days_from_civil(civil.year, civil.month, civil.day);
}

std::variant<Instant, TextError> parse_timestamp(std::string_view text) {
  const auto date = read_date(text);
  if (const auto* error = std::get_if<TextError>(&date)) return *error;
  if (DATE_LENGTH >= text.size() || (text[DATE_LENGTH] != 'T' && text[DATE_LENGTH] != 't')) {
    return TextError{std::min(DATE_LENGTH, text.size()),
                     "expected `T` between the date and the time"};
  }
  const auto hour = read_digits(text, HOUR);
  if (const auto* error = std::get_if<TextError>(&hour)) return *error;
  if (std::get<std::uint32_t>(hour) > 23) return out_of_range(text, HOUR, "hour", "00 to 23");
  if (auto error = expect_char(text, 13, ':', "expected `:` between the hour and the minute")) {
    return *std::move(error);
  }
  const auto minute = read_digits(text, MINUTE);
  if (const auto* error = std::get_if<TextError>(&minute)) return *error;
  if (std::get<std::uint32_t>(minute) > 59) {
    return out_of_range(text, MINUTE, "minute", "00 to 59");
  }
  if (auto error = expect_char(text, 16, ':', "expected `:` between the minute and the second")) {
    return *std::move(error);
  }
  const auto second = read_digits(text, SECOND);
  if (const auto* error = std::get_if<TextError>(&second)) return *error;
  if (std::get<std::uint32_t>(second) == 60) {
    return TextError{SECOND.at, "leap seconds (:60) are not supported"};
  }
  if (std::get<std::uint32_t>(second) > 59) {
    return out_of_range(text, SECOND, "second", "00 to 59");
  }

  Instant instant;
  std::size_t at = TIME_END;
  if (at < text.size() && text[at] == '.') {
    ++at;
    const std::size_t first_digit = at;
    std::uint32_t scale = 100000000;  // the nanoseconds of the next digit while within nine
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
      const auto digit = static_cast<std::uint32_t>(text[at] - '0');
      instant.nanoseconds += digit * scale;
      if (scale == 0 && digit != 0) instant.inexact = true;
      scale /= 10;
    }
    if (at == first_digit) {
      return TextError{std::min(at, text.size()), "expected a digit after `.`"};
    }
  }

  std::int64_t offset_seconds = 0;
  const std::size_t offset_at = at;
  if (at < text.size() && (text[at] == 'Z' || text[at] == 'z')) {
    ++at;
  } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    const DigitField offset_hour{at + 1, 2,
                                 "expected 2 digits of the offset's hours, as in +01:00"};
    const DigitField offset_minute{at + 4, 2,
                                   "expected 2 digits of the offset's minutes, as in +01:00"};
    const auto hours = read_digits(text, offset_hour);
    if (const auto* error = std::get_if<TextError>(&hours)) return *error;
    if (std::get<std::uint32_t>(hours) > 23) {
      return out_of_range(text, offset_hour, "offset hour", "00 to 23");
    }
    if (auto error = expect_char(text, at + 3, ':',
                                 "expected `:` between the offset's hours and minutes")) {
      return *std::move(error);
    }
    const auto minutes = read_digits(text, offset_minute);
    if (const auto* error = std::get_if<TextError>(&minutes)) return *error;
    if (std::get<std::uint32_t>(minutes) > 59) {
      return out_of_range(text, offset_minute, "offset minute", "00 to 59");
    }
    offset_seconds = std::int64_t{std::get<std::uint32_t>(hours)} * 3600 +
                     std::int64_t{std::get<std::uint32_t>(minutes)} * 60;
    if (text[at] == '-') offset_seconds = -offset_seconds;
    at += 6;
  } else {
    return TextError{std::min(at, text.size()), "expected `Z` or an offset such as +01:00"};
  }
  if (at < text.size()) return TextError{at, "expected the end of the timestamp"};

  const CivilDate& civil = std::get<CivilDate>(date);
  // Local time less its offset is UTC.
  instant.seconds = std::int64_t{days_from_civil(civil.year, civil.month, civil.day)} * 86400 +
                    std::int64_t{std::get<std::uint32_t>(hour)} * 3600 +
                    std::int64_t{std::get<std::uint32_t>(minute)} * 60 +
                    std::int64_t{std::get<std::uint32_t>(second)} - offset_seconds;
  if (instant.seconds < TIMESTAMP_SECONDS_MIN) {
    return TextError{offset_at,
                     "the offset moves the instant before 0001-01-01T00:00:00Z, the earliest "
                     "supported"};
  }
  if (instant.seconds > TIMESTAMP_SECONDS_MAX) {
    return TextError{offset_at,
                     "the offset moves the instant past 9999-12-31T23:59:59Z, the latest "
                     "supported"};
  }
  return instant;
}

std::int64_t units_rounded_up(const Instant& instant, TimeUnit unit) {
  const std::int64_t per_second = units_per_second(unit);
  const std::uint32_t nanoseconds_per_unit = static_cast<std::uint32_t>(1000000000 / per_second);
  // The digits past the ninth lie below the next nanosecond, and so below the next unit.
  const bool partial = instant.nanoseconds % nanoseconds_per_unit != 0 || instant.inexact;
  return instant.seconds * per_second + instant.nanoseconds / nanoseconds_per_unit +
         (partial ? 1 : 0);
}

std::int64_t units_rounded_down(const Instant& instant, TimeUnit unit) {
  const std::int64_t per_second = units_per_second(unit);
  const std::uint32_t nanoseconds_per_unit = static_cast<std::uint32_t>(1000000000 / per_second);
  return instant.seconds * per_second + instant.nanoseconds / nanoseconds_per_unit;
}

}  // namespace tessary
