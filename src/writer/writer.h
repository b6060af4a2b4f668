// The writing side of the ledger as a program uses it: a log writer with its
// own rules and signers, the verbs that check their arguments, build a kind's
// payload and commit it, and the export of the log as a receipt.
//
// Every verb follows one road: resolve the author, the verb's own checks (the
// first failure refuses, nothing is written), the payload encoded and read
// back, then the commit. A record the verifier rejects is still committed and
// reported in the outcome; only a refusal is an error.
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/codec.h"
#include "log/log_writer.h"
#include "queries/queries.h"
#include "record/evolution_payloads.h"
#include "record/record.h"
#include "record/sign.h"
#include "verify/rules.h"

namespace quintrel::writer {

// A refusal, with nothing written: what kind of failure it is (a bad argument
// or precondition, or a failure of the log or of serialising, or an argument
// of the wrong type found only when its turn came) and its text.
struct Refusal {
  enum class Kind : uint8_t { Value, Runtime, Type };
  Kind kind = Kind::Value;
  std::string message;

  static Refusal value(std::string message) { return {Kind::Value, std::move(message)}; }
  static Refusal runtime(std::string message) { return {Kind::Runtime, std::move(message)}; }
  static Refusal type(std::string message) { return {Kind::Type, std::move(message)}; }
  bool operator==(const Refusal&) const = default;
};

template <class T>
using Result = std::expected<T, Refusal>;

// A record id given as text: exactly 64 lowercase hex characters; otherwise
// "invalid record id {:?}".
Result<base::Id> parse_id(std::string_view text);
// A named 32-byte hash given as text; otherwise
// "invalid {name} {:?} (expected 64 hex chars)".
Result<base::Id> parse_hash(std::string_view name, std::string_view text);
// Record ids parsed in the given order; the first malformed one refuses.
Result<std::vector<base::Id>> parse_ids(std::span<const std::string> texts);

// An author's 32-byte Ed25519 secret seed in the form the caller gave it.
struct SignerKey {
  enum class Form : uint8_t { Text, Bytes, Other };
  Form form = Form::Other;
  std::string text;            // Text: hex, already trimmed of white space
  std::vector<uint8_t> bytes;  // Bytes: every element 0 to 255
};
using SignerKeys = std::map<std::string, SignerKey>;  // by author id, bytewise

struct RequestArgs {
  std::string author;
  std::string objective;
};

struct RetractArgs {
  std::string author;
  std::string target;  // a record id as text
  std::string reason;
};

struct RequirementArgs {
  std::string author;
  std::string request;  // a record id as text
  std::string key;
  std::string description;
  bool required = true;
  std::optional<std::string> expected_evidence;
  std::optional<std::string> provenance;  // "user_authored", "user-authored" or "derived"
};

// One entry of an `artifacts` argument as the caller gave it. A dict is read
// field by field when the call's arguments are converted; what its fields
// hold is judged only in the entry's turn, after the checks before it.
struct ArtifactField {
  enum class State : uint8_t { Absent, Text, NotText };  // Absent: missing or None
  State state = State::Absent;
  std::string text;  // Text: the value; NotText: the type error to raise
};
struct ArtifactEntry {
  enum class Form : uint8_t { Text, Dict, Other };
  Form form = Form::Other;
  std::string text;                    // Text: "scheme:digest[:name]"
  ArtifactField scheme, digest, name;  // Dict
};
using ArtifactEntries = std::vector<ArtifactEntry>;

// The artifact references of the entries, each checked in the given order
// (the first bad entry refuses), sorted and without duplicates.
Result<std::vector<record::ArtifactRef>> parse_artifacts(const ArtifactEntries& entries);

struct CandidateArgs {
  std::string author;
  std::string git_tree;
  std::optional<std::string> git_commit;
  std::string algo = "sha1";
  std::optional<std::string> note;
  std::optional<std::string> continues;  // record ids as text
  std::optional<std::string> parent;
  std::optional<std::vector<std::string>> derives_from;
  std::optional<std::string> upgrades;
  std::optional<std::string> manifest;  // a directory path
  std::optional<ArtifactEntries> artifacts;
};

struct EvaluateArgs {
  std::string author;
  std::string candidate;  // a record id as text
  std::string criterion;
  bool passed = false;
  bool failed = false;
  std::optional<int64_t> score;
  std::optional<uint8_t> scale;
  std::optional<std::string> procedure;
  std::optional<std::vector<std::string>> uses;
  bool blocked = false;
  bool insufficient = false;
  bool stale = false;
  bool not_run = false;
  std::optional<std::string> evaluator;
  std::optional<std::string> evaluator_version;
  std::optional<std::string> procedure_hash;
  std::optional<std::string> input_hash;
  std::optional<std::string> basis;  // "recomputed" or "declared"
  std::optional<std::vector<std::string>> requirements;
  std::optional<ArtifactEntries> artifacts;
  bool attested = false;
};

struct SelectArgs {
  std::string author;
  std::string objective;
  std::vector<std::string> consider;  // record ids as text
  std::optional<std::vector<std::string>> choose;
  std::optional<std::vector<std::string>> uses_eval;
  bool none = false;
  std::optional<std::string> replaces;
  std::optional<std::string> rationale;
};

// The query index of a log writer's records under `rules`. It answers as a
// receipt of the same records would: from the state the log writer keeps
// while that state holds every record, through a replay otherwise (after a
// commit that failed midway, a Candidate without its Verdict, say).
std::expected<queries::Queries, queries::QueryError> query_index(const log::LogWriter& log,
                                                                 const verify::VerifierRules& rules);

class Writer {
 public:
  // The rules from JSON ("invalid rules JSON: {}"), each signer in order of
  // its name (registered in the rules' author_roles, then its key's form),
  // then the log directory opened ("cannot open log: {}"). The rules and the
  // signer keys are checked before any file is touched.
  static Result<Writer> open(const std::string& dir, std::string_view rules_json, const SignerKeys& signers);

