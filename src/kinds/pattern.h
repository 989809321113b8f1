// pattern: a string matching a regular expression of a subset of the usual syntax.
//
//   {"name": ..., "type": "pattern", "pattern": "ORD-[A-Z]{3}-\\d{6}"}   (required)
//
// The syntax, its errors (placed at the bad character inside the pattern text) and the draws are
// strings/pattern.h's: each quantifier with a range draws its count, each class (and `.`, `\d`,
// `\w`, `\s`) its member, each alternation its branch, all uniformly, in text order.
// Text: the string. Column: utf8.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "kinds/kind_unit.h"
#include "strings/pattern.h"

namespace tessary {

struct PatternKind {
  std::shared_ptr<const Pattern> pattern;  // shared: a compiled program can be large

  static constexpr std::string_view NAME = "pattern";
  static constexpr std::array<std::string_view, 1> FIELDS = {"pattern"};
  static constexpr std::size_t REQUIRED = 1;

  [[nodiscard]] static Problem take(PatternKind& spec, std::size_t, const BufferedValue& value) {
    std::string_view text;
    if (Problem problem = take_string(value, text)) return problem;
    auto compiled = compile_pattern(text);
    if (const auto* error = std::get_if<PatternError>(&compiled)) {
      return parameter_problem("`pattern`: " + error->message,
                               byte_in_document(value, error->offset));
    }
    spec.pattern = std::make_shared<const Pattern>(std::move(std::get<Pattern>(compiled)));
    return std::nullopt;
  }
  [[nodiscard]] static ParamFault fault(const PatternKind&) { return ParamFault::None; }
  using Draw = const Pattern*;
  static Draw prepare(const PatternKind& params, std::uint64_t) { return params.pattern.get(); }
  static TextSpan draw(Draw pattern, Xoshiro256PlusPlus& rng, const EntityContext& entity) {
    const std::size_t start = entity.text->size();
    draw_pattern(*pattern, rng, *entity.text);
    return {start, entity.text->size() - start};
  }
  static AttributeValue value(const PatternKind&, TextSpan cell) {
    return AttributeValue::from_text(cell);
  }
  static void check(const PatternKind&, std::vector<KindProblem>&) {}
  // The string quoted, each byte escaped at worst as \u00XX.
  static ValueTextBounds text_bounds(const PatternKind& params, OutputBuffer&) {
    return {pattern_shortest(*params.pattern) + 2, pattern_longest(*params.pattern) * 6 + 2,
            pattern_is_ascii(*params.pattern)};
  }
  static std::uint64_t work(const PatternKind& params) {
    return 1 + pattern_longest(*params.pattern) / 8;
  }
  [[nodiscard]] static std::optional<ColumnSchemaError> plan_column(const PatternKind& params,
                                                                    std::size_t, Column& column) {
    column.kind = ColumnKind::Utf8;
    column.longest_text = pattern_longest(*params.pattern);
    return std::nullopt;
  }
  static bool fits_column(const PatternKind&, const Column& column) {
    return column.kind == ColumnKind::Utf8;
  }
};

}  // namespace tessary
