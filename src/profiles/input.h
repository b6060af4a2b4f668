// What a profile evaluation reads: the verdict so far and the parsed parts of
// one receipt, all borrowed. The derived state, the lookup of records by id,
// the payloads the profiles read and each known profile's result are built on
// first use and kept, so that every profile evaluated over one input shares
// them (the stronger profiles evaluate the core one again). One input serves
// one thread.
#pragma once

#include <map>
#include <optional>
#include <span>
#include <string_view>
#include <unordered_map>

#include "base/id.h"
#include "base/id_table.h"
#include "profiles/records.h"
#include "record/evolution_payloads.h"
#include "record/record.h"
#include "state/state.h"
#include "verify/rules.h"
#include "verify/standing.h"

namespace quintrel::profiles {

// The verdict as validation has built it so far.
struct Verdict {
  bool invalid = true;
  std::string_view status;  // its name: "Clean", "Tainted" or "Invalid"
  const base::IdSet& retracted;
  const base::IdSet& tainted;
  const verify::StandingSection& standing;
};

class Input {
 public:
  // `replayed`, when given, is the state a successful replay of the same
  // records folded: what rebuilding them would give, so it is used instead.
  Input(Verdict verdict, const verify::VerifierRules& rules, std::span<const record::Record> records,
        std::span<const ProfileRef> declarations, const state::State* replayed = nullptr)
      : verdict_(verdict), rules_(rules), records_(records), declarations_(declarations), replayed_(replayed) {}
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;

  const Verdict& verdict() const { return verdict_; }
  const verify::VerifierRules& rules() const { return rules_; }  // as stored, not restricted
  std::span<const record::Record> records() const { return records_; }
  std::span<const ProfileRef> declarations() const { return declarations_; }

  // The state of the records: the replay's, else rebuilt from every record
  // trusting the stored Verdicts; none when it cannot be rebuilt.
  const state::State* state() const;
  // The record carrying `id`, the later one in log order should two carry it;
  // Verdicts and rejected records included.
  const record::Record* find(const base::Id& id) const;
  // The record's payload read as a Selection's, a Candidate's or a version 2
  // Evaluation's; none when it does not read.
  const record::SelectionData* selection_data(const record::Record& r) const { return read(selections_, r); }
  const record::CandidateData* candidate_data(const record::Record& r) const { return read(candidates_, r); }
  const record::EvaluationDataV2* evaluation_data(const record::Record& r) const { return read(evaluations_, r); }
  // The result of the profile named `id`, from `evaluate` on first use; an
  // evaluation is a pure function of the input. `id` must outlive the input.
  const ProfileResult& evaluated(std::string_view id, ProfileResult (*evaluate)(const Input&)) const;

 private:
  template <class T>
  using Payloads = std::unordered_map<const record::Record*, std::optional<T>>;
  template <class T>
  static const T* read(Payloads<T>& payloads, const record::Record& r) {
    auto [it, added] = payloads.try_emplace(&r);
    if (added)
      if (auto data = record::decode_payload<T>(r)) it->second = std::move(*data);
    return it->second ? &*it->second : nullptr;
  }

  Verdict verdict_;
  const verify::VerifierRules& rules_;
  std::span<const record::Record> records_;
  std::span<const ProfileRef> declarations_;
  const state::State* replayed_;
  // Filled on first use: an absent inner value is a state that did not rebuild.
  mutable std::optional<std::optional<state::State>> state_;
  mutable std::optional<base::IdTable<size_t>> positions_;  // of the records, by id
  mutable Payloads<record::SelectionData> selections_;
  mutable Payloads<record::CandidateData> candidates_;
  mutable Payloads<record::EvaluationDataV2> evaluations_;
  mutable std::map<std::string_view, ProfileResult> results_;
};

}  // namespace quintrel::profiles
