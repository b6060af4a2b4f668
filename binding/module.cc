// The extension module `quintrel`, on the stable ABI with multi-phase initialisation.
#define Py_LIMITED_API 0x030A0000
#include <Python.h>

namespace {

int exec_module(PyObject* module) {
  return PyModule_AddStringConstant(module, "__version__", "0.11.0");
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

PyMODINIT_FUNC PyInit_quintrel(void) { return PyModuleDef_Init(&module_def); }
