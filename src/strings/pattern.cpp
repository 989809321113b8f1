#include "strings/pattern.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <span>
#include <utility>

#include "sampling/index_pick.h"
#include "specs/utf8.h"

namespace tessary {
namespace {

constexpr std::string_view SPECIAL_CHARACTERS = "\\.[](){}|?*+^$";
constexpr std::string_view QUANTIFIER_CHARACTERS = "?*+{";
constexpr std::uint32_t PRINTABLE_FIRST = 0x20;
constexpr std::uint32_t PRINTABLE_LAST = 0x7E;
constexpr std::uint32_t SURROGATE_FIRST = 0xD800;
constexpr std::uint32_t SURROGATE_LAST = 0xDFFF;
// Byte counts saturate here, far above MAX_PATTERN_BYTES, so that nested counts cannot overflow.
constexpr std::uint64_t LENGTH_CAP = std::uint64_t{1} << 62;

bool is_one_of(char c, std::string_view set) { return set.find(c) != std::string_view::npos; }

struct CodeRange {
  std::uint32_t low, high;  // inclusive
};

constexpr std::array<CodeRange, 1> DIGITS = {{{'0', '9'}}};
constexpr std::array<CodeRange, 4> WORD = {{{'0', '9'}, {'A', 'Z'}, {'_', '_'}, {'a', 'z'}}};
constexpr std::array<CodeRange, 2> SPACE = {{{'\t', '\t'}, {' ', ' '}}};
constexpr std::array<CodeRange, 1> PRINTABLE = {{{PRINTABLE_FIRST, PRINTABLE_LAST}}};

std::size_t utf8_width(std::uint32_t code_point) {
  return code_point < 0x80 ? 1 : code_point < 0x800 ? 2 : code_point < 0x10000 ? 3 : 4;
}

// Writes the UTF-8 form of a code point (not a surrogate, at most U+10FFFF) at out.
char* put_utf8(std::uint32_t code_point, char* out) {
  if (code_point < 0x80) {
    *out++ = static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    *out++ = static_cast<char>(0xC0 | (code_point >> 6));
    *out++ = static_cast<char>(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (code_point >> 12));
    *out++ = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (code_point >> 18));
    *out++ = static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (code_point & 0x3F));
  }
  return out;
}

std::uint64_t add_capped(std::uint64_t a, std::uint64_t b) { return std::min(a + b, LENGTH_CAP); }
std::uint64_t multiply_capped(std::uint64_t a, std::uint64_t b) {
  if (a != 0 && b > LENGTH_CAP / a) return LENGTH_CAP;
  return std::min(a * b, LENGTH_CAP);
}

// The parsed pattern, before it is flattened into steps. A literal node holds one character, so
// that every node has its own offset in the text.
struct Node {
  enum class Kind : std::uint8_t { Literal, Class, Sequence, Alternation, Repeat };
  Kind kind = Kind::Sequence;
  std::size_t offset = 0;             // where the node starts in the text
  std::size_t quantifier_offset = 0;  // Repeat: where its quantifier starts
  std::string bytes;                  // Literal: the character's UTF-8 bytes
  std::uint32_t class_index = 0;      // Class
  std::uint32_t min = 1, max = 1;     // Repeat
  std::vector<Node> children;         // Sequence, Alternation: the items; Repeat: the body
  // Derived, bottom-up: bytes of the shortest and longest match (capped at LENGTH_CAP), whether
  // every match is ASCII, and whether the node draws from the generator.
  std::uint64_t shortest = 0, longest = 0;
  bool ascii = true;
  bool draws = false;
};

class Parser {
 public:
  Parser(std::string_view text, Pattern& pattern) : text_(text), pattern_(pattern) {}

  std::optional<Node> parse() {
    std::optional<Node> root = parse_alternation(0);
    if (!root) return std::nullopt;
    if (pos_ < text_.size()) {  // parse_alternation stops early only at a `)`
      return fail(pos_, "unmatched ): write \\) for a parenthesis");
    }
    return root;
  }

  PatternError& error() { return error_; }

 private:
  std::nullopt_t fail(std::size_t offset, std::string message) {
    error_ = PatternError{offset, std::move(message)};
    return std::nullopt;
  }

