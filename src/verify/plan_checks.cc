// Plans (with their task graph), approvals and retractions.
#include <deque>
#include <set>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "record/evolution_payloads.h"
#include "verify/check_util.h"
#include "verify/kind_checks.h"

namespace quintrel::verify {
namespace {

using record::Kind;
using record::TaskStatus;

// A task's result must be an accepted Result, here, of an action that served
// the plan's request.
bool result_serves_request(const Id& result_id, const Record& record, const Id& request_id, const Prior& prior,
                           const State& state) {
  const Record* result = prior.find(result_id);
  if (!result || result->kind != Kind::Result || !state.accepted_records.contains(result_id) ||
      !same_thread(*result, record) || !same_space(*result, record))
    return false;
  const ResultFacts* data = prior.facts<ResultFacts>(*result);
  if (!data) return false;
  const Record* action = prior.find(data->action_id);
  const ActionFacts* action_data = action ? prior.facts<ActionFacts>(*action) : nullptr;
  return action_data && action_data->request_id == request_id;
}

bool status_fits(record::PlanStatus status, std::span<const record::PlanTask> tasks) {
  bool open = false, all_done = true, failed_or_skipped = false;
  for (const auto& t : tasks) {
    open |= t.status == TaskStatus::pending || t.status == TaskStatus::running;
    all_done &= t.status == TaskStatus::done;
    failed_or_skipped |= t.status == TaskStatus::failed || t.status == TaskStatus::skipped;
  }
  switch (status) {
    case record::PlanStatus::running: return open;
    case record::PlanStatus::completed: return all_done;
    case record::PlanStatus::abandoned: return !open && failed_or_skipped;
  }
  return false;
}

}  // namespace

bool has_cycle(std::span<const record::PlanTask> tasks) {
  struct Node {
    size_t in_degree = 0;
    std::vector<std::string_view> dependents;
  };
  std::unordered_map<std::string_view, Node> nodes;
  for (const auto& t : tasks) {
    nodes[t.id];
    for (const auto& d : t.depends_on) {
      ++nodes[t.id].in_degree;
      nodes[d].dependents.push_back(t.id);
    }
  }
  std::deque<std::string_view> ready;
  std::unordered_set<std::string_view> queued;
  for (const auto& t : tasks)
    if (nodes[t.id].in_degree == 0 && queued.insert(t.id).second) ready.push_back(t.id);
  size_t ordered = 0;
  while (!ready.empty()) {
    std::string_view id = ready.front();
    ready.pop_front();
    ++ordered;
    for (std::string_view dependent : nodes[id].dependents)
      if (--nodes[dependent].in_degree == 0) ready.push_back(dependent);
  }
  return ordered != tasks.size();
}

Judgement check_plan(const record::Payload& payload, const Prior& prior, const VerifierRules&, const State& state) {
  const Record& record = payload.record();
  const record::PlanData* d = payload.as<record::PlanData>();
  if (!d) return ReasonCode::InvalidPayload;
  const Id& request_id = d->request_id;
  auto causes = targets_of(record.refs, RefType::Cause);
  if (causes.size() != 1 || causes[0] != request_id || !state.active_requests.contains(request_id))
    return ReasonCode::RequestMissing;
  const Record* request = prior.find(request_id);
  if (!request || !same_thread(*request, record) || !same_space(*request, record))
    return ReasonCode::RequestMissing;

  if (d->tasks.empty()) return ReasonCode::InvalidPayload;
  std::set<std::string_view> ids;
  for (const auto& t : d->tasks)
    if (!ids.insert(t.id).second) return ReasonCode::InvalidPayload;
  for (const auto& t : d->tasks) {
    for (const auto& dep : t.depends_on)
      if (!ids.contains(dep)) return ReasonCode::InvalidPayload;
    for (const auto& input : t.inputs_from)
      if (!ids.contains(input)) return ReasonCode::InvalidPayload;
  }
  std::set<Id> results_ok;
  for (const auto& t : d->tasks) {
    if (!t.result_record_id) continue;
    if (t.status != TaskStatus::done && t.status != TaskStatus::failed) return ReasonCode::InvalidPayload;
    // A result that fails ends the check, so only good ones are remembered.
    if (results_ok.contains(*t.result_record_id)) continue;
    if (!result_serves_request(*t.result_record_id, record, request_id, prior, state))
      return ReasonCode::InvalidPayload;
    results_ok.insert(*t.result_record_id);
  }
  if (has_cycle(d->tasks)) return ReasonCode::InvalidPayload;
  if (!status_fits(d->status, d->tasks)) return ReasonCode::InvalidPayload;
  return std::nullopt;
}

Judgement check_approval(const record::Payload& payload, const Prior&, const VerifierRules&, const State&) {
  const record::ApprovalData* a = payload.as<record::ApprovalData>();
  if (!a) return ReasonCode::InvalidPayload;
  // Exact (names the subject it covers) or class-wide, never both or neither.
  if (a->target_action.has_value() == a->action_class.has_value()) return ReasonCode::InvalidPayload;
  if (a->target_action && !a->actor_id) return ReasonCode::InvalidPayload;
  return std::nullopt;
}

Judgement check_retraction(const record::Payload& payload, const Prior& prior, const VerifierRules& rules,
                           const State& state) {
  const Record& record = payload.record();
  const record::RetractionData* x = payload.as<record::RetractionData>();
  if (!x) return ReasonCode::InvalidPayload;
  const Id& t = x->target_id;
  auto causes = targets_of(record.refs, RefType::Cause);
  if (causes.size() != 1 || causes[0] != t) return ReasonCode::InvalidPayload;
  const Record* target = prior.find(t);
  if (!target) return ReasonCode::RefUnresolved;
  if (!state.accepted_records.contains(t)) return ReasonCode::InvalidPayload;
  if (target->kind == Kind::Verdict || target->kind == Kind::Retraction) return ReasonCode::InvalidPayload;
  if (record.author.id == target->author.id || rules.admin_retraction_actors.contains(record.author.id))
    return std::nullopt;
  return ReasonCode::AuthorRoleInvalid;
}

}  // namespace quintrel::verify
