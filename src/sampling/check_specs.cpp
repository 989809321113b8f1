#include "sampling/check_specs.h"

#include <span>
#include <unordered_map>
#include <utility>
#include <variant>

#include "sampling/entity_draws.h"
#include "output/number_text.h"
#include "specs/read_specs.h"

namespace tessary {
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

namespace {

// The problems of specs read from `text`: starts[i] is where specs[i] begins, notes[i] the members
// of it that the original language does not read.
void check_read_specs(std::string_view text, std::span<const AttrSpec> specs,
                      std::span<const std::size_t> starts,
                      std::span<const std::vector<MemberNote>> notes, std::string_view label,
                      bool in_dataset, std::vector<SpecProblem>& problems) {
  std::unordered_map<std::string_view, std::size_t> last_with_name;
  TextPosition at;
  std::vector<KindProblem> kind_problems;
  for (std::size_t i = 0; i < specs.size(); ++i) {
    const AttrSpec& spec = specs[i];
    advance(text, starts[i], at);
    auto make = [&](Severity severity, std::string message) {
      problems.push_back({severity, std::string(label) + message, i, spec.name, at.line,
                          starts[i] - at.line_start + 1});
    };

    if (const ParamFault fault = param_fault(spec.kind); fault != ParamFault::None) {
      make(Severity::Error, param_fault_message(fault));
    }
    // The kind's own findings: its errors before the warnings about the name, its warnings after.
    kind_problems.clear();
    std::visit([&]<class K>(const K& params) { K::check(params, kind_problems); }, spec.kind);
    for (KindProblem& problem : kind_problems) {
      if (problem.severity != Severity::Warning) make(problem.severity, std::move(problem.message));
    }

    const auto [earlier, first_use] = last_with_name.try_emplace(spec.name, i);
    if (!first_use) {
      make(Severity::Warning, "the name is also that of spec " + u64_string(earlier->second) +
                                  ", whose values this spec overwrites");
      earlier->second = i;
    }
    if (spec.name == "id" && !spec.hidden) {
      make(Severity::Warning,
           "the name \"id\" makes a second \"id\" member beside the entity's id");
    }
    for (KindProblem& problem : kind_problems) {
      if (problem.severity == Severity::Warning) make(problem.severity, std::move(problem.message));
    }
    // Members that generate_entities ignores (it reads the original language; a data set's
    // tables it never reads), and members that nothing reads.
    for (const MemberNote& note : notes[i]) {
      if (note.package_only && in_dataset) continue;
      make(Severity::Warning,
           note.package_only
               ? "generate_entities ignores the member `" + note.key + "`, which every other "
                 "output honours"
               : "nothing reads the member `" + note.key + "` of a `" +
                     std::string(KIND_NAMES[spec.kind.index()]) + "`");
    }
  }
}

void add_read_error(const ReadError& error, std::vector<SpecProblem>& problems) {
  problems.push_back({Severity::Error, error.display(), {}, {}, error.line, error.column});
}

}  // namespace

void check_dataset_table(std::string_view text, const DatasetTable& table, std::string_view label,
                         std::vector<SpecProblem>& problems) {
  check_read_specs(text, table.table->specs->specs, table.starts, table.notes, label, true,
                   problems);
}

void check_dataset(std::string_view text, const Dataset& dataset,
                   std::vector<SpecProblem>& problems) {
  for (const DatasetTable& table : dataset.tables) {
    check_dataset_table(text, table, "table `" + table.table->name + "`: ", problems);
  }
}

std::vector<SpecProblem> check_specs(std::string_view text) {
  std::vector<SpecProblem> problems;
  if (is_dataset_document(text)) {
    // The values do not matter: any seed reads the same.
    auto read = read_dataset(text, 0);
    if (const ReadError* error = std::get_if<ReadError>(&read)) {
      add_read_error(*error, problems);
      return problems;
    }
    check_dataset(text, std::get<Dataset>(read), problems);
    return problems;
  }
  auto read = read_spec_document(text);
  if (const ReadError* error = std::get_if<ReadError>(&read)) {
    add_read_error(*error, problems);
    return problems;
  }
  const SpecDocument& document = std::get<SpecDocument>(read);
  check_read_specs(text, document.specs, document.starts, document.notes, "", false, problems);
  return problems;
}

}  // namespace tessary
