#include "specs/json_reader.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "test_support/json_objects.h"

namespace tessary {
namespace {

// Reads text as one whole document holding a single value.
std::variant<BufferedValue, ReadError> read_document(std::string_view text) {
  JsonReader reader(text);
  BufferedValue value;
  if (reader.read_value(value) && reader.end_document()) return value;
  return reader.take_error();
}

std::string error_of(std::string_view text) {
  const auto result = read_document(text);
  if (const auto* error = std::get_if<ReadError>(&result)) return error->display();
  return "no error";
}

JsonNumber number_of(std::string_view text) {
  const auto result = read_document(text);
  if (const auto* error = std::get_if<ReadError>(&result)) {
    ADD_FAILURE() << text << ": " << error->display();
    return {};
  }
  const auto* number = std::get_if<JsonNumber>(&std::get<BufferedValue>(result).data);
  if (number == nullptr) ADD_FAILURE() << text << " is not a number";
  return number ? *number : JsonNumber{};
}

std::string describe(const JsonNumber& n) {
  switch (n.kind) {
    case JsonNumber::Kind::Unsigned:
      return "u64 " + std::to_string(n.u);
    case JsonNumber::Kind::Negative:
      return "i64 " + std::to_string(n.i);
    case JsonNumber::Kind::Double:
      break;
  }
  char text[64];
  std::snprintf(text, sizeof text, "f64 %a", n.d);
  return text;
}

// Every syntax error, with its position: the caret under each input marks the byte whose 1-based
// column is reported (for errors at the end of the text, the last byte).
TEST(JsonReader, SyntaxErrorsNameTheirByte) {
  struct Case {
    std::string_view text;
    std::string_view display;
  };
  const Case cases[] = {
      {R"()", "EOF while parsing a value at line 1 column 0"},
      {R"(   )", "EOF while parsing a value at line 1 column 3"},
      //    ^
      {R"(nu)", "EOF while parsing a value at line 1 column 2"},
      //   ^
      {R"(-)", "EOF while parsing a value at line 1 column 1"},
      //  ^
      {R"(1.)", "EOF while parsing a value at line 1 column 2"},
      //   ^
      {R"(1e)", "EOF while parsing a value at line 1 column 2"},
      //   ^
      {R"(1e+)", "EOF while parsing a value at line 1 column 3"},
      //    ^
      {R"([1,)", "EOF while parsing a value at line 1 column 3"},
      //    ^
      {R"({"a":1,)", "EOF while parsing a value at line 1 column 7"},
      //        ^
      {R"({"a":)", "EOF while parsing a value at line 1 column 5"},
      //      ^
      {R"([)", "EOF while parsing a list at line 1 column 1"},
      //  ^
      {R"([1 )", "EOF while parsing a list at line 1 column 3"},
      //    ^
      {R"({)", "EOF while parsing an object at line 1 column 1"},
      //  ^
      {R"({"a")", "EOF while parsing an object at line 1 column 4"},
      //     ^
      {R"({"a":1)", "EOF while parsing an object at line 1 column 6"},
      //       ^
      {R"("abc)", "EOF while parsing a string at line 1 column 4"},
      //     ^
      {R"("\)", "EOF while parsing a string at line 1 column 2"},
      //   ^
      {R"("\u12)", "EOF while parsing a string at line 1 column 5"},
      //      ^
      {R"("\ud800)", "EOF while parsing a string at line 1 column 7"},
      //        ^
      {R"("\ud800\)", "EOF while parsing a string at line 1 column 8"},
      //         ^
      {R"({"a" 1})", "expected `:` at line 1 column 6"},
      //       ^
      {R"([1 2])", "expected `,` or `]` at line 1 column 4"},
      //     ^
      {R"([1x])", "expected `,` or `]` at line 1 column 3"},
      //    ^
      {R"({"a":1 "b":2})", "expected `,` or `}` at line 1 column 8"},
      //         ^
      {R"(nulx)", "expected ident at line 1 column 4"},
      //     ^
      {R"(trUe)", "expected ident at line 1 column 3"},
      //    ^
      {R"([fals])", "expected ident at line 1 column 6"},
      //       ^
      {R"(x)", "expected value at line 1 column 1"},
      //  ^
      {R"(])", "expected value at line 1 column 1"},
      //  ^
      {R"([,1])", "expected value at line 1 column 2"},
      //   ^
      {R"(.5)", "expected value at line 1 column 1"},
      //  ^
      {"\xEF\xBB\xBF{}", "expected value at line 1 column 1"},  // a byte-order mark is no space
      {R"("\x")", "invalid escape at line 1 column 3"},
      //    ^
      {R"("\u12G4")", "invalid escape at line 1 column 7"},
      //        ^ (the fourth byte of the four)
      {R"(01)", "invalid number at line 1 column 2"},
      //   ^
      {R"(-01)", "invalid number at line 1 column 3"},
      //    ^
      {R"(-x)", "invalid number at line 1 column 2"},
      //   ^
      {R"(1.x)", "invalid number at line 1 column 3"},
      //    ^
      {R"(1.e5)", "invalid number at line 1 column 3"},
      //    ^
      {R"(1ex)", "invalid number at line 1 column 3"},
      //    ^
      {R"(1e+x)", "invalid number at line 1 column 4"},
      //     ^
      {R"(1e309)", "number out of range at line 1 column 5"},
      //      ^
      {R"([-1e309,0])", "number out of range at line 1 column 7"},
      //        ^
      {R"(1e2147483648)", "number out of range at line 1 column 12"},
      //             ^ (the exponent digit that overflows)
      {R"(1e21474836470000)", "number out of range at line 1 column 13"},
      //              ^
      {R"(1e2147483647)", "number out of range at line 1 column 12"},
      //             ^
      // Rounded up when multiplied by 1e292; the correctly rounded reading is the largest double.
      {R"(1.7976931348623158e308)", "number out of range at line 1 column 22"},
      //                       ^
      {"\"a\tb\"",
       "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 3"},
      {std::string_view("\"\0\"", 3),
       "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 2"},
      {"[\"a\nb\"]",
       "control character (\\u0000-\\u001F) found while parsing a string at line 2 column 0"},
      {R"({1:2})", "key must be a string at line 1 column 2"},
      //   ^
      {R"({"a":1,2:3})", "key must be a string at line 1 column 8"},
      //         ^
      {R"({"a":1,})", "trailing comma at line 1 column 8"},
      //         ^
      {R"([1, ])", "trailing comma at line 1 column 5"},
      //      ^
      {R"(1 2)", "trailing characters at line 1 column 3"},
      //    ^
      {R"([]])", "trailing characters at line 1 column 3"},
      //    ^
      {R"("\udc00")", "lone leading surrogate in hex escape at line 1 column 7"},
      //        ^
      {R"("\ud800\u0041")", "lone leading surrogate in hex escape at line 1 column 13"},
      //              ^
      {R"("\ud800\udbff")", "lone leading surrogate in hex escape at line 1 column 13"},
      //              ^
      {R"("\ud800")", "unexpected end of hex escape at line 1 column 8"},
      //         ^ (the closing quote, which is no backslash)
      {R"("\ud800x)", "unexpected end of hex escape at line 1 column 8"},
      //         ^
      {R"("\ud800\n")", "unexpected end of hex escape at line 1 column 9"},
      //          ^
  };
  for (const Case& c : cases) EXPECT_EQ(error_of(c.text), c.display) << c.text;
}

TEST(JsonReader, PositionsCountBytesAndLines) {
  struct Case {
    std::string_view text;
    std::string_view display;
  };
  const Case cases[] = {
      // "é" is two bytes and "😀" four; columns count bytes, not characters.
      {"[\"\xC3\xA9\", x]", "expected value at line 1 column 8"},
      //  [ " é é " ,   x
      //  1 2 3 4 5 6 7 8 (byte columns)
      {"[\"\xF0\x9F\x98\x80\" 1]", "expected `,` or `]` at line 1 column 9"},
      {"[1,\n 2,\n  x]", "expected value at line 3 column 3"},
      //             ^ (third line: two blanks, then x)
      {"[1,\r\n 2,\r\n  x]", "expected value at line 3 column 3"},  // \r is no line break
      {"[1,\r 2,\r  x]", "expected value at line 1 column 11"},
      {"[\n\n", "EOF while parsing a list at line 3 column 0"},
      {"{\"\xC3\xA9\":\n  1,\n  \"b\" 2}", "expected `:` at line 3 column 7"},
      //                                      ^ (line 3 is: two blanks, "b", a blank, 2)
  };
  for (const Case& c : cases) EXPECT_EQ(error_of(c.text), c.display) << c.text;
}

TEST(JsonReader, NumbersFollowTheFixedConversion) {
  struct Case {
    std::string_view text;
    JsonNumber expected;
  };
  const Case cases[] = {
      // Integers keep an integer kind while all their digits fit.
      {"0", JsonNumber::from_u64(0)},
      {"18446744073709551615", JsonNumber::from_u64(UINT64_MAX)},
      {"-1", JsonNumber::from_negative(-1)},
      {"-9223372036854775808", JsonNumber::from_negative(INT64_MIN)},
      // Otherwise doubles: -0, negatives below -2^63, integers that overflow 64 bits.
      {"-0", JsonNumber::from_f64(-0.0)},
      {"-0.0", JsonNumber::from_f64(-0.0)},
      {"-9223372036854775809", JsonNumber::from_f64(-0x1p63)},
      {"-18446744073709551615", JsonNumber::from_f64(-0x1p64)},
      {"18446744073709551616", JsonNumber::from_f64(0x1p64)},  // one digit dropped, E = 1
      {"1.0", JsonNumber::from_f64(1.0)},
      {"1e2", JsonNumber::from_f64(100.0)},
      {"1E+2", JsonNumber::from_f64(100.0)},
      {"0.3", JsonNumber::from_f64(0.3)},
      {"-2.5e-3", JsonNumber::from_f64(-0.0025)},
      {"1e308", JsonNumber::from_f64(1e308)},
      {"1.7976931348623157e308", JsonNumber::from_f64(0x1.fffffffffffffp+1023)},
      {"5e-324", JsonNumber::from_f64(0x0.0000000000001p-1022)},
      {"1e-400", JsonNumber::from_f64(0.0)},  // divided by 1e308, then by 1e92
      {"-1e-400", JsonNumber::from_f64(-0.0)},
      {"0e999999", JsonNumber::from_f64(0.0)},  // zero stops the 1e308 loop
      {"0.0000001e309", JsonNumber::from_f64(1e302)},
      // Exponent digits beyond 32 bits: zero, unless a non-zero number grows (an error).
      {"0e2147483648", JsonNumber::from_f64(0.0)},
      {"1e-2147483648", JsonNumber::from_f64(0.0)},
      {"-1e-99999999999999", JsonNumber::from_f64(-0.0)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(describe(number_of(c.text)), describe(c.expected)) << c.text;
  }
}

// Digits are read eight at a time where they surely fit: every length and every position of the
// first non-digit must give the same value as reading them one by one. Integers that fit and
// fractions of up to 15 digits (one exact division) are also what strtoull and strtod give.
TEST(JsonReader, DigitRunsOfEveryLength) {
  const std::string patterns[] = {"12345678901234567890", "99999999999999999999",
                                  "10000000000000000000", "18446744073709551615"};
  for (const std::string& pattern : patterns) {
    for (std::size_t length = 1; length <= pattern.size(); ++length) {
      const std::string digits = pattern.substr(0, length);
      if (length < 20 || digits <= "18446744073709551615") {
        EXPECT_EQ(describe(number_of(digits)),
                  describe(JsonNumber::from_u64(std::strtoull(digits.c_str(), nullptr, 10))));
        EXPECT_EQ(describe(number_of(digits + "        ")), describe(number_of(digits)));
      }
      if (length <= 15) {
        const std::string fraction = "0." + digits;
        EXPECT_EQ(describe(number_of(fraction)),
                  describe(JsonNumber::from_f64(std::strtod(fraction.c_str(), nullptr))));
        EXPECT_EQ(describe(number_of(fraction + "e0")), describe(number_of(fraction)));
      }
    }
  }
}

// The conversion rounds twice for long significands (once to double, once when scaling), so these
// texts do not give the correctly rounded double, which is noted beside each.
TEST(JsonReader, LongSignificandsAreRoundedTwice) {
  struct Case {
    std::string_view text;
    double expected;
    double correctly_rounded;
  };
  const Case cases[] = {
      // 17 or more digits: S = 90071992547409930 rounds up to ...936, then / 10.
      {"9007199254740993.0", 0x1.0000000000001p+53, 0x1p+53},
      {"0.12345678901234567", 0x1.f9add3746f65fp-4, 0x1.f9add3746f65ep-4},
      // Integer digits beyond 20 dropped: S = 51212653914269209721, E = 6.
      {"51212653914269209721969240", 0x1.52e59c40c733cp+85, 0x1.52e59c40c733bp+85},
      // Fraction digits beyond 20 dropped: S = 5868344978690736625, E = -19.
      {"0.5868344978690736625851781", 0x1.2c75924106460p-1, 0x1.2c75924106461p-1},
      // Exponents below -308: divided by 1e308 first, then by the rest.
      {"6126933103096309e-312", 0x1.00729d9517b0ap-984, 0x1.00729d9517b0bp-984},
      {"70965e-309", 0x1.8eaaa2789474ep-1011, 0x1.8eaaa2789474fp-1011},
      {"4419269212589083e283", 0x1.0e4aff0f7aacap+992, 0x1.0e4aff0f7aacbp+992},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(describe(number_of(c.text)), describe(JsonNumber::from_f64(c.expected))) << c.text;
    EXPECT_NE(std::bit_cast<std::uint64_t>(c.expected),
              std::bit_cast<std::uint64_t>(std::strtod(std::string(c.text).c_str(), nullptr)));
    EXPECT_EQ(c.correctly_rounded, std::strtod(std::string(c.text).c_str(), nullptr));
  }
}

TEST(JsonReader, StringsResolveEscapesAndAreCopiedOnlyWithThem) {
  struct Case {
    std::string_view text;
    std::string_view expected;
    bool in_document;
  };
  using namespace std::string_view_literals;
  const Case cases[] = {
      {R"("")", "", true},
      {R"("abc")", "abc", true},
      {"\"caf\xC3\xA9 \xF0\x9F\x98\x80\"", "caf\xC3\xA9 \xF0\x9F\x98\x80", true},
      {R"("a\"b\\c\/d\be\ff\ng\rh\ti")", "a\"b\\c/d\be\ff\ng\rh\ti", false},
      {R"("\u0041\u00e9\u20AC\uFFFF")", "A\xC3\xA9\xE2\x82\xAC\xEF\xBF\xBF", false},
      {R"("\u0000")", "\0"sv, false},
      {R"("\ud83d\ude00")", "\xF0\x9F\x98\x80", false},
      {R"("\uD800\uDC00\uDBFF\uDFFF")", "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", false},
      {R"("x\\")", "x\\", false},
  };
  for (const Case& c : cases) {
    JsonReader reader(c.text);
    StringRead read;
    ASSERT_TRUE(reader.read_string(read)) << c.text << ": " << reader.take_error().display();
    EXPECT_EQ(read.text, c.expected) << c.text;
    EXPECT_EQ(read.in_document, c.in_document) << c.text;
    EXPECT_TRUE(reader.end_document()) << c.text;
  }
}

// Strings are scanned eight bytes at a time: the first quote, backslash or control byte must be
// found wherever it falls in a word, after any kind of byte.
TEST(JsonReader, StringScanFindsTheFirstSpecialByteAtEveryOffset) {
  const std::string_view fillers[] = {"x", "\xA0", "\xFF", "\x7F", " ", "!"};
  for (const std::string_view filler : fillers) {
    for (std::size_t before = 0; before < 20; ++before) {
      std::string run;
      for (std::size_t i = 0; i < before; ++i) run += filler;
      // An escape: the text before it is kept, the escape resolved.
      const std::string escaped = "\"" + run + "\\n" + run + "\"";
      const auto value = read_document(escaped);
      ASSERT_TRUE(std::holds_alternative<BufferedValue>(value)) << escaped;
      EXPECT_EQ(std::get<BufferedValue>(value).string(), run + "\n" + run);
      // A control byte at 0-based index before + 1 gives the 1-based column before + 2.
      for (const char control : {'\x01', '\x1F', '\n'}) {
        const std::string bad = "\"" + run + control + "\"\"\"\"\"\"\"\"";
        const std::size_t column = control == '\n' ? 0 : before + 2;
        EXPECT_EQ(error_of(bad),
                  "control character (\\u0000-\\u001F) found while parsing a string at line " +
                      std::to_string(control == '\n' ? 2 : 1) + " column " +
                      std::to_string(column));
      }
      // An unterminated string reports the end of the text.
      EXPECT_EQ(error_of("\"" + run), "EOF while parsing a string at line 1 column " +
                                          std::to_string(1 + before * filler.size()));
    }
  }
}

// Arrays and objects are built as JsonValues at once: objects ordered by key, a repeated key
// keeping its last value; member strings with escapes are copies, plain ones views.
TEST(JsonReader, ArraysAndObjectsBecomeJsonValues) {
  const auto result =
      read_document(R"( {"b": 1, "a": [true, false, null, "x\ty"], "b": {"c": "d"}, "": {}} )");
  ASSERT_TRUE(std::holds_alternative<BufferedValue>(result));
  const JsonObject expected = testing::object_of(
      {{"", JsonObject{}},
       {"a", JsonArray{JsonValue(true), JsonValue(false), JsonValue(nullptr),
                       JsonValue(std::string("x\ty"))}},
       {"b", testing::object_of({{"c", JsonValue(std::string("d"))}})}});
  EXPECT_EQ(std::get<JsonObject>(std::get<BufferedValue>(result).data), expected);

  const auto plain = read_document(R"("abc")");
  EXPECT_TRUE(std::holds_alternative<std::string_view>(std::get<BufferedValue>(plain).data));
  const auto escaped = read_document(R"("a\nc")");
  EXPECT_EQ(std::get<std::string>(std::get<BufferedValue>(escaped).data), "a\nc");
}

TEST(JsonReader, NestingStopsAtTheHundredTwentyEighthBracket) {
  const auto nested = [](std::size_t depth, std::string_view open, std::string_view close) {
    std::string text;
    for (std::size_t i = 0; i < depth; ++i) text += open;
    text += "0";
    for (std::size_t i = 0; i < depth; ++i) text += close;
    return text;
  };
  EXPECT_EQ(error_of(nested(127, "[", "]")), "no error");
  EXPECT_EQ(error_of(nested(127, "{\"k\":", "}")), "no error");
  EXPECT_EQ(error_of(nested(128, "[", "]")), "recursion limit exceeded at line 1 column 128");
  EXPECT_EQ(error_of(nested(128, "{\"k\":", "}")),
            "recursion limit exceeded at line 1 column 636");  // 127 * 5 + 1
  EXPECT_EQ(error_of(std::string(100000, '[')), "recursion limit exceeded at line 1 column 128");
  // Closing a bracket gives its level back.
  const std::string deep = nested(126, "[", "]");
  EXPECT_EQ(error_of("[" + deep + "," + deep + "," + deep + "]"), "no error");
  EXPECT_EQ(error_of("[[" + deep + "]]"), "recursion limit exceeded at line 1 column 128");
}

// Reading stays linear: a 10 MB string (with and without escapes) and a million-element array.
TEST(JsonReader, LargeValuesAreReadWhole) {
  const std::size_t size = 10 << 20;
  std::string plain(size + 2, 'a');
  plain.front() = plain.back() = '"';
  auto result = read_document(plain);
  ASSERT_TRUE(std::holds_alternative<BufferedValue>(result));
  EXPECT_EQ(std::get<std::string_view>(std::get<BufferedValue>(result).data).size(), size);

  std::string escaped = "\"";
  for (std::size_t i = 0; i < size / 8; ++i) escaped += "abcdef\\n";
  escaped += "\"";
  result = read_document(escaped);
  ASSERT_TRUE(std::holds_alternative<BufferedValue>(result));
  EXPECT_EQ(std::get<std::string>(std::get<BufferedValue>(result).data).size(), size / 8 * 7);

  std::string array = "[";
  for (int i = 0; i < 1000000; ++i) array += i == 0 ? "0" : ",1.5";
  array += "]";
  result = read_document(array);
  ASSERT_TRUE(std::holds_alternative<BufferedValue>(result));
  const auto& items = std::get<JsonArray>(std::get<BufferedValue>(result).data);
  ASSERT_EQ(items.size(), 1000000u);
  EXPECT_EQ(items.back(), JsonValue(JsonNumber::from_f64(1.5)));
}

// Long arrays are sized from the share of the text their items have used so far. Whatever
// follows them, they keep every item in order and hold no more than twice the storage they need.
TEST(JsonReader, LongArraysKeepTheirItemsInCompactStorage) {
  const auto numbers = [](int count) {
    std::string text = "[";
    for (int i = 0; i < count; ++i) {
      if (i != 0) text += ',';
      text += std::to_string(i);
    }
    return text + "]";
  };
  struct Case {
    int count;
    std::string after;  // text that follows the array inside an enclosing array
  };
  const Case cases[] = {
      {4095, ""},
      {4096, ""},
      {4097, ""},
      {100000, ""},
      {5000, ",\"" + std::string(1 << 20, 'x') + "\""},  // a long string after: an overshoot
      {5000, "," + numbers(5000)},
      {70000, ",[" + std::string(200000, ' ') + "]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.count << " items, " << c.after.size() << " bytes after");
    auto result = read_document("[" + numbers(c.count) + c.after + "]");
    ASSERT_TRUE(std::holds_alternative<BufferedValue>(result));
    const auto& outer = std::get<JsonArray>(std::get<BufferedValue>(result).data);
    const auto& items = std::get<JsonArray>(outer.front().data);
    ASSERT_EQ(items.size(), static_cast<std::size_t>(c.count));
    for (int i = 0; i < c.count; ++i) {
      ASSERT_EQ(items[static_cast<std::size_t>(i)], JsonValue(JsonNumber::from_u64(i))) << i;
    }
    EXPECT_LE(items.capacity(), 2 * items.size());
  }
}

}  // namespace
}  // namespace tessary
