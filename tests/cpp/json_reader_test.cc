// The strict reader over free JSON values: syntax messages and positions,
// strings, numbers, nesting, skipping, and truncated input.
#include <gtest/gtest.h>

#include <cmath>

#include "base/canonical.h"
#include "base/codec.h"
#include "base/json_reader.h"
#include "base/utf8.h"

namespace quintrel::base {
namespace {

std::string outcome(std::string_view text) {
  auto r = from_json<Json>(text);
  return r ? "ok " + write_compact(*r) : r.error().to_string();
}

TEST(JsonReader, SyntaxMessagesAndPositions) {
  const std::pair<std::string, std::string> cases[] = {
      {"  \n ", "EOF while parsing a value at line 2 column 1"},
      {"[1,2", "EOF while parsing a list at line 1 column 4"},
      {"[1,2,]", "trailing comma at line 1 column 6"},
      {"[1 2]", "expected `,` or `]` at line 1 column 4"},
      {"[1]]", "trailing characters at line 1 column 4"},
      {"{\"a\" 1}", "expected `:` at line 1 column 6"},
      {"{\"a\":1 \"b\"}", "expected `,` or `}` at line 1 column 8"},
      {"{1:2}", "key must be a string at line 1 column 2"},
      {"{", "EOF while parsing an object at line 1 column 1"},
      {"x", "expected value at line 1 column 1"},
      {"tru", "EOF while parsing a value at line 1 column 3"},
      {"trux", "expected ident at line 1 column 4"},
      {"\"abc", "EOF while parsing a string at line 1 column 4"},
      {"\"a\\x\"", "invalid escape at line 1 column 4"},
      {"\"\\u12g4\"", "invalid escape at line 1 column 7"},
      {"\"\\u12", "EOF while parsing a string at line 1 column 5"},
      {"\"\\udc00\"", "lone leading surrogate in hex escape at line 1 column 7"},
      {"\"\\ud800\"", "unexpected end of hex escape at line 1 column 8"},
      {"\"\\ud800\\u0041\"", "lone leading surrogate in hex escape at line 1 column 13"},
      {"\"a\nb\"", "control character (\\u0000-\\u001F) found while parsing a string at line 2 column 0"},
      {"\"\xff\"", "invalid unicode code point at line 1 column 3"},
      {"-a", "invalid number at line 1 column 2"},
      {"01", "invalid number at line 1 column 2"},
      {"1.", "EOF while parsing a value at line 1 column 2"},
      {"1e+x", "invalid number at line 1 column 4"},
      {"1e400", "number out of range at line 1 column 5"},
      {"1e99999999999", "number out of range at line 1 column 12"},
  };
  for (const auto& [input, expected] : cases) EXPECT_EQ(outcome(input), expected) << input;
}

TEST(JsonReader, ValuesAndNumberForms) {
  EXPECT_EQ(outcome(" {\"b\":1,\"a\":[true,false,null],\"b\":2} "), "ok {\"a\":[true,false,null],\"b\":2}");
  EXPECT_EQ(outcome("\"a\\u0000b\\/\\ud83d\\ude02\""), std::string("ok \"a\\u0000b/\xF0\x9F\x98\x82\""));
  auto number = [](std::string_view text) { return from_json<Json>(text)->variant(); };
  EXPECT_EQ(std::get<uint64_t>(number("18446744073709551615")), UINT64_MAX);
  EXPECT_EQ(std::get<double>(number("18446744073709551616")), 18446744073709551616.0);
  EXPECT_EQ(std::get<int64_t>(number("-9223372036854775808")), INT64_MIN);
  EXPECT_EQ(std::get<double>(number("-9223372036854775809")), -9223372036854775809.0);
  EXPECT_TRUE(std::signbit(std::get<double>(number("-0"))));
  EXPECT_EQ(std::get<double>(number("1e-400")), 0.0);
  EXPECT_EQ(std::get<double>(number("0e99999999999")), 0.0);
  // Correctly rounded: the halfway case between two doubles rounds to even.
  EXPECT_EQ(std::get<double>(number("9007199254740993.0")), 9007199254740992.0);
  EXPECT_EQ(std::get<double>(number("2.4703282292062328e-324")), 5e-324);
}

TEST(JsonReader, NestingLimit) {
  auto nested = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
  EXPECT_EQ(outcome(nested(127)).substr(0, 2), "ok");
  EXPECT_EQ(outcome(nested(128)), "recursion limit exceeded at line 1 column 128");
  // A huge run of brackets fails at the limit, without deep recursion.
  EXPECT_EQ(outcome(std::string(64 << 20, '[')), "recursion limit exceeded at line 1 column 128");
}

struct Skipping {
  std::vector<uint8_t> keep;
};

}  // namespace

template <>
struct Fields<Skipping> {
  static constexpr std::string_view name = "Skipping";
  static constexpr bool skip_unknown = true;
  static constexpr auto fields = std::make_tuple(field("keep", &Skipping::keep));
};

namespace {

TEST(JsonReader, SkippedValues) {
  auto read = [](std::string_view text) {
    auto r = from_json<Skipping>(text);
    return r ? "ok " + std::to_string(r->keep.size()) : r.error().to_string();
  };
  // Skipped values are checked for their grammar only: no range, no UTF-8, no depth.
  EXPECT_EQ(read("{\"x\":{\"y\":[1e999,\"\xff\",{}]},\"keep\":[1]}"), "ok 1");
  EXPECT_EQ(read("{\"x\":" + std::string(300, '[') + std::string(300, ']') + ",\"keep\":[]}"), "ok 0");
  EXPECT_EQ(read("{\"x\":[1,],\"keep\":[]}"), "expected value at line 1 column 9");
  EXPECT_EQ(read("{\"x\":{\"a\" 1},\"keep\":[]}"), "expected `:` at line 1 column 11");
  EXPECT_EQ(read("{\"x\":[1 2]}"), "expected `,` or `]` at line 1 column 9");
  EXPECT_EQ(read("{\"x\":" + std::string(1 << 20, '[')), "EOF while parsing a list at line 1 column 1048581");
}

TEST(JsonReader, TruncatedInputAlwaysFails) {
  const std::string doc =
      "{\"id\":[1,2,255],\"text\":\"a\\\"\\u00e9\\ud83d\\ude02\xc3\xa9\",\"n\":[-1,2.5e-3,1E+2,0,"
      "18446744073709551616],\"o\":{\"t\":true,\"f\":false,\"z\":null,\"e\":{},\"a\":[]}}";
  ASSERT_TRUE(from_json<Json>(doc));
  for (size_t n = 0; n < doc.size(); ++n) {
    auto r = from_json<Json>(std::string_view(doc).substr(0, n));
    EXPECT_FALSE(r) << n;
    EXPECT_TRUE(r || r.error().has_position()) << n;
    EXPECT_FALSE(from_json<Skipping>(std::string_view(doc).substr(0, n))) << n;
  }
}

// Strings are scanned eight bytes at a time: what needs escaping (a quote, a
// backslash, a control character) is found at every offset and never taken
// for its neighbours, high bytes included; UTF-8 is checked wherever it sits.
TEST(JsonReader, StringScansAtEveryOffset) {
  for (size_t len = 1; len < 40; ++len)
    for (size_t at = 0; at < len; ++at) {
      for (char special : {'"', '\\', '\x01', '\x1f'}) {
        std::string s(len, 'a');
        for (size_t k = 0; k < at; ++k) s[k] = "\x20\x7f\xa2\xdc\x9f\xe9"[k % 6];
        s[at] = special;
        ASSERT_EQ(find_json_special(s, 0), at) << len << " " << at;
        ASSERT_EQ(find_json_special(s, at + 1), len) << len << " " << at;
      }
      std::string ascii(len, 'a');
      const std::pair<std::string, bool> sequences[] = {
          {"\xc3\xa9", true}, {"\xf0\x9f\x98\x82", true}, {"\xc3", false},
          {"\xed\xa0\x80", false}, {"\xc0\x80", false}, {"\x80", false}};
      for (const auto& [sequence, valid] : sequences)
        ASSERT_EQ(valid_utf8(ascii.substr(0, at) + sequence + ascii.substr(at)), valid) << len << " " << at;
    }
  // Through the reader: the position of a control character deep in a string.
  EXPECT_EQ(outcome("\"" + std::string(20, 'x') + "\x01\""),
            "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 22");
  EXPECT_EQ(outcome("\"" + std::string(20, 'x') + "\\u00e9\\n\""), "ok \"" + std::string(20, 'x') + "\xc3\xa9\\n\"");
}

TEST(JsonReader, DebugQuoting) {
  EXPECT_EQ(debug_quote("a\"b\\c\n\t\r"), R"("a\"b\\c\n\t\r")");
  EXPECT_EQ(debug_quote(std::string("\0\x01\x7f", 3)), R"("\0\u{1}\u{7f}")");
  // Only control characters are escaped: a quote mark, a combining mark and U+2028 stay.
  EXPECT_EQ(debug_quote("\xC3\xA9'e\xCC\x81\xE2\x80\xA8"), "\"\xC3\xA9'e\xCC\x81\xE2\x80\xA8\"");
}

}  // namespace
}  // namespace quintrel::base
