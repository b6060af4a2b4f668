// The canonical writer: RFC 8785 vectors, key order, the three failures and
// ECMAScript number formatting checked against Node.js as an oracle.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "base/canonical.h"
#include "base/codec.h"
#include "base/numbers.h"

namespace quintrel::base {
namespace {

std::string slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
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

TEST(Canonical, KeyOrderIsUtf16) {
  Json::Object o;
  for (const char* k : {"aa", "a", "B", ""}) o[k] = Json(1);
  EXPECT_EQ(jcs(Json(o)), R"({"":1,"B":1,"a":1,"aa":1})");
  Json::Object u;
  u["\xEE\x80\x80"] = Json(1);          // U+E000
  u["\xF0\x9F\x98\x80"] = Json(2);      // U+1F600: surrogates sort first
  u["\xEF\xBF\xBF"] = Json(3);          // U+FFFF
  EXPECT_EQ(jcs(Json(u)), "{\"\xF0\x9F\x98\x80\":2,\"\xEE\x80\x80\":1,\"\xEF\xBF\xBF\":3}");
  EXPECT_TRUE(utf16_less("\xF0\x9F\x98\x80", "\xEE\x80\x80"));
  EXPECT_FALSE(utf16_less("\xEE\x80\x80", "\xF0\x9F\x98\x80"));
  EXPECT_TRUE(utf16_less("a", "ab"));
  EXPECT_TRUE(utf16_less("\xC3\xA9", "\xE2\x82\xAC"));  // é before €
}

TEST(Canonical, ScalarsAndFailures) {
  EXPECT_EQ(jcs(Json(Json::Object{})), "{}");
  EXPECT_EQ(jcs(Json(Json::Array{})), "[]");
  EXPECT_EQ(jcs(Json("")), "\"\"");
  EXPECT_EQ(jcs(Json(std::string("\x0b\x7f/\x08\x1f", 5))), "\"\\u000b\x7f/\\b\\u001f\"");
  EXPECT_EQ(jcs(Json(std::string("\xE2\x80\xA8", 3))), "\"\xE2\x80\xA8\"");
  EXPECT_EQ(jcs(Json(uint64_t{9007199254740991})), "9007199254740991");
  EXPECT_EQ(jcs(Json(int64_t{-9007199254740991})), "-9007199254740991");
  EXPECT_EQ(jcs(Json(uint64_t{9007199254740992})),
            "error: integer 9007199254740992 exceeds the I-JSON safe range required by JCS");
  EXPECT_EQ(jcs(Json(int64_t{-9007199254740992})),
            "error: integer -9007199254740992 exceeds the I-JSON safe range required by JCS");
  EXPECT_EQ(jcs(Json(9007199254740991.0)), "9007199254740991");
  EXPECT_EQ(jcs(Json(9007199254740992.0)),
            "error: number 9007199254740992 would serialize as an integer outside the I-JSON safe range "
            "required by JCS");
  EXPECT_EQ(jcs(Json(-1e16)),
            "error: number -10000000000000000 would serialize as an integer outside the I-JSON safe "
            "range required by JCS");
  EXPECT_EQ(jcs(Json(1e21)), "1e+21");
  EXPECT_EQ(jcs(Json(1.5)), "1.5");
  EXPECT_EQ(jcs(Json(5.0)), "5");
  EXPECT_EQ(jcs(Json(-0.0)), "0");
  EXPECT_EQ(jcs(Json(0.000001)), "0.000001");
  EXPECT_EQ(jcs(Json(1e-7)), "1e-7");
  EXPECT_EQ(jcs(Json(1e6)), "1000000");
  EXPECT_EQ(jcs(Json(std::nan(""))), "error: non-finite number in JCS input");
  EXPECT_EQ(jcs(Json(-INFINITY)), "error: non-finite number in JCS input");
  // The first failure in output order decides.
  Json::Object two;
  two["b"] = Json(INFINITY);
  two["a"] = Json(uint64_t{1} << 60);
  EXPECT_EQ(jcs(Json(two)), "error: integer 1152921504606846976 exceeds the I-JSON safe range required by JCS");
  std::string buffer = "kept";
  EXPECT_FALSE(write_jcs(Json(two), buffer));
  EXPECT_EQ(buffer, "kept");
}

TEST(Canonical, CompactStyle) {
  auto compact = [](double x) {
    std::string s;
    append_ryu_style(s, x);
    return s;
  };
  EXPECT_EQ(compact(1.0), "1.0");
  EXPECT_EQ(compact(-0.0), "-0.0");
  EXPECT_EQ(compact(1.5), "1.5");
  EXPECT_EQ(compact(1e16), "1e16");
  EXPECT_EQ(compact(1234567890123456.0), "1234567890123456.0");
  EXPECT_EQ(compact(0.0001), "0.0001");
  EXPECT_EQ(compact(0.00001), "0.00001");
  EXPECT_EQ(compact(0.000001), "1e-6");
  EXPECT_EQ(compact(1.5e300), "1.5e300");
  EXPECT_EQ(write_compact(*from_json<Json>(R"({"b":[1.0,-2,3],"a":"\u0000"})")),
            R"({"a":"\u0000","b":[1.0,-2,3]})");
}

// Runs Node.js over a file of IEEE 754 bit patterns and returns String(x) of each.
std::vector<std::string> node_strings(const std::vector<double>& values) {
  auto dir = std::filesystem::temp_directory_path();
  auto input = dir / ("quintrel-numbers-" + std::to_string(::getpid()) + ".txt");
  {
    std::ofstream out(input);
    for (double v : values) out << std::hex << std::bit_cast<uint64_t>(v) << "\n";
  }
  std::string script =
      "const fs=require('fs');const lines=fs.readFileSync(process.argv[1],'utf8').trim().split('\\n');"
      "const dv=new DataView(new ArrayBuffer(8));let out=[];"
      "for(const l of lines){dv.setBigUint64(0,BigInt('0x'+l));out.push(String(dv.getFloat64(0)));}"
      "process.stdout.write(out.join('\\n')+'\\n');";
  std::string cmd = "node -e \"" + script + "\" " + input.string();
  std::vector<std::string> result;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char line[128];
    while (fgets(line, sizeof line, p)) {
      std::string s(line);
      if (!s.empty() && s.back() == '\n') s.pop_back();
      result.push_back(s);
    }
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
    std::string text = std::to_string(rng() % 10);
    int n = digits(rng);
    text += ".";
    for (int i = 0; i < n; ++i) text += static_cast<char>('0' + rng() % 10);
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

}  // namespace
}  // namespace quintrel::base
