#include "kinds/choice.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <unordered_map>
#include <variant>

#include "output/json_writer.h"
#include "output/number_text.h"

namespace tessary {
namespace {

double total_in_list_order(std::span<const double> weights) {
  double total = -0.0;
  for (double w : weights) total += w;
  return total;
}

// "a share of 0.25" as "25%", with three significant digits.
std::string percent_text(double share) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3g%%", share * 100);
  return text;
}

// The problem of a weighted choice with values by where its picks land, if any.
void check_picks(const Choice& choice, std::vector<KindProblem>& problems) {
  const std::size_t n = choice.values.size();
  const PicksPast past = picks_past(pick_weights(choice), choice.weight_total, n);
  if (past.share == 0) return;
  const bool one_position = past.lowest == past.highest;
  if (past.always && one_position) {
    problems.push_back({Severity::Error, index_out_of_bounds_message(n, past.lowest)});
  } else if (past.always) {
    problems.push_back({Severity::Error, "index out of bounds: the len is " + u64_string(n) +
                                             " but the index is between " +
                                             u64_string(past.lowest) + " and " +
                                             u64_string(past.highest) + " (by the draw)"});
  } else {
    const std::string where =
        one_position ? "weight " + u64_string(past.lowest)
                     : "weights " + u64_string(past.lowest) + " to " + u64_string(past.highest);
    const std::string values = n == 1 ? "the 1 value" : "the " + u64_string(n) + " values";
    problems.push_back({Severity::MayFail, "about " + percent_text(past.share) +
                                               " of entities fail: their pick can land on " +
                                               where + ", past " + values});
  }
}

template <typename T>
bool holds(const JsonValue& value) {
  return std::holds_alternative<T>(value.data);
}

// The integer as int64, when it is an integer that fits.
std::optional<std::int64_t> as_int64(const JsonNumber& number) {
  switch (number.kind) {
    case JsonNumber::Kind::Unsigned:
      if (number.u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) break;
      return static_cast<std::int64_t>(number.u);
    case JsonNumber::Kind::Negative:
      return number.i;
    case JsonNumber::Kind::Double:
      break;
  }
  return std::nullopt;
}

// The number as a double, when the double holds it exactly.
std::optional<double> as_exact_double(const JsonNumber& number) {
  switch (number.kind) {
    case JsonNumber::Kind::Unsigned: {
      const double d = static_cast<double>(number.u);
      // 2^64 itself (the rounding of the largest integers) is out of range of the cast back.
      if (d >= 0x1p64 || static_cast<std::uint64_t>(d) != number.u) return std::nullopt;
      return d;
    }
    case JsonNumber::Kind::Negative: {
      const double d = static_cast<double>(number.i);  // in [-2^63, 0): the cast back is defined
      if (static_cast<std::int64_t>(d) != number.i) return std::nullopt;
      return d;
    }
    case JsonNumber::Kind::Double:
      break;
  }
  return number.d;
}

// The column kind of a choice, from the kinds of its non-null values.
ColumnKind choice_kind(const Choice& choice) {
  bool any = false, all_bool = true, all_string = true, all_int64 = true, all_exact = true;
  for (const JsonValue& value : choice.values) {
    if (value.is_null()) continue;
    any = true;
    all_bool = all_bool && holds<bool>(value);
    all_string = all_string && holds<std::string>(value);
    const JsonNumber* number = std::get_if<JsonNumber>(&value.data);
    all_int64 = all_int64 && number != nullptr && as_int64(*number).has_value();
    all_exact = all_exact && number != nullptr && as_exact_double(*number).has_value();
  }
  if (!any) return ColumnKind::ChoiceNull;
  if (all_bool) return ColumnKind::ChoiceBool;
  if (all_string) return ColumnKind::ChoiceDictionary;
  if (all_int64) return ColumnKind::ChoiceInt64;
  if (all_exact) return ColumnKind::ChoiceFloat64;
  return ColumnKind::ChoiceJson;
}

ColumnSchemaError too_much_text(std::size_t k, const char* texts) {
  return {spec_label(k) + ": " + texts + " take more than " + std::to_string(MAX_COLUMN_TEXT) +
          " bytes, more than a column batch can hold"};
}

// Appends entry `text` to the cell texts; false when the texts would outgrow a batch column.
bool add_text(ChoiceCells& cells, std::string_view text) {
  if (cells.text.size() + text.size() > MAX_COLUMN_TEXT) return false;
  cells.text.append(text);
  cells.offsets.push_back(static_cast<std::int32_t>(cells.text.size()));
  return true;
}

// Fills the cell tables of a choice column; an error when its texts are too large for a batch.
[[nodiscard]] std::optional<ColumnSchemaError> fill_choice_cells(const Choice& choice,
                                                                 std::size_t k, Column& column) {
  ChoiceCells& cells = column.choice;
  cells.values = choice.values.data();
  cells.count = choice.values.size();
  cells.valid.resize(cells.count);
  cells.words.assign(cells.count, 0);
  std::unordered_map<std::string_view, std::uint64_t> dictionary_index;
  OutputBuffer json;
  for (std::size_t v = 0; v < cells.count; ++v) {
    const JsonValue& value = choice.values[v];
    cells.valid[v] = !value.is_null();
    column.nullable = column.nullable || value.is_null();
    switch (column.kind) {
      case ColumnKind::ChoiceInt64:
        if (!value.is_null()) {
          cells.words[v] = static_cast<std::uint64_t>(*as_int64(std::get<JsonNumber>(value.data)));
        }
        break;
      case ColumnKind::ChoiceFloat64:
        if (!value.is_null()) {
          cells.words[v] =
              std::bit_cast<std::uint64_t>(*as_exact_double(std::get<JsonNumber>(value.data)));
        }
        break;
      case ColumnKind::ChoiceBool:
        if (!value.is_null()) cells.words[v] = std::get<bool>(value.data) ? 1 : 0;
        break;
      case ColumnKind::ChoiceDictionary:
        if (!value.is_null()) {
          const std::string& text = std::get<std::string>(value.data);
          auto [at, added] = dictionary_index.try_emplace(text, dictionary_index.size());
          if (added && !add_text(cells, text)) {
            return too_much_text(k, "the distinct strings of the choice");
          }
          cells.words[v] = at->second;
        }
        break;
      case ColumnKind::ChoiceJson:
        json.clear();
        if (!value.is_null()) write_value(value, json);
        // The texts of all values are kept as one, so none is too large for a batch either.
        if (!add_text(cells, json.view())) {
          return too_much_text(k, "the JSON texts of the choice's values");
        }
        break;
      default:
        break;
    }
  }
  return std::nullopt;
}

// Scales the pick weights of `choice` when every weight is finite but their total overflows.
void scale_overflowing_weights(Choice& choice) {
  if (std::isfinite(choice.weight_total)) return;
  // An infinite or NaN weight is taken as it is.
  if (!std::all_of(choice.weights.begin(), choice.weights.end(),
                   [](double w) { return std::isfinite(w); })) {
    return;
  }

  // Halve until the total fits. k finite weights add up to less than k * DBL_MAX in magnitude, so
  // this ends after about log2(k) halvings; the mildest factor keeps the most of the small weights.
  choice.scaled_weights.resize(choice.weights.size());
  for (int halvings = 1; !std::isfinite(choice.weight_total); ++halvings) {
    const double factor = std::ldexp(1.0, -halvings);
    std::transform(choice.weights.begin(), choice.weights.end(), choice.scaled_weights.begin(),
                   [factor](double w) { return w * factor; });
    choice.weight_total = total_in_list_order(choice.scaled_weights);
  }
}

}  // namespace

