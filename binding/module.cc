// The extension module `quintrel`, on the stable ABI with multi-phase
// initialisation and no state of its own.
#include "module.h"
#include "views.h"

namespace quintrel::py {

namespace {

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
    // The public names, in their order; each joins __all__.
    if (!add_public(module, "__version__", str(QUINTREL_VERSION))) return -1;
    for (PyMethodDef* def : {validate_def(), read_def(), default_rules_def()}) {
      if (!add_function(module, def)) return -1;
    }
    for (PyTypeObject* (*type)() : {report_type, receipt_type, record_type, writer_type, commit_type}) {
      if (!add_class(module, type())) return -1;
    }
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
