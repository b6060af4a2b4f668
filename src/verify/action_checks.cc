// Actions: an open request, a capability in force, and for capabilities that
// ask, an approval that covers the action.
#include "record/evolution_payloads.h"
#include "verify/check_util.h"
#include "verify/kind_checks.h"

namespace quintrel::verify {
namespace {

using record::ApprovalData;

// A class-wide approval under `key`: nothing when there is none in force, so
// the search goes on; otherwise its id, or the code that ends the search.
std::optional<std::expected<Id, ReasonCode>> class_approval(const state::ClassApprovalKey& key,
                                                            const Record& record, const Prior& prior,
                                                            const State& state) {
  auto entry = state.class_approvals.find(key);
  if (entry == state.class_approvals.end()) return std::nullopt;
  const Id& a = entry->second;
  const Record* approval = prior.find(a);
  if (!approval || !state.in_force(a)) return std::nullopt;
  const ApprovalData* data = prior.facts<ApprovalData>(*approval);
  if (!data) return std::unexpected(ReasonCode::InvalidPayload);
  if (data->expiry && record.time >= *data->expiry) return std::unexpected(ReasonCode::ApprovalExpired);
  return a;
}

}  // namespace

std::expected<Id, ReasonCode> check_approval_for_action(const Record& record, const record::ActionData& action,
                                                        const Prior& prior, const State& state) {
  auto subject = record::action_approval_subject_hash(record.author.id, action);
  if (!subject) return std::unexpected(ReasonCode::InvalidPayload);

  // An exact approval that does not fit is passed over for the class-wide ones.
  if (auto entry = state.valid_approvals.find(*subject); entry != state.valid_approvals.end()) {
    const Id& a = entry->second;
    const Record* approval = prior.find(a);
    if (approval && state.in_force(a)) {
      const ApprovalData* data = prior.facts<ApprovalData>(*approval);
      if (!data) return std::unexpected(ReasonCode::InvalidPayload);
      if (data->actor_id && *data->actor_id == record.author.id && data->scope == action.scope &&
          (!data->expiry || *data->expiry > record.time))
        return a;
    }
  }
  // An actor's own class-wide approval, even expired, ends the search.
  if (auto found = class_approval({action.action_class, action.scope, record.author.id}, record, prior, state))
    return *found;
  if (auto found = class_approval({action.action_class, action.scope, std::nullopt}, record, prior, state))
    return *found;
  return std::unexpected(ReasonCode::ApprovalMissing);
}

Judgement check_action(const record::Payload& payload, const Prior& prior, const VerifierRules&, const State& state) {
  const Record& record = payload.record();
  const record::ActionData* action = payload.as<record::ActionData>();
  if (!action) return ReasonCode::InvalidPayload;
  if (!state.active_requests.contains(action->request_id)) return ReasonCode::RequestMissing;
  const Record* request = prior.find(action->request_id);
  if (!request || !same_thread(*request, record) || !same_space(*request, record))
    return ReasonCode::RequestMissing;
  const RequestFacts* request_facts = prior.facts<RequestFacts>(*request);
  if (!request_facts) return ReasonCode::InvalidPayload;
  if (request_facts->scope != action->scope) return ReasonCode::InvalidPayload;

  auto entry = state.active_capabilities.find({record.author.id, action->action_class, action->scope});
  if (entry == state.active_capabilities.end()) return ReasonCode::CapabilityMissing;
  const Id& k = entry->second;
  const Record* capability = prior.find(k);
  if (!capability || state.retracted_records.contains(k) || state.tainted_records.contains(k))
    return ReasonCode::CapabilityMissing;
  const record::CapabilityData* granted = prior.facts<record::CapabilityData>(*capability);
  if (!granted) return ReasonCode::InvalidPayload;
  if (granted->expiry && record.time >= *granted->expiry) return ReasonCode::CapabilityMissing;

  switch (granted->mode) {
    case record::CapabilityMode::Deny:
      return ReasonCode::CapabilityDenied;
    case record::CapabilityMode::Auto:
      if (!has_sorted_ref(record.refs, RefType::Require, k)) return ReasonCode::AuthorityRefMissing;
      return std::nullopt;
    case record::CapabilityMode::Ask: {
      auto approval = check_approval_for_action(record, *action, prior, state);
      if (!approval) return approval.error();
      if (!has_sorted_ref(record.refs, RefType::Require, k) || !has_sorted_ref(record.refs, RefType::Require, *approval))
        return ReasonCode::AuthorityRefMissing;
      return std::nullopt;
    }
  }
  return ReasonCode::InvalidPayload;
}

}  // namespace quintrel::verify