Choice make_choice(std::vector<JsonValue> values, std::vector<double> weights) {
  Choice choice{std::move(values), std::move(weights), {}, -0.0, {}};
  choice.weight_total = total_in_list_order(choice.weights);
  scale_overflowing_weights(choice);
  choice.pick_bands = pick_bands(pick_weights(choice));
  return choice;
}

Problem Choice::finish(Choice& spec) {
  spec = make_choice(std::move(spec.values), std::move(spec.weights));
  return std::nullopt;
}

void Choice::check(const Choice& params, std::vector<KindProblem>& problems) {
  if (params.values.empty() || params.weights.empty()) return;
  check_picks(params, problems);
  if (std::all_of(params.weights.begin(), params.weights.end(), [](double w) { return w == 0; })) {
    problems.push_back({Severity::Warning, "all weights are 0: every pick is the first value"});
  }
}

ValueTextBounds Choice::text_bounds(const Choice& params, OutputBuffer& scratch) {
  if (params.values.empty()) return {4, 4};  // null
  ValueTextBounds bounds{std::numeric_limits<std::size_t>::max(), 0};
  for (const JsonValue& value : params.values) {
    scratch.clear();
    write_value(value, scratch);
    bounds.shortest = std::min(bounds.shortest, scratch.size());
    bounds.longest = std::max(bounds.longest, scratch.size());
    // The writer copies a string's bytes as they are apart from ASCII escapes.
    bounds.ascii = bounds.ascii && is_ascii(scratch.view());
  }
  return bounds;
}

std::optional<ColumnSchemaError> Choice::plan_column(const Choice& params, std::size_t k,
                                                     Column& column) {
  column.kind = choice_kind(params);
  if (column.kind == ColumnKind::ChoiceNull) {
    column.nullable = true;
    return std::nullopt;
  }
  return fill_choice_cells(params, k, column);
}

}  // namespace tessary
