#include "talvik/json.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "talvik/crypto.hpp"

namespace {

using talvik::json::Reader;
using talvik::json::ValueKind;
using talvik::json::Writer;

// The plain morpheme map is the simplest shape the reader serves: every
// syntax fault and every wrong value type surfaces through it with a position.
std::string map_fault(std::string_view text) {
  auto map = talvik::parse_plain_map(text);
  if (map) return "<accepted>";
  return map.error().describe();
}

TEST(JsonReader, FaultsNameTheirLineAndColumn) {
  struct Case {
    std::string_view text;
    const char* fault;
  };
  const Case cases[] = {
      {"", "EOF while parsing a value at line 1 column 1"},
      {"   ", "EOF while parsing a value at line 1 column 4"},
      {"{} {}", "trailing characters at line 1 column 4"},
      {"{}x", "trailing characters at line 1 column 3"},
      {"[1]", "invalid type: sequence, expected a map at line 1 column 1"},
      {"\"m\"", "invalid type: string \"m\", expected a map at line 1 column 1"},
      {"nul", "EOF while parsing a value at line 1 column 4"},
      {"{\"a\": 5}", "invalid type: integer `5`, expected a string at line 1 column 7"},
      {"{\"a\": -12}", "invalid type: integer `-12`, expected a string at line 1 column 7"},
      {"{\"a\":null}", "invalid type: null, expected a string at line 1 column 6"},
      {"{\"a\":true}", "invalid type: boolean `true`, expected a string at line 1 column 6"},
      {"{\"a\":false}", "invalid type: boolean `false`, expected a string at line 1 column 6"},
      {"{\"a\":{}}", "invalid type: map, expected a string at line 1 column 6"},
      {"{\"a\":[]}", "invalid type: sequence, expected a string at line 1 column 6"},
      {"{\n  \"a\": \"b\",\n  \"c\": 1.5e3\n}",
       "invalid type: floating point `1.5e3`, expected a string at line 3 column 8"},
      {"{\r\n\"a\":1}", "invalid type: integer `1`, expected a string at line 2 column 5"},
      {"{\"a\":tru}", "invalid literal at line 1 column 9"},
      {"{\"a\":-}", "invalid number at line 1 column 7"},
      {"{\"a\":01}", "invalid number at line 1 column 7"},
      {"{\"a\":1.}", "invalid number at line 1 column 8"},
      {"{\"a\":1e}", "invalid number at line 1 column 8"},
      {"{\"a\":1e", "EOF while parsing a number at line 1 column 8"},
      {"{\"a\":x}", "expected value at line 1 column 6"},
      {"{\"a\":\"b\",}", "trailing comma at line 1 column 10"},
      {"{\"a\" \"b\"}", "expected `:` at line 1 column 6"},
      {"{\"a\":\"b\" \"c\":\"d\"}", "expected `,` or `}` at line 1 column 10"},
      {"{,}", "key must be a string at line 1 column 2"},
      {"{\"a\":\"b\"", "EOF while parsing an object at line 1 column 9"},
      {"{\"a\":\"b", "EOF while parsing a string at line 1 column 8"},
      {"{\"a\"", "EOF while parsing an object at line 1 column 5"},
      {"{\"a\":", "EOF while parsing a value at line 1 column 6"},
      // Columns count characters: the Arabic letter is two bytes but one column.
      {"{\"\xD9\x83\":\"x\", 1:2}", "key must be a string at line 1 column 11"},
      {"{\"a\":\"\\x\"}", "invalid escape at line 1 column 8"},
      {"{\"a\":\"\\u12G4\"}", "invalid hex digit in \\u escape at line 1 column 11"},
      {"{\"a\":\"\\u12", "EOF while parsing a string at line 1 column 11"},
      {"{\"a\":\"\\ud800\"}", "lone surrogate in \\u escape at line 1 column 7"},
      {"{\"a\":\"\\udc00\"}", "lone surrogate in \\u escape at line 1 column 7"},
      {"{\"a\":\"\\ud800\\u0041\"}", "lone surrogate in \\u escape at line 1 column 7"},
      {"{\"a\":\"\\ud800\\n\"}", "lone surrogate in \\u escape at line 1 column 7"},
      {"{\"a\":\"\\ud800\\", "EOF while parsing a string at line 1 column 14"},
      {"{\"a\":\"\t\"}", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 7"},
      {"{\"a\":\"\xFF\"}", "invalid UTF-8 in string at line 1 column 7"},
      {"{\"a\":\"\xD9\"}", "invalid UTF-8 in string at line 1 column 7"},
      {"{\"a\":\"\xED\xA0\x80\"}", "invalid UTF-8 in string at line 1 column 7"},
  };
  for (const auto& c : cases) EXPECT_EQ(map_fault(c.text), c.fault) << c.text;
}

TEST(JsonReader, EscapesAreDecoded) {
  auto map = talvik::parse_plain_map(
      R"({"\u0041\u00e9\u0628\uD83D\uDE00\"\\\/\b\f\n\r\t": "\ue000", "plain": "\u0000"})");
  ASSERT_TRUE(map) << map.error().describe();
  ASSERT_EQ(map->size(), 2u);
  EXPECT_EQ(map->entries()[0].first, "A\xC3\xA9\xD8\xA8\xF0\x9F\x98\x80\"\\/\b\f\n\r\t");
  EXPECT_EQ(map->entries()[0].second, "\xEE\x80\x80");
  EXPECT_EQ(map->entries()[1].second, std::string("\0", 1));
}

TEST(JsonReader, RepeatedNameKeepsLaterValueInFirstPlace) {
  auto map = talvik::parse_plain_map("{\"a\":\"1\",\"b\":\"2\",\"a\":\"3\"}  \r\n\t");
  ASSERT_TRUE(map);
  const std::vector<talvik::MorphemeMap::Entry> expected = {{"a", "3"}, {"b", "2"}};
  EXPECT_EQ(map->entries(), expected);
}

std::string nested_arrays(std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); }

