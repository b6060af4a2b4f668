// Requests, requirements, candidates, evaluations and selections.
#include <set>

#include "base/hash.h"
#include "record/schema.h"
#include "record/evolution_payloads.h"
#include "verify/check_util.h"
#include "verify/kind_checks.h"

namespace quintrel::verify {
namespace {

using record::Kind;

// Exactly `length` lowercase hexadecimal characters; the length is tested first.
bool lower_hex_of_length(const std::string& s, size_t length) {
  return s.size() == length && base::is_lower_hex(s);
}

// A record named in a payload must be an accepted record of `kind` in the
// judged record's space.
bool payload_ref_resolves(const Record* target, const Record& record, Kind kind, const State& state) {
  return target && same_space(*target, record) && target->kind == kind &&
         state.accepted_records.contains(target->id);
}

Judgement check_lineage(const record::CandidateData& c, const std::vector<const Record*>& causes,
                        const Prior& prior, const VerifierRules& rules, const State& state) {
  using record::CandidateBasis;
  const auto lineage = ReasonCode::LineageInvalid;
  switch (c.basis) {
    case CandidateBasis::root:
      if (c.parent || causes.size() > 1) return lineage;
      if (causes.size() == 1 &&
          (causes[0]->kind != Kind::Request || !state.accepted_records.contains(causes[0]->id)))
        return lineage;
      return std::nullopt;
    case CandidateBasis::continuation: {
      if (causes.size() != 1) return lineage;
      const Record& anchor = *causes[0];
      if (anchor.kind != Kind::Selection || !state.accepted_records.contains(anchor.id)) return lineage;
      if (rules.reject_compromised_continuation &&
          (state.retracted_records.contains(anchor.id) || state.tainted_records.contains(anchor.id)))
        return lineage;
      if (!c.parent) return lineage;
      const SelectionFacts* selection = prior.facts<SelectionFacts>(anchor);
      if (!selection) return ReasonCode::InvalidPayload;
      if (!selection->chosen) return lineage;
      const auto& chosen = *selection->chosen;
      if (std::find(chosen.begin(), chosen.end(), *c.parent) == chosen.end()) return lineage;
      return std::nullopt;
    }
    case CandidateBasis::derivation:
      if (c.parent || causes.empty()) return lineage;
      for (const Record* cause : causes) {
        if (!state.accepted_records.contains(cause->id)) return lineage;
        if (cause->kind != Kind::Candidate && cause->kind != Kind::Evaluation) return lineage;
      }
      return std::nullopt;
  }
  return lineage;
}

// The candidate an evaluation judges: an accepted Candidate of its space that
// the evaluation Uses.
Judgement check_evaluated_candidate(const Record& record, const Id& candidate, const Prior& prior,
                                    const State& state) {
  if (!payload_ref_resolves(prior.find(candidate), record, Kind::Candidate, state))
    return ReasonCode::PayloadRefUnresolved;
  if (!has_sorted_ref(record.refs, RefType::Use, candidate)) return ReasonCode::EvaluationInvalid;
  return std::nullopt;
}

Judgement check_evaluation_v2(const record::Payload& payload, const Prior& prior, const VerifierRules& rules,
                              const State& state, bool attested) {
  const Record& record = payload.record();
  const record::EvaluationDataV2* e = payload.as<record::EvaluationDataV2>();
  if (!e) return ReasonCode::InvalidPayload;
  if (attested) {
    if (!record.author.signature) return ReasonCode::SignatureMissing;
    if (!rules.author_keys.contains(record.author.id)) return ReasonCode::SignatureInvalid;
  }
  if (auto code = check_evaluated_candidate(record, e->candidate, prior, state)) return code;
  if (e->evaluator.id.empty()) return ReasonCode::EvaluationInvalid;
  if (!record::artifact_refs_well_formed(e->evidence)) return ReasonCode::ArtifactRefInvalid;
  for (size_t i = 1; i < e->requirements.size(); ++i)
    if (!(e->requirements[i - 1] < e->requirements[i])) return ReasonCode::EvaluationInvalid;
  for (const Id& q : e->requirements) {
    const Record* req = prior.find(q);
    if (!req || req->kind != Kind::Requirement || !same_space(*req, record) ||
        !state.accepted_records.contains(q) || !has_sorted_ref(record.refs, RefType::Use, q))
      return ReasonCode::EvaluationInvalid;
  }
  return std::nullopt;
}

// Adds the selection's approval to `expected` when the rules demand one.
Judgement check_selection_approval(const Record& record, const record::SelectionData& s, const Prior& prior,
                                   const State& state, std::set<Id>& expected) {
  auto subject =
      record::selection_approval_subject_hash(record.author.id, first_ref(record.refs, RefType::Replace), s);
  if (!subject) return ReasonCode::InvalidPayload;
  auto entry = state.valid_approvals.find(*subject);
  if (entry == state.valid_approvals.end()) return ReasonCode::ApprovalMissing;
  const Id& a = entry->second;
  if (!has_sorted_ref(record.refs, RefType::Require, a)) return ReasonCode::ApprovalMissing;
  const Record* approval = prior.find(a);
  if (!state.in_force(a) || !approval) return ReasonCode::ApprovalMissing;
  const record::ApprovalData* data = prior.facts<record::ApprovalData>(*approval);
  if (!data) return ReasonCode::InvalidPayload;
  if (!data->actor_id || *data->actor_id != record.author.id) return ReasonCode::ApprovalMissing;
  if (data->expiry && record.time >= *data->expiry) return ReasonCode::ApprovalExpired;
  expected.insert(a);
  return std::nullopt;
}

}  // namespace

Judgement check_request(const record::Payload& payload, const Prior& prior, const VerifierRules&, const State& state) {
  const Record& record = payload.record();
  const record::RequestData* r = payload.as<record::RequestData>();
  if (!r) return ReasonCode::InvalidPayload;
  auto causes = targets_of(record.refs, RefType::Cause);
  if (causes.empty()) return r->parent_request_id ? Judgement(ReasonCode::InvalidPayload) : std::nullopt;
  for (const Id& t : causes) {
    const Record* parent = prior.find(t);
    if (!parent) return ReasonCode::RefUnresolved;
    if (parent->kind != Kind::Request || !same_thread(*parent, record)) return ReasonCode::InvalidPayload;
    if (!state.accepted_records.contains(t)) return ReasonCode::RequestMissing;
  }
  if (!r->parent_request_id || causes.size() > 1 || causes[0] != *r->parent_request_id)
    return ReasonCode::InvalidPayload;
  return std::nullopt;
}

Judgement check_requirement(const record::Payload& payload, const Prior& prior,
                            const VerifierRules&, const State& state) {
  const Record& record = payload.record();
  const record::RequirementData* q = payload.as<record::RequirementData>();
  if (!q) return ReasonCode::InvalidPayload;
  if (q->key.empty() || q->description.empty()) return ReasonCode::RequirementInvalid;
  using record::AuthorType;
  AuthorType type = record.author.type;
  bool role_fits = q->provenance == record::Provenance::user_authored
                       ? type == AuthorType::User
                       : type == AuthorType::Provider || type == AuthorType::System;
  if (!role_fits) return ReasonCode::AuthorRoleInvalid;
  auto causes = targets_of(record.refs, RefType::Cause);
  if (causes.size() != 1) return ReasonCode::RequirementInvalid;
  const Record* request = prior.find(causes[0]);
  if (!request || request->kind != Kind::Request || !state.accepted_records.contains(causes[0]) ||
      !same_thread(*request, record) || !same_space(*request, record))
    return ReasonCode::RequirementInvalid;
  auto keys = state.requirement_keys.find(causes[0]);
  if (keys != state.requirement_keys.end() && keys->second.contains(q->key)) return ReasonCode::RequirementInvalid;
  return std::nullopt;
}

Judgement check_candidate(const record::Payload& payload, const Prior& prior, const VerifierRules& rules,
                          const State& state) {
  const Record& record = payload.record();
  const record::CandidateData* c = payload.as<record::CandidateData>();
  if (!c) return ReasonCode::InvalidPayload;
  const auto& git = c->source.git;
  size_t length = git.algo == record::SourceAlgo::sha256 ? 64 : 40;
  if (!lower_hex_of_length(git.tree, length)) return ReasonCode::SourceBindingInvalid;
  if (git.commit && !lower_hex_of_length(*git.commit, length)) return ReasonCode::SourceBindingInvalid;
  if (c->source.manifest_hash.has_value() != (c->source.binding == record::BindingMode::manifest))
    return ReasonCode::SourceBindingInvalid;
  if (c->artifacts && !record::artifact_refs_well_formed(*c->artifacts)) return ReasonCode::ArtifactRefInvalid;
  if (c->parent && !payload_ref_resolves(prior.find(*c->parent), record, Kind::Candidate, state))
    return ReasonCode::PayloadRefUnresolved;
  std::vector<const Record*> causes;
  for (const auto& ref : record.refs) {
    if (ref.type != RefType::Cause) continue;
    const Record* cause = prior.find(ref.target);
    if (!cause) return ReasonCode::RefUnresolved;
    causes.push_back(cause);
  }
  return check_lineage(*c, causes, prior, rules, state);
}

Judgement check_evaluation(const record::Payload& payload, const Prior& prior, const VerifierRules& rules,
                           const State& state) {
  const Record& record = payload.record();
  const Id& v2 = record::schema_id(record::Schema::EvaluationV2);
  const Id& attested = record::schema_id(record::Schema::EvaluationAttested);
  if (record.schema == v2 || record.schema == attested)
    return check_evaluation_v2(payload, prior, rules, state, record.schema == attested);
  const record::EvaluationData* e = payload.as<record::EvaluationData>();
  if (!e) return ReasonCode::InvalidPayload;
  return check_evaluated_candidate(record, e->candidate, prior, state);
}

Judgement check_selection(const record::Payload& payload, const Prior& prior, const VerifierRules& rules,
                          const State& state) {
  const Record& record = payload.record();
  const record::SelectionData* s = payload.as<record::SelectionData>();
  if (!s) return ReasonCode::InvalidPayload;
  const size_t n = s->considered.size();
  if (n < 1 || n > rules.max_considered) return ReasonCode::SelectionInvalid;
  const std::set<Id> considered(s->considered.begin(), s->considered.end());
  if (considered.size() < n) return ReasonCode::SelectionInvalid;
  for (const Id& c : s->considered)
    if (!payload_ref_resolves(prior.find(c), record, Kind::Candidate, state))
      return ReasonCode::PayloadRefUnresolved;

  size_t used_evaluations = 0;
  for (const auto& ref : record.refs) {
    if (ref.type != RefType::Use) continue;
    const Record* e = prior.find(ref.target);
    if (!e || e->kind != Kind::Evaluation || !state.accepted_records.contains(ref.target)) continue;
    const EvaluationFacts* evaluation = prior.facts<EvaluationFacts>(*e);
    if (!evaluation) return ReasonCode::InvalidPayload;
    if (!considered.contains(evaluation->candidate)) return ReasonCode::SelectionInvalid;
    ++used_evaluations;
  }

  std::set<Id> expected;  // the Require targets the selection must carry
  if (!s->outcome.is_none()) {
    const auto& chosen = s->outcome.selected->candidates;
    expected.insert(chosen.begin(), chosen.end());
    if (expected.empty() || expected.size() < chosen.size()) return ReasonCode::SelectionInvalid;
    for (const Id& c : expected)
      if (!considered.contains(c)) return ReasonCode::SelectionInvalid;
    if (rules.min_binding == record::BindingMode::manifest) {
      for (const Id& c : expected) {
        const Record* candidate = prior.find(c);
        if (!candidate) return ReasonCode::SelectionInvalid;
        const CandidateFacts* data = prior.facts<CandidateFacts>(*candidate);
        if (!data) return ReasonCode::InvalidPayload;
        if (data->binding != record::BindingMode::manifest) return ReasonCode::SelectionInvalid;
      }
    }
    if (rules.selection_requires_evaluation && used_evaluations == 0) return ReasonCode::SelectionInvalid;
  }

  if (rules.selection_requires_approval)
    if (auto code = check_selection_approval(record, *s, prior, state, expected)) return code;

  auto required = targets_of(record.refs, RefType::Require);
  if (std::set<Id>(required.begin(), required.end()) != expected) return ReasonCode::SelectionInvalid;

  if (auto replaced = first_ref(record.refs, RefType::Replace)) {
    if (const Record* earlier = prior.find(*replaced)) {
      const SelectionFacts* data = prior.facts<SelectionFacts>(*earlier);
      if (!data) return ReasonCode::InvalidPayload;
      if (data->objective != s->objective) return ReasonCode::ReaffirmationInvalid;
    }
    if (!rules.reaffirmation_actors.empty() && !rules.reaffirmation_actors.contains(record.author.id))
      return ReasonCode::ReaffirmationInvalid;
  }
  return std::nullopt;
}

}  // namespace quintrel::verify
