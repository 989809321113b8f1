// Test helpers that tell which sampler paths the draws of an entity took, without touching the
// samplers: each attribute is sampled for real, the generator steps it took are counted, and the
// first attempt of a normal draw is replayed on a copy of the generator to tell the layer it fell
// in. Parameters and values tell the rest (scale rounding, clamping, zero weights).
//
// Path names, as the stream vectors claim them:
//   uniform_int.one_draw  uniform_int.correction  uniform_int.full_range
//   uniform_float.draw  uniform_float.tiny_range  uniform_float.huge_range
//   uniform_float.rounded_scale  uniform_float.shrink
//   normal.main  normal.wedge_accept  normal.wedge_reject  normal.tail  normal.tail_retry
//   normal.clamp_min  normal.clamp_max  normal.min_above_max  normal.overflow_null
//   normal.negative_zero  normal.zero_at_bound  normal.nan_clamped
//   choice.empty  choice.uniform  choice.uniform_correction  choice.weighted
//   choice.zero_weight_passed  choice.zero_total  choice.negative_weight
//   text.non_ascii  text.escapes  names.repeated  specs.none  ids.top_of_u64
//   sequence.value  unique_int.one_pass  unique_int.cycle_walk  uuid.draw  bernoulli.draw
//   exponential.draw  lognormal.draw  geometric.draw  poisson.inversion  poisson.ptrs
//   poisson.ptrs_retry  zipf.first_try  zipf.retry  timestamp.before_1970  timestamp.leap_day
//   date.before_1970  date.leap_day  nulls.null  pattern.draw  template.fields  const.value
//   expression.value  expression.null  switch.case  switch.default  switch.no_case  names.hidden
// (and range.empty, which the vectors test tells from the range itself).
#pragma once

#include <algorithm>
#include <bit>
#include <vector>
#include <cmath>
#include <cstdint>
#include <set>
#include <span>
#include <string>
#include <string_view>

#include "sampling/sample_value.h"
#include "sampling/standard_normal.h"
#include "attribute_text.h"
#include "sampling/stream_helpers.h"
#include "random/xoshiro.h"
#include "records/attr_spec.h"

