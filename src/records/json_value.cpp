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

}  // namespace tessary
