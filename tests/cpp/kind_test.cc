// The shared vocabularies: spellings, the schema table and evidence classes.
#include <gtest/gtest.h>

#include "base/schema.h"
#include "record/evidence.h"
#include "record/kind.h"
#include "record/schema.h"

namespace quintrel::record {
namespace {

// The count and the last spelling of each: an entry inserted, lost or shifted
// in a table moves every ordinal after it. Kind's whole list shows in its refusal.
TEST(Kind, SpellingSpotChecks) {
  auto last = [](auto e) { return std::to_string(base::enum_count<decltype(e)>()) + *base::canonical_json(e); };
  EXPECT_EQ(last(AuthorType::Verifier) + last(RefType::Replace) + last(ReasonCode::RequirementInvalid) +
                last(Evidence::Assumed) + last(SummaryType::StateSnapshot) + last(RefusalTarget::VerifiedEffect) +
                last(UsageOutcome::NoChange) + last(CapabilityMode::Deny) + last(ExecMode::External) +
                last(ResultStatus::Failure),
            R"(5"Verifier"4"Replace"28"RequirementInvalid"5"Assumed"4"StateSnapshot"3"VerifiedEffect")"
            R"(3"NoChange"3"Deny"2"External"2"Failure")");
  EXPECT_EQ(base::from_json<VerdictResult>(R"("x")").error().to_string(),
            "unknown variant `x`, expected `Accept` or `Reject` at line 1 column 3");
  EXPECT_EQ(base::from_json<Kind>(R"("requirement")").error().message,
            "unknown variant `requirement`, expected one of `Request`, `Action`, `Response`, `Result`, "
            "`Summary`, `Approval`, `Capability`, `Usage`, `Refusal`, `Verdict`, `Plan`, `Retraction`, "
            "`Candidate`, `Evaluation`, `Selection`, `Requirement`");
}

TEST(Schema, IdsFindTheirSchemas) {
  for (const auto& s : schemas()) {
    EXPECT_EQ(find_schema(base::schema_id(s.name)), s.schema) << s.name;
    EXPECT_EQ(schema_id(s.schema), base::schema_id(s.name)) << s.name;
  }
  EXPECT_FALSE(find_schema(base::Id{}));
  EXPECT_FALSE(find_schema(base::schema_id("quintrel.request.v2")));
}

TEST(Evidence, BaseAndDerivedClasses) {
  using E = Evidence;
  auto base_of = [](std::string_view name) { return base_evidence(base::schema_id(name)); };
  int reported = 0;
  for (const auto& s : schemas()) reported += base_of(s.name) == E::Reported;
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

}  // namespace
}  // namespace quintrel::record
