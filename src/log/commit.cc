// Committing a record with its Verdict under a commit intent.
#include <limits>

#include "log/intent.h"
#include "log/log_writer.h"
#include "record/evidence.h"
#include "record/refs.h"
#include "record/schema.h"
#include "state/incremental.h"
#include "verify/record_checks.h"

namespace quintrel::log {

namespace {

constexpr uint64_t kMaxU64 = std::numeric_limits<uint64_t>::max();

LogError json(base::JsonError e) { return LogError::json_error(std::move(e)); }

}  // namespace

std::expected<Record, LogError> materialize_verdict(const Record& judged, uint64_t time,
                                                    const record::VerdictData& verdict) {
  auto data = base::canonical_json(verdict);
  if (!data) return std::unexpected(json(std::move(data.error())));
  Record v;
  v.space = judged.space;
  v.thread = judged.thread;
  v.time = time;
  v.author = {"verifier", record::AuthorType::Verifier, std::nullopt};
  v.kind = record::Kind::Verdict;
  v.schema = record::schema_id(record::Schema::Verdict);
  v.data = base::to_bytes(*data);
  v.refs = {{record::RefType::Cause, judged.id}};
  v.evidence = record::Evidence::Deterministic;
  auto id = v.compute_id();
  if (!id) return std::unexpected(json(std::move(id.error())));
  v.id = *id;
  return v;
}

std::expected<Record, LogError> LogWriter::stamp(RecordInput input, const state::State& state,
                                                 const record::Ed25519Signer* signer) const {
  // Evidence from the refs as given, before sorting; a ref to a record
  // outside the log adds nothing. The verifier derives the class again from
  // the same refs and state, so the two must agree.
  std::vector<record::Evidence> inputs;
  inputs.reserve(input.refs.size());
  for (const record::Ref& ref : input.refs)
    if (const Record* target = log_.get(ref.target))
      if (auto e = state.ref_evidence(ref, *target)) inputs.push_back(*e);
  const record::Evidence evidence = record::derive_evidence(input.schema, inputs);
  record::sort_and_dedup_refs(input.refs);

  Record r;
  r.space = input.space;
  r.thread = input.thread;
  r.time = next_time_;
  r.author = std::move(input.author);
  r.kind = input.kind;
  r.schema = input.schema;
  r.data = std::move(input.data);
  r.refs = std::move(input.refs);
  r.evidence = evidence;
  if (signer) {
    auto signature = signer->sign(r);
    if (!signature) return std::unexpected(json(std::move(signature.error())));
    r.author.signature = std::move(*signature);
  }
  auto id = r.compute_id();
  if (!id) return std::unexpected(json(std::move(id.error())));
  r.id = *id;
  return r;
}

std::expected<CommitOutcome, LogError> LogWriter::commit(RecordInput input, const verify::VerifierRules& rules,
                                                         state::State& state) {
  return commit_inner(std::move(input), rules, state, nullptr);
}

std::expected<CommitOutcome, LogError> LogWriter::commit_signed(RecordInput input,
                                                                const verify::VerifierRules& rules,
                                                                state::State& state,
                                                                const record::Ed25519Signer& signer) {
  return commit_inner(std::move(input), rules, state, &signer);
}

std::expected<void, LogError> LogWriter::append(Record record, const EncodedFrame& frame) {
  if (auto ok = log_.append(std::move(record), frame); !ok) return ok;
  prior_.insert(log_.records().size() - 1, log_.records().back());
  return {};
}

std::expected<CommitOutcome, LogError> LogWriter::commit_inner(RecordInput input, const verify::VerifierRules& rules,
                                                               state::State& state,
                                                               const record::Ed25519Signer* signer) {
  using Kind = LogError::Kind;
  if (poisoned_) return std::unexpected(LogError::of(Kind::Poisoned));
  auto hash = verify::rules_hash(rules);
  if (!hash) return std::unexpected(json(std::move(hash.error())));
  if (*hash != rules_hash_) return std::unexpected(LogError::of(Kind::RulesMismatch));
  // The writer's own state is the state of the log by construction; any
  // other must equal it.
  const bool own_state = &state == &state_;
  if (!own_state && state != state_) return std::unexpected(LogError::of(Kind::StateMismatch));
  // Time t and its Verdict's t + 1 must leave room for the next t + 2.
  if (next_time_ >= kMaxU64 - 1) return std::unexpected(LogError::of(Kind::TimeExhausted));

  const uint64_t t = next_time_;
  auto record = stamp(std::move(input), state, signer);
  if (!record) return std::unexpected(std::move(record.error()));
  const record::VerdictData verdict = verify::verify_record(*record, log_.records(), prior_, rules, state);
  auto verdict_record = materialize_verdict(*record, t + 1, verdict);
  if (!verdict_record) return std::unexpected(std::move(verdict_record.error()));
  const Record* both[] = {&*record, &*verdict_record};
  auto frames = log_.ensure_capacity_for(both);
  if (!frames) return std::unexpected(std::move(frames.error()));

  const Id id = record->id;
  const std::string intent = intent_path();
  if (auto ok = CommitIntent{id, false}.write_to_file(*fs_, intent); !ok) return std::unexpected(ok.error());
  // From here a failure may leave the record's frame in the file: only a
  // reopening can tell, so the writer refuses every further commit.
  poisoned_ = true;
  if (auto ok = append(std::move(*record), (*frames)[0]); !ok) return std::unexpected(ok.error());
  if (auto ok = CommitIntent{id, true}.write_to_file(*fs_, intent); !ok) return std::unexpected(ok.error());
  if (auto ok = append(std::move(*verdict_record), (*frames)[1]); !ok) return std::unexpected(ok.error());
  if (auto ok = CommitIntent::clear_file(*fs_, intent); !ok) return std::unexpected(ok.error());

  const Record* committed = log_.get(id);
  if (!committed) return std::unexpected(LogError::of(Kind::CorruptIntent));
  if (auto ok = state::apply_record(state, *committed, verdict); !ok) return std::unexpected(json(ok.error()));
  state.applied_up_to = t + 1;
  if (!own_state) {
    if (auto ok = state::apply_record(state_, *committed, verdict); !ok) return std::unexpected(json(ok.error()));
    state_.applied_up_to = t + 1;
  }
  next_time_ = t + 2;
  poisoned_ = false;
  return CommitOutcome{id, verdict.result == record::VerdictResult::Accept, verdict.reason};
}

}  // namespace quintrel::log
