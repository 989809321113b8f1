// AttributeValue: the value of one attribute of one entity, as a sampler gives it.
#pragma once

#include <cmath>
#include <cstdint>

#include "records/json_value.h"

namespace tessary {

// The value of one attribute. Scalars are held inline; a choice borrows its value from the
// attribute spec.
struct AttributeValue {
  enum class Kind : std::uint8_t { Null, Unsigned, Negative, Double, Borrowed };

  Kind kind = Kind::Null;
  union {
    std::uint64_t u;
    std::int64_t i;
    double d;
    const JsonValue* borrowed;
  };

  AttributeValue() : u(0) {}
  static AttributeValue null() { return {}; }
  static AttributeValue from_i64(std::int64_t value) {
    AttributeValue v;
    if (value < 0) {
      v.kind = Kind::Negative;
      v.i = value;
    } else {
      v.kind = Kind::Unsigned;
      v.u = static_cast<std::uint64_t>(value);
    }
    return v;
  }
  // A double that is not finite is held as null.
  static AttributeValue from_f64(double value) {
    AttributeValue v;
    if (std::isfinite(value)) {
      v.kind = Kind::Double;
      v.d = value;
    }
    return v;
  }
  static AttributeValue borrow(const JsonValue& value) {
    AttributeValue v;
    v.kind = Kind::Borrowed;
    v.borrowed = &value;
    return v;
  }
};

}  // namespace tessary
