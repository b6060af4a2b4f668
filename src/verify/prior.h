// The records a check may see: an index of the records seen so far and the
// read view every check receives.
#pragma once

#include <cstddef>
#include <span>

#include "base/id_table.h"
#include "record/record.h"

namespace quintrel::verify {

using base::Id;
using record::Record;

class PriorIndex {
 public:
  // Indexes records[0..n) in order.
  static PriorIndex of(std::span<const Record> records);

  // Room for `n` records, so that growing the index does not rehash.
  void reserve(size_t n) {
    by_id_.reserve(n);
    verdicted_.reserve(n / 2 + 1);
  }

  // Indexes one record at its position in the sequence. A repeated id keeps
  // its first position; a Verdict marks each of its Cause targets as judged.
  void insert(size_t position, const Record& record);

  std::optional<size_t> position(const Id& id) const {
    const size_t* p = by_id_.find(id);
    if (!p) return std::nullopt;
    return *p;
  }
  bool verdicted(const Id& id) const { return verdicted_.contains(id); }

 private:
  base::IdTable<size_t> by_id_;
  base::IdTableSet verdicted_;
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
