// The attribute samplers: one spec and the entity's generator in, one attribute value out.
//
// Each sampler validates its parameters when it runs and panics with the call-ending message on
// unusable ones; the draws it is made of take parameters already checked, for a caller that checks
// a spec once for many entities. The number of generator steps each takes is part of the output
// contract:
//   uniform_int    1, or 2 on a correction
//   uniform_float  1
//   normal         1 per main attempt, +1 per wedge test, +2 per tail attempt
//   choice         0 when "values" is empty; 1 with weights; 1 or 2 without
// All samplers only read the attribute spec and act on a generator the caller owns; they allocate
// nothing (except the message of a panic) and are safe on any thread.
//
// The samplers are defined here, inline, so that build_entity's loop compiles into one function
// that keeps the generator's four words in registers; only failures and the rare slow paths of the
// normal draw are out of line.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <string>
#include <variant>

#include "sampling/index_pick.h"
#include "sampling/standard_normal.h"
#include "random/xoshiro.h"
#include "records/attr_spec.h"
#include "records/entity_record.h"
#include "base/panic.h"

namespace tessary {

// ---- Parameter validation, shared with check_specs so that the two cannot disagree.

// Why the parameters of a spec cannot be sampled. Each fault fails every entity alike, before any
// draw.
enum class ParamFault : std::uint8_t { None, EmptyIntRange, EmptyRange, NonFinite, BadVariance };

// The message with which sampling panics on `fault` (not None): "cannot sample empty range" for
// EmptyIntRange, else "called `Result::unwrap()` on an `Err` value: " and the fault's name.
std::string param_fault_message(ParamFault fault);

// The message with which a choice panics when its pick lands on a weight past its values:
// "index out of bounds: the len is {len} but the index is {index}".
std::string index_out_of_bounds_message(std::uint64_t len, std::uint64_t index);

// high < low: the range low..high is empty.
inline ParamFault uniform_int_fault(const UniformInt& params) {
  return params.high < params.low ? ParamFault::EmptyIntRange : ParamFault::None;
}

// Unless low < high (NaN included), EmptyRange; when high - low overflows, NonFinite.
inline ParamFault uniform_float_fault(const UniformFloat& params) {
  if (!(params.low < params.high)) return ParamFault::EmptyRange;
  if (!std::isfinite(params.high - params.low)) return ParamFault::NonFinite;
  return ParamFault::None;
}

// A std_dev that is not finite; a negative or zero one is accepted.
inline ParamFault normal_fault(const Normal& params) {
  return std::isfinite(params.std_dev) ? ParamFault::None : ParamFault::BadVariance;
}

// What a sampler fails on before any draw: a numeric attribute's fault, None for a choice (whose
// picks may still fail, entity by entity).
inline ParamFault param_fault(const AttrKind& kind) {
  if (const auto* spec = std::get_if<UniformInt>(&kind)) return uniform_int_fault(*spec);
  if (const auto* spec = std::get_if<UniformFloat>(&kind)) return uniform_float_fault(*spec);
  if (const auto* spec = std::get_if<Normal>(&kind)) return normal_fault(*spec);
  return ParamFault::None;
}

namespace sampler_failure {
// Panics with param_fault_message(fault).
[[noreturn, gnu::cold]] void unusable(ParamFault fault,
                                      SourceLocation where = SourceLocation::current());
// Panics with index_out_of_bounds_message(len, index).
[[noreturn, gnu::cold]] void index_out_of_bounds(std::uint64_t len, std::uint64_t index,
                                                 SourceLocation where = SourceLocation::current());
}  // namespace sampler_failure

// ---- Draws: what each sampler does once its parameters are known to be usable. A caller that
// samples one attribute for many entities may check its parameters once and prepare its draw
// once; the samplers below do both on every call. Either way the values and steps are the same.

// A uniform_int's draw: low and the count of values in low..high, wrapping to 0 for the full i64
// range. Requires: uniform_int_fault(params) == None.
struct UniformIntDraw {
  std::int64_t low;
  std::uint64_t range;
};
inline UniformIntDraw prepare_uniform_int(const UniformInt& params) {
  return {params.low,
          static_cast<std::uint64_t>(params.high) - static_cast<std::uint64_t>(params.low) + 1};
}

// low + an offset in 0..high-low by the widening multiply with one correction draw; the full i64
// range returns one raw draw.
inline std::int64_t draw_uniform_int(const UniformIntDraw& draw, Xoshiro256PlusPlus& rng) {
  if (draw.range == 0) return static_cast<std::int64_t>(rng.next_u64());
  const std::uint64_t offset =
      widening_pick<std::uint64_t>(draw.range, [&rng] { return rng.next_u64(); });
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(draw.low) + offset);
}

