#include "log_fixture.h"

#include <algorithm>
#include <map>

#include "base/schema.h"
#include "record/evidence.h"
#include "record/refs.h"
#include "record/schema.h"
#include "state/incremental.h"
#include "verify/record_checks.h"

namespace quintrel::fixture {

Id schema(std::string_view name) { return base::schema_id(name); }

verify::VerifierRules test_rules() {
  auto rules = verify::VerifierRules::create(base::sha256("test space"), 0);
  for (auto [name, type] : {std::pair{"user", AuthorType::User}, {"provider", AuthorType::Provider},
                            {"system", AuthorType::System}, {"executor", AuthorType::Executor},
                            {"verifier", AuthorType::Verifier}})
    rules.author_roles[name] = type;
  return rules;
}

const record::Ed25519Signer& signer(uint8_t seed) {
  static std::map<uint8_t, record::Ed25519Signer> signers;
  auto it = signers.find(seed);
  if (it == signers.end()) it = signers.emplace(seed, record::Ed25519Signer::from_secret_bytes(id_of(seed))).first;
  return it->second;
}

Record make_verdict(const Record& subject, Judgement judgement) {
  Record v{{}, subject.space, subject.thread, subject.time + 1, {"verifier", AuthorType::Verifier, std::nullopt},
           Kind::Verdict, schema("quintrel.verdict.v1"), base::to_bytes(json(record::verdict_for(judgement))),
           {cause(subject.id)}, Evidence::Deterministic};
  Log::seal(v);
  return v;
}

Record Log::stamp(const Draft& d) const {
  Record r;
  r.space = r.thread = d.space.value_or(rules.space);
  r.time = records_.size() + 1;
  auto role = rules.author_roles.find(d.author);
  r.author = {d.author, d.type.value_or(role != rules.author_roles.end() ? role->second : AuthorType::User), {}};
  r.kind = d.kind;
  auto first = std::ranges::find_if(record::schemas(), [&](const auto& s) { return s.kind == d.kind; });
  r.schema = d.schema.value_or(record::schema_id(first->schema));
  r.data = base::to_bytes(d.data);
  r.refs = d.refs;
  record::sort_and_dedup_refs(r.refs);
  std::vector<Evidence> inputs;
  verify::Prior prior(records_, index_);
  for (const auto& ref : r.refs)
    if (const Record* target = prior.find(ref.target))
      if (auto e = state_.ref_evidence(ref, *target)) inputs.push_back(*e);
  r.evidence = d.evidence.value_or(record::derive_evidence(r.schema, inputs));
  seal(r, d.signer);
  return r;
}

void Log::seal(Record& r, const record::Ed25519Signer* signer) {
  if (signer) r.author.signature = signer->sign(r).value();
  r.id = r.compute_id().value();
}

Judgement Log::judge(const Record& record) const {
  return verify::check_record(record, verify::Prior(records_, index_), rules, state_);
}

Commit Log::commit(const Draft& draft) {
  const Record record = stamp(draft);
  const Judgement judgement = judge(record);
  for (const Record& r : {record, make_verdict(record, judgement)}) {
    index_.insert(records_.size(), r);
    records_.push_back(r);
  }
  EXPECT_TRUE(state::apply_record(state_, record, record::verdict_for(judgement)).has_value());
  state_.applied_up_to = records_.back().time;
  return {record.id, judgement};
}

Id Log::accept(const Draft& draft) {
  Commit c = commit(draft);
  EXPECT_EQ(c.judgement, std::nullopt) << "while building the log";
  return c.id;
}

}  // namespace quintrel::fixture
