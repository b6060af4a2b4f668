// Receipts: the round trip through bytes and the strict reader's messages.
#include "receipt_fixture.h"

namespace quintrel::receipt {
namespace {

using namespace quintrel::fixture;

TEST(Receipt, RoundTrip) {
  World w;
  one_claim(w);
  const Receipt receipt = receipt_of(w.log);
  const std::string bytes = bytes_of(receipt);
  auto read = Receipt::from_bytes(bytes);
  ASSERT_TRUE(read) << read.error().to_string();
  EXPECT_EQ(*read, receipt);
  EXPECT_EQ(bytes_of(*read), bytes);
  EXPECT_EQ(bytes_of(receipt_of(w.log)), bytes);  // the same log, the same bytes

  // Keys in canonical order, "profiles" only when something is declared;
  // ids and data as arrays of integers. The whole empty receipt: the Python
  // tests.
  EXPECT_TRUE(bytes.starts_with("{\"records\":[{\"author\":")) << bytes.substr(0, 40);

  auto declared = Receipt::with_declared_profiles(receipt, std::vector<std::string>{"quintrel-core-v1"});
  ASSERT_TRUE(declared);
  const std::string with_profiles = bytes_of(*declared);
  EXPECT_TRUE(with_profiles.starts_with("{\"profiles\":[{\"hash\":[")) << with_profiles.substr(0, 40);
  EXPECT_EQ(Receipt::from_bytes(with_profiles).value(), *declared);

  // An empty "profiles" array reads as none and is written without the key.
  std::string explicit_empty = bytes;
  explicit_empty.insert(1, "\"profiles\":[],");
  EXPECT_EQ(bytes_of(Receipt::from_bytes(explicit_empty).value()), bytes);
}

TEST(Receipt, StrictReader) {
  const std::string rules = base::canonical_json(test_rules()).value();
  const std::string ref = "{\"id\":\"p\",\"version\":1,\"hash\":" + base::canonical_json(Id{}).value() + "}";
  const struct {
    std::string json;
    std::string error;  // empty: reads
  } cases[] = {
      {"[\"0.4\",[" + ref + "]," + rules + ",[]]", ""},
      {"{\"spec_version\":\"0.4\",\"profiles\":[[\"p\",1," + base::canonical_json(Id{}).value() + "]],\"rules\":" +
           rules + ",\"records\":[]}",
       ""},
      {"{\"spec_version\":\"0.4\",\"Records\":[]}",
       "unknown field `Records`, expected one of `spec_version`, `profiles`, `rules`, `records` at line 1 column 31"},
      {"{\"spec_version\":\"0.4\",\"spec_version\":\"0.4\"}", "duplicate field `spec_version` at line 1 column 36"},
      {"{\"spec_version\":\"0.4\",\"records\":[]}", "missing field `rules` at line 1 column 35"},
      {"[\"0.4\"]", "invalid length 2, expected struct Receipt with 4 elements at line 1 column 7"},
      {"{\"spec_version\":\"0.4\",\"profiles\":null}",
       "invalid type: null, expected a sequence at line 1 column 37"},
      {"{\"spec_version\":\"0.4\",\"rules\":" + rules + ",\"records\":[]} x",
       "trailing characters at line 1 column " + std::to_string(rules.size() + 46)},
      {"{\"profiles\":[{\"id\":\"p\",\"version\":\"1\"}]}",
       "invalid type: string \"1\", expected u32 at line 1 column 36"},
  };
  for (const auto& c : cases) {
    auto read = Receipt::from_bytes(c.json);
    EXPECT_EQ(read ? "" : read.error().to_string(), c.error) << c.json.substr(0, 80);
  }
}

}  // namespace
}  // namespace quintrel::receipt
