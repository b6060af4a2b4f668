// The named queries over one hand-built lineage, each answer written out
// whole, the error texts and the debug form of a replay failure.
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "receipt_fixture.h"
#include "queries/queries.h"
#include "record/evolution_payloads.h"

namespace quintrel::queries {
namespace {

using namespace quintrel::fixture;
using namespace record;
using B = CandidateBasis;

const ArtifactRef kArtA{"sha256-bytes", std::string(64, 'a'), std::nullopt};
const ArtifactRef kArtB{"sha256-bytes", std::string(64, 'b'), "lib"};
const ArtifactRef kReport{"sha256-bytes", std::string(64, 'c'), "report"};

Draft candidate(char tree, B basis, std::vector<Ref> refs, std::optional<Id> parent = {},
                std::optional<std::vector<ArtifactRef>> artifacts = {}) {
  CandidateData c;
  c.source.git.tree = std::string(40, tree), c.basis = basis, c.parent = parent, c.artifacts = artifacts;
  return draft(Kind::Candidate, "provider", c, std::move(refs));
}
Draft selection(std::string objective, std::vector<Id> considered, std::optional<std::vector<Id>> chosen,
                std::vector<Ref> refs) {
  SelectionData s{std::move(objective), std::move(considered), SelectionOutcome::none(), std::nullopt};
  if (chosen) s.outcome = SelectionOutcome::choose(*chosen);
  return draft(Kind::Selection, "user", s, std::move(refs));
}
Draft v2(const Id& of, std::string criterion, EvaluationOutcomeV2 outcome, std::vector<ArtifactRef> evidence,
         std::vector<Id> reqs) {
  EvaluationDataV2 e{of, std::move(criterion), std::nullopt, outcome};
  e.evaluator.id = "ci", e.evidence = std::move(evidence), e.requirements = reqs;
  std::vector<Ref> refs{use(of)};
  for (const Id& r : reqs) refs.push_back(use(r));
  Draft d = draft(Kind::Evaluation, "provider", e, refs);
  d.schema = schema("quintrel.evaluation.v2");
  return d;
}

// Roots c1 and c2 evaluated by e1 and e2; s1 chooses c1 and is continued by
// c3 and c4; c5 derives from c3 and c2 and c6 upgrades c5. Retracting c2
// taints e2 and so s1, and compromises c5 and c6; s2 replaces s1 and, having
// chosen c1 again, keeps c3 and c4 sound. s3 chooses c3 under another
// objective, s4 chooses nothing, and a continuation of s4 is rejected.
struct Lineage {
  Log log;
  std::map<std::string, Id> ids;
  Lineage() {
    auto& i = ids;
    i["req"] = log.accept(draft(Kind::Request, "user", RequestData{"o", base::sha256("scope")}));
    i["rq"] = log.accept(draft(Kind::Requirement, "user", RequirementData{"k", "must", true, {}, {}}, {cause(i["req"])}));
    i["c1"] = log.accept(candidate('a', B::root, {cause(i["req"])}, {}, std::vector{kArtA, kArtB}));
    i["c2"] = log.accept(candidate('b', B::root, {}));
    i["e1"] = log.accept(v2(i["c1"], "tests", {}, {kReport}, {i["rq"]}));
    i["e2"] = log.accept(draft(Kind::Evaluation, "provider",
                               EvaluationData{i["c2"], "bench", {}, EvaluationOutcome::scored({85, 2})}, {use(i["c2"])}));
    i["s1"] = log.accept(selection("ship", {i["c1"], i["c2"]}, {{i["c1"]}}, {require(i["c1"]), use(i["e1"]), use(i["e2"])}));
    i["c3"] = log.accept(candidate('c', B::continuation, {cause(i["s1"])}, i["c1"]));
    i["c4"] = log.accept(candidate('d', B::continuation, {cause(i["s1"])}, i["c1"]));
    i["c5"] = log.accept(candidate('e', B::derivation, {cause(i["c3"]), cause(i["c2"])}));
    i["c6"] = log.accept(candidate('e', B::derivation, {cause(i["c5"])}));
    i["x"] = log.accept(draft(Kind::Retraction, "provider", RetractionData{i["c2"], "wrong"}, {cause(i["c2"])}));
    i["s2"] = log.accept(selection("ship", {i["c1"]}, {{i["c1"]}}, {require(i["c1"]), use(i["e1"]), replace(i["s1"])}));
    i["e3"] = log.accept(v2(i["c3"], "review", {EvaluationOutcomeV2::Kind::blocked}, {}, {}));
    i["s3"] = log.accept(selection("other", {i["c3"]}, {{i["c3"]}}, {require(i["c3"]), use(i["e3"])}));
    i["s4"] = log.accept(selection("ship", {i["c4"]}, std::nullopt, {}));
    const Commit bad = log.commit(candidate('f', B::continuation, {cause(i["s4"])}, i["c4"]));
    EXPECT_EQ(bad.judgement, ReasonCode::LineageInvalid);
    i["bad"] = bad.id;
    i["verdict"] = log.records().back().id;
  }
};

// Every node, by hand: $name stands for a node, #name for an id.
const std::map<std::string, std::string> kNodes = {
    {"req", R"({"id":"#req","kind":"Request","retracted":false,"standing":"n/a","tainted":false})"},
    {"c1", R"({"artifacts":[{"digest":")" + kArtA.digest + R"(","name":null,"scheme":"sha256-bytes"},)"
           R"({"digest":")" + kArtB.digest + R"(","name":"lib","scheme":"sha256-bytes"}],)"
           R"("id":"#c1","kind":"Candidate","retracted":false,"standing":"sound","tainted":false})"},
    {"c2", R"({"id":"#c2","kind":"Candidate","retracted":true,"standing":"compromised","tainted":false})"},
    {"c3", R"({"id":"#c3","kind":"Candidate","retracted":false,"standing":"sound","tainted":false})"},
    {"c4", R"({"id":"#c4","kind":"Candidate","retracted":false,"standing":"sound","tainted":false})"},
    {"c5", R"({"id":"#c5","kind":"Candidate","retracted":false,"standing":"compromised","tainted":false})"},
    {"c6", R"({"id":"#c6","kind":"Candidate","retracted":false,"standing":"compromised","tainted":false})"},
    {"e1", R"({"artifacts":[{"digest":")" + kReport.digest + R"(","name":"report","scheme":"sha256-bytes"}],)"
           R"("id":"#e1","kind":"Evaluation","requirements":["#rq"],"retracted":false,"standing":"n/a","tainted":false})"},
    {"e2", R"({"id":"#e2","kind":"Evaluation","retracted":false,"standing":"n/a","tainted":true})"},
    {"e3", R"({"id":"#e3","kind":"Evaluation","retracted":false,"standing":"n/a","tainted":false})"},
    {"s1", R"({"id":"#s1","kind":"Selection","retracted":false,"standing":"unsound","tainted":true})"},
    {"s2", R"({"id":"#s2","kind":"Selection","retracted":false,"standing":"sound","tainted":false})"},
    {"s3", R"({"id":"#s3","kind":"Selection","retracted":false,"standing":"sound","tainted":false})"},
};

class LineageQueries : public testing::Test {
 protected:
  Lineage l;
  Queries q = Queries::create(l.log.records(), l.log.rules).value();

  // Replaces $name and #name; names are letters and digits.
  std::string expand(std::string text) const {
    for (size_t at = 0; (at = text.find_first_of("$#", at)) != std::string::npos;) {
      size_t end = text.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789", at + 1);
      const std::string name = text.substr(at + 1, end - at - 1);
      const std::string with = text[at] == '$' ? kNodes.at(name) : base::hex_encode(l.ids.at(name));
      text.replace(at, end - at, with);
      if (text[at] != '{') at += with.size();
    }
    return text;
  }
  template <class R>
  static std::string text(const std::expected<R, QueryError>& answer) {
    auto v = to_value(answer);
    return v ? base::write_compact(*v) : "error: " + v.error();
  }
  template <class R>
  static std::string text(const R& report) {
    return base::write_compact(to_value(report));
  }
  Id id(const char* name) const { return l.ids.at(name); }
};

// The standings and the empty selection: the Python tests, over this
// lineage's receipt.
TEST_F(LineageQueries, Answers) {
  EXPECT_EQ(text(q.descent(id("c1"))), expand(R"({"line":[],"target":$c1})"));
  const std::string c2 = R"({"node":$c2,"via":"derivation"})", c3 = R"({"node":$c3,"via":"derivation"})";
  EXPECT_EQ(text(q.descent(id("c6"))),
            expand(R"({"line":[{"node":$c5,"via":"derivation"},)" + (id("c2") < id("c3") ? c2 + "," + c3 : c3 + "," + c2) +
                   R"(,{"node":$s1,"via":"continuation-anchor"},{"node":$c1,"via":"parent"}],"target":$c6})"));
  EXPECT_EQ(text(q.descendants(id("c1"))), expand(R"({"descendants":[$c3,$c4,$c5,$c6],"target":$c1})"));
  EXPECT_EQ(text(q.siblings(id("c3"))), expand(R"({"siblings":[$c4],"target":$c3})"));
  EXPECT_EQ(text(q.siblings(id("c1"))), expand(R"({"siblings":[],"target":$c1})"));
  EXPECT_EQ(text(q.frontier()),
            expand(R"({"frontier":[{"node":$c3,"reason":"selected-no-continuation"},)"
                   R"({"node":$c5,"reason":"unconsidered"},{"node":$c6,"reason":"unconsidered"}]})"));

  const std::string e1 = R"({"criterion":"tests","node":$e1,"outcome":"passed"})";
  const std::string e2 = R"({"criterion":"bench","node":$e2,"outcome":"scored 85e-2"})";
  const std::string both = id("e1") < id("e2") ? e1 + "," + e2 : e2 + "," + e1;
  const std::string s1 = R"({"evidence":[)" + both + R"(],"selection":$s1})";
  EXPECT_EQ(text(q.evidence(id("s1"))), expand(R"({"rests_on":[)" + s1 + R"(],"target":$s1})"));
  EXPECT_EQ(text(q.evidence(id("c6"))), expand(R"({"rests_on":[)" + s1 + R"(],"target":$c6})"));
  EXPECT_EQ(text(q.selected("ship")),
            expand(R"({"objective":"ship","selections":[{"chosen":[$c1],"evidence":[)" + both +
                   R"(],"selection":$s1},{"chosen":[$c1],"evidence":[)" + e1 + R"(],"selection":$s2}]})"));
  EXPECT_EQ(text(q.selected("other")),
            expand(R"({"objective":"other","selections":[{"chosen":[$c3],"evidence":[)"
                   R"({"criterion":"review","node":$e3,"outcome":"blocked"}],"selection":$s3}]})"));

  const Id unknown = base::sha256("nowhere");
  const struct {
    std::string got, want;
  } errors[] = {
      {text(q.descent(id("req"))), "record #req is not a Candidate"},
      {text(q.evidence(id("e1"))), "record #e1 is not a Candidate or Selection"},
      {text(q.descent(id("bad"))), "record #bad was rejected at commit"},
      {text(q.standing(id("verdict"))), "record #verdict was rejected at commit"},
      {text(q.evidence(unknown)), "record " + base::hex_encode(unknown) + " not found"},
  };
  for (const auto& e : errors) EXPECT_EQ(e.got, "error: " + expand(e.want));

  // Verdicts that disagree with a re-judgement: the replay's reason in debug form.
  std::vector<Record> forged = l.log.records();
  forged.back() = make_verdict(forged[forged.size() - 2], std::nullopt);
  auto refused = Queries::create(forged, l.log.rules);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().to_string(), "log does not verify: Some(LineageInvalid)");
  EXPECT_EQ(QueryError::log_invalid(std::nullopt).to_string(), "log does not verify: None");
}

// The Python tests of the query methods read this lineage as a receipt.
TEST_F(LineageQueries, ReceiptFile) {
  const std::string path = QUINTREL_TESTDATA "/lineage.receipt.json";
  const std::string bytes = bytes_of(receipt_of(l.log));
  if (std::getenv("QUINTREL_WRITE_TESTDATA")) std::ofstream(path, std::ios::binary) << bytes;
  std::ostringstream file;
  file << std::ifstream(path, std::ios::binary).rdbuf();
  EXPECT_EQ(file.str(), bytes) << path << " is rewritten when QUINTREL_WRITE_TESTDATA is set";
}

}  // namespace
}  // namespace quintrel::queries
