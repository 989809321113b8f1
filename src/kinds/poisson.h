// poisson: a count >= 0 of mean `mean`.
//
//   {"name": ..., "type": "poisson", "mean": f64 from 0 to POISSON_MAX_MEAN}   (required)
//
// Generator steps: those of sampling/poisson.h: inversion (one step) below its threshold,
// transformed rejection (two steps per attempt, a bounded expected number of attempts) above.
// Text: 1 to 20 bytes. Column: int64.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "kinds/kind_unit.h"
#include "sampling/poisson.h"

namespace tessary {

struct Poisson {
  double mean = 0;

  static constexpr std::string_view NAME = "poisson";
  static constexpr std::array<std::string_view, 1> FIELDS = {"mean"};
  static constexpr std::size_t REQUIRED = 1;

  [[nodiscard]] static Problem take(Poisson& spec, std::size_t, const BufferedValue& value) {
    return take_f64(value, spec.mean);
  }
  [[nodiscard]] static Problem finish(Poisson& spec) {
    if (spec.mean >= 0 && spec.mean <= POISSON_MAX_MEAN) return std::nullopt;
    return parameter_problem("`mean` must be a number from 0 to " + f64_string(POISSON_MAX_MEAN) +
                             ", not " + f64_string(spec.mean));
  }
  [[nodiscard]] static ParamFault fault(const Poisson&) { return ParamFault::None; }
  using Draw = PoissonDraw;
  static Draw prepare(const Poisson& params, std::uint64_t) { return prepare_poisson(params.mean); }
  static std::int64_t draw(const Draw& prepared, Xoshiro256PlusPlus& rng, const EntityContext&) {
    return draw_poisson(prepared, rng);
  }
  static AttributeValue value(const Poisson&, std::int64_t cell) {
    return AttributeValue::from_i64(cell);
  }
  static void check(const Poisson&, std::vector<KindProblem>&) {}
  static ValueTextBounds text_bounds(const Poisson&, OutputBuffer&) { return int_text_bounds(); }
  static std::uint64_t work(const Poisson& params) {
    return params.mean < POISSON_INVERSION_BELOW ? 2 + static_cast<std::uint64_t>(params.mean) : 6;
  }
  [[nodiscard]] static std::optional<ColumnSchemaError> plan_column(const Poisson&, std::size_t,
                                                                    Column& column) {
    return plan_int_column(column);
  }
  static bool fits_column(const Poisson&, const Column& column) {
    return column.kind == ColumnKind::Int64;
  }
};

}  // namespace tessary
