// Small helpers shared by the record checks; private to src/verify.
#pragma once

#include <optional>
#include <vector>

#include "base/codec.h"
#include "record/activity_payloads.h"
#include "record/candidate_payload.h"
#include "record/record.h"

namespace quintrel::verify {

using base::Id;
using record::Record;
using record::ReasonCode;
using record::RefType;

// The record's payload read as T, or none when it does not decode.
template <class T>
std::optional<T> decode(const Record& r) {
  auto v = base::from_json<T>(base::as_text(r.data));
  if (!v) return std::nullopt;
  return std::move(*v);
}

// Targets of the refs of one type, in ref order.
inline std::vector<Id> targets_of(const Record& r, RefType type) {
  std::vector<Id> out;
  for (const auto& ref : r.refs)
    if (ref.type == type) out.push_back(ref.target);
  return out;
}

inline bool has_ref(const Record& r, RefType type, const Id& target) {
  for (const auto& ref : r.refs)
    if (ref.type == type && ref.target == target) return true;
  return false;
}

// The target of the first Replace ref (refs are sorted, so the smallest).
inline std::optional<Id> first_replace(const Record& r) {
  for (const auto& ref : r.refs)
    if (ref.type == RefType::Replace) return ref.target;
  return std::nullopt;
}

inline bool same_thread(const Record& a, const Record& b) { return a.thread == b.thread; }
inline bool same_space(const Record& a, const Record& b) { return a.space == b.space; }

}  // namespace quintrel::verify
