// exponential: a double >= 0 of mean `mean`, mean * -log(u).
//
//   {"name": ..., "type": "exponential", "mean": f64 > 0, "decimals": 0..15}   (mean required)
//
// Generator steps: 1 (sampling/exponential.h).
// Text: as uniform_float. Column: float64, null where not finite (a mean near the largest double).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "kinds/kind_unit.h"
#include "sampling/decimals.h"
#include "sampling/exponential.h"

namespace tessary {

struct Exponential {
  double mean = 0;
  DecimalScale decimals;

  static constexpr std::string_view NAME = "exponential";
  static constexpr std::array<std::string_view, 2> FIELDS = {"mean", "decimals"};
  static constexpr std::size_t REQUIRED = 1;

  [[nodiscard]] static Problem take(Exponential& spec, std::size_t field,
                                    const BufferedValue& value) {
    if (field == 1) return take_decimals(value, spec.decimals);
    return take_f64(value, spec.mean);
  }
  [[nodiscard]] static Problem finish(Exponential& spec) {
    if (spec.mean > 0) return std::nullopt;
    return parameter_problem("`mean` must be above 0, not " + f64_string(spec.mean));
  }
  [[nodiscard]] static ParamFault fault(const Exponential&) { return ParamFault::None; }
  struct Draw {
    double mean;
    DecimalScale decimals;
  };
  static Draw prepare(const Exponential& params, std::uint64_t) {
    return {params.mean, params.decimals};
  }
  static double draw(const Draw& prepared, Xoshiro256PlusPlus& rng, const EntityContext&) {
    return round_decimals(prepared.mean * standard_exponential(rng), prepared.decimals);
  }
  static AttributeValue value(const Exponential&, double cell) {
    return AttributeValue::from_f64(cell);
  }
  static void check(const Exponential&, std::vector<KindProblem>&) {}
  static ValueTextBounds text_bounds(const Exponential&, OutputBuffer&) {
    return float_text_bounds();
  }
  static std::uint64_t work(const Exponential&) { return 2; }
  [[nodiscard]] static std::optional<ColumnSchemaError> plan_column(const Exponential&, std::size_t,
                                                                    Column& column) {
    return plan_float_column(column);
  }
  static bool fits_column(const Exponential&, const Column& column) {
    return column.kind == ColumnKind::Float64;
  }
};

}  // namespace tessary
