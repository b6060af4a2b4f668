// The classes of the module: heap types named "quintrel.X" that derive from
// object, cannot be subclassed, have no instance __dict__ or weak-reference
// slot, and own one C++ value each. A class without a constructor refuses
// calls with "cannot create 'quintrel.X' instances". A thread-bound class
// remembers the thread that made each instance, refuses use from any other
// (the panic exception) and guards re-entry with a borrow flag.
//
//   struct ReportValue { ... };
//   PyMethodDef methods[] = {..., {}};            // static storage: the type keeps pointers
//   PyGetSetDef getters[] = {..., {}};
//   Class<ReportValue>::create({.name = "Report", .doc = kDoc, .methods = methods,
//                               .getters = getters, .slots = {{Py_tp_repr, (void*)repr}}});
//   PyObject* obj = Class<ReportValue>::wrap(std::move(value));   // a new instance
//   ReportValue& v = Class<ReportValue>::get(self);
#pragma once

#include "py.h"  // first: Python.h comes before the standard headers

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace quintrel::py {

// A token for the calling thread, never handed to another thread in the life
// of the process (unlike thread idents, which the system may reuse).
uint64_t current_thread_token();

// The layout every instance shares: the object header, the owned value with
// the function that destroys it, the creating thread's token (0 when the class
// is not thread-bound) and the borrow count (above 0: shared borrows; -1: one
// exclusive borrow).
struct Instance {
  PyObject base;
  void* value;
  void (*destroy)(void*);
  uint64_t owner;
  int borrows;
};

inline Instance* instance(PyObject* self) { return reinterpret_cast<Instance*>(self); }

struct ClassSpec {
  const char* name = nullptr;  // the Python name, e.g. "Writer"
  const char* doc = nullptr;   // a constructor's text signature may lead it
  PyMethodDef* methods = nullptr;
  PyGetSetDef* getters = nullptr;
  // Further slots: Py_tp_repr, Py_tp_str, Py_mp_length, and Py_tp_new for the
  // one class with a constructor (it builds the value and calls wrap_as).
  std::vector<PyType_Slot> slots;
  bool thread_bound = false;
};

// Creates the heap type of a class. Returns a new reference, or null with an
// exception that names the class.
PyTypeObject* create_type(const ClassSpec& spec);

// A new instance of `type` owning `value`, which `destroy` deletes with it;
// bound to the calling thread when `thread_bound`. On failure the value is
// destroyed and null returned with an exception set.
PyObject* new_instance(PyTypeObject* type, void* value, void (*destroy)(void*), bool thread_bound);

// True when the calling thread may use `self`; otherwise raises the panic
// exception "quintrel::X is unsendable, but sent to another thread". Use
// checks it again; a call that converts its arguments before it borrows the
// instance checks it first, so a call from another thread runs nothing.
bool on_owner_thread(PyObject* self);

// How a call uses an instance of a thread-bound class.
enum class Access { kShared, kExclusive };

// Entry guard of every method, getter and slot of a thread-bound class, taken
// after the arguments are bound: a call from another thread raises the panic
// exception "quintrel::X is unsendable, but sent to another thread"; a borrow
// conflicting with one in progress raises RuntimeError. Released on scope exit.
class Use {
 public:
  Use(PyObject* self, Access access);
  ~Use();
  Use(const Use&) = delete;
  Use& operator=(const Use&) = delete;
  explicit operator bool() const { return taken_; }

 private:
  Instance* self_;
  Access access_;
  bool taken_ = false;
};

template <class T>
class Class {
 public:
  // Creates the type once per process; later calls (a second import) reuse it.
  static PyTypeObject* create(const ClassSpec& spec) {
    if (type_ == nullptr) {
      type_ = create_type(spec);
      thread_bound_ = spec.thread_bound;
    }
    return type_;
  }
  static PyTypeObject* type() { return type_; }
  // A new instance owning `value`; null with an exception on failure.
  static PyObject* wrap(T value) { return wrap_as(type_, std::move(value)); }
  static PyObject* wrap_as(PyTypeObject* type, T value) {
    return new_instance(type, new T(std::move(value)), &destroy, thread_bound_);
  }
  static T& get(PyObject* self) { return *static_cast<T*>(instance(self)->value); }

 private:
  static void destroy(void* value) { delete static_cast<T*>(value); }
  static inline PyTypeObject* type_ = nullptr;
  static inline bool thread_bound_ = false;
};

// A getter of a class that is not thread-bound: `F` builds the Python value
// from the instance's value.
template <class T, Ref (*F)(const T&)>
PyObject* view_getter(PyObject* self, void*) {
  return guarded([&]() -> PyObject* { return F(Class<T>::get(self)).release(); });
}

// A read-only property of such a class, read by `F`.
template <class T, Ref (*F)(const T&)>
constexpr PyGetSetDef property(const char* name, const char* doc) {
  return {name, view_getter<T, F>, nullptr, doc, nullptr};
}

}  // namespace quintrel::py
