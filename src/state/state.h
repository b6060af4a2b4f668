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

// Ordered collections throughout: ids chosen by a stranger cannot make a
// lookup slow, and iteration order is part of the results.
struct State {
  std::set<Id> accepted_records;
  std::set<Id> active_requests;
  std::map<CapabilityKey, Id> active_capabilities;
  std::map<Id, Id> valid_approvals;
  std::map<ClassApprovalKey, Id> class_approvals;
  std::set<Id> open_actions;
  std::map<Id, Id> action_to_request;
  std::map<Id, Id> active_summaries;
  std::set<Id> replaced_records;
  std::map<Id, uint64_t> request_open_action_count;
  std::map<UsageKey, record::UsageOutcomeCounts> usage_counts;
  std::map<Id, Id> active_plans;
  std::map<Id, uint32_t> response_turns;
  std::map<Id, CapabilityKey> capability_index;
  std::map<Id, Id> exact_approval_index;
  std::map<Id, ClassApprovalKey> class_approval_index;
  std::set<Id> retracted_records;
  std::set<Id> tainted_records;
  std::map<Id, std::set<Id>> epistemic_dependents;
  std::map<Id, std::set<std::string>> requirement_keys;
  std::map<Id, std::pair<Id, std::string>> requirement_index;
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
