#include "sampling/param_fault.h"

#include <string>

#include "output/number_text.h"
#include "base/panic.h"

namespace tessary {

std::string param_fault_message(ParamFault fault) {
  const std::string range_error = "called `Result::unwrap()` on an `Err` value: ";
  switch (fault) {
    case ParamFault::EmptyIntRange:
      return "cannot sample empty range";
    case ParamFault::EmptyRange:
      return range_error + "EmptyRange";
    case ParamFault::NonFinite:
      return range_error + "NonFinite";
    case ParamFault::BadVariance:
      return range_error + "BadVariance";
    case ParamFault::None:
      break;
  }
  return "";
}

std::string index_out_of_bounds_message(std::uint64_t len, std::uint64_t index) {
  return "index out of bounds: the len is " + u64_string(len) + " but the index is " +
         u64_string(index);
}

namespace sampler_failure {

void unusable(ParamFault fault, SourceLocation where) {
  panic(param_fault_message(fault), where);
}

void index_out_of_bounds(std::uint64_t len, std::uint64_t index, SourceLocation where) {
  panic(index_out_of_bounds_message(len, index), where);
}

}  // namespace sampler_failure
}  // namespace tessary