  bool at_end() const { return pos_ >= text_.size(); }
  char peek() const { return text_[pos_]; }

  // The code point that starts at pos_, which it passes; an error if the bytes are not UTF-8.
  std::optional<std::uint32_t> read_code_point() {
    const std::size_t length = utf8_sequence_length(text_.substr(pos_));
    if (length == 0) return fail(pos_, "the pattern is not valid UTF-8 here");
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text_[pos_ + i]); };
    std::uint32_t code_point = length == 1   ? byte(0)
                               : length == 2 ? byte(0) & 0x1Fu
                               : length == 3 ? byte(0) & 0x0Fu
                                             : byte(0) & 0x07u;
    for (std::size_t i = 1; i < length; ++i) code_point = (code_point << 6) | (byte(i) & 0x3Fu);
    pos_ += length;
    return code_point;
  }

  // What an escape stands for: one code point, or a set (\d, \w, \s).
  struct Escape {
    std::uint32_t code_point = 0;
    std::span<const CodeRange> set;  // empty for a code point
  };

  // Reads the escape whose `\` is at pos_.
  std::optional<Escape> read_escape(bool in_class) {
    const std::size_t backslash = pos_;
    ++pos_;
    if (at_end()) {
      return fail(backslash, "the pattern ends inside an escape: write \\\\ for a backslash");
    }
    const char c = peek();
    if (is_one_of(c, SPECIAL_CHARACTERS) || (in_class && c == '-')) {
      ++pos_;
      return Escape{static_cast<std::uint8_t>(c), {}};
    }
    switch (c) {
      case 'n': ++pos_; return Escape{'\n', {}};
      case 't': ++pos_; return Escape{'\t', {}};
      case 'd': ++pos_; return Escape{0, DIGITS};
      case 'w': ++pos_; return Escape{0, WORD};
      case 's': ++pos_; return Escape{0, SPACE};
      case 'b':
      case 'B':
        return fail(pos_, "word boundaries (\\b, \\B) are not supported: a pattern always matches "
                          "whole, drop them");
      default:
        break;
    }
    if (c >= '1' && c <= '9') {
      return fail(pos_, "back-references are not supported: write the group's pattern again");
    }
    const std::size_t at = pos_;
    if (!read_code_point()) return std::nullopt;
    std::string message = "\\";
    message += text_.substr(at, pos_ - at);
    message += " is not an escape: write the character alone (escapes are \\n, \\t, \\d, \\w, \\s";
    message += in_class ? ", \\- and \\ before a special character)"
                        : " and \\ before a special character)";
    return fail(at, std::move(message));
  }

  // Adds a class of these members to the pattern; the node that draws from it.
  std::optional<Node> class_node(std::vector<CodeRange> ranges, bool complement,
                                 std::size_t offset) {
    std::sort(ranges.begin(), ranges.end(),
              [](const CodeRange& x, const CodeRange& y) { return x.low < y.low; });
    std::vector<CodeRange> members;
    for (const CodeRange& range : ranges) {
      if (!members.empty() && range.low <= members.back().high + 1) {
        members.back().high = std::max(members.back().high, range.high);
      } else {
        members.push_back(range);
      }
    }
    if (complement) {
      std::vector<CodeRange> rest;
      std::uint32_t next = PRINTABLE_FIRST;
      for (const CodeRange& range : members) {
        if (range.high < next) continue;
        if (range.low > PRINTABLE_LAST) break;
        if (range.low > next) rest.push_back({next, range.low - 1});
        next = range.high + 1;
      }
      if (next <= PRINTABLE_LAST) rest.push_back({next, PRINTABLE_LAST});
      members = std::move(rest);
    }
    // UTF-8 has no form for the surrogates: a range across them skips them.
    std::vector<CodeRange> encodable;
    for (const CodeRange& range : members) {
      if (range.high < SURROGATE_FIRST || range.low > SURROGATE_LAST) {
        encodable.push_back(range);
        continue;
      }
      if (range.low < SURROGATE_FIRST) encodable.push_back({range.low, SURROGATE_FIRST - 1});
      if (range.high > SURROGATE_LAST) encodable.push_back({SURROGATE_LAST + 1, range.high});
    }
    if (encodable.empty()) {
      return fail(offset, "the class holds no character: a class with ^ keeps the printable "
                          "ASCII characters (space to ~) that it does not list");
    }

    PatternClass added;
    added.first = static_cast<std::uint32_t>(encodable.back().high < 0x80
                                                 ? pattern_.class_bytes.size()
                                                 : pattern_.class_runs.size());
    for (const CodeRange& range : encodable) {
      if (encodable.back().high < 0x80) {
        for (std::uint32_t c = range.low; c <= range.high; ++c) {
          pattern_.class_bytes.push_back(static_cast<char>(c));
        }
      } else {
        pattern_.class_runs.push_back({added.count, range.low});
        ++added.run_count;
      }
      added.count += range.high - range.low + 1;
    }
    Node node;
    node.kind = Node::Kind::Class;
    node.offset = offset;
    node.class_index = static_cast<std::uint32_t>(pattern_.classes.size());
    node.shortest = utf8_width(encodable.front().low);
    node.longest = utf8_width(encodable.back().high);
    node.ascii = encodable.back().high < 0x80;
    node.draws = true;
    pattern_.classes.push_back(added);
    return node;
  }

  // The class whose `[` is at pos_.
  std::optional<Node> parse_class() {
    const std::size_t open = pos_;
    ++pos_;
    bool complement = false;
    if (!at_end() && peek() == '^') {
      complement = true;
      ++pos_;
    }
    if (!at_end() && peek() == ']') {
      return fail(pos_, "empty class: write \\] for a bracket in a class");
    }
    std::vector<CodeRange> ranges;
    for (;;) {
      if (at_end()) return fail(open, "unclosed class: end it with ]");
      if (peek() == ']') {
        ++pos_;
        break;
      }
      const std::size_t start = pos_;
      std::optional<Escape> member = read_member();
      if (!member) return std::nullopt;
      const bool range_follows = pos_ + 1 < text_.size() && peek() == '-' && text_[pos_ + 1] != ']';
      if (!member->set.empty()) {
        if (range_follows) {
          return fail(pos_, "a range needs one character at each end: write \\- for a hyphen");
        }
        ranges.insert(ranges.end(), member->set.begin(), member->set.end());
        continue;
      }
      if (!range_follows) {
        ranges.push_back({member->code_point, member->code_point});
        continue;
      }
      ++pos_;  // the `-`
      const std::size_t end_offset = pos_;
      std::optional<Escape> end = read_member();
      if (!end) return std::nullopt;
      if (!end->set.empty()) {
        return fail(end_offset + 1,
                    "a range needs one character at each end: write \\- for a hyphen");
      }
      if (end->code_point < member->code_point) {
        std::string message = "range out of order: write ";
        message += text_.substr(end_offset, pos_ - end_offset);
        message += '-';
        message += text_.substr(start, end_offset - 1 - start);
        return fail(start, std::move(message));
      }
      ranges.push_back({member->code_point, end->code_point});
    }
    return class_node(std::move(ranges), complement, open);
  }

  // A class member at pos_: an escape or one code point.
  std::optional<Escape> read_member() {
    if (peek() == '\\') return read_escape(true);
    const std::optional<std::uint32_t> code_point = read_code_point();
    if (!code_point) return std::nullopt;
    return Escape{*code_point, {}};
  }

  // A count of a quantifier at pos_, which must start with a digit.
  std::optional<std::uint32_t> read_count(std::size_t open) {
    if (at_end()) return fail(open, "unclosed {: write {n} or {m,n}");
    if (peek() < '0' || peek() > '9') {
      return fail(pos_, "expected a count: write {n} or {m,n}, or \\{ for a brace");
    }
    const std::size_t start = pos_;
    std::uint64_t value = 0;
    while (!at_end() && peek() >= '0' && peek() <= '9') {
      value = std::min<std::uint64_t>(value * 10 + static_cast<std::uint64_t>(peek() - '0'),
                                      std::uint64_t{MAX_PATTERN_COUNT} + 1);
      ++pos_;
    }
    if (value > MAX_PATTERN_COUNT) {
      return fail(start, "count " + std::string(text_.substr(start, pos_ - start)) +
                             " is above " + std::to_string(MAX_PATTERN_COUNT) +
                             ": write a smaller count");
    }
    return static_cast<std::uint32_t>(value);
  }

  // Wraps `atom` in the quantifier at pos_.
  std::optional<Node> parse_quantifier(Node atom) {
    Node repeat;
    repeat.kind = Node::Kind::Repeat;
    repeat.offset = atom.offset;
    repeat.quantifier_offset = pos_;
    const char c = peek();
    if (c == '*') return fail(pos_, "* repeats without bound: write {0,n}");
    if (c == '+') return fail(pos_, "+ repeats without bound: write {1,n}");
    if (c == '?') {
      repeat.min = 0;
      ++pos_;
    } else {
      const std::size_t open = pos_;
      ++pos_;
      const std::size_t min_offset = pos_;
      const std::optional<std::uint32_t> min = read_count(open);
      if (!min) return std::nullopt;
      repeat.min = repeat.max = *min;
      if (!at_end() && peek() == ',') {
        ++pos_;
        if (!at_end() && peek() == '}') {
          return fail(pos_, "{m,} repeats without bound: write {m,n}");
        }
        const std::optional<std::uint32_t> max = read_count(open);
        if (!max) return std::nullopt;
        if (*max < *min) {
          return fail(min_offset, "{m,n} with m above n: write the smaller count first");
        }
        repeat.max = *max;
      }
      if (at_end()) return fail(open, "unclosed {: write {n} or {m,n}");
      if (peek() != '}') return fail(pos_, "expected } to close {n} or {m,n}");
      ++pos_;
    }
    if (!at_end() && is_one_of(peek(), QUANTIFIER_CHARACTERS)) {
      return fail(pos_, "quantifier after a quantifier: to repeat a repeated item, group it, as "
                        "in (a{2}){3}");
    }
    repeat.children.push_back(std::move(atom));
    return repeat;
  }

  std::optional<Node> literal_node(std::uint32_t code_point, std::size_t offset) {
    Node node;
    node.kind = Node::Kind::Literal;
    node.offset = offset;
    char bytes[4];
    node.bytes.assign(bytes, put_utf8(code_point, bytes));
    return node;
  }

  // One literal, class, `.`, escape or group at pos_.
  std::optional<Node> parse_atom(std::size_t depth) {
    const std::size_t start = pos_;
    const char c = peek();
    switch (c) {
      case '(': {
        if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '?') {
          return fail(pos_ + 1, "groups take no flags or names: write (...) for a group");
        }
        if (depth + 1 > MAX_PATTERN_DEPTH) {
          return fail(pos_, "groups nested deeper than " + std::to_string(MAX_PATTERN_DEPTH) +
                                ": write a flatter pattern");
        }
        ++pos_;
        std::optional<Node> inner = parse_alternation(depth + 1);
        if (!inner) return std::nullopt;
        if (at_end()) return fail(start, "unclosed group: close it with )");
        ++pos_;  // the `)`
        inner->offset = start;
        return inner;
      }
      case '[':
        return parse_class();
      case '.':
        ++pos_;
        return class_node({PRINTABLE.begin(), PRINTABLE.end()}, false, start);
      case '\\': {
        const std::optional<Escape> escape = read_escape(false);
        if (!escape) return std::nullopt;
        if (!escape->set.empty()) {
          return class_node({escape->set.begin(), escape->set.end()}, false, start);
        }
        return literal_node(escape->code_point, start);
      }
      case ']':
        return fail(pos_, "unmatched ]: write \\] for a bracket");
      case '}':
        return fail(pos_, "unmatched }: write \\} for a brace");
      case '^':
      case '$':
        return fail(pos_, "a pattern always matches whole: drop the anchor, or write \\" +
                              std::string(1, c) + " for the character");
      case '?':
      case '*':
      case '+':
      case '{':
        return fail(pos_, "nothing to repeat: a quantifier follows a literal, class, ., escape or "
                          "group; write \\" + std::string(1, c) + " for the character");
      default: {
        const std::optional<std::uint32_t> code_point = read_code_point();
        if (!code_point) return std::nullopt;
        return literal_node(*code_point, start);
      }
    }
  }

  // Items up to the end, a `|` or a `)`.
  std::optional<Node> parse_sequence(std::size_t depth) {
    Node sequence;
    sequence.kind = Node::Kind::Sequence;
    sequence.offset = pos_;
    while (!at_end() && peek() != '|' && peek() != ')') {
      std::optional<Node> item = parse_atom(depth);
      if (!item) return std::nullopt;
      if (!at_end() && is_one_of(peek(), QUANTIFIER_CHARACTERS)) {
        item = parse_quantifier(*std::move(item));
        if (!item) return std::nullopt;
      }
      sequence.children.push_back(*std::move(item));
    }
    if (sequence.children.size() == 1) return std::move(sequence.children.front());
    return sequence;
  }

  // Branches separated by `|`, up to the end or a `)`.
  std::optional<Node> parse_alternation(std::size_t depth) {
    Node alternation;
    alternation.kind = Node::Kind::Alternation;
    alternation.offset = pos_;
    for (;;) {
      std::optional<Node> branch = parse_sequence(depth);
      if (!branch) return std::nullopt;
      alternation.children.push_back(*std::move(branch));
      if (at_end() || peek() != '|') break;
      ++pos_;
    }
    if (alternation.children.size() == 1) return std::move(alternation.children.front());
    return alternation;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  Pattern& pattern_;
  PatternError error_;
};

