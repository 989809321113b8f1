// TimeUnit: the unit a timestamp attribute counts in, and its name in attribute specs.
//
// A timestamp value is a count of these units since 1970-01-01T00:00:00Z. Pure constexpr
// functions; safe on any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tessary {

enum class TimeUnit : std::uint8_t { Seconds, Milliseconds, Microseconds };

// "s", "ms" or "us": the name an attribute spec gives the unit.
constexpr std::string_view time_unit_name(TimeUnit unit) {
  switch (unit) {
    case TimeUnit::Seconds: return "s";
    case TimeUnit::Milliseconds: return "ms";
    case TimeUnit::Microseconds: return "us";
  }
  return "s";
}

// The unit named "s", "ms" or "us"; no unit for any other text (names are case-sensitive).
constexpr std::optional<TimeUnit> time_unit_from_name(std::string_view name) {
  if (name == "s") return TimeUnit::Seconds;
  if (name == "ms") return TimeUnit::Milliseconds;
  if (name == "us") return TimeUnit::Microseconds;
  return std::nullopt;
}

// 1, 1000 or 1000000.
constexpr std::int64_t units_per_second(TimeUnit unit) {
  switch (unit) {
    case TimeUnit::Seconds: return 1;
    case TimeUnit::Milliseconds: return 1000;
    case TimeUnit::Microseconds: return 1000000;
  }
  return 1;
}

}  // namespace tessary
