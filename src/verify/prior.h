// The records a check may see: an index of the records seen so far and the
// read view every check receives.
#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <span>
#include <tuple>

#include "base/id_table.h"
#include "record/record.h"
#include "verify/facts.h"

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

  // Keeps the facts a later record may ask of the record at `position` (the
  // facts of its kind), taken from `payload`, which its judgement has read:
  // asking for them later costs no second read.
  void keep_facts(size_t position, const record::Payload& payload);

  // The facts F of an indexed record, read from its payload the first time
  // they are asked for and kept: null when the payload does not read. Asking
  // fills a memo, so an index must not be read from two threads at once.
  template <class F>
  const F* facts(const Record& indexed) const {
    Memo<F>& memo = std::get<Memo<F>>(memo_);
    const size_t* at = memo.at.find(indexed.id);
    if (!at) {
      memo.kept.push_back(read_facts<F>(indexed));
      at = memo.at.try_emplace(indexed.id, memo.kept.size() - 1).first;
    }
    const std::optional<F>& f = memo.kept[*at];
    return f ? &*f : nullptr;
  }

 private:
  template <class F>
  void keep(const record::Payload& payload);

  // A deque, so that a pointer handed out survives later facts being added
  // (and a copied index finds its facts at the same positions).
  template <class F>
  struct Memo {
    base::IdTable<size_t> at;
    std::deque<std::optional<F>> kept;
  };

  base::IdTable<size_t> by_id_;
  base::IdTableSet verdicted_;
  mutable std::tuple<Memo<RequestFacts>, Memo<ActionFacts>, Memo<ResultFacts>, Memo<SelectionFacts>,
                     Memo<CandidateFacts>, Memo<EvaluationFacts>, Memo<PlanFacts>, Memo<SummaryFacts>,
                     Memo<record::CapabilityData>, Memo<record::ApprovalData>>
      memo_;
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
  // See PriorIndex::facts; `found` is a record this view found.
  template <class F>
  const F* facts(const Record& found) const {
    return index_->facts<F>(found);
  }

 private:
  std::span<const Record> records_;
  const PriorIndex* index_;
};

}  // namespace quintrel::verify
