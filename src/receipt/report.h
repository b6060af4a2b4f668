// The outcome of validating a receipt, every field re-derived by validation,
// and its fixed text form.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/codec.h"
#include "profiles/records.h"
#include "record/kind.h"
#include "verify/standing.h"

namespace quintrel::receipt {

enum class ValidationStatus : uint8_t { Clean, Tainted, Invalid };

struct Report {
  ValidationStatus status = ValidationStatus::Invalid;
  std::optional<record::ReasonCode> reason;  // why the replay failed
  std::optional<std::string> problem;        // what stopped validation before the replay
  std::string spec_version;                  // empty when the bytes were too large or did not parse
  uint64_t record_count = 0;
  uint64_t checked_records = 0;
  uint64_t last_time = 0;
  base::Id head_hash{};
  base::Id rules_hash{};
  base::IdSet retracted;
  base::IdSet tainted;
  verify::StandingSection standing;
  std::vector<profiles::ProfileResult> profiles;

  bool operator==(const Report&) const = default;
};

// Receives the text a piece at a time; returning false refuses the write.
using TextSink = std::function<bool(std::string_view)>;

// Writes the text form, every line ended by a line feed; stops at the first
// write the sink refuses and then returns false. The restorations are
// expanded here, one line per restorer.
bool write_text(const Report& report, const TextSink& sink);
std::string to_text(const Report& report);

}  // namespace quintrel::receipt

namespace quintrel::base {
template <>
struct EnumNames<receipt::ValidationStatus> {
  static constexpr std::string_view names[] = {"Clean", "Tainted", "Invalid"};
};
}  // namespace quintrel::base
