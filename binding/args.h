// Argument binding. A function's docstring begins with its text signature in
// the interpreter's convention:
//
//   "request($self, author, objective)\n--\n\nRecord a Request..."
//
// The interpreter derives __text_signature__ (for help() and inspect.signature)
// from that first line, and Signature parses the same line, so the names,
// defaults and keyword-only marker are written once; a parameter table
// (params.h) writes that line. Binding checks arity and keywords only; each
// argument is then converted on its own, in order.
#pragma once

#include "py.h"  // first: Python.h comes before the standard headers

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "convert.h"

namespace quintrel::py {

class Args;

class Signature {
 public:
  static constexpr size_t kMaxParams = 32;

  // `doc` begins "name(params)\n--\n\n"; parameters are separated by ", ", one
  // may be "$self", "*" makes the rest keyword-only, and "=default" makes a
  // parameter optional. `owner` is the class of a method ("Writer"), shown in
  // error texts as "Writer.request()". A malformed doc throws std::logic_error,
  // which the guard turns into the panic exception.
  explicit Signature(const char* doc, std::string_view owner = {});

  // Binds a METH_FASTCALL | METH_KEYWORDS call. On failure raises TypeError
  // (too many positional arguments, an unknown or repeated keyword, a missing
  // required argument) and returns false.
  bool bind(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, Args& out) const;
  // Binds a call given as a tuple and an optional dict (a constructor's tp_new).
  bool bind(PyObject* args, PyObject* kwargs, Args& out) const;

  const std::string& name() const { return name_; }
  size_t size() const { return params_.size(); }
  std::string_view param(size_t i) const { return params_[i].name; }

 private:
  struct Param {
    std::string name;
    bool required = true;
    bool keyword_only = false;
  };

  std::string name_;  // with the owner, as shown in error texts
  std::vector<Param> params_;
  size_t positional_ = 0;  // parameters that may be given by position
};

// The bound arguments of one call: borrowed references, null where an optional
// argument was not given. A parameter table (params.h) converts them.
class Args {
 public:
  PyObject* operator[](size_t i) const { return slots_[i]; }
  ArgName name(size_t i) const { return {sig_->name(), sig_->param(i), {}}; }

 private:
  friend class Signature;
  const Signature* sig_ = nullptr;
  std::array<PyObject*, Signature::kMaxParams> slots_{};
};

}  // namespace quintrel::py
