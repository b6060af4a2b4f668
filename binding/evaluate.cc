// Writer.evaluate.
#include "artifacts.h"  // first: Python.h comes before the standard headers

#include "call.h"
#include "verbs.h"

namespace quintrel::py {

namespace {

using writer::EvaluateArgs;

const Params<EvaluateArgs>& evaluate_params() {
  static const Params<EvaluateArgs> table(
      "evaluate", Shape::kMethod, "Writer",
      {arg<&EvaluateArgs::author>("author"), arg<&EvaluateArgs::candidate, Surrogates::kKept>("candidate"),
       arg<&EvaluateArgs::criterion>("criterion"), kwarg<&EvaluateArgs::passed>("passed", "False"),
       kwarg<&EvaluateArgs::failed>("failed", "False"), kwarg<&EvaluateArgs::score>("score", "None"),
       kwarg<&EvaluateArgs::scale>("scale", "None"), kwarg<&EvaluateArgs::procedure>("procedure", "None"),
       kwarg<&EvaluateArgs::uses, Surrogates::kKept>("uses", "None"),
       kwarg<&EvaluateArgs::blocked>("blocked", "False"),
       kwarg<&EvaluateArgs::insufficient>("insufficient", "False"),
       kwarg<&EvaluateArgs::stale>("stale", "False"), kwarg<&EvaluateArgs::not_run>("not_run", "False"),
       kwarg<&EvaluateArgs::evaluator>("evaluator", "None"),
       kwarg<&EvaluateArgs::evaluator_version>("evaluator_version", "None"),
       kwarg<&EvaluateArgs::procedure_hash, Surrogates::kKept>("procedure_hash", "None"),
       kwarg<&EvaluateArgs::input_hash, Surrogates::kKept>("input_hash", "None"),
       kwarg<&EvaluateArgs::basis>("basis", "None"),
       kwarg<&EvaluateArgs::requirements, Surrogates::kKept>("requirements", "None"),
       kwarg<&EvaluateArgs::artifacts>("artifacts", "None"),
       kwarg<&EvaluateArgs::attested>("attested", "False")},
      "Record an Evaluation of a candidate. Exactly one outcome: `passed`,\n"
      "`failed`, a `score` (with `scale`), or one of the fail-closed\n"
      "outcomes `blocked`, `insufficient`, `stale`, `not_run` (only `passed`\n"
      "passes; a decision that could not run to a pass is recorded as exactly\n"
      "what it is). The evaluation Uses its candidate, each requirement it\n"
      "speaks to, plus any extra `uses` ids.\n"
      "\n"
      "With `evaluator` and `basis` (`\"recomputed\"` or `\"declared\"`; basis is\n"
      "declared, never inferred) the extended shape is written\n"
      "(`quintrel.evaluation.v2`): who decided (`evaluator`,\n"
      "`evaluator_version`, `procedure_hash`, `input_hash`), the artifacts\n"
      "judged (`artifacts`, as on `candidate`), and the accepted Requirement\n"
      "ids it speaks to (`requirements`). Any of those, or a fail-closed\n"
      "outcome, without both `evaluator` and `basis` raises `ValueError`.\n"
      "Without them the v1 shape is written as before.");
  return table;
}

}  // namespace

PyMethodDef evaluate_def() {
  return writer_method<EvaluateArgs, evaluate_params, Access::kExclusive, &writer::Writer::evaluate>();
}

}  // namespace quintrel::py
