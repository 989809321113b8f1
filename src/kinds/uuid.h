// uuid: a random version-4 UUID.
//
//   {"name": ..., "type": "uuid"}
//
// Generator steps: 2: the first gives bytes 0 to 7, the second bytes 8 to 15 (most significant
// byte first); then the version nibble (the high half of byte 6) is set to 4 and the variant bits
// (the top two of byte 8) to 10, as RFC 9562 section 5.4 lays out, leaving 122 random bits.
// Text: 36 lower-case hex digits and hyphens, 8-4-4-4-12. Column: the canonical UUID extension
// type over fixed_size_binary(16), the bytes in text order.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "kinds/kind_unit.h"
#include "time/uuid_text.h"

namespace tessary {

struct Uuid {
  static constexpr std::string_view NAME = "uuid";
  static constexpr std::array<std::string_view, 0> FIELDS = {};
  static constexpr std::size_t REQUIRED = 0;

  [[nodiscard]] static Problem take(Uuid&, std::size_t, const BufferedValue&) {
    return std::nullopt;
  }
  [[nodiscard]] static ParamFault fault(const Uuid&) { return ParamFault::None; }
  struct Draw {};
  static Draw prepare(const Uuid&, std::uint64_t) { return {}; }
  static UuidBits draw(const Draw&, Xoshiro256PlusPlus& rng, const EntityContext&) {
    const std::uint64_t high = rng.next_u64();
    const std::uint64_t low = rng.next_u64();
    return {(high & ~std::uint64_t{0xF000}) | 0x4000,
            (low & ~(std::uint64_t{3} << 62)) | (std::uint64_t{2} << 62)};
  }
  static AttributeValue value(const Uuid&, UuidBits cell) {
    return AttributeValue::from_uuid(cell);
  }
  static void check(const Uuid&, std::vector<KindProblem>&) {}
  static ValueTextBounds text_bounds(const Uuid&, OutputBuffer&) {
    return {UUID_TEXT_LENGTH + 2, UUID_TEXT_LENGTH + 2};
  }
  static std::uint64_t work(const Uuid&) { return 2; }
  [[nodiscard]] static std::optional<ColumnSchemaError> plan_column(const Uuid&, std::size_t,
                                                                    Column& column) {
    column.kind = ColumnKind::Uuid;
    return std::nullopt;
  }
  static bool fits_column(const Uuid&, const Column& column) {
    return column.kind == ColumnKind::Uuid;
  }
};

}  // namespace tessary
