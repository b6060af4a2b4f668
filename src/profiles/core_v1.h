// The baseline profile: a verdict other than Invalid, and rules that register
// authors, are no laxer than the schema base classes and keep the context
// limit in range; it also reports retraction authority and source bindings.
#pragma once

#include <string_view>

#include "profiles/input.h"
#include "profiles/records.h"

namespace quintrel::profiles {

inline constexpr std::string_view kCoreV1 = "quintrel-core-v1";

ProfileTable core_v1_table();

// Reads the verdict's status, the rules as stored and the records.
ProfileResult evaluate_core_v1(const Input& input);

}  // namespace quintrel::profiles
