// normal: mean + std_dev * a standard normal draw, clamped to "min" then "max" when given.
//
//   {"name": ..., "type": "normal", "mean": f64, "std_dev": f64, "min": f64|null,
//    "max": f64|null, "decimals": 0..15}
//   (mean and std_dev required; decimals only in the package's language, see sampling/decimals.h)
//
// Generator steps: 1 per main attempt of the ziggurat, +1 per wedge test, +2 per tail attempt.
// Fails every entity (BadVariance) when std_dev is not finite; a negative or zero one draws.
// check_specs warns when min is above max (every value is then the max).
// Text: as uniform_float. Column: float64, null where not finite.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "kinds/kind_unit.h"
#include "output/number_text.h"
#include "sampling/decimals.h"
#include "sampling/standard_normal.h"

namespace tessary {

struct Normal {
  double mean = 0;
  double std_dev = 0;
  std::optional<double> min;
  std::optional<double> max;
  DecimalScale decimals;

  static constexpr std::string_view NAME = "normal";
  static constexpr std::array<std::string_view, 5> FIELDS = {"mean", "std_dev", "min", "max",
                                                             "decimals"};
  static constexpr std::size_t REQUIRED = 2;
  static constexpr std::size_t ORIGINAL_FIELDS = 4;

  [[nodiscard]] static Problem take(Normal& spec, std::size_t field, const BufferedValue& value) {
    if (field == 4) return take_decimals(value, spec.decimals);
    if (field < 2) return take_f64(value, field == 0 ? spec.mean : spec.std_dev);
    return take_optional_f64(value, field == 2 ? spec.min : spec.max);
  }
  // A std_dev that is not finite; a negative or zero one is accepted.
  [[nodiscard]] static ParamFault fault(const Normal& params) {
    return std::isfinite(params.std_dev) ? ParamFault::None : ParamFault::BadVariance;
  }
  // The parameters themselves: nothing is worked out ahead.
  using Draw = const Normal*;
  // Requires: fault(params) == None.
  static Draw prepare(const Normal& params, std::uint64_t) { return &params; }
  // mean + std_dev * standard_normal, then "min", then "max": a value below the bound (or NaN)
  // becomes the bound, a value equal to it stays as it is (so -0.0 stays -0.0 under a min of
  // 0.0); then rounded to `decimals`, which may pass a bound by half a unit of the last place.
  // The result may be infinite or NaN (a null value).
  static double draw(Draw params, Xoshiro256PlusPlus& rng, const EntityContext&) {
    double value = params->mean + params->std_dev * standard_normal(rng);
    if (params->min && (std::isnan(value) || value < *params->min)) value = *params->min;
    if (params->max && (std::isnan(value) || value > *params->max)) value = *params->max;
    return round_decimals(value, params->decimals);
  }
  static AttributeValue value(const Normal&, double cell) { return AttributeValue::from_f64(cell); }
  static void check(const Normal& params, std::vector<KindProblem>& problems) {
    if (params.min && params.max && *params.min > *params.max) {
      problems.push_back({Severity::Warning, "min " + f64_string(*params.min) + " is above max " +
                                                 f64_string(*params.max) +
                                                 ": every value is the max"});
    }
  }
  static ValueTextBounds text_bounds(const Normal&, OutputBuffer&) { return float_text_bounds(); }
  static std::uint64_t work(const Normal&) { return 1; }
  [[nodiscard]] static std::optional<ColumnSchemaError> plan_column(const Normal&, std::size_t,
                                                                    Column& column) {
    return plan_float_column(column);
  }
  static bool fits_column(const Normal&, const Column& column) {
    return column.kind == ColumnKind::Float64;
  }
};

}  // namespace tessary
