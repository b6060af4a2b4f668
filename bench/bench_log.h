// A log grown the way the log writer grows it, for the benchmarks: each
// record stamped (sorted refs, next time, derived evidence, signature for an
// author given a key, id), judged
// against the records before it, followed by its Verdict and folded into the
// state, with the index kept between commits.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "base/schema.h"
#include "record/activity_payloads.h"
#include "record/refs.h"
#include "record/sign.h"
#include "state/incremental.h"
#include "verify/record_checks.h"

namespace quintrel::bench {

using record::Kind;
using record::Record;
using record::Ref;
using record::RefType;

class BenchLog {
 public:
  BenchLog(std::string_view space, std::map<std::string, record::AuthorType> roles)
      : rules_(verify::VerifierRules::create(base::sha256(space), 0).with_baseline_thresholds()) {
    rules_.author_roles = std::move(roles);
  }

  // Signs the author's records from now on, and pins its key in the rules.
  void sign_as(const std::string& author, record::Ed25519Signer signer) {
    rules_.author_keys[author].insert(signer.public_key());
    signers_.insert_or_assign(author, std::move(signer));
  }

  template <class T>
  Record stamp(Kind kind, const std::string& author, const char* schema, const T& payload,
               std::vector<Ref> refs) const {
    Record r;
    r.space = r.thread = rules_.space;
    r.time = records_.size() + 1;
    r.author = {author, rules_.author_roles.at(author), std::nullopt};
    r.kind = kind;
    r.schema = base::schema_id(schema);
    r.data = base::to_bytes(base::canonical_json(payload).value());
    record::sort_and_dedup_refs(refs);
    r.refs = std::move(refs);
    std::vector<record::Evidence> inputs;
    const verify::Prior prior(records_, index_);
    for (const auto& ref : r.refs)
      if (const Record* target = prior.find(ref.target))
        if (auto e = state_.ref_evidence(ref, *target)) inputs.push_back(*e);
    r.evidence = record::derive_evidence(r.schema, inputs);
    if (auto s = signers_.find(author); s != signers_.end()) r.author.signature = s->second.sign(r).value();
    r.id = r.compute_id().value();
    return r;
  }

  record::Judgement judge(const Record& r) const {
    return verify::check_record(r, verify::Prior(records_, index_), rules_, state_);
  }

  // Commits a record with its Verdict; returns its id.
  template <class T>
  base::Id add(Kind kind, const std::string& author, const char* schema, const T& payload, std::vector<Ref> refs) {
    Record r = stamp(kind, author, schema, payload, std::move(refs));
    const record::VerdictData verdict = record::verdict_for(judge(r));
    if (verdict.result == record::VerdictResult::Reject) ++rejected_;
    Record v{{}, r.space, r.thread, r.time + 1, {"verifier", record::AuthorType::Verifier, std::nullopt},
             Kind::Verdict, base::schema_id("quintrel.verdict.v1"), base::to_bytes(*base::canonical_json(verdict)),
             {{RefType::Cause, r.id}}, record::Evidence::Deterministic};
    v.id = v.compute_id().value();
    (void)state::apply_record(state_, r, verdict);
    const base::Id id = r.id;
    for (Record* x : {&r, &v}) {
      index_.insert(records_.size(), *x);
      records_.push_back(std::move(*x));
    }
    state_.applied_up_to = records_.size();
    return id;
  }

  size_t size() const { return records_.size(); }
  size_t rejected() const { return rejected_; }
  const verify::VerifierRules& rules() const { return rules_; }
  const std::vector<Record>& records() const { return records_; }
  std::vector<Record> take_records() { return std::move(records_); }

 private:
  verify::VerifierRules rules_;
  std::map<std::string, record::Ed25519Signer> signers_;
  std::vector<Record> records_;
  verify::PriorIndex index_;
  state::State state_;
  size_t rejected_ = 0;
};

}  // namespace quintrel::bench
