// Records: the stored form and its reader, the id over the id form, the order of
// refs, the shared vocabularies and Ed25519 signatures; and payloads: canonical
// bytes, forms read and re-encoded, defaults, validation order, artifact checks,
// evaluation summaries and approval subjects.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "base/hash.h"
#include "base/schema.h"
#include "id_text.h"
#include "log_fixture.h"
#include "record/activity_payloads.h"
#include "record/evidence.h"
#include "record/evolution_payloads.h"
#include "record/plan_payload.h"
#include "record/record.h"
#include "record/schema.h"
#include "record/sign.h"

namespace quintrel::record {
namespace {

using base::Id;
using fixture::id_of;
using fixture::id_text;
const std::string Z = id_text(0), I = id_text(1), J = id_text(2);

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

Ed25519Signer signer(uint8_t fill) { return Ed25519Signer::from_secret_bytes(id_of(fill)); }

// The canonical re-encoding of what the input reads as, or the error.
template <class T>
std::string reread(std::string_view input) {
  auto v = base::from_json<T>(input);
  if (!v) return "error: " + v.error().to_string();
  auto out = base::canonical_json(*v);
  return out ? *out : "write: " + out.error().message;
}

Record sample() {
  return {id_of(9), id_of(1), id_of(2), 7, {"alice", AuthorType::User, std::nullopt}, Kind::Candidate,
          id_of(3), base::to_bytes(R"({"a":1})"), {{RefType::Cause, id_of(4)}, {RefType::Use, id_of(5)}},
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

TEST(Record, StoredFormIdRefOrderAndVocabularies) {
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
  // The count and the last spelling of each: an entry inserted, lost or shifted
  // in a table moves every ordinal after it (Kind's whole list: above). Each
  // schema id finds its schema; evidence classes, base and derived.
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

TEST(Sign, KnownAnswersVerificationSignedMessageAndWipedSecret) {
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
  const auto cases = base::from_json<std::vector<std::map<std::string, std::string>>>(text.str()).value();
  ASSERT_EQ(cases.size(), 12u);
  std::vector<size_t> accepted;
  for (size_t i = 0; i < cases.size(); ++i) {
    const auto& c = cases[i];
    const auto sig = base::to_bytes(unhex(c.at("signature")));
    if (verify_strict(*base::hex_decode(c.at("pub_key")), unhex(c.at("message")), sig)) accepted.push_back(i);
  }
  EXPECT_EQ(accepted, std::vector<size_t>{3});
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
  // The seed must not survive in a signer that was moved from or destroyed.
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

// Canonical bytes as expected, and read back to the same value.
template <class T>
void expect_golden(const T& value, const std::string& bytes) {
  EXPECT_EQ(base::canonical_json(value).value_or("write failed"), bytes);
  auto back = base::from_json<T>(bytes);
  ASSERT_TRUE(back) << back.error().to_string();
  EXPECT_TRUE(*back == value);
}

const SelectionData kSelection{"ship it", {id_of(8), id_of(9)}, SelectionOutcome::choose({id_of(9), id_of(8)}),
                               std::nullopt};
const std::string kSelectionBytes = R"({"considered":[)" + id_text(8) + "," + id_text(9) +
                                    R"(],"objective":"ship it","outcome":{"selected":{"candidates":[)" +
                                    id_text(9) + "," + id_text(8) + R"(]}},"rationale":null})";

const std::string kTask =
    R"({"depends_on":["a"],"description":"d","done_when":"final_response","id":"b","inputs_from":["a"],)"
    R"("kind":"summarize","on_failure":"continue","produces":"p","result_record_id":)" + J +
    R"(,"status":"done","tool_hint":"t"})";
const std::string kTaskArray =
    R"(["b","d","summarize","t",["a"],"p","final_response","done",)" + J + R"(,["a"],"continue"])";

std::string action(const std::string& params) {
  return R"({"action_class":"shell","exec_mode":"External","params":)" + params + R"(,"request_id":)" + I +
         R"(,"scope":)" + J + "}";
}

TEST(Payloads, GoldenBytesAndApprovalSubjects) {
  expect_golden(RequestData{"fix", id_of(1), {{"a.txt", "b"}}, std::nullopt},
                R"({"attachments":[{"content":"b","path":"a.txt"}],"objective":"fix","parent_request_id":null,"scope":)" + I + "}");
  expect_golden(RequirementData{"k", "d", false, std::nullopt, Provenance::derived},
                R"({"description":"d","expected_evidence":null,"key":"k","provenance":"derived","required":false})");
  expect_golden(RetractionData{id_of(7), "wrong"}, R"({"reason":"wrong","target_id":)" + id_text(7) + "}");

  CandidateData c{{{SourceAlgo::sha256, "t", "c"}, id_of(2), BindingMode::manifest},
                  CandidateBasis::continuation, id_of(3), std::nullopt, std::nullopt};
  const std::string rest = R"("basis":"continuation","note":null,"parent":)" + id_text(3) +
                           R"(,"source":{"binding":"manifest","git":{"algo":"sha256","commit":"c","tree":"t"},"manifest_hash":)" + J + "}}";
  expect_golden(c, "{" + rest);
  c.artifacts.emplace();  // an empty list is written, unlike an absent one
  expect_golden(c, R"({"artifacts":[],)" + rest);

  expect_golden(EvaluationData{id_of(4), "tests", "ctest", EvaluationOutcome::scored({875, 3})},
                R"({"candidate":)" + id_text(4) + R"(,"criterion":"tests","outcome":{"scored":{"scale":3,"value":875}},"procedure":"ctest"})");
  const std::string digest(64, 'a');
  EvaluationDataV2 e2{id_of(4), "c", std::nullopt, {EvaluationOutcomeV2::Kind::not_run},
                      {"ci", std::nullopt, id_of(5), std::nullopt}, Basis::declared,
                      {{"sha256-bytes", digest, std::nullopt}}, {id_of(6)}};
  expect_golden(e2, R"({"basis":"declared","candidate":)" + id_text(4) +
                        R"(,"criterion":"c","evaluator":{"id":"ci","input_hash":null,"procedure_hash":)" + id_text(5) +
                        R"(,"version":null},"evidence":[{"digest":")" + digest + R"(","name":null,"scheme":"sha256-bytes"}],)"
                        R"("outcome":"not_run","procedure":null,"requirements":[)" + id_text(6) + "]}");
  expect_golden(kSelection, kSelectionBytes);

  // The approval subjects, against bytes put together by hand: the author as a
  // JSON string, the replaced selection, then the payload's canonical bytes.
  const std::string tag = R"(["quintrel.selection-approval.v0.3",)";
  EXPECT_EQ(*selection_approval_subject_hash("alice", std::nullopt, kSelection),
            base::sha256(tag + R"("alice",null,)" + kSelectionBytes + "]"));
  EXPECT_EQ(*selection_approval_subject_hash("alice", id_of(1), kSelection),
            base::sha256(tag + R"("alice",)" + id_text(1) + "," + kSelectionBytes + "]"));
  auto a = base::from_json<ActionData>(action(R"({"b":[1,2.5],"a":"x"})")).value();
  EXPECT_EQ(action_approval_subject_hash("prov\"1", a).value(),
            base::sha256(R"(["prov\"1",)" + action(R"({"a":"x","b":[1,2.5]})") + "]"));
  a.params = base::Json(uint64_t{1} << 60);
  EXPECT_FALSE(action_approval_subject_hash("prov", a));
}

// What each text reads as, re-encoded (an empty expectation: as it is): fields
// left out of the object or off the end of the array, the outcome readers' forms.
TEST(Payloads, ReadAndReencodedArtifactsAndSummaries) {
  const std::string result = R"({"action_id":)" + I + R"(,"output":"o","status":"Success"})";
  const std::string req = R"({"attachments":[],"objective":"x","parent_request_id":null,"scope":)" + Z + "}";
  const std::string cand = R"({"basis":"root","note":null,"parent":null,"source":{"binding":"reported","git":{"algo":"sha1","commit":null,"tree":"t"},"manifest_hash":null}})";
  const std::string ev1 = R"({"candidate":)" + Z + R"(,"criterion":"c","outcome":)";
  const std::string ev2 = R"({"basis":"declared","candidate":)" + Z +
                          R"(,"criterion":"c","evaluator":{"id":"ci"},"evidence":[],"outcome":"stale")";
  const std::string sel = R"({"objective":"o","considered":[],"outcome":)";
  const std::string none = R"({"considered":[],"objective":"o","outcome":"none","rationale":null})";
  const std::string fields =
      "expected one of `id`, `space`, `thread`, `time`, `author`, `kind`, `schema`, `data`, `refs`, `evidence`";
  const std::string unknown = replaced(kStored, R"("time":7)", R"("time":7,"x":1)"),
                    short_array = kArray.substr(0, kArray.rfind(',')) + "]";
  auto scored = [&](std::string criterion, std::string value, std::string scale) {
    return R"({"candidate":)" + Z + R"(,"criterion":)" + criterion + R"(,"outcome":{"scored":{"value":)" + value +
           R"(,"scale":)" + scale + "}}}";
  };
  const std::string ev = R"({"candidate":)" + Z + R"(,"criterion":)";
  const struct {
    std::string (*read)(std::string_view);
    std::string input, expected;
  } cases[] = {
      // Records: a signature may be left out; the fields, the vocabularies.
      {reread<Record>, replaced(kStored, R"(,"signature":null)", ""), kStored},
      {reread<Record>, unknown, "error: unknown field `x`, " + fields + " at line 1 column " + std::to_string(unknown.find(R"("x")") + 3)},
      {reread<Record>, short_array,
       "error: invalid length 9, expected struct Record with 10 elements at line 1 column " + std::to_string(short_array.size())},
      {reread<Author>, R"(["a","User"])", "error: invalid length 2, expected struct Author with 3 elements at line 1 column 12"},
      {reread<VerdictResult>, R"("x")", "error: unknown variant `x`, expected `Accept` or `Reject` at line 1 column 3"},
      {reread<Kind>, R"("requirement")",
       "error: unknown variant `requirement`, expected one of `Request`, `Action`, `Response`, `Result`, `Summary`, "
       "`Approval`, `Capability`, `Usage`, `Refusal`, `Verdict`, `Plan`, `Retraction`, `Candidate`, `Evaluation`, "
       "`Selection`, `Requirement` at line 1 column 13"},
      // Payloads canonical already. A result's artifacts keep their order.
      {reread<ActionData>, action(R"({"a":[1,-2,0.5,"x",true,null],"b":{}})"), ""},
      {reread<CapabilityData>, R"({"action_class":"shell","actor_id":"bot","expiry":7,"mode":"Ask","scope":)" + I + "}", ""},
      {reread<ApprovalData>, R"({"action_class":null,"actor_id":null,"expiry":null,"scope":)" + I + R"(,"target_action":)" + J + "}", ""},
      {reread<ResponseData>, R"({"closes_request":true,"content":"","request_id":)" + I + R"(,"turn_index":4294967295})", ""},
      {reread<ResultData>, R"({"action_id":)" + I + R"(,"artifacts":[{"digest":"ab","name":null,"scheme":"z"},{"digest":"aa","name":"n","scheme":"a"}],"output":"o","status":"Failure"})", ""},
      {reread<RefusalData>, R"({"reason_code":"Refused","target_id":)" + I + R"(,"target_kind":"VerifiedEffect"})", ""},
      {reread<UsageData>, R"({"actor":"bot","consuming_record":)" + J + R"(,"outcome":"NoChange","role":"in","used_record":)" + I + "}", ""},
      {reread<SummaryData>, R"({"claim_payload":[0,255],"scope":)" + J + R"(,"subject":)" + I + R"(,"summary_type":"StateSnapshot"})", ""},
      {reread<VerdictData>, R"({"reason":"InvalidPayload","result":"Reject"})", ""},
      {reread<PlanData>, R"({"request_id":)" + I + R"(,"status":"completed","tasks":[)" + kTask + "]}", ""},
      // Re-encoded with every key (a result's absent artifacts left out) and in canonical spelling.
      {reread<PlanTask>, R"({"id":"a","description":"d","status":"pending","on_failure":{"abort":null},"tool_hint":null})",
       R"({"depends_on":[],"description":"d","done_when":"tool_success","id":"a","inputs_from":[],"kind":"generic",)"
       R"("on_failure":"abort","produces":null,"result_record_id":null,"status":"pending","tool_hint":null})"},
      {reread<PlanTask>, kTaskArray, kTask},
      {reread<ResultData>, R"({"action_id":)" + I + R"(,"status":"Success","output":"o","artifacts":null})", result},
      {reread<ResultData>, "[" + I + R"(,"Success","o"])", result},
      {reread<ArtifactRef>, R"(["s","00"])", R"({"digest":"00","name":null,"scheme":"s"})"},
      {reread<RequestData>, R"(["x",)" + Z + "]", req},
      {reread<RequirementData>, R"({"key":"k","description":"d","required":true,"provenance":{"user_authored":null}})",
       R"({"description":"d","expected_evidence":null,"key":"k","provenance":"user_authored","required":true})"},
      {reread<CandidateData>, R"({"source":{"git":{"algo":"sha1","tree":"t"},"binding":"reported"},"basis":"root"})", cand},
      // Params: the last of a repeated key wins; numbers that read but cannot be written canonically.
      {reread<ActionData>, action(R"({"k":1,"k":{"z":1.0,"a":-0.0,"b":1e21}})"), action(R"({"k":{"a":0,"b":1e+21,"z":1}})")},
      {reread<ActionData>, action("[9007199254740992]"), "write: integer 9007199254740992 exceeds the I-JSON safe range required by JCS"},
      {reread<ActionData>, action(R"({"x":1e20})"), "write: number 100000000000000000000 would serialize as an integer outside the I-JSON safe range required by JCS"},
      // The payload object takes one of the 128 levels; "params" gets the rest.
      {reread<ActionData>, action(std::string(126, '[') + std::string(126, ']')), ""},
      {reread<ActionData>, action(std::string(127, '[') + std::string(127, ']')), "error: recursion limit exceeded at line 1 column 183"},
      // Fields that must be given; array forms that must give every field.
      {reread<ActionData>, R"({"request_id":)" + I + R"(,"action_class":"c","scope":)" + I + R"(,"exec_mode":"Internal"})", "error: missing field `params` at line 1 column 196"},
      {reread<PlanTask>, R"({"id":"a","description":"d"})", "error: missing field `status` at line 1 column 28"},
      {reread<ActionData>, "[" + I + R"(,"c",)" + I + R"(,"Internal"])", "error: invalid length 4, expected struct ActionData with 5 elements at line 1 column 148"},
      {reread<ApprovalData>, "[null,null," + I + ",null]", "error: invalid length 4, expected struct ApprovalData with 5 elements at line 1 column 82"},
      {reread<ResultData>, "[" + I + R"(,"Success"])", "error: invalid length 2, expected struct ResultData with 4 elements at line 1 column 77"},
      {reread<ArtifactRef>, R"(["s"])", "error: invalid length 1, expected struct ArtifactRef with 3 elements at line 1 column 5"},
      {reread<RequirementData>, R"(["k","d",true])", "error: invalid length 4, expected struct RequirementData with 5 elements at line 1 column 14"},
      {reread<CandidateData>, R"({"source":[["sha1","t"]],"basis":"root"})", "error: invalid length 2, expected struct SourceBinding with 3 elements at line 1 column 24"},
      // Outcomes.
      {reread<EvaluationData>, ev1 + R"({"passed":null}})", ev1 + R"("passed","procedure":null})"},
      {reread<EvaluationData>, ev1 + R"("scored"})", "error: invalid type: unit variant, expected newtype variant at line 1 column 114"},
      {reread<EvaluationData>, ev1 + R"("blocked"})", "error: unknown variant `blocked`, expected one of `passed`, `failed`, `scored` at line 1 column 114"},
      {reread<EvaluationDataV2>, ev2 + R"(,"requirements":[]})",
       R"({"basis":"declared","candidate":)" + Z +
           R"(,"criterion":"c","evaluator":{"id":"ci","input_hash":null,"procedure_hash":null,"version":null},"evidence":[],"outcome":"stale","procedure":null,"requirements":[]})"},
      // `basis` has no default: left out, it is refused, not read as recomputed.
      {reread<EvaluationDataV2>, "{" + ev2.substr(20) + R"(,"requirements":[]})", "error: missing field `basis` at line 1 column 169"},
      {reread<SelectionData>, sel + R"({"none":null}})", none}, {reread<SelectionData>, R"(["o",[],"none"])", none},
      {reread<SelectionData>, sel + R"({"selected":{"why":[1,{"a":2}],"candidates":[]}}})",
       R"({"considered":[],"objective":"o","outcome":{"selected":{"candidates":[]}},"rationale":null})"},
      {reread<SelectionData>, sel + R"("selected"})", "error: invalid type: unit variant, expected struct variant at line 1 column 54"},
      {reread<SelectionData>, sel + R"({"selected":[]}})", "error: invalid length 0, expected struct variant SelectionOutcome::Selected with 1 element at line 1 column 57"},
      // Validation order: the score is checked as soon as read, at the end of the
      // outcome object; the criterion last, without a position.
      {reread<EvaluationData>, scored(R"("c")", "9007199254740991", "12"), ev1 + R"({"scored":{"scale":12,"value":9007199254740991}},"procedure":null})"},
      {reread<EvaluationData>, scored(R"("c")", "-9007199254740991", "0"), ev1 + R"({"scored":{"scale":0,"value":-9007199254740991}},"procedure":null})"},
      {reread<EvaluationData>, scored(R"("c")", "9007199254740992", "0"), "error: score value outside the I-JSON safe range at line 1 column 152"},
      {reread<EvaluationData>, scored(R"("c")", "-9007199254740992", "13"), "error: score value outside the I-JSON safe range at line 1 column 154"},
      {reread<EvaluationData>, scored(R"("")", "1", "13"), "error: score scale above 12 at line 1 column 137"},
      {reread<EvaluationData>, scored(R"("")", "1", "2"), "error: evaluation criterion must be non-empty"},
      {reread<EvaluationData>, scored(R"(" ")", "1", "2"), ev + R"(" ","outcome":{"scored":{"scale":2,"value":1}},"procedure":null})"},
      {reread<EvaluationData>, ev + R"(""})", "error: missing field `outcome` at line 1 column 94"},
      {reread<EvaluationDataV2>, ev + R"("","outcome":"passed","evaluator":["ci"],"basis":"declared","evidence":[],"requirements":[]})",
       "error: evaluation criterion must be non-empty"},
      {reread<SelectionData>, R"({"objective":"","considered":[],"outcome":"none"})", "error: selection objective must be non-empty"},
      {reread<SelectionData>, R"({"objective":"","outcome":"none"})", "error: missing field `considered` at line 1 column 33"},
      {reread<SelectionData>, R"({"objective":" ","considered":[],"outcome":"none"})", R"({"considered":[],"objective":" ","outcome":"none","rationale":null})"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.read(c.input), c.expected.empty() ? c.input : c.expected) << c.input;

  // A task array cut after n elements names the first field without a default
  // there: id, description, tool_hint, status, result_record_id, on_failure.
  auto full = base::from_json<base::Json>(kTaskArray)->as<base::Json::Array>();
  const size_t reported[] = {0, 1, 3, 3, 7, 7, 7, 7, 8, 10, 10};
  for (size_t n = 0; n < full.size(); ++n) {
    const std::string cut = base::compact_json(base::Json(base::Json::Array(full.begin(), full.begin() + n)));
    EXPECT_EQ(reread<PlanTask>(cut), "error: invalid length " + std::to_string(reported[n]) +
                                         ", expected struct PlanTask with 11 elements at line 1 column " + std::to_string(cut.size()));
  }
  // Artifact references, one by one and as lists; evaluation summaries.
  const auto hex = [](size_t n) { return std::string(n, 'a'); };
  const std::tuple<std::string, std::string, bool> refs[] = {
      // Schemes that fix the digest length.
      {"git-tree-sha1", hex(40), true}, {"git-tree-sha1", hex(64), false},
      {"sha256-bytes", "0123456789abcdef" + hex(48), true}, {"sha256-bytes", hex(40), false},
      // Any other scheme takes 20 to 64 bytes; every digest is even-length lowercase hex.
      {"other", hex(40), true}, {"other", hex(128), true}, {"other", hex(38), false}, {"other", hex(130), false},
      {"other", hex(41), false}, {"sha256-bytes", hex(63) + "F", false}, {"other", "g" + hex(39), false},
      // Scheme spelling.
      {"", hex(40), false}, {"-x", hex(40), false}, {"1a.b-c", hex(40), true},
      {"Abc", hex(40), false}, {"a_b", hex(40), false},
  };
  for (const auto& [scheme, digest, ok] : refs)
    EXPECT_EQ(artifact_ref_well_formed({scheme, digest, "any"}), ok) << scheme << " " << digest;

  auto a = [](std::string scheme, char d, std::optional<std::string> name = {}) { return ArtifactRef{scheme, std::string(64, d), name}; };
  const ArtifactRef sha1{"git-tree-sha1", hex(40), std::nullopt};
  // Scheme, digest, then name (absent first, then unsigned bytes); strictly ascending.
  const std::pair<std::vector<ArtifactRef>, bool> lists[] = {
      {{}, true}, {{a("X", 'b')}, false},
      {{sha1, a("git-tree-sha256", 'a')}, true}, {{a("git-tree-sha256", 'a'), sha1}, false},
      {{a("x", 'a'), a("x", 'b'), a("x", 'b', ""), a("x", 'b', "n")}, true}, {{a("x", 'b', "n"), a("x", 'b')}, false},
      {{a("x", 'b'), a("x", 'b')}, false}, {{a("x", 'b', "z"), a("x", 'b', "\xc3\xa9")}, true},
      {{a("x", 'a'), a("x", 'b'), a("x", 'a')}, false},
  };
  for (size_t i = 0; i < std::size(lists); ++i)
    EXPECT_EQ(artifact_refs_well_formed(lists[i].first), lists[i].second) << i;
  const Id v1 = base::schema_id("quintrel.evaluation.v1"), v2 = base::schema_id("quintrel.evaluation.v2");
  const std::string b1 = R"({"candidate":)" + id_text(4) + R"(,"criterion":"c","outcome":{"scored":{"value":-5,"scale":0}}})";
  const std::string b2 = R"({"candidate":)" + id_text(4) +
                         R"(,"criterion":"c","outcome":"blocked","evaluator":{"id":"ci"},"basis":"declared","evidence":[],"requirements":[]})";
  EXPECT_EQ(evaluation_summary(v1, b1), (EvaluationSummary{id_of(4), "c", "scored -5e-0"}));
  EXPECT_EQ(evaluation_summary(v2, b2), (EvaluationSummary{id_of(4), "c", "blocked"}));
  EXPECT_EQ(evaluation_summary(base::schema_id("quintrel.evaluation.attested.v1"), b2), evaluation_summary(v2, b2));
  EXPECT_FALSE(evaluation_summary(v1, b2));
  EXPECT_FALSE(evaluation_summary(base::schema_id("quintrel.candidate.v1"), b1));
  EXPECT_FALSE(evaluation_summary(v1, R"({"candidate":)" + id_text(4) + R"(,"criterion":"","outcome":"passed"})"));
}

}  // namespace
}  // namespace quintrel::record
