// The profile registry: tables and declarations by id, and the evaluation of
// one profile, one declaration, or a receipt's declarations plus the profiles
// a caller requires. Pure functions; nothing fails and nothing is stored.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "profiles/input.h"
#include "profiles/records.h"

namespace quintrel::profiles {

// Exact, byte-for-byte ids; any other text names no profile.
std::optional<ProfileTable> profile_table(std::string_view id);
// The declaration of a known profile: its id, version and table hash.
std::optional<ProfileRef> profile_ref(std::string_view id);

// An unknown id gives an Unknown result with no clauses and a zero hash.
ProfileResult evaluate_profile(std::string_view id, const Input& input);

// As evaluate_profile, marked declared, with whether the declaration names
// the table evaluated (absent for an unknown id). A mismatch changes no
// clause and no status.
ProfileResult evaluate_declared(const ProfileRef& declaration, const Input& input);

// The receipt's declarations in order, then each required id not already
// among the results, in the order given.
std::vector<ProfileResult> evaluate_profiles(const Input& input, std::span<const std::string> required);

// The clause of a stronger profile that requires the core profile met: the
// receipt's first declaration of it, else the core profile as a fallback,
// evaluated through this registry.
ClauseResult core_clause(std::string_view clause_id, const Input& input);

}  // namespace quintrel::profiles
