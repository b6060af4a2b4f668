#include "record/refs.h"

#include <algorithm>

namespace quintrel::record {

void sort_and_dedup_refs(std::vector<Ref>& refs) {
  if (refs.size() < 2) return;
  // Equal refs are identical, so stability cannot be observed.
  std::sort(refs.begin(), refs.end());
  refs.erase(std::unique(refs.begin(), refs.end()), refs.end());
}

std::optional<base::Id> first_ref(std::span<const Ref> refs, RefType type) {
  for (const auto& ref : refs)
    if (ref.type == type) return ref.target;
  return std::nullopt;
}

bool has_ref(std::span<const Ref> refs, RefType type, const base::Id& target) {
  for (const auto& ref : refs)
    if (ref.type == type && ref.target == target) return true;
  return false;
}

bool has_sorted_ref(std::span<const Ref> refs, RefType type, const base::Id& target) {
  return std::binary_search(refs.begin(), refs.end(), Ref{type, target});
}

std::vector<base::Id> targets_of(std::span<const Ref> refs, RefType type) {
  std::vector<base::Id> out;
  for (const auto& ref : refs)
    if (ref.type == type) out.push_back(ref.target);
  return out;
}

}  // namespace quintrel::record
