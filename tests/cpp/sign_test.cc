// Ed25519 record signatures: known answers, strict verification, the signed
// message, what a signature survives, and the wiping of secrets.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "base/hash.h"
#include "record/sign.h"

namespace quintrel::record {
namespace {

std::string unhex(std::string_view hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
  return out;
}

Ed25519Signer signer(uint8_t fill) {
  std::array<uint8_t, 32> seed;
  seed.fill(fill);
  return Ed25519Signer::from_secret_bytes(seed);
}

Record sample() {
  return {base::Id{9}, base::Id{1}, base::Id{2}, 7, {"alice", AuthorType::Provider, std::nullopt}, Kind::Plan,
          base::Id{3}, {123, 125}, {{RefType::Cause, base::Id{4}}, {RefType::Use, base::Id{5}}}, Evidence::Inferred};
}

TEST(Sign, Rfc8032Vectors) {
  const char* vectors[][4] = {  // seed, public key, message, signature
      {"9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60",
       "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
       "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e06522490155"
       "5fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe24655141438e7a100b"},
      {"4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb",
       "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
       "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da"
       "085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302aeeb00d291612bb0c00"},
  };
  for (const auto& v : vectors) {
    auto s = Ed25519Signer::from_secret_bytes(*base::hex_decode(v[0]));
    EXPECT_EQ(s.key_id(), v[1]);
    const std::string message = unhex(v[2]), sig = unhex(v[3]);
    auto made = s.sign_bytes(message);
    EXPECT_EQ(std::string(made.begin(), made.end()), sig) << v[1];
    EXPECT_TRUE(verify_strict(s.public_key(), message, base::to_bytes(sig)));
  }
}

TEST(Sign, StrictVerificationAcceptsOnlyTheSoundCase) {
  std::stringstream text;
  text << std::ifstream(QUINTREL_TESTDATA "/ed25519/cases.json").rdbuf();
  auto cases = base::from_json<std::vector<std::map<std::string, std::string>>>(text.str());
  ASSERT_TRUE(cases) << cases.error().to_string();
  ASSERT_EQ(cases->size(), 12u);
  std::vector<size_t> accepted;
  for (size_t i = 0; i < cases->size(); ++i) {
    const auto& c = (*cases)[i];
    const auto sig = base::to_bytes(unhex(c.at("signature")));
    if (verify_strict(*base::hex_decode(c.at("pub_key")), unhex(c.at("message")), sig)) accepted.push_back(i);
  }
  EXPECT_EQ(accepted, std::vector<size_t>{3});
}

TEST(Sign, SignedMessage) {
  const auto a = signer(1);
  Record r = sample();
  auto id = [](uint8_t first) { return base::compact_json(base::Id{first}); };
  const std::string message =
      R"({"domain":"quintrel.record-signature.v0.3","record":{"author":{"id":"alice","type":"Provider"},)"
      R"("data":[123,125],"evidence":"Inferred","kind":"Plan","refs":[{"target":)" + id(4) +
      R"(,"type":"Cause"},{"target":)" + id(5) + R"(,"type":"Use"}],"schema":)" + id(3) + R"(,"space":)" + id(1) +
      R"(,"thread":)" + id(2) + R"(,"time":7}})";
  EXPECT_EQ(base::canonical_json(DomainSeparatedSigningForm{r}), message);
  const auto sig = *a.sign(r);
  EXPECT_EQ(sig.key_id, a.key_id());
  EXPECT_TRUE(verify_strict(a.public_key(), message, sig.sig));

  // The id and a signature already present are not signed (the id covers the
  // signature: record_test).
  r.author.signature = sig;
  r.id.fill(0);
  EXPECT_EQ(base::canonical_json(DomainSeparatedSigningForm{r}), message);
  EXPECT_EQ(a.sign(r), sig);

  // What a signature does not survive. The message is pinned above and
  // verification rebuilds it the same way, so one signed field stands for all.
  EXPECT_EQ(verified_key(r), a.public_key());  // the id changed since signing
  const std::pair<const char*, std::function<void(Record&)>> changes[] = {
      {"author id", [](Record& r) { r.author.id = "alicf"; }},
      {"data byte", [](Record& r) { r.data[1] ^= 1; }},
      {"no signature", [](Record& r) { r.author.signature.reset(); }},
      {"upper-case key id", [](Record& r) { for (char& c : r.author.signature->key_id) c = std::toupper(c); }},
      {"key id not a point", [](Record& r) { r.author.signature->key_id = "02" + std::string(62, '0'); }},
      {"sig of 63", [](Record& r) { r.author.signature->sig.pop_back(); }},
      {"sig of 65", [](Record& r) { r.author.signature->sig.push_back(0); }},
      {"time not encodable", [](Record& r) { r.time = 9007199254740992; }},
      // The identity as key, with R the identity and S zero, passes a
      // cofactorless check for any message, but the key has small order.
      {"small-order key", [](Record& r) {
         r.author.signature = Signature{"01" + std::string(62, '0'), base::Bytes(64, 0)};
         r.author.signature->sig[0] = 1;
       }},
  };
  for (const auto& [what, apply] : changes) {
    Record changed = r;
    apply(changed);
    EXPECT_EQ(verified_key(changed), std::nullopt) << what;
  }
  r.time = 9007199254740992;
  EXPECT_EQ(a.sign(r).error().message, "integer 9007199254740992 exceeds the I-JSON safe range required by JCS");
}

// The seed must not survive in a signer that was moved from or destroyed.
TEST(Sign, SecretIsWiped) {
  const std::string seed(32, '\x07');
  auto holds_seed = [&](const void* p) {
    return std::string_view(static_cast<const char*>(p), sizeof(Ed25519Signer)).find(seed) != std::string::npos;
  };
  auto first = signer(7);
  ASSERT_TRUE(holds_seed(&first));  // the layout this test relies on
  const auto before = first.sign_bytes("m");
  Ed25519Signer second(std::move(first));
  EXPECT_FALSE(holds_seed(&first));
  first = std::move(second);
  EXPECT_FALSE(holds_seed(&second));
  EXPECT_EQ(first.sign_bytes("m"), before);

  alignas(Ed25519Signer) unsigned char storage[sizeof(Ed25519Signer)];
  auto* placed = new (storage) Ed25519Signer(std::move(first));
  placed->~Ed25519Signer();
  EXPECT_FALSE(holds_seed(storage));
}

}  // namespace
}  // namespace quintrel::record