  Writer(Writer&&) = default;
  Writer& operator=(Writer&&) = default;

  Result<log::CommitOutcome> request(RequestArgs args);
  Result<log::CommitOutcome> retract(RetractArgs args);
  Result<log::CommitOutcome> requirement(RequirementArgs args);
  Result<log::CommitOutcome> candidate(CandidateArgs args);
  Result<log::CommitOutcome> evaluate(EvaluateArgs args);
  Result<log::CommitOutcome> select(SelectArgs args);

  // The whole log as canonical receipt bytes declaring `profiles` in order.
  Result<std::string> receipt(std::span<const std::string> profiles) const;

  // Every record in log order, Verdicts included.
  const std::vector<record::Record>& records() const { return log_.records(); }
  // The last record's id; 32 zero bytes for an empty log.
  base::Id head() const;
  const verify::VerifierRules& rules() const { return rules_; }
  const log::LogWriter& log() const { return log_; }
  // The query index of the log as it stands: built by the first query after
  // opening or after a commit, then reused.
  const std::expected<queries::Queries, queries::QueryError>& queries() const {
    return queries_.get(records(), [&] { return query_index(log_, rules_); });
  }

  // --- the commit road, shared by every verb ---------------------------------

  // The author registered under exactly this id, unsigned; otherwise
  // "author {:?} is not registered in the rules' author_roles".
  Result<record::Author> resolve_author(std::string_view author) const;

  // The payload's canonical bytes, read back through its validating reader.
  // An encoding failure refuses with the encoder's text, a reader's refusal
  // with "invalid payload: {}".
  template <class P>
  static Result<std::string> checked_encode(const P& payload) {
    auto bytes = base::canonical_json(payload);
    if (!bytes) return std::unexpected(Refusal::value(bytes.error().to_string()));
    if (auto read = base::from_json<P>(*bytes); !read)
      return std::unexpected(Refusal::value("invalid payload: " + read.error().to_string()));
    return std::move(*bytes);
  }

  // Commits in the rules' space and thread, signed when the author has a
  // signer, against the log writer's own state; a failure of the log writer
  // refuses with "commit failed: {}".
  Result<log::CommitOutcome> do_commit(record::Author author, const base::Id& schema, std::string payload,
                                       record::Kind kind, std::vector<record::Ref> refs);

  // The signer registered for exactly this author id, if any.
  const record::Ed25519Signer* signer(std::string_view author) const;
  // The first record in log order with this id, if any.
  const record::Record* find(const base::Id& id) const;

 private:
  using Signers = std::map<std::string, record::Ed25519Signer, std::less<>>;
  Writer(log::LogWriter log, verify::VerifierRules rules, Signers signers)
      : log_(std::move(log)), rules_(std::move(rules)), signers_(std::move(signers)) {}

  log::LogWriter log_;
  verify::VerifierRules rules_;
  Signers signers_;
  queries::Cache queries_;  // dropped by every commit
};

}  // namespace quintrel::writer
