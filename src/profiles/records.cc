#include "profiles/records.h"

#include <algorithm>

#include "base/hash.h"

namespace quintrel::profiles {

base::Id profile_hash(const ProfileTable& table) { return base::sha256_canonical(table).value_or(base::Id{}); }

ProfileResult result_of(const ProfileTable& table, std::vector<ClauseResult> clauses) {
  const bool all_passed = std::all_of(clauses.begin(), clauses.end(), [](const ClauseResult& c) { return c.passed; });
  return {table.id, profile_hash(table), all_passed ? ProfileStatus::Conformant : ProfileStatus::NonConformant,
          false, std::nullopt, std::move(clauses)};
}

}  // namespace quintrel::profiles
