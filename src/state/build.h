// Rebuilding the derived state from a stored sequence of records.
#pragma once

#include <expected>
#include <span>

#include "base/json_error.h"
#include "record/record.h"
#include "state/state.h"

namespace quintrel::state {

// Trusts the stored Verdicts (the last one for a subject wins) and checks
// nothing else.
std::expected<State, base::JsonError> build_state_unchecked(std::span<const record::Record> records);

}  // namespace quintrel::state
