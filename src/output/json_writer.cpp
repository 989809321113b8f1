#include "output/json_writer.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <variant>

#include "output/double_text.h"
#include "output/escape_table.h"
#include "output/number_text.h"
#include "base/panic.h"
#include "time/time_text.h"
#include "time/uuid_text.h"

namespace tessary {
namespace {

// Room that any scalar value needs: the longest double text (24 bytes), "-" and 20 digits, or the
// quoted text of a timestamp, date or UUID.
constexpr std::size_t SCALAR_ROOM = UUID_TEXT_LENGTH + 2;
static_assert(SCALAR_ROOM >= F64_TEXT_CAPACITY && SCALAR_ROOM >= U64_TEXT_CAPACITY + 1 &&
              SCALAR_ROOM >= TIMESTAMP_TEXT_CAPACITY + 2 && SCALAR_ROOM >= DATE_TEXT_LENGTH + 2);
// Keys are copied in blocks of this size, so the key text carries as many bytes of padding.
constexpr std::size_t KEY_BLOCK = 32;

template <std::size_t N>
char* put_literal(const char (&text)[N], char* p) {
  std::memcpy(p, text, N - 1);
  return p + N - 1;
}

// Non-finite doubles (exponent field all ones) have no JSON text and are written as null.
char* put_double(double value, char* p) {
  constexpr std::uint64_t EXPONENT_MASK = 0x7FF0000000000000;
  if ((std::bit_cast<std::uint64_t>(value) & EXPONENT_MASK) == EXPONENT_MASK) {
    return put_literal("null", p);
  }
  return double_text::put_f64(value, p);
}

// Requires: SCALAR_ROOM bytes at p.
char* put_number(const JsonNumber& number, char* p) {
  switch (number.kind) {
    case JsonNumber::Kind::Unsigned:
      return write_u64_at(number.u, p);
    case JsonNumber::Kind::Negative:
      return write_i64_at(number.i, p);
    case JsonNumber::Kind::Double:
      break;
  }
  return put_double(number.d, p);
}

// `"text"` of a timestamp of the unit (UTC, its fraction digits fixed by the unit).
char* put_timestamp_string(std::int64_t value, TimeUnit unit, char* p) {
  *p = '"';
  p = write_timestamp(value, unit, p + 1);
  *p = '"';
  return p + 1;
}

// Writes the text of one attribute value at p, which has SCALAR_ROOM bytes reserved in out, and
// returns the end. Borrowed arrays, objects and strings, and strings of the entity's text, go
// through the buffer (which may move its bytes); afterwards `room` bytes are reserved again.
char* put_attribute_value(const AttributeValue& value, char* p, OutputBuffer& out,
                          std::size_t room, const OutputBuffer& entity_text) {
  switch (value.kind) {
    case AttributeValue::Kind::Null:
      return put_literal("null", p);
    case AttributeValue::Kind::Unsigned:
      return write_u64_at(value.u, p);
    case AttributeValue::Kind::Negative:
      return write_i64_at(value.i, p);
    case AttributeValue::Kind::Double:
      return put_double(value.d, p);
    case AttributeValue::Kind::Bool:
      return value.u != 0 ? put_literal("true", p) : put_literal("false", p);
    case AttributeValue::Kind::TimestampSeconds:
      return put_timestamp_string(value.i, TimeUnit::Seconds, p);
    case AttributeValue::Kind::TimestampMillis:
      return put_timestamp_string(value.i, TimeUnit::Milliseconds, p);
    case AttributeValue::Kind::TimestampMicros:
      return put_timestamp_string(value.i, TimeUnit::Microseconds, p);
    case AttributeValue::Kind::Date:
      *p = '"';
      p = write_date(static_cast<std::int32_t>(value.i), p + 1);
      *p = '"';
      return p + 1;
    case AttributeValue::Kind::Uuid:
      *p = '"';
      p = write_uuid(value.uuid.high, value.uuid.low, p + 1);
      *p = '"';
      return p + 1;
    case AttributeValue::Kind::Text:
      out.advance(static_cast<std::size_t>(p - out.tail()));
      write_json_string(entity_text.view().substr(value.text.offset, value.text.length), out);
      out.reserve(room);
      return out.tail();
    case AttributeValue::Kind::Borrowed:
      break;
  }
  if (const JsonNumber* number = std::get_if<JsonNumber>(&value.borrowed->data)) {
    return put_number(*number, p);
  }
  out.advance(static_cast<std::size_t>(p - out.tail()));
  write_value(*value.borrowed, out);
  out.reserve(room);
  return out.tail();
}

// Visits the alternatives of JsonValue::data.
struct ValueWriter {
  OutputBuffer& out;

