// Which accepted Selections and Candidates can still be relied on.
#pragma once

#include <initializer_list>
#include <map>
#include <set>
#include <span>
#include <vector>

#include "record/record.h"
#include "state/state.h"

namespace quintrel::verify {

// Unsound Selection -> the sound Selections whose Replace chain reaches it.
// Only Selections with at least one restorer have an entry.
class Restorations {
 public:
  Restorations() = default;
  // Entries given whole (tests and hand-built sections).
  Restorations(std::initializer_list<std::pair<const base::Id, base::IdSet>> entries) : entries_(entries) {}

  bool empty() const { return entries_.empty(); }
  // The number of entries (keys).
  size_t size() const { return entries_.size(); }
  // The restorers of `id`, ascending by id bytes; empty when it has none.
  std::vector<base::Id> of(const base::Id& id) const {
    auto it = entries_.find(id);
    return it == entries_.end() ? std::vector<base::Id>{} : std::vector<base::Id>(it->second.begin(), it->second.end());
  }
  // Calls f(key, restorers) for every entry, keys ascending, each entry's
  // restorers ascending (any forward range of base::Id).
  template <class F>
  void for_each(F&& f) const {
    for (const auto& [key, members] : entries_) f(key, members);
  }
  // Adds an entry; keys must arrive ascending and each only once.
  void add(const base::Id& key, std::vector<base::Id> restorers_ascending) {
    entries_.emplace_hint(entries_.end(), key, base::IdSet(restorers_ascending.begin(), restorers_ascending.end()));
  }

  bool operator==(const Restorations&) const = default;

 private:
  base::IdMap<base::IdSet> entries_;
};

struct StandingSection {
  base::IdSet compromised;   // accepted Candidates not sound
  base::IdSet unsound;       // accepted Selections retracted or tainted
  Restorations restorations;

  bool operator==(const StandingSection&) const = default;
};

// The targets of a record's Cause refs, in ref order.
std::vector<base::Id> cause_targets(std::span<const record::Ref> refs);

// Reads only the records and the replayed state; never fails.
StandingSection derive_standing(std::span<const record::Record> records, const state::State& state);

}  // namespace quintrel::verify
