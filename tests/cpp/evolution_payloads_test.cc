// Evolution payloads: canonical bytes, the forms the readers accept and refuse
// (with messages and positions), validation order, artifact checks, outcome
// labels, evaluation summaries and the selection approval subject.
#include <gtest/gtest.h>

#include "base/hash.h"
#include "base/schema.h"
#include "record/evolution_payloads.h"

namespace quintrel::record {
namespace {

using base::Id;

Id id_of(uint8_t b) {
  Id v;
  v.fill(b);
  return v;
}
std::string json_id(int b) {
  std::string s = "[";
  for (int i = 0; i < 32; ++i) {
    if (i) s += ',';
    s += std::to_string(b);
  }
  return s + "]";
}
const std::string Z = json_id(0);

// The canonical re-encoding of what the input reads as, or the reading error.
template <class T>
std::string reread(std::string_view input) {
  auto v = base::from_json<T>(input);
  if (!v) return "error: " + v.error().to_string();
  return *base::canonical_json(*v);
}

// Canonical bytes as expected, and read back to the same value.
template <class T>
void expect_golden(const T& value, const std::string& bytes) {
  auto out = base::canonical_json(value);
  ASSERT_TRUE(out) << out.error().message;
  EXPECT_EQ(*out, bytes);
  auto back = base::from_json<T>(bytes);
  ASSERT_TRUE(back) << back.error().to_string();
  EXPECT_TRUE(*back == value);
}

const SelectionData kSelection{"ship it", {id_of(8), id_of(9)}, SelectionOutcome::choose({id_of(9), id_of(8)}),
                               std::nullopt};
const std::string kSelectionBytes = R"({"considered":[)" + json_id(8) + "," + json_id(9) +
                                    R"(],"objective":"ship it","outcome":{"selected":{"candidates":[)" +
                                    json_id(9) + "," + json_id(8) + R"(]}},"rationale":null})";

TEST(EvolutionPayloads, GoldenCanonicalBytes) {
  expect_golden(RequestData{"fix", id_of(1), {{"a.txt", "b"}}, std::nullopt},
                R"({"attachments":[{"content":"b","path":"a.txt"}],"objective":"fix","parent_request_id":null,"scope":)" +
                    json_id(1) + "}");
  expect_golden(RequirementData{"k", "d", false, std::nullopt, Provenance::derived},
                R"({"description":"d","expected_evidence":null,"key":"k","provenance":"derived","required":false})");
  expect_golden(RetractionData{id_of(7), "wrong"}, R"({"reason":"wrong","target_id":)" + json_id(7) + "}");

  CandidateData c{{{SourceAlgo::sha256, "t", "c"}, id_of(2), BindingMode::manifest},
                  CandidateBasis::continuation, id_of(3), std::nullopt, std::nullopt};
  const std::string rest = R"("basis":"continuation","note":null,"parent":)" + json_id(3) +
                           R"(,"source":{"binding":"manifest","git":{"algo":"sha256","commit":"c","tree":"t"},"manifest_hash":)" +
                           json_id(2) + "}}";
  expect_golden(c, "{" + rest);
  c.artifacts.emplace();  // an empty list is written, unlike an absent one
  expect_golden(c, R"({"artifacts":[],)" + rest);

  EvaluationData e1{id_of(4), "tests", "ctest", EvaluationOutcome::scored({875, 3})};
  expect_golden(e1, R"({"candidate":)" + json_id(4) +
                        R"(,"criterion":"tests","outcome":{"scored":{"scale":3,"value":875}},"procedure":"ctest"})");
  e1.outcome.score.value = -9007199254740992;
  EXPECT_EQ(base::canonical_json(e1).error().to_string(),
            "integer -9007199254740992 exceeds the I-JSON safe range required by JCS");

  const std::string digest(64, 'a');
  EvaluationDataV2 e2{id_of(4), "c", std::nullopt, {EvaluationOutcomeV2::Kind::not_run},
                      {"ci", std::nullopt, id_of(5), std::nullopt}, Basis::declared,
                      {{"sha256-bytes", digest, std::nullopt}}, {id_of(6)}};
  expect_golden(e2, R"({"basis":"declared","candidate":)" + json_id(4) +
                        R"(,"criterion":"c","evaluator":{"id":"ci","input_hash":null,"procedure_hash":)" + json_id(5) +
                        R"(,"version":null},"evidence":[{"digest":")" + digest +
                        R"(","name":null,"scheme":"sha256-bytes"}],"outcome":"not_run","procedure":null,"requirements":[)" +
                        json_id(6) + "]}");

  expect_golden(kSelection, kSelectionBytes);
  expect_golden(SelectionData{"o", {}, SelectionOutcome::none(), "why"},
                R"({"considered":[],"objective":"o","outcome":"none","rationale":"why"})");
}

