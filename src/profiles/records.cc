#include "profiles/records.h"

#include <algorithm>

#include "base/hash.h"

namespace quintrel::profiles {

std::string quoted(std::string_view text) {
  std::string out = base::debug_quote(text);
  for (size_t at = 0; (at = out.find("\xE2\x80", at)) != std::string::npos;) {
    const char last = at + 2 < out.size() ? out[at + 2] : 0;
    if (last == '\xA8' || last == '\xA9') out.replace(at, 3, last == '\xA8' ? "\\u{2028}" : "\\u{2029}");
    else at += 3;
  }
  return out;
}

std::string one_line(std::string_view text) {
  // C0 controls and DEL in one byte; C1 controls as C2 80 to C2 9F; the
  // separators as E2 80 A8 and E2 80 A9.
  const auto byte = [&](size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0; };
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = byte(i);
    const bool c1 = c == 0xC2 && byte(i + 1) >= 0x80 && byte(i + 1) < 0xA0;
    const bool separator = c == 0xE2 && byte(i + 1) == 0x80 && (byte(i + 2) == 0xA8 || byte(i + 2) == 0xA9);
    if (c < 0x20 || c == 0x7F || c1 || separator) return quoted(text);
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