// A uniform_float's draw: low and scale = high - low shrunk until the largest possible sample is
// at most high. Requires: uniform_float_fault(params) == None.
struct UniformFloatDraw {
  double low;
  double scale;
};
inline UniformFloatDraw prepare_uniform_float(const UniformFloat& params) {
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
  return {low, scale};
}

// u * scale + low, u in [0, 1) with 52 random bits: never above high, never below low.
inline double draw_uniform_float(const UniformFloatDraw& draw, Xoshiro256PlusPlus& rng) {
  const double u = mantissa_f64(rng) - 1.0;
  return u * draw.scale + draw.low;
}

// mean + std_dev * standard_normal, then "min", then "max": a value below the bound (or NaN)
// becomes the bound, a value equal to it stays as it is (so -0.0 stays -0.0 under a min of 0.0).
// The result may be infinite or NaN. Requires: normal_fault(params) == None.
inline double draw_normal(const Normal& params, Xoshiro256PlusPlus& rng) {
  double value = params.mean + params.std_dev * standard_normal(rng);
  if (params.min && (std::isnan(value) || value < *params.min)) value = *params.min;
  if (params.max && (std::isnan(value) || value > *params.max)) value = *params.max;
  return value;
}

// The index of a choice's pick: a uniform index (no weights) or the weighted pick. Panics with
// "index out of bounds: ..." when the weighted pick lands on a weight beyond the last value.
// Requires: at least one value.
inline std::size_t draw_choice_index(const Choice& params, Xoshiro256PlusPlus& rng) {
  const std::uint64_t n = params.values.size();
  const std::uint64_t index = params.weights.empty()
                                  ? uniform_index(n, rng)
                                  : weighted_pick(pick_weights(params), params.weight_total, rng);
  if (index >= n) [[unlikely]] {
    sampler_failure::index_out_of_bounds(n, index);
  }
  return static_cast<std::size_t>(index);
}

// ---- The samplers

// A uniform_int's value (draw_uniform_int). Panics with "cannot sample empty range" (before any
// draw) when high < low.
inline AttributeValue sample_uniform_int(const UniformInt& params, Xoshiro256PlusPlus& rng) {
  if (const ParamFault fault = uniform_int_fault(params); fault != ParamFault::None) [[unlikely]] {
    sampler_failure::unusable(fault);
  }
  return AttributeValue::from_i64(draw_uniform_int(prepare_uniform_int(params), rng));
}

// A uniform_float's value (draw_uniform_float). Panics (before any draw) with the EmptyRange
// message unless low < high, and with NonFinite when high - low overflows.
inline AttributeValue sample_uniform_float(const UniformFloat& params, Xoshiro256PlusPlus& rng) {
  if (const ParamFault fault = uniform_float_fault(params); fault != ParamFault::None)
      [[unlikely]] {
    sampler_failure::unusable(fault);
  }
  return AttributeValue::from_f64(draw_uniform_float(prepare_uniform_float(params), rng));
}

// A normal's value (draw_normal); a result that is not finite is null. Panics with BadVariance
// (before any draw) when std_dev is not finite; a negative or zero std_dev is accepted and still
// draws.
inline AttributeValue sample_normal(const Normal& params, Xoshiro256PlusPlus& rng) {
  if (const ParamFault fault = normal_fault(params); fault != ParamFault::None) [[unlikely]] {
    sampler_failure::unusable(fault);
  }
  return AttributeValue::from_f64(draw_normal(params, rng));
}

// Null without a draw when there are no values; otherwise the value at draw_choice_index,
// borrowed from the attribute spec (the attribute spec list outlives the records).
inline AttributeValue sample_choice(const Choice& params, Xoshiro256PlusPlus& rng) {
  if (params.values.empty()) return AttributeValue::null();
  return AttributeValue::borrow(params.values[draw_choice_index(params, rng)]);
}

// Dispatches on the attribute spec's kind. (A switch rather than std::visit, which the compiler
// does not always inline.)
inline AttributeValue sample_attribute(const AttrSpec& spec, Xoshiro256PlusPlus& rng) {
  const AttrKind& kind = spec.kind;
  switch (kind.index()) {
    case 0:
      return sample_uniform_int(*std::get_if<UniformInt>(&kind), rng);
    case 1:
      return sample_uniform_float(*std::get_if<UniformFloat>(&kind), rng);
    case 2:
      return sample_normal(*std::get_if<Normal>(&kind), rng);
    default:
      return sample_choice(*std::get_if<Choice>(&kind), rng);
  }
}

}  // namespace tessary
