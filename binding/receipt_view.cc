// Receipt: the read-only view of a parsed, unverified receipt.
#include "classes.h"  // first: Python.h comes before the standard headers

#include "convert.h"
#include "views.h"

namespace quintrel::py {

namespace {

using receipt::Receipt;
using View = Class<ReceiptValue>;

constexpr char kDoc[] =
    "A parsed receipt, for inspection. Reading does not verify: call\n"
    "[`validate`] for the Clean / Tainted / Invalid decision. A record's fields\n"
    "are as recorded; only replay confirms they are consistent.\n"
    "\n"
    "The receipt also answers the named query set (`descent`,\n"
    "`descendants`, `siblings`, `frontier`, `standing`, `evidence`,\n"
    "`selected`); those methods replay the receipt first and raise\n"
    "`ValueError` if it does not verify.";

Ref records(const ReceiptValue& v) { return record_list(v.receipt.records); }
Ref spec_version(const ReceiptValue& v) { return str(v.receipt.spec_version); }

PyGetSetDef getters[] = {
    property<ReceiptValue, records>("records", "The records in order, from genesis (subjects and verdicts)."),
    property<ReceiptValue, spec_version>("spec_version", "Spec version the receipt declares (e.g. `\"0.3\"`)."),
    {},
};

Py_ssize_t length(PyObject* self) {
  return guarded([&]() -> Py_ssize_t { return static_cast<Py_ssize_t>(View::get(self).receipt.records.size()); });
}

PyObject* repr(PyObject* self) {
  return guarded([&]() -> PyObject* {
    const Receipt& r = View::get(self).receipt;
    return str("Receipt(spec_version=" + quoted(r.spec_version) + ", records=" + std::to_string(r.records.size()) +
               ")")
        .release();
  });
}

}  // namespace

PyTypeObject* receipt_type() {
  if (View::type() != nullptr) return View::type();
  // The type keeps pointers into this table, which lives as long as the process.
  auto* methods = new std::vector<PyMethodDef>(receipt_queries());
  methods->push_back({});
  return View::create({.name = "Receipt",
                       .doc = kDoc,
                       .methods = methods->data(),
                       .getters = getters,
                       .slots = {{Py_mp_length, reinterpret_cast<void*>(length)},
                                 {Py_tp_repr, reinterpret_cast<void*>(repr)}}});
}

Ref new_receipt(receipt::Receipt receipt) { return Ref::steal(View::wrap({std::move(receipt), {}})); }

}  // namespace quintrel::py
