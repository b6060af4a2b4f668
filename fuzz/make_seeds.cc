// Writes the fuzzer's seeds: small valid receipts of several shapes, built
// with the test fixture's log, into the directory named by the argument.
#include <cstdio>
#include <fstream>
#include <string>

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
  return 0;
}
