// SHA-256, hex, schema ids, and hashing canonical JSON as it is written.
#include <gtest/gtest.h>

#include "base/hash.h"
#include "base/schema.h"

namespace quintrel::base {
namespace {

TEST(Hash, Vectors) {
  EXPECT_EQ(hex_encode(sha256("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(hex_encode(sha256("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // Pieces give the digest of the whole.
  std::string big(1 << 20, 'q');
  Sha256 pieces;
  for (size_t i = 0; i < big.size(); i += 1000) pieces.update(big.data() + i, std::min<size_t>(1000, big.size() - i));
  EXPECT_EQ(pieces.finish(), sha256(big));

  Id a = sha256("a"), b = sha256("b");
  EXPECT_EQ(sha256_concat_ids({}), sha256(""));
  EXPECT_EQ(sha256_concat_ids(std::vector<Id>{a}), sha256(std::span<const uint8_t>(a)));
  EXPECT_NE(sha256_concat_ids(std::vector<Id>{a, b}), sha256_concat_ids(std::vector<Id>{b, a}));
}

TEST(Hash, Hex) {
  for (int i = 0; i < 50; ++i) {
    Id x = sha256(std::to_string(i));
    EXPECT_EQ(hex_decode(hex_encode(x)), x);
  }
  EXPECT_EQ(hex_decode(std::string(64, '0')), Id{});
  std::string upper = std::string(63, '0') + "A", spaced = " " + std::string(63, '0');
  for (const std::string& bad : {upper, spaced, std::string(63, '0'), std::string(65, '0'),
                                 std::string(62, '0') + "\xC3\xA9", "0x" + std::string(62, '0')})
    EXPECT_FALSE(hex_decode(bad)) << bad;
}

TEST(Hash, SchemaIds) {
  EXPECT_EQ(schema_id("quintrel.request.v1"), sha256_utf8("quintrel.request.v1"));
  for (std::string_view name : kSchemaNames) EXPECT_EQ(schema_name_for_id(schema_id(name)), name);
  EXPECT_FALSE(schema_name_for_id(Id{}));
}

TEST(Hash, CanonicalJsonIsHashedAndComparedAsItIsWritten) {
  // Larger than one streamed piece, so the sink sees several.
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
  EXPECT_EQ(sha256_canonical(uint64_t{1} << 60).error().message,
            "integer 1152921504606846976 exceeds the I-JSON safe range required by JCS");
}

}  // namespace
}  // namespace quintrel::base
