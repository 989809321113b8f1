#include "expressions/expression.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <utility>

#include "sampling/decimals.h"

namespace tessary {
namespace {

enum class TokenKind { End, Number, Name, Plus, Minus, Star, Slash, Open, Close, Comma };

struct Token {
  TokenKind kind = TokenKind::End;
  std::size_t offset = 0;
  double number = 0;             // Number
  bool integer_literal = false;  // Number: digits only
  std::string name;              // Name, backquotes and doubled backquotes undone
  bool backquoted = false;       // Name
};

struct Function {
  std::string_view name;
  ExpressionOp op;
  std::size_t arguments;  // 0: two or more
};

constexpr std::array<Function, 9> FUNCTIONS = {{
    {"min", ExpressionOp::Min, 0},
    {"max", ExpressionOp::Max, 0},
    {"abs", ExpressionOp::Abs, 1},
    {"floor", ExpressionOp::Floor, 1},
    {"ceil", ExpressionOp::Ceil, 1},
    {"round", ExpressionOp::Round, 2},
    {"sqrt", ExpressionOp::Sqrt, 1},
    {"exp", ExpressionOp::Exp, 1},
    {"log", ExpressionOp::Log, 1},
}};

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_name_start(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool is_name_char(char c) { return is_name_start(c) || is_digit(c); }
bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n'; }

// The text between backquotes.
std::string backquoted(std::string_view text) {
  std::string quoted;
  quoted.reserve(text.size() + 2);
  quoted += '`';
  quoted += text;
  quoted += '`';
  return quoted;
}

// "`c`" for a printable ASCII character or a well-formed UTF-8 sequence at `at`, else the byte in
// hexadecimal, so that the message stays valid UTF-8.
std::string quote_character(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  std::size_t length = 0;
  if (lead >= 0x20 && lead < 0x7F) {
    length = 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
  }
  bool whole = length > 0 && at + length <= text.size();
  for (std::size_t i = 1; whole && i < length; ++i) {
    whole = (static_cast<unsigned char>(text[at + i]) & 0xC0) == 0x80;
  }
  if (whole) return backquoted(text.substr(at, length));
  constexpr std::string_view HEX = "0123456789ABCDEF";
  std::string byte = "byte 0x";
  byte += HEX[lead >> 4];
  byte += HEX[lead & 0xF];
  return byte;
}

// Reads a text into steps by recursive descent, one function per level of precedence.
class Compiler {
 public:
  Compiler(std::string_view text, const ResolveName& resolve) : text_(text), resolve_(resolve) {}

  std::variant<Expression, ExpressionError> run() {
    if (text_.size() > MAX_EXPRESSION_LENGTH) {
      return ExpressionError{MAX_EXPRESSION_LENGTH,
                             "the expression is longer than " +
                                 std::to_string(MAX_EXPRESSION_LENGTH) + " bytes"};
    }
    if (auto error = next()) return *std::move(error);
    if (token_.kind == TokenKind::End) return ExpressionError{0, "the expression is empty"};
    if (auto error = sum()) return *std::move(error);
    if (token_.kind == TokenKind::Close) {
      return ExpressionError{token_.offset, "unbalanced parentheses: `)` has no matching `(`"};
    }
    if (token_.kind != TokenKind::End) {
      return ExpressionError{token_.offset,
                             "trailing text: expected an operator or the end of the expression"};
    }
    return std::move(result_);
  }

 private:
  using Fault = std::optional<ExpressionError>;

  // Reads the token that starts at or after at_ into token_.
  Fault next() {
    while (at_ < text_.size() && is_space(text_[at_])) ++at_;
    token_.offset = at_;
    token_.name.clear();
    token_.backquoted = false;
    if (at_ == text_.size()) {
      token_.kind = TokenKind::End;
      return std::nullopt;
    }
    const char c = text_[at_];
    if (is_digit(c)) return number();
    if (is_name_start(c)) {
      const std::size_t start = at_;
      while (at_ < text_.size() && is_name_char(text_[at_])) ++at_;
      token_.kind = TokenKind::Name;
      token_.name = text_.substr(start, at_ - start);
      return std::nullopt;
    }
    if (c == '`') return backquoted_name();
    if (c == '.' && at_ + 1 < text_.size() && is_digit(text_[at_ + 1])) {
      return ExpressionError{at_, "malformed number: expected a digit before `.`"};
    }
    static constexpr std::string_view OPERATORS = "+-*/(),";
    static constexpr std::array<TokenKind, 7> KINDS = {
        TokenKind::Plus, TokenKind::Minus, TokenKind::Star,  TokenKind::Slash,
        TokenKind::Open, TokenKind::Close, TokenKind::Comma};
    const std::size_t which = OPERATORS.find(c);
    if (which == std::string_view::npos) {
      std::string message = "unexpected character " + quote_character(text_, at_);
      if (static_cast<unsigned char>(c) >= 0x80) {
        message += ": a name with characters other than A-Z, a-z, 0-9 and _ is written between "
                   "backquotes";
      }
      return ExpressionError{at_, std::move(message)};
    }
    token_.kind = KINDS[which];
    ++at_;
    return std::nullopt;
  }

  // A number by the grammar of JSON (without its sign), read as the nearest double.
  Fault number() {
    const std::size_t start = at_;
    bool integer = true;
    if (text_[at_] == '0') {
      ++at_;
      if (at_ < text_.size() && is_digit(text_[at_])) {
        return ExpressionError{at_, "malformed number: no digit may follow a leading 0"};
      }
    } else {
      while (at_ < text_.size() && is_digit(text_[at_])) ++at_;
    }
    if (at_ < text_.size() && text_[at_] == '.') {
      integer = false;
      ++at_;
      if (at_ == text_.size() || !is_digit(text_[at_])) {
        return ExpressionError{at_, "malformed number: expected a digit after `.`"};
      }
      while (at_ < text_.size() && is_digit(text_[at_])) ++at_;
    }
    if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
      integer = false;
      ++at_;
      if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
      if (at_ == text_.size() || !is_digit(text_[at_])) {
        return ExpressionError{at_, "malformed number: expected a digit of the exponent"};
      }
      while (at_ < text_.size() && is_digit(text_[at_])) ++at_;
    }
    if (at_ < text_.size() && (is_name_char(text_[at_]) || text_[at_] == '.')) {
      return ExpressionError{at_, "malformed number: " + quote_character(text_, at_) +
                                      " cannot follow its digits"};
    }
    // from_chars is correctly rounded; it reports overflow and underflow to 0 alike.
    const auto read = std::from_chars(text_.data() + start, text_.data() + at_, token_.number);
    if (read.ec != std::errc()) {
      return ExpressionError{start, "the number " + std::string(text_.substr(start, at_ - start)) +
                                        " is outside the range of a double"};
    }
    token_.kind = TokenKind::Number;
    token_.integer_literal = integer;
    return std::nullopt;
  }

  Fault backquoted_name() {
    const std::size_t start = at_++;
    for (;;) {
      if (at_ == text_.size()) {
        return ExpressionError{start,
                               "unterminated name: expected a closing ` (a backquote inside a "
                               "name is written ``)"};
      }
      if (text_[at_] == '`') {
        ++at_;
        if (at_ == text_.size() || text_[at_] != '`') break;
      }
      token_.name += text_[at_++];
    }
    token_.kind = TokenKind::Name;
    token_.backquoted = true;
    return std::nullopt;
  }

  // Appends a step that pushes a value.
  Fault push(ExpressionStep step, std::size_t offset) {
    if (depth_ == MAX_EXPRESSION_STACK) return ExpressionError{offset, TOO_DEEP};
    ++depth_;
    if (depth_ > result_.stack_depth) result_.stack_depth = depth_;
    result_.steps.push_back(step);
    return std::nullopt;
  }

  // Appends a step that takes two values and gives one.
  void combine(ExpressionOp op) {
    --depth_;
    result_.steps.push_back({op});
  }

  // Enters one more level of nesting at `offset`.
  Fault enter(std::size_t offset) {
    if (nesting_ == MAX_EXPRESSION_NESTING) return ExpressionError{offset, TOO_DEEP};
    ++nesting_;
    return std::nullopt;
  }

  Fault sum() {
    if (auto error = product()) return error;
    while (token_.kind == TokenKind::Plus || token_.kind == TokenKind::Minus) {
      const ExpressionOp op =
          token_.kind == TokenKind::Plus ? ExpressionOp::Add : ExpressionOp::Subtract;
      if (auto error = next()) return error;
      if (auto error = product()) return error;
      combine(op);
    }
    return std::nullopt;
  }

  Fault product() {
    if (auto error = unary()) return error;
    while (token_.kind == TokenKind::Star || token_.kind == TokenKind::Slash) {
      const ExpressionOp op =
          token_.kind == TokenKind::Star ? ExpressionOp::Multiply : ExpressionOp::Divide;
      if (auto error = next()) return error;
      if (auto error = unary()) return error;
      combine(op);
    }
    return std::nullopt;
  }

  Fault unary() {
    if (token_.kind != TokenKind::Minus) return primary();
    if (auto error = enter(token_.offset)) return error;
    if (auto error = next()) return error;
    if (auto error = unary()) return error;
    result_.steps.push_back({ExpressionOp::Negate});
    --nesting_;
    return std::nullopt;
  }

  Fault primary() {
    const std::size_t offset = token_.offset;
    switch (token_.kind) {
      case TokenKind::Number: {
        if (auto error = push({ExpressionOp::Constant, 0, token_.number}, offset)) return error;
        return next();
      }
      case TokenKind::Name: {
        std::string name = std::move(token_.name);
        const bool backquoted = token_.backquoted;
        if (auto error = next()) return error;
        if (!backquoted && token_.kind == TokenKind::Open) return call(name, offset);
        auto slot = resolve_(name, !backquoted && name == "id");
        if (auto* message = std::get_if<std::string>(&slot)) {
          return ExpressionError{offset, std::move(*message)};
        }
        const std::size_t s = std::get<std::size_t>(slot);
        if (std::find(result_.operands.begin(), result_.operands.end(), s) ==
            result_.operands.end()) {
          result_.operands.push_back(s);
        }
        return push({ExpressionOp::Operand, s}, offset);
      }
      case TokenKind::Open: {
        if (auto error = enter(offset)) return error;
        if (auto error = next()) return error;
        if (auto error = sum()) return error;
        if (auto error = close(offset, "`)` or an operator")) return error;
        --nesting_;
        return std::nullopt;
      }
      case TokenKind::End:
        return ExpressionError{offset, "missing operand at the end of the expression"};
      default:
        return ExpressionError{offset, "missing operand before " + quote_character(text_, offset)};
    }
  }

  // Takes the `)` that closes the `(` at `open`.
  Fault close(std::size_t open, std::string_view expected) {
    if (token_.kind == TokenKind::Close) return next();
    if (token_.kind == TokenKind::End) {
      return ExpressionError{open, "unbalanced parentheses: this `(` is never closed"};
    }
    return ExpressionError{token_.offset, "expected " + std::string(expected)};
  }

  // A call of `name`, at `offset`, whose `(` is the current token.
  Fault call(std::string_view name, std::size_t offset) {
    const Function* function = nullptr;
    for (const Function& f : FUNCTIONS) {
      if (f.name == name) function = &f;
    }
    if (function == nullptr) {
      return ExpressionError{offset, "unknown function " + backquoted(name) +
                                         " (the functions are min, max, abs, floor, ceil, "
                                         "round, sqrt, exp and log)"};
    }
    const std::size_t open = token_.offset;
    if (auto error = enter(open)) return error;
    if (auto error = next()) return error;
    std::size_t arguments = 0;
    double scale = 1;  // round's 10^n
    if (token_.kind != TokenKind::Close) {
      for (;;) {
        if (function->op == ExpressionOp::Round && arguments == 1) {
          if (auto error = decimals(scale)) return error;
        } else {
          if (auto error = sum()) return error;
          // min and max fold each argument after the first into the value so far.
          if (function->arguments == 0 && arguments >= 1) combine(function->op);
        }
        ++arguments;
        if (token_.kind != TokenKind::Comma) break;
        if (auto error = next()) return error;
      }
    }
    if (auto error = close(open, "`,`, `)` or an operator")) return error;
    --nesting_;
    if (function->arguments == 0 ? arguments < 2 : arguments != function->arguments) {
      std::string message = backquoted(name);
      message += " takes ";
      message += function->arguments == 0 ? "2 or more arguments"
                 : function->arguments == 1 ? "1 argument"
                                            : "2 arguments";
      message += ", not " + std::to_string(arguments);
      return ExpressionError{offset, std::move(message)};
    }
    if (function->arguments == 1) result_.steps.push_back({function->op});
    if (function->op == ExpressionOp::Round) {
      result_.steps.push_back({ExpressionOp::Round, 0, scale});
    }
    return std::nullopt;
  }

  // round's second argument: an integer literal from 0 to MAX_DECIMALS, as 10^n.
  Fault decimals(double& scale) {
    const std::size_t offset = token_.offset;
    const bool literal = token_.kind == TokenKind::Number && token_.integer_literal &&
                         token_.number <= static_cast<double>(MAX_DECIMALS);
    const double n = token_.number;
    if (literal) {
      if (auto error = next()) return error;
    }
    if (!literal || (token_.kind != TokenKind::Close && token_.kind != TokenKind::Comma)) {
      return ExpressionError{offset,
                             "the second argument of `round` must be an integer literal from 0 "
                             "to 15 (the number of decimals)"};
    }
    for (double d = 0; d < n; ++d) scale *= 10;  // exact: every power is below 2^53
    return std::nullopt;
  }

  static constexpr const char* TOO_DEEP = "the expression nests too deeply";

  std::string_view text_;
  const ResolveName& resolve_;
  std::size_t at_ = 0;
  Token token_;
  Expression result_;
  std::size_t depth_ = 0;    // values on the stack after the steps so far
  std::size_t nesting_ = 0;  // parentheses, calls and unary minuses open
};

}  // namespace

std::variant<Expression, ExpressionError> compile_expression(std::string_view text,
                                                             const ResolveName& resolve) {
  return Compiler(text, resolve).run();
}

double evaluate(const Expression& expression, const double* slots) {
  // The top of the stack stays in a register (`top`); `below` holds the values under it, so that
  // a push stores one value and a binary operation loads one.
  double below[MAX_EXPRESSION_STACK];
  std::size_t count = 0;  // the values in `below`
  double top = 0;         // meaningless before the first push, which stores it unread
  for (const ExpressionStep& step : expression.steps) {
    switch (step.op) {
      case ExpressionOp::Constant:
        below[count++] = top;
        top = step.number;
        break;
      case ExpressionOp::Operand:
        below[count++] = top;
        top = slots[step.slot];
        break;
      case ExpressionOp::Negate:
        top = -top;
        break;
      case ExpressionOp::Abs:
        top = std::fabs(top);
        break;
      case ExpressionOp::Floor:
        top = std::floor(top);
        break;
      case ExpressionOp::Ceil:
        top = std::ceil(top);
        break;
      case ExpressionOp::Sqrt:
        top = std::sqrt(top);
        break;
      case ExpressionOp::Exp:
        top = std::exp(top);
        break;
      case ExpressionOp::Log:
        top = std::log(top);
        break;
      case ExpressionOp::Round:
        top = round_decimals(top, DecimalScale{step.number});
        break;
      case ExpressionOp::Add:
        top = below[--count] + top;
        break;
      case ExpressionOp::Subtract:
        top = below[--count] - top;
        break;
      case ExpressionOp::Multiply:
        top = below[--count] * top;
        break;
      case ExpressionOp::Divide:
        top = below[--count] / top;
        break;
      case ExpressionOp::Min: {
        const double a = below[--count];
        top = a < top ? a : top;
        break;
      }
      case ExpressionOp::Max: {
        const double a = below[--count];
        top = a > top ? a : top;
        break;
      }
    }
  }
  return top;
}

bool expression_may_be_non_finite(const Expression& expression) {
  for (const ExpressionStep& step : expression.steps) {
    switch (step.op) {
      case ExpressionOp::Add:
      case ExpressionOp::Subtract:
      case ExpressionOp::Multiply:
      case ExpressionOp::Divide:
      case ExpressionOp::Sqrt:
      case ExpressionOp::Exp:
      case ExpressionOp::Log:
        return true;
      default:
        break;
    }
  }
  return false;
}

std::optional<std::int64_t> expression_int(double value) {
  const double rounded = std::nearbyint(value);  // ties to even in the default rounding mode
  if (!(rounded >= -0x1p63 && rounded < 0x1p63)) return std::nullopt;
  return static_cast<std::int64_t>(rounded);
}

}  // namespace tessary
