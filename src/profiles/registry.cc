#include "profiles/registry.h"

#include <algorithm>
#include <set>

#include "profiles/core_v1.h"
#include "profiles/delivery_v1.h"
#include "profiles/signed_v1.h"

namespace quintrel::profiles {
namespace {

struct Profile {
  std::string_view id;
  ProfileTable (*table)();
  ProfileResult (*evaluate)(const Input&);
};

// Adding a profile is adding its row: its table and its evaluator.
constexpr Profile kProfiles[] = {
    {signed_v1::kId, signed_v1::table, signed_v1::evaluate},
    {delivery_v1::kId, delivery_v1::table, delivery_v1::evaluate},
    {kCoreV1, core_v1_table, evaluate_core_v1},
};

const Profile* find(std::string_view id) {
  for (const Profile& p : kProfiles)
    if (p.id == id) return &p;
  return nullptr;
}

}  // namespace

std::optional<ProfileTable> profile_table(std::string_view id) {
  const Profile* p = find(id);
  return p ? std::optional(p->table()) : std::nullopt;
}

std::optional<ProfileRef> profile_ref(std::string_view id) {
  auto table = profile_table(id);
  if (!table) return std::nullopt;
  return ProfileRef{table->id, table->version, profile_hash(*table)};
}

ProfileResult evaluate_profile(std::string_view id, const Input& input) {
  if (const Profile* p = find(id)) return input.evaluated(p->id, p->evaluate);
  return {std::string(id), {}, ProfileStatus::Unknown, false, std::nullopt, {}};
}

ProfileResult evaluate_declared(const ProfileRef& declaration, const Input& input) {
  ProfileResult result = evaluate_profile(declaration.id, input);
  result.declared = true;
  if (auto table = profile_table(declaration.id))
    result.declaration_matches = declaration.version == table->version && declaration.hash == result.hash;
  return result;
}

std::vector<ProfileResult> evaluate_profiles(const Input& input, std::span<const std::string> required) {
  std::vector<ProfileResult> results;
  // The declared ids come from the receipt: looked up in a tree, so that many
  // of them cannot make the required ids' test quadratic.
  std::set<std::string_view> seen;
  for (const ProfileRef& declaration : input.declarations()) {
    results.push_back(evaluate_declared(declaration, input));
    seen.insert(declaration.id);
  }
  for (const std::string& id : required)
    if (seen.insert(id).second) results.push_back(evaluate_profile(id, input));
  return results;
}

ClauseResult core_clause(std::string_view clause_id, const Input& input) {
  const auto declarations = input.declarations();
  auto declared = std::ranges::find(declarations, kCoreV1, &ProfileRef::id);
  const ProfileResult core = declared != declarations.end() ? evaluate_declared(*declared, input)
                                                            : evaluate_profile(kCoreV1, input);
  std::string detail = std::string(kCoreV1) + ": " + std::string(base::enum_name(core.status));
  if (!core.declared) detail += " (not declared; evaluated as the fallback)";
  else if (core.declaration_matches == false) detail += " (declared, DECLARATION MISMATCH)";
  else detail += " (declared, declaration matches)";
  return {std::string(clause_id), met(core), std::move(detail)};
}

}  // namespace quintrel::profiles
