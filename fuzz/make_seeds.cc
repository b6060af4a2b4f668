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

  // A claim: a request with a required requirement, a candidate carrying an
  // artifact, a version 2 evaluation bound to the requirement citing it and
  // a selection of the candidate using it; beside it a manifest-bound
  // candidate.
  World w;
  const Standard s(w);
  const Id selection = w.select("S", {s.candidate}, {s.evaluation});
  record::CandidateData bound;
  bound.source.git.tree = std::string(40, 'a');
  bound.source.manifest_hash = base::sha256("manifest");
  bound.source.binding = record::BindingMode::manifest;
  w.add("M", draft(Kind::Candidate, "provider", bound, {cause(s.request)}));
  write("clean", receipt_of(w.log));
  write("declared",
        *receipt::Receipt::with_declared_profiles(receipt_of(w.log), std::vector<std::string>{"quintrel-core-v1"}));

  // The kinds version 0.3 knows: a request, a candidate, a version 1
  // evaluation and a selection.
  World older;
  const Id request = older.request("R"), candidate = older.candidate("C", request, {});
  older.select("S", {candidate}, {older.v1_evaluation("E", candidate, "provider")});
  receipt::Receipt old = receipt_of(older.log);
  old.spec_version = "0.3";
  write("spec-0.3", old);

  // A continuation of the selection, a replacing selection, a retraction of
  // the first, and a signed evaluation: taint, standing and restorations.
  record::CandidateData c;
  c.source.git.tree = std::string(40, 'b');
  c.basis = record::CandidateBasis::continuation;
  c.parent = s.candidate;
  const Id next = w.add("next", draft(Kind::Candidate, "provider", c, {cause(selection)}));
  Draft e = draft(Kind::Evaluation, "provider", record::EvaluationData{next, "tests"}, {use(next)});
  e.signer = &signer(3);
  const Id eval = w.add("signed", e);
  w.add("S2", draft(Kind::Selection, "user",
                    record::SelectionData{"ship", {next}, record::SelectionOutcome::choose({next}), {}},
                    {require(next), use(eval), replace(selection)}));
  w.retract(selection, "user");
  write("tainted", receipt_of(w.log));

  // The claim in a world whose rules require signatures on the evolution
  // kinds and pin their authors' keys, the three profiles declared.
  World pinned(true);
  one_claim(pinned);
  write("delivery", *receipt::Receipt::with_declared_profiles(
                        receipt_of(pinned.log), std::vector<std::string>{"quintrel-core-v1", "quintrel-core-signed-v1",
                                                                        "delivery-receipt-v1"}));
  return 0;
}
