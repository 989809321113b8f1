// JsonReader: a strict JSON reader that works on the UTF-8 bytes of one document in one forward
// pass, looking at most one byte ahead and never going back.
//
// The attribute spec document reader drives it token by token (next_element, next_key, read_colon,
// ...) and lets it read whole member values into BufferedValues. The grammar is the strict one of
// RFC 8259: no comments, no trailing commas, no byte-order mark, whitespace only space, tab, line
// feed and carriage return. Numbers are converted by the fixed, deliberately not correctly rounded
// steps in json_reader.cpp, because the parsed parameters decide every sampled value.
//
// Failure: every operation that can fail returns false (or Step::Failed) after recording one
// error; the caller stops and takes it with take_error(). After a failure only finish_object and
// take_error may be called. Nothing throws except std::bad_alloc. Any byte string is safe input:
// reads stay in bounds and nesting is limited, so recursion is bounded.
//
// The text must outlive the reader and every BufferedValue read from it (strings without escapes
// are views into it). A reader is used by one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "specs/buffered_value.h"
#include "specs/read_error.h"

namespace tessary {

// A string as read: a view into the document when it had no escapes (stable), else a view into the
// reader's scratch buffer (valid only until the next string is read).
struct StringRead {
  std::string_view text;
  bool in_document = true;
};

// Keeps a string read: a view when it lies in the document, else an owned copy.
BufferedValue keep_string(const StringRead& string);

class JsonReader {
 public:
  static constexpr int END = -1;  // what peek() gives at the end of the text

  // A new document: nothing consumed, 127 levels of nesting available.
  explicit JsonReader(std::string_view text);
  // A value inside a document, read again from its first byte at index `start` (a value whose
  // syntax an earlier pass has read): positions stay those of the whole text.
  JsonReader(std::string_view text, std::size_t start) : text_(text), index_(start) {}

  // Outcome of a step through an array or object.
  enum class Step : std::uint8_t { Item, End, Failed };

  // The whole text being read.
  std::string_view text() const { return text_; }

  // The count of bytes consumed so far: the index of the next byte.
  std::size_t offset() const { return index_; }

  // The next byte (0 to 255), or END.
  int peek() const {
    return index_ < text_.size() ? static_cast<std::uint8_t>(text_[index_]) : END;
  }
  // Skips space, tab, line feed and carriage return, then peeks.
  int peek_after_whitespace() {
    const int next = peek();
    if (next > ' ') return next;  // the common case: no whitespace at all
    skip_whitespace();
    return peek();
  }
  // Skips whitespace and peeks; at the end of the text fails with "EOF while parsing a value".
  int peek_value();
  // Skips whitespace and checks that the next value begins with `first` ('"', '[' or '{'):
  // otherwise fails as peek_value does at the end of the text, or as report_unexpected(expected).
  [[nodiscard]] bool expect_value(char first, std::string_view expected);

  // Takes one level of nesting and consumes the "[" or "{" that is next; with no level left fails
  // with "recursion limit exceeded" and leaves the bracket.
  [[nodiscard]] bool open_bracket();
  // Consumes the "]" or "}" at which next_element or next_key gave Step::End and gives the level
  // back.
  void close_bracket();
  // Ends an object whose member loop stopped, at its "}" or early at an error: skips whitespace,
  // consumes a "}" if one is next (anything else is left, and what it would be is not reported:
  // the first error stands) and gives the level back. An error without a position (see fail)
  // takes the index reached here.
  void finish_object();

  // After "[" (first) or after an element: Item when an element follows (whitespace skipped, its
  // first byte next), End at "]" (not consumed).
  Step next_element(bool first);
  // After "{" (first) or after a member: Item when a key follows, with the key read into key;
  // End at "}" (not consumed).
  Step next_key(bool first, StringRead& key);
  // Skips whitespace and consumes ":".
  [[nodiscard]] bool read_colon();

  // Requires peek() == '"'. Reads the string up to its closing quote, escapes resolved.
  [[nodiscard]] bool read_string(StringRead& out);
  // Skips whitespace and reads one whole value, nested to any depth the nesting limit allows.
  // Arrays and objects inside it are built as JsonValues.
  [[nodiscard]] bool read_value(BufferedValue& out);

  // For a value of the wrong kind at the next byte (whitespace skipped by the caller): reads it if
  // it is a scalar (its own syntax errors win) and fails with "invalid type: {value}, expected
  // {expected}" at the index reached. "[" and "{" are named without being consumed. Any other
  // byte fails with "expected value". Always returns false.
  bool report_unexpected(std::string_view expected);

  // Skips whitespace; anything left fails with "trailing characters".
  [[nodiscard]] bool end_document();

  // Records an error of value interpretation, which has no position until finish_object gives it
  // one. Always returns false.
  bool fail(std::string message);

  // Records an error at byte index `index` of the text (an index reached earlier). Always returns
  // false.
  bool fail_at_offset(std::size_t index, std::string message) {
    return fail_at(index, std::move(message));
  }

  // Records an error at the byte `at` of the text (its column is that byte's, counted from 1).
  // Requires: `at` points into the text. Always returns false.
  bool fail_at_byte(const char* at, std::string message) {
    return fail_at(static_cast<std::size_t>(at - text_.data()) + 1, std::move(message));
  }

  // Requires a failure. The recorded error, with line and column computed now.
  ReadError take_error() const;

 private:
  void consume() { ++index_; }
  void skip_whitespace();
  bool read_literal(std::string_view rest);
  bool read_number(JsonNumber& out);
  // Consumes a run of digits, appending each to significand while it fits an unsigned 64-bit
  // integer; from the first that does not fit, all further digits are dropped.
  struct DigitRun {
    std::size_t consumed;
    std::size_t appended;
  };
  DigitRun read_digit_run(std::uint64_t& significand);
  bool read_exponent(bool negative, std::uint64_t significand, std::int32_t exponent,
                     JsonNumber& out);
  bool finish_number(bool negative, std::uint64_t significand, std::int32_t exponent,
                     JsonNumber& out);
  bool read_escape();
  bool read_hex_escape(std::uint32_t& code);
  template <typename Value>
  bool read_any(Value& out);
  bool read_array(JsonArray& items);
  bool read_object(JsonObject& object);
  std::size_t find_string_special(std::size_t from) const;

  // Record an error at the consumed index (bytes consumed so far) or at the next index (one
  // more, at most the text's length); both return false.
  bool fail_consumed(std::string message);
  bool fail_next(std::string message);
  bool fail_at(std::size_t index, std::string message);

  std::string_view text_;
  std::size_t index_ = 0;
  std::uint8_t nesting_ = 128;            // an opening bracket that brings it to 0 fails
  std::string scratch_;                   // unescaped strings, reused for the whole document
  std::vector<JsonMember> member_stack_;  // members of the objects being read, innermost last

  bool failed_ = false;
  std::string error_message_;
  std::size_t error_index_ = 0;
  bool error_placed_ = false;
};

}  // namespace tessary
