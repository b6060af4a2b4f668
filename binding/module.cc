// The extension module `quintrel`, on the stable ABI with multi-phase
// initialisation and no state of its own.
#include "module.h"

#include <atomic>

namespace quintrel::py {

bool add_public(PyObject* module, const char* name, Ref value) {
  if (!value) return false;
  if (PyModule_AddObjectRef(module, name, value.get()) < 0) return false;
  PyObject* dict = PyModule_GetDict(module);  // borrowed
  if (dict == nullptr) return false;
  PyObject* all = PyDict_GetItemString(dict, "__all__");  // borrowed
  Ref created;
  if (all == nullptr) {
    created = Ref::steal(PyList_New(0));
    if (!created || PyDict_SetItemString(dict, "__all__", created.get()) < 0) return false;
    all = created.get();
  }
  Ref text = Ref::steal(PyUnicode_FromString(name));
  return text && PyList_Append(all, text.get()) == 0;
}

bool add_function(PyObject* module, PyMethodDef* def, bool is_public) {
  Ref module_name = Ref::steal(PyModule_GetNameObject(module));
  if (!module_name) return false;
  Ref function = Ref::steal(PyCFunction_NewEx(def, module, module_name.get()));
  if (!is_public) return function && PyModule_AddObjectRef(module, def->ml_name, function.get()) == 0;
  return add_public(module, def->ml_name, std::move(function));
}

bool add_class(PyObject* module, PyTypeObject* type) {
  if (type == nullptr) return false;
  std::string name = type_name_of(type);
  return add_public(module, name.c_str(), Ref::borrow(reinterpret_cast<PyObject*>(type)));
}

namespace {

// The classes and the panic exception are made once per process and shared by
// every import of the module, which is sound only within one interpreter.
bool first_interpreter() {
  static std::atomic<int64_t> first{-1};
  int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (id < 0) return false;
  int64_t expected = -1;
  if (first.compare_exchange_strong(expected, id) || expected == id) return true;
  PyErr_SetString(PyExc_ImportError, "quintrel can be imported in only one interpreter per process");
  return false;
}

int exec_module(PyObject* module) {
  return guarded([&]() -> int {
    if (!PyModule_Check(module)) {
      return type_error("the module body needs a module, not " + type_name(module));
    }
    if (!first_interpreter() || panic_type() == nullptr) return -1;
    // A reload runs the body again on the same module: __all__ starts afresh.
    PyObject* dict = PyModule_GetDict(module);
    if (dict == nullptr) return -1;
    if (PyDict_GetItemString(dict, "__all__") != nullptr && PyDict_DelItemString(dict, "__all__") < 0) {
      return -1;
    }
    // The public names, in their order; each joins __all__. `validate` and
    // `read` come before `default_rules`; the classes Report, Receipt, Record,
    // Writer and Commit follow it.
    if (!add_public(module, "__version__", str("0.11.0"))) return -1;
    if (!add_function(module, default_rules_def())) return -1;
    // Internal: a hook for the tests of the fault paths, outside __all__.
    if (!add_function(module, probe_def(), false)) return -1;
    return 0;
  });
}

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "quintrel",
    "",  // the module's docstring is empty
    0,
    nullptr,
    slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

}  // namespace quintrel::py

PyMODINIT_FUNC PyInit_quintrel(void) { return PyModuleDef_Init(&quintrel::py::module_def); }
