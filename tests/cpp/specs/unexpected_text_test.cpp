#include "specs/unexpected_text.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

namespace tessary {
namespace {

// The same value as a JsonValue; a string view is copied.
JsonValue as_json_value(const BufferedValue& value) {
  return std::visit(
      [](const auto& held) -> JsonValue {
        using T = std::decay_t<decltype(held)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          return JsonValue(nullptr);
        } else if constexpr (std::is_same_v<T, std::string_view>) {
          return JsonValue(std::string(held));
        } else {
          return JsonValue(held);
        }
      },
      value.data);
}

TEST(UnexpectedText, NamesEachKindOfValue) {
  struct Case {
    BufferedValue value;
    std::string_view text;
  };
  const Case cases[] = {
      {{std::monostate{}}, "null"},
      {{true}, "boolean `true`"},
      {{false}, "boolean `false`"},
      {{JsonNumber::from_u64(0)}, "integer `0`"},
      {{JsonNumber::from_u64(18446744073709551615u)}, "integer `18446744073709551615`"},
      {{JsonNumber::from_negative(INT64_MIN)}, "integer `-9223372036854775808`"},
      {{JsonNumber::from_f64(18.0)}, "floating point `18.0`"},
      {{JsonNumber::from_f64(-0.0)}, "floating point `-0.0`"},
      {{JsonNumber::from_f64(0.1)}, "floating point `0.1`"},
      {{JsonNumber::from_f64(1e16)}, "floating point `1e+16`"},
      {{JsonNumber::from_f64(1.5e-7)}, "floating point `1.5e-7`"},
      {{std::string_view("a\"b")}, "string \"a\\\"b\""},
      {{std::string("")}, "string \"\""},
      {{JsonArray{}}, "sequence"},
      {{JsonObject{}}, "map"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(unexpected_text(c.value), c.text);
    if (std::holds_alternative<std::string_view>(c.value.data)) continue;
    EXPECT_EQ(unexpected_text(as_json_value(c.value)), c.text);  // the same as a JsonValue
  }
}

TEST(UnexpectedText, MessagesInsertTheValueAndTheExpectation) {
  EXPECT_EQ(
      invalid_type_message(BufferedValue{JsonNumber::from_negative(-1)}, "variant identifier"),
      "invalid type: integer `-1`, expected variant identifier");
  EXPECT_EQ(invalid_type_message(JsonValue(std::string("x")), "f64"),
            "invalid type: string \"x\", expected f64");
  EXPECT_EQ(invalid_value_message({JsonNumber::from_u64(4)}, "variant index 0 <= i < 4"),
            "invalid value: integer `4`, expected variant index 0 <= i < 4");
}

TEST(UnexpectedText, QuotedFormEscapesQuotesBackslashesAndControls) {
  struct Case {
    std::string_view text;
    std::string_view quoted;
  };
  using namespace std::string_view_literals;
  const Case cases[] = {
      {"", R"("")"},
      {"plain text", R"("plain text")"},
      {"a\"b", R"("a\"b")"},
      {"a\\b", R"("a\\b")"},
      {"\t\n\r", R"("\t\n\r")"},
      {"\0x"sv, R"("\0x")"},
      {"\x01\x08\x0C\x1F\x7F", R"("\u{1}\u{8}\u{c}\u{1f}\u{7f}")"},
      {"\xC2\x80\xC2\x9F", R"("\u{80}\u{9f}")"},  // the second control block
      {"\xC2\xA0\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80",
       "\"\xC2\xA0\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\""},
      // Bytes that are not UTF-8 (only from a document that was not) are written as \x..
      {"a\xFF"
       "b\xC3",
       R"("a\xffb\xc3")"},
      {"\xED\xA0\x80", R"("\xed\xa0\x80")"},
  };
  for (const Case& c : cases) {
    std::string out = ">";  // appends to what is there
    append_quoted(out, c.text);
    EXPECT_EQ(out.substr(1), c.quoted);
    EXPECT_EQ(out[0], '>');
  }
}

}  // namespace
}  // namespace tessary
