// JSON writer: the compact JSON text of values and entity records, appended to an OutputBuffer.
//
// No whitespace is written between tokens. Strings are escaped by one fixed table (the double
// quote, the backslash and the bytes below 0x20; "/", DEL and UTF-8 bytes are copied unchanged).
// Integers are written in plain decimal, finite doubles in their shortest round-trip form and
// non-finite doubles as null. Objects are written in their own key order. Writing cannot fail
// except for running out of memory (std::bad_alloc from the buffer). All functions only read their
// inputs; different buffers may be written on different threads at once.
#pragma once

#include <span>
#include <string_view>

#include "output/output_buffer.h"
#include "records/entity_record.h"
#include "records/json_value.h"

namespace tessary {

// Appends text as one JSON string, quotes included. The text is copied byte for byte apart from the
// escapes, so UTF-8 stays UTF-8.
void write_json_string(std::string_view text, OutputBuffer& out);

// Appends the text of value; arrays and objects recursively (the reader's nesting limit bounds the
// depth).
void write_value(const JsonValue& value, OutputBuffer& out);

// Appends the text of one attribute value of a record; a borrowed value is written by write_value.
void write_attribute_value(const AttributeValue& value, OutputBuffer& out);

// Appends one entity object: {"id":N, then ,"name":value for each member in the order of
// record.layout->member_names, then }. Requires: record.layout is set and record.values has one
// value per member.
void write_entity(const EntityRecord& record, OutputBuffer& out);

// The whole text for a list of records: "[", the entity objects separated by ",", "]".
OutputBuffer write_entities(std::span<const EntityRecord> records);

}  // namespace tessary
