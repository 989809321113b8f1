#include "time/time_text.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <variant>
#include <vector>

#include "time/time_parse.h"
#include "time/uuid_text.h"

namespace tessary {
namespace {

namespace chr = std::chrono;

constexpr TimeUnit ALL_UNITS[] = {TimeUnit::Seconds, TimeUnit::Milliseconds,
                                  TimeUnit::Microseconds};

std::string date_reference(chr::sys_days day) {
  const chr::year_month_day date{day};
  char text[32];
  const int length = std::snprintf(text, sizeof text, "%04d-%02u-%02u", int{date.year()},
                                   unsigned{date.month()}, unsigned{date.day()});
  return std::string(text, static_cast<std::size_t>(length));
}

// The text of a count of units, split by the standard library's floor to days and its
// hh_mm_ss.
std::string timestamp_reference(std::int64_t value, TimeUnit unit) {
  const chr::sys_time<chr::microseconds> time{
      chr::microseconds{value * (1000000 / units_per_second(unit))}};
  const chr::sys_days day = chr::floor<chr::days>(time);
  const chr::hh_mm_ss clock{time - day};
  char text[48];
  int length = std::snprintf(text, sizeof text, "%sT%02d:%02d:%02d",
                             date_reference(day).c_str(), static_cast<int>(clock.hours().count()),
                             static_cast<int>(clock.minutes().count()),
                             static_cast<int>(clock.seconds().count()));
  const auto micros = static_cast<long>(clock.subseconds().count());
  if (unit == TimeUnit::Milliseconds) {
    length += std::snprintf(text + length, sizeof text - length, ".%03ld", micros / 1000);
  } else if (unit == TimeUnit::Microseconds) {
    length += std::snprintf(text + length, sizeof text - length, ".%06ld", micros);
  }
  text[length++] = 'Z';
  return std::string(text, static_cast<std::size_t>(length));
}

std::string timestamp_text(std::int64_t value, TimeUnit unit) {
  char text[TIMESTAMP_TEXT_CAPACITY];
  char* end = write_timestamp(value, unit, text);
  EXPECT_EQ(static_cast<std::size_t>(end - text), timestamp_text_length(unit));
  return std::string(text, static_cast<std::size_t>(end - text));
}

TEST(WriteTimestamp, WorkedExamples) {
  EXPECT_EQ(timestamp_text(1614834367, TimeUnit::Seconds), "2021-03-04T05:06:07Z");
  EXPECT_EQ(timestamp_text(1614834367250, TimeUnit::Milliseconds), "2021-03-04T05:06:07.250Z");
  EXPECT_EQ(timestamp_text(1614834367000250, TimeUnit::Microseconds),
            "2021-03-04T05:06:07.000250Z");
  EXPECT_EQ(timestamp_text(-1, TimeUnit::Milliseconds), "1969-12-31T23:59:59.999Z");
  EXPECT_EQ(timestamp_text(-1, TimeUnit::Microseconds), "1969-12-31T23:59:59.999999Z");
}

// Values near the epoch, the ends of the range, day and era edges, and random values of each
// unit, against the standard library's calendar; each text also reads back to its value.
TEST(WriteTimestamp, AgreesWithChronoAndReadsBack) {
  std::mt19937_64 random(20210304);
  for (TimeUnit unit : ALL_UNITS) {
    const std::int64_t per_second = units_per_second(unit);
    const std::int64_t per_day = 86400 * per_second;
    const std::int64_t first = timestamp_value_min(unit);
    const std::int64_t last = timestamp_value_max(unit);
    EXPECT_EQ(timestamp_text(first, unit).substr(0, 19), "0001-01-01T00:00:00");
    EXPECT_EQ(timestamp_text(last, unit).substr(0, 19), "9999-12-31T23:59:59");
    std::vector<std::int64_t> values;
    for (std::int64_t edge : {first, last, std::int64_t{0}, -per_day, per_day,
                              std::int64_t{11017} * per_day,     // 2000-03-01
                              std::int64_t{-135080} * per_day,   // 1600-03-01
                              std::int64_t{-25508} * per_day}) {  // 1900-03-01
      for (std::int64_t delta = -2; delta <= 2; ++delta) {
        if (edge + delta >= first && edge + delta <= last) values.push_back(edge + delta);
      }
    }
    std::uniform_int_distribution<std::int64_t> any(first, last);
    for (int i = 0; i < 100000; ++i) values.push_back(any(random));
    for (std::int64_t value : values) {
      const std::string text = timestamp_text(value, unit);
      ASSERT_EQ(text, timestamp_reference(value, unit)) << value;
      const auto read = parse_timestamp(text);
      ASSERT_TRUE(std::holds_alternative<Instant>(read)) << text;
      ASSERT_EQ(units_rounded_down(std::get<Instant>(read), unit), value) << text;
      ASSERT_EQ(units_rounded_up(std::get<Instant>(read), unit), value) << text;
    }
  }
}

TEST(WriteDate, EveryDateAgreesWithChronoAndReadsBack) {
  for (std::int32_t days = DATE_DAYS_MIN; days <= DATE_DAYS_MAX; ++days) {
    char text[DATE_TEXT_LENGTH];
    char* end = write_date(days, text);
    ASSERT_EQ(end, text + DATE_TEXT_LENGTH);
    const std::string written(text, DATE_TEXT_LENGTH);
    ASSERT_EQ(written, date_reference(chr::sys_days{chr::days{days}})) << days;
    const auto read = parse_date(written);
    ASSERT_TRUE(std::holds_alternative<std::int32_t>(read)) << written;
    ASSERT_EQ(std::get<std::int32_t>(read), days) << written;
  }
}

std::string uuid_text(std::uint64_t high, std::uint64_t low) {
  char text[UUID_TEXT_LENGTH];
  char* end = write_uuid(high, low, text);
  EXPECT_EQ(end, text + UUID_TEXT_LENGTH);
  return std::string(text, static_cast<std::size_t>(end - text));
}

TEST(WriteUuid, FixedWordsAndRandomWordsAgainstPrintf) {
  EXPECT_EQ(uuid_text(0x0011223344556677, 0x8899AABBCCDDEEFF),
            "00112233-4455-6677-8899-aabbccddeeff");
  EXPECT_EQ(uuid_text(0, 0), "00000000-0000-0000-0000-000000000000");
  EXPECT_EQ(uuid_text(~0ull, ~0ull), "ffffffff-ffff-ffff-ffff-ffffffffffff");
  EXPECT_EQ(uuid_text(0x123E4567E89B12D3, 0xA456426614174000),
            "123e4567-e89b-12d3-a456-426614174000");
  std::mt19937_64 random(9562);
  for (int i = 0; i < 100000; ++i) {
    const std::uint64_t high = random();
    const std::uint64_t low = random();
    char expected[40];
    std::snprintf(expected, sizeof expected, "%08" PRIx64 "-%04" PRIx64 "-%04" PRIx64
                  "-%04" PRIx64 "-%012" PRIx64,
                  high >> 32, (high >> 16) & 0xFFFF, high & 0xFFFF, low >> 48,
                  low & 0xFFFFFFFFFFFF);
    ASSERT_EQ(uuid_text(high, low), expected) << std::hex << high << ' ' << low;
  }
}

}  // namespace
}  // namespace tessary
