// The JSON text of a record's attribute value, written from its parts, for tests that check what
// the writers and column builders make of records.
#pragma once

#include <string>

#include "output/json_writer.h"
#include "output/number_text.h"
#include "records/entity_record.h"

namespace tessary {

// "null", the number's text, a borrowed value as write_value writes it, or any other value as
// write_entity writes it.
inline std::string attribute_text(const AttributeValue& value) {
  switch (value.kind) {
    case AttributeValue::Kind::Null:
      return "null";
    case AttributeValue::Kind::Unsigned:
      return u64_string(value.u);
    case AttributeValue::Kind::Negative:
      return "-" + u64_string(0 - static_cast<std::uint64_t>(value.i));
    case AttributeValue::Kind::Double:
      return f64_string(value.d);
    case AttributeValue::Kind::Borrowed: {
      OutputBuffer out;
      write_value(*value.borrowed, out);
      return std::string(out.view());
    }
    default:
      break;
  }
  // The other kinds as the entity writer writes them: the record {"id":0,"v":value}, cut.
  const std::string name = "v";
  const EntityLayout layout{{name}, {0}};
  const EntityKeys keys = prepare_entity_keys(layout);
  EntityRecord record = make_entity_record(layout);
  record.values[0] = value;
  OutputBuffer out;
  write_entity(record, keys, out);
  const std::string_view text = out.view();
  const std::size_t start = std::string_view("{\"id\":0,\"v\":").size();
  return std::string(text.substr(start, text.size() - start - 1));
}

}  // namespace tessary
