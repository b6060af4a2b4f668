// Profile records, the registry, and the core, signed and delivery profiles
// clause by clause over receipts of logs committed through the log writer.
#include <algorithm>
#include <functional>
#include <span>

#include "base/hash.h"
#include "profiles/core_v1.h"
#include "profiles/delivery_v1.h"
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
using receipt::Report;
using receipt::ValidationStatus;

Report report_with(ValidationStatus status) {
  Report r;
  r.status = status;
  return r;
}

Input input(const Receipt& receipt, const Report& report) { return receipt::profile_input(receipt, report); }

// Clause lines "FAIL L<first>: detail" to "FAIL L<last>: detail".
std::vector<std::string> failing(char letter, int first, int last, const std::string& detail) {
  std::vector<std::string> out;
  for (int i = first; i <= last; ++i) out.push_back("FAIL " + std::string(1, letter) + std::to_string(i) + ": " + detail);
  return out;
}

// `rows`, clause lines such as "ok D0: detail" or "FAIL D0: detail", with each
// of `changes` in place of the row of its clause id, and every "{name}"
// replaced by the value of `name`.
std::vector<std::string> expected_rows(std::vector<std::string> rows, const std::vector<std::string>& changes,
                                       const std::map<std::string, std::string>& names = {}) {
  auto clause = [](const std::string& row) { return row.substr(row.find(' ') + 1, 2); };
  for (const auto& change : changes)
    for (auto& row : rows)
      if (clause(row) == clause(change)) row = change;
  for (auto& row : rows)
    for (const auto& [name, value] : names)
      for (size_t at; (at = row.find("{" + name + "}")) != std::string::npos;) row.replace(at, name.size() + 2, value);
  return rows;
}

// Expects the result's clause lines to be `rows`, its status to follow them
// and its hash to be the table's.
void expect_rows(const ProfileResult& result, const std::vector<std::string>& rows, const ProfileTable& table,
                 const std::string& name) {
  std::vector<std::string> lines;
  for (const auto& c : result.clauses) lines.push_back((c.passed ? "ok " : "FAIL ") + c.id + ": " + c.detail);
  EXPECT_EQ(lines, rows) << name;
  const bool met = std::ranges::all_of(rows, [](const std::string& row) { return row.starts_with("ok"); });
  EXPECT_EQ(result.status, met ? ProfileStatus::Conformant : ProfileStatus::NonConformant) << name;
  EXPECT_EQ(result.hash, profile_hash(table)) << name;
}

// A world built, its receipt edited, and the rows of the profile's met
// table that change.
struct Case {
  const char* name;
  std::function<void(World&)> build;
  std::vector<std::string> expect;  // replaces the met rows with the same clause id
  std::function<void(Receipt&)> edit = {};
  bool pinned = false;
};

// Validates each case's receipt under the standard limits with the profile
// `id` required, and expects the met rows with the case's changes.
void expect_cases(std::span<const Case> cases, const std::string& id, const std::vector<std::string>& met,
                  const ProfileTable& table) {
  for (const auto& c : cases) {
    World w(c.pinned);
    c.build(w);
    Receipt receipt = receipt_of(w.log);
    if (c.edit) c.edit(receipt);
    const auto report = receipt::validate_with_profiles(bytes_of(receipt), receipt::kStandardLimits, {{id}});
    const auto result = std::ranges::find(report.profiles, id, &ProfileResult::id);
    ASSERT_NE(result, report.profiles.end()) << c.name;
    expect_rows(*result, expected_rows(met, c.expect, w.names), table, c.name);
  }
}

TEST(ProfileRecords, TableHashIsPinned) {
  // Any change of a statement, id, order or version changes these values, and
  // every receipt declaring the old one then reports a mismatch.
  const struct {
    std::string id;
    ProfileTable table;
    const char* hash;
  } tables[] = {
      {"quintrel-core-v1", core_v1_table(), "651c26e3d5e90f27991c4e9191ac54f0928d70cc9c408d6a4e42e1a6a8e4350e"},
      {"quintrel-core-signed-v1", signed_v1::table(),
       "84650e956bcd933eb891188525458a3f15f05f11907e7b64657d5f426beaac6e"},
      {"delivery-receipt-v1", delivery_v1::table(),
       "7444cd42f9500fa7de944e4f9a0815a03560a7b8704e63f0cb57c2cb1b34c605"},
  };
  for (const auto& t : tables) {
    EXPECT_EQ(base::hex_encode(profile_hash(t.table)), t.hash) << t.id;
    EXPECT_EQ(profile_ref(t.id), (ProfileRef{t.id, 1, profile_hash(t.table)})) << t.id;
    EXPECT_EQ(profile_table(t.id)->id, t.id);
  }
  for (const char* id : {"Quintrel-core-v1", "quintrel-core-v1 ", "quintrel-core", "delivery-receipt-v1\n", ""})
    EXPECT_FALSE(profile_table(id)) << id;
}

