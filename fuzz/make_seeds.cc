// Writes the fuzzer's seeds: small valid receipts of several shapes, built
// with the test fixture's log, into the directory named by the argument.
#include <cstdio>
#include <fstream>
#include <string>

#include "base/hash.h"
#include "receipt_fixture.h"
#include "record/evolution_payloads.h"

using namespace quintrel;
using namespace quintrel::fixture;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  auto write = [&](const char* name, const receipt::Receipt& r) {
    std::ofstream(std::string(argv[1]) + "/" + name + ".json", std::ios::binary) << bytes_of(r);
  };

  Workflow w = workflow();
  write("clean", receipt_of(w.log));
  write("declared",
        *receipt::Receipt::with_declared_profiles(receipt_of(w.log), std::vector<std::string>{"quintrel-core-v1"}));
  receipt::Receipt old = receipt_of(workflow(false).log);
  old.spec_version = "0.3";
  write("spec-0.3", old);

  // A continuation of the selection, a replacing selection, a retraction of
  // the first, and a signed evaluation: taint, standing and restorations.
  record::CandidateData c;
  c.source.git.tree = std::string(40, 'b');
  c.basis = record::CandidateBasis::continuation;
  c.parent = w.manifest_candidate;
  const Id next = w.log.accept(draft(Kind::Candidate, "provider", c, {cause(w.selection)}));
  Draft e = draft(Kind::Evaluation, "provider", record::EvaluationData{next, "tests"}, {use(next)});
  e.signer = &signer(3);
  const Id eval = w.log.accept(e);
  w.log.accept(draft(Kind::Selection, "provider",
                     record::SelectionData{"ship", {next}, record::SelectionOutcome::choose({next}), {}},
                     {require(next), use(eval), replace(w.selection)}));
  w.log.accept(draft(Kind::Retraction, "provider", record::RetractionData{w.selection, "redo"}, {cause(w.selection)}));
  write("tainted", receipt_of(w.log));

  // A delivery claim: a version 2 evaluation bound to the requirement,
  // citing the candidate's artifact, and a selection using it; signed by
  // pinned keys where the stronger profiles ask for it, the three profiles
  // declared.
  Log d;
  d.rules = std::move(d.rules).with_baseline_thresholds();
  d.rules.max_context_records = 200;
  d.rules.signature_required_kinds = {Kind::Candidate, Kind::Evaluation, Kind::Selection, Kind::Retraction,
                                      Kind::Requirement};
  for (auto [author, seed] : {std::pair{"user", 1}, {"provider", 2}, {"system", 3}})
    d.rules.author_keys[author] = {signer(seed).public_key()};
  auto add = [&](Draft draft, uint8_t seed) {
    draft.signer = &signer(seed);
    return d.accept(draft);
  };
  const Id request = add(draft(Kind::Request, "user", record::RequestData{"ship", base::sha256("scope")}), 1);
  const Id requirement = add(draft(Kind::Requirement, "user",
                                   record::RequirementData{"tests", "pass", true, std::nullopt,
                                                           record::Provenance::user_authored},
                                   {cause(request)}),
                             1);
  const record::ArtifactRef build{"sha256-bytes", base::hex_encode(base::sha256("build")), std::nullopt};
  record::CandidateData built;
  built.source.git.tree = std::string(40, 'c');
  built.artifacts = std::vector{build};
  const Id candidate = add(draft(Kind::Candidate, "provider", built, {cause(request)}), 2);
  record::EvaluationDataV2 v2{candidate, "tests"};
  v2.evaluator = {"ci", std::nullopt, base::sha256("procedure"), base::sha256("input")};
  v2.evidence = {build};
  v2.requirements = {requirement};
  Draft attested = draft(Kind::Evaluation, "system", v2, {use(candidate), use(requirement)});
  attested.schema = schema("quintrel.evaluation.attested.v1");
  const Id evaluation = add(attested, 3);
  add(draft(Kind::Selection, "user",
            record::SelectionData{"ship", {candidate}, record::SelectionOutcome::choose({candidate}), {}},
            {require(candidate), use(evaluation)}),
      1);
  write("delivery", *receipt::Receipt::with_declared_profiles(
                        receipt_of(d), std::vector<std::string>{"quintrel-core-v1", "quintrel-core-signed-v1",
                                                                "delivery-receipt-v1"}));
  return 0;
}