TEST(JsonReader, NestingIsBounded) {
  const std::string deepest_allowed = nested_arrays(talvik::json::kMaxDepth);
  const std::string one_too_deep = nested_arrays(talvik::json::kMaxDepth + 1);
  {
    Reader r(deepest_allowed);
    EXPECT_TRUE(r.skip_value());
    EXPECT_TRUE(r.finish());
  }
  {
    Reader r(one_too_deep);
    auto skipped = r.skip_value();
    ASSERT_FALSE(skipped);
    EXPECT_EQ(skipped.error().describe(), "recursion limit exceeded at line 1 column 129");
  }
  // Hostile depth: refused long before the stack is at risk.
  const std::string deep = std::string(1'000'000, '[');
  Reader r(deep);
  EXPECT_FALSE(r.skip_value());
  const std::string deep_objects = [] {
    std::string s;
    for (int i = 0; i < 100'000; ++i) s += "{\"k\":";
    return s;
  }();
  Reader objects(deep_objects);
  auto skipped = objects.skip_value();
  ASSERT_FALSE(skipped);
  EXPECT_EQ(skipped.error().message, "recursion limit exceeded");
}

TEST(JsonReader, UnsignedIntegersWithinBounds) {
  struct Case {
    std::string_view text;
    std::uint64_t max;
    const char* result;  // the value, or the fault
  };
  const Case cases[] = {
      {"0", talvik::json::kU32Max, "0"},
      {" 4294967295 ", talvik::json::kU32Max, "4294967295"},
      {"-0", talvik::json::kU32Max, "0"},
      {"4294967296", talvik::json::kU32Max,
       "invalid value: integer `4294967296`, expected an integer from 0 to 4294967295 at line 1 column 1"},
      {"-1", talvik::json::kU32Max,
       "invalid value: integer `-1`, expected an integer from 0 to 4294967295 at line 1 column 1"},
      {"18446744073709551615", talvik::json::kU64Max, "18446744073709551615"},
      {"18446744073709551616", talvik::json::kU64Max,
       "invalid value: integer `18446744073709551616`, expected an integer from 0 to 18446744073709551615 at line 1 "
       "column 1"},
      {"256", 255, "invalid value: integer `256`, expected an integer from 0 to 255 at line 1 column 1"},
      {"1e3", 255, "invalid type: floating point `1e3`, expected an integer from 0 to 255 at line 1 column 1"},
      {"2.0", 255, "invalid type: floating point `2.0`, expected an integer from 0 to 255 at line 1 column 1"},
      {"\"5\"", 255, "invalid type: string \"5\", expected an integer from 0 to 255 at line 1 column 1"},
  };
  for (const auto& c : cases) {
    Reader r(c.text);
    auto value = r.read_uint(c.max);
    EXPECT_EQ(value ? std::to_string(*value) : value.error().describe(), c.result) << c.text;
  }
}

TEST(JsonReader, WalksNestedShapes) {
  // The shape of a merges file: an array of objects holding arrays.
  Reader r(R"( [ {"pair": [[97], [98]], "rank": 7, "extra": {"x": [null, true, 1.5, "s"]}}, [] ] )");
  ASSERT_EQ(r.peek(), ValueKind::Array);
  ASSERT_TRUE(r.begin_array("a list"));
  ASSERT_TRUE(*r.next_element());
  ASSERT_TRUE(r.begin_object("a rule"));
  std::string_view name;
  std::vector<std::string> seen;
  std::vector<std::uint64_t> bytes;
  while (*r.next_member(name)) {
    seen.emplace_back(name);
    if (name == "pair") {
      ASSERT_TRUE(r.begin_array("a pair"));
      while (*r.next_element()) {
        ASSERT_TRUE(r.begin_array("bytes"));
        while (*r.next_element()) bytes.push_back(*r.read_uint(255));
      }
    } else if (name == "rank") {
      EXPECT_EQ(*r.read_uint(talvik::json::kU32Max), 7u);
    } else {
      ASSERT_TRUE(r.skip_value());
    }
  }
  ASSERT_TRUE(*r.next_element());
  ASSERT_TRUE(r.begin_array("a list"));
  EXPECT_FALSE(*r.next_element());
  EXPECT_FALSE(*r.next_element());
  EXPECT_TRUE(r.finish());
  EXPECT_EQ(seen, (std::vector<std::string>{"pair", "rank", "extra"}));
  EXPECT_EQ(bytes, (std::vector<std::uint64_t>{97, 98}));
}

TEST(JsonWriter, EscapesOnlyWhatMustBe) {
  std::string out;
  static constexpr char kInput[] = "q\"b\\ \b\t\n\f\r\x01\x1f\x7f/ \xD8\xA8\xEE\x80\x80 \0";
  EXPECT_TRUE(talvik::json::append_string(out, std::string_view(kInput, sizeof kInput - 1)));
  EXPECT_EQ(out, std::string("\"q\\\"b\\\\ \\b\\t\\n\\f\\r\\u0001\\u001f\x7f/ \xD8\xA8\xEE\x80\x80 \\u0000\""));
  std::string bad;
  EXPECT_FALSE(talvik::json::append_string(bad, "a\xFF"));
}

TEST(JsonWriter, PrettyAndCompactLayouts) {
  const auto write = [](Writer::Layout layout) {
    Writer w(layout);
    w.begin_array();
    w.begin_object();
    w.name("pair");
    w.begin_array();
    w.begin_array();
    w.number(97);
    w.end_array();
    w.begin_array();
    w.end_array();
    w.end_array();
    w.name("rank");
    w.number(4294967295u);
    w.name("empty");
    w.begin_object();
    w.end_object();
    w.end_object();
    w.string("s");
    w.end_array();
    return *std::move(w).finish();
  };
  EXPECT_EQ(write(Writer::Layout::Compact), R"([{"pair":[[97],[]],"rank":4294967295,"empty":{}},"s"])");
  EXPECT_EQ(write(Writer::Layout::Pretty),
            "[\n"
            "  {\n"
            "    \"pair\": [\n"
            "      [\n"
            "        97\n"
            "      ],\n"
            "      []\n"
            "    ],\n"
            "    \"rank\": 4294967295,\n"
            "    \"empty\": {}\n"
            "  },\n"
            "  \"s\"\n"
            "]");
  Writer empty(Writer::Layout::Pretty);
  empty.begin_object();
  empty.end_object();
  EXPECT_EQ(*std::move(empty).finish(), "{}");
}

TEST(JsonWriter, RefusesTextThatIsNotUtf8) {
  Writer w;
  w.begin_object();
  w.name("ok");
  w.string("\xC3");
  w.end_object();
  auto text = std::move(w).finish();
  ASSERT_FALSE(text);
  EXPECT_EQ(text.error(), "string is not valid UTF-8");
}

// Every character below U+0080 and a few beyond, as names and values, comes
// back unchanged through the compact writer and the reader.
TEST(JsonRoundTrip, EveryAsciiCharacterSurvives) {
  talvik::MorphemeMap map;
  for (int c = 0; c < 0x80; ++c) {
    std::string key(1, static_cast<char>(c));
    key += 'k';
    std::string value = "v";
    value += static_cast<char>(c);
    map.insert(std::move(key), std::move(value));
  }
  map.insert("\xD9\x83\xD8\xAA\xD8\xA7\xD8\xA8", "\xF3\xB0\x80\x80");
  map.insert("", "");
  auto text = talvik::write_plain_map(map);
  ASSERT_TRUE(text);
  auto back = talvik::parse_plain_map(*text);
  ASSERT_TRUE(back) << back.error().describe();
  EXPECT_EQ(*back, map);
}

}  // namespace
