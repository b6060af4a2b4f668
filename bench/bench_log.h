// A log grown through the log writer, over files in memory and without a
// size limit, for the benchmarks. An author given a key signs its records.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/hash.h"
#include "base/mem_file_system.h"
#include "base/schema.h"
#include "log/log_writer.h"
#include "record/activity_payloads.h"
#include "record/evolution_payloads.h"
#include "record/sign.h"
#include "verify/record_checks.h"

namespace quintrel::bench {

using record::Kind;
using record::Record;
using record::Ref;
using record::RefType;

class BenchLog {
 public:
  BenchLog(std::string_view space, std::map<std::string, record::AuthorType> roles)
      : rules_(verify::VerifierRules::create(base::sha256(space), 0).with_baseline_thresholds()),
        files_(std::make_unique<base::MemFileSystem>()) {
    rules_.author_roles = std::move(roles);
    writer_.emplace(check(log::LogWriter::open_with_max_bytes("/log", rules_, UINT64_MAX, *files_)));
  }

  template <class T>
  log::RecordInput input(Kind kind, const std::string& author, const char* schema, const T& payload,
                         std::vector<Ref> refs) const {
    return {{author, rules_.author_roles.at(author), std::nullopt},
            base::to_bytes(base::canonical_json(payload).value()),
            std::move(refs),
            rules_.space,
            rules_.space,
            base::schema_id(schema),
            kind};
  }

  // Signs the author's records from now on and pins its key in the rules;
  // only before the first commit, since the writer's rules cannot change.
  void sign_as(const std::string& author, record::Ed25519Signer signer) {
    if (size() != 0) {
      std::fprintf(stderr, "sign_as after the first commit\n");
      std::abort();
    }
    rules_.author_keys[author].insert(signer.public_key());
    signers_.insert_or_assign(author, std::move(signer));
    writer_.reset();
    writer_.emplace(check(log::LogWriter::open_with_max_bytes("/log", rules_, UINT64_MAX, *files_)));
  }

  template <class T>
  Record stamp(Kind kind, const std::string& author, const char* schema, const T& payload,
               std::vector<Ref> refs) const {
    return check(writer_->stamp(input(kind, author, schema, payload, std::move(refs)), writer_->state(), signer(author)));
  }

  record::Judgement judge(const Record& r) const {
    return verify::check_record(r, writer_->prior(), rules_, writer_->state());
  }

  // Commits a record with its Verdict; returns its id.
  template <class T>
  base::Id add(Kind kind, const std::string& author, const char* schema, const T& payload, std::vector<Ref> refs) {
    log::RecordInput in = input(kind, author, schema, payload, std::move(refs));
    const record::Ed25519Signer* key = signer(author);
    auto out = check(key ? writer_->commit_signed(std::move(in), rules_, writer_->state(), *key)
                         : writer_->commit(std::move(in), rules_, writer_->state()));
    if (!out.accepted) ++rejected_;
    for (size_t i = size() - 2; i < size(); ++i) file_size_ += log::encode_record(records()[i])->bytes.size();
    return out.id;
  }

  size_t size() const { return writer_->records().size(); }
  size_t rejected() const { return rejected_; }
  const verify::VerifierRules& rules() const { return rules_; }
  const std::vector<Record>& records() const { return writer_->records(); }
  std::vector<Record> take_records() { return writer_->records(); }
  // The frame file as written, and its size.
  std::string file_bytes() const { return files_->contents("/log/records.log").value(); }
  uint64_t file_size() const { return file_size_; }

 private:
  const record::Ed25519Signer* signer(const std::string& author) const {
    auto s = signers_.find(author);
    return s == signers_.end() ? nullptr : &s->second;
  }

  template <class T>
  static T check(std::expected<T, log::LogError> r) {
    if (!r) {
      std::fprintf(stderr, "building the benchmark log: %s\n", r.error().message().c_str());
      std::abort();
    }
    return std::move(*r);
  }

