// The records a check may see: an index of the records seen so far and the
// read view every check receives.
#pragma once

#include <cstddef>
#include <span>
#include <unordered_map>
#include <unordered_set>

#include "base/codec.h"
#include "record/record.h"

namespace quintrel::verify {

using base::Id;
using record::Record;

// A keyed hash of ids: ids in a receipt are chosen by whoever wrote it, so the
// bucket of an id must not be predictable.
struct IdHash {
  size_t operator()(const Id& id) const noexcept;
};

class PriorIndex {
 public:
  // Indexes records[0..n) in order.
  static PriorIndex of(std::span<const Record> records);

  // Indexes one record at its position in the sequence. A repeated id keeps
  // its first position; a Verdict marks each of its Cause targets as judged.
  void insert(size_t position, const Record& record);

  std::optional<size_t> position(const Id& id) const {
    auto it = by_id_.find(id);
    if (it == by_id_.end()) return std::nullopt;
    return it->second;
  }
  bool verdicted(const Id& id) const { return verdicted_.contains(id); }

 private:
  std::unordered_map<Id, size_t, IdHash> by_id_;
  std::unordered_set<Id, IdHash> verdicted_;
};

// The view passed to every check: the whole sequence, but only the indexed
// records are visible through it.
class Prior {
 public:
  Prior(std::span<const Record> records, const PriorIndex& index) : records_(records), index_(&index) {}

  const Record* find(const Id& id) const {
    auto p = index_->position(id);
    return p ? &records_[*p] : nullptr;
  }
  bool verdicted(const Id& id) const { return index_->verdicted(id); }

 private:
  std::span<const Record> records_;
  const PriorIndex* index_;
};

}  // namespace quintrel::verify
