// The attribute samplers: one spec and the entity's generator in, one attribute value out.
//
// Each kind's sampler (its unit under kinds/, which also states the number of generator steps it
// takes, part of the output contract) validates its parameters when it runs and panics with the
// call-ending message on unusable ones; the draws it is made of take parameters already checked,
// for a caller that checks a spec once for many entities. Either way the values and steps are the
// same. All samplers only read the attribute spec and act on a generator the caller owns; they
// allocate nothing (except the message of a panic) and are safe on any thread.
//
// The samplers are defined inline, so that build_entity's loop compiles into one function that
// keeps the generator's four words in registers; only failures and the rare slow paths of the
// normal draw are out of line.
#pragma once

#include <cstddef>
#include <variant>

#include "random/xoshiro.h"
#include "records/attr_spec.h"
#include "records/attribute_value.h"
#include "sampling/param_fault.h"

namespace tessary {

// What a sampler fails on before any draw (a choice's picks may still fail, entity by entity).
[[nodiscard]] inline ParamFault param_fault(const AttrKind& kind) {
  return std::visit([]<class K>(const K& params) { return K::fault(params); }, kind);
}

// Dispatches on the attribute spec's kind: one test of the index per kind, in list order, which
// the compiler inlines into the per-entity loops. (Neither std::visit, which the compiler does not
// always inline, nor a jump table, whose indirect branch the loops' alternating kinds mispredict.)
// A variant without a value (never made by the reader) goes to the last kind.
template <std::size_t I = 0>
[[gnu::always_inline]] inline AttributeValue sample_kind(const AttrKind& kind,
                                                         Xoshiro256PlusPlus& rng) {
  using Kind = std::variant_alternative_t<I, AttrKind>;
  if constexpr (I + 1 == KIND_COUNT) {
    return Kind::sample(*std::get_if<I>(&kind), rng);
  } else {
    if (kind.index() == I) return Kind::sample(*std::get_if<I>(&kind), rng);
    return sample_kind<I + 1>(kind, rng);
  }
}

inline AttributeValue sample_attribute(const AttrSpec& spec, Xoshiro256PlusPlus& rng) {
  return sample_kind(spec.kind, rng);
}

}  // namespace tessary
