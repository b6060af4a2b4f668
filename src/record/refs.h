// Typed references from a record to earlier records.
#pragma once

#include <compare>
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

}  // namespace quintrel::record

namespace quintrel::base {
template <>
struct Fields<record::Ref> {
  static constexpr std::string_view name = "Ref";
  static constexpr auto fields =
      std::make_tuple(field("type", &record::Ref::type), field("target", &record::Ref::target));
};
}  // namespace quintrel::base
