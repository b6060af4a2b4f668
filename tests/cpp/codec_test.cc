// The codec engine: structures, enumerations and collections read strictly and
// written canonically, with the reader's messages and positions.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <set>

#include "base/codec.h"

namespace quintrel::base {
namespace {

enum class Color { kRed, kGreen, kBlue };
enum class Pair { kAccept, kReject };

struct Inner {
  std::string path;
  std::string content;
};

struct Sample {
  std::string objective;
  Id scope{};
  std::vector<Inner> items;
  std::optional<Id> parent;
  std::optional<std::vector<uint8_t>> extra;
  Color color = Color::kRed;
  uint8_t small = 0;
};

struct One {
  uint32_t n = 0;
};

}  // namespace

template <>
struct EnumNames<Color> {
  static constexpr std::string_view names[] = {"Red", "Green", "Blue"};
};
template <>
struct EnumNames<Pair> {
  static constexpr std::string_view names[] = {"Accept", "Reject"};
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
  if (r) return "ok";
  return r.error().to_string();
}

TEST(Codec, StructRoundTripAndDefaults) {
  auto v = from_json<Sample>(R"({"scope":)" + kZeros32 + R"(,"objective":"x"})");
  ASSERT_TRUE(v) << v.error().to_string();
  EXPECT_EQ(v->color, Color::kBlue);
  EXPECT_FALSE(v->parent);
  EXPECT_FALSE(v->extra);
  EXPECT_EQ(*canonical_json(*v),
            R"({"color":"Blue","items":[],"objective":"x","parent":null,"scope":)" + kZeros32 + R"(,"small":0})");
  EXPECT_EQ(compact_json(*v),
            R"({"objective":"x","scope":)" + kZeros32 + R"(,"items":[],"parent":null,"color":"Blue","small":0})");
  v->extra = std::vector<uint8_t>{1, 255};
  EXPECT_NE(canonical_json(*v)->find(R"("extra":[1,255])"), std::string::npos);
}

TEST(Codec, ArrayFormWithTrailingDefaults) {
  auto v = from_json<Sample>(R"(["x",)" + kZeros32 + "]");
  ASSERT_TRUE(v) << v.error().to_string();
  EXPECT_EQ(v->color, Color::kBlue);
  EXPECT_EQ(error_of<Sample>(R"(["x"])"), "invalid length 1, expected struct Sample with 7 elements at line 1 column 5");
  EXPECT_EQ(error_of<Inner>(R"(["a","b","c"])"), "trailing characters at line 1 column 10");
  EXPECT_EQ(error_of<One>("[]"), "invalid length 0, expected struct One with 1 element at line 1 column 2");
}

TEST(Codec, StructMessagesAndPositions) {
  struct Case {
    std::string input, expected;
  };
  const Case cases[] = {
      {R"({"n":1,"m":2})", "unknown field `m`, expected `n` at line 1 column 10"},
      {R"({"n":"7"})", R"(invalid type: string "7", expected u32 at line 1 column 8)"},
      {R"({"n":1.5})", "invalid type: floating point `1.5`, expected u32 at line 1 column 8"},
      {R"({"n":-1})", "invalid value: integer `-1`, expected u32 at line 1 column 7"},
      {R"({"n":4294967296})", "invalid value: integer `4294967296`, expected u32 at line 1 column 15"},
      {R"({"n":[1]})", "invalid type: sequence, expected u32 at line 1 column 5"},
      {R"({"n":null})", "invalid type: null, expected u32 at line 1 column 9"},
      {R"({"n":true})", "invalid type: boolean `true`, expected u32 at line 1 column 9"},
      {R"({"n":1e400})", "number out of range at line 1 column 10"},
      {R"({"n":01})", "invalid number at line 1 column 7"},
      {R"("x")", R"(invalid type: string "x", expected struct One at line 1 column 3)"},
      {"5", "invalid type: integer `5`, expected struct One at line 1 column 1"},
      {"", "EOF while parsing a value at line 1 column 0"},
      {"{", "EOF while parsing an object at line 1 column 1"},
      {R"({"n":1)", "EOF while parsing an object at line 1 column 6"},
      {R"({"n":1,})", "trailing comma at line 1 column 8"},
      {R"({"n" 1})", "expected `:` at line 1 column 6"},
      {R"({"n":1 "m":2})", "expected `,` or `}` at line 1 column 8"},
      {R"({n:1})", "key must be a string at line 1 column 2"},
      {R"({"n":1} x)", "trailing characters at line 1 column 9"},
      {"{\"n\":1}\n\n ", "ok"},
      {"\n{\"n\":\n  2,\n\"n\":3}", "duplicate field `n` at line 4 column 3"},
  };
  for (const auto& c : cases) EXPECT_EQ(error_of<One>(c.input), c.expected) << c.input;
  EXPECT_EQ(error_of<Inner>(R"({"path":"a"})"), "missing field `content` at line 1 column 12");
  EXPECT_EQ(error_of<Inner>(R"({"path":"a","path":"b"})"), "duplicate field `path` at line 1 column 18");
  // White space before the colon is consumed before the position is taken.
  EXPECT_EQ(error_of<Inner>(R"({"path":"a","note" :1})"),
            "unknown field `note`, expected `path` or `content` at line 1 column 19");
}

TEST(Codec, Enumerations) {
  EXPECT_EQ(*from_json<Color>(R"("Green")"), Color::kGreen);
  EXPECT_EQ(*from_json<Color>(R"({"Green":null})"), Color::kGreen);
  EXPECT_EQ(error_of<Color>(R"("green")"),
            "unknown variant `green`, expected one of `Red`, `Green`, `Blue` at line 1 column 7");
  EXPECT_EQ(error_of<Pair>(R"("x")"), "unknown variant `x`, expected `Accept` or `Reject` at line 1 column 3");
  EXPECT_EQ(error_of<Color>(R"({"Green":1})"), "invalid type: integer `1`, expected unit at line 1 column 10");
  EXPECT_EQ(error_of<Color>(R"({"Green":null,"Red":null})"), "expected value at line 1 column 13");
  EXPECT_EQ(error_of<Color>("5"), "expected value at line 1 column 1");
  // An unknown name fails before its colon is read, in both forms.
  EXPECT_EQ(error_of<Color>(R"({"Admin":null})"),
            "unknown variant `Admin`, expected one of `Red`, `Green`, `Blue` at line 1 column 8");
  EXPECT_EQ(error_of<Color>(R"({"Admin"})").substr(0, 24), "unknown variant `Admin`,");
  EXPECT_EQ(error_of<Color>("{5:null}"), "invalid type: integer `5`, expected variant identifier at line 1 column 2");
}

TEST(Codec, StrictCollections) {
  using Roles = std::map<std::string, Color>;
  EXPECT_EQ(error_of<Roles>(R"({"a":"Red","a":"Red"})"), "duplicate map key at line 1 column 21");
  EXPECT_EQ(error_of<Roles>(R"({"a":"Red","a":"x"})"),
            "unknown variant `x`, expected one of `Red`, `Green`, `Blue` at line 1 column 18");
  EXPECT_EQ(error_of<Roles>("[]"), "invalid type: sequence, expected a JSON object with unique keys at line 1 column 0");
  EXPECT_EQ(error_of<std::set<std::string>>(R"(["a","a"])"), "duplicate set member at line 1 column 9");
  EXPECT_EQ(compact_json(*from_json<std::set<Color>>(R"(["Blue","Red"])")), R"(["Red","Blue"])");
  using Thresholds = std::map<Color, Color>;
  auto t = from_json<Thresholds>(R"({"Red":"Red","Blue":"Red"})");
  ASSERT_TRUE(t);
  EXPECT_EQ(compact_json(*t), R"({"Red":"Red","Blue":"Red"})");
  EXPECT_EQ(*canonical_json(*t), R"({"Blue":"Red","Red":"Red"})");
  using Pairs = std::map<Id, Color>;
  std::string one = "[1" + std::string(kZeros32.begin() + 2, kZeros32.end());
  auto p = from_json<Pairs>("[[" + one + R"(,"Red"],[)" + kZeros32 + R"(,"Blue"]])");
  ASSERT_TRUE(p);
  EXPECT_EQ(*canonical_json(*p), "[[" + kZeros32 + R"(,"Blue"],[)" + one + R"(,"Red"]])");
  EXPECT_EQ(error_of<Pairs>("[[" + kZeros32 + R"(,"Red"],[)" + kZeros32 + R"(,"Blue"]])").substr(0, 33),
            "duplicate key in pair-encoded map");
  EXPECT_EQ(error_of<Pairs>("[[" + kZeros32 + "]]").substr(0, 45), "invalid length 1, expected a tuple of size 2 ");
  EXPECT_EQ(error_of<Pairs>("{}"),
            "invalid type: map, expected a sequence of unique [key, value] pairs at line 1 column 0");
}

TEST(Codec, ByteArrays) {
  EXPECT_EQ(error_of<Id>("[1,2]"), "invalid length 2, expected an array of length 32 at line 1 column 5");
  EXPECT_EQ(error_of<Id>("[256" + std::string(kZeros32.begin() + 2, kZeros32.end())),
            "invalid value: integer `256`, expected u8 at line 1 column 4");
  EXPECT_EQ(error_of<Id>("[0," + kZeros32.substr(1)), "trailing characters at line 1 column 66");
  auto b = from_json<std::vector<uint8_t>>("[ 0, 7 ,255,10]");
  ASSERT_TRUE(b);
  EXPECT_EQ(*b, (std::vector<uint8_t>{0, 7, 255, 10}));
  EXPECT_EQ(error_of<std::vector<uint8_t>>("[1,-1]"), "invalid value: integer `-1`, expected u8 at line 1 column 5");
  EXPECT_EQ(error_of<std::vector<uint8_t>>("[1,2.0]"), "invalid type: floating point `2.0`, expected u8 at line 1 column 6");
  EXPECT_EQ(error_of<std::vector<uint8_t>>("[1,]"), "trailing comma at line 1 column 4");
  EXPECT_EQ(error_of<std::vector<uint8_t>>("[1 2]"), "expected `,` or `]` at line 1 column 4");
  EXPECT_EQ(error_of<std::vector<uint8_t>>("[1,"), "EOF while parsing a value at line 1 column 3");
  EXPECT_EQ(error_of<std::vector<uint8_t>>("[1"), "EOF while parsing a list at line 1 column 2");
}

}  // namespace
}  // namespace quintrel::base

// Flat id tables: growth keeps every element, equality ignores the order of
// insertion, and an existing element is never overwritten.
#include "base/id_table.h"

namespace quintrel::base {
namespace {

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
  IdTableSet s{ids[0], ids[1]}, t;
  t.insert(ids[1]);
  EXPECT_NE(s, t);
  t.insert(ids[0]);
  EXPECT_EQ(s, t);
}

}  // namespace
}  // namespace quintrel::base
