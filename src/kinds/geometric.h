// geometric: the number of trials to the first success, each a success with probability p.
//
//   {"name": ..., "type": "geometric", "p": f64 from GEOMETRIC_MIN_P to 1}   (required)
//
// GEOMETRIC_MIN_P (about 3.98e-18) is the least p whose values cannot leave int64 whatever the
// draw. Generator steps: 1 (inversion, sampling/geometric.h), p = 1 included.
// Text: 1 to 20 bytes. Column: int64.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "kinds/kind_unit.h"
#include "sampling/geometric.h"

namespace tessary {

struct Geometric {
  double p = 0;

  static constexpr std::string_view NAME = "geometric";
  static constexpr std::array<std::string_view, 1> FIELDS = {"p"};
  static constexpr std::size_t REQUIRED = 1;

  [[nodiscard]] static Problem take(Geometric& spec, std::size_t, const BufferedValue& value) {
    return take_f64(value, spec.p);
  }
  [[nodiscard]] static Problem finish(Geometric& spec) {
    if (spec.p >= GEOMETRIC_MIN_P && spec.p <= 1) return std::nullopt;
    return parameter_problem("`p` must be a number from " + f64_string(GEOMETRIC_MIN_P) +
                             " to 1, not " + f64_string(spec.p));
  }
  [[nodiscard]] static ParamFault fault(const Geometric&) { return ParamFault::None; }
  using Draw = GeometricDraw;
  static Draw prepare(const Geometric& params, std::uint64_t) {
    return prepare_geometric(params.p);
  }
  static std::int64_t draw(const Draw& prepared, Xoshiro256PlusPlus& rng, const EntityContext&) {
    return draw_geometric(prepared, rng);
  }
  static AttributeValue value(const Geometric&, std::int64_t cell) {
    return AttributeValue::from_i64(cell);
  }
  static void check(const Geometric&, std::vector<KindProblem>&) {}
  static ValueTextBounds text_bounds(const Geometric&, OutputBuffer&) { return int_text_bounds(); }
  static std::uint64_t work(const Geometric&) { return 2; }
  [[nodiscard]] static std::optional<ColumnSchemaError> plan_column(const Geometric&, std::size_t,
                                                                    Column& column) {
    return plan_int_column(column);
  }
  static bool fits_column(const Geometric&, const Column& column) {
    return column.kind == ColumnKind::Int64;
  }
};

}  // namespace tessary
