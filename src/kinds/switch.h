// switch: the value of the first case whose `when` matches an earlier attribute's value.
//
//   {"name": ..., "type": "switch", "on": "job",
//    "cases": [{"when": "engineer", "then": {"type": "normal", "mean": 90000, "std_dev": 9000}},
//              {"when": ["nurse", "teacher"], "then": {"type": "uniform_int", ...}}],
//    "default": {"type": "const", "value": null}}          (on and cases required)
//
// `on` names an earlier attribute (its last spec before this one). A `when` matches a number by
// value (1 matches 1.0), any other value by equality of its JSON text (objects whatever their key
// order), and `null` a null value; a list matches any of its elements (so an array value is
// matched by a list that holds it). The `then` and `default` specs are specs of any kind without
// a name, with every member of their kind (`null_rate`, `decimals`, a switch of their own...).
// The value is the taken spec's, null when no case matches and there is no default.
// Generator steps: those of the case taken (none when none is). A case's `then` has its own key
// and null decisions: branch j (the cases in order, then the default) has the key
// splitmix64(attribute key, j + 1), and is null when the top 53 bits of
// splitmix64(branch key ^ (id * 0x5851F42D4C957F2D), 2) are below floor(null_rate * 2^53).
// A case whose spec cannot be drawn (a parameter fault, picks that may fail) is refused when read.
// Text: the taken spec's. Column: the branches' common type, float64 for integers and doubles
// mixed, else the JSON text of each value; always nullable.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "kinds/kind_unit.h"

namespace tessary {

// The cases and the default of a switch (defined with the draw, kinds/switch.cpp).
struct SwitchBranches;

struct Switch {
  std::size_t on = 0;  // the index of the attribute whose value is matched
  std::shared_ptr<SwitchBranches> branches;

  static constexpr std::string_view NAME = "switch";
  static constexpr std::array<std::string_view, 3> FIELDS = {"on", "cases", "default"};
  static constexpr std::size_t REQUIRED = 2;

  [[nodiscard]] static Problem take(Switch& spec, std::size_t field, BufferedValue& value,
                                    SpecScope& scope);
  [[nodiscard]] static Problem finish(Switch& spec, SpecScope& scope);
  // Whether a branch may take generator steps.
  static bool takes_steps(const Switch& spec);
  // Every case's spec must fit the scale.
  [[nodiscard]] static Problem fits_scale(const Switch& spec, std::uint64_t scale);
  [[nodiscard]] static ParamFault fault(const Switch&) { return ParamFault::None; }
  struct Draw {
    const Switch* spec;
    std::uint64_t key;  // the attribute key
  };
  static Draw prepare(const Switch& params, std::uint64_t key) { return {&params, key}; }
  static AttributeValue draw(const Draw& prepared, Xoshiro256PlusPlus& rng,
                             const EntityContext& entity);
  static AttributeValue value(const Switch&, const AttributeValue& cell) { return cell; }
  static void check(const Switch&, std::vector<KindProblem>&) {}
  static ValueTextBounds text_bounds(const Switch& params, OutputBuffer& scratch);
  static std::uint64_t work(const Switch& params);
  [[nodiscard]] static std::optional<ColumnSchemaError> plan_column(const Switch& params,
                                                                    std::size_t k, Column& column);
  static bool fits_column(const Switch& params, const Column& column);
};

// The branch a switch takes for the value `on` of its attribute (`entity_text` holds the
// entity's strings): the first case that matches, the default (switch_case_count) when none does,
// or none when there is no default either.
std::optional<std::size_t> switch_branch(const Switch& params, const AttributeValue& on,
                                         const OutputBuffer& entity_text);
std::size_t switch_case_count(const Switch& params);

}  // namespace tessary
