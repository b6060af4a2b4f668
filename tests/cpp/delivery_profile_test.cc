// The delivery profile, clause by clause, over receipts of logs committed
// through the log writer and validated with the profile required.
#include <algorithm>
#include <functional>

#include "base/hash.h"
#include "profiles/delivery_v1.h"
#include "profiles/registry.h"
#include "receipt_fixture.h"
#include "record/evolution_payloads.h"

namespace quintrel::profiles {
namespace {

using namespace quintrel::fixture;
using namespace quintrel::record;
using receipt::Receipt;

const Id kScope = base::sha256("scope");

// A claim "S" on a candidate "C" carrying `carried`, evaluated by "E" citing
// `cited`, and a Result carrying the artifact "build": after an action of its
// own request in `thread`.
void claim_with_result(World& w, const Id& thread, std::vector<ArtifactRef> carried = {},
                       std::vector<ArtifactRef> cited = {artifact("build")}) {
  std::ranges::sort(carried);
  const Id own = w.request("R"), q = w.requirement(own, "tests"), c = w.candidate("C", own, std::move(carried));
  const Id r = w.request("result request", thread);
  const Id cap = w.log.accept(draft(Kind::Capability, "system", CapabilityData{"provider", "build", kScope, {}, {}}));
  Draft act = draft(Kind::Action, "provider", ActionData{r, "build", kScope, {}, {}}, {require(cap)});
  act.thread = thread;
  const Id action = w.log.accept(act);
  Draft done =
      draft(Kind::Result, "executor", ResultData{action, {}, "", std::vector{artifact("build")}}, {cause(action)});
  done.thread = thread;
  w.log.accept(done);
  std::ranges::sort(cited);
  w.select("S", {c}, {w.evaluation("E", {c, {q}, {}, std::move(cited)})});
}

const std::vector<std::string> kMet = {
    "ok D0: claim {S} for request {R}",
    "ok D1: {S}: 1 required requirement(s) covered",
    "ok D2: {S}: every used evaluation of a required requirement passed",
    "ok D3: {S}: 1 evaluation(s) bound to the chosen candidate, evidence on the record",
    "ok D4: {S}: producer \"provider\", every evaluator distinct",
    "ok D5: {S}: weakest basis recomputed",
    "ok D6: quintrel-core-v1: Conformant (not declared; evaluated as the fallback)",
    "ok D7: {S}: sound, untainted",
};
const std::vector<std::string> kNoClaim = [] {
  std::vector<std::string> rows = failing('D', 0, 7, "no claim to evaluate");
  rows[0] = "FAIL D0: no delivery claim: no accepted Selected selection whose used evaluations bind to requirements "
            "of exactly one request";
  return rows;
}();

TEST(DeliveryProfile, Clauses) {
  const struct {
    const char* name;
    std::function<void(World&)> build;
    std::vector<std::string> expect;  // replaces the rows of kMet with the same clause id
    std::function<void(Receipt&)> edit = {};
  } cases[] = {
      {"one sound claim", one_claim, {}},
      {"evaluations bound to two requests",
       [](World& w) {
         Standard s(w);
         const Id other = w.requirement(w.request("R2"), "lint");
         w.select("S", {s.candidate}, {s.evaluation, w.evaluation("E2", {s.candidate, {other}})});
       },
       kNoClaim},
      {"an evaluation bound to no requirement",
       [](World& w) { Standard s(w); w.select("S", {s.candidate}, {w.evaluation("E2", {s.candidate, {}})}); },
       kNoClaim},
      {"a later claim supersedes",
       [](World& w) {
         Standard s(w);
         w.select("S0", {s.candidate}, {s.evaluation});
         w.select("S", {s.candidate}, {s.evaluation});
       },
       {"ok D0: claim {S} for request {R}; superseded: {S0}"}},
      {"a retracted later claim is superseded too",
       [](World& w) {
         Standard s(w);
         w.select("S", {s.candidate}, {s.evaluation});
         w.retract(w.select("S9", {s.candidate}, {s.evaluation}), "user");
       },
       {"ok D0: claim {S} for request {R}; superseded: {S9}"}},
      {"every claim tainted: the latest is taken",
       [](World& w) {
         Standard s(w);
         w.select("S0", {s.candidate}, {s.evaluation});
         w.select("S", {s.candidate}, {s.evaluation});
         w.retract(s.candidate, "provider");
       },
       {"ok D0: claim {S} for request {R}; superseded: {S0}", "FAIL D7: {S}: unsound, tainted"}},
      {"claims for two requests, in the order of their selections",
       [](World& w) {
         Standard a(w), b(w, "2");
         w.select("S", {a.candidate}, {a.evaluation});
         const Id own = w.evaluation("P", {b.candidate, {b.requirement}, {}, {artifact("build")}, "provider"});
         w.select("S2", {b.candidate}, {b.evaluation, own});
       },
       {"ok D0: claim {S} for request {R}; claim {S2} for request {R2}",
        "ok D1: {S}: 1 required requirement(s) covered; {S2}: 1 required requirement(s) covered",
        "ok D2: {S}: every used evaluation of a required requirement passed; {S2}: every used evaluation of a "
        "required requirement passed",
        "ok D3: {S}: 1 evaluation(s) bound to the chosen candidate, evidence on the record; {S2}: 2 evaluation(s) "
        "bound to the chosen candidate, evidence on the record",
        "FAIL D4: {S}: producer \"provider\", every evaluator distinct; {S2}: producer \"provider\" authored "
        "evaluation(s) {P}",
        "ok D5: {S}: weakest basis recomputed; {S2}: weakest basis recomputed",
        "ok D7: {S}: sound, untainted; {S2}: sound, untainted"}},
      {"no required requirement",
       [](World& w) {
         const Id r = w.request("R");
         const Id optional = w.requirement(r, "style", false);
         const Id c = w.candidate("C", r);
         w.select("S", {c}, {w.evaluation("E", {c, {optional}, {EvaluationOutcomeV2::Kind::failed}})});
       },
       {"ok D1: {S}: 0 required requirement(s) covered"}},
      {"covered only by a retracted evaluation; the selection retracted too",
       [](World& w) {
         Standard s(w);
         const Id lint = w.requirement(s.request, "lint");
         const Id both = w.evaluation("E2", {s.candidate, {s.requirement, lint}});
         const Id selection = w.select("S", {s.candidate}, {s.evaluation, both});
         w.retract(both, "system");
         w.retract(selection, "user");
       },
       {"FAIL D1: {S}: uncovered lint",
        "ok D3: {S}: 2 evaluation(s) bound to the chosen candidate, evidence on the record",
        "FAIL D7: {S}: unsound, tainted, retracted"}},
      {"a failed and a scored evaluation beside a passed one",
       [](World& w) {
         Standard s(w);
         const Id failed = w.evaluation("E2", {s.candidate, {s.requirement}, {EvaluationOutcomeV2::Kind::failed}});
         const Id scored = w.evaluation("E3", {s.candidate, {s.requirement}, EvaluationOutcomeV2::scored({5, 1})});
         w.select("S", {s.candidate}, {s.evaluation, failed, scored});
       },
       // Listed in the order of the selection's refs, which are stored sorted by id.
       {"FAIL D2: {S}: non-passing {E3} scored 5e-1, {E2} failed",
        "ok D3: {S}: 3 evaluation(s) bound to the chosen candidate, evidence on the record"}},
      {"two chosen candidates; an evaluation without evidence",
       [](World& w) {
         Standard s(w);
         const Id bare = w.evaluation("E2", {s.candidate, {s.requirement}, {}, {}});
         w.select("S", {s.candidate, w.candidate("C2", s.request)}, {s.evaluation, bare});
       },
       {"FAIL D3: {S}: chooses 2 candidates; {E2} judges another candidate; {E2} has no evidence; {E} judges another "
        "candidate; {E} cites sha256-bytes:{build} which is not on the record",
        "FAIL D4: {S}: no single claimed candidate"}},
      {"evidence on a Result of the selection's thread", [](World& w) { claim_with_result(w, w.log.rules.space); }, {}},
      {"evidence on the candidate and a Result of the thread is counted once, also when the evaluation cites many",
       [](World& w) {
         std::vector<ArtifactRef> carried = {artifact("build")};
         for (int i = 0; i < 20; ++i) carried.push_back(artifact(std::to_string(i)));
         std::vector<ArtifactRef> cited = carried;
         cited.push_back(artifact("x"));
         claim_with_result(w, w.log.rules.space, carried, cited);
       },
       {"FAIL D3: {S}: {E} cites sha256-bytes:{x} which is not on the record"}},
      {"evidence only on a Result of another thread",
       [](World& w) { claim_with_result(w, base::sha256("another thread")); },
       {"FAIL D3: {S}: {E} cites sha256-bytes:{build} which is not on the record"}},
      {"a v1 evaluation by the producer; a declared basis and a decider without procedure and input hashes",
       [](World& w) {
         Standard s(w);
         const Id e = w.evaluation("E2", {s.candidate, {}, {}, {artifact("build")}, "system", Basis::declared, false});
         w.select("S", {s.candidate}, {s.evaluation, w.v1_evaluation("V", s.candidate, "provider"), e});
       },
       {"FAIL D3: {S}: 1 evaluation(s) without an evidence set (v1 shape)",
        "FAIL D4: {S}: producer \"provider\" authored evaluation(s) {V}",
        "FAIL D5: {S}: 1 evaluation(s) carry no decider binding (v1 shape); {E2} lacks procedure_hash or input_hash; "
        "weakest basis declared"}},
      {"the core profile declared with a wrong hash", one_claim,
       {"FAIL D6: quintrel-core-v1: Conformant (declared, DECLARATION MISMATCH)"},
       [](Receipt& r) { r.profiles = {{"quintrel-core-v1", 1, base::sha256("an older table")}}; }},
      {"an Invalid receipt", one_claim, failing('D', 0, 7, "receipt is Invalid"),
       [](Receipt& r) { r.records[1].time = 9; }},
  };
  for (const auto& c : cases) {
    World w;
    c.build(w);
    Receipt receipt = receipt_of(w.log);
    if (c.edit) c.edit(receipt);
    expect_rows(validated_profile(receipt, "delivery-receipt-v1"), expected_rows(kMet, c.expect, w.names),
                delivery_v1::table(), c.name);
  }
}

}  // namespace
}  // namespace quintrel::profiles
