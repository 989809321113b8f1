// JsonValue: a JSON value held in memory, as the attribute spec reader produces it inside "choice"
// specs and as the writer prints it back.
//
// Numbers keep the kind the reader gave them: every non-negative integer is Unsigned, a negative
// integer is Negative (its value is always below 0), everything else is a finite Double.
// Objects iterate in ascending byte order of their keys (unsigned byte compare, a prefix first) and
// hold each key once: of a key repeated among the members an object is built from, the last value
// is kept. A JsonValue owns everything inside it and copies deeply. Once built it is only read, by
// any number of threads at once.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace tessary {

struct JsonNumber {
  enum class Kind : std::uint8_t { Unsigned, Negative, Double };

  Kind kind = Kind::Unsigned;
  union {
    std::uint64_t u;
    std::int64_t i;
    double d;
  };

  JsonNumber() : u(0) {}
  static JsonNumber from_u64(std::uint64_t value) {
    JsonNumber n;
    n.kind = Kind::Unsigned;
    n.u = value;
    return n;
  }
  // Requires value < 0; non-negative integers are Unsigned.
  static JsonNumber from_negative(std::int64_t value) {
    JsonNumber n;
    n.kind = Kind::Negative;
    n.i = value;
    return n;
  }
  static JsonNumber from_f64(double value) {
    JsonNumber n;
    n.kind = Kind::Double;
    n.d = value;
    return n;
  }

  // The nearest double, ties to even (what a double-typed spec field takes).
  double to_f64() const;
};

bool operator==(const JsonNumber& a, const JsonNumber& b);  // same kind and same bits

struct JsonValue;
struct JsonMember;
using JsonArray = std::vector<JsonValue>;

// Key-ordered map from text to JsonValue, kept as a vector sorted by key.
class JsonObject {
 public:
  JsonObject() = default;
  // Builds an object from members in document order: sorted by key, a repeated key keeping its
  // last value. O(n log n), so large objects from the reader stay cheap.
  static JsonObject from_members(std::vector<JsonMember> members);

  // Defined below JsonMember: clang instantiates the vector's constexpr members eagerly.
  std::size_t size() const;
  bool empty() const;
  std::vector<JsonMember>::const_iterator begin() const;
  std::vector<JsonMember>::const_iterator end() const;

  friend bool operator==(const JsonObject& a, const JsonObject& b);

 private:
  std::vector<JsonMember> members_;  // ascending key order, keys unique
};

struct JsonValue {
  // Alternatives in this order: null, boolean, number, string, array, object.
  std::variant<std::monostate, bool, JsonNumber, std::string, JsonArray, JsonObject> data;

  // The constructors are defined below JsonMember, which destroying a JsonObject needs.
  JsonValue() = default;
  JsonValue(std::nullptr_t);
  explicit JsonValue(bool b);
  JsonValue(JsonNumber n);
  explicit JsonValue(std::string s);
  JsonValue(JsonArray a);
  JsonValue(JsonObject o);

  bool is_null() const { return std::holds_alternative<std::monostate>(data); }

  friend bool operator==(const JsonValue& a, const JsonValue& b) { return a.data == b.data; }
};

struct JsonMember {
  std::string key;
  JsonValue value;

  friend bool operator==(const JsonMember& a, const JsonMember& b) = default;
};

inline bool operator==(const JsonObject& a, const JsonObject& b) {
  return a.members_ == b.members_;
}

inline std::size_t JsonObject::size() const {
  return members_.size();
}
inline bool JsonObject::empty() const {
  return members_.empty();
}
inline std::vector<JsonMember>::const_iterator JsonObject::begin() const {
  return members_.begin();
}
inline std::vector<JsonMember>::const_iterator JsonObject::end() const {
  return members_.end();
}

inline JsonValue::JsonValue(std::nullptr_t) {}
inline JsonValue::JsonValue(bool b) : data(b) {}
inline JsonValue::JsonValue(JsonNumber n) : data(n) {}
inline JsonValue::JsonValue(std::string s) : data(std::move(s)) {}
inline JsonValue::JsonValue(JsonArray a) : data(std::move(a)) {}
inline JsonValue::JsonValue(JsonObject o) : data(std::move(o)) {}

}  // namespace tessary
