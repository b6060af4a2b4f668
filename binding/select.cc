// Writer.select.
#include "call.h"  // first: Python.h comes before the standard headers

#include "verbs.h"

namespace quintrel::py {

namespace {

using writer::SelectArgs;

const Params<SelectArgs>& select_params() {
  static const Params<SelectArgs> table(
      "select", Shape::kMethod, "Writer",
      {arg<&SelectArgs::author>("author"), arg<&SelectArgs::objective>("objective"),
       arg<&SelectArgs::consider, Surrogates::kKept>("consider"),
       kwarg<&SelectArgs::choose, Surrogates::kKept>("choose", "None"),
       kwarg<&SelectArgs::uses_eval, Surrogates::kKept>("uses_eval", "None"), kwarg<&SelectArgs::none>("none", "False"),
       kwarg<&SelectArgs::replaces, Surrogates::kKept>("replaces", "None"),
       kwarg<&SelectArgs::rationale>("rationale", "None")},
      "Record a Selection over candidates, or a reaffirmation. Exactly one of\n"
      "`choose` (with `uses_eval`) or `none=True` states the outcome. `replaces`\n"
      "adds a Replace ref to a prior Selection (a reaffirmation).");
  return table;
}

}  // namespace

PyMethodDef select_def() {
  return writer_method<SelectArgs, select_params, Access::kExclusive, &writer::Writer::select>();
}

}  // namespace quintrel::py
