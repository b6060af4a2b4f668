#include "verify/record_checks.h"

#include <algorithm>
#include <vector>

#include "record/evolution_payloads.h"
#include "record/plan_payload.h"
#include "record/schema.h"
#include "record/sign.h"
#include "verify/check_util.h"
#include "verify/kind_checks.h"
#include "verify/verdict.h"

namespace quintrel::verify {
namespace {

using record::Kind;

bool is_replaceable(Kind k) {
  return k == Kind::Summary || k == Kind::Approval || k == Kind::Capability || k == Kind::Plan ||
         k == Kind::Selection;
}

Judgement check_author(const Record& record, const VerifierRules& rules) {
  auto allowed = record::allowed_author_types(record.kind);
  if (std::find(allowed.begin(), allowed.end(), record.author.type) == allowed.end())
    return ReasonCode::AuthorRoleInvalid;
  auto role = rules.author_roles.find(record.author.id);
  if (role == rules.author_roles.end() || role->second != record.author.type) return ReasonCode::AuthorRoleInvalid;
  return std::nullopt;
}

Judgement check_signature(const Record& record, const VerifierRules& rules) {
  auto keys = rules.author_keys.find(record.author.id);
  bool pinned = keys != rules.author_keys.end();
  bool required = rules.signature_required_kinds.contains(record.kind) || pinned;
  if (!record.author.signature) return required ? Judgement(ReasonCode::SignatureMissing) : std::nullopt;
  auto key = record::verified_key(record);
  if (!key) return ReasonCode::SignatureInvalid;
  if (pinned && !keys->second.contains(*key)) return ReasonCode::SignatureInvalid;
  return std::nullopt;
}

// Resolves every ref; all tests of one ref run before the next ref.
Judgement check_refs(const Record& record, const Prior& prior, const State& state,
                     std::vector<const Record*>& targets) {
  targets.reserve(record.refs.size());
  for (const auto& ref : record.refs) {
    const Record* t = prior.find(ref.target);
    if (!t) return ReasonCode::RefUnresolved;
    if (t->space != record.space) return ReasonCode::RefCrossSpace;
    if (ref.type == RefType::Require && !state.in_force(ref.target)) return ReasonCode::RefUnresolved;
    targets.push_back(t);
  }
  return std::nullopt;
}

Judgement check_replacement(const record::Payload& payload, const Prior& prior, const State& state) {
  const Record& record = payload.record();
  const Record* replaced = nullptr;
  size_t count = 0;
  for (const auto& ref : record.refs)
    if (ref.type == RefType::Replace && count++ == 0) replaced = prior.find(ref.target);
  // Counted before the kind is looked at: two Replace refs are malformed
  // whatever the kind.
  if (count > 1) return ReasonCode::InvalidPayload;
  if (count == 0) return std::nullopt;
  if (!is_replaceable(record.kind)) return ReasonCode::ReplacementInvalid;
  if (!replaced || !state.accepted_records.contains(replaced->id) || replaced->kind != record.kind)
    return ReasonCode::ReplacementInvalid;
  return check_replacement_compatibility(payload, *replaced, prior);
}

Judgement check_evidence(const Record& record, const VerifierRules& rules, const State& state,
                         const std::vector<const Record*>& targets) {
  std::vector<record::Evidence> kept;
  kept.reserve(targets.size());
  for (size_t i = 0; i < record.refs.size(); ++i)
    if (auto e = state.ref_evidence(record.refs[i], *targets[i])) kept.push_back(*e);
  record::Evidence derived = record::derive_evidence(record.schema, kept);
  if (derived != record.evidence) return ReasonCode::InvalidPayload;
  auto threshold = rules.evidence_thresholds.find(record.kind);
  // A larger ordinal is a weaker class.
  if (threshold != rules.evidence_thresholds.end() && derived > threshold->second)
    return ReasonCode::EvidenceBelowThreshold;
  return std::nullopt;
}

// The record's identity facts beside those of the record it replaces (null
// when that payload does not read); `same` compares them.
template <class F, class Same>
Judgement compare_identity(const record::Payload& payload, const F* theirs, Same same) {
  auto mine = read_facts<F>(payload);
  if (!mine || !theirs) return ReasonCode::InvalidPayload;
  return same(*mine, *theirs) ? std::nullopt : Judgement(ReasonCode::ReplacementInvalid);
}

}  // namespace

Judgement check_record(const Record& record, const Prior& prior, const VerifierRules& rules,
                       const State& state) {
  if (record.kind == Kind::Verdict) return check_verdict_record(record, prior, rules);
  return check_record(record::Payload(record), prior, rules, state, IdCheck::kCompute);
}

Judgement check_record(const record::Payload& payload, const Prior& prior, const VerifierRules& rules,
                       const State& state, IdCheck id_check) {
  const Record& record = payload.record();
  if (record.kind == Kind::Verdict) return check_verdict_record(payload, prior, rules, id_check);

  if (id_check == IdCheck::kCompute) {
    auto id = record.compute_id();
    if (!id || *id != record.id) return ReasonCode::InvalidPayload;
  }
  for (size_t i = 1; i < record.refs.size(); ++i)
    if (!(record.refs[i - 1] < record.refs[i])) return ReasonCode::InvalidPayload;
  if (record.space != rules.space) return ReasonCode::InvalidPayload;

  auto mapped = rules.kind_schema_map.find(record.schema);
  if (mapped == rules.kind_schema_map.end()) return ReasonCode::UnknownSchema;
  if (mapped->second != record.kind) return ReasonCode::KindSchemaMismatch;

  if (auto code = check_author(record, rules)) return code;
  if (auto code = check_signature(record, rules)) return code;
  std::vector<const Record*> targets;
  if (auto code = check_refs(record, prior, state, targets)) return code;
  if (auto code = check_replacement(payload, prior, state)) return code;
  if (auto code = check_evidence(record, rules, state, targets)) return code;
  if (auto code = check_payload_decode(payload)) return code;
  return check_kind_specific(payload, prior, rules, state);
}

record::VerdictData verify_record(const Record& record, std::span<const Record> records,
                                  const VerifierRules& rules, const State& state) {
  PriorIndex index = PriorIndex::of(records);
  return verify_record(record, records, index, rules, state);
}

record::VerdictData verify_record(const Record& record, std::span<const Record> records,
                                  const PriorIndex& index, const VerifierRules& rules, const State& state) {
  return record::verdict_for(check_record(record, Prior(records, index), rules, state));
}

Judgement check_payload_decode(const Record& record) { return check_payload_decode(record::Payload(record)); }

Judgement check_payload_decode(const record::Payload& payload) {
  auto schema = record::find_schema(payload.record().schema);
  if (!schema) return ReasonCode::UnknownSchema;
  if (!record::schema_info(*schema).payload_canonical_in(payload)) return ReasonCode::InvalidPayload;
  return std::nullopt;
}

Judgement check_replacement_compatibility(const Record& record, const Record& replaced, const Prior& prior) {
  return check_replacement_compatibility(record::Payload(record), replaced, prior);
}

Judgement check_replacement_compatibility(const record::Payload& payload, const Record& replaced,
                                          const Prior& prior) {
  switch (payload.record().kind) {
    case Kind::Capability:
      return compare_identity(payload, prior.facts<record::CapabilityData>(replaced), [](const auto& a, const auto& b) {
        return a.actor_id == b.actor_id && a.action_class == b.action_class && a.scope == b.scope;
      });
    case Kind::Plan:
      return compare_identity(payload, prior.facts<PlanFacts>(replaced),
                              [](const auto& a, const auto& b) { return a.request_id == b.request_id; });
    case Kind::Summary:
      return compare_identity(payload, prior.facts<SummaryFacts>(replaced), [](const auto& a, const auto& b) {
        return a.summary_type == b.summary_type && a.subject == b.subject && a.scope == b.scope;
      });
    case Kind::Approval:
      return compare_identity(payload, prior.facts<record::ApprovalData>(replaced), [](const auto& a, const auto& b) {
        if (a.target_action && b.target_action) return a.target_action == b.target_action && a.scope == b.scope;
        return a.action_class && b.action_class && a.action_class == b.action_class && a.scope == b.scope &&
               a.actor_id == b.actor_id;
      });
    default:
      return std::nullopt;
  }
}

}  // namespace quintrel::verify
