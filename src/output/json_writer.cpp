#include "output/json_writer.h"

#include <bit>
#include <cstdint>
#include <string>
#include <variant>

#include "output/escape_table.h"
#include "output/number_text.h"

namespace tessary {
namespace {

void write_unsigned(std::uint64_t value, OutputBuffer& out) {
  out.reserve(U64_TEXT_CAPACITY);
  out.advance(static_cast<std::size_t>(write_u64_at(value, out.tail()) - out.tail()));
}

void write_signed(std::int64_t value, OutputBuffer& out) {
  out.reserve(U64_TEXT_CAPACITY + 1);
  out.advance(static_cast<std::size_t>(write_i64_at(value, out.tail()) - out.tail()));
}

// Non-finite doubles (exponent field all ones) have no JSON text and are written as null.
void write_double(double value, OutputBuffer& out) {
  constexpr std::uint64_t EXPONENT_MASK = 0x7FF0000000000000;
  if ((std::bit_cast<std::uint64_t>(value) & EXPONENT_MASK) == EXPONENT_MASK) {
    out.append_literal("null");
    return;
  }
  out.reserve(F64_TEXT_CAPACITY);
  out.advance(static_cast<std::size_t>(write_f64_at(value, out.tail()) - out.tail()));
}

void write_number(const JsonNumber& number, OutputBuffer& out) {
  switch (number.kind) {
    case JsonNumber::Kind::Unsigned:
      write_unsigned(number.u, out);
      return;
    case JsonNumber::Kind::Negative:
      write_signed(number.i, out);
      return;
    case JsonNumber::Kind::Double:
      write_double(number.d, out);
      return;
  }
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
  void operator()(const JsonNumber& number) const { write_number(number, out); }
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

}  // namespace

void write_json_string(std::string_view text, OutputBuffer& out) {
  out.push_back('"');
  const char* run = text.data();
  const char* const end = run + text.size();
  for (const char* p = run; p != end; ++p) {
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

void write_attribute_value(const AttributeValue& value, OutputBuffer& out) {
  switch (value.kind) {
    case AttributeValue::Kind::Null:
      out.append_literal("null");
      return;
    case AttributeValue::Kind::Unsigned:
      write_unsigned(value.u, out);
      return;
    case AttributeValue::Kind::Negative:
      write_signed(value.i, out);
      return;
    case AttributeValue::Kind::Double:
      write_double(value.d, out);
      return;
    case AttributeValue::Kind::Borrowed:
      write_value(*value.borrowed, out);
      return;
  }
}

void write_entity(const EntityRecord& record, OutputBuffer& out) {
  out.append_literal("{\"id\":");
  write_unsigned(record.id, out);
  const std::vector<std::string_view>& names = record.layout->member_names;
  for (std::size_t m = 0; m < names.size(); ++m) {
    out.push_back(',');
    write_json_string(names[m], out);
    out.push_back(':');
    write_attribute_value(record.values[m], out);
  }
  out.push_back('}');
}

OutputBuffer write_entities(std::span<const EntityRecord> records) {
  OutputBuffer out;
  out.push_back('[');
  for (std::size_t r = 0; r < records.size(); ++r) {
    if (r != 0) out.push_back(',');
    write_entity(records[r], out);
  }
  out.push_back(']');
  return out;
}

}  // namespace tessary
