// The few fields the checks read from a record that a later record refers
// to. The prior index reads them once per record, so one large record that
// many refer to costs one decode, not one per referrer.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "record/activity_payloads.h"
#include "record/binding_mode.h"
#include "record/candidate_payload.h"
#include "record/payload.h"
#include "record/record.h"

namespace quintrel::verify {

using base::Id;
using record::Record;

// A Request's scope: an Action must share it.
struct RequestFacts {
  Id scope{};
};

// What Results and Plans read of an Action.
struct ActionFacts {
  Id request_id{};
  record::ExecMode exec_mode = record::ExecMode::Internal;
};

// The Action a Result answers, for Plans.
struct ResultFacts {
  Id action_id{};
};

// A replacement keeps the objective; a continuation names a chosen candidate.
struct SelectionFacts {
  std::string objective;
  std::optional<std::vector<Id>> chosen;  // none when the Selection chose none
};

// A Selection under a manifest minimum reads its chosen candidates' binding;
// standing reads the lineage.
struct CandidateFacts {
  record::BindingMode binding = record::BindingMode::reported;
  std::optional<Id> parent;
  record::CandidateBasis basis = record::CandidateBasis::root;
};

// The candidate an Evaluation judges, whichever evaluation schema it has.
struct EvaluationFacts {
  Id candidate{};
};

// The identities a replacement must keep. Capabilities and approvals are
// small and read whole (record::CapabilityData, record::ApprovalData).
struct PlanFacts {
  Id request_id{};
};
struct SummaryFacts {
  record::SummaryType summary_type{};
  Id subject{};
  Id scope{};
};

// The facts of a record, read from its full payload; none when the payload
// does not read as the type they come from (the checks' InvalidPayload). Read
// through `payload`, a read the record's other checks have made is reused.
template <class F>
std::optional<F> read_facts(const record::Payload& payload);

template <class F>
std::optional<F> read_facts(const Record& r) {
  return read_facts<F>(record::Payload(r));
}

template <>
std::optional<RequestFacts> read_facts(const record::Payload& payload);
template <>
std::optional<ActionFacts> read_facts(const record::Payload& payload);
template <>
std::optional<ResultFacts> read_facts(const record::Payload& payload);
template <>
std::optional<SelectionFacts> read_facts(const record::Payload& payload);
template <>
std::optional<CandidateFacts> read_facts(const record::Payload& payload);
template <>
std::optional<EvaluationFacts> read_facts(const record::Payload& payload);
template <>
std::optional<PlanFacts> read_facts(const record::Payload& payload);
template <>
std::optional<SummaryFacts> read_facts(const record::Payload& payload);
template <>
std::optional<record::CapabilityData> read_facts(const record::Payload& payload);
template <>
std::optional<record::ApprovalData> read_facts(const record::Payload& payload);

}  // namespace quintrel::verify