// Works out the derived fields of a node and its children.
void derive(Node& node) {
  for (Node& child : node.children) derive(child);
  switch (node.kind) {
    case Node::Kind::Literal:
      node.shortest = node.longest = node.bytes.size();
      node.ascii = static_cast<std::uint8_t>(node.bytes[0]) < 0x80;
      break;
    case Node::Kind::Class:
      break;  // set by the parser
    case Node::Kind::Sequence:
      node.ascii = true;
      for (const Node& child : node.children) {
        node.shortest = add_capped(node.shortest, child.shortest);
        node.longest = add_capped(node.longest, child.longest);
        node.ascii = node.ascii && child.ascii;
        node.draws = node.draws || child.draws;
      }
      break;
    case Node::Kind::Alternation:
      node.shortest = LENGTH_CAP;
      for (const Node& child : node.children) {
        node.shortest = std::min(node.shortest, child.shortest);
        node.longest = std::max(node.longest, child.longest);
        node.ascii = node.ascii && child.ascii;
      }
      node.draws = true;
      break;
    case Node::Kind::Repeat: {
      const Node& body = node.children.front();
      node.shortest = multiply_capped(body.shortest, node.min);
      node.longest = multiply_capped(body.longest, node.max);
      node.ascii = node.max == 0 || body.ascii;
      node.draws = node.min < node.max || (node.max > 0 && body.draws);
      break;
    }
  }
}

