#include "specs/read_specs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "specs/utf8_helpers.h"
#include "test_support/json_objects.h"

namespace tessary {
namespace {

std::string display_of(const std::variant<std::vector<AttrSpec>, ReadError>& result) {
  if (const auto* error = std::get_if<ReadError>(&result)) return error->display();
  return "no error";
}

// The error of the original language's reader, which the cases pin. The package's reader must
// agree on every document of the original language, except that its "unknown variant" message
// lists its later kinds too, after the original four.
std::string error_of(std::string_view text) {
  const std::string original = display_of(read_original_specs(text));
  std::string package = display_of(read_specs(text));
  const std::string original_list = "`choice`";
  const std::size_t listed = package.find(original_list + ", `sequence`");
  if (listed != std::string::npos) {
    const std::size_t list_end = package.find(" at line", listed);
    package.erase(listed + original_list.size(), list_end - listed - original_list.size());
  }
  EXPECT_EQ(package, original) << text;
  return original;
}

// The specs of a valid document, read by both readers alike (names and kinds).
std::vector<AttrSpec> specs_of(std::string_view text) {
  auto result = read_specs(text);
  if (const auto* error = std::get_if<ReadError>(&result)) {
    ADD_FAILURE() << text << ": " << error->display();
    return {};
  }
  auto specs = std::move(std::get<std::vector<AttrSpec>>(result));
  const auto original = read_original_specs(text);
  if (const auto* read = std::get_if<std::vector<AttrSpec>>(&original)) {
    EXPECT_EQ(read->size(), specs.size()) << text;
    for (std::size_t k = 0; k < std::min(read->size(), specs.size()); ++k) {
      EXPECT_EQ((*read)[k].name, specs[k].name) << text;
      EXPECT_EQ((*read)[k].kind.index(), specs[k].kind.index()) << text;
    }
  } else {
    ADD_FAILURE() << text << ": the original reader refuses it: " << display_of(original);
  }
  return specs;
}

struct Case {
  std::string_view text;
  std::string_view display;
};

void expect_errors(const Case* begin, const Case* end) {
  for (const Case* c = begin; c != end; ++c) EXPECT_EQ(error_of(c->text), c->display) << c->text;
}

// Syntax errors inside whole documents. S is the valid spec {"name":"a","type":"choice",
// "values":[1]}. The caret under an input marks the byte whose 1-based column is reported.
TEST(ReadSpecs, SyntaxErrorsKeepTheirOwnPositions) {
  const Case cases[] = {
      {"", "EOF while parsing a value at line 1 column 0"},
      {"   ", "EOF while parsing a value at line 1 column 3"},
      {"[", "EOF while parsing a list at line 1 column 1"},
      {R"([{"name":"a","type":"choice","values":[1]},])", "trailing comma at line 1 column 44"},
      //                                             ^
      {R"([{"name":"a","type":"choice","values":[1]} {}])",
       "expected `,` or `]` at line 1 column 44"},
      //                                             ^
      {R"([{"name":"a","values":[1,]}])", "trailing comma at line 1 column 26"},
      //                           ^
      // A syntax error in a buffered member is met before the missing "type" is noticed.
      {R"([{"name":"a","values":[1 2]}])", "expected `,` or `]` at line 1 column 26"},
      //                           ^
      {R"([{"name":"a","values":[1x]}])", "expected `,` or `]` at line 1 column 25"},
      //                          ^
      {R"([{"a" 1}])", "expected `:` at line 1 column 7"},
      //        ^
      {R"([{1:2}])", "key must be a string at line 1 column 3"},
      //    ^
      {R"([{"a":1,}])", "trailing comma at line 1 column 9"},
      //          ^
      {R"([{"name":"a" "type":1}])", "expected `,` or `}` at line 1 column 14"},
      //               ^
      {R"([{"name":"a",)", "EOF while parsing a value at line 1 column 13"},
      //              ^
      {R"([{"name":"a")", "EOF while parsing an object at line 1 column 12"},
      //             ^
      {R"([{"name")", "EOF while parsing an object at line 1 column 8"},
      //         ^
      {R"([{"name":)", "EOF while parsing a value at line 1 column 9"},
      //          ^
      {R"([{"name":"a","v":nul}])", "expected ident at line 1 column 21"},
      //                      ^
      {R"(nul)", "EOF while parsing a value at line 1 column 3"},
      //    ^
      {R"([{"name":"a","v":01}])", "invalid number at line 1 column 19"},
      //                    ^
      {R"(-x)", "invalid number at line 1 column 2"},
      //   ^
      {R"(1.)", "EOF while parsing a value at line 1 column 2"},
      //   ^
      {R"(1e+)", "EOF while parsing a value at line 1 column 3"},
      //    ^
      {R"([{"name":"a","v":1e309}])", "number out of range at line 1 column 22"},
      //                       ^
      {"[\"a\nb\"]",
       "control character (\\u0000-\\u001F) found while parsing a string at line 2 column 0"},
      {R"([{"name":"\ud800"}])", "unexpected end of hex escape at line 1 column 17"},
      //                  ^
      {R"([{"name":"\udc00"}])", "lone leading surrogate in hex escape at line 1 column 16"},
      //                 ^
      {R"([{"name":"a\qb"}])", "invalid escape at line 1 column 13"},
      //              ^
      {R"([{"name":"abc)", "EOF while parsing a string at line 1 column 13"},
      //              ^
      {"\xEF\xBB\xBF[]", "expected value at line 1 column 1"},
      {R"(x)", "expected value at line 1 column 1"},
      //  ^
      {R"([x])", "expected value at line 1 column 2"},
      //   ^
      {R"([{"name":x}])", "expected value at line 1 column 10"},
      //           ^
      {R"([{"name":"a","type":x}])", "expected value at line 1 column 21"},
      //                      ^
      {R"([] [])", "trailing characters at line 1 column 4"},
      //     ^
      {"[]\n\n x", "trailing characters at line 3 column 2"},
      // Scalars that stand where an array, a spec object or a name is wanted are read first,
      // so their own syntax errors win.
      {R"([nul])", "expected ident at line 1 column 5"},
      //      ^
      {R"([{"name":tru}])", "expected ident at line 1 column 13"},
      //              ^
      {R"("abc)", "EOF while parsing a string at line 1 column 4"},
      //     ^
  };
  expect_errors(std::begin(cases), std::end(cases));
}

// Counting the specs array as level 1 and a spec object as level 2, a member value may nest down
// to level 127; the bracket that would open level 128 is reported.
TEST(ReadSpecs, NestingLimitCountsTheSpecsArrayAndObject) {
  const auto document = [](std::size_t brackets) {
    return R"([{"name":"a","type":"choice","values":[1],"v":)" + std::string(brackets, '[') +
           std::string(brackets, ']') + "}]";
  };
  EXPECT_EQ(error_of(document(125)), "no error");
  // The prefix up to "v": is 46 bytes; bracket 126 of the value is byte 46 + 126.
  EXPECT_EQ(error_of(document(126)), "recursion limit exceeded at line 1 column 172");
}

TEST(ReadSpecs, PositionsCountBytesAndLines) {
  const Case cases[] = {
      // "é" takes two bytes: the "}" is the 14th byte but the 13th character.
      {"[{\"name\":\"\xC3\xA9\"}]", "missing field `type` at line 1 column 14"},
      {"[{\"name\":\"\xF0\x9F\x98\x80\",\"type\":\"x\"}]",
       "unknown variant `x`, expected one of `uniform_int`, `uniform_float`, `normal`, `choice` "
       "at line 1 column 27"},
      {"[\n  {\"name\": \"a\"}\n]", "missing field `type` at line 2 column 15"},
      //    ..{"name": "a"}  <- the "}" is the 15th byte of line 2
      {"[\n  {\"name\": \"a\",\n   \"type\": \"normal\", \"mean\": 0,\n   \"std_dev\": \"1\"}]",
       "invalid type: string \"1\", expected f64 at line 4 column 18"},
      {"[{\"name\":\"a\",\"type\":\"choice\",\n\"values\":[\"\xC3\xA9\",\n  @]}]",
       "expected value at line 3 column 3"},
      // Interpretation errors land just after the object's "}", whitespace before it skipped.
      {R"([{"name":"a"   }])", "missing field `type` at line 1 column 16"},
      //                 ^
      // A repeated "name" is reported after its key and the whitespace that follows.
      {R"([{"name":"a","name" : "b"}])", "duplicate field `name` at line 1 column 20"},
      //                     ^
  };
  expect_errors(std::begin(cases), std::end(cases));
}

// The document itself, its elements and "name" must be of the right kind; the value is named in
// the message and the position is just after it (before a bracket).
TEST(ReadSpecs, WrongKindsOfDocumentElementAndName) {
  const Case cases[] = {
      {R"({})", "invalid type: map, expected a sequence at line 1 column 0"},
      {R"(  {"a":1})", "invalid type: map, expected a sequence at line 1 column 2"},
      //    ^ (at a bracket, which is not consumed, the column is its 0-based one)
      {R"(null)", "invalid type: null, expected a sequence at line 1 column 4"},
      //     ^
      {R"(true)", "invalid type: boolean `true`, expected a sequence at line 1 column 4"},
      //     ^
      {R"(false )", "invalid type: boolean `false`, expected a sequence at line 1 column 5"},
      //      ^
      {R"(-12)", "invalid type: integer `-12`, expected a sequence at line 1 column 3"},
      //    ^
      {R"(1.5e1)", "invalid type: floating point `15.0`, expected a sequence at line 1 column 5"},
      //      ^
      {R"(1e20)", "invalid type: floating point `1e+20`, expected a sequence at line 1 column 4"},
      //     ^
      {R"("a\"b")", "invalid type: string \"a\\\"b\", expected a sequence at line 1 column 6"},
      //       ^
      {R"([[1]])", "invalid type: sequence, expected struct AttrSpec at line 1 column 1"},
      //   ^ (0-based, as above)
      {R"([{"name":"a","type":"normal","mean":0,"std_dev":1}, 7])",
       "invalid type: integer `7`, expected struct AttrSpec at line 1 column 53"},
      //                                                      ^
      {R"([null])", "invalid type: null, expected struct AttrSpec at line 1 column 5"},
      //      ^
      {R"([{"name":1}])", "invalid type: integer `1`, expected a string at line 1 column 10"},
      //           ^
      {R"([{"name":[1]}])", "invalid type: sequence, expected a string at line 1 column 9"},
      //           ^
      {R"([{"name": {}}])", "invalid type: map, expected a string at line 1 column 10"},
      //            ^
      {R"([{"name":-0}])",
       "invalid type: floating point `-0.0`, expected a string at line 1 column 11"},
      //            ^
  };
  expect_errors(std::begin(cases), std::end(cases));
}

// Interpretation errors of one spec object, all placed just after its "}".
TEST(ReadSpecs, MemberErrorsComeInTheStatedOrder) {
  const Case cases[] = {
      {R"([{}])", "missing field `name` at line 1 column 3"},
      //    ^
      {R"([{"name":"a"}])", "missing field `type` at line 1 column 13"},
      //              ^
      // The name is tested before the kind, and both only after the whole object.
      {R"([{"type":"normal","mean":0,"std_dev":1}])", "missing field `name` at line 1 column 39"},
      //                                        ^
      {R"([{"type":"bogus"}])", "missing field `name` at line 1 column 17"},
      //                  ^
      {R"([{"name":"a","name":"b","type":"normal","mean":0,"std_dev":1}])",
       "duplicate field `name` at line 1 column 19"},
      //                    ^
      {R"([{"name":"a","type":"normal","type":"choice","mean":0,"std_dev":1}])",
       "duplicate field `type` at line 1 column 66"},
      //                                                                   ^
      // "type" values are judged where they stand: the first bad one wins over a second "type".
      {R"([{"name":"a","type":"bogus","type":"normal"}])",
       "unknown variant `bogus`, expected one of `uniform_int`, `uniform_float`, `normal`, "
       "`choice` at line 1 column 44"},
      {R"([{"name":"a","type":"Normal"}])",
       "unknown variant `Normal`, expected one of `uniform_int`, `uniform_float`, `normal`, "
       "`choice` at line 1 column 29"},
      {R"([{"name":"a","type":"a\"b"}])",
       "unknown variant `a\"b`, expected one of `uniform_int`, `uniform_float`, `normal`, "
       "`choice` at line 1 column 27"},
      {R"([{"name":"a","type":4}])",
       "invalid value: integer `4`, expected variant index 0 <= i < 4 at line 1 column 22"},
      //                       ^
      {R"([{"name":"a","type":18446744073709551615}])",
       "invalid value: integer `18446744073709551615`, expected variant index 0 <= i < 4 at line "
       "1 column 41"},
      {R"([{"name":"a","type":-1}])",
       "invalid type: integer `-1`, expected variant identifier at line 1 column 23"},
      //                        ^
      {R"([{"name":"a","type":1.0}])",
       "invalid type: floating point `1.0`, expected variant identifier at line 1 column 24"},
      //                         ^
      {R"([{"name":"a","type":null}])",
       "invalid type: null, expected variant identifier at line 1 column 25"},
      //                          ^
      {R"([{"name":"a","type":false}])",
       "invalid type: boolean `false`, expected variant identifier at line 1 column 26"},
      //                           ^
      {R"([{"name":"a","type":["normal"]}])",
       "invalid type: sequence, expected variant identifier at line 1 column 31"},
      //                                ^
      {R"([{"name":"a","type":{}}])",
       "invalid type: map, expected variant identifier at line 1 column 23"},
      //                        ^
      // The field pass ends before missing fields are looked for.
      {R"([{"name":"a","type":"uniform_int","high":1,"high":2}])",
       "duplicate field `high` at line 1 column 52"},
      //                                                     ^
      {R"([{"name":"a","type":"uniform_int","high":1}])",
       "missing field `low` at line 1 column 43"},
      //                                            ^
      {R"([{"name":"a","type":"uniform_int","low":1}])",
       "missing field `high` at line 1 column 42"},
      //                                           ^
      {R"([{"name":"a","type":"uniform_float"}])", "missing field `low` at line 1 column 36"},
      //                                     ^
      {R"([{"name":"a","type":2,"std_dev":1}])", "missing field `mean` at line 1 column 34"},
      //                                   ^
      {R"([{"name":"a","type":"normal","mean":1,"min":0}])",
       "missing field `std_dev` at line 1 column 46"},
      //                                               ^
      {R"([{"name":"a","type":"choice","weights":[1]}])",
       "missing field `values` at line 1 column 43"},
      //                                            ^
      // Conversions.
      {R"([{"name":"a","type":"uniform_int","low":18.0,"high":80}])",
       "invalid type: floating point `18.0`, expected i64 at line 1 column 55"},
      //                                                        ^
      {R"([{"name":"a","type":"uniform_int","low":1e3,"high":80}])",
       "invalid type: floating point `1000.0`, expected i64 at line 1 column 54"},
      //                                                       ^
      {R"([{"name":"a","type":"uniform_int","low":"1","high":80}])",
       "invalid type: string \"1\", expected i64 at line 1 column 54"},
      //                                                       ^
      {R"([{"name":"a","type":"uniform_int","low":9223372036854775808,"high":1}])",
       "invalid value: integer `9223372036854775808`, expected i64 at line 1 column 69"},
      //                                                                      ^
      {R"([{"name":"a","type":"uniform_int","low":0,"high":-9223372036854775809}])",
       "invalid type: floating point `-9.223372036854776e+18`, expected i64 at line 1 column 70"},
      //                                                                       ^
      {R"([{"name":"a","type":"uniform_float","low":0,"high":true}])",
       "invalid type: boolean `true`, expected f64 at line 1 column 56"},
      //                                                         ^
      {R"([{"name":"a","type":"normal","mean":null,"std_dev":1}])",
       "invalid type: null, expected f64 at line 1 column 53"},
      //                                                      ^
      {R"([{"name":"a","type":"normal","mean":0,"std_dev":1,"max":"5"}])",
       "invalid type: string \"5\", expected f64 at line 1 column 60"},
      //                                                             ^
      {R"([{"name":"a","type":"choice","values":{"a":1}}])",
       "invalid type: map, expected a sequence at line 1 column 46"},
      //                                               ^
      {R"([{"name":"a","type":"choice","values":"abc"}])",
       "invalid type: string \"abc\", expected a sequence at line 1 column 44"},
      //                                             ^
      {R"([{"name":"a","type":"choice","values":[1],"weights":null}])",
       "invalid type: null, expected a sequence at line 1 column 57"},
      //                                                          ^
      {R"([{"name":"a","type":"choice","values":[1],"weights":[1,"x",null]}])",
       "invalid type: string \"x\", expected f64 at line 1 column 65"},
      //                                                                  ^
      {R"([{"name":"a","type":"choice","values":[1],"weights":[[]]}])",
       "invalid type: sequence, expected f64 at line 1 column 57"},
      //                                                          ^
      // A later spec's error is reported at its own "}".
      {R"([{"name":"a","type":0,"low":0,"high":1},{"name":"b"}])",
       "missing field `type` at line 1 column 52"},
      //                                                     ^
  };
  expect_errors(std::begin(cases), std::end(cases));
}

