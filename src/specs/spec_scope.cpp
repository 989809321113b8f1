// SpecScope (declared with the kind units, kinds/kind_unit.h): what a spec may learn of the specs
// before it.
#include <algorithm>
#include <string>
#include <variant>

#include "kinds/kind_unit.h"
#include "records/attr_spec.h"

namespace tessary {

std::optional<std::size_t> SpecScope::find(std::string_view name) const {
  for (std::size_t k = earlier_.size(); k > 0; --k) {
    if (earlier_[k - 1].name == name) return k - 1;
  }
  return std::nullopt;
}

std::size_t SpecScope::size() const {
  return earlier_.size();
}

const AttrSpec& SpecScope::spec(std::size_t k) const {
  return earlier_[k];
}

Column SpecScope::column_of(std::size_t k) const {
  Column column;
  // A column the kind cannot plan (a choice's texts too large) still tells the types.
  (void)plan_attribute_column(earlier_[k], k, column);
  return column;
}

ValueTextBounds SpecScope::text_bounds_of(std::size_t k) const {
  OutputBuffer scratch;
  return attribute_text_bounds(earlier_[k], scratch);
}

void SpecScope::refer_to(std::size_t k) {
  earlier_[k].referenced = true;
}

ProblemText SpecScope::unresolved(std::string_view name, const char* at) {
  ProblemText problem(std::string(), at);
  problem.unresolved_name = std::string(name);
  return problem;
}

}  // namespace tessary