namespace tessary::testing {

using PathSet = std::set<std::string>;

// The error of high - low as rounded: 0 when the difference is exact (Knuth's two-sum).
inline double difference_error(double high, double low) {
  const double s = high - low;
  const double b = s - high;
  return (high - (s - b)) + (-low - b);
}

inline void uniform_int_paths(const UniformInt& p, int steps, PathSet& paths) {
  const std::uint64_t range =
      static_cast<std::uint64_t>(p.high) - static_cast<std::uint64_t>(p.low) + 1;
  if (range == 0) paths.insert("uniform_int.full_range");
  else paths.insert(steps == 2 ? "uniform_int.correction" : "uniform_int.one_draw");
}

inline void uniform_float_paths(const UniformFloat& p, PathSet& paths) {
  paths.insert("uniform_float.draw");
  double scale = p.high - p.low;
  if (scale < 0x1p-1000) paths.insert("uniform_float.tiny_range");
  if (scale > 0x1p1000) paths.insert("uniform_float.huge_range");
  if (difference_error(p.high, p.low) != 0) paths.insert("uniform_float.rounded_scale");
  if (scale * (1.0 - 0x1p-52) + p.low > p.high) paths.insert("uniform_float.shrink");
}

// `before` is the generator as the sampler found it, `value` what it returned.
inline void normal_paths(const Normal& p, const Xoshiro256PlusPlus& before, int steps,
                         const AttributeValue& value, PathSet& paths) {
  Xoshiro256PlusPlus replay = before;
  const ZigguratAttempt first = ziggurat_attempt(replay);
  if (inside_layer(first)) {
    paths.insert("normal.main");
  } else if (first.layer == 0) {
    paths.insert("normal.tail");
    if (steps > 3) paths.insert("normal.tail_retry");  // one step, then two per tail try
  } else {
    paths.insert(steps == 2 ? "normal.wedge_accept" : "normal.wedge_reject");
  }
  replay = before;
  const double raw = p.mean + p.std_dev * standard_normal(replay);
  if (p.min && p.max && *p.min > *p.max) paths.insert("normal.min_above_max");
  if ((p.min || p.max) && std::isnan(raw)) paths.insert("normal.nan_clamped");
  if (p.min && raw < *p.min) paths.insert("normal.clamp_min");
  if (p.max && raw > *p.max) paths.insert("normal.clamp_max");
  for (const std::optional<double>& bound : {p.min, p.max}) {
    // A zero that equals the bound but has the other sign keeps its own sign.
    if (bound && raw == 0 && *bound == 0 && std::signbit(raw) != std::signbit(*bound)) {
      paths.insert("normal.zero_at_bound");
    }
  }
  if (value.kind == AttributeValue::Kind::Null) paths.insert("normal.overflow_null");
  if (value.kind == AttributeValue::Kind::Double && value.d == 0 && std::signbit(value.d)) {
    paths.insert("normal.negative_zero");
  }
}

inline void choice_paths(const Choice& p, int steps, const AttributeValue& value, PathSet& paths) {
  if (p.values.empty()) {
    paths.insert("choice.empty");
    return;
  }
  if (p.weights.empty()) {
    paths.insert(steps == 2 ? "choice.uniform_correction" : "choice.uniform");
    return;
  }
  paths.insert("choice.weighted");
  const std::size_t index = static_cast<std::size_t>(value.borrowed - p.values.data());
  double total = -0.0;
  for (double w : p.weights) {
    total += w;
    if (w < 0) paths.insert("choice.negative_weight");
  }
  if (total == 0) paths.insert("choice.zero_total");
  for (std::size_t j = 0; j < index; ++j) {
    if (p.weights[j] == 0) paths.insert("choice.zero_weight_passed");
  }
}

// The paths of the later kinds, from the value drawn, the steps taken and the prepared draw.
inline void later_kind_paths(const AttrSpec& spec, const PreparedDraw& prepared, std::uint64_t id,
                             int steps, const AttributeValue& value, PathSet& paths) {
  if (std::holds_alternative<Sequence>(spec.kind)) paths.insert("sequence.value");
  if (std::holds_alternative<Uuid>(spec.kind)) paths.insert("uuid.draw");
  if (std::holds_alternative<Bernoulli>(spec.kind)) paths.insert("bernoulli.draw");
  if (std::holds_alternative<Geometric>(spec.kind)) paths.insert("geometric.draw");
  if (std::holds_alternative<Lognormal>(spec.kind)) paths.insert("lognormal.draw");
  if (std::holds_alternative<Exponential>(spec.kind)) paths.insert("exponential.draw");
  if (std::holds_alternative<UniqueInt>(spec.kind)) {
    // One pass of the same network over its whole bit width: cycle walking took more when that
    // pass left the domain.
    const KeyedPermutation walked = prepared.draw.get<UniqueInt>().permutation;
    KeyedPermutation one_pass = walked;
    one_pass.last = (one_pass.high_mask << one_pass.low_bits) | one_pass.low_mask;
    paths.insert(permute(one_pass, id) > walked.last ? "unique_int.cycle_walk"
                                                     : "unique_int.one_pass");
  }
  if (const auto* p = std::get_if<Poisson>(&spec.kind)) {
    if (p->mean < POISSON_INVERSION_BELOW) {
      paths.insert("poisson.inversion");
    } else {
      paths.insert(steps == 2 ? "poisson.ptrs" : "poisson.ptrs_retry");
    }
  }
  if (std::holds_alternative<Zipf>(spec.kind)) {
    paths.insert(steps == 1 ? "zipf.first_try" : "zipf.retry");
  }
  if (std::holds_alternative<Timestamp>(spec.kind) || std::holds_alternative<Date>(spec.kind)) {
    const std::string_view kind = std::holds_alternative<Date>(spec.kind) ? "date" : "timestamp";
    if (value.i < 0) paths.insert(std::string(kind) + ".before_1970");
    const std::string text = attribute_text(value);
    if (text.find("-02-29") != std::string::npos) paths.insert(std::string(kind) + ".leap_day");
  }
}

// The paths of the kinds that read earlier attributes, and of patterns.
inline void derived_kind_paths(const AttrSpec& spec, const AttributeValue& value, PathSet& paths) {
  const bool null = value.kind == AttributeValue::Kind::Null;
  if (std::holds_alternative<PatternKind>(spec.kind)) paths.insert("pattern.draw");
  if (std::holds_alternative<Const>(spec.kind)) paths.insert("const.value");
  if (const auto* p = std::get_if<Template>(&spec.kind)) {
    if (std::any_of(p->parts.begin(), p->parts.end(), [](const auto& part) { return part.field; })) {
      paths.insert("template.fields");
    }
  }
  if (std::holds_alternative<ExpressionKind>(spec.kind)) {
    paths.insert(null ? "expression.null" : "expression.value");
  }
}

// The paths of a switch: which branch it took, for the value of its `on` attribute.
inline void switch_paths(const AttrSpec& spec, const EntityContext& entity, PathSet& paths) {
  const auto* p = std::get_if<Switch>(&spec.kind);
  if (p == nullptr) return;
  const std::optional<std::size_t> branch = switch_branch(*p, entity.values[p->on], *entity.text);
  if (!branch) {
    paths.insert("switch.no_case");
  } else {
    paths.insert(*branch < switch_case_count(*p) ? "switch.case" : "switch.default");
  }
}

// Draws one attribute from `rng` as the entity build does, adds the paths it took and gives its
// value.
inline AttributeValue attribute_paths(const AttrSpec& spec, const PreparedDraw& prepared,
                            const EntityContext& entity, Xoshiro256PlusPlus& rng,
                            PathSet& paths) {
  const std::uint64_t id = entity.id;
  const Xoshiro256PlusPlus before = rng;
  const AttributeValue value = draw_value(prepared, spec, rng, entity);
  const int steps = steps_between(before, rng);
  if (const auto* p = std::get_if<UniformInt>(&spec.kind)) uniform_int_paths(*p, steps, paths);
  if (const auto* p = std::get_if<UniformFloat>(&spec.kind)) uniform_float_paths(*p, paths);
  if (const auto* p = std::get_if<Normal>(&spec.kind)) normal_paths(*p, before, steps, value, paths);
  if (const auto* p = std::get_if<Choice>(&spec.kind)) choice_paths(*p, steps, value, paths);
  later_kind_paths(spec, prepared, id, steps, value, paths);
  derived_kind_paths(spec, value, paths);
  switch_paths(spec, entity, paths);
  if (value.kind == AttributeValue::Kind::Null && prepared.is_null(id)) paths.insert("nulls.null");
  return value;
}

// attribute_paths for entity 0 under seed 0, of a spec that reads no other.
inline void attribute_paths(const AttrSpec& spec, Xoshiro256PlusPlus& rng, PathSet& paths) {
  OutputBuffer text;
  attribute_paths(spec, prepare_draws({&spec, 1}, 0)[0], {0, nullptr, &text}, rng, paths);
}

// The paths of entity `index` under `seed`.
inline PathSet entity_paths(std::uint64_t seed, std::uint64_t index,
                            std::span<const AttrSpec> specs) {
  PathSet paths;
  if (specs.empty()) paths.insert("specs.none");
  Xoshiro256PlusPlus rng = entity_rng(seed, index);
  const std::vector<PreparedDraw> draws = prepare_draws(specs, seed);
  std::vector<AttributeValue> values(specs.size());
  std::vector<std::uint64_t> parent_ids(specs.size());
  OutputBuffer text;
  const EntityContext entity{index, values.data(), &text, parent_ids.data()};
  std::set<std::string_view> names;
  for (std::size_t k = 0; k < specs.size(); ++k) {
    values[k] = attribute_paths(specs[k], draws[k], entity, rng, paths);
    if (!names.insert(specs[k].name).second) paths.insert("names.repeated");
    if (specs[k].hidden) paths.insert("names.hidden");
  }
  if (index >= ~std::uint64_t{0} - 0xFFFF) paths.insert("ids.top_of_u64");
  return paths;
}

// Adds the paths an entity's JSON text shows.
inline void text_paths(std::string_view text, PathSet& paths) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) paths.insert("text.non_ascii");
    if (c == '\\') paths.insert("text.escapes");
  }
}

}  // namespace tessary::testing
