// Payloads: canonical bytes, the forms that read but re-encode differently,
// which fields default, array lengths, the hand-written outcome readers,
// validation order, artifact checks, evaluation summaries and the approval
// subjects of actions and selections.
#include "base/hash.h"
#include "base/schema.h"
#include "id_text.h"
#include "log_fixture.h"
#include "record/activity_payloads.h"
#include "record/evolution_payloads.h"
#include "record/plan_payload.h"

namespace quintrel::record {
namespace {

using base::Id;
using fixture::id_of;
using fixture::id_text;
const std::string Z = id_text(0), I = id_text(1), J = id_text(2);

// The canonical re-encoding of what the input reads as, or the error.
template <class T>
std::string reread(std::string_view input) {
  auto v = base::from_json<T>(input);
  if (!v) return "error: " + v.error().to_string();
  auto out = base::canonical_json(*v);
  return out ? *out : "write: " + out.error().message;
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
                R"({"attachments":[{"content":"b","path":"a.txt"}],"objective":"fix","parent_request_id":null,"scope":)" +
                    id_text(1) + "}");
  expect_golden(RequirementData{"k", "d", false, std::nullopt, Provenance::derived},
                R"({"description":"d","expected_evidence":null,"key":"k","provenance":"derived","required":false})");
  expect_golden(RetractionData{id_of(7), "wrong"}, R"({"reason":"wrong","target_id":)" + id_text(7) + "}");

  CandidateData c{{{SourceAlgo::sha256, "t", "c"}, id_of(2), BindingMode::manifest},
                  CandidateBasis::continuation, id_of(3), std::nullopt, std::nullopt};
  const std::string rest = R"("basis":"continuation","note":null,"parent":)" + id_text(3) +
                           R"(,"source":{"binding":"manifest","git":{"algo":"sha256","commit":"c","tree":"t"},"manifest_hash":)" +
                           id_text(2) + "}}";
  expect_golden(c, "{" + rest);
  c.artifacts.emplace();  // an empty list is written, unlike an absent one
  expect_golden(c, R"({"artifacts":[],)" + rest);

  expect_golden(EvaluationData{id_of(4), "tests", "ctest", EvaluationOutcome::scored({875, 3})},
                R"({"candidate":)" + id_text(4) +
                    R"(,"criterion":"tests","outcome":{"scored":{"scale":3,"value":875}},"procedure":"ctest"})");
  const std::string digest(64, 'a');
  EvaluationDataV2 e2{id_of(4), "c", std::nullopt, {EvaluationOutcomeV2::Kind::not_run},
                      {"ci", std::nullopt, id_of(5), std::nullopt}, Basis::declared,
                      {{"sha256-bytes", digest, std::nullopt}}, {id_of(6)}};
  expect_golden(e2, R"({"basis":"declared","candidate":)" + id_text(4) +
                        R"(,"criterion":"c","evaluator":{"id":"ci","input_hash":null,"procedure_hash":)" + id_text(5) +
                        R"(,"version":null},"evidence":[{"digest":")" + digest +
                        R"(","name":null,"scheme":"sha256-bytes"}],"outcome":"not_run","procedure":null,"requirements":[)" +
                        id_text(6) + "]}");
  expect_golden(kSelection, kSelectionBytes);

  // The approval subjects, against bytes put together by hand: the author as a
  // JSON string, the replaced selection, then the payload's canonical bytes.
  const std::string tag = R"(["quintrel.selection-approval.v0.3",)";
  EXPECT_EQ(*selection_approval_subject_hash("alice", std::nullopt, kSelection),
            base::sha256(tag + R"("alice",null,)" + kSelectionBytes + "]"));
  EXPECT_EQ(*selection_approval_subject_hash("alice", id_of(1), kSelection),
            base::sha256(tag + R"("alice",)" + id_text(1) + "," + kSelectionBytes + "]"));
  auto a = base::from_json<ActionData>(action(R"({"b":[1,2.5],"a":"x"})"));
  ASSERT_TRUE(a);
  EXPECT_EQ(action_approval_subject_hash("prov\"1", *a).value(),
            base::sha256(R"(["prov\"1",)" + action(R"({"a":"x","b":[1,2.5]})") + "]"));
  a->params = base::Json(uint64_t{1} << 60);
  EXPECT_FALSE(action_approval_subject_hash("prov", *a));
}

