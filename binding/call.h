// How a call runs, for a module function, a Writer method and a method of a
// class that is not thread-bound, each declared by a parameter table
// (params.h):
//
//   PyMethodDef request_def() {
//     return writer_method<RequestArgs, request_params, Access::kExclusive, &writer::Writer::request>();
//   }
//
// A Writer method binds its arguments (arity and keyword errors first),
// checks the calling thread, and converts every argument, all before it
// touches the Writer: a conversion may run code of the caller's objects
// (a sequence's __getitem__, say), which may use the Writer freely. Only then
// is the Writer borrowed, for the body alone, which runs no Python code; the
// result becomes a Python object, or a refusal an exception, once the borrow
// is released. A method of another class binds and converts, then runs its
// body on the instance's value.
#pragma once

#include "classes.h"  // first: Python.h comes before the standard headers

#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "convert.h"
#include "log/log_writer.h"
#include "params.h"
#include "views.h"
#include "writer/writer.h"

namespace quintrel::py {

// Bytes a body made, returned to Python as a bytes object.
struct Bytes {
  std::string data;
};

// The Python object of a result. A body returns one of these types, or a
// writer::Result of one; a Writer method's body never returns a Ref, which
// would have been made under the borrow.
inline Ref to_python(Ref object) { return object; }
inline Ref to_python(const Bytes& bytes) {
  return Ref::steal(PyBytes_FromStringAndSize(bytes.data.data(), static_cast<Py_ssize_t>(bytes.data.size())));
}
inline Ref to_python(const log::CommitOutcome& outcome) { return new_commit(outcome); }
inline Ref to_python(const base::Json& value) { return json_to_py(value); }
template <class T>
Ref to_python(writer::Result<T>&& result) {
  if (!result) return raise_refusal(result.error());
  return to_python(std::move(*result));
}

template <class A, const Params<A>& (*Table)(), auto Body>
PyObject* call_function(PyObject*, PyObject* const* argv, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const Params<A>& params = Table();
    Args args;
    A values;
    if (!params.bind(argv, nargs, kwnames, args) || !params.convert(args, values)) return nullptr;
    return to_python(std::invoke(Body, std::move(values))).release();
  });
}

template <class A, const Params<A>& (*Table)(), Access kAccess, auto Body>
PyObject* call_writer(PyObject* self, PyObject* const* argv, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const Params<A>& params = Table();
    Args args;
    if (!params.bind(argv, nargs, kwnames, args) || !on_owner_thread(self)) return nullptr;
    A values;
    if (!params.convert(args, values)) return nullptr;
    using W = std::conditional_t<kAccess == Access::kShared, const writer::Writer&, writer::Writer&>;
    using R = std::invoke_result_t<decltype(Body), W, A&&>;
    std::optional<R> result;
    {
      Use use(self, kAccess);
      if (!use) return nullptr;
      result.emplace(std::invoke(Body, static_cast<W>(Class<writer::Writer>::get(self)), std::move(values)));
    }
    return to_python(std::move(*result)).release();
  });
}

template <class T, class A, const Params<A>& (*Table)(), auto Body>
PyObject* call_view(PyObject* self, PyObject* const* argv, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const Params<A>& params = Table();
    Args args;
    A values;
    if (!params.bind(argv, nargs, kwnames, args) || !params.convert(args, values)) return nullptr;
    return to_python(std::invoke(Body, static_cast<const T&>(Class<T>::get(self)), std::move(values))).release();
  });
}

template <class A, const Params<A>& (*Table)(), auto Body>
PyMethodDef function_def() {
  return {Table().name(), reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(call_function<A, Table, Body>)),
          METH_FASTCALL | METH_KEYWORDS, Table().doc()};
}

template <class A, const Params<A>& (*Table)(), Access kAccess, auto Body>
PyMethodDef writer_method() {
  return {Table().name(),
          reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(call_writer<A, Table, kAccess, Body>)),
          METH_FASTCALL | METH_KEYWORDS, Table().doc()};
}

template <class T, class A, const Params<A>& (*Table)(), auto Body>
PyMethodDef view_method() {
  return {Table().name(), reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(call_view<T, A, Table, Body>)),
          METH_FASTCALL | METH_KEYWORDS, Table().doc()};
}

}  // namespace quintrel::py
