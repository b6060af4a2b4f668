// Replaying a whole log: times, ids, every verdict re-derived and compared,
// the state folded record by record, and the standing at the end.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <set>
#include <span>

#include "record/kind.h"
#include "record/record.h"
#include "state/state.h"
#include "verify/prior.h"
#include "verify/rules.h"
#include "verify/standing.h"

namespace quintrel::verify {

struct LogVerdict {
  uint64_t checked_records = 0;
  uint64_t last_time = 0;
  base::IdSet retracted;
  base::IdSet tainted;
  StandingSection standing;
  std::optional<record::ReasonCode> failure;

  bool operator==(const LogVerdict&) const = default;
};

// Never fails as an operation: every problem is reported in `failure`.
LogVerdict verify_log(std::span<const record::Record> records, const VerifierRules& rules);

// The same replay, keeping the state it folded and the index it built: on
// success the derived State of the records (what build_state_unchecked gives
// for a log that replays) and the index of all of them (what
// PriorIndex::of gives, with the facts the checks read kept); on failure
// both empty.
struct Replay {
  LogVerdict verdict;
  state::State state;
  PriorIndex index;
};
Replay replay_log(std::span<const record::Record> records, const VerifierRules& rules);

// The replay's state alone; on failure, the replay's verdict with its reason.
std::expected<state::State, LogVerdict> verify_and_build_state(std::span<const record::Record> records,
                                                               const VerifierRules& rules);

}  // namespace quintrel::verify