TEST(ReadSpecs, EachFieldOfAKindMayAppearOnce) {
  struct Kind {
    std::string_view type;
    std::string_view fields;  // every field, valid values
    std::vector<std::string_view> names;
  };
  const Kind kinds[] = {
      {"uniform_int", R"("low":0,"high":1)", {"low", "high"}},
      {"uniform_float", R"("low":0,"high":1)", {"low", "high"}},
      {"normal", R"("mean":0,"std_dev":1,"min":null,"max":2)", {"mean", "std_dev", "min", "max"}},
      {"choice", R"("values":[1],"weights":[1])", {"values", "weights"}},
  };
  for (const Kind& kind : kinds) {
    const std::string prefix = R"([{"name":"a","type":")" + std::string(kind.type) + "\",";
    EXPECT_EQ(error_of(prefix + std::string(kind.fields) + "}]"), "no error") << kind.type;
    for (const std::string_view name : kind.names) {
      // The repeated field comes last, with a value that would not even convert.
      const std::string text =
          prefix + std::string(kind.fields) + ",\"" + std::string(name) + "\":{}}]";
      EXPECT_EQ(error_of(text), "duplicate field `" + std::string(name) + "` at line 1 column " +
                                    std::to_string(text.size() - 1));
    }
  }
}

TEST(ReadSpecs, ReadsEveryKind) {
  const std::vector<AttrSpec> specs = specs_of(R"( [
    {"name": "age", "type": "uniform_int", "low": -9223372036854775808, "high": 9223372036854775807},
    {"high": 2, "low": 1, "name": "x", "type": 1, "mean": "ignored"},
    {"name": "h", "type": "normal", "mean": 170, "std_dev": -10.5, "min": null, "max": 18446744073709551615,
     "low": [1, {"deep": [null]}], "x": 1, "x": 2},
    {"n\u0061me": "", "type": 3, "values": [1, "x", null, {"b": 1, "a": 2, "b": 3}, -0, [true]]},
    {"name": "w", "type": "choice", "values": [], "weights": [1, 2.5, -1, 18446744073709551615]},
    {"name": "age", "type": "uniform_int", "low": 5, "high": 1}
  ] )");
  ASSERT_EQ(specs.size(), 6u);

  EXPECT_EQ(specs[0].name, "age");
  const auto& uniform_int = std::get<UniformInt>(specs[0].kind);
  EXPECT_EQ(uniform_int.low, INT64_MIN);
  EXPECT_EQ(uniform_int.high, INT64_MAX);

  const auto& uniform_float = std::get<UniformFloat>(specs[1].kind);
  EXPECT_EQ(uniform_float.low, 1.0);
  EXPECT_EQ(uniform_float.high, 2.0);

  const auto& normal = std::get<Normal>(specs[2].kind);
  EXPECT_EQ(normal.mean, 170.0);
  EXPECT_EQ(normal.std_dev, -10.5);  // ranges are not checked here
  EXPECT_FALSE(normal.min.has_value());
  EXPECT_EQ(normal.max, 0x1p64);  // the nearest double

  EXPECT_EQ(specs[3].name, "");
  const auto& choice = std::get<Choice>(specs[3].kind);
  ASSERT_EQ(choice.values.size(), 6u);
  EXPECT_EQ(choice.values[0], JsonValue(JsonNumber::from_u64(1)));
  EXPECT_EQ(choice.values[1], JsonValue(std::string("x")));
  EXPECT_TRUE(choice.values[2].is_null());
  // Keys in order, the repeated "b" keeping its last value.
  const JsonObject object = testing::object_of(
      {{"a", JsonNumber::from_u64(2)}, {"b", JsonNumber::from_u64(3)}});
  EXPECT_EQ(choice.values[3], JsonValue(object));
  EXPECT_EQ(choice.values[4], JsonValue(JsonNumber::from_f64(-0.0)));
  EXPECT_EQ(choice.values[5], JsonValue(JsonArray{JsonValue(true)}));
  EXPECT_TRUE(choice.weights.empty());

  const auto& weighted = std::get<Choice>(specs[4].kind);
  EXPECT_TRUE(weighted.values.empty());
  EXPECT_EQ(weighted.weights, (std::vector<double>{1, 2.5, -1, 0x1p64}));

  EXPECT_EQ(specs[5].name, "age");  // repeated names and low above high pass here
  EXPECT_EQ(std::get<UniformInt>(specs[5].kind).low, 5);
}

