// Entity draws: every attribute's draw worked out once for a call's seed, and the dispatch that
// draws one attribute of one entity from it.
//
// What is not a value draw never comes from the entity's generator, so that it changes no other
// value: an attribute's key (the key of a unique_int's permutation) and its null decisions are
// mixes of the seed, the attribute's name key (read_specs: the name and its occurrence) and the
// entity's id, with SplitMix64's finaliser (random/xoshiro.h):
//
//   attribute key        splitmix64(seed ^ name_key, 1)
//   null word of id      splitmix64(name_key ^ ((seed + id) * INDEX_MULTIPLIER), 2)
//   null                 (null word >> 11) < floor(null_rate * 2^53)
//
// The null word depends on seed + id, as the entity's generator does, so nulls keep the overlap
// of neighbouring seeds (entity i under seed s is entity 0 under seed s + i). A null value still
// takes its draws: turning nulls on changes no other attribute, and a value that is not null is
// the value it has without nulls.
//
// Prepared draws are immutable: any number of threads may draw from one list at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <variant>
#include <vector>

#include "kinds/kind_list.h"
#include "random/xoshiro.h"
#include "records/attr_spec.h"
#include "sampling/param_fault.h"

namespace tessary {

// What a kind's draws fail on before any draw (a choice's picks may still fail, entity by entity).
[[nodiscard]] inline ParamFault param_fault(const AttrKind& kind) {
  return std::visit([]<class K>(const K& params) { return K::fault(params); }, kind);
}

// The FNV-1a 64 hash of a name's UTF-8 bytes.
std::uint64_t fnv1a64(std::string_view name);

// The key of spec k of a document, distinct for a name's repeated specs: splitmix64(fnv1a64(name),
// occurrence + 1), the occurrence counting the earlier specs of the same name.
inline std::uint64_t name_key(std::string_view name, std::uint64_t occurrence) {
  return splitmix64(fnv1a64(name), occurrence + 1);
}

inline std::uint64_t attribute_key(std::uint64_t seed, std::uint64_t name_key) {
  return splitmix64(seed ^ name_key, 1);
}

// floor(null_rate * 2^53): a null decision compares 53 bits of the null word with it.
// Requires: 0 <= null_rate <= 1.
inline std::uint64_t null_threshold(double null_rate) {
  return static_cast<std::uint64_t>(null_rate * 0x1p53);
}

// One attribute's draw under a seed.
struct PreparedDraw {
  // The attribute's kind (its index in AttrKind), or UNUSABLE when its parameters fail every
  // entity (`fault` says why).
  std::uint8_t kind = 0;
  ParamFault fault = ParamFault::None;
  std::uint64_t null_threshold = 0;  // 0: never null
  std::uint64_t null_key = 0;        // the name key, for null words
  std::uint64_t seed = 0;
  AnyDraw draw;  // in the slot of `kind`

  static constexpr std::uint8_t UNUSABLE = KIND_COUNT;

