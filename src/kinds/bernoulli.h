// bernoulli: true with probability p, else false.
//
//   {"name": ..., "type": "bernoulli", "p": f64 in [0, 1]}   (required)
//
// Generator steps: 1, whatever p (0 and 1 included): true when the draw's top 53 bits, as an
// integer, are below floor(p * 2^53).
// Text: "true" or "false". Column: bool.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "kinds/kind_unit.h"

namespace tessary {

struct Bernoulli {
  double p = 0;

  static constexpr std::string_view NAME = "bernoulli";
  static constexpr std::array<std::string_view, 1> FIELDS = {"p"};
  static constexpr std::size_t REQUIRED = 1;

  [[nodiscard]] static Problem take(Bernoulli& spec, std::size_t, const BufferedValue& value) {
    return take_f64(value, spec.p);
  }
  [[nodiscard]] static Problem finish(Bernoulli& spec) {
    if (spec.p >= 0 && spec.p <= 1) return std::nullopt;
    return parameter_problem("`p` must be a number from 0 to 1, not " + f64_string(spec.p));
  }
  [[nodiscard]] static ParamFault fault(const Bernoulli&) { return ParamFault::None; }
  struct Draw {
    std::uint64_t threshold;  // floor(p * 2^53), exact: a product by a power of two
  };
  static Draw prepare(const Bernoulli& params, std::uint64_t) {
    return {static_cast<std::uint64_t>(params.p * 0x1p53)};
  }
  static bool draw(const Draw& prepared, Xoshiro256PlusPlus& rng, const EntityContext&) {
    return (rng.next_u64() >> 11) < prepared.threshold;
  }
  static AttributeValue value(const Bernoulli&, bool cell) {
    return AttributeValue::from_bool(cell);
  }
  static void check(const Bernoulli&, std::vector<KindProblem>&) {}
  static ValueTextBounds text_bounds(const Bernoulli&, OutputBuffer&) { return {4, 5}; }
  static std::uint64_t work(const Bernoulli&) { return 1; }
  [[nodiscard]] static std::optional<ColumnSchemaError> plan_column(const Bernoulli&, std::size_t,
                                                                    Column& column) {
    column.kind = ColumnKind::Bool;
    return std::nullopt;
  }
  static bool fits_column(const Bernoulli&, const Column& column) {
    return column.kind == ColumnKind::Bool;
  }
};

}  // namespace tessary
