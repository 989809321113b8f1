// The attribute samplers: one spec and the entity's generator in, one attribute value out.
//
// Each sampler validates its parameters when it runs (there are no precomputed sampler objects)
// and panics with the call-ending message on unusable ones. The number of generator steps each
// takes is part of the output contract:
//   uniform_int    1, or 2 on a correction
//   uniform_float  1
//   normal         1 per main attempt, +1 per wedge test, +2 per tail attempt
//   choice         0 when "values" is empty; 1 with weights; 1 or 2 without
// All samplers only read the spec and act on a generator the caller owns; they allocate nothing
// (except the message of a panic) and are safe on any thread.
#pragma once

#include "random/xoshiro.h"
#include "records/attr_spec.h"
#include "records/entity_record.h"

namespace tessary {

// Dispatches on the spec's kind.
AttributeValue sample_attribute(const AttrSpec& spec, Xoshiro256PlusPlus& rng);

// low + an offset in 0..high-low by the widening multiply with one correction draw; the full i64
// range returns one raw draw. Panics with "cannot sample empty range" (before any draw) when
// high < low.
AttributeValue sample_uniform_int(const UniformInt& params, Xoshiro256PlusPlus& rng);

// u * scale + low, u in [0, 1) with 52 random bits and scale = high - low shrunk until the largest
// possible sample is at most high, so a sample never exceeds high. Panics (before any draw) with
// the EmptyRange message unless low < high, and with NonFinite when high - low overflows.
AttributeValue sample_uniform_float(const UniformFloat& params, Xoshiro256PlusPlus& rng);

// mean + std_dev * standard_normal, then "min", then "max": a value below the bound (or NaN)
// becomes the bound, a value equal to it stays as it is (so -0.0 stays -0.0 under a min of 0.0). A
// result that is not finite is null. Panics with BadVariance (before any draw) when std_dev is not
// finite; a negative or zero std_dev is accepted and still draws.
AttributeValue sample_normal(const Normal& params, Xoshiro256PlusPlus& rng);

// Null without a draw when there are no values; otherwise a uniform index (no weights) or the
// weighted pick, and the value at that index, borrowed from the spec (the spec list outlives the
// records). Panics with "index out of bounds: ..." when the weighted pick lands on a weight beyond
// the last value.
AttributeValue sample_choice(const Choice& params, Xoshiro256PlusPlus& rng);

}  // namespace tessary