// Where a node whose longest match is above MAX_PATTERN_BYTES goes over: the offset of the item
// of a sequence that takes the running length past it, or of the quantifier that does.
std::size_t excess_offset(const Node& node) {
  switch (node.kind) {
    case Node::Kind::Sequence: {
      std::uint64_t length = 0;
      for (const Node& child : node.children) {
        length = add_capped(length, child.longest);
        if (length > MAX_PATTERN_BYTES) {
          return child.longest > MAX_PATTERN_BYTES ? excess_offset(child) : child.offset;
        }
      }
      break;
    }
    case Node::Kind::Alternation:
      for (const Node& child : node.children) {
        if (child.longest > MAX_PATTERN_BYTES) return excess_offset(child);
      }
      break;
    case Node::Kind::Repeat:
      if (node.children.front().longest > MAX_PATTERN_BYTES) {
        return excess_offset(node.children.front());
      }
      return node.quantifier_offset;
    default:
      break;
  }
  return node.offset;
}

constexpr std::size_t NO_STEP = ~std::size_t{0};
// Bytes past the end of the literal pool and of a match, so that short literals can be copied
// whole in fixed-size blocks.
constexpr std::size_t LITERAL_SLACK = 16;

// The literal pool may hold this many bytes of the text of parts that draw nothing. Unrolled,
// such text can be thousands of times the pattern's length ((a{9999}|b{9999}|...)); past the
// budget a repeat stays a loop.
constexpr std::size_t UNROLL_BUDGET = std::size_t{1} << 20;