  void operator()(std::monostate) const { out.append_literal("null"); }
  void operator()(bool value) const {
    if (value) {
      out.append_literal("true");
    } else {
      out.append_literal("false");
    }
  }
  void operator()(const JsonNumber& number) const {
    out.reserve(SCALAR_ROOM);
    out.advance(static_cast<std::size_t>(put_number(number, out.tail()) - out.tail()));
  }
  void operator()(const std::string& text) const { write_json_string(text, out); }
  void operator()(const JsonArray& array) const {
    out.push_back('[');
    bool first = true;
    for (const JsonValue& element : array) {
      if (!first) out.push_back(',');
      first = false;
      write_value(element, out);
    }
    out.push_back(']');
  }
  void operator()(const JsonObject& object) const {
    out.push_back('{');
    bool first = true;
    for (const JsonMember& member : object) {
      if (!first) out.push_back(',');
      first = false;
      write_json_string(member.key, out);
      out.push_back(':');
      write_value(member.value, out);
    }
    out.push_back('}');
  }
};

// The start of an entity object, up to and including the id.
char* put_entity_id(std::uint64_t id, char* p) {
  return write_u64_at(id, put_literal("{\"id\":", p));
}

// Room for "{\"id\":", 20 digits and "}".
constexpr std::size_t ENTITY_ROOM = 6 + U64_TEXT_CAPACITY + 1;

}  // namespace

void write_json_string(std::string_view text, OutputBuffer& out) {
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  const char* p = begin;
  while (p != end && JSON_ESCAPES[static_cast<unsigned char>(*p)].length == 0) ++p;
  if (p == end) {
    // Nothing to escape (the common case): quotes and text in one reservation.
    out.reserve(text.size() + 2);
    char* tail = out.tail();
    tail[0] = '"';
    if (!text.empty()) std::memcpy(tail + 1, begin, text.size());
    tail[text.size() + 1] = '"';
    out.advance(text.size() + 2);
    return;
  }
  out.push_back('"');
  const char* run = begin;
  for (; p != end; ++p) {
    const JsonEscape& escape = JSON_ESCAPES[static_cast<unsigned char>(*p)];
    if (escape.length == 0) continue;
    out.append(run, static_cast<std::size_t>(p - run));
    out.append_prefix<sizeof escape>(&escape, escape.length);
    run = p + 1;
  }
  out.append(run, static_cast<std::size_t>(end - run));
  out.push_back('"');
}

void write_value(const JsonValue& value, OutputBuffer& out) {
  std::visit(ValueWriter{out}, value.data);
}

void write_attribute_value(const AttributeValue& value, const OutputBuffer& entity_text,
                           OutputBuffer& out) {
  out.reserve(SCALAR_ROOM);
  char* end = put_attribute_value(value, out.tail(), out, SCALAR_ROOM, entity_text);
  out.advance(static_cast<std::size_t>(end - out.tail()));
}

EntityKeys prepare_entity_keys(const EntityLayout& layout) {
  EntityKeys keys;
  keys.layout = &layout;
  keys.ends.reserve(layout.member_names.size());
  for (std::string_view name : layout.member_names) {
    keys.text.push_back(',');
    write_json_string(name, keys.text);
    keys.text.push_back(':');
    keys.ends.push_back(keys.text.size());
  }
  const char padding[KEY_BLOCK] = {};
  keys.text.append(padding, KEY_BLOCK);
  return keys;
}

void write_entity(const EntityRecord& record, const EntityKeys& keys, OutputBuffer& out) {
  if (record.layout != keys.layout || record.values.size() != keys.ends.size()) {
    panic("entity record does not match the layout of the entity keys");
  }
  // One reservation covers the id, every key (copied in whole blocks) and every scalar value;
  // only borrowed arrays, objects and strings reserve again as they are written.
  const std::size_t room =
      ENTITY_ROOM + keys.text.size() + record.values.size() * (KEY_BLOCK + SCALAR_ROOM);
  out.reserve(room);
  char* p = put_entity_id(record.id, out.tail());
  // Held in locals: the text stores through char pointers could alias the containers' fields,
  // which the compiler would otherwise load again after every store.
  const char* const key_text = keys.text.data();
  const std::size_t* const key_ends = keys.ends.data();
  const AttributeValue* const values = record.values.data();
  const std::size_t count = record.values.size();
  std::size_t key_begin = 0;
  for (std::size_t m = 0; m < count; ++m) {
    const std::size_t key_end = key_ends[m];
    const std::size_t key_length = key_end - key_begin;
    if (key_length <= KEY_BLOCK) {
      std::memcpy(p, key_text + key_begin, KEY_BLOCK);
    } else {
      std::memcpy(p, key_text + key_begin, key_length);
    }
    p = put_attribute_value(values[m], p + key_length, out, room, record.text);
    key_begin = key_end;
  }
  *p++ = '}';
  out.advance(static_cast<std::size_t>(p - out.tail()));
}

}  // namespace tessary
