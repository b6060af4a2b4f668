#include "state/incremental.h"

#include <tuple>
#include <vector>

#include "base/hash.h"
#include "record/evolution_payloads.h"
#include "record/plan_payload.h"
#include "record/payload.h"
#include "record/refs.h"

namespace quintrel::state {
namespace {

using base::JsonError;
using record::Kind;
using record::Record;
using record::RefType;
using Applied = std::expected<void, JsonError>;

using record::first_ref;
using record::has_ref;

void note_replaced(State& s, const Record& r) {
  if (auto p = first_ref(r.refs, RefType::Replace)) s.replaced_records.insert(*p);
}

// An exact approval is used up by the record that Requires it for `subject`.
void consume_approval(State& s, const Record& r, const Id& subject) {
  auto it = s.valid_approvals.find(subject);
  if (it == s.valid_approvals.end() || !has_ref(r.refs, RefType::Require, it->second)) return;
  s.exact_approval_index.erase(it->second);
  s.valid_approvals.erase(it);
}

Applied apply_action(State& s, const record::Payload& p) {
  const Record& r = p.record();
  const auto& d = p.read<record::ActionData>();
  if (!d) return std::unexpected(d.error());
  auto subject = record::action_approval_subject_hash(r.author.id, *d);
  if (!subject) return std::unexpected(std::move(subject.error()));
  consume_approval(s, r, *subject);
  s.open_actions.insert(r.id);
  s.action_to_request[r.id] = d->request_id;
  ++s.request_open_action_count[d->request_id];
  return {};
}

Applied apply_response(State& s, const record::Payload& p) {
  const auto& d = p.read<record::ResponseData>();
  if (!d) return std::unexpected(d.error());
  uint32_t& turns = s.response_turns[d->request_id];
  if (turns != UINT32_MAX) ++turns;
  if (d->closes_request) {
    s.active_requests.erase(d->request_id);
    s.active_plans.erase(d->request_id);
  }
  return {};
}

Applied apply_result(State& s, const record::Payload& p) {
  const auto& d = p.read<record::ResultData>();
  if (!d) return std::unexpected(d.error());
  s.open_actions.erase(d->action_id);
  close_action_for_request(s, d->action_id);
  return {};
}

Applied apply_summary(State& s, const record::Payload& p) {
  const Record& r = p.record();
  const auto& d = p.read<record::SummaryData>();
  if (!d) return std::unexpected(d.error());
  auto key = base::sha256_canonical(std::make_tuple(d->summary_type, d->subject, d->scope));
  if (!key) return std::unexpected(std::move(key.error()));
  note_replaced(s, r);
  s.active_summaries[*key] = r.id;
  return {};
}

Applied apply_approval(State& s, const record::Payload& p) {
  const Record& r = p.record();
  const auto& d = p.read<record::ApprovalData>();
  if (!d) return std::unexpected(d.error());
  note_replaced(s, r);
  if (d->target_action) {
    s.exact_approval_index[r.id] = *d->target_action;
    s.valid_approvals[*d->target_action] = r.id;
  }
  if (d->action_class) {
    ClassApprovalKey key{*d->action_class, d->scope, d->actor_id};
    s.class_approval_index[r.id] = key;
    s.class_approvals[std::move(key)] = r.id;
  }
  return {};
}

Applied apply_capability(State& s, const record::Payload& p) {
  const Record& r = p.record();
  const auto& d = p.read<record::CapabilityData>();
  if (!d) return std::unexpected(d.error());
  note_replaced(s, r);
  CapabilityKey key{d->actor_id, d->action_class, d->scope};
  s.capability_index[r.id] = key;
  s.active_capabilities[std::move(key)] = r.id;
  return {};
}

Applied apply_usage(State& s, const record::Payload& p) {
  const auto& d = p.read<record::UsageData>();
  if (!d) return std::unexpected(d.error());
  s.usage_counts[UsageKey{d->used_record, d->role}].add(d->outcome);
  return {};
}

Applied apply_refusal(State& s, const record::Payload& p) {
  const auto& d = p.read<record::RefusalData>();
  if (!d) return std::unexpected(d.error());
  switch (d->target_kind) {
    case record::RefusalTarget::Action:
      s.open_actions.erase(d->target_id);
      close_action_for_request(s, d->target_id);
      break;
    case record::RefusalTarget::Request:
      s.active_requests.erase(d->target_id);
      s.active_plans.erase(d->target_id);
      break;
    case record::RefusalTarget::VerifiedEffect:
      break;
  }
  return {};
}

Applied apply_plan(State& s, const record::Payload& p) {
  const Record& r = p.record();
  const auto& d = p.read<record::PlanData>();
  if (!d) return std::unexpected(d.error());
  note_replaced(s, r);
  s.active_plans[d->request_id] = r.id;
  // A finished plan also ends the plan it replaced.
  if (d->status != record::PlanStatus::running) s.active_plans.erase(d->request_id);
  return {};
}

Applied apply_retraction(State& s, const record::Payload& p) {
  const auto& d = p.read<record::RetractionData>();
  if (!d) return std::unexpected(d.error());
  const Id& x = d->target_id;
  // A target retracted before had every dependent tainted then, and every
  // later dependent was tainted on arrival: a repeated retraction has nothing
  // to walk, and it no longer holds a requirement key (it gave the key up the
  // first time; a newer Requirement may hold it now).
  const bool first = s.retracted_records.insert(x).second;
  if (first) {
    if (const base::IdSet* dependents = s.epistemic_dependents.find(x))
      for (const Id& dependent : *dependents) mark_tainted(s, dependent);
  }
  if (auto it = s.capability_index.find(x); it != s.capability_index.end()) {
    auto held = s.active_capabilities.find(it->second);
    if (held != s.active_capabilities.end() && held->second == x) s.active_capabilities.erase(held);
  }
  if (auto it = s.exact_approval_index.find(x); it != s.exact_approval_index.end()) {
    auto held = s.valid_approvals.find(it->second);
    if (held != s.valid_approvals.end() && held->second == x) s.valid_approvals.erase(held);
  }
  if (auto it = s.class_approval_index.find(x); it != s.class_approval_index.end()) {
    auto held = s.class_approvals.find(it->second);
    if (held != s.class_approvals.end() && held->second == x) s.class_approvals.erase(held);
  }
  if (auto it = s.requirement_index.find(x); first && it != s.requirement_index.end()) {
    const auto& [request, key] = it->second;
    if (auto keys = s.requirement_keys.find(request); keys != s.requirement_keys.end()) {
      keys->second.erase(key);
      if (keys->second.empty()) s.requirement_keys.erase(keys);
    }
  }
  return {};
}

Applied apply_selection(State& s, const record::Payload& p) {
  const Record& r = p.record();
  const auto& d = p.read<record::SelectionData>();
  if (!d) return std::unexpected(d.error());
  const std::optional<Id> prior = first_ref(r.refs, RefType::Replace);
  if (prior) s.replaced_records.insert(*prior);
  auto subject = record::selection_approval_subject_hash(r.author.id, prior, *d);
  if (!subject) return std::unexpected(std::move(subject.error()));
  consume_approval(s, r, *subject);
  return {};
}

Applied apply_requirement(State& s, const record::Payload& p) {
  const Record& r = p.record();
  const auto& d = p.read<record::RequirementData>();
  if (!d) return std::unexpected(d.error());
  const auto request = first_ref(r.refs, RefType::Cause);
  if (!request) return {};
  s.requirement_keys[*request].insert(d->key);
  s.requirement_index[r.id] = {*request, d->key};
  return {};
}

}  // namespace

std::expected<void, JsonError> apply_record(State& s, const Record& r, const record::VerdictData& verdict) {
  return apply_record(s, record::Payload(r), verdict);
}

std::expected<void, JsonError> apply_record(State& s, const record::Payload& p, const record::VerdictData& verdict) {
  if (verdict.result == record::VerdictResult::Reject) return {};
  const Record& r = p.record();
  s.accepted_records.insert(r.id);
  bool rests_on_withdrawn = false;
  for (const auto& ref : r.refs) {
    if (ref.type != RefType::Use && ref.type != RefType::Require) continue;
    s.epistemic_dependents.try_emplace(ref.target).first->insert(r.id);
    if (s.retracted_records.contains(ref.target) || s.tainted_records.contains(ref.target))
      rests_on_withdrawn = true;
  }
  if (rests_on_withdrawn) mark_tainted(s, r.id);

  switch (r.kind) {
    case Kind::Request:
      s.active_requests.insert(r.id);
      return {};
    case Kind::Action: return apply_action(s, p);
    case Kind::Response: return apply_response(s, p);
    case Kind::Result: return apply_result(s, p);
    case Kind::Summary: return apply_summary(s, p);
    case Kind::Approval: return apply_approval(s, p);
    case Kind::Capability: return apply_capability(s, p);
    case Kind::Usage: return apply_usage(s, p);
    case Kind::Refusal: return apply_refusal(s, p);
    case Kind::Plan: return apply_plan(s, p);
    case Kind::Retraction: return apply_retraction(s, p);
    case Kind::Selection: return apply_selection(s, p);
    case Kind::Requirement: return apply_requirement(s, p);
    case Kind::Verdict:
    case Kind::Candidate:
    case Kind::Evaluation:
      return {};
  }
  return {};
}

void mark_tainted(State& s, const Id& id) {
  // LIFO; an id's dependents are pushed only when it is newly tainted, so each
  // id is expanded at most once over the life of the state.
  std::vector<Id> stack{id};
  while (!stack.empty()) {
    const Id x = stack.back();
    stack.pop_back();
    if (!s.tainted_records.insert(x).second) continue;
    const base::IdSet* dependents = s.epistemic_dependents.find(x);
    if (!dependents) continue;
    for (const Id& dependent : *dependents)
      if (!s.tainted_records.contains(dependent)) stack.push_back(dependent);
  }
}

void close_action_for_request(State& s, const Id& action_id) {
  auto request = s.action_to_request.find(action_id);
  if (request == s.action_to_request.end()) return;
  auto count = s.request_open_action_count.find(request->second);
  if (count == s.request_open_action_count.end()) return;
  if (--count->second == 0) s.request_open_action_count.erase(count);
}

}  // namespace quintrel::state
