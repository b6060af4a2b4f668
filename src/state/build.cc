#include "state/build.h"

#include <map>

#include "record/activity_payloads.h"
#include "state/incremental.h"

namespace quintrel::state {

std::expected<State, base::JsonError> build_state_unchecked(std::span<const record::Record> records) {
  // The last Verdict for a subject decides how it is applied.
  std::map<Id, record::VerdictData> verdicts;
  for (const auto& r : records) {
    if (r.kind != record::Kind::Verdict) continue;
    const Id* subject = nullptr;
    for (const auto& ref : r.refs)
      if (ref.type == record::RefType::Cause) {
        subject = &ref.target;
        break;
      }
    if (!subject) continue;
    auto v = base::from_json<record::VerdictData>(base::as_text(r.data));
    if (!v) return std::unexpected(std::move(v.error()));
    verdicts[*subject] = *v;
  }
  // Subjects are applied in their own order, not in that of their Verdicts.
  State state;
  for (const auto& r : records) {
    if (r.kind == record::Kind::Verdict) continue;
    auto v = verdicts.find(r.id);
    if (v == verdicts.end()) continue;
    if (auto applied = apply_record(state, r, v->second); !applied) return std::unexpected(std::move(applied.error()));
  }
  if (!records.empty()) state.applied_up_to = records.back().time;
  return state;
}

}  // namespace quintrel::state
