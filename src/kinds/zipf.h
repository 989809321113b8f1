// zipf: an integer k of 1..n with probability proportional to k^-s.
//
//   {"name": ..., "type": "zipf", "n": integer from 1 to 2^53, "s": f64 > 0}   (both required)
//
// Generator steps: one per attempt of rejection-inversion (sampling/zipf.h), a bounded expected
// number of attempts. Text: 1 to 16 bytes. Column: int64.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kinds/kind_unit.h"
#include "sampling/zipf.h"

namespace tessary {

struct Zipf {
  std::int64_t n = 1;
  double s = 1;

  static constexpr std::string_view NAME = "zipf";
  static constexpr std::array<std::string_view, 2> FIELDS = {"n", "s"};
  static constexpr std::size_t REQUIRED = 2;

  [[nodiscard]] static Problem take(Zipf& spec, std::size_t field, const BufferedValue& value) {
    if (field == 0) return take_i64(value, spec.n);
    return take_f64(value, spec.s);
  }
  [[nodiscard]] static Problem finish(Zipf& spec) {
    if (spec.n < 1 || spec.n > ZIPF_MAX_N) {
      return parameter_problem("`n` must be an integer from 1 to 2^53, not " +
                               std::to_string(spec.n));
    }
    if (!(spec.s > 0)) return parameter_problem("`s` must be above 0, not " + f64_string(spec.s));
    return std::nullopt;
  }
  [[nodiscard]] static ParamFault fault(const Zipf&) { return ParamFault::None; }
  using Draw = ZipfDraw;
  static Draw prepare(const Zipf& params, std::uint64_t) {
    return prepare_zipf(params.n, params.s);
  }
  static std::int64_t draw(const Draw& prepared, Xoshiro256PlusPlus& rng, const EntityContext&) {
    return draw_zipf(prepared, rng);
  }
  static AttributeValue value(const Zipf&, std::int64_t cell) {
    return AttributeValue::from_i64(cell);
  }
  static void check(const Zipf&, std::vector<KindProblem>&) {}
  static ValueTextBounds text_bounds(const Zipf&, OutputBuffer&) { return {1, 16}; }
  static std::uint64_t work(const Zipf&) { return 6; }
  [[nodiscard]] static std::optional<ColumnSchemaError> plan_column(const Zipf&, std::size_t,
                                                                    Column& column) {
    return plan_int_column(column);
  }
  static bool fits_column(const Zipf&, const Column& column) {
    return column.kind == ColumnKind::Int64;
  }
};

}  // namespace tessary
