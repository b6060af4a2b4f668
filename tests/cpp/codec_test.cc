// The codec engine: structures, enumerations and bytes read strictly and
// written canonically, with the typed readers' messages and positions; and the
// flat id tables. (Strict collections: strict_collections_test.)
#include <gtest/gtest.h>

#include <optional>
#include <random>

#include "base/codec.h"
#include "base/hash.h"
#include "base/id_table.h"

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

namespace {

const std::string kZeros32 = "[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0]";

template <class T>
std::string error_of(std::string_view text) {
  auto r = from_json<T>(text);
  return r ? "ok" : r.error().to_string();
}

TEST(Codec, StructFormsAndDefaults) {
  auto v = from_json<Sample>(R"({"scope":)" + kZeros32 + R"(,"objective":"x"})");
  ASSERT_TRUE(v) << v.error().to_string();
  EXPECT_EQ(*canonical_json(*v),
            R"({"color":"Blue","items":[],"objective":"x","parent":null,"scope":)" + kZeros32 + R"(,"small":0})");
  EXPECT_EQ(compact_json(*v),
            R"({"objective":"x","scope":)" + kZeros32 + R"(,"items":[],"parent":null,"color":"Blue","small":0})");
  v->extra = std::vector<uint8_t>{1, 255};
  EXPECT_NE(canonical_json(*v)->find(R"("extra":[1,255])"), std::string::npos);

  // The array form may leave trailing defaults off.
  auto a = from_json<Sample>(R"(["x",)" + kZeros32 + "]");
  ASSERT_TRUE(a) << a.error().to_string();
  EXPECT_EQ(a->color, Color::kBlue);
  EXPECT_EQ(error_of<Sample>(R"(["x"])"), "invalid length 1, expected struct Sample with 7 elements at line 1 column 5");
  EXPECT_EQ(error_of<Inner>(R"(["a","b","c"])"), "trailing characters at line 1 column 10");
  EXPECT_EQ(error_of<One>("[]"), "invalid length 0, expected struct One with 1 element at line 1 column 2");
}

// The tokenizer's own messages are pinned in json_reader_test; these are the
// typed readers' and the positions they take.
TEST(Codec, StructMessagesAndPositions) {
  const std::pair<std::string, std::string> cases[] = {
      {R"({"n":1,"m":2})", "unknown field `m`, expected `n` at line 1 column 10"},
      {R"({"n":"7"})", R"(invalid type: string "7", expected u32 at line 1 column 8)"},
      {R"({"n":4294967296})", "invalid value: integer `4294967296`, expected u32 at line 1 column 15"},
      {R"({"n":[1]})", "invalid type: sequence, expected u32 at line 1 column 5"},
      {R"({"n":null})", "invalid type: null, expected u32 at line 1 column 9"},
      {R"({"n":true})", "invalid type: boolean `true`, expected u32 at line 1 column 9"},
      {R"("x")", R"(invalid type: string "x", expected struct One at line 1 column 3)"},
      {"\n{\"n\":\n  2,\n\"n\":3}", "duplicate field `n` at line 4 column 3"},
  };
  for (const auto& [input, expected] : cases) EXPECT_EQ(error_of<One>(input), expected) << input;
  EXPECT_EQ(error_of<Inner>(R"({"path":"a"})"), "missing field `content` at line 1 column 12");
  // White space before the colon is consumed before the position is taken.
  EXPECT_EQ(error_of<Inner>(R"({"path":"a","note" :1})"),
            "unknown field `note`, expected `path` or `content` at line 1 column 19");
}

TEST(Codec, Enumerations) {
  EXPECT_EQ(*from_json<Color>(R"("Green")"), Color::kGreen);
  EXPECT_EQ(*from_json<Color>(R"({"Green":null})"), Color::kGreen);
  EXPECT_EQ(error_of<Color>(R"("green")"),
            "unknown variant `green`, expected one of `Red`, `Green`, `Blue` at line 1 column 7");
  EXPECT_EQ(error_of<Color>(R"({"Green":1})"), "invalid type: integer `1`, expected unit at line 1 column 10");
  EXPECT_EQ(error_of<Color>(R"({"Green":null,"Red":null})"), "expected value at line 1 column 13");
  EXPECT_EQ(error_of<Color>("5"), "expected value at line 1 column 1");
  // An unknown name fails before its colon is read.
  EXPECT_EQ(error_of<Color>(R"({"Admin"})"),
            "unknown variant `Admin`, expected one of `Red`, `Green`, `Blue` at line 1 column 8");
  EXPECT_EQ(error_of<Color>("{5:null}"), "invalid type: integer `5`, expected variant identifier at line 1 column 2");
}

// Bytes take a fast path; what it cannot read falls back to the general one.
// The tokenizer's messages on either path are checked by the agreement below.
TEST(Codec, ByteArrays) {
  const std::string tail = kZeros32.substr(2);
  const std::pair<std::string, std::string> ids[] = {
      {"[1,2]", "invalid length 2, expected an array of length 32 at line 1 column 5"},
      {"[256" + tail, "invalid value: integer `256`, expected u8 at line 1 column 4"},
      {"[0," + kZeros32.substr(1), "trailing characters at line 1 column 66"},
  };
  for (const auto& [input, expected] : ids) EXPECT_EQ(error_of<Id>(input), expected) << input;
  EXPECT_EQ(error_of<Bytes>("[1,-1]"), "invalid value: integer `-1`, expected u8 at line 1 column 5");
  EXPECT_EQ(error_of<Bytes>("[1,2.0]"), "invalid type: floating point `2.0`, expected u8 at line 1 column 6");
  EXPECT_EQ(from_json<Bytes>("[0,7,255,10]"), (Bytes{0, 7, 255, 10}));
  EXPECT_EQ(from_json<Bytes>("[]"), Bytes{});
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
