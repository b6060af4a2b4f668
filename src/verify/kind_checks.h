// The checks of each kind, run after the general checks of a record.
#pragma once

#include <expected>
#include <span>
#include <vector>

#include "record/activity_payloads.h"
#include "record/payload.h"
#include "record/plan_payload.h"
#include "record/record.h"
#include "state/state.h"
#include "verify/prior.h"
#include "verify/rules.h"

namespace quintrel::verify {

using record::Judgement;
using state::State;

// Hands the record to exactly one check of its kind (Capability: accepted).
// Every check reads the payload through `payload`, shared with the record's
// other checks.
Judgement check_kind_specific(const record::Payload& payload, const Prior& prior, const VerifierRules& rules,
                              const State& state);

// Evolution.
Judgement check_request(const record::Payload& payload, const Prior& prior,
                        const VerifierRules& rules, const State& state);
Judgement check_requirement(const record::Payload& payload, const Prior& prior, const VerifierRules& rules,
                            const State& state);
Judgement check_candidate(const record::Payload& payload, const Prior& prior, const VerifierRules& rules,
                          const State& state);
Judgement check_evaluation(const record::Payload& payload, const Prior& prior, const VerifierRules& rules,
                           const State& state);
Judgement check_selection(const record::Payload& payload, const Prior& prior, const VerifierRules& rules,
                          const State& state);

// Actions and approvals.
Judgement check_action(const record::Payload& payload, const Prior& prior,
                       const VerifierRules& rules, const State& state);

// The Approval covering an Action whose capability asks: the exact approval of
// this action, else a class-wide one for its author, else one for any actor.
std::expected<Id, record::ReasonCode> check_approval_for_action(const Record& record,
                                                                const record::ActionData& action,
                                                                const Prior& prior, const State& state);

// Lifecycle.
Judgement check_response(const record::Payload& payload, const Prior& prior, const VerifierRules& rules,
                         const State& state);
Judgement check_result(const record::Payload& payload, const Prior& prior,
                       const VerifierRules& rules, const State& state);
Judgement check_summary(const record::Payload& payload, const Prior& prior,
                        const VerifierRules& rules, const State& state);
Judgement check_usage(const record::Payload& payload, const Prior& prior,
                      const VerifierRules& rules, const State& state);
Judgement check_refusal(const record::Payload& payload, const Prior& prior,
                        const VerifierRules& rules, const State& state);

// Plans, approvals, retractions.
Judgement check_plan(const record::Payload& payload, const Prior& prior,
                     const VerifierRules& rules, const State& state);
Judgement check_approval(const record::Payload& payload, const Prior& prior, const VerifierRules& rules,
                         const State& state);
// True when the tasks' depends_on links form a cycle (a self-dependency too).
// Tasks that cannot all be ordered (a repeated id, a dependency on no task)
// also give true.
bool has_cycle(std::span<const record::PlanTask> tasks);
Judgement check_retraction(const record::Payload& payload, const Prior& prior, const VerifierRules& rules,
                           const State& state);

}  // namespace quintrel::verify
