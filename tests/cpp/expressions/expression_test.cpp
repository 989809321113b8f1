#include "expressions/expression.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <string>
#include <string_view>
#include <variant>

namespace tessary {
namespace {

// The attributes of the tests' entity, by name, and the slots where their values are.
constexpr double PRICE = 19.99, QUANTITY = 3, DISCOUNT = 0.15;
const double SLOTS[] = {PRICE, QUANTITY, DISCOUNT, 4.5, 7, 41, 2};
const std::map<std::string, std::size_t, std::less<>> NAMES = {
    {"price", 0}, {"quantity", 1}, {"discount", 2}, {"unit price", 3}, {"a`b", 4}, {"id", 6}};
constexpr std::size_t ENTITY_ID_SLOT = 5;

std::variant<std::size_t, std::string> resolve(std::string_view name, bool entity_id) {
  if (entity_id) return ENTITY_ID_SLOT;
  if (name == "later") return std::string("`later` comes after this attribute");
  if (name == "c") return std::string("`c` is not numeric: it can be \"a\"");
  const auto found = NAMES.find(name);
  if (found == NAMES.end()) return "unknown attribute `" + std::string(name) + "`";
  return found->second;
}

Expression compiled(std::string_view text) {
  auto result = compile_expression(text, resolve);
  if (const auto* error = std::get_if<ExpressionError>(&result)) {
    ADD_FAILURE() << text << ": " << error->message << " at " << error->offset;
    return {};
  }
  return std::get<Expression>(std::move(result));
}

ExpressionError failure(std::string_view text) {
  auto result = compile_expression(text, resolve);
  if (auto* error = std::get_if<ExpressionError>(&result)) return std::move(*error);
  ADD_FAILURE() << text << " compiled";
  return {};
}

TEST(CompileExpression, ErrorsNameTheFaultAndItsOffset) {
  struct Case {
    std::string_view message;
    std::size_t offset;
    std::string_view text;
  };
  const std::string_view OPERAND = "missing operand at the end of the expression";
  const std::string_view ROUND_N =
      "the second argument of `round` must be an integer literal from 0 to 15 (the number of "
      "decimals)";
  const Case cases[] = {
      {"the expression is empty", 0,
       " \t\n"},
      //^ offset 0
      {"unexpected character `#`", 6,
       "price # 2"},
      //      ^ offset 6
      {"unexpected character `é`: a name with characters other than A-Z, a-z, 0-9 and _ is "
       "written between backquotes", 4,
       "prix\xC3\xA9 + 1"},
      //    ^ offset 4
      {"malformed number: no digit may follow a leading 0", 1,
       "01"},
      // ^ offset 1
      {"malformed number: expected a digit after `.`", 2,
       "1.e5"},
      //  ^ offset 2
      {"malformed number: expected a digit of the exponent", 3,
       "1e+"},
      //   ^ offset 3
      {"malformed number: expected a digit before `.`", 2,
       "1+.5"},
      //  ^ offset 2
      {"malformed number: `x` cannot follow its digits", 1,
       "2x"},
      // ^ offset 1
      {"malformed number: `.` cannot follow its digits", 3,
       "1.5.2"},
      //   ^ offset 3
      {"the number 1e999 is outside the range of a double", 4,
       "1 + 1e999"},
      //    ^ offset 4
      {"unbalanced parentheses: this `(` is never closed", 3,
       "min(1, (2)"},
      //   ^ offset 3
      {"unbalanced parentheses: `)` has no matching `(`", 5,
       "1 + 2) * 3"},
      //     ^ offset 5
      {"expected `)` or an operator", 3,
       "(1 2)"},
      //   ^ offset 3
      {"expected `,`, `)` or an operator", 6,
       "max(1 2)"},
      //      ^ offset 6
      {OPERAND, 3,
       "1 +"},
      //   ^ offset 3
      {OPERAND, 2,
       "--"},
      //  ^ offset 2
      {"missing operand before `*`", 4,
       "1 + * 2"},
      //    ^ offset 4
      {"missing operand before `)`", 1,
       "()"},
      // ^ offset 1
      {"missing operand before `,`", 4,
       "min(, 1)"},
      //    ^ offset 4
      {"unknown function `pow` (the functions are min, max, abs, floor, ceil, round, sqrt, exp and "
       "log)", 4,
       "1 + pow (2, 3)"},
      //    ^ offset 4
      {"`abs` takes 1 argument, not 2", 0,
       "abs(1, 2)"},
      //^ offset 0
      {"`min` takes 2 or more arguments, not 1", 2,
       "1+min(1)"},
      //  ^ offset 2
      {"`max` takes 2 or more arguments, not 0", 0,
       "max()"},
      //^ offset 0
      {"`round` takes 2 arguments, not 1", 0,
       "round(1)"},
      //^ offset 0
      {"`round` takes 2 arguments, not 3", 0,
       "round(1, 2, 3)"},
      //^ offset 0
      {ROUND_N, 9,
       "round(1, 16)"},
      //         ^ offset 9
      {ROUND_N, 9,
       "round(1, 1.0)"},
      //         ^ offset 9
      {ROUND_N, 9,
       "round(1, -1)"},
      //         ^ offset 9
      {ROUND_N, 9,
       "round(1, quantity)"},
      //         ^ offset 9
      {ROUND_N, 9,
       "round(1, 1 + 1)"},
      //         ^ offset 9
      {"trailing text: expected an operator or the end of the expression", 2,
       "1 2"},
      //  ^ offset 2
      {"trailing text: expected an operator or the end of the expression", 7,
       "`price`(1)"},
      //       ^ offset 7
      {"unterminated name: expected a closing ` (a backquote inside a name is written ``)", 4,
       "1 + `a``"},
      //    ^ offset 4
      {"unknown attribute `nope`", 4,
       "1 + nope"},
      //    ^ offset 4
      {"`later` comes after this attribute", 8,
       "price + later"},
      //        ^ offset 8
      {"`c` is not numeric: it can be \"a\"", 4,
       "1 + `c`"},
      //    ^ offset 4
  };
  for (const Case& c : cases) {
    const ExpressionError error = failure(c.text);
    EXPECT_EQ(error.message, c.message) << c.text;
    EXPECT_EQ(error.offset, c.offset) << c.text;
  }
}

TEST(CompileExpression, BoundsNestingAndTheStack) {
  const auto nested = [](std::string_view open, std::size_t levels) {
    std::string text;
    for (std::size_t i = 0; i < levels; ++i) text += open;
    text += "1";
    for (std::size_t i = 0; i < levels; ++i) text += ")";
    return text;
  };
  EXPECT_EQ(evaluate(compiled(nested("(", MAX_EXPRESSION_NESTING)), SLOTS), 1.0);
  const ExpressionError too_deep = failure(nested("(", MAX_EXPRESSION_NESTING + 1));
  EXPECT_EQ(too_deep.message, "the expression nests too deeply");
  EXPECT_EQ(too_deep.offset, MAX_EXPRESSION_NESTING);  // the first `(` past the limit

  // Each level of 1+1*( leaves two values waiting: 31 levels need 63 places, 32 need 65.
  EXPECT_EQ(evaluate(compiled(nested("1+1*(", 31)), SLOTS), 32.0);
  const ExpressionError too_high = failure(nested("1+1*(", 32));
  EXPECT_EQ(too_high.message, "the expression nests too deeply");
  EXPECT_EQ(too_high.offset, 32 * 5);  // the innermost 1, the 65th value

  const ExpressionError too_long = failure(std::string(MAX_EXPRESSION_LENGTH + 1, '1'));
  EXPECT_EQ(too_long.offset, MAX_EXPRESSION_LENGTH);
}

// Expected values are Python's float arithmetic on the same doubles in the same order.
TEST(Evaluate, FollowsPrecedenceAndTheOrderOfOperations) {
  const double NaN = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    std::string_view text;
    double expected;  // compared bit for bit: the sign of 0 counts, any NaN matches a NaN
  };
  const Case cases[] = {
      // Left associativity: the right-nested order gives 55.97449999999999, 0.6, 2 and 4.
      {"price * quantity * (1 - discount) + 5", 55.9745},
      {"0.1 + 0.2 + 0.3", 0.6000000000000001},
      {"1 - 2 - 3", -4},
      {"2 / 4 / 8", 0.0625},
      {"0.1 + (0.2 + 0.3)", 0.6},
      {"(price - 1) / quantity", 6.329999999999999},
      {"1 + 2 * 3 - 4 / 8", 6.5},
      {"-2 * 3", -6},
      {"-(1)", -1},
      {"2 - -3", 5},
      {"-(0)", -0.0},
      {"--quantity", 3},
      // Numbers read exactly: ties to even at 2^53 + 1, the largest subnormal, exponents.
      {"9007199254740993", 9007199254740992.0},
      {"2.2250738585072011e-308", 0x0.fffffffffffffp-1022},
      {"0.30000000000000004", 0x1.3333333333334p-2},
      {"2.5E+1 + 1e-3 * 3", 25.003},
      // min and max chain left to right; a tie gives the right operand, so does a NaN on the left.
      {"min(3, 1, 2)", 1},
      {"max(1, 3, 2)", 3},
      {"min(0, -0)", -0.0},
      {"max(-0, 0)", 0.0},
      {"min(sqrt(-1), 1)", 1},
      {"min(1, sqrt(-1))", NaN},
      {"max(1, sqrt(-1), 2)", 2},
      // round(x, n) by the rule of decimals: 4.35 * 10 is exactly 43.5, a tie, to even 44.
      {"round(4.35, 1)", 4.4},
      {"round(2.5, 0)", 2},
      {"round(3.5, 0)", 4},
      {"round(-0.4, 0)", 0.0},
      {"round(price, 1)", 20},
      {"abs(-3) + floor(-2.5) * 10 + ceil(2.1)", -24},
      {"ceil(-0.5)", -0.0},
      {"sqrt(2)", 1.4142135623730951},
      {"exp(1)", 2.718281828459045},
      {"log(10)", 2.302585092994046},
      {"exp(-price)", 2.0818685607302067e-09},
      {"1 / 0", HUGE_VAL},
      {"log(0)", -HUGE_VAL},
      // Names: backquoted with `` for a backquote, the bare id, and a function name used bare.
      {"`unit price` * 2 + `a``b`", 16},
      {"id + `id`", 43},
      {" \tprice\n-\nquantity ", 16.99},
  };
  for (const Case& c : cases) {
    const double value = evaluate(compiled(c.text), SLOTS);
    if (std::isnan(c.expected)) {
      EXPECT_TRUE(std::isnan(value)) << c.text << " gives " << value;
    } else {
      EXPECT_EQ(std::bit_cast<std::uint64_t>(value), std::bit_cast<std::uint64_t>(c.expected))
          << c.text << " gives " << value << ", not " << c.expected;
    }
  }
}

TEST(CompileExpression, ListsEachSlotOnceInTheOrderOfReading) {
  const Expression expression = compiled("discount * price + price / id - discount");
  EXPECT_EQ(expression_operands(expression), (std::vector<std::size_t>{2, 0, ENTITY_ID_SLOT}));
}

TEST(ExpressionMayBeNonFinite, OnlyWithoutArithmeticOrPartialFunctions) {
  EXPECT_FALSE(expression_may_be_non_finite(compiled("max(-price, floor(abs(quantity)), 1)")));
  EXPECT_FALSE(expression_may_be_non_finite(compiled("round(ceil(price), 2)")));
  for (std::string_view text : {"price + 1", "price - 1", "price * 2", "1 / price", "sqrt(price)",
                                "exp(price)", "min(log(price), 1)"}) {
    EXPECT_TRUE(expression_may_be_non_finite(compiled(text))) << text;
  }
}

TEST(ExpressionInt, RoundsHalfToEvenWithinInt64) {
  struct Case {
    double value;
    std::optional<std::int64_t> expected;
  };
  const Case cases[] = {
      {2.5, 2},
      {3.5, 4},
      {-2.5, -2},
      {-0.5, 0},
      {0.49999999999999994, 0},
      {0x1p63, std::nullopt},
      {-0x1p63, INT64_MIN},
      {0x1.fffffffffffffp62, 9223372036854774784},
      {HUGE_VAL, std::nullopt},
      {-HUGE_VAL, std::nullopt},
      {std::numeric_limits<double>::quiet_NaN(), std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(expression_int(c.value), c.expected) << c.value;
}

}  // namespace
}  // namespace tessary
