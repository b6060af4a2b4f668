// Showing a delivery: an accepted Selection that chose a candidate on the
// strength of evaluations bound to the requirements of one request. One claim
// per request is kept (the latest sound one) and checked for coverage,
// passing outcomes, evidence on the record, independence, decider bindings
// and standing; the core profile must be met as well.
#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "profiles/input.h"
#include "profiles/records.h"

namespace quintrel::profiles::delivery_v1 {

inline constexpr std::string_view kId = "delivery-receipt-v1";

ProfileTable table();

// Reads the verdict (status, retracted, tainted, standing), the declarations
// and the records; the core profile is evaluated through the registry.
ProfileResult evaluate(const Input& input);

// The undeclared result over the clause results D0 to D7.
ProfileResult finish(std::vector<ClauseResult> clauses);

// One failed result per clause id, in order, each with the detail.
std::vector<ClauseResult> all_failed(std::span<const std::string_view> ids, std::string_view detail);

}  // namespace quintrel::profiles::delivery_v1
