#include "verify/kind_checks.h"

namespace quintrel::verify {

Judgement check_kind_specific(const Record& record, const Prior& prior, const VerifierRules& rules,
                              const State& state) {
  using record::Kind;
  switch (record.kind) {
    case Kind::Request: return check_request(record, prior, rules, state);
    case Kind::Action: return check_action(record, prior, rules, state);
    case Kind::Response: return check_response(record, prior, rules, state);
    case Kind::Result: return check_result(record, prior, rules, state);
    case Kind::Summary: return check_summary(record, prior, rules, state);
    case Kind::Approval: return check_approval(record, prior, rules, state);
    case Kind::Capability: return std::nullopt;
    case Kind::Usage: return check_usage(record, prior, rules, state);
    case Kind::Refusal: return check_refusal(record, prior, rules, state);
    case Kind::Verdict: return std::nullopt;  // judged before, by check_verdict_record
    case Kind::Plan: return check_plan(record, prior, rules, state);
    case Kind::Retraction: return check_retraction(record, prior, rules, state);
    case Kind::Candidate: return check_candidate(record, prior, rules, state);
    case Kind::Evaluation: return check_evaluation(record, prior, rules, state);
    case Kind::Selection: return check_selection(record, prior, rules, state);
    case Kind::Requirement: return check_requirement(record, prior, rules, state);
  }
  return record::ReasonCode::InvalidPayload;  // a kind outside the enumeration
}

}  // namespace quintrel::verify
