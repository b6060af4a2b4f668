#include "verify/prior.h"

namespace quintrel::verify {
PriorIndex PriorIndex::of(std::span<const Record> records) {
  PriorIndex index;
  index.reserve(records.size());
  for (size_t i = 0; i < records.size(); ++i) index.insert(i, records[i]);
  return index;
}

void PriorIndex::insert(size_t position, const Record& record) {
  by_id_.try_emplace(record.id, position);
  if (record.kind != record::Kind::Verdict) return;
  for (const auto& ref : record.refs)
    if (ref.type == record::RefType::Cause) verdicted_.insert(ref.target);
}

template <class F>
void PriorIndex::keep(const record::Payload& payload) {
  Memo<F>& memo = std::get<Memo<F>>(memo_);
  const Id& id = payload.record().id;
  if (memo.at.find(id)) return;
  memo.kept.push_back(read_facts<F>(payload));
  memo.at.try_emplace(id, memo.kept.size() - 1);
}

void PriorIndex::keep_facts(size_t position, const record::Payload& payload) {
  // Facts are asked of the first record indexed under an id.
  if (this->position(payload.record().id) != position) return;
  using record::Kind;
  switch (payload.record().kind) {
    case Kind::Request: return keep<RequestFacts>(payload);
    case Kind::Action: return keep<ActionFacts>(payload);
    case Kind::Result: return keep<ResultFacts>(payload);
    case Kind::Selection: return keep<SelectionFacts>(payload);
    case Kind::Candidate: return keep<CandidateFacts>(payload);
    case Kind::Evaluation: return keep<EvaluationFacts>(payload);
    case Kind::Plan: return keep<PlanFacts>(payload);
    case Kind::Summary: return keep<SummaryFacts>(payload);
    case Kind::Capability: return keep<record::CapabilityData>(payload);
    case Kind::Approval: return keep<record::ApprovalData>(payload);
    default: return;
  }
}

}  // namespace quintrel::verify
