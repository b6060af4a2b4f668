// Receipt: the read-only view of a parsed, unverified receipt.
#include "classes.h"  // first: Python.h comes before the standard headers

#include "convert.h"
#include "views.h"

namespace quintrel::py {

namespace {

using receipt::Receipt;
using View = Class<Receipt>;

constexpr char kDoc[] =
    "A parsed receipt, for inspection. Reading does not verify: call\n"
    "[`validate`] for the Clean / Tainted / Invalid decision. A record's fields\n"
    "are as recorded; only replay confirms they are consistent.\n"
    "\n"
    "The receipt also answers the named query set (`descent`,\n"
    "`descendants`, `siblings`, `frontier`, `standing`, `evidence`,\n"
    "`selected`); those methods replay the receipt first and raise\n"
    "`ValueError` if it does not verify.";

Ref records(const Receipt& r) { return record_list(r.records); }
Ref spec_version(const Receipt& r) { return str(r.spec_version); }

PyGetSetDef getters[] = {
    property<Receipt, records>("records", "The records in order, from genesis (subjects and verdicts)."),
    property<Receipt, spec_version>("spec_version", "Spec version the receipt declares (e.g. `\"0.3\"`)."),
    {},
};

Py_ssize_t length(PyObject* self) {
  return guarded([&]() -> Py_ssize_t { return static_cast<Py_ssize_t>(View::get(self).records.size()); });
}

PyObject* repr(PyObject* self) {
  return guarded([&]() -> PyObject* {
    const Receipt& r = View::get(self);
    return str("Receipt(spec_version=" + quoted(r.spec_version) + ", records=" + std::to_string(r.records.size()) +
               ")")
        .release();
  });
}

}  // namespace

PyTypeObject* receipt_type() {
  // The query methods join a method table here.
  return View::create({.name = "Receipt",
                       .doc = kDoc,
                       .getters = getters,
                       .slots = {{Py_mp_length, reinterpret_cast<void*>(length)},
                                 {Py_tp_repr, reinterpret_cast<void*>(repr)}}});
}

Ref new_receipt(receipt::Receipt receipt) { return Ref::steal(View::wrap(std::move(receipt))); }

}  // namespace quintrel::py
