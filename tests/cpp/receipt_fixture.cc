#include "receipt_fixture.h"

#include <algorithm>

#include "record/evolution_payloads.h"

namespace quintrel::fixture {

std::string digest(const std::string& name) { return base::hex_encode(base::sha256(name)); }
record::ArtifactRef artifact(const std::string& name) { return {"sha256-bytes", digest(name), std::nullopt}; }

World::World(bool pinned) : pinned(pinned), names{{"build", digest("build")}, {"x", digest("x")}} {
  log.rules = test_rules().with_baseline_thresholds();
  log.rules.max_context_records = 200;
  if (!pinned) return;
  log.rules.signature_required_kinds = {Kind::Candidate, Kind::Evaluation, Kind::Selection, Kind::Retraction,
                                        Kind::Requirement};
  for (auto [author, seed] : {std::pair{"user", 1}, {"provider", 2}, {"system", 3}})
    log.rules.author_keys[author] = {signer(seed).public_key()};
}

Commit World::commit(Draft d) {
  if (pinned) d.signer = &signer(d.author == "user" ? 1 : d.author == "provider" ? 2 : 3);
  return log.commit(d);
}

Id World::add(const std::string& name, Draft d) {
  const Commit c = commit(std::move(d));
  EXPECT_EQ(c.judgement, std::nullopt) << name;
  names[name] = profiles::short_id(c.id);
  return c.id;
}

Id World::request(const std::string& name, std::optional<Id> thread) {
  Draft d = draft(Kind::Request, "user", record::RequestData{name, base::sha256("scope")});
  d.thread = thread;
  return add(name, d);
}

Id World::requirement(const Id& request, const std::string& key, bool required) {
  return add(key, draft(Kind::Requirement, "user",
                        record::RequirementData{key, "must hold", required, std::nullopt,
                                                record::Provenance::user_authored},
                        {cause(request)}));
}

Id World::candidate(const std::string& name, const Id& request, std::vector<record::ArtifactRef> artifacts) {
  record::CandidateData c;
  c.source.git.tree = std::string(40, 'a');
  c.note = name;
  if (!artifacts.empty()) c.artifacts = std::move(artifacts);
  return add(name, draft(Kind::Candidate, "provider", c, {cause(request)}));
}

Id World::evaluation(const std::string& name, Eval e) {
  record::EvaluationDataV2 data{e.candidate, "tests"};
  data.outcome = e.outcome;
  data.evaluator.id = "ci";
  if (e.bound) data.evaluator.procedure_hash = data.evaluator.input_hash = base::sha256("procedure");
  data.basis = e.basis;
  data.evidence = e.evidence;
  std::ranges::sort(e.requirements);
  data.requirements = e.requirements;
  std::vector<Ref> refs = {use(e.candidate)};
  for (const Id& q : e.requirements) refs.push_back(use(q));
  Draft d = draft(Kind::Evaluation, e.author, data, refs);
  if (e.schema.empty()) e.schema = pinned ? "quintrel.evaluation.attested.v1" : "quintrel.evaluation.v2";
  d.schema = schema(e.schema);
  return add(name, d);
}

Id World::v1_evaluation(const std::string& name, const Id& candidate, const std::string& author) {
  return add(name, draft(Kind::Evaluation, author, record::EvaluationData{candidate, "tests"}, {use(candidate)}));
}

Draft World::selection(std::vector<Id> chosen, const std::vector<Id>& used, std::vector<Id> considered) {
  if (considered.empty()) considered = chosen;
  std::vector<Ref> refs;
  for (const Id& c : chosen) refs.push_back(require(c));
  for (const Id& e : used) refs.push_back(use(e));
  const record::SelectionData s{"ship", considered, record::SelectionOutcome::choose(chosen), {}};
  return draft(Kind::Selection, "user", s, refs);
}

void World::retract(const Id& target, const std::string& author) {
  add("retraction", draft(Kind::Retraction, author, record::RetractionData{target, "withdrawn"}, {cause(target)}));
}

Standard::Standard(World& w, const std::string& suffix) {
  request = w.request("R" + suffix);
  requirement = w.requirement(request, "tests");
  candidate = w.candidate("C" + suffix, request);
  evaluation = w.evaluation("E" + suffix, {candidate, {requirement}});
}

}  // namespace quintrel::fixture
