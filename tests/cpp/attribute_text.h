// The JSON text of a record's attribute value, written from its parts, for tests that check what
// the writers and column builders make of records.
#pragma once

#include <string>

#include "output/json_writer.h"
#include "output/number_text.h"
#include "records/entity_record.h"

namespace tessary {

// "null", the number's text, or a borrowed value as write_value writes it.
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
    case AttributeValue::Kind::Borrowed:
      break;
  }
  OutputBuffer out;
  write_value(*value.borrowed, out);
  return std::string(out.view());
}

}  // namespace tessary
