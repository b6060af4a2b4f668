// Which accepted Selections and Candidates can still be relied on.
#pragma once

#include <map>
#include <set>
#include <span>
#include <vector>

#include "record/record.h"
#include "state/state.h"

namespace quintrel::verify {

struct StandingSection {
  base::IdSet compromised;                           // accepted Candidates not sound
  base::IdSet unsound;                               // accepted Selections retracted or tainted
  base::IdMap<base::IdSet> restorations;      // unsound Selection -> sound superseders

  bool operator==(const StandingSection&) const = default;
};

// The targets of a record's Cause refs, in ref order.
std::vector<base::Id> cause_targets(std::span<const record::Ref> refs);

// Reads only the records and the replayed state; never fails.
StandingSection derive_standing(std::span<const record::Record> records, const state::State& state);

}  // namespace quintrel::verify
