// Writer.request and Writer.retract.
#include "call.h"  // first: Python.h comes before the standard headers

#include "verbs.h"

namespace quintrel::py {

namespace {

using writer::RequestArgs;
using writer::RetractArgs;

const Params<RequestArgs>& request_params() {
  static const Params<RequestArgs> table(
      "request", Shape::kMethod, "Writer",
      {arg<&RequestArgs::author>("author"), arg<&RequestArgs::objective>("objective")},
      "Record a Request: what a person asked for (requirements bind to\n"
      "it). Single-thread writer, so the request's scope is\n"
      "the space and it has no parent request. The verifier admits only a\n"
      "user-role author.");
  return table;
}

const Params<RetractArgs>& retract_params() {
  static const Params<RetractArgs> table(
      "retract", Shape::kMethod, "Writer",
      {arg<&RetractArgs::author>("author"), arg<&RetractArgs::target, Surrogates::kKept>("target"),
       arg<&RetractArgs::reason>("reason")},
      "Retract a committed record: assert its content is wrong. The target\n"
      "stays in the log; on acceptance its id enters the retracted set and\n"
      "its epistemic dependents become tainted, so the receipt reports\n"
      "Tainted from then on - permanently. `reason` is a free-form statement\n"
      "of why the content is wrong; it is recorded, not interpreted.\n"
      "\n"
      "Ownership is enforced by replay: the retraction is accepted only when\n"
      "`author` is the target's author or is listed in the rules'\n"
      "`admin_retraction_actors` (see `default_rules(admins=...)`).\n"
      "An Executor may never author a Retraction. A Verdict or a Retraction\n"
      "cannot be retracted. As with the other verbs, a rejected retraction\n"
      "is still durably committed, with `accepted=False` and the reason.");
  return table;
}

}  // namespace

PyMethodDef request_def() {
  return writer_method<RequestArgs, request_params, Access::kExclusive, &writer::Writer::request>();
}

PyMethodDef retract_def() {
  return writer_method<RetractArgs, retract_params, Access::kExclusive, &writer::Writer::retract>();
}

}  // namespace quintrel::py
