// Patterns: a small regular-expression language, compiled once and drawn from per entity to give
// a random string that the pattern matches whole.
//
// Syntax. The text is UTF-8; the special characters are  \ . [ ] ( ) { } | ? * + ^ $  and every
// other code point is a literal.
//   \x        x a special character: x itself. \n newline, \t tab. Any other character after `\`
//             is an error.
//   \d \w \s  the ASCII digits; ASCII letters, digits and `_`; space and tab.
//   .         printable ASCII, 0x20 to 0x7E.
//   [...]     a class: code points, ranges a-z (by code point, any plane), \d \w \s and the
//             escapes above, `\-` a hyphen. A `-` first or last is a hyphen; a leading `^`
//             complements the class within printable ASCII. Every other character, special ones
//             included, stands for itself inside a class. Members are a set: [aa] is [a].
//   (...)     a group; `|` separates alternatives, at the top level or in a group; an empty
//             alternative gives the empty string.
//   ? {n} {m,n}   after a literal, class, `.`, escape or group: 0 or 1, exactly n, m to n times;
//             counts are at most MAX_PATTERN_COUNT.
// Refused: `*`, `+` and {m,} (no bound), anchors ^ and $ (a pattern always matches whole),
// (?...) groups, \b and \B, back-references \1..\9, a quantifier after a quantifier (lazy forms
// included) or with nothing before it, groups nested deeper than MAX_PATTERN_DEPTH, and a pattern
// whose longest match exceeds MAX_PATTERN_BYTES bytes.
//
// Draws: one per choice made, in text order, depth first:
//   - a class, `.`, \d, \w or \s draws one member: uniform_index(member count), even when the
//     class has a single member (so the steps a pattern takes do not depend on what its classes
//     hold). Member k is the class's k-th smallest code point; code points D800-DFFF, which UTF-8
//     cannot encode, are never members;
//   - a quantified item whose counts m < n differ draws its count first: m + uniform_index(n - m
//     + 1); then each repetition draws in turn. {n} (and {m,m}) draws no count;
//   - an alternation of k branches draws its branch: uniform_index(k); then the branch draws;
//   - literals and groups draw nothing.
// uniform_index takes one step, or two on a correction (sampling/index_pick.h). These rules are
// part of the output contract: changing them changes every value drawn after a pattern.
//
// Errors are values: the byte offset of the faulty character in the pattern text (of a bracket,
// brace or parenthesis left open, of the character after `\` in a bad escape) and a message that
// says what to write instead.
//
// A compiled Pattern is immutable; any number of threads may draw from it at once. compile_pattern
// allocates; draw_pattern allocates nothing beyond the growth of the buffer it appends to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "output/output_buffer.h"
#include "random/xoshiro.h"

namespace tessary {

inline constexpr std::uint32_t MAX_PATTERN_COUNT = 65535;     // the largest n in {n} and {m,n}
inline constexpr std::size_t MAX_PATTERN_BYTES = 65536;       // the longest match allowed
inline constexpr std::size_t MAX_PATTERN_DEPTH = 100;         // groups nested at most this deep

struct [[nodiscard]] PatternError {
  std::size_t offset = 0;  // byte index in the pattern text of the faulty character
  std::string message;
};

// One step of a compiled pattern. Operands by op:
//   Literal      a: offset in `literals`, b: byte count
//   Class        a: class index
//   ClassRepeat  a: class index, b: m, c: n (a class quantified m to n times)
//   Alternation  a: branch count, b: offset in `branch_starts` of the branches' first steps
//   Jump         a: the step to go on at
//   RepeatStart  a: m, b: n, c: the index of its RepeatEnd
//   RepeatEnd    a: the index of the repeated body's first step
enum class PatternOp : std::uint8_t {
  Literal, Class, ClassRepeat, Alternation, Jump, RepeatStart, RepeatEnd
};

struct PatternStep {
  PatternOp op;
  std::uint32_t a = 0, b = 0, c = 0;
};

// A class: its members by ascending code point. An ASCII class keeps them as `count` bytes of
// `class_bytes` from `first`; any other as the runs of `class_runs` from `first` to `first +
// run_count`, each a stretch of consecutive code points.
struct PatternClass {
  std::uint32_t count = 0;
  std::uint32_t first = 0;
  std::uint32_t run_count = 0;  // 0 for an ASCII class
};

struct PatternRun {
  std::uint32_t first_member;  // index of the run's first code point among the class's members
  std::uint32_t first_code_point;
};

// A compiled pattern, a flat program drawn step by step. The default pattern matches only the
// empty string.
struct Pattern {
  std::vector<PatternStep> steps;
  std::string literals;
  std::vector<PatternClass> classes;
  std::string class_bytes;
  std::vector<PatternRun> class_runs;
  std::vector<std::uint32_t> branch_starts;
  std::size_t shortest = 0;      // bytes of the shortest and longest match
  std::size_t longest = 0;
  bool ascii = true;             // every match is ASCII
};

// The compiled pattern, or the first error in text order. Nothing throws but std::bad_alloc.
std::variant<Pattern, PatternError> compile_pattern(std::string_view text);

// The UTF-8 length in bytes of the shortest and longest match, and whether every match is ASCII.
// Exact bounds: some match has each length.
inline std::size_t pattern_shortest(const Pattern& pattern) { return pattern.shortest; }
inline std::size_t pattern_longest(const Pattern& pattern) { return pattern.longest; }
inline bool pattern_is_ascii(const Pattern& pattern) { return pattern.ascii; }

// Appends one match, UTF-8, to out, drawing from rng by the rules above. Reserves
// pattern_longest(pattern) + 16 bytes in out first (short literals are copied in blocks of 16).
void draw_pattern(const Pattern& pattern, Xoshiro256PlusPlus& rng, OutputBuffer& out);

}  // namespace tessary
