// JSON writer: the compact JSON text of values and entity records, appended to an OutputBuffer.
//
// No whitespace is written between tokens. Strings are escaped by one fixed table (the double
// quote, the backslash and the bytes below 0x20; "/", DEL and UTF-8 bytes are copied unchanged).
// Integers are written in plain decimal, finite doubles in their shortest round-trip form and
// non-finite doubles as null. Objects are written in their own key order. Writing cannot fail
// except for running out of memory (std::bad_alloc from the buffer). All functions only read their
// inputs; different buffers may be written on different threads at once.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

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

// Appends the JSON text of one attribute value as write_entity writes it; `entity_text` holds the
// entity's strings (TextSpan values).
void write_attribute_value(const AttributeValue& value, const OutputBuffer& entity_text,
                           OutputBuffer& out);

// The member keys of a layout as JSON text, escaped once for every entity of a call: for member m
// the bytes `,"name":` from text.data() + (m == 0 ? 0 : ends[m - 1]) to text.data() + ends[m].
// Immutable once made; may be shared by threads.
struct EntityKeys {
  const EntityLayout* layout = nullptr;  // the layout the keys were made for
  OutputBuffer text;                     // the keys back to back, then padding
  std::vector<std::size_t> ends;         // one per member
};

// Requires: layout outlives the keys.
EntityKeys prepare_entity_keys(const EntityLayout& layout);

// Appends one entity object: {"id":N, then ,"name":value for each member in the order of
// record.layout->member_names, then }. The keys, prepared once for record.layout, save escaping
// every name again for every entity. A record whose values do not match its layout, or keys made
// for another layout, are an internal fault and panic.
void write_entity(const EntityRecord& record, const EntityKeys& keys, OutputBuffer& out);

}  // namespace tessary
