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
      {"signed throughout", true, one_claim, {}},
      {"the core profile not met", true, one_claim,
       {"FAIL S0: quintrel-core-v1: NonConformant (not declared; evaluated as the fallback)"},
       [](Receipt& r) { r.rules.max_context_records = 0; }},
      {"three kinds required", true, one_claim, {"FAIL S1: signature not required for Retraction, Requirement"},
       [](Receipt& r) { r.rules.signature_required_kinds = {Kind::Candidate, Kind::Evaluation, Kind::Selection}; }},
      {"unsigned, nothing pinned", false,
       [](World& w) {
         Standard s(w);
         w.select("S", {s.candidate}, {s.evaluation});
         CandidateData bad;  // a tree of the wrong length: rejected, so its author is never listed
         bad.source.git.tree = "abc";
         EXPECT_TRUE(w.commit(draft(Kind::Candidate, "executor", bad, {cause(s.request)})).judgement);
         w.retract(s.requirement, "user");
       },
       {"FAIL S1: signature not required for Candidate, Evaluation, Selection, Retraction, Requirement",
        "FAIL S2: unpinned: \"provider\" (Candidate), \"system\" (Evaluation), \"user\" (Requirement, Retraction, "
        "Selection)",
        "FAIL S3: not attested: 1 of 1 used evaluation(s): [{E}]"}},
      {"uses are counted, unattested evaluations named once", true,
       [](World& w) {
         Standard s(w);
         w.select("S", {s.candidate}, {s.evaluation});
         const Id plain = w.evaluation("E2", {.candidate = s.candidate, .schema = "quintrel.evaluation.v2"});
         w.select("S2", {s.candidate}, {s.evaluation, plain});
         w.select("S3", {s.candidate}, {plain});
         // Neither a selection of nothing nor a rejected one counts.
         w.add("N", draft(Kind::Selection, "user", SelectionData{"ship", {s.candidate}, SelectionOutcome::none(), {}},
                          {use(plain)}));
         Draft rejected = w.selection({s.candidate}, {plain});
         rejected.refs.push_back(require(s.evaluation));
         EXPECT_TRUE(w.commit(rejected).judgement);
       },
       {"FAIL S3: not attested: 1 of 4 used evaluation(s): [{E2}]"}},
      {"an Invalid receipt", true, one_claim, failing('S', 0, 3, "receipt is Invalid"),
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
  World w;
  one_claim(w);
  Receipt receipt = receipt_of(w.log);
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
