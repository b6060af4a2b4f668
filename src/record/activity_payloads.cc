#include "record/activity_payloads.h"

#include "base/hash.h"

namespace quintrel::record {

std::expected<base::Id, base::JsonError> action_approval_subject_hash(const std::string& author_id,
                                                                      const ActionData& action) {
  // The two-element array [author_id, action], written in place: the same
  // bytes the tuple codec gives, without copying the action's params.
  std::string bytes;
  base::JsonOut out(base::JsonOut::Mode::kCanonical, bytes);
  out.raw('[');
  base::Codec<std::string>::write(out, author_id);
  out.raw(',');
  base::Codec<ActionData>::write(out, action);
  out.raw(']');
  if (out.failed()) return std::unexpected(base::JsonError{out.error(), 0, 0});
  return base::sha256(bytes);
}

void UsageOutcomeCounts::add(UsageOutcome outcome) {
  switch (outcome) {
    case UsageOutcome::Done: ++done; break;
    case UsageOutcome::NotDone: ++not_done; break;
    case UsageOutcome::NoChange: ++no_change; break;
  }
}

VerdictData verdict_for(Judgement judgement) {
  if (!judgement) return VerdictData{VerdictResult::Accept, std::nullopt};
  return VerdictData{VerdictResult::Reject, judgement};
}

}  // namespace quintrel::record
