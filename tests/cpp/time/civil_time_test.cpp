#include "time/civil_time.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>

namespace tessary {
namespace {

namespace chr = std::chrono;

// Every day of years 0001..9999, both ways, against the standard library's calendar.
TEST(CivilTime, AgreesWithChronoOnEveryDayOfFourDigitYears) {
  EXPECT_EQ(DATE_DAYS_MIN, chr::sys_days{chr::year{1} / 1 / 1}.time_since_epoch().count());
  EXPECT_EQ(DATE_DAYS_MAX, chr::sys_days{chr::year{9999} / 12 / 31}.time_since_epoch().count());
  for (std::int32_t days = DATE_DAYS_MIN; days <= DATE_DAYS_MAX; ++days) {
    const chr::year_month_day expected{chr::sys_days{chr::days{days}}};
    const CivilDate date = civil_from_days(days);
    ASSERT_EQ(date.year, static_cast<int>(expected.year())) << days;
    ASSERT_EQ(date.month, static_cast<unsigned>(expected.month())) << days;
    ASSERT_EQ(date.day, static_cast<unsigned>(expected.day())) << days;
    ASSERT_EQ(days_from_civil(date.year, date.month, date.day), days);
  }
}

// The years around 0001..9999 (year 0, 10000, negative years, the eras' edges) as far as the
// standard library's calendar reaches, then round trips out to the limits of the range.
TEST(CivilTime, AgreesWithChronoBeyondFourDigitYears) {
  const std::int32_t first = chr::sys_days{chr::year::min() / 1 / 1}.time_since_epoch().count();
  const std::int32_t last = chr::sys_days{chr::year::max() / 12 / 31}.time_since_epoch().count();
  for (std::int32_t days = first; days <= last; days += days % 146097 == 0 ? 1 : 97) {
    const chr::year_month_day expected{chr::sys_days{chr::days{days}}};
    const CivilDate date = civil_from_days(days);
    ASSERT_EQ(date.year, static_cast<int>(expected.year())) << days;
    ASSERT_EQ(date.month, static_cast<unsigned>(expected.month())) << days;
    ASSERT_EQ(date.day, static_cast<unsigned>(expected.day())) << days;
    ASSERT_EQ(days_from_civil(date.year, date.month, date.day), days);
  }
  for (std::int32_t year : {CIVIL_YEAR_MIN, -400, -1, 0, 10000, CIVIL_YEAR_MAX}) {
    for (std::uint32_t month = 1; month <= 12; ++month) {
      for (std::uint32_t day : {1u, days_in_month(year, month)}) {
        const CivilDate back = civil_from_days(days_from_civil(year, month, day));
        EXPECT_EQ(back.year, year);
        EXPECT_EQ(back.month, month);
        EXPECT_EQ(back.day, day);
      }
    }
  }
  EXPECT_EQ(CIVIL_DAYS_MAX - days_from_civil(CIVIL_YEAR_MAX, 1, 1), 365);  // a leap year
}

}  // namespace
}  // namespace tessary
