#include "log_fixture.h"

#include <algorithm>
#include <map>
#include <stdexcept>

#include "base/schema.h"
#include "record/schema.h"
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
  return log::materialize_verdict(subject, subject.time + 1, record::verdict_for(judgement)).value();
}

Log::Log() : files_(std::make_unique<base::MemFileSystem>()) { open(); }

void Log::open() {
  writer_.reset();  // releases the lock
  auto w = log::LogWriter::open_with_max_bytes("/log", rules, UINT64_MAX, *files_);
  if (!w) {
    ADD_FAILURE() << "opening the test log: " << w.error().message();
    throw std::runtime_error(w.error().message());
  }
  writer_.emplace(std::move(*w));
  opened_rules_ = rules;
}

log::RecordInput Log::input(const Draft& d) const {
  log::RecordInput in;
  in.space = d.space.value_or(rules.space);
  in.thread = d.thread.value_or(in.space);
  auto role = rules.author_roles.find(d.author);
  in.author = {d.author, d.type.value_or(role != rules.author_roles.end() ? role->second : AuthorType::User), {}};
  in.kind = d.kind;
  auto first = std::ranges::find_if(record::schemas(), [&](const auto& s) { return s.kind == d.kind; });
  in.schema = d.schema.value_or(record::schema_id(first->schema));
  in.data = base::to_bytes(d.data);
  in.refs = d.refs;
  return in;
}

Record Log::stamp(const Draft& d) const {
  Record r = writer_->stamp(input(d), writer_->state(), d.signer).value();
  if (d.evidence) {
    r.evidence = *d.evidence;
    seal(r, d.signer);
  }
  return r;
}

void Log::seal(Record& r, const record::Ed25519Signer* signer) {
  if (signer) r.author.signature = signer->sign(r).value();
  r.id = r.compute_id().value();
}

Judgement Log::judge(const Record& record) const {
  return verify::check_record(record, writer_->prior(), rules, writer_->state());
}

Commit Log::commit(const Draft& draft) {
  EXPECT_FALSE(draft.evidence) << "a commit derives the evidence class";
  if (!(rules == opened_rules_)) open();
  log::LogWriter& w = *writer_;
  auto out = draft.signer ? w.commit_signed(input(draft), rules, w.state(), *draft.signer)
                          : w.commit(input(draft), rules, w.state());
  if (!out) {
    ADD_FAILURE() << "commit failed: " << out.error().message();
    throw std::runtime_error(out.error().message());
  }
  return {out->id, out->reason};
}

Id Log::accept(const Draft& draft) {
  Commit c = commit(draft);
  EXPECT_EQ(c.judgement, std::nullopt) << "while building the log";
  return c.id;
}

}  // namespace quintrel::fixture
