// AttributeValue: the value of one attribute of one entity, as a draw gives it.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <variant>

#include "records/json_value.h"

namespace tessary {

// The 128 bits of a UUID, `high` holding its first 8 bytes in big-endian order.
struct UuidBits {
  std::uint64_t high = 0;
  std::uint64_t low = 0;
};

// A string an entity's draws wrote: bytes [offset, offset + length) of the entity's text (the
// OutputBuffer of EntityContext), which holds every string value of one entity.
struct TextSpan {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};

// The id of another table's entity, as a reference to that table's `id` gives it.
struct ParentId {
  std::uint64_t id = 0;
};

// The value of one attribute. Scalars are held inline; a choice borrows its value from the
// attribute spec; a string made for the entity lies in the entity's text. Timestamps count units
// since 1970-01-01T00:00:00Z (the unit is the kind), dates days since 1970-01-01.
struct AttributeValue {
  enum class Kind : std::uint8_t {
    Null,
    Unsigned,
    Negative,
    Double,
    Borrowed,
    Bool,
    TimestampSeconds,
    TimestampMillis,
    TimestampMicros,
    Date,
    Uuid,
    Text,
  };

  Kind kind = Kind::Null;
  union {
    std::uint64_t u;
    std::int64_t i;
    double d;
    const JsonValue* borrowed;
    UuidBits uuid;
    TextSpan text;
  };

  AttributeValue() : uuid() {}
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
  static AttributeValue from_bool(bool value) {
    AttributeValue v;
    v.kind = Kind::Bool;
    v.u = value;
    return v;
  }
  // Requires: kind is one of the Timestamp kinds or Date.
  static AttributeValue from_time(Kind kind, std::int64_t value) {
    AttributeValue v;
    v.kind = kind;
    v.i = value;
    return v;
  }
  static AttributeValue from_text(TextSpan span) {
    AttributeValue v;
    v.kind = Kind::Text;
    v.text = span;
    return v;
  }
  static AttributeValue from_uuid(UuidBits bits) {
    AttributeValue v;
    v.kind = Kind::Uuid;
    v.uuid = bits;
    return v;
  }
};

// The number a value holds: an integer, a double or a borrowed number; none for any other value,
// null included.
inline std::optional<JsonNumber> number_of(const AttributeValue& value) {
  switch (value.kind) {
    case AttributeValue::Kind::Unsigned:
      return JsonNumber::from_u64(value.u);
    case AttributeValue::Kind::Negative:
      return JsonNumber::from_negative(value.i);
    case AttributeValue::Kind::Double:
      return JsonNumber::from_f64(value.d);
    case AttributeValue::Kind::Borrowed:
      if (const auto* number = std::get_if<JsonNumber>(&value.borrowed->data)) return *number;
      break;
    default:
      break;
  }
  return std::nullopt;
}

}  // namespace tessary
