// SHA-256, hex, the order of ids, and hashing canonical JSON as it is written.
#include <gtest/gtest.h>

#include <cstring>

#include "base/hash.h"
#include "base/id.h"

namespace quintrel::base {
namespace {

TEST(Hash, VectorsAndHex) {
  const std::string abc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
  EXPECT_EQ(hex_encode(sha256("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(hex_encode(sha256("abc")), abc);
  EXPECT_EQ(hex_decode(abc), sha256("abc"));  // every hex digit, both ways
  std::string upper = std::string(63, '0') + "A", spaced = " " + std::string(63, '0');
  for (const std::string& bad : {upper, spaced, std::string(63, '0'), std::string(65, '0'),
                                 std::string(62, '0') + "\xC3\xA9", "0x" + std::string(62, '0')})
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
