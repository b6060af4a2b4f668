// The single writer of one log directory. Opening creates the directory,
// locks `.lock`, reads `records.log` with its torn tail cut (other bytes that
// are not a frame refuse the opening), replays it under the rules, completes
// a commit interrupted between its record and its Verdict, and removes a
// stale intent. Committing judges a record, appends it
// with its Verdict under a commit intent, and folds it into the state.
//
// The directory holds `records.log` (the frames), `.lock` (empty, locked
// while a writer is open) and, during a commit, `.intent`.
//
// The writer keeps every record in memory, in log order, with the derived
// State its replay and its commits produce. A caller that hands that same
// State back to commit() is checked in constant time; any other State is
// compared with it (never rebuilt from the log).
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "base/file_system.h"
#include "log/error.h"
#include "log/frame.h"
#include "record/activity_payloads.h"
#include "record/record.h"
#include "record/sign.h"
#include "state/state.h"
#include "verify/prior.h"
#include "verify/rules.h"

namespace quintrel::log {

// The size limit of records.log for every writer the system opens.
inline constexpr uint64_t kMaxLogBytes = 64 * 1024 * 1024;

// A record before the writer gives it its time, evidence class, signature
// and id. Refs may come in any order and repeat.
struct RecordInput {
  record::Author author;  // no signature: the writer signs
  base::Bytes data;       // the payload's canonical JSON
  std::vector<record::Ref> refs;
  Id space{};
  Id thread{};
  Id schema{};
  record::Kind kind = record::Kind::Request;
};

struct CommitOutcome {
  Id id{};
  bool accepted = false;
  std::optional<record::ReasonCode> reason;  // the rejection's reason
  bool operator==(const CommitOutcome&) const = default;
};

// The Verdict record of `judged` at `time`, by the "verifier".
std::expected<Record, LogError> materialize_verdict(const Record& judged, uint64_t time,
                                                    const record::VerdictData& verdict);

class LogWriter {
 public:
  static std::expected<LogWriter, LogError> open(const std::string& dir, const verify::VerifierRules& rules);
  // `fs` must outlive the writer.
  static std::expected<LogWriter, LogError> open_with_max_bytes(const std::string& dir,
                                                                const verify::VerifierRules& rules,
                                                                uint64_t max_bytes,
                                                                base::FileSystem& fs = base::posix_file_system());

  LogWriter(LogWriter&&) = default;
  LogWriter& operator=(LogWriter&&) = default;

  // Commits `input` with its Verdict and brings `state` up to date. A record
  // the rules reject is committed all the same and reported in the outcome.
  // Refused with nothing written: Poisoned, RulesMismatch (rules whose hash
  // differs from the opening rules'), StateMismatch (a state other than the
  // one this writer's commits produce), TimeExhausted, FrameTooLarge,
  // LogTooLarge. A failure once the first intent is written poisons the
  // writer: drop it and reopen the directory, which completes or cuts the
  // interrupted commit.
  std::expected<CommitOutcome, LogError> commit(RecordInput input, const verify::VerifierRules& rules,
                                                state::State& state);
  // The same, signed by the author's key.
  std::expected<CommitOutcome, LogError> commit_signed(RecordInput input, const verify::VerifierRules& rules,
                                                       state::State& state, const record::Ed25519Signer& signer);

  // The record `input` would be committed as next, unjudged: evidence
  // derived against `state`, refs sorted, time stamped, signed, id computed.
  std::expected<Record, LogError> stamp(RecordInput input, const state::State& state,
                                        const record::Ed25519Signer* signer) const;

  // Every record, in log order.
  const std::vector<Record>& records() const { return log_.records(); }
  // The first record in log order with this id, as the verifier sees the log.
  verify::Prior prior() const { return verify::Prior(log_.records(), prior_); }
  std::optional<size_t> first_position(const Id& id) const { return prior_.position(id); }
  // The index behind prior(): every record's position and the payload facts
  // the checks have read.
  const verify::PriorIndex& prior_index() const { return prior_; }

  // The derived state of the log. Hand it back to commit(); change it only
  // by committing.
  state::State& state() { return state_; }
  const state::State& state() const { return state_; }

  uint64_t next_time() const { return next_time_; }
  const Id& rules_hash() const { return rules_hash_; }
  bool poisoned() const { return poisoned_; }

 private:
  LogWriter(base::FileSystem& fs, base::File lock, FileLog log)
      : fs_(&fs), lock_(std::move(lock)), log_(std::move(log)) {}

  std::expected<CommitOutcome, LogError> commit_inner(RecordInput input, const verify::VerifierRules& rules,
                                                      state::State& state, const record::Ed25519Signer* signer);
  // Appends to the file log and to the verifier's index together.
  std::expected<void, LogError> append(Record record, const EncodedFrame& frame);
  std::string intent_path() const { return base::join_path(log_.dir(), ".intent"); }

  base::FileSystem* fs_;
  base::File lock_;  // released last, once records.log is closed
  FileLog log_;
  verify::PriorIndex prior_;
  state::State state_;
  uint64_t next_time_ = 1;
  Id rules_hash_{};
  bool poisoned_ = false;
};

}  // namespace quintrel::log
