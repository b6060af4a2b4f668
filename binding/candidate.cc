// Writer.candidate.
#include "artifacts.h"  // first: Python.h comes before the standard headers

#include "call.h"
#include "verbs.h"

namespace quintrel::py {

namespace {

using writer::CandidateArgs;

const Params<CandidateArgs>& candidate_params() {
  static const Params<CandidateArgs> table(
      "candidate", Shape::kMethod, "Writer",
      {arg<&CandidateArgs::author>("author"), arg<&CandidateArgs::git_tree>("git_tree"),
       kwarg<&CandidateArgs::git_commit>("git_commit", "None"), kwarg<&CandidateArgs::algo>("algo", "\"sha1\""),
       kwarg<&CandidateArgs::note>("note", "None"),
       kwarg<&CandidateArgs::continues, Surrogates::kKept>("continues", "None"),
       kwarg<&CandidateArgs::parent, Surrogates::kKept>("parent", "None"),
       kwarg<&CandidateArgs::derives_from, Surrogates::kKept>("derives_from", "None"),
       kwarg<&CandidateArgs::upgrades, Surrogates::kKept>("upgrades", "None"),
       kwarg<&CandidateArgs::manifest>("manifest", "None"), kwarg<&CandidateArgs::artifacts>("artifacts", "None")},
      "Record a Candidate (a proposed source state). Basis is chosen by exactly\n"
      "one of `continues` (with `parent`), `derives_from`, or `upgrades`;\n"
      "omitting all three records a Root. `algo` is `\"sha1\"` (default) or\n"
      "`\"sha256\"`. Passing `manifest` (a directory path) binds the source by a\n"
      "canonical manifest hash; otherwise the git tree is reported.\n"
      "`artifacts` binds artifact identities: a list of\n"
      "`\"scheme:digest[:name]\"` strings or `{\"scheme\", \"digest\", \"name\"?}`\n"
      "dicts, checked and canonically ordered before the write.");
  return table;
}

}  // namespace

PyMethodDef candidate_def() {
  return writer_method<CandidateArgs, candidate_params, Access::kExclusive, &writer::Writer::candidate>();
}

}  // namespace quintrel::py
