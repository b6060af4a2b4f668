#include "state/build.h"

#include "base/id_table.h"
#include "record/activity_payloads.h"
#include "record/refs.h"
#include "state/incremental.h"

namespace quintrel::state {

std::expected<State, base::JsonError> build_state_unchecked(std::span<const record::Record> records) {
  // The last Verdict for a subject decides how it is applied.
  base::IdTable<record::VerdictData> verdicts;
  verdicts.reserve(records.size() / 2 + 1);
  for (const auto& r : records) {
    if (r.kind != record::Kind::Verdict) continue;
    const auto subject = record::first_ref(r.refs, record::RefType::Cause);
    if (!subject) continue;
    auto v = record::decode_payload<record::VerdictData>(r);
    if (!v) return std::unexpected(std::move(v.error()));
    *verdicts.try_emplace(*subject).first = *v;
  }
  // Subjects are applied in their own order, not in that of their Verdicts.
  State state;
  for (const auto& r : records) {
    if (r.kind == record::Kind::Verdict) continue;
    const record::VerdictData* v = verdicts.find(r.id);
    if (!v) continue;
    if (auto applied = apply_record(state, r, *v); !applied) return std::unexpected(std::move(applied.error()));
  }
  if (!records.empty()) state.applied_up_to = records.back().time;
  return state;
}

}  // namespace quintrel::state
