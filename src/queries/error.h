// The error of a named query: the log does not replay, or the record asked
// about cannot be answered for.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/codec.h"
#include "record/kind.h"

namespace quintrel::queries {

struct QueryError {
  enum class Case : uint8_t { LogInvalid, NotFound, Rejected, WrongKind };

  Case what = Case::LogInvalid;
  std::optional<record::ReasonCode> reason;  // LogInvalid: the replay's failure, when it names one
  base::Id id{};                             // every other case: the record asked about
  std::string_view expected;                 // WrongKind: "Candidate" or "Candidate or Selection"

  static QueryError log_invalid(std::optional<record::ReasonCode> reason) { return {Case::LogInvalid, reason}; }
  static QueryError not_found(const base::Id& id) { return {Case::NotFound, {}, id}; }
  static QueryError rejected(const base::Id& id) { return {Case::Rejected, {}, id}; }
  static QueryError wrong_kind(const base::Id& id, std::string_view expected) {
    return {Case::WrongKind, {}, id, expected};
  }

  // "log does not verify: Some(InvalidPayload)", "record {hex} not found", ...
  std::string to_string() const;

  bool operator==(const QueryError&) const = default;
};

inline constexpr std::string_view kCandidate = "Candidate";
inline constexpr std::string_view kCandidateOrSelection = "Candidate or Selection";

}  // namespace quintrel::queries
