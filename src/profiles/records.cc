#include "profiles/records.h"

#include <algorithm>

#include "base/hash.h"

namespace quintrel::profiles {

std::string one_line(std::string_view text) {
  // C0 controls and DEL in one byte; C1 controls as C2 80 to C2 9F.
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const bool c1 = c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0;
    if (c < 0x20 || c == 0x7F || c1) return base::debug_quote(text);
  }
  return std::string(text);
}

std::string short_id(const base::Id& id) { return base::hex_encode(id).substr(0, 12); }

base::Id profile_hash(const ProfileTable& table) { return base::sha256_canonical(table).value_or(base::Id{}); }

ProfileResult result_of(const ProfileTable& table, std::vector<ClauseResult> clauses) {
  const bool all_passed = std::all_of(clauses.begin(), clauses.end(), [](const ClauseResult& c) { return c.passed; });
  return {table.id, profile_hash(table), all_passed ? ProfileStatus::Conformant : ProfileStatus::NonConformant,
          false, std::nullopt, std::move(clauses)};
}

}  // namespace quintrel::profiles
