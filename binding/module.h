// How the module body adds its names, and the entry points other files define.
#pragma once

#include "py.h"

namespace quintrel::py {

// Adds `name` to the module with `value` and appends it to __all__, which the
// first addition creates.
bool add_public(PyObject* module, const char* name, Ref value);

// Adds a built-in function bound to the module (its __self__ is the module,
// its __module__ "quintrel"). A public one also joins __all__; a hidden one is
// reachable by its name only.
bool add_function(PyObject* module, PyMethodDef* def, bool is_public = true);

// Adds a class made by Class<T>::create (null: its error is kept) to the
// module and to __all__.
bool add_class(PyObject* module, PyTypeObject* type);

// True in the first interpreter that imports the module; otherwise sets
// ImportError.
bool first_interpreter();

// Function definitions, in the files that implement them. Each PyMethodDef
// has static storage: the function objects keep pointers to it.
PyMethodDef* validate_def();
PyMethodDef* read_def();
PyMethodDef* default_rules_def();

}  // namespace quintrel::py
