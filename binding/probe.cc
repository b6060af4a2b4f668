// The test module `_quintrel_probe`, built only for the tests: its one
// function `_probe` reaches the binding layer's paths that no public function
// takes yet (faults escaping the core, thread binding, borrow conflicts, id
// parsing and JSON conversion). It is never part of the wheel.
#include "call.h"  // first: Python.h comes before the standard headers

#include <new>
#include <stdexcept>

#include "base/codec.h"
#include "classes.h"
#include "module.h"

namespace quintrel::py {

namespace {

// A thread-bound object with nothing inside, standing in for a Writer.
struct ProbeValue {};

constexpr char kHoldDoc[] =
    "hold($self, callback)\n--\n\nCall `callback` while holding an exclusive borrow.";

PyObject* probe_hold(PyObject* self, PyObject* const* argv, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    static const Signature sig(kHoldDoc, "_Probe");
    Args args;
    if (!sig.bind(argv, nargs, kwnames, args)) return nullptr;
    Use use(self, Access::kExclusive);
    if (!use) return nullptr;
    return PyObject_CallFunctionObjArgs(args[0], nullptr);
  });
}

Py_ssize_t probe_len(PyObject* self) {
  return guarded([&]() -> Py_ssize_t {
    Use use(self, Access::kShared);
    if (!use) return -1;
    return 0;
  });
}

PyMethodDef probe_methods[] = {
    {"hold", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(probe_hold)),
     METH_FASTCALL | METH_KEYWORDS, kHoldDoc},
    {nullptr, nullptr, 0, nullptr},
};

PyObject* make_probe_object() {
  if (Class<ProbeValue>::type() == nullptr) {
    ClassSpec spec;
    spec.name = "_Probe";
    spec.doc = "A thread-bound test object.";
    spec.methods = probe_methods;
    spec.slots = {{Py_mp_length, reinterpret_cast<void*>(probe_len)}};
    spec.thread_bound = true;
    if (Class<ProbeValue>::create(spec) == nullptr) return nullptr;
  }
  return Class<ProbeValue>::wrap({});
}

Ref id_bytes(const std::optional<base::Id>& id) {
  if (!id) return {};
  return Ref::steal(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(id->data()),
                                              static_cast<Py_ssize_t>(id->size())));
}

struct ProbeArgs {
  std::string which;
  std::optional<std::string> text;
};

const Params<ProbeArgs>& probe_params() {
  static const Params<ProbeArgs> table(
      "_probe", Shape::kFunction, "", {arg<&ProbeArgs::which>("case"), arg<&ProbeArgs::text>("text", "None")},
      "Internal test hook. `case` is one of \"fault\", \"no_memory\", \"object\", \"id\",\n"
      "\"hash\" and \"json\".");
  return table;
}

Ref probe(ProbeArgs args) {
  const std::string which = args.which, text = args.text.value_or("");
  if (which == "fault") throw std::runtime_error(text);
  if (which == "no_memory") throw std::bad_alloc();
  if (which == "object") return Ref::steal(make_probe_object());
  if (which == "id") return id_bytes(parse_id(text));
  if (which == "hash") return id_bytes(parse_hash("input_hash", text));
  if (which == "json") {
    auto value = base::from_json<base::Json>(text);
    if (!value) return value_error(value.error().to_string());
    return json_to_py(*value);
  }
  return value_error("unknown probe case " + quoted(which));
}

int exec_probe(PyObject* module) {
  return guarded([&]() -> int {
    if (!first_interpreter() || panic_type() == nullptr) return -1;
    static PyMethodDef def = function_def<ProbeArgs, probe_params, probe>();
    return add_function(module, &def, false) ? 0 : -1;
  });
}

PyModuleDef_Slot probe_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_probe)},
    {0, nullptr},
};

PyModuleDef probe_module = {
    PyModuleDef_HEAD_INIT, "_quintrel_probe", "", 0, nullptr, probe_slots, nullptr, nullptr, nullptr,
};

}  // namespace

}  // namespace quintrel::py

PyMODINIT_FUNC PyInit__quintrel_probe(void) { return PyModuleDef_Init(&quintrel::py::probe_module); }
