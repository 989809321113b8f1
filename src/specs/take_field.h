// Taking one field of a spec object: the conversions that the kinds' readers (kinds/) share.
//
// Each converts a buffered member value into the field's type, or says why it cannot, in the words
// of the reader's error messages ("invalid type: ..., expected i64"). The position is added by the
// reader, which knows where the object ends.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "records/json_value.h"
#include "specs/buffered_value.h"

namespace tessary {

// An error of interpreting the buffered members, which has no position yet; none when all is well.
using Problem = std::optional<std::string>;

// The number of the value, or null when it is not a number.
[[nodiscard]] const JsonNumber* number_of(const BufferedValue& value);

// An integer in the i64 range.
[[nodiscard]] Problem take_i64(const BufferedValue& value, std::int64_t& out);

// Any number, as the nearest double.
[[nodiscard]] Problem take_f64(const BufferedValue& value, double& out);

// null (none) or any number.
[[nodiscard]] Problem take_optional_f64(const BufferedValue& value, std::optional<double>& out);

// An array of any values, moved out of `value` (the list keeps the array's own storage).
[[nodiscard]] Problem take_values(BufferedValue& value, std::vector<JsonValue>& out);

// An array of numbers, each as the nearest double.
[[nodiscard]] Problem take_weights(const BufferedValue& value, std::vector<double>& out);

}  // namespace tessary
