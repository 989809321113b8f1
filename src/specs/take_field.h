// Taking one field of a spec object: the conversions that the kinds' readers (kinds/) share.
//
// Each converts a buffered member value into the field's type, or says why it cannot, in the words
// of the reader's error messages ("invalid type: ..., expected i64"). The position is added by the
// reader, which knows where the object ends.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "records/json_value.h"
#include "specs/buffered_value.h"

namespace tessary {

// An error of interpreting the buffered members: its message and, when it concerns one byte of a
// string that is a view into the document (BufferedValue), that byte; else the reader places it.
struct ProblemText {
  ProblemText(std::string text, const char* byte = nullptr) : message(std::move(text)), at(byte) {}
  ProblemText(const char* text) : message(text) {}

  std::string message;
  const char* at = nullptr;
  // A problem of the parameters' values (not of the document's form): the reader names the
  // attribute in front of the message.
  bool parameter = false;
  // A reference to this name, which no earlier spec has: the reader tells whether a later spec
  // has it once the whole list is read.
  std::string unresolved_name;
};

// A ProblemText, or none when all is well.
using Problem = std::optional<ProblemText>;

// A problem of a parameter's value; `message` names the member.
inline ProblemText parameter_problem(std::string message, const char* byte = nullptr) {
  ProblemText problem(std::move(message), byte);
  problem.parameter = true;
  return problem;
}

// The number of the value, or null when it is not a number.
[[nodiscard]] const JsonNumber* number_of(const BufferedValue& value);

// An integer in the i64 range.
[[nodiscard]] Problem take_i64(const BufferedValue& value, std::int64_t& out);

// A string, as a view into `value` (which must outlive it).
[[nodiscard]] Problem take_string(const BufferedValue& value, std::string_view& out);

// The byte `offset` of a string `value` holds, when the string is a view into the document (it
// had no escapes), so that a problem can point at it; else null (the reader places the problem).
const char* byte_in_document(const BufferedValue& value, std::size_t offset);

// Any number, as the nearest double.
[[nodiscard]] Problem take_f64(const BufferedValue& value, double& out);

// null (none) or any number.
[[nodiscard]] Problem take_optional_f64(const BufferedValue& value, std::optional<double>& out);

// Any value, moved out of `value` (a string copied when it was a view of the document).
[[nodiscard]] Problem take_json_value(BufferedValue& value, JsonValue& out);

// An array of any values, moved out of `value` (the list keeps the array's own storage).
[[nodiscard]] Problem take_values(BufferedValue& value, std::vector<JsonValue>& out);

// An array of numbers, each as the nearest double.
[[nodiscard]] Problem take_weights(const BufferedValue& value, std::vector<double>& out);

}  // namespace tessary
