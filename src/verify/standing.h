// Which accepted Selections and Candidates can still be relied on.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <utility>
#include <vector>

#include "record/record.h"
#include "state/state.h"
#include "verify/prior.h"

namespace quintrel::verify {

// Unsound Selection -> the sound Selections whose Replace chain reaches it.
// Only Selections with at least one restorer have an entry.
//
// A chain of n Selections can give n * n / 8 restorer entries, so they are
// held compactly: one list of restorers, and per key a range of it. The
// Replace forest, numbered depth first, makes every key's restorers one
// contiguous range, so the list holds each restorer once. Ranges are sorted
// only when they are read.
class Restorations {
 public:
  // A key and its restorers: members_[begin, end).
  struct Range {
    base::Id key;
    uint32_t begin = 0, end = 0;
    bool operator==(const Range&) const = default;
  };

  Restorations() = default;
  // Entries given whole (tests and hand-built sections); a repeated key keeps
  // its first entry.
  Restorations(std::initializer_list<std::pair<const base::Id, base::IdSet>> entries);
  // Ranges over `members`, keys ascending and unrepeated, each range non-empty
  // and free of repeats.
  Restorations(std::vector<base::Id> members, std::vector<Range> ranges)
      : members_(std::move(members)), ranges_(std::move(ranges)) {}

  bool empty() const { return ranges_.empty(); }
  // The number of entries (keys).
  size_t size() const { return ranges_.size(); }
  // The number of (key, restorer) pairs, as expanding all of them would give.
  uint64_t pairs() const;
  // The restorers of `id`, ascending by id bytes; empty when it has none.
  std::vector<base::Id> of(const base::Id& id) const;
  // Calls f(key, restorers) for every entry, keys ascending, each entry's
  // restorers ascending (a std::span<const base::Id>, valid during the call).
  template <class F>
  void for_each(F&& f) const {
    std::vector<base::Id> sorted;
    for (const Range& r : ranges_) {
      sorted_members(r, sorted);
      f(r.key, std::span<const base::Id>(sorted));
    }
  }
  // Adds an entry; keys must arrive ascending and each only once.
  void add(const base::Id& key, std::vector<base::Id> restorers_ascending);

  // The same keys with the same restorers, however they are held.
  bool operator==(const Restorations& o) const;

 private:
  void sorted_members(const Range& r, std::vector<base::Id>& out) const;

  std::vector<base::Id> members_;
  std::vector<Range> ranges_;  // ascending by key
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

// The same, taking the payload facts it needs of a record from `index` where
// the index holds that record (a replay's index has them already).
StandingSection derive_standing(std::span<const record::Record> records, const state::State& state,
                                const PriorIndex* index);

}  // namespace quintrel::verify
