// The texts that name a value of the wrong kind in "invalid type" and "invalid value" messages.
//
// Pure functions; they allocate only the returned text and may run on any thread.
#pragma once

#include <string>
#include <string_view>

#include "specs/buffered_value.h"

namespace tessary {

// "null", "boolean `true`", "integer `-5`", "floating point `18.0`", "string \"a\"", "sequence"
// or "map".
std::string unexpected_text(const BufferedValue& value);
std::string unexpected_text(const JsonValue& value);

// "invalid type: {value's text}, expected {expected}".
std::string invalid_type_message(const BufferedValue& value, std::string_view expected);
std::string invalid_type_message(const JsonValue& value, std::string_view expected);

// "invalid value: {value's text}, expected {expected}".
std::string invalid_value_message(const BufferedValue& value, std::string_view expected);

// Appends text between double quotes with a quote, a backslash, tab, line feed, carriage return
// and U+0000 escaped by a backslash (\" \\ \t \n \r \0) and the other control characters
// (U+0001 to U+001F, U+007F to U+009F) as \u{hex}. Bytes that are not valid UTF-8 (only possible
// when the document itself was not) are written as \x and two hex digits, so the result is always
// valid UTF-8.
void append_quoted(std::string& out, std::string_view text);

}  // namespace tessary
