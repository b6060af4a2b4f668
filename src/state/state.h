// The derived state of a replayed log: what the verifier knows after folding
// in every judged record. Only ids, short texts and counters; no records.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <utility>

#include "base/codec.h"
#include "base/hash.h"
#include "base/id_table.h"
#include "record/activity_payloads.h"
#include "record/evidence.h"
#include "record/record.h"

namespace quintrel::state {

using base::Id;

// (actor_id, action_class, scope)
using CapabilityKey = std::tuple<std::string, std::string, Id>;
// (action_class, scope, actor_id); an absent actor sorts first
using ClassApprovalKey = std::tuple<std::string, Id, std::optional<std::string>>;
// (used_record, role)
using UsageKey = std::pair<Id, std::string>;

// Ordered collections where their order can show; the two largest, looked up
// for nearly every record, are hash-based with a keyed hash, so ids chosen by
// a stranger cannot make a lookup slow.
struct State {
  base::IdTableSet accepted_records;  // membership only: no order needed
  base::IdSet active_requests;
  std::map<CapabilityKey, Id> active_capabilities;
  base::IdMap<Id> valid_approvals;
  std::map<ClassApprovalKey, Id> class_approvals;
  base::IdSet open_actions;
  base::IdMap<Id> action_to_request;
  base::IdMap<Id> active_summaries;
  base::IdSet replaced_records;
  base::IdMap<uint64_t> request_open_action_count;
  std::map<UsageKey, record::UsageOutcomeCounts> usage_counts;
  base::IdMap<Id> active_plans;
  base::IdMap<uint32_t> response_turns;
  base::IdMap<CapabilityKey> capability_index;
  base::IdMap<Id> exact_approval_index;
  base::IdMap<ClassApprovalKey> class_approval_index;
  base::IdSet retracted_records;
  base::IdSet tainted_records;
  base::IdTable<base::IdSet> epistemic_dependents;
  base::IdMap<std::set<std::string>> requirement_keys;
  base::IdMap<std::pair<Id, std::string>> requirement_index;
  uint64_t applied_up_to = 0;

  // The evidence class one reference contributes, given the record it points
  // at: none for Cause and Replace; Assumed for a target not accepted, or
  // retracted, or tainted; otherwise the target's own class.
  std::optional<record::Evidence> ref_evidence(const record::Ref& ref, const record::Record& target) const;

  // Accepted and neither retracted nor tainted.
  bool in_force(const Id& id) const {
    return accepted_records.contains(id) && !retracted_records.contains(id) && !tainted_records.contains(id);
  }

  bool operator==(const State&) const = default;
};

}  // namespace quintrel::state
