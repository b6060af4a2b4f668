#include "py.h"

namespace quintrel::py {

Raised raise(PyObject* type, std::string_view text) {
  Ref message = Ref::steal(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()),
                                                "replace"));
  if (message) PyErr_SetObject(type, message.get());
  return {};
}

Raised propagate() {
  if (!PyErr_Occurred()) {
    PyErr_SetString(PyExc_SystemError, "a call failed without setting an exception");
  }
  return {};
}

PyObject* panic_type() {
  // Created once under the interpreter lock and never released: like the
  // classes, it lives as long as the process.
  static PyObject* type = nullptr;
  if (type == nullptr) {
    type = PyErr_NewExceptionWithDoc(
        "quintrel.PanicException",
        "An internal fault of quintrel. It derives from BaseException, so a plain\n"
        "`except Exception` does not catch it.",
        PyExc_BaseException, nullptr);
  }
  return type;
}

Raised panic(std::string_view message) {
  Ref text = Ref::steal(PyUnicode_DecodeUTF8(
      message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
  if (!text) return {};
  // Printed before the exception is set: the write may run Python code.
  PySys_FormatStderr("quintrel: internal fault: %U\n", text.get());
  if (PyErr_Occurred()) PyErr_Clear();
  PyObject* type = panic_type();
  if (type == nullptr) return {};
  PyErr_SetObject(type, text.get());
  return {};
}

Ref str(std::string_view utf8) {
  return Ref::steal(PyUnicode_DecodeUTF8(utf8.data(), static_cast<Py_ssize_t>(utf8.size()), nullptr));
}

std::string type_name_of(PyTypeObject* type) {
  Ref name = Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__name__"));
  Py_ssize_t size = 0;
  const char* utf8 = name ? PyUnicode_AsUTF8AndSize(name.get(), &size) : nullptr;
  if (utf8 == nullptr) {
    PyErr_Clear();
    return "object";
  }
  return std::string(utf8, static_cast<size_t>(size));
}

}  // namespace quintrel::py
