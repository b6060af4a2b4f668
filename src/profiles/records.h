// What conformance profiles are made of and report in: clause tables with
// their hash, the declarations a receipt carries, and evaluated results.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/codec.h"

namespace quintrel::profiles {

struct Clause {
  std::string id;         // a letter and a digit, "B1"
  std::string statement;  // hashed with the table: one changed character changes the hash
};

struct ProfileTable {
  std::string id;
  uint32_t version = 1;
  std::vector<Clause> clauses;
};

// SHA-256 of the table's canonical JSON; 32 zero bytes should it not encode.
base::Id profile_hash(const ProfileTable& table);

// A receipt's claim to meet a profile. Never trusted: evaluation reports
// whether it names the table evaluated.
struct ProfileRef {
  std::string id;
  uint32_t version = 0;
  base::Id hash{};
  bool operator==(const ProfileRef&) const = default;
};

enum class ProfileStatus : uint8_t { Conformant, NonConformant, Unknown };

struct ClauseResult {
  std::string id;
  bool passed = false;
  std::string detail;  // one line, also for a passed clause
  bool operator==(const ClauseResult&) const = default;
};

struct ProfileResult {
  std::string id;
  base::Id hash{};  // of the table evaluated; zero for an unknown id
  ProfileStatus status = ProfileStatus::Unknown;
  bool declared = false;
  // Only for a declared profile with a known table: whether the declaration's
  // version and hash are the table's.
  std::optional<bool> declaration_matches;
  std::vector<ClauseResult> clauses;  // one per clause, in table order
  bool operator==(const ProfileResult&) const = default;
};

// Conformant, and not declared with a mismatching version or hash.
inline bool met(const ProfileResult& r) {
  return r.status == ProfileStatus::Conformant && r.declaration_matches != false;
}

// A text from a receipt in its quoted, escaped form ("{:?}"), the line and
// paragraph separators U+2028 and U+2029 escaped too: with the control
// characters they are every line end of a reader that splits lines the
// Unicode way (Python's splitlines), so the form holds no line end at all.
std::string quoted(std::string_view text);

// A text from a receipt as it may stand in a one-line detail or report line:
// unchanged, unless it holds a line end of any reader; then quoted.
std::string one_line(std::string_view text);

// The items, each written by `write`, with `separator` between them.
template <class Items, class Write = std::identity>
std::string joined(const Items& items, std::string_view separator, Write write = {}) {
  std::string out;
  bool first = true;
  for (const auto& item : items) {
    if (!first) out.append(separator);
    out.append(write(item));
    first = false;
  }
  return out;
}

// The first 12 characters of the id's lowercase hexadecimal form, as profile
// details name records.
std::string short_id(const base::Id& id);

// The undeclared result of a known table: its id and hash, Conformant exactly
// when every clause passed.
ProfileResult result_of(const ProfileTable& table, std::vector<ClauseResult> clauses);

}  // namespace quintrel::profiles

namespace quintrel::base {

template <>
struct Fields<profiles::Clause> {
  static constexpr std::string_view name = "Clause";
  static constexpr auto fields =
      std::make_tuple(field("id", &profiles::Clause::id), field("statement", &profiles::Clause::statement));
};

template <>
struct Fields<profiles::ProfileTable> {
  using T = profiles::ProfileTable;
  static constexpr std::string_view name = "ProfileTable";
  static constexpr auto fields =
      std::make_tuple(field("id", &T::id), field("version", &T::version), field("clauses", &T::clauses));
};

template <>
struct Fields<profiles::ProfileRef> {
  using T = profiles::ProfileRef;
  static constexpr std::string_view name = "ProfileRef";
  static constexpr auto fields =
      std::make_tuple(field("id", &T::id), field("version", &T::version), field("hash", &T::hash));
};

template <>
struct EnumNames<profiles::ProfileStatus> {
  static constexpr std::string_view names[] = {"Conformant", "NonConformant", "Unknown"};
};

}  // namespace quintrel::base
