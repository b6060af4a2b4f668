// Rebuilding the derived state from a stored sequence of records.
#pragma once

#include <expected>
#include <span>

#include "base/json_error.h"
#include "record/record.h"
#include "state/state.h"
#include "verify/replay.h"
#include "verify/rules.h"

namespace quintrel::state {

// Trusts the stored Verdicts (the last one for a subject wins) and checks
// nothing else.
std::expected<State, base::JsonError> build_state_unchecked(std::span<const record::Record> records);

// Replays the records under the rules first; on failure, the replay's verdict
// with its failure reason.
std::expected<State, verify::LogVerdict> verify_and_build_state(std::span<const record::Record> records,
                                                                const verify::VerifierRules& rules);

}  // namespace quintrel::state
