// The one way binding files reach the interpreter: the stable ABI of 3.10,
// owned references, and the exception helpers.
#pragma once

// The build defines the same value; a file built without it still gets it.
#ifndef Py_LIMITED_API
#define Py_LIMITED_API 0x030A0000
#endif
#if Py_LIMITED_API != 0x030A0000
#error "quintrel targets the stable ABI of Python 3.10"
#endif
#include <Python.h>

#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace quintrel::py {

// What the raising helpers return: a Python error is set, and the value turns
// into the failure result of whatever the caller returns (null, false, -1), so
// a caller writes `return raise(...)`.
struct Raised {
  operator PyObject*() const { return nullptr; }
  operator bool() const { return false; }
  operator int() const { return -1; }
  operator Py_ssize_t() const { return -1; }
};

// An owned (strong) reference, released when the handle goes away.
class Ref {
 public:
  Ref() = default;
  // A null reference, so that a function returning Ref can `return raise(...)`.
  Ref(Raised) {}
  // Takes over a new reference (a null one is kept as null).
  static Ref steal(PyObject* p) {
    Ref r;
    r.p_ = p;
    return r;
  }
  // Takes a new reference to a borrowed object.
  static Ref borrow(PyObject* p) {
    Py_XINCREF(p);
    return steal(p);
  }
  Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  Ref& operator=(Ref&& o) noexcept {
    if (this != &o) {
      PyObject* old = std::exchange(p_, std::exchange(o.p_, nullptr));
      Py_XDECREF(old);
    }
    return *this;
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() { Py_XDECREF(p_); }

  PyObject* get() const { return p_; }
  // Hands the reference to the caller (a function result, a stealing call).
  PyObject* release() { return std::exchange(p_, nullptr); }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  PyObject* p_ = nullptr;
};

// Sets `type` with the text as message. The text is passed with its size, so
// NUL characters in it survive; bytes that are not UTF-8 become U+FFFD.
Raised raise(PyObject* type, std::string_view text);
inline Raised value_error(std::string_view text) { return raise(PyExc_ValueError, text); }
inline Raised type_error(std::string_view text) { return raise(PyExc_TypeError, text); }
inline Raised runtime_error(std::string_view text) { return raise(PyExc_RuntimeError, text); }
inline Raised overflow_error(std::string_view text) { return raise(PyExc_OverflowError, text); }

// For a call that reported failure: keeps the interpreter's exception, or sets
// a SystemError when it failed without setting one.
Raised propagate();

// The internal-fault exception: a subclass of BaseException (so `except
// Exception` does not catch it), reachable only by catching it. Created on
// first use and kept for the life of the process; null (with an exception set)
// only if creating it failed.
PyObject* panic_type();

// Prints the message to standard error and raises the panic exception with it.
Raised panic(std::string_view message);

// Runs `body` and turns any C++ exception escaping it into a Python one:
// std::bad_alloc becomes MemoryError, anything else the panic exception. Every
// entry point the interpreter calls goes through this, so no C++ exception
// ever unwinds into the interpreter.
template <class F>
auto guarded(F&& body) noexcept -> decltype(body()) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
    return Raised{};
  } catch (const std::exception& e) {
    return panic(e.what());
  } catch (...) {
    return panic("unknown C++ exception");
  }
}

// A new str from UTF-8 text (with its size); null with an exception set when
// the text is not UTF-8.
Ref str(std::string_view utf8);

// A type's __name__, as "Writer"; an object's type's, as "int" or "NoneType".
std::string type_name_of(PyTypeObject* type);
inline std::string type_name(PyObject* o) { return type_name_of(Py_TYPE(o)); }

}  // namespace quintrel::py
