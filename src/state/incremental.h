// Folding judged records into the derived state, one at a time.
#pragma once

#include <expected>

#include "base/json_error.h"
#include "record/activity_payloads.h"
#include "record/payload.h"
#include "record/record.h"
#include "state/state.h"

namespace quintrel::state {

// Folds one record with the verdict recorded for it. A rejected record changes
// nothing. Fails only when the record's payload does not decode or a derived
// key cannot be encoded; the state is then partly updated and must be dropped.
// Leaves applied_up_to alone.
std::expected<void, base::JsonError> apply_record(State& state, const record::Record& record,
                                                  const record::VerdictData& verdict);

// The same, reading the payload through `payload`, which the record's
// judgement may have read already.
std::expected<void, base::JsonError> apply_record(State& state, const record::Payload& payload,
                                                  const record::VerdictData& verdict);

// Taints `id` and, transitively, every epistemic dependent not yet tainted.
void mark_tainted(State& state, const Id& id);

// Counts one open action fewer for the action's request.
void close_action_for_request(State& state, const Id& action_id);

}  // namespace quintrel::state
