// The checks of each kind, run after the general checks of a record.
#pragma once

#include "record/activity_payloads.h"
#include "record/record.h"
#include "state/state.h"
#include "verify/prior.h"
#include "verify/rules.h"

namespace quintrel::verify {

using record::Judgement;
using state::State;

// Hands the record to exactly one check of its kind (Capability: accepted).
Judgement check_kind_specific(const Record& record, const Prior& prior, const VerifierRules& rules,
                              const State& state);

// Evolution.
Judgement check_request(const Record& record, const Prior& prior, const VerifierRules& rules, const State& state);
Judgement check_requirement(const Record& record, const Prior& prior, const VerifierRules& rules,
                            const State& state);
Judgement check_candidate(const Record& record, const Prior& prior, const VerifierRules& rules,
                          const State& state);
Judgement check_evaluation(const Record& record, const Prior& prior, const VerifierRules& rules,
                           const State& state);
Judgement check_selection(const Record& record, const Prior& prior, const VerifierRules& rules,
                          const State& state);

// Actions and approvals.
Judgement check_action(const Record& record, const Prior& prior, const VerifierRules& rules, const State& state);

// Lifecycle.
Judgement check_response(const Record& record, const Prior& prior, const VerifierRules& rules,
                         const State& state);
Judgement check_result(const Record& record, const Prior& prior, const VerifierRules& rules, const State& state);
Judgement check_summary(const Record& record, const Prior& prior, const VerifierRules& rules, const State& state);
Judgement check_usage(const Record& record, const Prior& prior, const VerifierRules& rules, const State& state);
Judgement check_refusal(const Record& record, const Prior& prior, const VerifierRules& rules, const State& state);

// Plans, approvals, retractions.
Judgement check_plan(const Record& record, const Prior& prior, const VerifierRules& rules, const State& state);
Judgement check_approval(const Record& record, const Prior& prior, const VerifierRules& rules,
                         const State& state);
Judgement check_retraction(const Record& record, const Prior& prior, const VerifierRules& rules,
                           const State& state);

}  // namespace quintrel::verify
