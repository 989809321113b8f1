// Fuzz harness: compile_expression over arbitrary bytes, then evaluate what compiles. Whatever the
// input, compiling must end without a crash or undefined behaviour, with an error whose offset lies
// inside the text (or at its end) and whose message is valid UTF-8 when the input is, or with a
// program whose stack fits the evaluation's array and whose operands are the names it read.
// One-letter names are attributes (slot = letter - 'a'), id is the last slot, others are unknown.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>

#include "expressions/expression.h"
#include "specs/utf8_helpers.h"

namespace {

constexpr std::size_t ID_SLOT = 26;
constexpr double SLOTS[ID_SLOT + 1] = {1.5, -2, 0, 1e300, -0.0, 3, 7, 0.1, 2, 9, 4, 5, 6,
                                       8,   10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 42};

std::variant<std::size_t, std::string> resolve(std::string_view name, bool entity_id) {
  if (entity_id) return ID_SLOT;
  if (name.size() == 1 && name[0] >= 'a' && name[0] <= 'z') {
    return static_cast<std::size_t>(name[0] - 'a');
  }
  return std::string("unknown attribute");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto result = tessary::compile_expression(text, resolve);
  if (const auto* error = std::get_if<tessary::ExpressionError>(&result)) {
    if (error->offset > size) std::abort();
    if (tessary::testing::is_valid_utf8(text) &&
        !tessary::testing::is_valid_utf8(error->message)) {
      std::abort();
    }
    return 0;
  }
  const auto& expression = std::get<tessary::Expression>(result);
  if (expression.stack_depth == 0 || expression.stack_depth > tessary::MAX_EXPRESSION_STACK) {
    std::abort();
  }
  for (std::size_t slot : tessary::expression_operands(expression)) {
    if (slot > ID_SLOT) std::abort();
  }
  static_cast<void>(tessary::evaluate(expression, SLOTS));
  return 0;
}