TEST(Registry, DeclaringAndEvaluating) {
  World w;
  one_claim(w);
  const Receipt receipt = receipt_of(w.log);
  auto declare = [&](std::vector<std::string> ids) { return Receipt::with_declared_profiles(receipt, ids); };
  auto declared = declare({"quintrel-core-v1"});
  ASSERT_TRUE(declared);
  EXPECT_EQ(declared->profiles, std::vector<ProfileRef>{*profile_ref("quintrel-core-v1")});
  EXPECT_EQ(declare({})->profiles.size(), 0u);
  EXPECT_EQ(Receipt::with_declared_profiles(*declared, std::vector<std::string>{"quintrel-core-v1"}).error(),
            "profile \"quintrel-core-v1\" declared more than once");
  EXPECT_EQ(declare({"nope", "nope"}).error(), "unknown profile \"nope\"");

  const Report report = report_with(ValidationStatus::Clean);
  const ProfileResult core = evaluate_profile("quintrel-core-v1", input(receipt, report));
  EXPECT_FALSE(core.declared);
  EXPECT_EQ(core.declaration_matches, std::nullopt);
  EXPECT_EQ(evaluate_profile("quintrel-core-v1", input(receipt, report)), core);  // nothing kept between calls

  ProfileRef ref = *profile_ref("quintrel-core-v1");
  EXPECT_EQ(evaluate_declared(ref, input(receipt, report)).declaration_matches, true);
  for (auto change : {+[](ProfileRef& r) { r.version = 2; }, +[](ProfileRef& r) { r.hash[31] ^= 1; }}) {
    ProfileRef wrong = ref;
    change(wrong);
    const ProfileResult r = evaluate_declared(wrong, input(receipt, report));
    EXPECT_EQ(r.declaration_matches, false);
    EXPECT_EQ(r.status, core.status);
    EXPECT_EQ(r.clauses, core.clauses);
    EXPECT_FALSE(met(r));
  }
  EXPECT_EQ(evaluate_declared({"mystery", 1, {}}, input(receipt, report)),
            (ProfileResult{"mystery", {}, ProfileStatus::Unknown, true, std::nullopt, {}}));

  // Validation finds a receipt whose state does not rebuild Invalid; the
  // stronger profiles still say so when asked directly.
  Receipt broken = receipt;
  for (auto& r : broken.records)
    if (r.kind == Kind::Verdict) r.data = base::to_bytes("{}");
  for (const auto& [id, clauses] : {std::pair{"quintrel-core-signed-v1", 4}, {"delivery-receipt-v1", 8}}) {
    const ProfileResult result = evaluate_profile(id, input(broken, report));
    ASSERT_EQ(result.clauses.size(), static_cast<size_t>(clauses)) << id;
    for (const auto& c : result.clauses) EXPECT_EQ(c.detail, "state could not be rebuilt") << id;
    EXPECT_EQ(result.status, ProfileStatus::NonConformant) << id;
  }
}

