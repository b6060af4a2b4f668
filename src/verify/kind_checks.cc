#include "verify/kind_checks.h"

namespace quintrel::verify {

Judgement check_kind_specific(const record::Payload& payload, const Prior& prior, const VerifierRules& rules,
                              const State& state) {
  using record::Kind;
  switch (payload.record().kind) {
    case Kind::Request: return check_request(payload, prior, rules, state);
    case Kind::Action: return check_action(payload, prior, rules, state);
    case Kind::Response: return check_response(payload, prior, rules, state);
    case Kind::Result: return check_result(payload, prior, rules, state);
    case Kind::Summary: return check_summary(payload, prior, rules, state);
    case Kind::Approval: return check_approval(payload, prior, rules, state);
    case Kind::Capability: return std::nullopt;
    case Kind::Usage: return check_usage(payload, prior, rules, state);
    case Kind::Refusal: return check_refusal(payload, prior, rules, state);
    case Kind::Verdict: return std::nullopt;  // judged before, by check_verdict_record
    case Kind::Plan: return check_plan(payload, prior, rules, state);
    case Kind::Retraction: return check_retraction(payload, prior, rules, state);
    case Kind::Candidate: return check_candidate(payload, prior, rules, state);
    case Kind::Evaluation: return check_evaluation(payload, prior, rules, state);
    case Kind::Selection: return check_selection(payload, prior, rules, state);
    case Kind::Requirement: return check_requirement(payload, prior, rules, state);
  }
  return record::ReasonCode::InvalidPayload;  // a kind outside the enumeration
}

}  // namespace quintrel::verify
