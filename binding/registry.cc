// Adding names to a module: shared by the module `quintrel` and the test
// module of the binding layer.
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

}  // namespace quintrel::py