TEST(ReadSpecs, EmptyDocumentArrayGivesNoSpecs) {
  EXPECT_TRUE(specs_of("[]").empty());
  EXPECT_TRUE(specs_of(" \t\r\n[ \n ]\n").empty());
}

// Weights reserve their length, but at most 131072 up front.
TEST(ReadSpecs, WeightsReservationIsCapped) {
  for (const std::size_t count : {1000u, 131072u, 131073u}) {
    std::string text = R"([{"name":"a","type":"choice","values":[0],"weights":[)";
    for (std::size_t i = 0; i < count; ++i) text += i ? ",1" : "1";
    text += "]}]";
    const auto specs = specs_of(text);
    const auto& weights = std::get<Choice>(specs.at(0).kind).weights;
    EXPECT_EQ(weights.size(), count);
    if (count <= 131072) {
      EXPECT_EQ(weights.capacity(), count);
    } else {
      EXPECT_GT(weights.capacity(), count);  // grown beyond the reservation
    }
  }
}

// Large documents are read in linear time: a 10 MB string value and a million values.
TEST(ReadSpecs, LargeDocuments) {
  std::string text =
      R"([{"name":"a","type":"choice","values":[")" + std::string(10 << 20, 'x') + R"(",1]}])";
  auto specs = specs_of(text);
  ASSERT_EQ(specs.size(), 1u);
  EXPECT_EQ(std::get<std::string>(std::get<Choice>(specs[0].kind).values[0].data).size(),
            std::size_t{10 << 20});

  text = R"([{"name":"a","type":"choice","values":[)";
  for (int i = 0; i < 1000000; ++i) text += i ? R"(,"ab\n")" : "0";
  text += "]}]";
  specs = specs_of(text);
  ASSERT_EQ(specs.size(), 1u);
  EXPECT_EQ(std::get<Choice>(specs[0].kind).values.size(), 1000000u);
}

