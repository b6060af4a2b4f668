// Parameter tables. A function, method or constructor declares its parameters
// once, in order: each one's name, its default as the text signature shows
// it (none: required), whether it is keyword-only, and the member of an
// argument struct that its value converts into. From the table come the
// docstring's text signature (so help() and inspect.signature show the
// parameters), the binding of a call, and the conversion of every argument.
//
//   const Params<RequirementArgs>& requirement_params() {
//     static const Params<RequirementArgs> table(
//         "requirement", Shape::kMethod, "Writer",
//         {arg<&RequirementArgs::author>("author"),
//          ...,
//          kwarg<&RequirementArgs::required>("required", "True"),
//          kwarg<&RequirementArgs::provenance>("provenance", "None")},
//         kRequirementProse);
//     return table;
//   }
//
// The converter follows the member's type (Convert<T> below: str, bool,
// integers, lists of str, and std::optional of any of them, None meaning
// absent); a file may specialise Convert for a type of its own. A text the
// core judges for itself is declared arg<&X::id, Surrogates::kKept>. A default
// is converted like a given value, so the text signature is the only place it
// is written. Tables are built on first use, with the interpreter lock held.
#pragma once

#include "args.h"  // first: Python.h comes before the standard headers

#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "convert.h"

namespace quintrel::py {

// How a converter reads one Python value into T; false with an exception set.
template <class T, class = void>
struct Convert;

template <>
struct Convert<std::string> {
  static bool from(PyObject* o, const ArgName& name, std::string& out) { return to_text(o, name, out); }
};

template <>
struct Convert<bool> {
  static bool from(PyObject* o, const ArgName& name, bool& out) { return to_bool(o, name, out); }
};

template <class T>
struct Convert<T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>>> {
  static bool from(PyObject* o, const ArgName& name, T& out) { return to_int(o, name, out); }
};

template <>
struct Convert<std::vector<std::string>> {
  static bool from(PyObject* o, const ArgName& name, std::vector<std::string>& out) {
    return to_text_list(o, name, out);
  }
};

// A dict with str keys, read in the order of the keys' UTF-8 bytes.
template <class T>
struct Convert<std::map<std::string, T>> {
  static bool from(PyObject* o, const ArgName& name, std::map<std::string, T>& out) {
    std::map<std::string, Ref> objects;
    if (!to_dict(o, name, objects)) return false;
    for (const auto& [key, value] : objects) {
      if (!Convert<T>::from(value.get(), name.value_of(key), out[key])) return false;
    }
    return true;
  }
};

// None is absent; anything else is converted by `C<T>`.
template <template <class> class C, class T>
bool optional_from(PyObject* o, const ArgName& name, std::optional<T>& out) {
  if (o == Py_None) {
    out.reset();
    return true;
  }
  T value{};
  if (!C<T>::from(o, name, value)) return false;
  out = std::move(value);
  return true;
}

template <class T>
struct Convert<std::optional<T>> {
  static bool from(PyObject* o, const ArgName& name, std::optional<T>& out) {
    return optional_from<Convert>(o, name, out);
  }
};

// The converter of a parameter declared with Surrogates::kKept (record ids
// and hashes, `selected`'s objective): as Convert, but a str holding lone
// surrogates converts (convert.h).
template <class T>
struct Kept;

template <>
struct Kept<std::string> {
  static bool from(PyObject* o, const ArgName& name, std::string& out) {
    return to_text(o, name, out, Surrogates::kKept);
  }
};

template <>
struct Kept<std::vector<std::string>> {
  static bool from(PyObject* o, const ArgName& name, std::vector<std::string>& out) {
    return to_text_list(o, name, out, Surrogates::kKept);
  }
};

template <class T>
struct Kept<std::optional<T>> {
  static bool from(PyObject* o, const ArgName& name, std::optional<T>& out) {
    return optional_from<Kept>(o, name, out);
  }
};

template <class A>
struct Param {
  std::string_view name;
  std::string_view default_text;  // as the signature shows it; empty: required
  bool keyword_only = false;
  bool (*convert)(PyObject*, const ArgName&, A&) = nullptr;
};

namespace detail {
template <class C, class T>
C class_of(T C::*);
template <auto Member>
using ArgsOf = decltype(class_of(Member));

template <auto Member, Surrogates S>
bool convert_member(PyObject* o, const ArgName& name, ArgsOf<Member>& args) {
  using T = std::remove_cvref_t<decltype(args.*Member)>;
  if constexpr (S == Surrogates::kKept) return Kept<T>::from(o, name, args.*Member);
  else return Convert<T>::from(o, name, args.*Member);
}
}  // namespace detail

// A parameter that may be given by position or by keyword.
template <auto Member, Surrogates S = Surrogates::kRefused>
constexpr Param<detail::ArgsOf<Member>> arg(std::string_view name, std::string_view default_text = {}) {
  return {name, default_text, false, &detail::convert_member<Member, S>};
}

// A keyword-only parameter (after the "*" of the signature).
template <auto Member, Surrogates S = Surrogates::kRefused>
constexpr Param<detail::ArgsOf<Member>> kwarg(std::string_view name, std::string_view default_text = {}) {
  return {name, default_text, true, &detail::convert_member<Member, S>};
}

// Whether the signature begins with "$self".
enum class Shape { kFunction, kMethod };

// What a table holds apart from its converters.
class ParamList {
 public:
  struct Entry {
    std::string_view name;
    std::string_view default_text;
    bool keyword_only;
  };
  // `owner` is the class of a method ("Writer"), shown in error texts as
  // "Writer.request()"; empty for a function or a constructor. A malformed
  // table throws std::logic_error, which the guard turns into the panic
  // exception.
  ParamList(const char* name, Shape shape, std::string_view owner, const std::vector<Entry>& entries,
            std::string_view prose);

  const char* name() const { return name_; }
  // The text signature line, "--", an empty line, then the prose.
  const char* doc() const { return doc_.c_str(); }
  const Signature& signature() const { return signature_; }
  // The value a parameter takes when it is not given; null for a required one.
  PyObject* default_value(size_t i) const { return defaults_[i]; }

 private:
  const char* name_;
  std::string doc_;
  Signature signature_;
  std::vector<PyObject*> defaults_;  // kept for the life of the process
};

template <class A>
class Params : public ParamList {
 public:
  Params(const char* name, Shape shape, std::string_view owner, std::initializer_list<Param<A>> params,
         std::string_view prose)
      : ParamList(name, shape, owner, entries(params), prose), converters_(params.begin(), params.end()) {}

  bool bind(PyObject* const* argv, Py_ssize_t nargs, PyObject* kwnames, Args& out) const {
    return signature().bind(argv, nargs, kwnames, out);
  }
  bool bind(PyObject* args, PyObject* kwargs, Args& out) const { return signature().bind(args, kwargs, out); }

  // Converts the bound arguments into `out` in signature order, stopping at
  // the first that does not convert.
  bool convert(const Args& args, A& out) const {
    for (size_t i = 0; i < converters_.size(); ++i) {
      PyObject* value = args[i] != nullptr ? args[i] : default_value(i);
      if (!converters_[i].convert(value, args.name(i), out)) return false;
    }
    return true;
  }

 private:
  static std::vector<Entry> entries(std::initializer_list<Param<A>> params) {
    std::vector<Entry> list;
    for (const Param<A>& p : params) list.push_back({p.name, p.default_text, p.keyword_only});
    return list;
  }

  std::vector<Param<A>> converters_;
};

}  // namespace quintrel::py
