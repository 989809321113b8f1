// The list of attribute kinds, and the generic dispatch over it.
//
// Adding a kind means writing its unit (kinds/<name>.h, see kind_unit.h) and adding it to AttrKind
// below; every dispatch (reader, samplers, check_specs, columns, text bounds, work) iterates over
// the alternatives.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>
#include <variant>

#include "kinds/bernoulli.h"
#include "kinds/choice.h"
#include "kinds/const.h"
#include "kinds/date.h"
#include "kinds/exponential.h"
#include "kinds/expression.h"
#include "kinds/geometric.h"
#include "kinds/lognormal.h"
#include "kinds/normal.h"
#include "kinds/pattern.h"
#include "kinds/poisson.h"
#include "kinds/reference.h"
#include "kinds/sequence.h"
#include "kinds/switch.h"
#include "kinds/template.h"
#include "kinds/timestamp.h"
#include "kinds/uniform_float.h"
#include "kinds/uniform_int.h"
#include "kinds/unique_int.h"
#include "kinds/uuid.h"
#include "kinds/zipf.h"

namespace tessary {

// The order of the first four is part of the original document format: "type" may name them by
// their index. Kinds added later are named, never numbered, and go after them.
using AttrKind = std::variant<UniformInt, UniformFloat, Normal, Choice, Sequence, UniqueInt, Uuid,
                              Timestamp, Date, Bernoulli, Exponential, Lognormal, Poisson,
                              Geometric, Zipf, Const, Template, Switch, PatternKind,
                              ExpressionKind, Reference>;

inline constexpr std::size_t KIND_COUNT = std::variant_size_v<AttrKind>;

// How many kinds the original language has: the first ones of AttrKind.
inline constexpr std::size_t ORIGINAL_KIND_COUNT = 4;

// The index in AttrKind of kind K.
template <class K, std::size_t I = 0>
constexpr std::size_t kind_index() {
  static_assert(I < KIND_COUNT, "not a kind of AttrKind");
  if constexpr (std::is_same_v<K, std::variant_alternative_t<I, AttrKind>>) {
    return I;
  } else {
    return kind_index<K, I + 1>();
  }
}

namespace kind_list_detail {
template <std::size_t... I>
constexpr std::array<std::string_view, sizeof...(I)> names(std::index_sequence<I...>) {
  return {std::variant_alternative_t<I, AttrKind>::NAME...};
}
template <std::size_t... I>
constexpr bool all_units(std::index_sequence<I...>) {
  return (KindUnit<std::variant_alternative_t<I, AttrKind>> && ...);
}
}  // namespace kind_list_detail

static_assert(kind_list_detail::all_units(std::make_index_sequence<KIND_COUNT>()),
              "every kind states all of kind_unit.h");

namespace kind_list_detail {
template <class Variant>
struct LargestDraw;
template <class... K>
struct LargestDraw<std::variant<K...>> {
  static constexpr std::size_t bytes = std::max({sizeof(typename K::Draw)...});
};
}  // namespace kind_list_detail

// The prepared draw (K::Draw) of an attribute of any kind, in storage the size of the largest:
// what the column builder keeps for each attribute, so that its per-attribute state stays small
// however many kinds there are. Holds the draw of the kind last set; get<K> requires that K.
class AnyDraw {
 public:
  template <class K>
  void set(const typename K::Draw& draw) {
    std::memcpy(bytes_, &draw, sizeof draw);
  }
  template <class K>
  typename K::Draw get() const {
    typename K::Draw draw;
    std::memcpy(&draw, bytes_, sizeof draw);
    return draw;
  }
  // The draw in place, without a copy: set's memcpy began the life of a K::Draw in the storage (a
  // trivially copyable type, whose objects a copy of bytes creates).
  template <class K>
  const typename K::Draw& in_place() const {
    return *std::launder(reinterpret_cast<const typename K::Draw*>(bytes_));
  }

 private:
  alignas(8) unsigned char bytes_[kind_list_detail::LargestDraw<AttrKind>::bytes] = {};
};

// The names of the kinds, in variant order: what "type" names them by.
inline constexpr std::array<std::string_view, KIND_COUNT> KIND_NAMES =
    kind_list_detail::names(std::make_index_sequence<KIND_COUNT>());

}  // namespace tessary
