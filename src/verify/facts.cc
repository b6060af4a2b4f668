#include "verify/facts.h"

#include "record/schema.h"

namespace quintrel::verify {
namespace {

// The payload read in full as T, then cut down to the facts `keep` takes from it.
template <class T, class Keep>
auto kept(const record::Payload& payload, Keep keep) -> std::optional<decltype(keep(std::declval<const T&>()))> {
  const T* d = payload.as<T>();
  if (!d) return std::nullopt;
  return keep(*d);
}

}  // namespace

template <>
std::optional<RequestFacts> read_facts(const record::Payload& p) {
  return kept<record::RequestData>(p, [](const auto& d) { return RequestFacts{d.scope}; });
}

template <>
std::optional<ActionFacts> read_facts(const record::Payload& p) {
  return kept<record::ActionData>(p, [](const auto& d) { return ActionFacts{d.request_id, d.exec_mode}; });
}

template <>
std::optional<ResultFacts> read_facts(const record::Payload& p) {
  return kept<record::ResultData>(p, [](const auto& d) { return ResultFacts{d.action_id}; });
}

template <>
std::optional<SelectionFacts> read_facts(const record::Payload& p) {
  return kept<record::SelectionData>(p, [](const auto& d) {
    SelectionFacts f{d.objective, std::nullopt};
    if (d.outcome.selected) f.chosen = d.outcome.selected->candidates;
    return f;
  });
}

template <>
std::optional<CandidateFacts> read_facts(const record::Payload& p) {
  return kept<record::CandidateData>(p, [](const auto& d) { return CandidateFacts{d.source.binding, d.parent, d.basis}; });
}

// Read as the evaluation schema the record names; none for any other schema.
template <>
std::optional<EvaluationFacts> read_facts(const record::Payload& p) {
  const base::Id& schema = p.record().schema;
  auto candidate = [](const auto& d) { return EvaluationFacts{d.candidate}; };
  if (schema == record::schema_id(record::Schema::Evaluation)) return kept<record::EvaluationData>(p, candidate);
  if (schema == record::schema_id(record::Schema::EvaluationV2) ||
      schema == record::schema_id(record::Schema::EvaluationAttested))
    return kept<record::EvaluationDataV2>(p, candidate);
  return std::nullopt;
}

template <>
std::optional<PlanFacts> read_facts(const record::Payload& p) {
  return kept<record::PlanData>(p, [](const auto& d) { return PlanFacts{d.request_id}; });
}

template <>
std::optional<SummaryFacts> read_facts(const record::Payload& p) {
  return kept<record::SummaryData>(p, [](const auto& d) { return SummaryFacts{d.summary_type, d.subject, d.scope}; });
}

template <>
std::optional<record::CapabilityData> read_facts(const record::Payload& p) {
  return kept<record::CapabilityData>(p, [](const auto& d) { return d; });
}

template <>
std::optional<record::ApprovalData> read_facts(const record::Payload& p) {
  return kept<record::ApprovalData>(p, [](const auto& d) { return d; });
}

}  // namespace quintrel::verify
