// Commit: what every writing verb returns, the outcome of committing one
// record, accepted or rejected.
#include "classes.h"  // first: Python.h comes before the standard headers

#include "base/hash.h"
#include "convert.h"
#include "views.h"

namespace quintrel::py {

namespace {

using log::CommitOutcome;
using View = Class<CommitOutcome>;

constexpr char kDoc[] =
    "The outcome of committing one record. The record is durably appended and\n"
    "immediately judged by replay. A *rejected* record is still committed - it\n"
    "is durable evidence that a proposal was refused - so `accepted` is `False`\n"
    "and `reason` carries the verifier's reason code; the writer does not raise.";

Ref id(const CommitOutcome& c) { return hex_text(c.id); }
Ref result(const CommitOutcome& c) { return str(c.accepted ? "accept" : "reject"); }
Ref reason(const CommitOutcome& c) { return c.reason ? name_text(*c.reason) : Ref::borrow(Py_None); }
Ref accepted(const CommitOutcome& c) { return py_bool(c.accepted); }

PyGetSetDef getters[] = {
    property<CommitOutcome, id>("id", "Content-address id of the committed record, lowercase hex."),
    property<CommitOutcome, result>("result", "`\"accept\"` or `\"reject\"`."),
    property<CommitOutcome, reason>("reason", "Verifier reason code when the record was rejected."),
    property<CommitOutcome, accepted>("accepted", "`True` if the record was accepted by replay, `False` if rejected."),
    {},
};

PyObject* repr(PyObject* self) {
  return guarded([&]() -> PyObject* {
    const CommitOutcome& c = View::get(self);
    std::string reason = c.reason ? "Some(" + quoted(base::enum_name(*c.reason)) + ")" : "None";
    return str("Commit(id=" + base::hex_encode(c.id).substr(0, 12) + "..., accepted=" +
               (c.accepted ? "True" : "False") + ", reason=" + reason + ")")
        .release();
  });
}

}  // namespace

PyTypeObject* commit_type() {
  return View::create(
      {.name = "Commit", .doc = kDoc, .getters = getters, .slots = {{Py_tp_repr, reinterpret_cast<void*>(repr)}}});
}

Ref new_commit(const log::CommitOutcome& outcome) { return Ref::steal(View::wrap(outcome)); }

}  // namespace quintrel::py
