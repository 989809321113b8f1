// timestamp: an instant drawn uniformly from start..end (both included) at the unit's resolution.
//
//   {"name": ..., "type": "timestamp", "start": RFC 3339 text, "end": RFC 3339 text,
//    "unit": "s" | "ms" | "us"}   (start and end required; unit "s" by default)
//
// Bounds are RFC 3339 date-times with "Z" or an offset, years 0001 to 9999 (time/time_parse.h);
// a bound finer than the unit rounds inwards (start up, end down). The range must hold an instant.
// Generator steps: as uniform_int over the counts of units.
// Text: the instant in UTC, "2021-03-04T05:06:07Z" with 3 (ms) or 6 (us) fraction digits.
// Column: timestamp with the unit and the time zone "UTC".
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "kinds/kind_unit.h"
#include "kinds/uniform_int.h"
#include "time/time_parse.h"
#include "time/time_text.h"
#include "time/time_unit.h"

namespace tessary {

// Reads the text of a time member (`member`) with `parse` into `out`; a problem of the text
// points at its bad byte.
template <class Value, class Parse>
[[nodiscard]] Problem take_time_text(const BufferedValue& value, std::string_view member,
                                     Parse parse, Value& out) {
  std::string_view text;
  if (Problem problem = take_string(value, text)) return problem;
  auto parsed = parse(text);
  if (auto* error = std::get_if<TextError>(&parsed)) {
    return parameter_problem("`" + std::string(member) + "`: " + error->message,
                             byte_in_document(value, error->offset));
  }
  out = std::get<Value>(parsed);
  return std::nullopt;
}

struct Timestamp {
  Instant start_instant;
  Instant end_instant;
  TimeUnit unit = TimeUnit::Seconds;
  std::int64_t low = 0;  // the first and last count of units of the range
  std::int64_t high = 0;

  static constexpr std::string_view NAME = "timestamp";
  static constexpr std::array<std::string_view, 3> FIELDS = {"start", "end", "unit"};
  static constexpr std::size_t REQUIRED = 2;

  [[nodiscard]] static Problem take(Timestamp& spec, std::size_t field,
                                    const BufferedValue& value) {
    if (field == 2) {
      std::string_view name;
      if (Problem problem = take_string(value, name)) return problem;
      if (std::optional<TimeUnit> unit = time_unit_from_name(name)) {
        spec.unit = *unit;
        return std::nullopt;
      }
      return parameter_problem("`unit` must be \"s\", \"ms\" or \"us\", not \"" +
                               std::string(name) + "\"");
    }
    return take_time_text(value, FIELDS[field], parse_timestamp,
                          field == 0 ? spec.start_instant : spec.end_instant);
  }
  [[nodiscard]] static Problem finish(Timestamp& spec) {
    spec.low = units_rounded_up(spec.start_instant, spec.unit);
    spec.high = units_rounded_down(spec.end_instant, spec.unit);
    if (spec.low <= spec.high) return std::nullopt;
    const bool reversed = spec.start_instant.seconds > spec.end_instant.seconds ||
                          (spec.start_instant.seconds == spec.end_instant.seconds &&
                           spec.start_instant.nanoseconds > spec.end_instant.nanoseconds);
    return parameter_problem(reversed ? std::string("`start` is after `end`")
                                      : "`start` to `end` holds no instant at the unit \"" +
                                            std::string(time_unit_name(spec.unit)) + "\"");
  }
  [[nodiscard]] static ParamFault fault(const Timestamp&) { return ParamFault::None; }
  using Draw = UniformInt::Draw;
  static Draw prepare(const Timestamp& params, std::uint64_t key) {
    return UniformInt::prepare({params.low, params.high}, key);
  }
  static std::int64_t draw(const Draw& prepared, Xoshiro256PlusPlus& rng,
                           const EntityContext& entity) {
    return UniformInt::draw(prepared, rng, entity);
  }
  static AttributeValue value(const Timestamp& params, std::int64_t cell) {
    switch (params.unit) {
      case TimeUnit::Seconds:
        return AttributeValue::from_time(AttributeValue::Kind::TimestampSeconds, cell);
      case TimeUnit::Milliseconds:
        return AttributeValue::from_time(AttributeValue::Kind::TimestampMillis, cell);
      case TimeUnit::Microseconds:
        break;
    }
    return AttributeValue::from_time(AttributeValue::Kind::TimestampMicros, cell);
  }
  static void check(const Timestamp&, std::vector<KindProblem>&) {}
  static ValueTextBounds text_bounds(const Timestamp& params, OutputBuffer&) {
    const std::size_t length = timestamp_text_length(params.unit) + 2;
    return {length, length};
  }
  static std::uint64_t work(const Timestamp&) { return 2; }
  [[nodiscard]] static std::optional<ColumnSchemaError> plan_column(const Timestamp& params,
                                                                    std::size_t, Column& column) {
    column.kind = ColumnKind::Timestamp;
    column.time_unit = params.unit == TimeUnit::Seconds        ? 's'
                       : params.unit == TimeUnit::Milliseconds ? 'm'
                                                               : 'u';
    return std::nullopt;
  }
  static bool fits_column(const Timestamp&, const Column& column) {
    return column.kind == ColumnKind::Timestamp;
  }
};

}  // namespace tessary
