// Test records two ways. Log commits through a log writer over files in
// memory: refs sorted, times 1, 2, 3..., evidence derived, ids computed, each
// record judged against the log so far, followed by its Verdict and folded
// into the state. raw_record builds one record directly: refs as given, an id
// chosen by the test.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/mem_file_system.h"
#include "log/log_writer.h"
#include "record/activity_payloads.h"
#include "record/record.h"
#include "record/sign.h"
#include "state/state.h"
#include "verify/prior.h"
#include "verify/rules.h"

namespace quintrel::fixture {

using base::Id;
using record::AuthorType;
using record::Evidence;
using record::Judgement;
using record::Kind;
using record::ReasonCode;
using record::Record;
using record::Ref;

template <class T>
std::string json(const T& payload) {
  return base::canonical_json(payload).value();
}
inline Ref cause(const Id& t) { return {record::RefType::Cause, t}; }
inline Ref use(const Id& t) { return {record::RefType::Use, t}; }
inline Ref require(const Id& t) { return {record::RefType::Require, t}; }
inline Ref replace(const Id& t) { return {record::RefType::Replace, t}; }

// Direct records: every byte of the id is `id`; author "alice", a User.
inline Id id_of(uint8_t byte) {
  Id id;
  id.fill(byte);
  return id;
}
inline Ref cause(uint8_t t) { return cause(id_of(t)); }
inline Ref use(uint8_t t) { return use(id_of(t)); }
inline Ref require(uint8_t t) { return require(id_of(t)); }
inline Ref replace(uint8_t t) { return replace(id_of(t)); }
inline Record raw_record(uint8_t id, Kind kind, std::string data, std::vector<Ref> refs = {}) {
  return Record{id_of(id), {}, {}, 0, {"alice", AuthorType::User, std::nullopt}, kind, {}, base::to_bytes(data), refs};
}
template <class T>
Record make_record(uint8_t id, Kind kind, const T& payload, std::vector<Ref> refs = {}) {
  return raw_record(id, kind, json(payload), std::move(refs));
}
inline const record::VerdictData kAccept{record::VerdictResult::Accept, std::nullopt};
inline const record::VerdictData kReject{record::VerdictResult::Reject, ReasonCode::InvalidPayload};

// A record before the log stamps it. Left unset: the kind's first schema, the
// author's registered type, the rules' space, the space as the thread, and the
// derived evidence class.
struct Draft {
  Kind kind = Kind::Request;
  std::string author;
  std::string data;
  std::vector<Ref> refs;
  std::optional<Id> schema;
  std::optional<AuthorType> type;
  std::optional<Id> space;
  std::optional<Evidence> evidence;
  const record::Ed25519Signer* signer = nullptr;
  std::optional<Id> thread;
};
template <class T>
Draft draft(Kind kind, std::string author, const T& payload, std::vector<Ref> refs = {}) {
  return Draft{kind, std::move(author), json(payload), std::move(refs)};
}

Id schema(std::string_view name);
// Rules over sha256("test space") with one author per type, named after it:
// "user", "provider", "system", "executor", "verifier".
verify::VerifierRules test_rules();
const record::Ed25519Signer& signer(uint8_t seed);
// The Verdict appended after `subject`, at the subject's time + 1.
Record make_verdict(const Record& subject, Judgement judgement);

struct Commit {
  Id id;
  Judgement judgement;
};

// The writer's directory is "/log" in the log's own files; the size limit is
// lifted. Changing `rules` reopens the writer under them at the next commit,
// which replays the log so far under the new rules.
class Log {
 public:
  verify::VerifierRules rules = test_rules();

  Log();

  // The record this log would append next, unjudged.
  Record stamp(const Draft& draft) const;
  // Re-signs (given a signer) and recomputes the id after an edit.
  static void seal(Record& record, const record::Ed25519Signer* signer = nullptr);

  Judgement judge(const Record& record) const;
  Judgement judge(const Draft& draft) const { return judge(stamp(draft)); }
  // Commits through the writer (a draft's evidence cannot be chosen here).
  Commit commit(const Draft& draft);
  // Commits and expects acceptance.
  Id accept(const Draft& draft);

  const std::vector<Record>& records() const { return writer_->records(); }
  const state::State& state() const { return writer_->state(); }
  log::LogWriter& writer() { return *writer_; }
  base::MemFileSystem& files() { return *files_; }

  // What a commit hands the writer for `draft`.
  log::RecordInput input(const Draft& draft) const;

 private:
  void open();

  std::unique_ptr<base::MemFileSystem> files_;
  std::optional<log::LogWriter> writer_;
  verify::VerifierRules opened_rules_;
};

}  // namespace quintrel::fixture

namespace quintrel::record {
inline void PrintTo(ReasonCode code, std::ostream* os) {
  *os << base::EnumNames<ReasonCode>::names[static_cast<size_t>(code)];
}
}  // namespace quintrel::record
