// template: a string made of text and the values of earlier attributes.
//
//   {"name": ..., "type": "template", "template": "{first}.{last}@example.com"}   (required)
//
// `{name}` inserts the value that attribute has in this entity (its last spec before this one), or
// the entity's `id`: a string as it is (unescaped), a number as the JSON text writes it, `true` and
// `false` as those words, a timestamp, date or UUID as its text, an array or object as its compact
// JSON text, and a null as nothing. `{name:lower}` and `{name:upper}` change the case of ASCII
// letters; `{name:0Nd}` (N from 1 to 20) writes an integer as its sign, if negative, then its
// digits zero-padded to N, and is refused unless the attribute gives only integers or null.
// `{{` and `}}` are literal braces. A name refers to the last earlier spec of that name; a later
// or unknown one is an error.
// Generator steps: 0. Text: the string. Column: utf8.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kinds/kind_unit.h"

namespace tessary {

// One `{...}` of a template.
struct TemplateField {
  enum class Format : std::uint8_t { Plain, Lower, Upper, ZeroPadded };
  static constexpr std::size_t ID = SIZE_MAX;  // `spec` of the entity's id

  std::size_t spec = ID;  // the index of the attribute whose value it inserts
  Format format = Format::Plain;
  std::uint8_t width = 0;  // ZeroPadded
};

// Literal text, then a field (none after the last text).
struct TemplatePart {
  std::string text;
  std::optional<TemplateField> field;
};

struct Template {
  std::vector<TemplatePart> parts;
  std::uint64_t shortest = 0;  // the fewest and most bytes of the string
  std::uint64_t longest = 0;
  bool ascii = true;

  static constexpr std::string_view NAME = "template";
  static constexpr std::array<std::string_view, 1> FIELDS = {"template"};
  static constexpr std::size_t REQUIRED = 1;

  [[nodiscard]] static Problem take(Template& spec, std::size_t, const BufferedValue& value,
                                    SpecScope& scope);
  [[nodiscard]] static ParamFault fault(const Template&) { return ParamFault::None; }
  using Draw = const Template*;
  static Draw prepare(const Template& params, std::uint64_t) { return &params; }
  static constexpr bool TAKES_STEPS = false;  // its draw never uses the generator
  static TextSpan draw(Draw params, Xoshiro256PlusPlus&, const EntityContext& entity);
  static AttributeValue value(const Template&, TextSpan cell) {
    return AttributeValue::from_text(cell);
  }
  static void check(const Template&, std::vector<KindProblem>&) {}
  // The string quoted, each byte escaped at worst as \u00XX.
  static ValueTextBounds text_bounds(const Template& params, OutputBuffer&) {
    return {params.shortest + 2, params.longest * 6 + 2, params.ascii};
  }
  static std::uint64_t work(const Template& params) { return 1 + params.parts.size(); }
  [[nodiscard]] static std::optional<ColumnSchemaError> plan_column(const Template& params,
                                                                    std::size_t, Column& column) {
    column.kind = ColumnKind::Utf8;
    column.longest_text = params.longest;
    return std::nullopt;
  }
  static bool fits_column(const Template&, const Column& column) {
    return column.kind == ColumnKind::Utf8;
  }
};

// Appends the text a field inserts for `value` (the rules above) to `out`; `entity_text` holds
// the entity's strings and may be `out` itself.
void append_field_text(const AttributeValue& value, TemplateField::Format format,
                       std::uint8_t width, const OutputBuffer& entity_text, OutputBuffer& out);

}  // namespace tessary
