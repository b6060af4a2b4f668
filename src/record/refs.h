// Typed references from a record to earlier records.
#pragma once

#include <compare>
#include <optional>
#include <span>
#include <vector>

#include "base/codec.h"
#include "record/kind.h"

namespace quintrel::record {

struct Ref {
  RefType type = RefType::Cause;
  base::Id target{};
  // By type ordinal, then by target bytes: the order of a record's refs.
  auto operator<=>(const Ref&) const = default;
};

// Sorts by (type, target) and drops repeats, keeping the first of each run.
void sort_and_dedup_refs(std::vector<Ref>& refs);

// The target of the first ref of `type` (in sorted refs, the smallest).
std::optional<base::Id> first_ref(std::span<const Ref> refs, RefType type);

// True when a ref of `type` names `target`.
bool has_ref(std::span<const Ref> refs, RefType type, const base::Id& target);
// The same over refs in their stored order (sorted, no repeats), in
// logarithmic time: a check asks once per listed id, and a record may list
// thousands.
bool has_sorted_ref(std::span<const Ref> refs, RefType type, const base::Id& target);

// The targets of the refs of `type`, in ref order.
std::vector<base::Id> targets_of(std::span<const Ref> refs, RefType type);

}  // namespace quintrel::record

namespace quintrel::base {
template <>
struct Fields<record::Ref> {
  static constexpr std::string_view name = "Ref";
  static constexpr auto fields =
      std::make_tuple(field("type", &record::Ref::type), field("target", &record::Ref::target));
};
}  // namespace quintrel::base
