// The canonical writer (RFC 8785 vectors, key order, the three failures,
// ECMAScript number formatting checked against Node.js as an oracle), and
// SHA-256, hex, the order of ids and hashing canonical JSON as it is written.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "base/canonical.h"
#include "base/codec.h"
#include "base/hash.h"
#include "base/id.h"
#include "base/numbers.h"

namespace quintrel::base {
namespace {

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

TEST(Canonical, Rfc8785Vectors) {
  const std::filesystem::path dir = std::filesystem::path(QUINTREL_TESTDATA) / "jcs";
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir / "input")) {
    auto value = from_json<Json>(slurp(entry.path()));
    ASSERT_TRUE(value) << entry.path() << ": " << value.error().to_string();
    EXPECT_EQ(jcs(*value), slurp(dir / "output" / entry.path().filename())) << entry.path();
    ++count;
  }
  EXPECT_EQ(count, 6);
}

// Number formatting itself is checked against Node.js below.
TEST(Canonical, KeyOrderScalarsTheThreeFailuresAndCompactStyle) {
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

TEST(Canonical, NumbersMatchEcmascript) {
  std::vector<double> values = {0.0,    -0.0,   1.0,    -1.0,    0.1,          1e21,   1e-7,   1e-6,
                                123e-20, 1e20,  5e-324, 1.7976931348623157e308, 2.2250738585072014e-308,
                                9007199254740991.0, 0.000001234, 1e100, 4.35, 0.3, 2.0 / 3, 100.0};
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

TEST(Hash, VectorsHexAndCanonicalJson) {
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
}

// IdLess must order exactly as the bytes do: sorted vectors of ids searched
// by operator< are matched against IdSets in one ordered pass.
TEST(Id, IdLessIsByteOrder) {
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
}

}  // namespace
}  // namespace quintrel::base