TEST(CoreProfile, Clauses) {
  World w;
  Standard s(w);  // its candidate is reported
  record::CandidateData candidate;  // a tree of the wrong length: rejected, so never counted
  candidate.source.git.tree = "abc";
  ASSERT_TRUE(w.commit(draft(Kind::Candidate, "provider", candidate, {cause(s.request)})).judgement);
  candidate.source.git.tree = std::string(40, 'b');  // a second reported one
  w.add("C2", draft(Kind::Candidate, "provider", candidate, {cause(s.request)}));
  candidate.source.manifest_hash = base::sha256("manifest");
  candidate.source.binding = record::BindingMode::manifest;
  w.add("M", draft(Kind::Candidate, "provider", candidate, {cause(s.request)}));
  const Receipt base = receipt_of(w.log);
  const std::vector<std::string> clean = {
      "ok B1: status Clean",
      "ok B2: 5 registered author role(s)",
      "ok B3: Candidate=Reported, Evaluation=Reported, Selection=Inferred",
      "ok B4: max_context_records 200",
      "ok B5: admin_retraction_actors [], reaffirmation_actors []",
      "ok B6: candidates: 1 manifest-bound, 2 reported",
  };
  using Rules = verify::VerifierRules;
  const struct {
    const char* name;
    void (*change)(Rules&);
    ValidationStatus status;
    std::vector<std::string> expect;  // replaces the clean rows of the same clause
  } cases[] = {
      {"clean", [](Rules&) {}, ValidationStatus::Clean, {}},
      {"invalid", [](Rules&) {}, ValidationStatus::Invalid,
       {"FAIL B1: status Invalid", "ok B6: candidates: 0 manifest-bound, 0 reported"}},
      {"no roles", [](Rules& r) { r.author_roles.clear(); }, ValidationStatus::Clean,
       {"FAIL B2: 0 registered author role(s)"}},
      {"thresholds", [](Rules& r) {
         r.evidence_thresholds.erase(Kind::Evaluation);
         r.evidence_thresholds[Kind::Candidate] = Evidence::Deterministic;
         r.evidence_thresholds[Kind::Selection] = Evidence::Assumed;
       },
       ValidationStatus::Clean,
       {"FAIL B3: Candidate=Deterministic, Evaluation=missing, Selection=Assumed (weaker than Inferred)"}},
      {"a weaker candidate threshold", [](Rules& r) { r.evidence_thresholds[Kind::Candidate] = Evidence::Inferred; },
       ValidationStatus::Clean,
       {"FAIL B3: Candidate=Inferred (weaker than Reported), Evaluation=Reported, Selection=Inferred"}},
      {"context 0", [](Rules& r) { r.max_context_records = 0; }, ValidationStatus::Clean,
       {"FAIL B4: max_context_records 0"}},
      {"context 1", [](Rules& r) { r.max_context_records = 1; }, ValidationStatus::Clean,
       {"ok B4: max_context_records 1"}},
      {"context 100000", [](Rules& r) { r.max_context_records = 100000; }, ValidationStatus::Clean,
       {"ok B4: max_context_records 100000"}},
      {"context 100001", [](Rules& r) { r.max_context_records = 100001; }, ValidationStatus::Clean,
       {"FAIL B4: max_context_records 100001"}},
      {"actors", [](Rules& r) { r.admin_retraction_actors = {"root", "admin"}, r.reaffirmation_actors = {"bob"}; },
       ValidationStatus::Clean, {"ok B5: admin_retraction_actors [admin, root], reaffirmation_actors [bob]"}},
      {"an actor name that would break the line", [](Rules& r) { r.reaffirmation_actors = {"a\nb", "c"}; },
       ValidationStatus::Clean, {"ok B5: admin_retraction_actors [], reaffirmation_actors [\"a\\nb\", c]"}},
  };
  for (const auto& c : cases) {
    Receipt receipt = base;
    c.change(receipt.rules);
    expect_rows(evaluate_core_v1(input(receipt, report_with(c.status))), expected_rows(clean, c.expect),
                core_v1_table(), c.name);
  }
}

const std::vector<std::string> kSignedMet = {
    "ok S0: quintrel-core-v1: Conformant (not declared; evaluated as the fallback)",
    "ok S1: signatures required for Candidate, Evaluation, Selection, Retraction, Requirement",
    "ok S2: 3 pinned author(s) of evolution records: [provider, system, user]",
    "ok S3: 1 evaluation(s) used by selections, all attested",
};

TEST(SignedProfile, Clauses) {
  const Case cases[] = {
      {"signed throughout", one_claim, {}, {}, true},
      {"the core profile not met", one_claim,
       {"FAIL S0: quintrel-core-v1: NonConformant (not declared; evaluated as the fallback)"},
       [](Receipt& r) { r.rules.max_context_records = 0; }, true},
      {"three kinds required", one_claim, {"FAIL S1: signature not required for Retraction, Requirement"},
       [](Receipt& r) { r.rules.signature_required_kinds = {Kind::Candidate, Kind::Evaluation, Kind::Selection}; },
       true},
      {"unsigned, nothing pinned",
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
      {"uses are counted, unattested evaluations named once",
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
       {"FAIL S3: not attested: 1 of 4 used evaluation(s): [{E2}]"}, {}, true},
      {"an Invalid receipt", one_claim, failing('S', 0, 3, "receipt is Invalid"),
       [](Receipt& r) { r.records[1].time = 9; }, true},
  };
  expect_cases(cases, "quintrel-core-signed-v1", kSignedMet, signed_v1::table());
}

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

const std::vector<std::string> kDeliveryMet = {
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
  const Case cases[] = {
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
  expect_cases(cases, "delivery-receipt-v1", kDeliveryMet, delivery_v1::table());
}

}  // namespace
}  // namespace quintrel::profiles
