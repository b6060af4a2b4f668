// Schema names and their ids (the SHA-256 of the name).
#pragma once

#include <array>
#include <optional>
#include <string_view>

#include "base/hash.h"

namespace quintrel::base {

inline constexpr std::array<std::string_view, 20> kSchemaNames = {
    "quintrel.request.v1",
    "quintrel.action.v1",
    "quintrel.response.v1",
    "quintrel.result.v1",
    "quintrel.result.external_receipt.v1",
    "quintrel.result.effect_confirmation.v1",
    "quintrel.capability.v1",
    "quintrel.approval.v1",
    "quintrel.summary.v1",
    "quintrel.refusal.v1",
    "quintrel.usage.v1",
    "quintrel.verdict.v1",
    "quintrel.plan.v1",
    "quintrel.retraction.v1",
    "quintrel.candidate.v1",
    "quintrel.evaluation.v1",
    "quintrel.selection.v1",
    "quintrel.requirement.v1",
    "quintrel.evaluation.v2",
    "quintrel.evaluation.attested.v1",
};

inline Digest schema_id(std::string_view name) { return sha256_utf8(name); }

// The ids of the twenty known names, in the order of kSchemaNames, computed once.
const std::array<Digest, 20>& known_schema_ids();

// The position of a known schema id in kSchemaNames, or none.
std::optional<size_t> schema_index(const Digest& id);
std::optional<std::string_view> schema_name_for_id(const Digest& id);

}  // namespace quintrel::base
