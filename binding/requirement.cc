// Writer.requirement.
#include "call.h"  // first: Python.h comes before the standard headers

#include "verbs.h"

namespace quintrel::py {

namespace {

using writer::RequirementArgs;

const Params<RequirementArgs>& requirement_params() {
  static const Params<RequirementArgs> table(
      "requirement", Shape::kMethod, "Writer",
      {arg<&RequirementArgs::author>("author"), arg<&RequirementArgs::request, Surrogates::kKept>("request"),
       arg<&RequirementArgs::key>("key"), arg<&RequirementArgs::description>("description"),
       kwarg<&RequirementArgs::required>("required", "True"),
       kwarg<&RequirementArgs::expected_evidence>("expected_evidence", "None"),
       kwarg<&RequirementArgs::provenance>("provenance", "None")},
      "Record a Requirement under a request: an addressable\n"
      "statement of what it requires. Exactly one `Cause` to the request; the\n"
      "key must be unique among the request's accepted, unretracted\n"
      "requirements (a duplicate commits as a durable rejected record with\n"
      "`RequirementInvalid`; retract-and-record releases the key).\n"
      "`provenance` is `\"user_authored\"` or `\"derived\"` and is bound to the\n"
      "author's role by the verifier; it defaults from the role (user ->\n"
      "user_authored, provider or system -> derived) and a stated value the\n"
      "role cannot carry raises `ValueError` before anything is written.\n"
      "`required=False` records an informational requirement a profile never\n"
      "counts; `expected_evidence` is recorded, not interpreted.");
  return table;
}

}  // namespace

PyMethodDef requirement_def() {
  return writer_method<RequirementArgs, requirement_params, Access::kExclusive, &writer::Writer::requirement>();
}

}  // namespace quintrel::py