// What each text reads as, re-encoded: canonical forms that come back as they
// are (an empty expectation), forms that read but re-encode differently, which
// fields may be left out (of the object, or off the end of the array), and how
// the hand-written outcome readers take each form.
TEST(Payloads, ReadAndReencoded) {
  const std::string result = R"({"action_id":)" + I + R"(,"output":"o","status":"Success"})";
  const std::string req = R"({"attachments":[],"objective":"x","parent_request_id":null,"scope":)" + Z + "}";
  const std::string cand = R"({"basis":"root","note":null,"parent":null,"source":{"binding":"reported","git":{"algo":"sha1","commit":null,"tree":"t"},"manifest_hash":null}})";
  const std::string ev1 = R"({"candidate":)" + Z + R"(,"criterion":"c","outcome":)";
  const std::string ev2 = R"({"basis":"declared","candidate":)" + Z +
                          R"(,"criterion":"c","evaluator":{"id":"ci"},"evidence":[],"outcome":"stale")";
  const std::string sel = R"({"objective":"o","considered":[],"outcome":)";
  const std::string none = R"({"considered":[],"objective":"o","outcome":"none","rationale":null})";
  auto scored = [&](std::string criterion, std::string value, std::string scale) {
    return R"({"candidate":)" + Z + R"(,"criterion":)" + criterion + R"(,"outcome":{"scored":{"value":)" + value +
           R"(,"scale":)" + scale + "}}}";
  };
  const std::string ev = R"({"candidate":)" + Z + R"(,"criterion":)";
  const struct {
    std::string (*read)(std::string_view);
    std::string input, expected;
  } cases[] = {
      // Canonical already. A result's artifacts keep their order.
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
      {reread<SelectionData>, sel + R"({"none":null}})", none},
      {reread<SelectionData>, R"(["o",[],"none"])", none},
      {reread<SelectionData>, sel + R"({"selected":{"why":[1,{"a":2}],"candidates":[]}}})",
       R"({"considered":[],"objective":"o","outcome":{"selected":{"candidates":[]}},"rationale":null})"},
      {reread<SelectionData>, sel + R"("selected"})", "error: invalid type: unit variant, expected struct variant at line 1 column 54"},
      {reread<SelectionData>, sel + R"({"selected":[]}})", "error: invalid length 0, expected struct variant SelectionOutcome::Selected with 1 element at line 1 column 57"},
      // Validation order. The score check runs as soon as the score is read, so
      // it comes out at the end of the outcome object; the criterion check
      // last, without a position.
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

  // A task array cut after n elements reports the first field that has no
  // default in the array form: id, description, tool_hint, status,
  // result_record_id, on_failure.
  auto full = base::from_json<base::Json>(kTaskArray)->as<base::Json::Array>();
  const size_t reported[] = {0, 1, 3, 3, 7, 7, 7, 7, 8, 10, 10};
  for (size_t n = 0; n < full.size(); ++n) {
    const std::string cut = base::compact_json(base::Json(base::Json::Array(full.begin(), full.begin() + n)));
    EXPECT_EQ(reread<PlanTask>(cut), "error: invalid length " + std::to_string(reported[n]) +
                                         ", expected struct PlanTask with 11 elements at line 1 column " +
                                         std::to_string(cut.size()));
  }
}

TEST(Payloads, ArtifactWellFormed) {
  const auto hex = [](size_t n) { return std::string(n, 'a'); };
  const std::tuple<std::string, std::string, bool> cases[] = {
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
  for (const auto& [scheme, digest, ok] : cases)
    EXPECT_EQ(artifact_ref_well_formed({scheme, digest, "any"}), ok) << scheme << " " << digest;

  auto a = [&](std::string scheme, char d, std::optional<std::string> name = std::nullopt) {
    return ArtifactRef{std::move(scheme), std::string(64, d), std::move(name)};
  };
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
}

TEST(Payloads, EvaluationSummaries) {
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
