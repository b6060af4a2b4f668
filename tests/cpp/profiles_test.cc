// Profile records, the registry and the core profile.
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
using receipt::Receipt;
using receipt::Report;
using receipt::ValidationStatus;

Report report_with(ValidationStatus status) {
  Report r;
  r.status = status;
  return r;
}

Input input(const Receipt& receipt, const Report& report) { return receipt::profile_input(receipt, report); }

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

}  // namespace
}  // namespace quintrel::profiles
