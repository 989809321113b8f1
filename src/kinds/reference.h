// reference: a value that another table of the data set holds, that of a parent entity picked by
// id, rebuilt from the parent table's seed and the id (nothing is stored).
//
//   {"name": ..., "type": "reference", "table": "customers",     (table required)
//    "attribute": "country",                  (an attribute of that table, or "id", the default)
//    "distribution": "uniform" | {"zipf": s}, (how the parent is picked; uniform by default)
//    "same_as": "customer_id"}                (an earlier reference to the same table)
//
// Only a data set's table may hold one (datasets/dataset.h); a document of one table refuses it.
// The parent id is drawn in [0, parent scale): uniformly with uniform_index (one step, two on a
// correction, for any scale up to 2^64 - 1), or by the draws of a `zipf` of n = parent scale and
// the given s, minus 1, so that the lowest ids are the most popular (the parent scale must then be
// at most 2^53). With `same_as`, the id the named reference picked for this entity is used, with
// no draw. The value is then that of the parent entity: the parent's specs up to the referenced
// one (the last of that name, hidden ones included) are drawn as the parent table draws them, on
// the parent's own generator, and the referenced one's value is the reference's, null where the
// parent's is. `id` gives the parent id itself.
// Generator steps: those of the pick (none with same_as). Text: the parent attribute's. Column:
// the parent attribute's (uint64 for `id`); other kinds that read a reference (templates,
// expressions, switches) see the kind it copies.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kinds/kind_unit.h"
#include "sampling/index_pick.h"
#include "sampling/zipf.h"

namespace tessary {

// A table of a data set that references may point at: its specs, scale and seed, and its draws
// prepared for that seed (datasets/dataset.cpp makes it once the table is read).
struct ReferencedTable;

// A parent's attributes and their draws under the parent's seed (records/attr_spec.h,
// sampling/entity_draws.h), which a reference that copies in place draws.
struct AttrSpec;
struct PreparedDraw;

// The tables of a data set that the table being read may refer to: those read before it (a data
// set reads its tables parents first).
struct DatasetScope {
  std::vector<std::shared_ptr<const ReferencedTable>> tables;
  // The table named `name`, if it has been read.
  const std::shared_ptr<const ReferencedTable>* find(std::string_view name) const;
};

struct Reference {
  static constexpr std::size_t ID = SIZE_MAX;    // `parent_spec` of the parent's id
  static constexpr std::size_t NONE = SIZE_MAX;  // `same_as` of a reference that picks

  std::string table;             // as written
  std::string attribute = "id";  // as written
  std::string same_as_name;      // empty: none
  std::optional<double> zipf_s;  // `{"zipf": s}`; none for a uniform pick
  bool distribution_given = false;
  // Where the strings were in the document (null for a string with escapes), while it is read.
  const char* table_at = nullptr;
  const char* attribute_at = nullptr;
  const char* same_as_at = nullptr;

  // Resolved when read.
  std::shared_ptr<const ReferencedTable> parent;
  std::uint64_t parent_scale = 0;
  std::size_t parent_spec = ID;  // the parent's spec whose value is copied
  // The index of the reference whose pick is reused: one that picks, the first of a chain of
  // `same_as`.
  std::size_t same_as = NONE;
  std::size_t index = 0;  // where its pick is kept: its index in the list (its switch's in a case)
  ZipfDraw zipf{};        // with zipf_s, for a parent scale of at least 1
  // The parent's specs drawn to rebuild the copied one (the last of them): those that take
  // generator steps or whose values later specs read; the others change nothing it depends on.
  std::vector<std::size_t> replay;
  bool replay_takes_steps = false;  // whether one of them does: the generator is made only then
  bool replay_keeps_values = false;  // whether one of them is read by a later one
  bool replay_picks = false;         // whether one of them may be a reference (or a switch)
  std::uint64_t replay_work = 0;     // the work of drawing them

  static constexpr std::string_view NAME = "reference";
  static constexpr std::array<std::string_view, 4> FIELDS = {"table", "attribute", "distribution",
                                                             "same_as"};
  static constexpr std::size_t REQUIRED = 1;

  [[nodiscard]] static Problem take(Reference& spec, std::size_t field,
                                    const BufferedValue& value);
  [[nodiscard]] static Problem finish(Reference& spec, SpecScope& scope);
  // A pick takes steps; a reuse of another reference's pick does not.
  static bool takes_steps(const Reference& spec) { return spec.same_as == NONE; }
  // A child with entities needs a parent with entities to pick from.
  [[nodiscard]] static Problem fits_scale(const Reference& spec, std::uint64_t scale);
  [[nodiscard]] static ParamFault fault(const Reference&) { return ParamFault::None; }
  struct Draw {
    const Reference* spec;
    // For a copy in place, the parent's attributes, their draws and the parent table's seed;
    // else null. A copy is made in place when its replay reads no value and picks no parent: the
    // attributes before the copied one only move the generator, and the copied one reads
    // nothing. The column builder then draws them itself and hands on the copied value as its
    // own kind's cell (draw_reference, sampling/entity_draws.h), instead of calling copy.
    const AttrSpec* parent_specs;
    const PreparedDraw* parent_draws;
    std::uint64_t parent_seed;
  };
  static Draw prepare(const Reference& params, std::uint64_t);
  // The parent id of the entity: drawn, or the one the reference named by same_as picked. Kept in
  // entity.parent_ids for the references that reuse it.
  [[gnu::always_inline]] static std::uint64_t pick(const Reference& spec,
                                                   Xoshiro256PlusPlus& rng,
                                                   const EntityContext& entity) {
    std::uint64_t id = 0;
    if (spec.same_as != NONE) {
      id = entity.parent_ids[spec.same_as];
    } else if (spec.parent_scale == 0) [[unlikely]] {
      no_parents(spec);
    } else if (spec.zipf_s) {
      id = static_cast<std::uint64_t>(draw_zipf(spec.zipf, rng)) - 1;
    } else {
      id = uniform_index(spec.parent_scale, rng);
    }
    entity.parent_ids[spec.index] = id;
    return id;
  }
  // The value as a record holds it: for records, and for a reference drawn within another's
  // copy. The column builder draws a reference with draw_reference instead.
  static AttributeValue draw(const Draw& prepared, Xoshiro256PlusPlus& rng,
                             const EntityContext& entity) {
    const Reference& spec = *prepared.spec;
    const std::uint64_t id = pick(spec, rng, entity);
    if (spec.parent_spec != ID) return copy(spec, id, *entity.text);
    return value(spec, ParentId{id});
  }
  // The value of the parent's spec parent_spec for parent entity `id`, its strings put in `text`.
  static AttributeValue copy(const Reference& spec, std::uint64_t id, OutputBuffer& text);
  [[noreturn]] static void no_parents(const Reference& spec);
  static AttributeValue value(const Reference&, const AttributeValue& cell) { return cell; }
  static AttributeValue value(const Reference&, ParentId cell) {
    AttributeValue value;
    value.kind = AttributeValue::Kind::Unsigned;
    value.u = cell.id;
    return value;
  }
  static void check(const Reference&, std::vector<KindProblem>&) {}
  static ValueTextBounds text_bounds(const Reference& params, OutputBuffer& scratch);
  static std::uint64_t work(const Reference& params) { return 2 + params.replay_work; }
  [[nodiscard]] static std::optional<ColumnSchemaError> plan_column(const Reference& params,
                                                                    std::size_t k, Column& column);
  static bool fits_column(const Reference& params, const Column& column);
};

}  // namespace tessary
