#include "verify/facts.h"

#include "record/candidate_payload.h"
#include "record/evaluation_payload.h"
#include "record/evolution_payloads.h"
#include "record/plan_payload.h"

namespace quintrel::verify {
namespace {

// The payload read in full as T, then cut down to the facts `keep` takes from it.
template <class T, class Keep>
auto kept(const Record& r, Keep keep) -> std::optional<decltype(keep(std::declval<T>()))> {
  auto d = record::decode_payload<T>(r);
  if (!d) return std::nullopt;
  return keep(std::move(*d));
}

}  // namespace

template <>
std::optional<RequestFacts> read_facts(const Record& r) {
  return kept<record::RequestData>(r, [](auto d) { return RequestFacts{d.scope}; });
}

template <>
std::optional<ActionFacts> read_facts(const Record& r) {
  return kept<record::ActionData>(r, [](auto d) { return ActionFacts{d.request_id, d.exec_mode}; });
}

template <>
std::optional<ResultFacts> read_facts(const Record& r) {
  return kept<record::ResultData>(r, [](auto d) { return ResultFacts{d.action_id}; });
}

template <>
std::optional<SelectionFacts> read_facts(const Record& r) {
  return kept<record::SelectionData>(r, [](auto d) {
    SelectionFacts f{std::move(d.objective), std::nullopt};
    if (d.outcome.selected) f.chosen = std::move(d.outcome.selected->candidates);
    return f;
  });
}

template <>
std::optional<CandidateFacts> read_facts(const Record& r) {
  return kept<record::CandidateData>(r, [](auto d) { return CandidateFacts{d.source.binding}; });
}

template <>
std::optional<EvaluationFacts> read_facts(const Record& r) {
  auto summary = record::evaluation_summary(r.schema, base::as_text(r.data));
  if (!summary) return std::nullopt;
  return EvaluationFacts{summary->candidate};
}

template <>
std::optional<PlanFacts> read_facts(const Record& r) {
  return kept<record::PlanData>(r, [](auto d) { return PlanFacts{d.request_id}; });
}

template <>
std::optional<SummaryFacts> read_facts(const Record& r) {
  return kept<record::SummaryData>(r, [](auto d) { return SummaryFacts{d.summary_type, d.subject, d.scope}; });
}

template <>
std::optional<record::CapabilityData> read_facts(const Record& r) {
  return kept<record::CapabilityData>(r, [](auto d) { return d; });
}

template <>
std::optional<record::ApprovalData> read_facts(const Record& r) {
  return kept<record::ApprovalData>(r, [](auto d) { return d; });
}

}  // namespace quintrel::verify
