// Records: the stored form and its strict reader, the content-address id over
// the id form, the order of refs, the shared vocabularies, and Ed25519 record
// signatures (known answers, strict verification, the signed message, what a
// signature survives, the wiping of secrets).
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "base/hash.h"
#include "base/schema.h"
#include "id_text.h"
#include "record/evidence.h"
#include "record/record.h"
#include "record/schema.h"
#include "record/sign.h"

namespace quintrel::record {
namespace {

using fixture::id_text;

base::Id filled(uint8_t byte) {
  base::Id id;
  return id.fill(byte), id;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  auto at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

std::string unhex(std::string_view hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
  return out;
}

Ed25519Signer signer(uint8_t fill) { return Ed25519Signer::from_secret_bytes(filled(fill)); }

template <class T>
std::string error_of(std::string_view text) {
  auto r = base::from_json<T>(text);
  return r ? "ok" : r.error().to_string();
}

Record sample() {
  return {filled(9), filled(1), filled(2), 7, {"alice", AuthorType::User, std::nullopt}, Kind::Candidate,
          filled(3), base::to_bytes(R"({"a":1})"), {{RefType::Cause, filled(4)}, {RefType::Use, filled(5)}},
          Evidence::Reported};
}

// sample() in its stored form and in its id form, written out by hand.
const std::string kStored =
    R"({"author":{"id":"alice","signature":null,"type":"User"},"data":[123,34,97,34,58,49,125],)"
    R"("evidence":"Reported","id":)" + id_text(9) + R"(,"kind":"Candidate","refs":[{"target":)" + id_text(4) +
    R"(,"type":"Cause"},{"target":)" + id_text(5) + R"(,"type":"Use"}],"schema":)" + id_text(3) + R"(,"space":)" +
    id_text(1) + R"(,"thread":)" + id_text(2) + R"(,"time":7})";
const std::string kIdForm = replaced(replaced(kStored, R"(,"signature":null)", ""), R"("id":)" + id_text(9) + ",", "");
const std::string kArray = "[" + id_text(9) + "," + id_text(1) + "," + id_text(2) + R"(,7,["alice","User",null],"Candidate",)" +
                           id_text(3) + R"(,[123,34,97,34,58,49,125],[["Cause",)" + id_text(4) + R"(],["Use",)" + id_text(5) +
                           R"(]],"Reported")";

TEST(Record, StoredFormAndId) {
  const Record r = sample();
  EXPECT_EQ(*base::canonical_json(r), kStored);
  EXPECT_EQ(base::from_json<Record>(kStored), r);
  EXPECT_EQ(base::from_json<Record>(kArray + "]"), r);
  EXPECT_EQ(r.compute_id(), base::sha256(kIdForm));

  Record s = r;
  s.author.signature = Signature{"ab", {1, 2}};
  const std::string sig = R"("signature":{"key_id":"ab","sig":[1,2]})";
  EXPECT_EQ(*base::canonical_json(s), replaced(kStored, R"("signature":null)", sig));
  EXPECT_EQ(Record(s).with_computed_id().value().id,
            base::sha256(replaced(kIdForm, R"("id":"alice",)", R"("id":"alice",)" + sig + ",")));

  // The time at and past the largest safe integer; signing fails with the id.
  s = r;
  s.time = 9007199254740991;
  EXPECT_EQ(s.compute_id(), base::sha256(replaced(kIdForm, R"("time":7)", R"("time":9007199254740991)")));
  s.time = 9007199254740992;
  const base::JsonError error{"integer 9007199254740992 exceeds the I-JSON safe range required by JCS", 0, 0};
  EXPECT_EQ(s.compute_id(), std::unexpected(error));
  EXPECT_EQ(signer(1).sign(s), std::unexpected(error));
  EXPECT_EQ(std::move(s).with_computed_id(), std::unexpected(error));
  EXPECT_EQ(base::from_json<Record>(replaced(kStored, R"("time":7)", R"("time":18446744073709551615)")).value().time,
            UINT64_MAX);
}

TEST(Record, ReaderTexts) {
  const std::string fields =
      "expected one of `id`, `space`, `thread`, `time`, `author`, `kind`, `schema`, `data`, `refs`, `evidence`";
  const std::string unknown = replaced(kStored, R"("time":7)", R"("time":7,"x":1)"),
                    short_array = kArray.substr(0, kArray.rfind(',')) + "]";
  const std::pair<std::string, std::string> cases[] = {
      {error_of<Record>(replaced(kStored, R"(,"signature":null)", "")), "ok"},
      {error_of<Record>(unknown),
       "unknown field `x`, " + fields + " at line 1 column " + std::to_string(unknown.find(R"("x")") + 3)},
      {error_of<Record>(short_array),
       "invalid length 9, expected struct Record with 10 elements at line 1 column " + std::to_string(short_array.size())},
      {error_of<Author>(R"(["a","User"])"), "invalid length 2, expected struct Author with 3 elements at line 1 column 12"},
      {error_of<VerdictResult>(R"("x")"), "unknown variant `x`, expected `Accept` or `Reject` at line 1 column 3"},
      {error_of<Kind>(R"("requirement")"),
       "unknown variant `requirement`, expected one of `Request`, `Action`, `Response`, `Result`, `Summary`, "
       "`Approval`, `Capability`, `Usage`, `Refusal`, `Verdict`, `Plan`, `Retraction`, `Candidate`, `Evaluation`, "
       "`Selection`, `Requirement` at line 1 column 13"},
  };
  for (const auto& [got, want] : cases) EXPECT_EQ(got, want);
}

TEST(Refs, SortAndDedup) {
  // A ref as its type (Cause, Use, reQuire, Replace), then the first and last
  // bytes of its target.
  auto parse = [](std::string_view text) {
    std::vector<Ref> refs;
    for (size_t i = 0; i + 2 < text.size(); i += 4) {
      Ref ref{static_cast<RefType>(std::string_view("CUQR").find(text[i])), {}};
      ref.target[0] = text[i + 1] == 'f' ? 0xff : text[i + 1] - '0';
      ref.target[31] = text[i + 2] - '0';
      refs.push_back(ref);
    }
    return refs;
  };
  const std::pair<std::string, std::string> cases[] = {
      {"R10 C20 U30 U30", "C20 U30 R10"}, {"Uf0 U00", "U00 Uf0"}, {"U02 U01 U10", "U01 U02 U10"},
      {"U10 Q10 U10", "U10 Q10"}, {"R00 Q00 U00 C00 C00 R00", "C00 U00 Q00 R00"},
  };
  for (const auto& [input, expected] : cases) {
    auto refs = parse(input);
    sort_and_dedup_refs(refs);
    EXPECT_EQ(refs, parse(expected)) << input;
  }
}

// The count and the last spelling of each: an entry inserted, lost or shifted
// in a table moves every ordinal after it (Kind's whole list: above). Each
// schema id finds its schema; evidence classes, base and derived.
TEST(Vocabularies, SpellingsSchemasAndEvidenceClasses) {
  auto last = [](auto e) { return std::to_string(base::enum_count<decltype(e)>()) + *base::canonical_json(e); };
  EXPECT_EQ(last(AuthorType::Verifier) + last(RefType::Replace) + last(ReasonCode::RequirementInvalid) +
                last(Evidence::Assumed) + last(SummaryType::StateSnapshot) + last(RefusalTarget::VerifiedEffect) +
                last(UsageOutcome::NoChange) + last(CapabilityMode::Deny) + last(ExecMode::External) +
                last(ResultStatus::Failure),
            R"(5"Verifier"4"Replace"28"RequirementInvalid"5"Assumed"4"StateSnapshot"3"VerifiedEffect")"
            R"(3"NoChange"3"Deny"2"External"2"Failure")");
  using E = Evidence;
  auto base_of = [](std::string_view name) { return base_evidence(base::schema_id(name)); };
  int reported = 0;
  for (const auto& s : schemas()) {
    EXPECT_EQ(find_schema(base::schema_id(s.name)), s.schema) << s.name;
    EXPECT_EQ(schema_id(s.schema), base::schema_id(s.name)) << s.name;
    reported += base_of(s.name) == E::Reported;
  }
  EXPECT_FALSE(find_schema(base::Id{}));
  EXPECT_FALSE(find_schema(base::schema_id("quintrel.request.v2")));
  EXPECT_EQ(reported, 14);
  for (auto name : {"quintrel.summary.v1", "quintrel.plan.v1", "quintrel.selection.v1"})
    EXPECT_EQ(base_of(name), E::Inferred) << name;
  for (auto name : {"quintrel.evaluation.attested.v1", "quintrel.result.external_receipt.v1"})
    EXPECT_EQ(base_of(name), E::Verified) << name;
  const auto verdict = base::schema_id("quintrel.verdict.v1"), request = base::schema_id("quintrel.request.v1");
  EXPECT_EQ(derive_evidence(verdict, {}), E::Deterministic);
  EXPECT_EQ(derive_evidence(verdict, std::vector{E::Deterministic, E::Inferred}), E::Inferred);
  EXPECT_EQ(derive_evidence(request, std::vector{E::Verified}), E::Reported);
  EXPECT_EQ(derive_evidence(request, std::vector{E::Assumed}), E::Assumed);
  EXPECT_EQ(derive_evidence(base::schema_id("quintrel.request.v2"), std::vector{E::Deterministic}), E::Assumed);
}

TEST(Sign, Rfc8032VectorsAndStrictVerification) {
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
  // Edge cases of which strict verification accepts only the sound one.
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
  // The id form of an unsigned record, under a domain tag.
  const std::string message = R"({"domain":"quintrel.record-signature.v0.3","record":)" + kIdForm + "}";
  EXPECT_EQ(base::canonical_json(DomainSeparatedSigningForm{r}), message);
  const auto sig = *a.sign(r);
  EXPECT_EQ(sig.key_id, a.key_id());
  EXPECT_TRUE(verify_strict(a.public_key(), message, sig.sig));

  // The id and a signature already present are not signed (the id covers the
  // signature: above).
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
