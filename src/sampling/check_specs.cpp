#include "sampling/check_specs.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>
#include <utility>
#include <variant>

#include "sampling/index_pick.h"
#include "sampling/samplers.h"
#include "output/number_text.h"
#include "specs/read_specs.h"

namespace tessary {
namespace {

// "a share of 0.25" as "25%", with three significant digits.
std::string percent_text(double share) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3g%%", share * 100);
  return text;
}

// The problem of a weighted choice with values by where its picks land, if any, made by `make`.
template <class Make>
void check_picks(const Choice& choice, Make make) {
  const std::size_t n = choice.values.size();
  const PicksPast past = picks_past(pick_weights(choice), choice.weight_total, n);
  if (past.share == 0) return;
  const bool one_position = past.lowest == past.highest;
  if (past.always && one_position) {
    make(Severity::Error, index_out_of_bounds_message(n, past.lowest));
  } else if (past.always) {
    make(Severity::Error, "index out of bounds: the len is " + u64_string(n) +
                              " but the index is between " + u64_string(past.lowest) + " and " +
                              u64_string(past.highest) + " (by the draw)");
  } else {
    const std::string where =
        one_position ? "weight " + u64_string(past.lowest)
                     : "weights " + u64_string(past.lowest) + " to " + u64_string(past.highest);
    const std::string values = n == 1 ? "the 1 value" : "the " + u64_string(n) + " values";
    make(Severity::MayFail, "about " + percent_text(past.share) +
                                " of entities fail: their pick can land on " + where + ", past " +
                                values);
  }
}

}  // namespace

const char* severity_name(Severity severity) {
  switch (severity) {
    case Severity::Error:
      return "error";
    case Severity::MayFail:
      return "may fail";
    case Severity::Warning:
      break;
  }
  return "warning";
}

std::vector<SpecProblem> check_specs(std::string_view text) {
  std::vector<SpecProblem> problems;
  auto read = read_spec_document(text);
  if (const ReadError* error = std::get_if<ReadError>(&read)) {
    problems.push_back({Severity::Error, error->display(), {}, {}, error->line, error->column});
    return problems;
  }
  const SpecDocument& document = std::get<SpecDocument>(read);
  std::unordered_map<std::string_view, std::size_t> last_with_name;
  TextPosition at;
  for (std::size_t i = 0; i < document.specs.size(); ++i) {
    const AttrSpec& spec = document.specs[i];
    advance(text, document.starts[i], at);
    auto make = [&](Severity severity, std::string message) {
      problems.push_back({severity, std::move(message), i, spec.name, at.line,
                          document.starts[i] - at.line_start + 1});
    };

    if (const ParamFault fault = param_fault(spec.kind); fault != ParamFault::None) {
      make(Severity::Error, param_fault_message(fault));
    }
    const Choice* choice = std::get_if<Choice>(&spec.kind);
    const bool weighted = choice != nullptr && !choice->values.empty() && !choice->weights.empty();
    if (weighted) check_picks(*choice, make);

    const auto [earlier, first_use] = last_with_name.try_emplace(spec.name, i);
    if (!first_use) {
      make(Severity::Warning, "the name is also that of spec " + u64_string(earlier->second) +
                                  ", whose values this spec overwrites");
      earlier->second = i;
    }
    if (spec.name == "id") {
      make(Severity::Warning,
           "the name \"id\" makes a second \"id\" member beside the entity's id");
    }
    if (const auto* normal = std::get_if<Normal>(&spec.kind)) {
      if (normal->min && normal->max && *normal->min > *normal->max) {
        make(Severity::Warning, "min " + f64_string(*normal->min) + " is above max " +
                                    f64_string(*normal->max) + ": every value is the max");
      }
    }
    if (weighted && std::all_of(choice->weights.begin(), choice->weights.end(),
                                [](double w) { return w == 0; })) {
      make(Severity::Warning, "all weights are 0: every pick is the first value");
    }
  }
  return problems;
}

}  // namespace tessary
