// uniform_float: a double drawn uniformly from [low, high).
//
//   {"name": ..., "type": "uniform_float", "low": f64, "high": f64, "decimals": 0..15}
//   (low and high required; decimals only in the package's language, see sampling/decimals.h)
//
// Generator steps: 1.
// Fails every entity unless low < high (EmptyRange), and when high - low overflows (NonFinite).
// Text: "0.0" to the longest shortest-round-trip text. Column: float64, null where not finite.
#pragma once

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "kinds/kind_unit.h"
#include "output/number_text.h"
#include "sampling/decimals.h"

namespace tessary {

struct UniformFloat {
  double low = 0;
  double high = 0;
  DecimalScale decimals;

  static constexpr std::string_view NAME = "uniform_float";
  static constexpr std::array<std::string_view, 3> FIELDS = {"low", "high", "decimals"};
  static constexpr std::size_t REQUIRED = 2;
  static constexpr std::size_t ORIGINAL_FIELDS = 2;

  [[nodiscard]] static Problem take(UniformFloat& spec, std::size_t field,
                                    const BufferedValue& value) {
    if (field == 2) return take_decimals(value, spec.decimals);
    return take_f64(value, field == 0 ? spec.low : spec.high);
  }
  // Unless low < high (NaN included), EmptyRange; when high - low overflows, NonFinite.
  [[nodiscard]] static ParamFault fault(const UniformFloat& params) {
    if (!(params.low < params.high)) return ParamFault::EmptyRange;
    if (!std::isfinite(params.high - params.low)) return ParamFault::NonFinite;
    return ParamFault::None;
  }
  // low and scale = high - low shrunk until the largest possible sample is at most high.
  struct Draw {
    double low;
    double scale;
    DecimalScale decimals;
  };
  // Requires: fault(params) == None.
  static Draw prepare(const UniformFloat& params, std::uint64_t);
  // u * scale + low, u in [0, 1) with 52 random bits: never above high, never below low (before
  // rounding to `decimals`).
  static double draw(const Draw& prepared, Xoshiro256PlusPlus& rng, const EntityContext&) {
    const double u = mantissa_f64(rng) - 1.0;
    return round_decimals(u * prepared.scale + prepared.low, prepared.decimals);
  }
  static AttributeValue value(const UniformFloat&, double cell) {
    return AttributeValue::from_f64(cell);
  }
  static void check(const UniformFloat&, std::vector<KindProblem>&) {}
  static ValueTextBounds text_bounds(const UniformFloat&, OutputBuffer&) {
    return float_text_bounds();
  }
  static std::uint64_t work(const UniformFloat&) { return 1; }
  [[nodiscard]] static std::optional<ColumnSchemaError> plan_column(const UniformFloat&,
                                                                    std::size_t, Column& column) {
    return plan_float_column(column);
  }
  static bool fits_column(const UniformFloat&, const Column& column) {
    return column.kind == ColumnKind::Float64;
  }
};

inline UniformFloat::Draw UniformFloat::prepare(const UniformFloat& params, std::uint64_t) {
  const double low = params.low;
  const double high = params.high;
  double scale = high - low;
  // The largest sample is (1 - 2^-52) * scale + low. Step the scale down one ulp at a time while
  // that lies above high. (Under round-to-nearest the first scale already fits; the loop keeps the
  // bound whatever the rounding. The build does not contract floating-point operations, so no
  // fused multiply-add changes the rounding here or below.)
  constexpr double kLargestUnit = 1.0 - 0x1p-52;
  while (scale * kLargestUnit + low > high) [[unlikely]] {
      scale = std::bit_cast<double>(std::bit_cast<std::uint64_t>(scale) - 1);
    }
  return {low, scale, params.decimals};
}

}  // namespace tessary
