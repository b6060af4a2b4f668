#include "state/state.h"

namespace quintrel::state {

std::optional<record::Evidence> State::ref_evidence(const record::Ref& ref, const record::Record& target) const {
  if (ref.type == record::RefType::Cause || ref.type == record::RefType::Replace) return std::nullopt;
  if (!accepted_records.contains(target.id) || retracted_records.contains(target.id) ||
      tainted_records.contains(target.id))
    return record::Evidence::Assumed;
  return target.evidence;
}

}  // namespace quintrel::state
