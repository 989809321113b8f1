// Arithmetic over the earlier attributes of an entity: the engine of the `expression` kind.
//
//   expression := sum
//   sum        := product (("+" | "-") product)*          left associative
//   product    := unary (("*" | "/") unary)*              left associative
//   unary      := "-" unary | primary
//   primary    := number | name | "id" | "(" sum ")" | function "(" arguments ")"
//   number     := JSON's: 0 or [1-9][0-9]*, then optionally "." [0-9]+, then optionally
//                 [eE] [+-]? [0-9]+ (no sign: "-" is the unary operator)
//   name       := [A-Za-z_][A-Za-z0-9_]*, or any text between backquotes with `` for a backquote
//   function   := min(a, b, ...) max(a, b, ...) (2 or more arguments), abs(x), floor(x),
//                 ceil(x), sqrt(x), exp(x), log(x), round(x, n) with n an integer literal 0..15
// Whitespace (space, tab, newline) may stand between tokens. A bare name followed by "(" is a
// function call; a function's name without "(" is an ordinary name, so an attribute named `log`
// can be read as log.
//
// Evaluation is exact and identical on every build (the build has no floating-point contraction):
// the program is in postfix order, so a left operand is computed before the right one and
// arguments from left to right, and each operation is one IEEE double operation, rounded to
// nearest:
// - + - * / and unary minus (a sign flip: -0 gives -0.0);
// - min and max chain left to right over their arguments, min(a, b, c) = min(min(a, b), c), each
//   step as `a < b ? a : b` and `a > b ? a : b`: a tie gives b (min(0.0, -0.0) = -0.0), a NaN in
//   b gives NaN and a NaN in a gives b (min(NaN, 1) = 1, min(1, NaN) = NaN);
// - abs, floor, ceil and sqrt are exact (sqrt correctly rounded, NaN below 0);
// - exp and log are the C library's, the only calls whose last bit depends on the library;
// - round(x, n) is the rule of `decimals` (sampling/decimals.h): x * 10^n rounded to an integer,
//   ties to even, divided by 10^n, so round(4.35, 1) = 4.4 and round(2.5, 0) = 2.
// Nothing is folded at compile time: a constant subexpression is computed at each evaluation,
// with the same operations.
//
// Compilation and evaluation are pure functions, safe on any thread; evaluation allocates nothing
// and draws nothing from any generator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tessary {

// The longest expression text, in bytes.
inline constexpr std::size_t MAX_EXPRESSION_LENGTH = 4096;
// The most values an evaluation holds at once: the size of its stack array.
inline constexpr std::size_t MAX_EXPRESSION_STACK = 64;
// The most parentheses, function calls and unary minuses nested inside one another.
inline constexpr std::size_t MAX_EXPRESSION_NESTING = 32;

// A fault of an expression's text: the byte index inside the text where it is (the text's
// length when the text ends too soon), and what is wrong.
struct [[nodiscard]] ExpressionError {
  std::size_t offset = 0;
  std::string message;
};

enum class ExpressionOp : std::uint8_t {
  Constant,  // pushes `number`
  Operand,   // pushes slots[slot]
  Negate,    // one value
  Abs,
  Floor,
  Ceil,
  Sqrt,
  Exp,
  Log,
  Round,     // round_decimals with the scale `number` (10^n)
  Add,       // two values: the one below (left) and the top (right)
  Subtract,
  Multiply,
  Divide,
  Min,
  Max,
};

struct ExpressionStep {
  ExpressionOp op = ExpressionOp::Constant;
  std::size_t slot = 0;  // Operand
  double number = 0;     // Constant, Round
};

// A compiled expression: a postfix program over a stack of doubles.
struct Expression {
  std::vector<ExpressionStep> steps;
  std::vector<std::size_t> operands;  // the distinct slots read, in the order of first reading
  std::size_t stack_depth = 0;        // the most values on the stack, 1..MAX_EXPRESSION_STACK
};

// Gives the operand slot of a name, or the message of why the name cannot be read ("unknown
// attribute `x`", "`x` comes after this attribute", ...), which compile_expression reports at the
// name's offset. `entity_id` is true for the bare word id (the entity's id) and false for every
// other name, the backquoted `id` included. Called once per occurrence of a name, left to right.
using ResolveName =
    std::function<std::variant<std::size_t, std::string>(std::string_view name, bool entity_id)>;

// Compiles the text, or gives its first fault (in reading order) at its byte offset. The faults:
// an unexpected character, a malformed number or one outside the range of a double, unbalanced
// parentheses, a missing operand, an unknown function, a function with the wrong number of
// arguments, round's n other than an integer literal 0..15, trailing text, an empty expression,
// a text longer than MAX_EXPRESSION_LENGTH, nesting deeper than MAX_EXPRESSION_NESTING or a
// stack deeper than MAX_EXPRESSION_STACK ("the expression nests too deeply"), and a name the
// resolver refuses.
std::variant<Expression, ExpressionError> compile_expression(std::string_view text,
                                                             const ResolveName& resolve);

// The distinct slots the expression reads, in the order of first reading.
inline const std::vector<std::size_t>& expression_operands(const Expression& expression) {
  return expression.operands;
}

// The value of the expression. Requires: slots[s] readable for every s in expression_operands.
// No allocation: the stack is an array of MAX_EXPRESSION_STACK doubles.
double evaluate(const Expression& expression, const double* slots);

// Whether the expression can give infinity or NaN from finite operands: true when it divides,
// calls sqrt, exp or log, or adds, subtracts or multiplies (which overflow when the values are
// large enough: the engine knows nothing of the operands' ranges). False only for expressions of
// negation, abs, floor, ceil, round, min and max, which keep finite values finite.
bool expression_may_be_non_finite(const Expression& expression);

// The value as an integer (the "as": "int" conversion): rounded to the nearest integer, ties to
// even; none when the value is not finite or its rounding lies outside int64 (2^63 is outside,
// -2^63 inside).
std::optional<std::int64_t> expression_int(double value);

}  // namespace tessary
