// The shared vocabularies: spellings in ordinal order, the one-key null form,
// the author table and evidence classes.
#include <gtest/gtest.h>

#include "base/schema.h"
#include "record/evidence.h"
#include "record/kind.h"

namespace quintrel::record {
namespace {

// Writes every ordinal, reads it back as a string and as {"Name":null}, and
// gives the spellings joined by spaces.
template <class E>
std::string spellings() {
  std::string out;
  for (size_t i = 0; i < base::enum_count<E>(); ++i) {
    const E e = static_cast<E>(i);
    const std::string text = *base::canonical_json(e);
    EXPECT_EQ(base::from_json<E>(text), e);
    EXPECT_EQ(base::from_json<E>("{" + text + ":null}"), e);
    out += (i ? " " : "") + text.substr(1, text.size() - 2);
  }
  return out;
}

TEST(Kind, SpellingsInOrdinalOrder) {
  EXPECT_EQ(spellings<Kind>(),
            "Request Action Response Result Summary Approval Capability Usage Refusal Verdict Plan "
            "Retraction Candidate Evaluation Selection Requirement");
  EXPECT_EQ(spellings<AuthorType>(), "User Provider System Executor Verifier");
  EXPECT_EQ(spellings<RefType>(), "Cause Use Require Replace");
  EXPECT_EQ(spellings<VerdictResult>(), "Accept Reject");
  EXPECT_EQ(spellings<ReasonCode>(),
            "UnknownSchema KindSchemaMismatch SignatureMissing SignatureInvalid RefUnresolved RefCrossSpace "
            "RequestMissing CapabilityMissing CapabilityDenied ApprovalMissing ApprovalExpired ActionClosed "
            "ReplacementInvalid ExternalReceiptRequired EvidenceBelowThreshold Refused InvalidPayload "
            "InvalidCheckpoint AuthorRoleInvalid AuthorityRefMissing SourceBindingInvalid LineageInvalid "
            "PayloadRefUnresolved EvaluationInvalid SelectionInvalid ReaffirmationInvalid ArtifactRefInvalid "
            "RequirementInvalid");
  EXPECT_EQ(spellings<CapabilityMode>(), "Auto Ask Deny");
  EXPECT_EQ(spellings<ExecMode>(), "Internal External");
  EXPECT_EQ(spellings<ResultStatus>(), "Success Failure");
  EXPECT_EQ(spellings<SummaryType>(), "Procedure Pattern Lesson StateSnapshot");
  EXPECT_EQ(spellings<UsageOutcome>(), "Done NotDone NoChange");
  EXPECT_EQ(spellings<RefusalTarget>(), "Action Request VerifiedEffect");
  EXPECT_EQ(spellings<Evidence>(), "Deterministic Verified Reported Inferred Assumed");
}

TEST(Kind, RefusedSpellings) {
  auto error_of = [](std::string_view text) { return base::from_json<AuthorType>(text).error().to_string(); };
  const std::string expected = ", expected one of `User`, `Provider`, `System`, `Executor`, `Verifier` at line 1 ";
  EXPECT_EQ(error_of(R"("USER")"), "unknown variant `USER`" + expected + "column 6");
  EXPECT_EQ(error_of(R"(" User")"), "unknown variant ` User`" + expected + "column 7");
  EXPECT_EQ(error_of(R"({"User":1})"), "invalid type: integer `1`, expected unit at line 1 column 9");
  EXPECT_EQ(error_of(R"({"User":null,"System":null})"), "expected value at line 1 column 12");
  EXPECT_EQ(base::from_json<Kind>(R"("requirement")").error().message,
            "unknown variant `requirement`, expected one of `Request`, `Action`, `Response`, `Result`, "
            "`Summary`, `Approval`, `Capability`, `Usage`, `Refusal`, `Verdict`, `Plan`, `Retraction`, "
            "`Candidate`, `Evaluation`, `Selection`, `Requirement`");
}

TEST(Kind, AllowedAuthorTypes) {
  // Per kind in ordinal order; one letter per type: User, Provider, System, Executor, Verifier.
  const char* table[] = {"U", "P", "P", "E", "P", "U", "US", "PS", "US", "V", "P", "UPS", "UPSE", "UPSE", "UPS", "UPS"};
  for (size_t k = 0; k < std::size(table); ++k) {
    std::string got;
    for (AuthorType a : allowed_author_types(static_cast<Kind>(k))) got += "UPSEV"[static_cast<int>(a)];
    std::sort(got.begin(), got.end());
    std::string want = table[k];
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want) << k;
  }
}

TEST(Evidence, BaseAndDerivedClasses) {
  using E = Evidence;
  auto base_of = [](std::string_view name) { return base_evidence(base::schema_id(name)); };
  int reported = 0;
  for (std::string_view name : base::kSchemaNames) reported += base_of(name) == E::Reported;
  EXPECT_EQ(reported, 14);
  for (auto name : {"quintrel.summary.v1", "quintrel.plan.v1", "quintrel.selection.v1"})
    EXPECT_EQ(base_of(name), E::Inferred) << name;
  for (auto name : {"quintrel.evaluation.attested.v1", "quintrel.result.external_receipt.v1"})
    EXPECT_EQ(base_of(name), E::Verified) << name;
  const auto verdict = base::schema_id("quintrel.verdict.v1"), request = base::schema_id("quintrel.request.v1"),
             unknown = base::schema_id("quintrel.request.v2");
  EXPECT_EQ(derive_evidence(verdict, {}), E::Deterministic);
  EXPECT_EQ(derive_evidence(verdict, std::vector{E::Deterministic, E::Inferred}), E::Inferred);
  EXPECT_EQ(derive_evidence(request, std::vector{E::Verified}), E::Reported);
  EXPECT_EQ(derive_evidence(request, std::vector{E::Assumed}), E::Assumed);
  EXPECT_EQ(derive_evidence(unknown, std::vector{E::Deterministic}), E::Assumed);
}

}  // namespace
}  // namespace quintrel::record
