// Receipt validation: offline, from the bytes alone, within limits that bound
// the work a stranger's receipt can cause. Every outcome is a report.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "profiles/input.h"
#include "receipt/receipt.h"
#include "receipt/report.h"

namespace quintrel::receipt {

// Each limit is inclusive: a value equal to it passes.
struct ValidationLimits {
  uint64_t max_bytes = 0;
  uint64_t max_records = 0;
  uint64_t max_payload_bytes = 0;  // of one record's data
  uint64_t max_refs = 0;           // of one record
};

// The limits of the module function `validate`.
inline constexpr ValidationLimits kStandardLimits{67'108'864, 1'000'000, 16'777'216, 4'096};

// Size, strict parse, record limits, `spec_version`, declarations, the rules and
// head hashes, the replay under the rules restricted to the `spec_version`'s
// schemas, the status, then the receipt's declared profiles. The first failing
// step decides. Never fails: running out of memory throws std::bad_alloc with
// nothing left behind, and no other exception leaves.
Report validate_with_limits(std::string_view bytes, const ValidationLimits& limits);

// As above, and when no structural problem was found, the profile results are
// the declared ones followed by each required id not declared.
Report validate_with_profiles(std::string_view bytes, const ValidationLimits& limits,
                              std::span<const std::string> required);

// What the profiles read of a parsed receipt and of the report validated from
// it so far, with the state of its successful replay when there is one. All
// are borrowed and must outlive the input.
profiles::Input profile_input(const Receipt& receipt, const Report& report,
                              const state::State* replayed = nullptr);

}  // namespace quintrel::receipt