// Flattens the tree into steps. Parts that draw nothing become literal bytes while the pool is
// within UNROLL_BUDGET; consecutive literal bytes become one step, except across a point that a
// jump lands on.
class Emitter {
 public:
  explicit Emitter(Pattern& pattern) : pattern_(pattern) {}

  void emit(const Node& node) {
    if (!node.draws && (node.kind == Node::Kind::Literal ||
                        pattern_.literals.size() + node.longest <= UNROLL_BUDGET)) {
      const std::size_t before = pattern_.literals.size();
      fixed_text(node, pattern_.literals);
      add_literal(before);
      return;
    }
    switch (node.kind) {
      case Node::Kind::Class:
        push({PatternOp::Class, node.class_index});
        break;
      case Node::Kind::Sequence:
        for (const Node& child : node.children) emit(child);
        break;
      case Node::Kind::Alternation: {
        const auto count = static_cast<std::uint32_t>(node.children.size());
        const auto table = static_cast<std::uint32_t>(pattern_.branch_starts.size());
        push({PatternOp::Alternation, count, table});
        pattern_.branch_starts.resize(table + count);
        std::vector<std::size_t> jumps;
        for (std::uint32_t i = 0; i < count; ++i) {
          pattern_.branch_starts[table + i] = here();
          emit(node.children[i]);
          if (i + 1 < count) jumps.push_back(push({PatternOp::Jump}));
        }
        for (std::size_t jump : jumps) pattern_.steps[jump].a = here();
        break;
      }
      case Node::Kind::Repeat: {
        const Node& body = node.children.front();
        if (node.min == 1 && node.max == 1) {
          emit(body);
        } else if (body.kind == Node::Kind::Class) {
          push({PatternOp::ClassRepeat, body.class_index, node.min, node.max});
        } else {
          const std::size_t start = push({PatternOp::RepeatStart, node.min, node.max});
          here();  // the body's first step is a jump target
          emit(body);
          const std::size_t end =
              push({PatternOp::RepeatEnd, static_cast<std::uint32_t>(start + 1)});
          pattern_.steps[start].c = static_cast<std::uint32_t>(end);
          here();
        }
        break;
      }
      case Node::Kind::Literal:
        break;  // taken above, whatever the budget
    }
  }

