#include "verify/verdict.h"

#include "record/schema.h"
#include "verify/record_checks.h"

namespace quintrel::verify {

using record::ReasonCode;

record::Judgement check_verdict_record(const Record& record, const Prior& prior, const VerifierRules& rules) {
  return check_verdict_record(record::Payload(record), prior, rules, IdCheck::kCompute);
}

record::Judgement check_verdict_record(const record::Payload& payload, const Prior& prior,
                                       const VerifierRules& rules, IdCheck id_check) {
  const Record& record = payload.record();
  if (id_check == IdCheck::kCompute) {
    auto id = record.compute_id();
    if (!id || *id != record.id) return ReasonCode::InvalidPayload;
  }
  if (record.schema != record::schema_id(record::Schema::Verdict)) return ReasonCode::KindSchemaMismatch;
  if (record.author.type != record::AuthorType::Verifier) return ReasonCode::InvalidPayload;
  if (record.author.signature) return ReasonCode::InvalidPayload;
  if (record.space != rules.space) return ReasonCode::InvalidPayload;
  if (record.evidence != record::Evidence::Deterministic) return ReasonCode::InvalidPayload;
  if (!payload.canonical<record::VerdictData>()) return ReasonCode::InvalidPayload;
  if (record.refs.size() != 1 || record.refs[0].type != record::RefType::Cause) return ReasonCode::InvalidPayload;
  const Record* subject = prior.find(record.refs[0].target);
  if (!subject) return ReasonCode::RefUnresolved;
  if (subject->kind == record::Kind::Verdict) return ReasonCode::InvalidPayload;
  if (subject->space != record.space || subject->thread != record.thread) return ReasonCode::InvalidPayload;
  if (prior.verdicted(subject->id)) return ReasonCode::InvalidPayload;
  return std::nullopt;
}

}  // namespace quintrel::verify
