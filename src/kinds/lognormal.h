// lognormal: exp(mu + sigma * z), z a standard normal draw.
//
//   {"name": ..., "type": "lognormal", "mu": f64, "sigma": f64 >= 0, "decimals": 0..15}
//   (mu and sigma required)
//
// Generator steps: those of normal's standard draw (sampling/standard_normal.h).
// Text: as uniform_float. Column: float64, null where not finite (exp overflows above about
// 709.78).
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "kinds/kind_unit.h"
#include "sampling/decimals.h"
#include "sampling/standard_normal.h"

namespace tessary {

struct Lognormal {
  double mu = 0;
  double sigma = 0;
  DecimalScale decimals;

  static constexpr std::string_view NAME = "lognormal";
  static constexpr std::array<std::string_view, 3> FIELDS = {"mu", "sigma", "decimals"};
  static constexpr std::size_t REQUIRED = 2;

  [[nodiscard]] static Problem take(Lognormal& spec, std::size_t field,
                                    const BufferedValue& value) {
    if (field == 2) return take_decimals(value, spec.decimals);
    return take_f64(value, field == 0 ? spec.mu : spec.sigma);
  }
  [[nodiscard]] static Problem finish(Lognormal& spec) {
    if (spec.sigma >= 0) return std::nullopt;
    return parameter_problem("`sigma` must be 0 or more, not " + f64_string(spec.sigma));
  }
  [[nodiscard]] static ParamFault fault(const Lognormal&) { return ParamFault::None; }
  struct Draw {
    double mu;
    double sigma;
    DecimalScale decimals;
  };
  static Draw prepare(const Lognormal& params, std::uint64_t) {
    return {params.mu, params.sigma, params.decimals};
  }
  static double draw(const Draw& prepared, Xoshiro256PlusPlus& rng, const EntityContext&) {
    const double z = standard_normal(rng);
    return round_decimals(std::exp(prepared.mu + prepared.sigma * z), prepared.decimals);
  }
  static AttributeValue value(const Lognormal&, double cell) {
    return AttributeValue::from_f64(cell);
  }
  static void check(const Lognormal&, std::vector<KindProblem>&) {}
  static ValueTextBounds text_bounds(const Lognormal&, OutputBuffer&) {
    return float_text_bounds();
  }
  static std::uint64_t work(const Lognormal&) { return 2; }
  [[nodiscard]] static std::optional<ColumnSchemaError> plan_column(const Lognormal&, std::size_t,
                                                                    Column& column) {
    return plan_float_column(column);
  }
  static bool fits_column(const Lognormal&, const Column& column) {
    return column.kind == ColumnKind::Float64;
  }
};

}  // namespace tessary
