#include "record/schema.h"

#include <array>

#include "base/codec.h"
#include "base/schema.h"
#include "record/activity_payloads.h"
#include "record/candidate_payload.h"
#include "record/evaluation_payload.h"
#include "record/evolution_payloads.h"
#include "record/payload.h"
#include "record/plan_payload.h"

namespace quintrel::record {
namespace {

using E = Evidence;
using S = Schema;

template <class T>
bool canonical_in(const Payload& payload) {
  return payload.canonical<T>();
}

// A row of the table: the schema's payload type T gives both forms of the test.
template <class T>
constexpr SchemaInfo row(Schema schema, std::string_view name, Kind kind, Evidence evidence) {
  return {schema, name, kind, evidence, &base::decodes_canonically<T>, &canonical_in<T>};
}

constexpr std::array<SchemaInfo, kSchemaCount> kSchemas = {
    row<RequestData>(S::Request, "quintrel.request.v1", Kind::Request, E::Reported),
    row<ActionData>(S::Action, "quintrel.action.v1", Kind::Action, E::Reported),
    row<ResponseData>(S::Response, "quintrel.response.v1", Kind::Response, E::Reported),
    row<ResultData>(S::Result, "quintrel.result.v1", Kind::Result, E::Reported),
    row<ResultData>(S::ResultExternalReceipt, "quintrel.result.external_receipt.v1", Kind::Result, E::Verified),
    row<ResultData>(S::ResultEffectConfirmation, "quintrel.result.effect_confirmation.v1", Kind::Result, E::Reported),
    row<CapabilityData>(S::Capability, "quintrel.capability.v1", Kind::Capability, E::Reported),
    row<ApprovalData>(S::Approval, "quintrel.approval.v1", Kind::Approval, E::Reported),
    row<SummaryData>(S::Summary, "quintrel.summary.v1", Kind::Summary, E::Inferred),
    row<RefusalData>(S::Refusal, "quintrel.refusal.v1", Kind::Refusal, E::Reported),
    row<UsageData>(S::Usage, "quintrel.usage.v1", Kind::Usage, E::Reported),
    row<VerdictData>(S::Verdict, "quintrel.verdict.v1", Kind::Verdict, E::Deterministic),
    row<PlanData>(S::Plan, "quintrel.plan.v1", Kind::Plan, E::Inferred),
    row<RetractionData>(S::Retraction, "quintrel.retraction.v1", Kind::Retraction, E::Reported),
    row<CandidateData>(S::Candidate, "quintrel.candidate.v1", Kind::Candidate, E::Reported),
    row<EvaluationData>(S::Evaluation, "quintrel.evaluation.v1", Kind::Evaluation, E::Reported),
    row<SelectionData>(S::Selection, "quintrel.selection.v1", Kind::Selection, E::Inferred),
    row<RequirementData>(S::Requirement, "quintrel.requirement.v1", Kind::Requirement, E::Reported),
    row<EvaluationDataV2>(S::EvaluationV2, "quintrel.evaluation.v2", Kind::Evaluation, E::Reported),
    row<EvaluationDataV2>(S::EvaluationAttested, "quintrel.evaluation.attested.v1", Kind::Evaluation, E::Verified),
};

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
