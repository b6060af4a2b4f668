#include "record/evidence.h"

#include <algorithm>

#include "base/schema.h"

namespace quintrel::record {

Evidence base_evidence(const base::Id& schema) {
  auto index = base::schema_index(schema);
  if (!index) return Evidence::Assumed;
  std::string_view name = base::kSchemaNames[*index];
  if (name == "quintrel.verdict.v1") return Evidence::Deterministic;
  if (name == "quintrel.evaluation.attested.v1" || name == "quintrel.result.external_receipt.v1")
    return Evidence::Verified;
  if (name == "quintrel.summary.v1" || name == "quintrel.plan.v1" || name == "quintrel.selection.v1")
    return Evidence::Inferred;
  return Evidence::Reported;
}

Evidence derive_evidence(const base::Id& schema, std::span<const Evidence> inputs) {
  Evidence e = base_evidence(schema);
  for (Evidence in : inputs) e = std::max(e, in);
  return e;
}

}  // namespace quintrel::record
