// Which accepted Selections and Candidates can still be relied on.
#pragma once

#include <map>
#include <set>
#include <span>

#include "record/record.h"
#include "state/state.h"

namespace quintrel::verify {

struct StandingSection {
  std::set<base::Id> compromised;                           // accepted Candidates not sound
  std::set<base::Id> unsound;                               // accepted Selections retracted or tainted
  std::map<base::Id, std::set<base::Id>> restorations;      // unsound Selection -> sound superseders

  bool operator==(const StandingSection&) const = default;
};

// Reads only the records and the replayed state; never fails.
StandingSection derive_standing(std::span<const record::Record> records, const state::State& state);

}  // namespace quintrel::verify
