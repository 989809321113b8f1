// Why an attribute cannot be sampled, and the messages with which sampling then panics.
//
// Shared by the samplers (each kind's unit under kinds/) and check_specs, so that the two cannot
// disagree on a message.
#pragma once

#include <cstdint>
#include <string>

#include "base/panic.h"

namespace tessary {

// Why the parameters of a spec cannot be sampled. Each fault fails every entity alike, before any
// draw.
enum class [[nodiscard]] ParamFault : std::uint8_t {
  None,
  EmptyIntRange,
  EmptyRange,
  NonFinite,
  BadVariance
};

// The message with which sampling panics on `fault` (not None): "cannot sample empty range" for
// EmptyIntRange, else "called `Result::unwrap()` on an `Err` value: " and the fault's name.
std::string param_fault_message(ParamFault fault);

// The message with which a choice panics when its pick lands on a weight past its values:
// "index out of bounds: the len is {len} but the index is {index}".
std::string index_out_of_bounds_message(std::uint64_t len, std::uint64_t index);

namespace sampler_failure {
// Panics with param_fault_message(fault).
[[noreturn, gnu::cold]] void unusable(ParamFault fault,
                                      SourceLocation where = SourceLocation::current());
// Panics with index_out_of_bounds_message(len, index).
[[noreturn, gnu::cold]] void index_out_of_bounds(std::uint64_t len, std::uint64_t index,
                                                 SourceLocation where = SourceLocation::current());
}  // namespace sampler_failure

}  // namespace tessary
