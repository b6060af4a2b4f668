// Reading JSON: the strict reader over free values (syntax messages and
// positions, strings, numbers, nesting, skipping, truncated input), the codec
// engine's structures, enumerations and bytes read strictly and written
// canonically, with the typed readers' messages and positions; and the flat id
// tables. (Strict collections: rules_test.)
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <random>

#include "base/canonical.h"
#include "base/codec.h"
#include "base/hash.h"
#include "base/id_table.h"
#include "base/json_reader.h"
#include "base/utf8.h"

namespace quintrel::base {
namespace {

enum class Color { kRed, kGreen, kBlue };

struct Inner { std::string path, content; };

struct Sample {
  std::string objective;
  Id scope{};
  std::vector<Inner> items;
  std::optional<Id> parent;
  std::optional<std::vector<uint8_t>> extra;
  Color color = Color::kRed;
  uint8_t small = 0;
};

struct One { uint32_t n = 0; };

struct Skipping {
  std::vector<uint8_t> keep;
};

}  // namespace

template <>
struct EnumNames<Color> {
  static constexpr std::string_view names[] = {"Red", "Green", "Blue"};
};
template <>
struct Fields<Inner> {
  static constexpr std::string_view name = "Inner";
  static constexpr auto fields = std::make_tuple(field("path", &Inner::path), field("content", &Inner::content));
};
template <>
struct Fields<Sample> {
  static constexpr std::string_view name = "Sample";
  static constexpr auto fields = std::make_tuple(
      field("objective", &Sample::objective), field("scope", &Sample::scope),
      field("items", &Sample::items, kDefault), field("parent", &Sample::parent, kDefault),
      field("extra", &Sample::extra, kDefault | kOmitIfAbsent),
      field("color", &Sample::color, kDefault, [](Color& c) { c = Color::kBlue; }),
      field("small", &Sample::small, kDefault));
};
template <>
struct Fields<One> {
  static constexpr std::string_view name = "One";
  static constexpr auto fields = std::make_tuple(field("n", &One::n));
};
template <>
struct Fields<Skipping> {
  static constexpr std::string_view name = "Skipping";
  static constexpr bool skip_unknown = true;
  static constexpr auto fields = std::make_tuple(field("keep", &Skipping::keep));
};

namespace {

const std::string kZeros32 = "[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0]";

// "ok" and the compact text of what was read, or the error with its position.
template <class T = Json>
std::string outcome(std::string_view text) {
  auto r = from_json<T>(text);
  return r ? "ok " + compact_json(*r) : r.error().to_string();
}

TEST(JsonReader, MessagesPositionsAndValues) {
  auto nested = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
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
      // The position of a control character deep in a string.
      {"\"" + std::string(20, 'x') + "\x01\"",
       "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 22"},
      {nested(127), "ok " + nested(127)},
      {nested(128), "recursion limit exceeded at line 1 column 128"},
      // A huge run of brackets fails at the limit, without deep recursion.
      {std::string(64 << 20, '['), "recursion limit exceeded at line 1 column 128"},
      // Values: the last of a repeated key; integers as read, unsigned or
      // signed, and doubles beyond them, correctly rounded (halfway to even).
      {" {\"b\":1,\"a\":[true,false,null],\"b\":2} ", "ok {\"a\":[true,false,null],\"b\":2}"},
      {"\"a\\u0000b\\/\\ud83d\\ude02\"", "ok \"a\\u0000b/\xF0\x9F\x98\x82\""},
      {"\"" + std::string(20, 'x') + "\\u00e9\\n\"", "ok \"" + std::string(20, 'x') + "\xc3\xa9\\n\""},
      {"18446744073709551615", "ok 18446744073709551615"},
      {"18446744073709551616", "ok 1.8446744073709552e19"},
      {"-9223372036854775808", "ok -9223372036854775808"},
      {"-9223372036854775809", "ok -9.223372036854776e18"},
      {"-0", "ok -0.0"},
      {"1e-400", "ok 0.0"},
      {"0e99999999999", "ok 0.0"},
      {"9007199254740993.0", "ok 9007199254740992.0"},
      {"2.4703282292062328e-324", "ok 5e-324"},
  };
  for (const auto& [input, expected] : cases) EXPECT_EQ(outcome(input), expected) << input.substr(0, 40);
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
// for its neighbours, high bytes included; UTF-8 is checked wherever it sits,
// and a sequence cut by the end of the text is refused even where the bytes
// after the end would complete it.
TEST(JsonReader, StringScansAtEveryOffset) {
  const std::pair<std::string, bool> sequences[] = {
      {"\xc3\xa9", true}, {"\xe2\x82\xac", true}, {"\xf0\x9f\x98\x82", true}, {"\xc3", false},
      {"\xed\xa0\x80", false}, {"\xc0\x80", false}, {"\x80", false}};
  for (size_t len = 1; len < 40; ++len)
    for (size_t at = 0; at < len; ++at) {
      for (char special : {'"', '\\', '\x01', '\x1f'}) {
        std::string s(len, 'a');
        for (size_t k = 0; k < at; ++k) s[k] = "\x20\x7f\xa2\xdc\x9f\xe9"[k % 6];
        s[at] = special;
        ASSERT_EQ(find_json_special(s, 0), at) << len << " " << at;
        ASSERT_EQ(find_json_special(s, at + 1), len) << len << " " << at;
      }
      const std::string ascii(len, 'a');
      for (const auto& [sequence, valid] : sequences) {
        const std::string text = ascii.substr(0, at) + sequence + ascii.substr(at);
        ASSERT_EQ(valid_utf8(text), valid) << len << " " << at;
        for (size_t cut = 1; valid && cut < sequence.size(); ++cut)
          ASSERT_FALSE(valid_utf8(std::string_view(text).substr(0, at + cut))) << len << " " << at << " " << cut;
      }
    }
}

// The tokenizer's own messages are pinned above; these are the typed readers'
// and the positions they take, the forms of structures and their defaults,
// values skipped, and the debug quoting of texts. Bytes take a fast path; what
// it cannot read falls back to the general one (their agreement: below).
TEST(Codec, TypedReadersAndSkippedValues) {
  const std::string tail = kZeros32.substr(2), colors = "expected one of `Red`, `Green`, `Blue`";
  const std::string x = R"({"objective":"x","scope":)" + kZeros32, defaults = R"("color":"Blue","small":0})";
  const std::pair<std::string, std::string> cases[] = {
      // Defaults filled in (one by a function), an absent optional left out;
      // the array form may leave trailing defaults off.
      {outcome<Sample>(x + "}"), "ok " + x + R"(,"items":[],"parent":null,)" + defaults},
      {outcome<Sample>(x + R"(,"extra":[1,255]})"), "ok " + x + R"(,"items":[],"parent":null,"extra":[1,255],)" + defaults},
      {*canonical_json(from_json<Sample>(R"(["x",)" + kZeros32 + "]").value()),
       R"({"color":"Blue","items":[],"objective":"x","parent":null,"scope":)" + kZeros32 + R"(,"small":0})"},
      {outcome<Sample>(R"(["x"])"), "invalid length 1, expected struct Sample with 7 elements at line 1 column 5"},
      {outcome<Inner>(R"(["a","b","c"])"), "trailing characters at line 1 column 10"},
      {outcome<One>("[]"), "invalid length 0, expected struct One with 1 element at line 1 column 2"},
      {outcome<One>(R"({"n":1,"m":2})"), "unknown field `m`, expected `n` at line 1 column 10"},
      {outcome<One>(R"({"n":"7"})"), R"(invalid type: string "7", expected u32 at line 1 column 8)"},
      {outcome<One>(R"({"n":4294967296})"), "invalid value: integer `4294967296`, expected u32 at line 1 column 15"},
      {outcome<One>(R"({"n":[1]})"), "invalid type: sequence, expected u32 at line 1 column 5"},
      {outcome<One>(R"({"n":null})"), "invalid type: null, expected u32 at line 1 column 9"},
      {outcome<One>(R"({"n":true})"), "invalid type: boolean `true`, expected u32 at line 1 column 9"},
      {outcome<One>(R"("x")"), R"(invalid type: string "x", expected struct One at line 1 column 3)"},
      {outcome<One>("\n{\"n\":\n  2,\n\"n\":3}"), "duplicate field `n` at line 4 column 3"},
      {outcome<Inner>(R"({"path":"a"})"), "missing field `content` at line 1 column 12"},
      // White space before the colon is consumed before the position is taken.
      {outcome<Inner>(R"({"path":"a","note" :1})"),
       "unknown field `note`, expected `path` or `content` at line 1 column 19"},

      {outcome<Color>(R"("Green")"), R"(ok "Green")"},
      {outcome<Color>(R"({"Green":null})"), R"(ok "Green")"},
      {outcome<Color>(R"("green")"), "unknown variant `green`, " + colors + " at line 1 column 7"},
      {outcome<Color>(R"({"Green":1})"), "invalid type: integer `1`, expected unit at line 1 column 10"},
      {outcome<Color>(R"({"Green":null,"Red":null})"), "expected value at line 1 column 13"},
      {outcome<Color>("5"), "expected value at line 1 column 1"},
      // An unknown name fails before its colon is read.
      {outcome<Color>(R"({"Admin"})"), "unknown variant `Admin`, " + colors + " at line 1 column 8"},
      {outcome<Color>("{5:null}"), "invalid type: integer `5`, expected variant identifier at line 1 column 2"},

      {outcome<Id>("[1,2]"), "invalid length 2, expected an array of length 32 at line 1 column 5"},
      {outcome<Id>("[256" + tail), "invalid value: integer `256`, expected u8 at line 1 column 4"},
      {outcome<Id>("[0," + kZeros32.substr(1)), "trailing characters at line 1 column 66"},
      {outcome<Bytes>("[1,-1]"), "invalid value: integer `-1`, expected u8 at line 1 column 5"},
      {outcome<Bytes>("[1,2.0]"), "invalid type: floating point `2.0`, expected u8 at line 1 column 6"},
      {outcome<Bytes>("[0,7,255,10]"), "ok [0,7,255,10]"},
      {outcome<Bytes>("[]"), "ok []"},
      // Skipped values are checked for their grammar only: no range, no UTF-8, no depth.
      {outcome<Skipping>("{\"x\":{\"y\":[1e999,\"\xff\",{}]},\"keep\":[1]}"), R"(ok {"keep":[1]})"},
      {outcome<Skipping>("{\"x\":" + std::string(300, '[') + std::string(300, ']') + ",\"keep\":[]}"), R"(ok {"keep":[]})"},
      {outcome<Skipping>("{\"x\":[1,],\"keep\":[]}"), "expected value at line 1 column 9"},
      {outcome<Skipping>("{\"x\":{\"a\" 1},\"keep\":[]}"), "expected `:` at line 1 column 11"},
      {outcome<Skipping>("{\"x\":[1 2]}"), "expected `,` or `]` at line 1 column 9"},
      {outcome<Skipping>("{\"x\":" + std::string(1 << 20, '[')), "EOF while parsing a list at line 1 column 1048581"},

      {debug_quote("a\"b\\c\n\t\r"), R"("a\"b\\c\n\t\r")"},
      {debug_quote(std::string("\0\x01\x7f", 3)), R"("\0\u{1}\u{7f}")"},
      // Only control characters are escaped: a quote mark, a combining mark and U+2028 stay.
      {debug_quote("\xC3\xA9'e\xCC\x81\xE2\x80\xA8"), "\"\xC3\xA9'e\xCC\x81\xE2\x80\xA8\""},
  };
  for (const auto& [got, want] : cases) EXPECT_EQ(got, want);
}

// The fast path stops at the first element it cannot read plainly and leaves
// it to the general path, which goes on as it would have: same values, same
// errors at the same positions. The reference is the general path alone, which
// a blank after the bracket forces (moving positions on line 1 by one), on
// arrays with an irregular element anywhere, short and long ones.
TEST(Codec, ByteArraysAgreeWithTheGeneralPath) {
  auto outcome = [](const auto& r, int shift) -> std::string {
    if (r) return "ok " + compact_json(*r);
    JsonError e = r.error();
    if (e.line == 1) e.column -= shift;
    return e.to_string();
  };
  const std::string irregular[] = {"01", "00", "256", "999", "1000", " 7", "7 ", "\t7", "-1", "1.0", "1e2",
                                   "\"7\"", "", "]", "[", "07", "2555"};
  std::mt19937 rng(7);
  for (int round = 0; round < 4000; ++round) {
    const size_t n = round % 4 == 0 ? 4090 + rng() % 12 : rng() % 40;  // around the 4096 buffer too
    std::string body;
    for (size_t i = 0; i < n; ++i) body += (i ? "," : "") + std::to_string(rng() % 256);
    if (rng() % 4) {  // one irregular element, at an element boundary
      const size_t at = body.empty() ? 0 : std::min(body.find(',', rng() % body.size()), body.size());
      body.insert(at, (at ? "," : "") + irregular[rng() % std::size(irregular)] + (at ? "" : ","));
    }
    const std::string end = rng() % 8 ? "]" : "";
    const std::string text = "[" + body + end, general = "[ " + body + end;
    ASSERT_EQ(outcome(from_json<Bytes>(text), 0), outcome(from_json<Bytes>(general), 1)) << text.substr(0, 120);
    ASSERT_EQ(outcome(from_json<Id>(text), 0), outcome(from_json<Id>(general), 1)) << text.substr(0, 120);
  }
}

// Flat id tables: growth keeps every element, equality ignores the order of
// insertion, and an existing element is never overwritten.
TEST(IdTable, GrowsAndCompares) {
  IdTable<int> a, b;
  std::vector<Id> ids(1000);
  for (int i = 0; i < 1000; ++i) {
    ids[i] = sha256(std::to_string(i));
    EXPECT_TRUE(a.try_emplace(ids[i], i).second);
  }
  EXPECT_FALSE(a.try_emplace(ids[7], -1).second);
  EXPECT_EQ(*a.find(ids[7]), 7);
  for (int i = 999; i >= 0; --i) b.try_emplace(ids[i], i);
  EXPECT_EQ(a, b);
  *b.find(ids[3]) = 4;
  EXPECT_NE(a, b);
  EXPECT_EQ(a.size(), 1000u);
  EXPECT_FALSE(a.contains(sha256("absent")));
  EXPECT_NE(IdTableSet{ids[1]}, (IdTableSet{ids[0], ids[1]}));  // a subset is not equal
}

}  // namespace
}  // namespace quintrel::base
