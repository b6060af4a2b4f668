#include "verify/replay.h"

#include "record/activity_payloads.h"
#include "state/build.h"
#include "state/incremental.h"
#include "verify/prior.h"
#include "verify/record_checks.h"
#include "verify/verdict.h"

namespace quintrel::verify {

using record::ReasonCode;
using record::VerdictResult;

namespace {

// The stored Verdict against the judgement re-derived now: a disagreement
// about a rejection reports the re-derived reason.
std::optional<ReasonCode> disagreement(const record::VerdictData& stored, record::Judgement derived) {
  if (stored.result == VerdictResult::Accept) {
    if (derived) return derived;
    if (stored.reason) return ReasonCode::InvalidPayload;
    return std::nullopt;
  }
  if (!derived) return ReasonCode::InvalidPayload;
  if (stored.reason != derived) return derived;
  return std::nullopt;
}

}  // namespace

namespace {

// Leaves the folded state in `state` and the records' index in `index`; the
// verdict's sets are left empty.
LogVerdict replay(std::span<const Record> records, const VerifierRules& rules, state::State& state,
                  PriorIndex& index) {
  const uint64_t last_time = records.empty() ? 0 : records.back().time;
  auto failed = [&](ReasonCode code, uint64_t checked) {
    LogVerdict v;
    v.checked_records = checked;
    v.last_time = last_time;
    v.failure = code;
    return v;
  };

  // The whole input first: times run 1, 2, 3, ... and every id is right.
  for (size_t i = 0; i < records.size(); ++i)
    if (records[i].time != i + 1) return failed(ReasonCode::InvalidPayload, 0);
  for (const Record& r : records) {
    auto id = r.compute_id();
    if (!id || *id != r.id) return failed(ReasonCode::InvalidPayload, 0);
  }

  state.accepted_records.reserve(records.size() / 2 + 1);
  index.reserve(records.size());
  const Prior prior(records, index);
  uint64_t checked = 0;
  // Verdicts carry a few payloads over and over: the last one read is kept,
  // so that one repeating it is not read again.
  std::optional<record::Payload> last_verdict;
  for (size_t p = 0; p < records.size(); p += 2, checked += 2) {
    // Ids were all checked above. Each payload is read once, for every check
    // and the fold alike.
    const Record& subject = records[p];
    const record::Payload subject_payload(subject);
    if (subject.kind == record::Kind::Verdict) {
      // Every subject seen so far has its Verdict, so this one cannot stand.
      return failed(check_verdict_record(subject_payload, prior, rules, IdCheck::kChecked)
                        .value_or(ReasonCode::InvalidPayload),
                    checked);
    }
    if (p + 1 >= records.size() || records[p + 1].kind != record::Kind::Verdict)
      return failed(ReasonCode::InvalidPayload, checked);
    const Record& verdict = records[p + 1];
    record::Payload verdict_payload(verdict);
    const bool repeated = last_verdict && last_verdict->record().data == verdict.data;
    if (repeated) verdict_payload.adopt(*last_verdict);
    index.insert(p, subject);
    if (auto code = check_verdict_record(verdict_payload, prior, rules, IdCheck::kChecked))
      return failed(*code, checked);
    if (verdict.refs.front().target != subject.id) return failed(ReasonCode::InvalidPayload, checked);
    const record::Judgement derived = check_record(subject_payload, prior, rules, state, IdCheck::kChecked);
    const record::VerdictData* stored = verdict_payload.as<record::VerdictData>();
    if (!stored) return failed(ReasonCode::InvalidPayload, checked);
    if (!repeated) last_verdict.emplace(verdict).adopt(verdict_payload);
    if (auto code = disagreement(*stored, derived)) return failed(*code, checked);
    if (!state::apply_record(state, subject_payload, *stored)) return failed(ReasonCode::InvalidPayload, checked);
    if (!derived) index.keep_facts(p, subject_payload);
    state.applied_up_to = verdict.time;
    index.insert(p + 1, verdict);
  }

  LogVerdict v;
  v.checked_records = checked;
  v.last_time = last_time;
  v.standing = derive_standing(records, state, &index);
  return v;
}

}  // namespace

LogVerdict verify_log(std::span<const Record> records, const VerifierRules& rules) {
  state::State state;
  PriorIndex index;
  LogVerdict v = replay(records, rules, state, index);
  if (v.failure) return v;
  v.retracted = std::move(state.retracted_records);
  v.tainted = std::move(state.tainted_records);
  return v;
}

Replay replay_log(std::span<const Record> records, const VerifierRules& rules) {
  Replay out;
  out.verdict = replay(records, rules, out.state, out.index);
  if (out.verdict.failure) {
    out.state = {};
    out.index = {};
  } else {
    out.verdict.retracted = out.state.retracted_records;
    out.verdict.tainted = out.state.tainted_records;
  }
  return out;
}

std::expected<state::State, LogVerdict> verify_and_build_state(std::span<const Record> records,
                                                               const VerifierRules& rules) {
  Replay replayed = replay_log(records, rules);
  if (replayed.verdict.failure) return std::unexpected(std::move(replayed.verdict));
  return std::move(replayed.state);
}

}  // namespace quintrel::verify
