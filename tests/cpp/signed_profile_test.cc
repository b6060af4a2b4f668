// The signed profile clause by clause, and the paths the stronger profiles
// share.
#include <functional>

#include "base/hash.h"
#include "profiles/registry.h"
#include "profiles/signed_v1.h"
#include "receipt/validate.h"
#include "receipt_fixture.h"
#include "record/evolution_payloads.h"

namespace quintrel::profiles {
namespace {

using namespace quintrel::fixture;
using namespace quintrel::record;
using receipt::Receipt;

// A log whose authors "user", "provider" and "system" sign with pinned keys
// and whose rules require signatures on the five evolution kinds, or one
// with neither.
struct World {
  Log log;
  bool pinned;
  std::map<std::string, std::string> names;

  explicit World(bool pinned = true) : pinned(pinned) {
    log.rules = workflow_rules();
    if (!pinned) return;
    log.rules.signature_required_kinds = {Kind::Candidate, Kind::Evaluation, Kind::Selection, Kind::Retraction,
                                          Kind::Requirement};
    for (auto [author, seed] : {std::pair{"user", 1}, {"provider", 2}, {"system", 3}})
      log.rules.author_keys[author] = {signer(seed).public_key()};
  }
  Commit commit(Draft d) {
    if (pinned) d.signer = &signer(d.author == "user" ? 1 : d.author == "provider" ? 2 : 3);
    return log.commit(d);
  }
  Id add(const std::string& name, Draft d) {
    const Commit c = commit(std::move(d));
    EXPECT_EQ(c.judgement, std::nullopt) << name;
    names[name] = short_id(c.id);
    return c.id;
  }
  Id evaluation(const std::string& name, const Id& candidate, const char* schema_name) {
    EvaluationDataV2 e{candidate, "tests"};
    e.evaluator.id = "ci";
    Draft d = draft(Kind::Evaluation, "system", e, {use(candidate)});
    d.schema = schema(schema_name);
    return add(name, d);
  }
  Draft selection(std::vector<Id> chosen, const std::vector<Id>& used, const std::string& author = "user") {
    SelectionData s{"ship", chosen, SelectionOutcome::choose(chosen), {}};
    std::vector<Ref> refs;
    for (const Id& c : chosen) refs.push_back(require(c));
    for (const Id& e : used) refs.push_back(use(e));
    return draft(Kind::Selection, author, s, refs);
  }
};

// A request with a requirement, a candidate, an attested evaluation of it and
// a selection of the candidate using the evaluation.
struct Standard {
  Id request, requirement, candidate, evaluation;
  explicit Standard(World& w, const std::string& author = "user") {
    request = w.add("R", draft(Kind::Request, "user", RequestData{"ship it", base::sha256("scope")}));
    requirement = w.add("Q", draft(Kind::Requirement, "user",
                                   RequirementData{"tests", "pass", true, std::nullopt, Provenance::user_authored},
                                   {cause(request)}));
    CandidateData c;
    c.source.git.tree = std::string(40, 'a');
    candidate = w.add("C", draft(Kind::Candidate, "provider", c, {cause(request)}));
    evaluation = w.evaluation("E", candidate, w.pinned ? "quintrel.evaluation.attested.v1" : "quintrel.evaluation.v2");
    w.add("S", w.selection({candidate}, {evaluation}, author));
  }
};

const std::vector<std::string> kMet = {
    "ok S0: quintrel-core-v1: Conformant (not declared; evaluated as the fallback)",
    "ok S1: signatures required for Candidate, Evaluation, Selection, Retraction, Requirement",
    "ok S2: 3 pinned author(s) of evolution records: [provider, system, user]",
    "ok S3: 1 evaluation(s) used by selections, all attested",
};

TEST(SignedProfile, Clauses) {
  const struct {
    const char* name;
    bool pinned;
    std::function<void(World&)> build;
    std::vector<std::string> expect;  // replaces the rows of kMet with the same clause id
    std::function<void(Receipt&)> edit = {};
  } cases[] = {
      {"signed throughout", true, [](World& w) { Standard{w}; }, {}},
      {"the core profile not met", true, [](World& w) { Standard{w}; },
       {"FAIL S0: quintrel-core-v1: NonConformant (not declared; evaluated as the fallback)"},
       [](Receipt& r) { r.rules.max_context_records = 0; }},
      {"three kinds required", true, [](World& w) { Standard{w}; },
       {"FAIL S1: signature not required for Retraction, Requirement"},
       [](Receipt& r) { r.rules.signature_required_kinds = {Kind::Candidate, Kind::Evaluation, Kind::Selection}; }},
      {"unsigned, nothing pinned", false,
       [](World& w) {
         Standard s(w, "provider");
         CandidateData bad;  // a tree of the wrong length: rejected, so its author is never listed
         bad.source.git.tree = "abc";
         EXPECT_TRUE(w.commit(draft(Kind::Candidate, "executor", bad, {cause(s.request)})).judgement);
         w.add("X", draft(Kind::Retraction, "user", RetractionData{s.requirement, "moot"}, {cause(s.requirement)}));
       },
       {"FAIL S1: signature not required for Candidate, Evaluation, Selection, Retraction, Requirement",
        "FAIL S2: unpinned: \"provider\" (Candidate, Selection), \"system\" (Evaluation), \"user\" (Requirement, "
        "Retraction)",
        "FAIL S3: not attested: 1 of 1 used evaluation(s): [{E}]"}},
      {"uses are counted, unattested evaluations named once", true,
       [](World& w) {
         Standard s(w);
         const Id plain = w.evaluation("E2", s.candidate, "quintrel.evaluation.v2");
         w.add("S2", w.selection({s.candidate}, {s.evaluation, plain}));
         w.add("S3", w.selection({s.candidate}, {plain}));
         // Neither a selection of nothing nor a rejected one counts.
         w.add("N", draft(Kind::Selection, "user", SelectionData{"ship", {s.candidate}, SelectionOutcome::none(), {}},
                          {use(plain)}));
         Draft rejected = w.selection({s.candidate}, {plain});
         rejected.refs.push_back(require(s.evaluation));
         EXPECT_TRUE(w.commit(rejected).judgement);
       },
       {"FAIL S3: not attested: 1 of 4 used evaluation(s): [{E2}]"}},
      {"an Invalid receipt", true, [](World& w) { Standard{w}; }, failing('S', 0, 3, "receipt is Invalid"),
       [](Receipt& r) { r.records[1].time = 9; }},
  };
  for (const auto& c : cases) {
    World w(c.pinned);
    c.build(w);
    Receipt receipt = receipt_of(w.log);
    if (c.edit) c.edit(receipt);
    expect_rows(validated_profile(receipt, "quintrel-core-signed-v1"), expected_rows(kMet, c.expect, w.names),
                signed_v1::table(), c.name);
  }
}

// Validation finds a receipt whose state does not rebuild Invalid; the
// stronger profiles still say so when asked directly.
TEST(StrongerProfiles, StateThatDoesNotRebuild) {
  Receipt receipt = receipt_of(workflow().log);
  for (auto& r : receipt.records)
    if (r.kind == Kind::Verdict) r.data = base::to_bytes("{}");
  receipt::Report clean;
  clean.status = receipt::ValidationStatus::Clean;
  const Input input = receipt::profile_input(receipt, clean);
  for (const auto& [id, clauses] : {std::pair{"quintrel-core-signed-v1", 4}, {"delivery-receipt-v1", 8}}) {
    const ProfileResult result = evaluate_profile(id, input);
    ASSERT_EQ(result.clauses.size(), static_cast<size_t>(clauses)) << id;
    for (const auto& c : result.clauses) EXPECT_EQ(c.detail, "state could not be rebuilt") << id;
    EXPECT_EQ(result.status, ProfileStatus::NonConformant) << id;
  }
}

}  // namespace
}  // namespace quintrel::profiles
