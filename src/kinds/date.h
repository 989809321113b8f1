// date: a day drawn uniformly from start..end (both included).
//
//   {"name": ..., "type": "date", "start": "YYYY-MM-DD", "end": "YYYY-MM-DD"}   (both required)
//
// Years 0001 to 9999 (time/time_parse.h); start must not be after end.
// Generator steps: as uniform_int over the days.
// Text: "2021-03-04". Column: date32 (days since 1970-01-01).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "kinds/kind_unit.h"
#include "kinds/timestamp.h"
#include "kinds/uniform_int.h"
#include "time/time_parse.h"
#include "time/time_text.h"

namespace tessary {

struct Date {
  std::int32_t start = 0;  // days since 1970-01-01
  std::int32_t end = 0;

  static constexpr std::string_view NAME = "date";
  static constexpr std::array<std::string_view, 2> FIELDS = {"start", "end"};
  static constexpr std::size_t REQUIRED = 2;

  [[nodiscard]] static Problem take(Date& spec, std::size_t field, const BufferedValue& value) {
    return take_time_text(value, FIELDS[field], parse_date, field == 0 ? spec.start : spec.end);
  }
  [[nodiscard]] static Problem finish(Date& spec) {
    if (spec.start <= spec.end) return std::nullopt;
    return parameter_problem("`start` is after `end`");
  }
  [[nodiscard]] static ParamFault fault(const Date&) { return ParamFault::None; }
  using Draw = UniformInt::Draw;
  static Draw prepare(const Date& params, std::uint64_t key) {
    return UniformInt::prepare({params.start, params.end}, key);
  }
  // The days of a date lie within int32 (time_parse.h).
  static std::int32_t draw(const Draw& prepared, Xoshiro256PlusPlus& rng,
                           const EntityContext& entity) {
    return static_cast<std::int32_t>(UniformInt::draw(prepared, rng, entity));
  }
  static AttributeValue value(const Date&, std::int32_t cell) {
    return AttributeValue::from_time(AttributeValue::Kind::Date, cell);
  }
  static void check(const Date&, std::vector<KindProblem>&) {}
  static ValueTextBounds text_bounds(const Date&, OutputBuffer&) {
    return {DATE_TEXT_LENGTH + 2, DATE_TEXT_LENGTH + 2};
  }
  static std::uint64_t work(const Date&) { return 2; }
  [[nodiscard]] static std::optional<ColumnSchemaError> plan_column(const Date&, std::size_t,
                                                                    Column& column) {
    column.kind = ColumnKind::Date32;
    return std::nullopt;
  }
  static bool fits_column(const Date&, const Column& column) {
    return column.kind == ColumnKind::Date32;
  }
};

}  // namespace tessary