  verify::VerifierRules rules_;
  std::map<std::string, record::Ed25519Signer> signers_;
  std::unique_ptr<base::MemFileSystem> files_;
  std::optional<log::LogWriter> writer_;
  size_t rejected_ = 0;
  uint64_t file_size_ = 0;
};

// Free text of a realistic length, different for every record.
inline std::string free_text(const char* what, size_t n) {
  std::string s = std::string(what) + " " + std::to_string(n) + ": ";
  while (s.size() < 80) s += base::hex_encode(base::sha256(s)).substr(0, 16) + " ";
  return s;
}

// Cycles of a request by "user", two candidates by "agent" (the first
// continuing the last selection), an evaluation of each and a selection of
// the first, while the frame file stays below `max_bytes`.
inline void grow_cycles(BenchLog& b, uint64_t max_bytes) {
  const base::Id scope = base::sha256("scope");
  std::optional<std::pair<base::Id, base::Id>> last;
  for (size_t cycle = 0; b.file_size() < max_bytes; ++cycle) {
    base::Id request =
        b.add(Kind::Request, "user", "quintrel.request.v1", record::RequestData{free_text("objective", cycle), scope}, {});
    base::Id cands[2], evals[2];
    for (int k = 0; k < 2; ++k) {
      record::CandidateData c;
      c.source.git.tree = base::hex_encode(base::sha256(std::to_string(cycle * 2 + k))).substr(0, 40);
      c.note = free_text("candidate", cycle * 2 + k);
      std::vector<Ref> refs{{RefType::Cause, request}};
      if (k == 0 && last) {
        c.basis = record::CandidateBasis::continuation;
        c.parent = last->second;
        refs = {{RefType::Cause, last->first}};
      }
      cands[k] = b.add(Kind::Candidate, "agent", "quintrel.candidate.v1", c, refs);
    }
    for (int k = 0; k < 2; ++k)
      evals[k] = b.add(Kind::Evaluation, "agent", "quintrel.evaluation.v1",
                       record::EvaluationData{cands[k], "tests", free_text("procedure", cycle), {}},
                       {{RefType::Use, cands[k]}});
    record::SelectionData s{"ship", {cands[0], cands[1]}, record::SelectionOutcome::choose({cands[0]}),
                            free_text("rationale", cycle)};
    last = {b.add(Kind::Selection, "agent", "quintrel.selection.v1", s,
                  {{RefType::Require, cands[0]}, {RefType::Use, evals[0]}, {RefType::Use, evals[1]}}),
            cands[0]};
  }
}

// A root Candidate by "agent" and its Evaluation, then continuations, each
// anchored on a Selection by "user" that chose the one before (considered
// beside the root, whose Evaluation it uses). Returns the Candidates.
inline std::vector<base::Id> grow_chain(BenchLog& b, const std::string& objective, size_t length) {
  record::CandidateData c;
  c.source.git.tree = std::string(40, 'a');
  c.note = objective;
  const base::Id root = b.add(Kind::Candidate, "agent", "quintrel.candidate.v1", c, {});
  const base::Id e = b.add(Kind::Evaluation, "agent", "quintrel.evaluation.v1",
                           record::EvaluationData{root, "tests", std::nullopt, {}}, {{RefType::Use, root}});
  std::vector<base::Id> cands{root};
  c.basis = record::CandidateBasis::continuation;
  while (cands.size() < length) {
    const base::Id parent = cands.back();
    std::vector<base::Id> considered{root};
    if (parent != root) considered.push_back(parent);
    const base::Id s =
        b.add(Kind::Selection, "user", "quintrel.selection.v1",
              record::SelectionData{objective, considered, record::SelectionOutcome::choose({parent}), {}},
              {{RefType::Require, parent}, {RefType::Use, e}});
    c.parent = parent;
    cands.push_back(b.add(Kind::Candidate, "agent", "quintrel.candidate.v1", c, {{RefType::Cause, s}}));
  }
  return cands;
}

// One chain of `long_length` Candidates (objective "long"), then chains of
// 100 (objectives "short 0", "short 1", ...) while a whole one still keeps
// the frame file below `max_bytes`.
struct Chains {
  std::vector<base::Id> long_chain, short_candidates;
  std::vector<std::string> objectives;  // of the short chains
};
inline Chains grow_chains(BenchLog& b, size_t long_length, uint64_t max_bytes) {
  Chains out;
  out.long_chain = grow_chain(b, "long", long_length);
  for (int k = 0;; ++k) {
    const uint64_t before = b.file_size();
    const std::string objective = "short " + std::to_string(k);
    const auto cands = grow_chain(b, objective, 100);
    out.objectives.push_back(objective);
    out.short_candidates.insert(out.short_candidates.end(), cands.begin(), cands.end());
    if (b.file_size() + (b.file_size() - before) > max_bytes) break;
  }
  return out;
}

}  // namespace quintrel::bench
