#include "record/evidence.h"

#include <algorithm>

#include "record/schema.h"

namespace quintrel::record {

Evidence base_evidence(const base::Id& schema) {
  auto known = find_schema(schema);
  return known ? schema_info(*known).base_evidence : Evidence::Assumed;
}

Evidence derive_evidence(const base::Id& schema, std::span<const Evidence> inputs) {
  Evidence e = base_evidence(schema);
  for (Evidence in : inputs) e = std::max(e, in);
  return e;
}

}  // namespace quintrel::record
