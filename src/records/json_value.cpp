#include "records/json_value.h"

#include <algorithm>
#include <bit>

namespace tessary {

double JsonNumber::to_f64() const {
  switch (kind) {
    case Kind::Unsigned:
      return static_cast<double>(u);  // round to nearest, ties to even
    case Kind::Negative:
      return static_cast<double>(i);
    case Kind::Double:
      break;
  }
  return d;
}

bool operator==(const JsonNumber& a, const JsonNumber& b) {
  if (a.kind != b.kind) return false;
  return a.kind == JsonNumber::Kind::Double
             ? std::bit_cast<std::uint64_t>(a.d) == std::bit_cast<std::uint64_t>(b.d)
             : a.u == b.u;
}

static bool key_less(const JsonMember& a, const JsonMember& b) {
  return a.key < b.key;
}

JsonObject JsonObject::from_members(std::vector<JsonMember> members) {
  // A stable sort keeps document order among equal keys; the last of each run then wins. Small
  // objects, the common case, are sorted by insertion, which needs no buffer.
  if (members.size() <= 16) {
    for (auto it = members.begin(); it != members.end(); ++it) {
      std::rotate(std::upper_bound(members.begin(), it, *it, key_less), it, std::next(it));
    }
  } else {
    std::stable_sort(members.begin(), members.end(), key_less);
  }
  auto kept = members.begin();
  for (auto it = members.begin(); it != members.end(); ++it) {
    if (std::next(it) != members.end() && std::next(it)->key == it->key) continue;
    if (kept != it) *kept = std::move(*it);
    ++kept;
  }
  members.erase(kept, members.end());
  JsonObject object;
  object.members_ = std::move(members);
  return object;
}

void JsonObject::insert_or_assign(std::string key, JsonValue value) {
  // std::string compares through char_traits<char>::compare, which is memcmp: unsigned bytes.
  auto at = std::lower_bound(members_.begin(), members_.end(), key,
                             [](const JsonMember& m, const std::string& k) { return m.key < k; });
  if (at != members_.end() && at->key == key) {
    at->value = std::move(value);
  } else {
    members_.insert(at, JsonMember{std::move(key), std::move(value)});
  }
}

const JsonValue* JsonObject::find(std::string_view key) const {
  auto at = std::lower_bound(members_.begin(), members_.end(), key,
                             [](const JsonMember& m, std::string_view k) { return m.key < k; });
  return at != members_.end() && at->key == key ? &at->value : nullptr;
}

}  // namespace tessary
