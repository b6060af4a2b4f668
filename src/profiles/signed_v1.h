// Signed provenance of the evolution records: the core profile met, signatures
// required on the five evolution kinds, every author of an accepted evolution
// record pinned to keys, and every evaluation a selecting Selection uses
// attested.
#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "profiles/input.h"
#include "profiles/records.h"

namespace quintrel::profiles::signed_v1 {

inline constexpr std::string_view kId = "quintrel-core-signed-v1";

ProfileTable table();

// Reads the verdict's status, the declarations, the rules as stored and the
// records; the core profile is evaluated through the registry.
ProfileResult evaluate(const Input& input);

// The undeclared result over the clause results S0 to S3.
ProfileResult finish(std::vector<ClauseResult> clauses);

// One failed result per clause id, in order, each with the detail.
std::vector<ClauseResult> all_failed(std::span<const std::string_view> ids, std::string_view detail);

}  // namespace quintrel::profiles::signed_v1