TEST(EvolutionPayloads, AcceptedAndRefusedForms) {
  struct Case {
    std::string (*read)(std::string_view);
    std::string input, expected;
  };
  const std::string req = R"({"attachments":[],"objective":"x","parent_request_id":null,"scope":)" + Z + "}";
  const std::string reqm = R"({"description":"d","expected_evidence":null,"key":"k","provenance":"user_authored","required":true})";
  const std::string cand = R"({"basis":"root","note":null,"parent":null,"source":{"binding":"reported","git":{"algo":"sha1","commit":null,"tree":"t"},"manifest_hash":null}})";
  const std::string git = R"({"algo":"sha1","tree":"t"})";
  const std::string ev1 = R"({"candidate":)" + Z + R"(,"criterion":"c","outcome":)";
  const std::string ev2 = R"({"basis":"declared","candidate":)" + Z +
                          R"(,"criterion":"c","evaluator":{"id":"ci"},"evidence":[],"outcome":"stale")";
  const std::string sel = R"({"objective":"o","considered":[],"outcome":)";
  const Case cases[] = {
      // Missing defaulted and optional fields; the array form, ending early only at defaults.
      {reread<RequestData>, R"({"objective":"x","scope":)" + Z + "}", req},
      {reread<RequestData>, R"(["x",)" + Z + "]", req},
      {reread<RequestData>, R"(["x",)" + Z + R"(,[["p","c"]],null])",
       R"({"attachments":[{"content":"c","path":"p"}],"objective":"x","parent_request_id":null,"scope":)" + Z + "}"},
      {reread<RequestData>, R"(["x"])", "error: invalid length 1, expected struct RequestData with 4 elements at line 1 column 5"},
      {reread<RequestData>, R"({"objective":"x","scope":)" + Z + R"(,"attachments":null})",
       "error: invalid type: null, expected a sequence at line 1 column 109"},
      {reread<RequirementData>, R"({"key":"k","description":"d","required":true,"provenance":{"user_authored":null}})", reqm},
      {reread<RequirementData>, R"(["k","d",true,null,"user_authored"])", reqm},
      {reread<RequirementData>, R"(["k","d",true])", "error: invalid length 4, expected struct RequirementData with 5 elements at line 1 column 14"},
      {reread<RequirementData>, R"({"key":"k","description":"d","required":true,"provenance":"UserAuthored"})",
       "error: unknown variant `UserAuthored`, expected `user_authored` or `derived` at line 1 column 72"},
      {reread<RetractionData>, R"({"target_id":)" + Z + R"(,"reason":"","note":1})",
       "error: unknown field `note`, expected `target_id` or `reason` at line 1 column 97"},
      {reread<CandidateData>, R"({"source":{"git":)" + git + R"(,"binding":"reported"},"basis":"root"})", cand},
      {reread<CandidateData>, R"({"source":[["sha1","t"],null,{"reported":null}],"basis":"root","artifacts":null})", cand},
      {reread<CandidateData>, R"({"source":[["sha1","t"]],"basis":"root"})",
       "error: invalid length 2, expected struct SourceBinding with 3 elements at line 1 column 24"},
      {reread<CandidateData>, R"({"source":{"git":)" + git + R"(,"binding":"reported"},"basis":"root","artifacts":[["s","d"]]})",
       R"({"artifacts":[{"digest":"d","name":null,"scheme":"s"}],)" + cand.substr(1)},
      {reread<EvaluationData>, ev1 + R"({"passed":null}})", ev1 + R"("passed","procedure":null})"},
      {reread<EvaluationData>, ev1 + R"({"scored":[5,0]}})", ev1 + R"({"scored":{"scale":0,"value":5}},"procedure":null})"},
      {reread<EvaluationData>, ev1 + R"({"scored":[5]}})",
       "error: invalid length 1, expected struct ScoredValueRaw with 2 elements at line 1 column 118"},
      {reread<EvaluationData>, ev1 + R"("scored"})", "error: invalid type: unit variant, expected newtype variant at line 1 column 114"},
      {reread<EvaluationData>, ev1 + R"("blocked"})",
       "error: unknown variant `blocked`, expected one of `passed`, `failed`, `scored` at line 1 column 114"},
      {reread<EvaluationData>, ev1 + R"("passed","basis":"declared"})",
       "error: unknown field `basis`, expected one of `candidate`, `criterion`, `procedure`, `outcome` at line 1 column 121"},
      {reread<EvaluationDataV2>, ev2 + R"(,"requirements":[]})",
       R"({"basis":"declared","candidate":)" + Z +
           R"(,"criterion":"c","evaluator":{"id":"ci","input_hash":null,"procedure_hash":null,"version":null},"evidence":[],"outcome":"stale","procedure":null,"requirements":[]})"},
      {reread<EvaluationDataV2>, ev2 + "}", "error: missing field `requirements` at line 1 column 170"},
      {reread<EvaluationDataV2>, "[" + Z + R"(,"c",null,"passed",["ci"],"declared",[]])",
       "error: invalid length 7, expected struct EvaluationDataV2Raw with 8 elements at line 1 column 106"},
      {reread<SelectionData>, sel + R"({"none":null}})", R"({"considered":[],"objective":"o","outcome":"none","rationale":null})"},
      {reread<SelectionData>, R"(["o",[],"none"])", R"({"considered":[],"objective":"o","outcome":"none","rationale":null})"},
      {reread<SelectionData>, R"(["o",[]])", "error: invalid length 2, expected struct SelectionDataRaw with 4 elements at line 1 column 8"},
      {reread<SelectionData>, sel + R"({"selected":{"why":[1,{"a":2}],"candidates":[]}}})",
       R"({"considered":[],"objective":"o","outcome":{"selected":{"candidates":[]}},"rationale":null})"},
      {reread<SelectionData>, sel + R"("none","why":1})",
       "error: unknown field `why`, expected one of `objective`, `considered`, `outcome`, `rationale` at line 1 column 55"},
      {reread<SelectionData>, sel + R"("selected"})", "error: invalid type: unit variant, expected struct variant at line 1 column 54"},
      {reread<SelectionData>, sel + R"({"selected":{}}})", "error: missing field `candidates` at line 1 column 57"},
      {reread<SelectionData>, sel + R"({"selected":[]}})",
       "error: invalid length 0, expected struct variant SelectionOutcome::Selected with 1 element at line 1 column 57"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.read(c.input), c.expected) << c.input;
}

TEST(EvolutionPayloads, ValidationOrder) {
  const std::string ev = R"({"candidate":)" + Z + R"(,"criterion":)";
  auto scored = [&](std::string criterion, std::string value, std::string scale) {
    return reread<EvaluationData>(ev + criterion + R"(,"outcome":{"scored":{"value":)" + value + R"(,"scale":)" + scale + "}}}");
  };
  // The score check runs as soon as the score is read, so it comes out at the
  // end of the outcome object.
  for (auto [value, scale] : {std::pair{"9007199254740991", "12"}, {"-9007199254740991", "0"}})
    EXPECT_EQ(scored(R"("c")", value, scale).substr(0, 7), R"({"candi)");
  EXPECT_EQ(scored(R"("c")", "9007199254740992", "0"),
            "error: score value outside the I-JSON safe range at line 1 column 152");
  EXPECT_EQ(scored(R"("c")", "-9007199254740992", "13"),
            "error: score value outside the I-JSON safe range at line 1 column 154");
  EXPECT_EQ(scored(R"("c")", "1", "13"), "error: score scale above 12 at line 1 column 138");
  EXPECT_EQ(scored(R"("")", "1", "13"), "error: score scale above 12 at line 1 column 137");
  // The criterion and objective checks come last, at the top level without a position.
  EXPECT_EQ(scored(R"("")", "1", "2"), "error: evaluation criterion must be non-empty");
  EXPECT_EQ(scored(R"(" ")", "1", "2").substr(0, 7), R"({"candi)");
  EXPECT_EQ(reread<EvaluationData>(ev + R"(""})"), "error: missing field `outcome` at line 1 column 94");
  EXPECT_EQ(reread<EvaluationDataV2>(ev + R"("","outcome":"passed","evaluator":["ci"],"basis":"declared","evidence":[],"requirements":[]})"),
            "error: evaluation criterion must be non-empty");
  EXPECT_EQ(reread<SelectionData>(R"({"objective":"","considered":[],"outcome":"none"})"),
            "error: selection objective must be non-empty");
  EXPECT_EQ(reread<SelectionData>(R"({"objective":"","outcome":"none"})"),
            "error: missing field `considered` at line 1 column 33");
  EXPECT_EQ(reread<SelectionData>(R"({"objective":" ","considered":[],"outcome":"none"})").substr(0, 7), R"({"consi)");
}

TEST(EvolutionPayloads, ArtifactWellFormed) {
  struct Case {
    std::string scheme, digest;
    bool ok;
  };
  const auto hex = [](size_t n) { return std::string(n, 'a'); };
  const Case cases[] = {
      {"git-tree-sha1", hex(40), true},      {"git-tree-sha1", hex(64), false},  {"git-tree-sha256", hex(64), true},
      {"git-tree-sha256", hex(40), false},   {"manifest-v1", hex(64), true},     {"manifest-v1", hex(128), false},
      {"git-archive-tar-v1", hex(64), true}, {"git-archive-tar-v1", hex(62), false},
      {"oci-image-manifest", hex(64), true}, {"oci-image-manifest", hex(66), false},
      {"sha256-bytes", "0123456789abcdef" + hex(48), true}, {"sha256-bytes", hex(40), false},
      {"other", hex(40), true},  {"other", hex(64), true},   {"other", hex(128), true}, {"other", hex(38), false},
      {"other", hex(130), false}, {"other", "", false},      {"git-tree-sha1", "", false}, {"other", hex(41), false},
      {"other", "A" + hex(39), false}, {"sha256-bytes", hex(63) + "F", false}, {"other", "g" + hex(39), false},
      {"", hex(40), false},      {"-x", hex(40), false},    {".x", hex(40), false},    {"1a.b-c", hex(40), true},
      {"Abc", hex(40), false},   {"a_b", hex(40), false},   {"a:b", hex(40), false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(artifact_ref_well_formed({c.scheme, c.digest, "any"}), c.ok) << c.scheme << " " << c.digest;

  auto a = [&](std::string scheme, char d, std::optional<std::string> name = std::nullopt) {
    return ArtifactRef{std::move(scheme), std::string(64, d), std::move(name)};
  };
  const ArtifactRef sha1{"git-tree-sha1", hex(40), std::nullopt};
  struct ListCase {
    std::vector<ArtifactRef> list;
    bool ok;
  };
  const ListCase lists[] = {
      {{}, true}, {{a("x", 'b')}, true}, {{a("X", 'b')}, false},
      {{sha1, a("git-tree-sha256", 'a')}, true}, {{a("git-tree-sha256", 'a'), sha1}, false},  // '1' before '2'
      {{a("manifest-v1", 'f'), a("oci-image-manifest", 'a')}, true}, {{a("abc", 'b'), a("abcd", 'a')}, true},
      {{a("x", 'a'), a("x", 'b'), a("x", 'b', "n")}, true}, {{a("x", 'b', "n"), a("x", 'b')}, false},
      {{a("x", 'b'), a("x", 'b')}, false}, {{a("x", 'b', "n"), a("x", 'b', "n")}, false},
      {{a("x", 'b', "z"), a("x", 'b', "\xc3\xa9")}, true},  // unsigned bytes
      {{a("x", 'a'), a("x", 'b'), a("x", 'a')}, false},
  };
  for (size_t i = 0; i < std::size(lists); ++i) EXPECT_EQ(artifact_refs_well_formed(lists[i].list), lists[i].ok) << i;
}

TEST(EvolutionPayloads, LabelsAndSummaries) {
  using V2 = EvaluationOutcomeV2;
  EXPECT_EQ(V2::scored({875, 3}).label(), "scored 875e-3");
  EXPECT_EQ(label(V2::scored({-5, 0})), "scored -5e-0");
  EXPECT_EQ(V2{V2::Kind::not_run}.label(), "not_run");
  EXPECT_EQ(label(EvaluationOutcome::scored({0, 12})), "scored 0e-12");
  EXPECT_EQ(EvaluationOutcome{EvaluationOutcome::Kind::failed}.label(), "failed");

  const Id v1 = base::schema_id("quintrel.evaluation.v1");
  const Id v2 = base::schema_id("quintrel.evaluation.v2");
  const Id attested = base::schema_id("quintrel.evaluation.attested.v1");
  const std::string b1 = R"({"candidate":)" + json_id(4) + R"(,"criterion":"c","outcome":{"scored":{"value":-5,"scale":0}}})";
  const std::string b2 = R"({"candidate":)" + json_id(4) +
                         R"(,"criterion":"c","outcome":"blocked","evaluator":{"id":"ci"},"basis":"declared","evidence":[],"requirements":[]})";
  EXPECT_EQ(evaluation_summary(v1, b1), (EvaluationSummary{id_of(4), "c", "scored -5e-0"}));
  EXPECT_EQ(evaluation_summary(v2, b2), (EvaluationSummary{id_of(4), "c", "blocked"}));
  EXPECT_EQ(evaluation_summary(attested, b2), evaluation_summary(v2, b2));
  EXPECT_FALSE(evaluation_summary(v1, b2));
  EXPECT_FALSE(evaluation_summary(v2, b1));
  EXPECT_FALSE(evaluation_summary(base::schema_id("quintrel.candidate.v1"), b1));
  EXPECT_FALSE(evaluation_summary(v1, R"({"candidate":)" + json_id(4) + R"(,"criterion":"","outcome":"passed"})"));
}

TEST(EvolutionPayloads, SelectionApprovalSubject) {
  const std::string tag = R"(["quintrel.selection-approval.v0.3",)";
  EXPECT_EQ(*selection_approval_subject_hash("alice", std::nullopt, kSelection),
            base::sha256(tag + R"("alice",null,)" + kSelectionBytes + "]"));
  EXPECT_EQ(*selection_approval_subject_hash("alice", id_of(1), kSelection),
            base::sha256(tag + R"("alice",)" + json_id(1) + "," + kSelectionBytes + "]"));

}

}  // namespace
}  // namespace quintrel::record
