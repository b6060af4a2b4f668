// JSON read and written: the strict reader over free values, the codec
// engine's typed readers and writers, the canonical writer (its numbers checked
// against Node.js as an oracle); SHA-256, hex, ids and id tables, and hashing
// canonical JSON as it is written. (Strict collections: rules_test.)
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>

#include "base/canonical.h"
#include "base/codec.h"
#include "base/hash.h"
#include "base/id.h"
#include "base/id_table.h"
#include "base/json_reader.h"
#include "base/numbers.h"
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

TEST(JsonReader, MessagesPositionsValuesTruncationAndStringScans) {
  auto nested = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
  const std::pair<std::string, std::string> cases[] = {
      {"  \n ", "EOF while parsing a value at line 2 column 1"},
      {"[1,2", "EOF while parsing a list at line 1 column 4"}, {"[1,2,]", "trailing comma at line 1 column 6"},
      {"[1 2]", "expected `,` or `]` at line 1 column 4"}, {"[1]]", "trailing characters at line 1 column 4"},
      {"{\"a\" 1}", "expected `:` at line 1 column 6"}, {"{\"a\":1 \"b\"}", "expected `,` or `}` at line 1 column 8"},
      {"{1:2}", "key must be a string at line 1 column 2"}, {"{", "EOF while parsing an object at line 1 column 1"},
      {"x", "expected value at line 1 column 1"}, {"tru", "EOF while parsing a value at line 1 column 3"},
      {"trux", "expected ident at line 1 column 4"}, {"\"abc", "EOF while parsing a string at line 1 column 4"},
      {"\"a\\x\"", "invalid escape at line 1 column 4"}, {"\"\\u12g4\"", "invalid escape at line 1 column 7"},
      {"\"\\u12", "EOF while parsing a string at line 1 column 5"},
      {"\"\\udc00\"", "lone leading surrogate in hex escape at line 1 column 7"},
      {"\"\\ud800\"", "unexpected end of hex escape at line 1 column 8"},
      {"\"\\ud800\\u0041\"", "lone leading surrogate in hex escape at line 1 column 13"},
      {"\"a\nb\"", "control character (\\u0000-\\u001F) found while parsing a string at line 2 column 0"},
      {"\"\xff\"", "invalid unicode code point at line 1 column 3"}, {"-a", "invalid number at line 1 column 2"},
      {"01", "invalid number at line 1 column 2"}, {"1.", "EOF while parsing a value at line 1 column 2"},
      {"1e+x", "invalid number at line 1 column 4"}, {"1e400", "number out of range at line 1 column 5"},
      {"1e99999999999", "number out of range at line 1 column 12"},
      // The position of a control character deep in a string.
      {"\"" + std::string(20, 'x') + "\x01\"",
       "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 22"},
      {nested(127), "ok " + nested(127)}, {nested(128), "recursion limit exceeded at line 1 column 128"},
      // A huge run of brackets fails at the limit, without deep recursion.
      {std::string(64 << 20, '['), "recursion limit exceeded at line 1 column 128"},
      // Values: the last of a repeated key; integers as read, unsigned or
      // signed, and doubles beyond them, correctly rounded (halfway to even).
      {" {\"b\":1,\"a\":[true,false,null],\"b\":2} ", "ok {\"a\":[true,false,null],\"b\":2}"},
      {"\"a\\u0000b\\/\\ud83d\\ude02\"", "ok \"a\\u0000b/\xF0\x9F\x98\x82\""},
      {"\"" + std::string(20, 'x') + "\\u00e9\\n\"", "ok \"" + std::string(20, 'x') + "\xc3\xa9\\n\""},
      {"18446744073709551615", "ok 18446744073709551615"}, {"18446744073709551616", "ok 1.8446744073709552e19"},
      {"-9223372036854775808", "ok -9223372036854775808"}, {"-9223372036854775809", "ok -9.223372036854776e18"},
      {"-0", "ok -0.0"}, {"1e-400", "ok 0.0"}, {"0e99999999999", "ok 0.0"},
      {"9007199254740993.0", "ok 9007199254740992.0"}, {"2.4703282292062328e-324", "ok 5e-324"},
  };
  for (const auto& [input, expected] : cases) EXPECT_EQ(outcome(input), expected) << input.substr(0, 40);
  const std::string doc =
      "{\"id\":[1,2,255],\"text\":\"a\\\"\\u00e9\\ud83d\\ude02\xc3\xa9\",\"n\":[-1,2.5e-3,1E+2,0,"
      "18446744073709551616],\"o\":{\"t\":true,\"f\":false,\"z\":null,\"e\":{},\"a\":[]}}";
  ASSERT_TRUE(from_json<Json>(doc));
  for (size_t n = 0; n < doc.size(); ++n) {
    auto r = from_json<Json>(std::string_view(doc).substr(0, n));
    EXPECT_TRUE(!r && r.error().has_position()) << n;
    EXPECT_FALSE(from_json<Skipping>(std::string_view(doc).substr(0, n))) << n;
  }
  // Strings are scanned eight bytes at a time: what needs escaping is found at
  // every offset and never taken for its neighbours, high bytes included; UTF-8
  // is checked wherever it sits, and a sequence cut by the end of a view is
  // refused even where the bytes past the end would complete it.
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

// The typed readers' messages and positions, structures and their defaults,
// values skipped, and debug quoting. (Bytes' fast path agrees with the general
// one: below.)
TEST(Codec, TypedReadersSkippedValuesAndTheBytesFastPath) {
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

      {outcome<Color>(R"("Green")"), R"(ok "Green")"}, {outcome<Color>(R"({"Green":null})"), R"(ok "Green")"},
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
      {outcome<Bytes>("[0,7,255,10]"), "ok [0,7,255,10]"}, {outcome<Bytes>("[]"), "ok []"},
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
  // The fast path stops at the first element it cannot read plainly and leaves it
  // to the general path: same values, same errors at the same positions as the
  // general path alone, which a blank after the bracket forces (moving positions
  // on line 1 by one), with an irregular element anywhere in short and long arrays.
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

std::string slurp(const std::filesystem::path& p) {
  std::stringstream ss;
  ss << std::ifstream(p, std::ios::binary).rdbuf();
  return ss.str();
}

std::string jcs(const Json& v) {
  std::string out;
  auto r = write_jcs(v, out);
  return r ? out : "error: " + r.error().message;
}

// String(x) of each value by Node.js, given their IEEE 754 bit patterns in a file.
std::vector<std::string> node_strings(const std::vector<double>& values) {
  const auto input = std::filesystem::temp_directory_path() / ("quintrel-numbers-" + std::to_string(::getpid()));
  {
    std::ofstream out(input);
    for (double v : values) out << std::hex << std::bit_cast<uint64_t>(v) << "\n";
  }
  const std::string cmd =
      "node -e \"const dv=new DataView(new ArrayBuffer(8));process.stdout.write(require('fs')"
      ".readFileSync(process.argv[1],'utf8').trim().split('\\n').map(l=>{dv.setBigUint64(0,BigInt('0x'+l));"
      "return String(dv.getFloat64(0));}).join('\\n')+'\\n');\" " + input.string();
  std::vector<std::string> result;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char line[128];
    while (fgets(line, sizeof line, p)) result.emplace_back(line, std::strcspn(line, "\n"));
    pclose(p);
  }
  std::filesystem::remove(input);
  return result;
}

TEST(Canonical, VectorsKeyOrderScalarsFailuresCompactStyleAndEcmascriptNumbers) {
  const std::filesystem::path dir = std::filesystem::path(QUINTREL_TESTDATA) / "jcs";
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir / "input")) {
    auto value = from_json<Json>(slurp(entry.path()));
    ASSERT_TRUE(value) << entry.path() << ": " << value.error().to_string();
    EXPECT_EQ(jcs(*value), slurp(dir / "output" / entry.path().filename())) << entry.path();
    ++count;
  }
  EXPECT_EQ(count, 6);
  // Number formatting itself is checked against Node.js below.
  const std::string range = " exceeds the I-JSON safe range required by JCS",
                    as_integer = " would serialize as an integer outside the I-JSON safe range required by JCS";
  const std::pair<Json, std::string> cases[] = {
      {Json(std::string("\x0b\x7f/\x08\x1f", 5)), "\"\\u000b\x7f/\\b\\u001f\""},
      {Json("\xE2\x80\xA8"), "\"\xE2\x80\xA8\""},
      {Json(uint64_t{9007199254740991}), "9007199254740991"},
      {Json(int64_t{-9007199254740991}), "-9007199254740991"},
      {Json(uint64_t{9007199254740992}), "error: integer 9007199254740992" + range},
      {Json(int64_t{-9007199254740992}), "error: integer -9007199254740992" + range},
      {Json(9007199254740991.0), "9007199254740991"},
      {Json(9007199254740992.0), "error: number 9007199254740992" + as_integer},
      {Json(-1e16), "error: number -10000000000000000" + as_integer},
      {Json(1e21), "1e+21"},
      {Json(std::nan("")), "error: non-finite number in JCS input"},
      // U+1F600 is a surrogate pair in UTF-16, so it sorts before U+E000 and U+FFFF.
      {Json(Json::Object{{"\xEE\x80\x80", Json(1)}, {"\xF0\x9F\x98\x80", Json(2)}, {"\xEF\xBF\xBF", Json(3)}}),
       "{\"\xF0\x9F\x98\x80\":2,\"\xEE\x80\x80\":1,\"\xEF\xBF\xBF\":3}"},
  };
  for (const auto& [value, expected] : cases) EXPECT_EQ(jcs(value), expected) << expected;
  // The first failure in output order decides, and the buffer is left alone.
  const Json two(Json::Object{{"b", Json(INFINITY)}, {"a", Json(uint64_t{1} << 60)}});
  EXPECT_EQ(jcs(two), "error: integer 1152921504606846976" + range);
  std::string buffer = "kept";
  EXPECT_FALSE(write_jcs(two, buffer));
  EXPECT_EQ(buffer, "kept");
  EXPECT_TRUE(utf16_less("\xC3\xA9", "\xE2\x82\xAC"));  // é before €: elsewhere byte order holds

  // The compact style, for reports and debug texts.
  std::string got;
  for (double x : {1.0, -0.0, 1.5, 1e16, 1234567890123456.0, 0.00001, 0.000001, 1.5e300}) {
    append_ryu_style(got, x);
    got += ' ';
  }
  EXPECT_EQ(got, "1.0 -0.0 1.5 1e16 1234567890123456.0 0.00001 1e-6 1.5e300 ");
  EXPECT_EQ(write_compact(*from_json<Json>(R"({"b":[1.0,-2,3],"a":"\u0000"})")), R"({"a":"\u0000","b":[1.0,-2,3]})");
  // Numbers as ECMAScript writes them, Node.js the oracle.
  std::vector<double> values = {0.0, -0.0, 1.0, -1.0, 0.1, 1e21, 1e-7, 1e-6, 123e-20, 1e20, 5e-324,
                                1.7976931348623157e308, 2.2250738585072014e-308, 9007199254740991.0, 0.000001234,
                                1e100, 4.35, 0.3, 2.0 / 3, 100.0};
  std::mt19937_64 rng(20261206);
  while (values.size() < 60000) {
    double x = std::bit_cast<double>(rng());
    if (std::isfinite(x)) values.push_back(x);
  }
  std::uniform_int_distribution<int> digits(1, 17), exponent(-330, 310);
  while (values.size() < 120000) {
    std::string text = std::to_string(rng() % 10) + ".";
    for (int i = digits(rng); i > 0; --i) text += static_cast<char>('0' + rng() % 10);
    text += "e" + std::to_string(exponent(rng));
    double x = std::strtod(text.c_str(), nullptr);
    if (std::isfinite(x)) values.push_back(x);
  }
  auto expected = node_strings(values);
  ASSERT_EQ(expected.size(), values.size()) << "Node.js is needed as the oracle";
  int mismatches = 0;
  for (size_t i = 0; i < values.size(); ++i) {
    std::string got;
    append_ecmascript(got, values[i]);
    if (got != expected[i] && ++mismatches <= 10)
      ADD_FAILURE() << std::hexfloat << values[i] << ": " << got << " vs " << expected[i];
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(Hash, VectorsHexCanonicalJsonIdOrderAndIdTables) {
  const std::string abc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
  EXPECT_EQ(hex_encode(sha256("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(hex_encode(sha256("abc")), abc);
  EXPECT_EQ(hex_decode(abc), sha256("abc"));  // every hex digit, both ways
  const std::string zeros(62, '0');
  for (const std::string& bad : {zeros + "0A", " 0" + zeros, "0" + zeros, "000" + zeros, zeros + "\xC3\xA9", "0x" + zeros})
    EXPECT_FALSE(hex_decode(bad)) << bad;

  // Pieces give the digest of the whole.
  std::string big(1 << 20, 'q');
  Sha256 pieces;
  for (size_t i = 0; i < big.size(); i += 1000) pieces.update(big.data() + i, std::min<size_t>(1000, big.size() - i));
  EXPECT_EQ(pieces.finish(), sha256(big));

  Id a = sha256("a"), b = sha256("b");
  EXPECT_EQ(sha256_concat_ids({}), sha256(""));
  EXPECT_EQ(sha256_concat_ids(std::vector<Id>{a}), sha256(std::span<const uint8_t>(a)));
  EXPECT_NE(sha256_concat_ids(std::vector<Id>{a, b}), sha256_concat_ids(std::vector<Id>{b, a}));

  // Canonical JSON is hashed and compared as it is written: larger than one
  // streamed piece, so the sink sees several.
  std::vector<uint8_t> bytes(100000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
  const auto value = std::make_tuple(std::string(70000, 'x'), bytes);
  const std::string text = *canonical_json(value);
  EXPECT_EQ(*sha256_canonical(value), sha256(text));
  EXPECT_TRUE(canonical_equals(value, text));
  std::string changed = text;
  changed[text.size() - 3] ^= 1;
  EXPECT_FALSE(canonical_equals(value, changed));
  EXPECT_FALSE(canonical_equals(value, text + " "));
  EXPECT_FALSE(canonical_equals(value, text.substr(0, text.size() - 1)));
  EXPECT_FALSE(sha256_canonical(uint64_t{1} << 60));  // the writer's failure, whose text is pinned above
  // IdLess must order exactly as the bytes do: sorted vectors of ids searched
  // by operator< are matched against IdSets in one ordered pass.
  std::vector<Id> ids{Id{}};
  for (size_t i = 0; i < 32; ++i)
    for (uint8_t b : {0x01, 0x7f, 0x80, 0xff}) {
      Id id{};
      id[i] = b;
      ids.push_back(id);
      id.fill(0xff);
      id[i] = static_cast<uint8_t>(b - 1);
      ids.push_back(id);
    }
  for (int i = 0; i < 64; ++i) ids.push_back(sha256(std::to_string(i)));
  for (const Id& a : ids)
    for (const Id& b : ids) {
      const bool bytes_less = std::memcmp(a.data(), b.data(), a.size()) < 0;
      ASSERT_EQ(IdLess{}(a, b), bytes_less) << hex_encode(a) << " " << hex_encode(b);
      ASSERT_EQ(a < b, bytes_less);
    }
  // Flat id tables: growth keeps every element, equality ignores the order of
  // insertion, and an existing element is never overwritten.
  IdTable<int> ta, tb;
  std::vector<Id> hashed(1000);
  for (int i = 0; i < 1000; ++i) {
    hashed[i] = sha256(std::to_string(i));
    EXPECT_TRUE(ta.try_emplace(hashed[i], i).second);
  }
  EXPECT_FALSE(ta.try_emplace(hashed[7], -1).second);
  EXPECT_EQ(*ta.find(hashed[7]), 7);
  for (int i = 999; i >= 0; --i) tb.try_emplace(hashed[i], i);
  EXPECT_EQ(ta, tb);
  *tb.find(hashed[3]) = 4;
  EXPECT_NE(ta, tb);
  EXPECT_EQ(ta.size(), 1000u);
  EXPECT_FALSE(ta.contains(sha256("absent")));
  EXPECT_NE(IdTableSet{hashed[1]}, (IdTableSet{hashed[0], hashed[1]}));  // a subset is not equal
}

}  // namespace
}  // namespace quintrel::base
