// choice: one of a list of JSON values, uniformly or by weight.
//
//   {"name": ..., "type": "choice", "values": [any...], "weights": [f64...]}   (values required)
//
// Generator steps: 0 when "values" is empty (the value is null); 1 with weights; 1 or 2 without
// (the widening multiply's correction).
// Never fails before a draw; a weighted pick that lands on a weight past the values panics with
// "index out of bounds: ...", entity by entity (check_specs tells how often).
// Text: the shortest and longest text of its values ("null" when there are none).
// Column: by its values, see column_schema.h; the cell of each value is worked out once.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "kinds/kind_unit.h"
#include "records/json_value.h"
#include "sampling/index_pick.h"

namespace tessary {

// Read through make_choice, which derives the last three fields from `weights` once per call, so
// that a weighted pick neither adds up the weights again nor scans them for every entity.
struct Choice {
  std::vector<JsonValue> values;
  std::vector<double> weights;  // as the document gives them; empty when it gives none
  // The weights the pick scans when they differ from `weights`, else empty: when every weight is
  // finite but their total overflows, each weight times the same power of two, the largest that
  // makes the total finite (exact, except for weights scaled into the subnormal range).
  std::vector<double> scaled_weights;
  // The total of the weights the pick scans, added one by one in list order from -0.0.
  double weight_total = -0.0;
  // Where the pick of those weights changes, for a search instead of the scan (empty: the scan).
  PickBands pick_bands;

  static constexpr std::string_view NAME = "choice";
  static constexpr std::array<std::string_view, 2> FIELDS = {"values", "weights"};
  static constexpr std::size_t REQUIRED = 1;

  [[nodiscard]] static Problem take(Choice& spec, std::size_t field, BufferedValue& value) {
    if (field == 0) return take_values(value, spec.values);
    return take_weights(value, spec.weights);
  }
  [[nodiscard]] static Problem finish(Choice& spec);
  [[nodiscard]] static ParamFault fault(const Choice&) { return ParamFault::None; }
  // The parameters themselves: make_choice worked out the pick's weights and total.
  using Draw = const Choice*;
  static Draw prepare(const Choice& params, std::uint64_t) { return &params; }
  // The index of the pick: a uniform index (no weights) or the weighted pick; 0 without a draw
  // when there are no values. Panics with "index out of bounds: ..." when the weighted pick lands
  // on a weight beyond the last value.
  static std::size_t draw(Draw params, Xoshiro256PlusPlus& rng, const EntityContext&);
  // Null when there are no values; otherwise the value at the drawn index, borrowed from the
  // attribute spec (the attribute spec list outlives the records).
  static AttributeValue value(const Choice& params, std::size_t cell) {
    if (params.values.empty()) return AttributeValue::null();
    return AttributeValue::borrow(params.values[cell]);
  }
  // A weighted choice with values whose pick lands past them: an error when every pick does, else
  // "may fail" with the share of entities; a warning when every weight is 0.
  static void check(const Choice& params, std::vector<KindProblem>& problems);
  static ValueTextBounds text_bounds(const Choice& params, OutputBuffer& scratch);
  // A weighted pick by the scan subtracts weights one after another (a dependent chain of about a
  // nanosecond each) until it stops, on average half-way and at worst at the end: a quarter of the
  // weights in units of a scalar sample (a few nanoseconds) covers the worst case. A search over
  // the bands takes log2 of the weights steps of a few nanoseconds while they fit the caches.
  static std::uint64_t work(const Choice& params) {
    const std::size_t k = params.weights.size();
    return params.pick_bands.lower.empty() ? 1 + k / 4 : 1 + std::bit_width(k);
  }
  // Refuses a choice whose distinct strings or JSON texts take 2^31 bytes or more together.
  [[nodiscard]] static std::optional<ColumnSchemaError> plan_column(const Choice& params,
                                                                    std::size_t k, Column& column);
  // A column of the null type holds nothing; any other holds the cells of these very values.
  static bool fits_column(const Choice& params, const Column& column) {
    return column.kind == ColumnKind::ChoiceNull ||
           (holds_choice_cells(column.kind) && column.choice.values == params.values.data() &&
            column.choice.count == params.values.size());
  }
};

// A choice between `values`, weighted by `weights` (empty for a uniform pick), with its pick
// weights and total derived. Nothing throws except std::bad_alloc.
Choice make_choice(std::vector<JsonValue> values, std::vector<double> weights);

// The weights a weighted pick of `choice` scans, whose total is choice.weight_total.
inline std::span<const double> pick_weights(const Choice& choice) {
  return choice.scaled_weights.empty() ? choice.weights : choice.scaled_weights;
}

// Always inlined: the entity's loops draw choices of their own and of the parents references
// copy, and with those callers the compiler's limits turned it into a call in the loop of a table
// of no references (2% more instructions there).
[[gnu::always_inline]] inline std::size_t Choice::draw(Draw params, Xoshiro256PlusPlus& rng,
                                                     const EntityContext&) {
  const std::uint64_t n = params->values.size();
  if (n == 0) return 0;
  const std::uint64_t index = params->weights.empty()
                                  ? uniform_index(n, rng)
                                  : weighted_pick(pick_weights(*params), params->weight_total,
                                                  params->pick_bands, rng);
  if (index >= n) [[unlikely]] {
    sampler_failure::index_out_of_bounds(n, index);
  }
  return static_cast<std::size_t>(index);
}

}  // namespace tessary
