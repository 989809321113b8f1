// AttrSpec: one attribute of the entities to generate, as read from the specs document.
//
// A spec list is built once per call and then only read, by every worker thread at once, without
// locks; it outlives every record built from it, so records may point into it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "records/json_value.h"

namespace tessary {

struct UniformInt {
  std::int64_t low = 0;
  std::int64_t high = 0;
};

struct UniformFloat {
  double low = 0;
  double high = 0;
};

struct Normal {
  double mean = 0;
  double std_dev = 0;
  std::optional<double> min;
  std::optional<double> max;
};

// Made by make_choice, which derives the last two fields from `weights` once per call, so that a
// weighted pick does not add up the weights again for every entity.
struct Choice {
  std::vector<JsonValue> values;
  std::vector<double> weights;  // as the document gives them; empty when it gives none
  // The weights the pick scans when they differ from `weights`, else empty: when every weight is
  // finite but their total overflows, each weight times the same power of two, the largest that
  // makes the total finite (exact, except for weights scaled into the subnormal range).
  std::vector<double> scaled_weights;
  // The total of the weights the pick scans, added one by one in list order from -0.0.
  double weight_total = -0.0;
};

// A choice between `values`, weighted by `weights` (empty for a uniform pick), with its pick
// weights and total derived. Nothing throws except std::bad_alloc.
Choice make_choice(std::vector<JsonValue> values, std::vector<double> weights);

// The weights a weighted pick of `choice` scans, whose total is choice.weight_total.
inline std::span<const double> pick_weights(const Choice& choice) {
  return choice.scaled_weights.empty() ? choice.weights : choice.scaled_weights;
}

// The variant order is part of the document format: "type" may name a kind by its index here.
using AttrKind = std::variant<UniformInt, UniformFloat, Normal, Choice>;

// The names of the kinds, in variant order: what "type" names them by.
inline constexpr std::array<std::string_view, 4> KIND_NAMES = {"uniform_int", "uniform_float",
                                                               "normal", "choice"};

struct AttrSpec {
  std::string name;
  AttrKind kind;
};

}  // namespace tessary
