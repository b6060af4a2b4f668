// Record: the read-only view of one record of a receipt or of a Writer's log,
// its fields as stored; nothing is recomputed or verified.
#include "classes.h"  // first: Python.h comes before the standard headers

#include "base/hash.h"
#include "convert.h"
#include "views.h"

namespace quintrel::py {

namespace {

using record::Record;
using View = Class<Record>;

constexpr char kDoc[] =
    "One record in a receipt, as a read-only view. The strings of the\n"
    "enumeration-valued fields (`kind`, `author_type`, `evidence` and each ref's\n"
    "`type`) are the variant names of those enumerations.";

Ref id(const Record& r) { return hex_text(r.id); }
Ref kind(const Record& r) { return name_text(r.kind); }
Ref time(const Record& r) { return py_uint(r.time); }
Ref author_id(const Record& r) { return str(r.author.id); }
Ref author_type(const Record& r) { return name_text(r.author.type); }
Ref is_signed(const Record& r) { return py_bool(r.author.signature.has_value()); }
Ref evidence(const Record& r) { return name_text(r.evidence); }
Ref schema(const Record& r) { return hex_text(r.schema); }
Ref payload_json(const Record& r) { return lossy_text(base::as_text(r.data)); }

Ref refs(const Record& r) {
  Ref list = Ref::steal(PyList_New(0));
  if (!list) return {};
  for (const record::Ref& ref : r.refs) {
    Ref dict = Ref::steal(PyDict_New());
    if (!dict || !put(dict.get(), "type", name_text(ref.type)) || !put(dict.get(), "target", hex_text(ref.target)) ||
        PyList_Append(list.get(), dict.get()) < 0) {
      return {};
    }
  }
  return list;
}

PyGetSetDef getters[] = {
    property<Record, id>("id", "Content-address id, lowercase hex."),
    property<Record, kind>("kind", "Record kind (e.g. `\"Candidate\"`, `\"Selection\"`, `\"Verdict\"`)."),
    property<Record, time>("time", "Logical time (1-based commit counter)."),
    property<Record, author_id>("author_id", "Author actor id."),
    property<Record, author_type>("author_type",
                        "Author role (`\"User\"`, `\"Provider\"`, `\"System\"`, `\"Executor\"`,\n"
                        "`\"Verifier\"`)."),
    property<Record, is_signed>("signed", "Whether the author carries a signature."),
    property<Record, evidence>("evidence",
                     "Evidence class (`\"Deterministic\"`, `\"Verified\"`, `\"Reported\"`,\n"
                     "`\"Inferred\"`, `\"Assumed\"`)."),
    property<Record, schema>("schema", "Schema id, lowercase hex."),
    property<Record, refs>("refs", "Typed edges to prior records, as `{\"type\": str, \"target\": hex}` dicts."),
    property<Record, payload_json>("payload_json",
                         "The raw payload as a JSON string (parse with `json.loads`). This is the\n"
                         "record's canonical `data` bytes, decoded as UTF-8."),
    {},
};

PyObject* repr(PyObject* self) {
  return guarded([&]() -> PyObject* {
    const Record& r = View::get(self);
    return str("Record(kind=" + quoted(base::enum_name(r.kind)) + ", time=" + std::to_string(r.time) +
               ", id=" + base::hex_encode(r.id).substr(0, 12) + "...)")
        .release();
  });
}

}  // namespace

PyTypeObject* record_type() {
  return View::create(
      {.name = "Record", .doc = kDoc, .getters = getters, .slots = {{Py_tp_repr, reinterpret_cast<void*>(repr)}}});
}

Ref record_list(std::vector<record::Record> records) {
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(records.size())));
  if (!list) return {};
  for (size_t i = 0; i < records.size(); ++i) {
    PyObject* item = View::wrap(std::move(records[i]));
    if (item == nullptr) return {};
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item);  // steals the item
  }
  return list;
}

}  // namespace quintrel::py
