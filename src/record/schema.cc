#include "record/schema.h"

#include <array>

#include "base/codec.h"
#include "base/schema.h"
#include "record/activity_payloads.h"
#include "record/candidate_payload.h"
#include "record/evaluation_payload.h"
#include "record/evolution_payloads.h"
#include "record/plan_payload.h"

namespace quintrel::record {
namespace {

using base::decodes_canonically;
using E = Evidence;
using S = Schema;

constexpr std::array<SchemaInfo, kSchemaCount> kSchemas = {{
    {S::Request, "quintrel.request.v1", Kind::Request, E::Reported, &decodes_canonically<RequestData>},
    {S::Action, "quintrel.action.v1", Kind::Action, E::Reported, &decodes_canonically<ActionData>},
    {S::Response, "quintrel.response.v1", Kind::Response, E::Reported, &decodes_canonically<ResponseData>},
    {S::Result, "quintrel.result.v1", Kind::Result, E::Reported, &decodes_canonically<ResultData>},
    {S::ResultExternalReceipt, "quintrel.result.external_receipt.v1", Kind::Result, E::Verified,
     &decodes_canonically<ResultData>},
    {S::ResultEffectConfirmation, "quintrel.result.effect_confirmation.v1", Kind::Result, E::Reported,
     &decodes_canonically<ResultData>},
    {S::Capability, "quintrel.capability.v1", Kind::Capability, E::Reported, &decodes_canonically<CapabilityData>},
    {S::Approval, "quintrel.approval.v1", Kind::Approval, E::Reported, &decodes_canonically<ApprovalData>},
    {S::Summary, "quintrel.summary.v1", Kind::Summary, E::Inferred, &decodes_canonically<SummaryData>},
    {S::Refusal, "quintrel.refusal.v1", Kind::Refusal, E::Reported, &decodes_canonically<RefusalData>},
    {S::Usage, "quintrel.usage.v1", Kind::Usage, E::Reported, &decodes_canonically<UsageData>},
    {S::Verdict, "quintrel.verdict.v1", Kind::Verdict, E::Deterministic, &decodes_canonically<VerdictData>},
    {S::Plan, "quintrel.plan.v1", Kind::Plan, E::Inferred, &decodes_canonically<PlanData>},
    {S::Retraction, "quintrel.retraction.v1", Kind::Retraction, E::Reported, &decodes_canonically<RetractionData>},
    {S::Candidate, "quintrel.candidate.v1", Kind::Candidate, E::Reported, &decodes_canonically<CandidateData>},
    {S::Evaluation, "quintrel.evaluation.v1", Kind::Evaluation, E::Reported, &decodes_canonically<EvaluationData>},
    {S::Selection, "quintrel.selection.v1", Kind::Selection, E::Inferred, &decodes_canonically<SelectionData>},
    {S::Requirement, "quintrel.requirement.v1", Kind::Requirement, E::Reported,
     &decodes_canonically<RequirementData>},
    {S::EvaluationV2, "quintrel.evaluation.v2", Kind::Evaluation, E::Reported,
     &decodes_canonically<EvaluationDataV2>},
    {S::EvaluationAttested, "quintrel.evaluation.attested.v1", Kind::Evaluation, E::Verified,
     &decodes_canonically<EvaluationDataV2>},
}};

constexpr bool in_enumeration_order() {
  for (size_t i = 0; i < kSchemas.size(); ++i)
    if (static_cast<size_t>(kSchemas[i].schema) != i) return false;
  return true;
}
static_assert(in_enumeration_order());

const std::array<base::Id, kSchemaCount>& ids() {
  static const std::array<base::Id, kSchemaCount> table = [] {
    std::array<base::Id, kSchemaCount> out;
    for (size_t i = 0; i < kSchemaCount; ++i) out[i] = base::schema_id(kSchemas[i].name);
    return out;
  }();
  return table;
}

}  // namespace

std::span<const SchemaInfo, kSchemaCount> schemas() { return kSchemas; }

const base::Id& schema_id(Schema s) { return ids()[static_cast<size_t>(s)]; }

std::optional<Schema> find_schema(const base::Id& id) {
  const auto& table = ids();
  for (size_t i = 0; i < table.size(); ++i)
    if (table[i] == id) return static_cast<Schema>(i);
  return std::nullopt;
}

}  // namespace quintrel::record
