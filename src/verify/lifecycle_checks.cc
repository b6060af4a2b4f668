// Usage, Result, Refusal, Summary and Response records.
#include <limits>

#include "record/schema.h"
#include "verify/check_util.h"
#include "verify/kind_checks.h"

namespace quintrel::verify {
namespace {

using record::Kind;

// Exactly one ref of `type`, and it names `target`.
bool only_ref_of_type_is(const Record& record, RefType type, const Id& target) {
  size_t count = 0;
  bool match = false;
  for (const auto& ref : record.refs)
    if (ref.type == type) {
      ++count;
      match = ref.target == target;
    }
  return count == 1 && match;
}

}  // namespace

Judgement check_usage(const record::Payload& payload, const Prior& prior, const VerifierRules&, const State& state) {
  const Record& record = payload.record();
  const record::UsageData* u = payload.as<record::UsageData>();
  if (!u) return ReasonCode::InvalidPayload;
  if (u->actor != record.author.id) return ReasonCode::InvalidPayload;
  if (!prior.find(u->used_record)) return ReasonCode::InvalidPayload;
  const Record* consumer = prior.find(u->consuming_record);
  if (!consumer || !state.accepted_records.contains(u->consuming_record) ||
      (consumer->kind != Kind::Result && consumer->kind != Kind::Refusal) || !same_thread(*consumer, record))
    return ReasonCode::InvalidPayload;
  if (!only_ref_of_type_is(record, RefType::Use, u->used_record)) return ReasonCode::InvalidPayload;
  return std::nullopt;
}

Judgement check_result(const record::Payload& payload, const Prior& prior,
                       const VerifierRules& rules, const State& state) {
  const Record& record = payload.record();
  const Id& external_receipt = record::schema_id(record::Schema::ResultExternalReceipt);
  const record::ResultData* r = payload.as<record::ResultData>();
  if (!r) return ReasonCode::InvalidPayload;
  if (r->artifacts && !record::artifact_refs_well_formed(*r->artifacts)) return ReasonCode::ArtifactRefInvalid;
  if (!state.open_actions.contains(r->action_id)) return ReasonCode::ActionClosed;
  const Record* action = prior.find(r->action_id);
  if (!action || !same_thread(*action, record) || !same_space(*action, record)) return ReasonCode::ActionClosed;
  const ActionFacts* data = prior.facts<ActionFacts>(*action);
  if (!data) return ReasonCode::InvalidPayload;
  if (data->exec_mode == record::ExecMode::External) {
    if (record.schema != external_receipt) return ReasonCode::ExternalReceiptRequired;
    if (!record.author.signature) return ReasonCode::SignatureMissing;
    if (!rules.author_keys.contains(record.author.id)) return ReasonCode::SignatureInvalid;
  } else if (record.schema == external_receipt) {
    return ReasonCode::InvalidPayload;
  }
  if (!only_ref_of_type_is(record, RefType::Cause, r->action_id)) return ReasonCode::InvalidPayload;
  return std::nullopt;
}

Judgement check_refusal(const record::Payload& payload, const Prior& prior, const VerifierRules&, const State& state) {
  const Record& record = payload.record();
  const record::RefusalData* f = payload.as<record::RefusalData>();
  if (!f) return ReasonCode::InvalidPayload;
  const Id& t = f->target_id;
  const Record* target = prior.find(t);
  if (!target) return ReasonCode::RequestMissing;
  bool same_place = same_thread(*target, record) && same_space(*target, record);
  switch (f->target_kind) {
    case record::RefusalTarget::Action:
      if (target->kind != Kind::Action) return ReasonCode::InvalidPayload;
      if (!state.open_actions.contains(t) || !same_place) return ReasonCode::ActionClosed;
      break;
    case record::RefusalTarget::Request:
      if (target->kind != Kind::Request) return ReasonCode::InvalidPayload;
      if (!state.active_requests.contains(t) || !same_place) return ReasonCode::RequestMissing;
      break;
    case record::RefusalTarget::VerifiedEffect:
      if (target->kind != Kind::Result ||
          target->schema != record::schema_id(record::Schema::ResultEffectConfirmation) ||
          !state.accepted_records.contains(t) || !same_place)
        return ReasonCode::InvalidPayload;
      break;
  }
  if (!only_ref_of_type_is(record, RefType::Cause, t)) return ReasonCode::InvalidPayload;
  return std::nullopt;
}

Judgement check_summary(const record::Payload& payload, const Prior&, const VerifierRules& rules, const State&) {
  const Record& record = payload.record();
  const record::SummaryData* s = payload.as<record::SummaryData>();
  if (!s) return ReasonCode::InvalidPayload;
  if (!rules.allowed_summary_types.contains(s->summary_type)) return ReasonCode::InvalidPayload;
  if (targets_of(record.refs, RefType::Use).empty()) return ReasonCode::InvalidPayload;
  return std::nullopt;
}

Judgement check_response(const record::Payload& payload, const Prior& prior, const VerifierRules&, const State& state) {
  const Record& record = payload.record();
  const record::ResponseData* p = payload.as<record::ResponseData>();
  if (!p) return ReasonCode::InvalidPayload;
  const Id& q = p->request_id;
  if (!state.active_requests.contains(q)) return ReasonCode::RequestMissing;
  const Record* request = prior.find(q);
  if (!request || !same_thread(*request, record) || !same_space(*request, record))
    return ReasonCode::RequestMissing;
  auto turns = state.response_turns.find(q);
  uint32_t n = turns == state.response_turns.end() ? 0 : turns->second;
  // The count stops at its maximum, so no further turn can be told apart.
  if (n == std::numeric_limits<uint32_t>::max() || p->turn_index != n) return ReasonCode::InvalidPayload;
  if (p->closes_request) {
    auto open = state.request_open_action_count.find(q);
    if ((open != state.request_open_action_count.end() && open->second > 0) || state.active_plans.contains(q))
      return ReasonCode::InvalidPayload;
  }
  return std::nullopt;
}

}  // namespace quintrel::verify