  // Whether entity `id`'s value is null (its draws still happen).
  [[gnu::always_inline]] bool is_null(std::uint64_t id) const {
    if (null_threshold == 0) return false;
    return splitmix64(null_key ^ ((seed + id) * INDEX_MULTIPLIER), 2) >> 11 < null_threshold;
  }
};

// The prepared draws of specs[0 .. n) under `seed`. Nothing throws except std::bad_alloc.
std::vector<PreparedDraw> prepare_draws(std::span<const AttrSpec> specs, std::uint64_t seed);

// Draws attribute `spec` of the entity from `rng` with its prepared draw and hands the result to
// visit(params, cell) (the kind's parameters and its CellValue), where params is the attribute's
// kind K. An attribute whose parameters are unusable panics with the message of its fault,
// before any draw; a failing pick panics within the draw. One test of the kind per kind in list
// order, which the compiler inlines into the per-entity loops (neither std::visit, which it does
// not always inline, nor a jump table, whose indirect branch alternating kinds mispredict).
template <std::size_t I = 0, class Visit>
[[gnu::always_inline]] inline void draw_attribute(const PreparedDraw& prepared,
                                                  const AttrSpec& spec, Xoshiro256PlusPlus& rng,
                                                  const EntityContext& entity, Visit&& visit) {
  if constexpr (I == KIND_COUNT) {
    sampler_failure::unusable(prepared.fault);
  } else {
    using K = std::variant_alternative_t<I, AttrKind>;
    if (prepared.kind == I) {
      visit(*std::get_if<I>(&spec.kind), K::draw(prepared.draw.in_place<K>(), rng, entity));
      return;
    }
    draw_attribute<I + 1>(prepared, spec, rng, entity, visit);
  }
}

// A reference drawn for a column, without going through a record's value where it can be (what
// Reference::draw gives a record): the pick, then
// visit(reference, ParentId) for the parent's `id`; for a reference that copies in place, the
// replayed attributes drawn as the parent table draws them (on the parent entity's generator,
// made only when one of them takes steps), the values of all but the copied one dropped, and
// visit(parent kind, its cell) for the copied one, or visit(reference, null) where the parent's
// value is null; else visit(reference, the value Reference::copy rebuilds). The values are those
// of Reference::draw, the cells those of the kind the reference copies, as its column is.
// A call of its own: inlined into the entity's loop, its dispatch over every kind the copy may be
// would grow the loop past what the compiler inlines, and the draws of the loop's other kinds
// would become calls (measured: the tables without references slowed down by 4%). For the same
// reason `visit` should be a visitor of its own, not the one the loop hands draw_attribute.
template <class Visit>
[[gnu::noinline]] void draw_reference(const Reference::Draw& prepared, Xoshiro256PlusPlus& rng,
                                      const EntityContext& entity, Visit& visit) {
  const Reference& spec = *prepared.spec;
  const std::uint64_t id = Reference::pick(spec, rng, entity);
  if (spec.parent_spec == Reference::ID) {
    visit(spec, ParentId{id});
    return;
  }
  if (prepared.parent_specs == nullptr) {
    visit(spec, Reference::copy(spec, id, *entity.text));
    return;
  }
  Xoshiro256PlusPlus parent_rng{};
  if (spec.replay_takes_steps) parent_rng = entity_rng(prepared.parent_seed, id);
  // No replayed attribute reads a value or picks a parent of its own.
  const EntityContext parent{id, nullptr, entity.text, nullptr};
  for (std::size_t j = 0; j + 1 < spec.replay.size(); ++j) {
    const std::size_t k = spec.replay[j];
    draw_attribute(prepared.parent_draws[k], prepared.parent_specs[k], parent_rng, parent,
                   []<class K, class Cell>(const K&, Cell) {});
  }
  const PreparedDraw& copied = prepared.parent_draws[spec.parent_spec];
  const bool null = copied.is_null(id);
  draw_attribute(copied, prepared.parent_specs[spec.parent_spec], parent_rng, parent,
                 [&]<class K, class Cell>(const K& params, Cell cell) {
                   if (null) {
                     visit(spec, AttributeValue::null());
                   } else {
                     visit(params, cell);
                   }
                 });
}

// The value of attribute `spec` of the entity, as a record holds it: draw_attribute, then null
// when the null decision says so.
[[gnu::always_inline]] inline AttributeValue draw_value(const PreparedDraw& prepared,
                                                        const AttrSpec& spec,
                                                        Xoshiro256PlusPlus& rng,
                                                        const EntityContext& entity) {
  AttributeValue value;
  draw_attribute(prepared, spec, rng, entity,
                 [&value]<class K, class Cell>(const K& params, Cell cell) {
                   value = K::value(params, cell);
                 });
  if (prepared.is_null(entity.id)) value = AttributeValue::null();
  return value;
}

}  // namespace tessary