// ---- The public JSONTestSuite, kept in tests/data/jsontestsuite with its licence.

std::filesystem::path suite_directory() {
  return std::filesystem::path(TESSARY_SOURCE_DIR) / "tests" / "data" / "jsontestsuite";
}

// The suite's files whose names start with prefix, with their contents.
std::vector<std::pair<std::string, std::string>> suite_files(char prefix) {
  std::vector<std::pair<std::string, std::string>> files;
  for (const auto& entry : std::filesystem::directory_iterator(suite_directory())) {
    const std::string name = entry.path().filename().string();
    if (name[0] != prefix || entry.path().extension() != ".json") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    files.emplace_back(name, std::string(std::istreambuf_iterator<char>(in), {}));
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string as_value_item(std::string_view json) {
  return R"([{"name":"a","type":"choice","values":[)" + std::string(json) + "]}]";
}

std::string as_values(std::string_view json) {
  return R"([{"name":"a","type":"choice","values":)" + std::string(json) + "}]";
}

TEST(JsonTestSuite, AcceptsEveryValidText) {
  const auto files = suite_files('y');
  EXPECT_EQ(files.size(), 95u);
  for (const auto& [name, json] : files)
    EXPECT_EQ(error_of(as_value_item(json)), "no error") << name;
}

TEST(JsonTestSuite, RejectsEveryInvalidTextWithASyntaxError) {
  const std::set<std::string> syntax_messages = {
      "EOF while parsing a list",
      "EOF while parsing an object",
      "EOF while parsing a string",
      "EOF while parsing a value",
      "expected `:`",
      "expected `,` or `]`",
      "expected `,` or `}`",
      "expected ident",
      "expected value",
      "invalid escape",
      "invalid number",
      "number out of range",
      "control character (\\u0000-\\u001F) found while parsing a string",
      "key must be a string",
      "lone leading surrogate in hex escape",
      "trailing comma",
      "trailing characters",
      "unexpected end of hex escape",
      "recursion limit exceeded",
  };
  const auto files = suite_files('n');
  EXPECT_EQ(files.size(), 188u);
  std::size_t skipped = 0;
  for (const auto& [name, json] : files) {
    if (!testing::is_valid_utf8(json)) {  // cannot come from a Python str
      ++skipped;
      continue;
    }
    const auto result = read_specs(as_values(json));
    const auto* error = std::get_if<ReadError>(&result);
    ASSERT_NE(error, nullptr) << name;
    if (name == "n_structure_object_followed_by_closing_object.json") {
      // {}} : the second "}" closes the attribute spec object, whose "values" is then a map.
      EXPECT_EQ(error->display(), "invalid type: map, expected a sequence at line 1 column 41");
      continue;
    }
    EXPECT_EQ(syntax_messages.count(error->message), 1u) << name << ": " << error->display();
  }
  EXPECT_EQ(skipped, 12u);
}

// The implementation-defined texts, decided by this reader's rules: huge exponents are zero or
// "number out of range", long integers become doubles, \u escapes must pair up their surrogates,
// raw bytes are taken as they are (no UTF-8 check), a byte-order mark is no whitespace and nesting
// stops at 127 levels. Each file is placed as an element of "values", at byte 39.
TEST(JsonTestSuite, ImplementationDefinedTextsArePinned) {
  const std::pair<std::string_view, std::string_view> expected[] = {
      {"i_number_double_huge_neg_exp.json", "no error"},
      {"i_number_huge_exp.json", "number out of range at line 1 column 56"},
      {"i_number_neg_int_huge_exp.json", "number out of range at line 1 column 48"},
      {"i_number_pos_double_huge_exp.json", "number out of range at line 1 column 49"},
      {"i_number_real_neg_overflow.json", "number out of range at line 1 column 54"},
      {"i_number_real_pos_overflow.json", "number out of range at line 1 column 53"},
      {"i_number_real_underflow.json", "no error"},
      {"i_number_too_big_neg_int.json", "no error"},
      {"i_number_too_big_pos_int.json", "no error"},
      {"i_number_very_big_negative_int.json", "no error"},
      {"i_object_key_lone_2nd_surrogate.json",
       "lone leading surrogate in hex escape at line 1 column 47"},
      {"i_string_1st_surrogate_but_2nd_missing.json",
       "unexpected end of hex escape at line 1 column 48"},
      {"i_string_1st_valid_surrogate_2nd_invalid.json",
       "lone leading surrogate in hex escape at line 1 column 53"},
      {"i_string_UTF-16LE_with_BOM.json", "expected value at line 1 column 40"},
      {"i_string_UTF-8_invalid_sequence.json", "no error"},
      {"i_string_UTF8_surrogate_U+D800.json", "no error"},
      {"i_string_incomplete_surrogate_and_escape_valid.json",
       "unexpected end of hex escape at line 1 column 49"},
      {"i_string_incomplete_surrogate_pair.json",
       "lone leading surrogate in hex escape at line 1 column 47"},
      {"i_string_incomplete_surrogates_escape_valid.json",
       "lone leading surrogate in hex escape at line 1 column 53"},
      {"i_string_invalid_lonely_surrogate.json",
       "unexpected end of hex escape at line 1 column 48"},
      {"i_string_invalid_surrogate.json", "unexpected end of hex escape at line 1 column 48"},
      {"i_string_invalid_utf-8.json", "no error"},
      {"i_string_inverted_surrogates_U+1D11E.json",
       "lone leading surrogate in hex escape at line 1 column 47"},
      {"i_string_iso_latin_1.json", "no error"},
      {"i_string_lone_second_surrogate.json",
       "lone leading surrogate in hex escape at line 1 column 47"},
      {"i_string_lone_utf8_continuation_byte.json", "no error"},
      {"i_string_not_in_unicode_range.json", "no error"},
      {"i_string_overlong_sequence_2_bytes.json", "no error"},
      {"i_string_overlong_sequence_6_bytes.json", "no error"},
      {"i_string_overlong_sequence_6_bytes_null.json", "no error"},
      {"i_string_truncated-utf-8.json", "no error"},
      {"i_string_utf16BE_no_BOM.json", "expected value at line 1 column 40"},
      {"i_string_utf16LE_no_BOM.json", "expected value at line 1 column 41"},
      {"i_structure_500_nested_arrays.json", "recursion limit exceeded at line 1 column 164"},
      {"i_structure_UTF-8_BOM_empty_object.json", "expected value at line 1 column 40"},
  };
  const auto files = suite_files('i');
  ASSERT_EQ(files.size(), std::size(expected));
  for (std::size_t i = 0; i < files.size(); ++i) {
    EXPECT_EQ(files[i].first, expected[i].first);
    EXPECT_EQ(error_of(as_value_item(files[i].second)), expected[i].second) << files[i].first;
  }
}

}  // namespace
}  // namespace tessary