 private:
  // The text of a node that draws nothing.
  static void fixed_text(const Node& node, std::string& out) {
    switch (node.kind) {
      case Node::Kind::Literal:
        out += node.bytes;
        break;
      case Node::Kind::Sequence:
        for (const Node& child : node.children) fixed_text(child, out);
        break;
      case Node::Kind::Repeat:
        for (std::uint32_t i = 0; i < node.max; ++i) fixed_text(node.children.front(), out);
        break;
      default:
        break;  // classes and alternations draw
    }
  }

  // Makes the literal bytes from `first` to the end of the pool a step, or part of the last.
  void add_literal(std::size_t first) {
    const auto count = static_cast<std::uint32_t>(pattern_.literals.size() - first);
    if (count == 0) return;
    if (open_literal_ != NO_STEP) {
      pattern_.steps[open_literal_].b += count;
      return;
    }
    open_literal_ = push({PatternOp::Literal, static_cast<std::uint32_t>(first), count});
  }

  std::size_t push(PatternStep step) {
    pattern_.steps.push_back(step);
    open_literal_ = NO_STEP;
    return pattern_.steps.size() - 1;
  }

  // The index of the next step, as a jump target: no literal may grow across it.
  std::uint32_t here() {
    open_literal_ = NO_STEP;
    return static_cast<std::uint32_t>(pattern_.steps.size());
  }

  Pattern& pattern_;
  std::size_t open_literal_ = NO_STEP;
};

// Writes member `index` of a class at out.
inline char* put_member(const Pattern& pattern, const PatternClass& cls, std::uint32_t index,
                        char* out) {
  if (cls.run_count == 0) {
    *out = pattern.class_bytes[cls.first + index];
    return out + 1;
  }
  const PatternRun* runs = pattern.class_runs.data() + cls.first;
  // The last run that starts at or before the index.
  const PatternRun* run =
      std::upper_bound(runs, runs + cls.run_count, index,
                       [](std::uint32_t i, const PatternRun& r) { return i < r.first_member; }) -
      1;
  return put_utf8(run->first_code_point + (index - run->first_member), out);
}

inline std::uint32_t draw_count(std::uint32_t min, std::uint32_t max, Xoshiro256PlusPlus& rng) {
  if (min == max) return min;
  return min + static_cast<std::uint32_t>(uniform_index(max - min + 1, rng));
}

}  // namespace

std::variant<Pattern, PatternError> compile_pattern(std::string_view text) {
  Pattern pattern;
  Parser parser(text, pattern);
  std::optional<Node> root = parser.parse();
  if (!root) return std::move(parser.error());
  derive(*root);
  if (root->longest > MAX_PATTERN_BYTES) {
    const std::string length = root->longest >= LENGTH_CAP ? "more than 2^62"
                                                            : std::to_string(root->longest);
    return PatternError{excess_offset(*root),
                        "the longest match is " + length + " bytes, above 64 KiB: write " +
                            "smaller counts"};
  }
  Emitter(pattern).emit(*root);
  pattern.literals.append(LITERAL_SLACK, '\0');
  pattern.shortest = root->shortest;
  pattern.longest = root->longest;
  pattern.ascii = root->ascii;
  return pattern;
}

void draw_pattern(const Pattern& pattern, Xoshiro256PlusPlus& rng, OutputBuffer& out) {
  out.reserve(pattern.longest + LITERAL_SLACK);
  char* const begin = out.tail();
  char* end = begin;
  // Repetitions left of each RepeatStart open. Repeats nest only through groups, so at most one
  // per group level and one more for the outermost.
  std::array<std::uint32_t, MAX_PATTERN_DEPTH + 1> left;
  std::size_t open = 0;
  const PatternStep* const steps = pattern.steps.data();
  const std::size_t step_count = pattern.steps.size();
  std::size_t at = 0;
  while (at < step_count) {
    const PatternStep& step = steps[at];
    switch (step.op) {
      case PatternOp::Literal:
        // A short literal goes as one fixed-size copy (the pool and the buffer have the room);
        // a call to copy a few bytes would cost more than the rest of the step.
        if (step.b <= LITERAL_SLACK) {
          std::memcpy(end, pattern.literals.data() + step.a, LITERAL_SLACK);
        } else {
          std::memcpy(end, pattern.literals.data() + step.a, step.b);
        }
        end += step.b;
        ++at;
        break;
      case PatternOp::Class: {
        const PatternClass& cls = pattern.classes[step.a];
        end = put_member(pattern, cls, static_cast<std::uint32_t>(uniform_index(cls.count, rng)),
                         end);
        ++at;
        break;
      }
      case PatternOp::ClassRepeat: {
        const PatternClass& cls = pattern.classes[step.a];
        const std::uint32_t count = draw_count(step.b, step.c, rng);
        if (cls.run_count == 0) {  // ASCII: one byte per member
          const char* const bytes = pattern.class_bytes.data() + cls.first;
          for (std::uint32_t i = 0; i < count; ++i) *end++ = bytes[uniform_index(cls.count, rng)];
        } else {
          for (std::uint32_t i = 0; i < count; ++i) {
            end = put_member(pattern, cls,
                             static_cast<std::uint32_t>(uniform_index(cls.count, rng)), end);
          }
        }
        ++at;
        break;
      }
      case PatternOp::Alternation:
        at = pattern.branch_starts[step.b + uniform_index(step.a, rng)];
        break;
      case PatternOp::Jump:
        at = step.a;
        break;
      case PatternOp::RepeatStart: {
        const std::uint32_t count = draw_count(step.a, step.b, rng);
        if (count == 0) {
          at = step.c + 1;
        } else {
          left[open++] = count;
          ++at;
        }
        break;
      }
      case PatternOp::RepeatEnd:
        if (--left[open - 1] > 0) {
          at = step.a;
        } else {
          --open;
          ++at;
        }
        break;
    }
  }
  out.advance(static_cast<std::size_t>(end - begin));
}

}  // namespace tessary
