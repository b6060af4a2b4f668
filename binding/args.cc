#include "args.h"

#include <stdexcept>

namespace quintrel::py {

namespace {

std::string_view strip(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// Splits a parameter list at the commas outside quoted defaults.
std::vector<std::string_view> split_params(std::string_view list) {
  std::vector<std::string_view> parts;
  char quote = 0;
  size_t start = 0;
  for (size_t i = 0; i < list.size(); ++i) {
    char c = list[i];
    if (quote != 0) {
      if (c == '\\') ++i;
      else if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == ',') {
      parts.push_back(strip(list.substr(start, i - start)));
      start = i + 1;
    }
  }
  std::string_view last = strip(list.substr(start));
  if (!last.empty() || !parts.empty()) parts.push_back(last);
  return parts;
}

std::string plural(size_t n, std::string_view word) {
  return std::to_string(n) + " " + std::string(word) + (n == 1 ? "" : "s");
}

// "'a'", "'a' and 'b'", "'a', 'b' and 'c'".
std::string name_list(const std::vector<std::string_view>& names) {
  std::string s;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) s += i + 1 == names.size() ? " and " : ", ";
    s.append("'").append(names[i]).append("'");
  }
  return s;
}

}  // namespace

Signature::Signature(const char* doc, std::string_view owner) {
  std::string_view text(doc);
  std::string_view line = text.substr(0, text.find('\n'));
  size_t open = line.find('(');
  if (open == std::string_view::npos || line.empty() || line.back() != ')' ||
      text.substr(line.size()).substr(0, 5) != "\n--\n\n") {
    throw std::logic_error("docstring without a text signature: " + std::string(line));
  }
  name_ = owner.empty() ? std::string(line.substr(0, open))
                        : std::string(owner) + "." + std::string(line.substr(0, open));
  bool keyword_only = false;
  for (std::string_view part : split_params(line.substr(open + 1, line.size() - open - 2))) {
    if (part == "$self" || part == "$module" || part == "$type") continue;
    if (part == "*") {
      keyword_only = true;
      continue;
    }
    size_t eq = part.find('=');
    Param p;
    p.name = std::string(strip(part.substr(0, eq)));
    p.required = eq == std::string_view::npos;
    p.keyword_only = keyword_only;
    if (p.name.empty()) throw std::logic_error("empty parameter in " + std::string(line));
    if (!keyword_only) ++positional_;
    params_.push_back(std::move(p));
  }
  if (params_.size() > kMaxParams) throw std::logic_error("too many parameters in " + name_);
}

bool Signature::bind(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, Args& out) const {
  out.sig_ = this;
  out.slots_.fill(nullptr);
  size_t given = static_cast<size_t>(nargs);
  if (given > positional_) {
    size_t required = 0;
    for (size_t i = 0; i < positional_; ++i) required += params_[i].required ? 1 : 0;
    std::string text = name_ + "() takes ";
    if (positional_ == 0) {
      text += "no positional arguments";
    } else if (required == positional_) {
      text += "exactly " + plural(positional_, "positional argument");
    } else {
      text += "from " + std::to_string(required) + " to " + plural(positional_, "positional argument");
    }
    text += " but " + std::to_string(given) + (given == 1 ? " was" : " were") + " given";
    return type_error(text);
  }
  for (size_t i = 0; i < given; ++i) out.slots_[i] = args[i];

  Py_ssize_t keywords = kwnames == nullptr ? 0 : PyTuple_Size(kwnames);
  if (keywords < 0) return false;
  for (Py_ssize_t k = 0; k < keywords; ++k) {
    PyObject* key = PyTuple_GetItem(kwnames, k);
    if (key == nullptr) return false;
    size_t index = params_.size();
    for (size_t i = 0; i < params_.size(); ++i) {
      if (PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, params_[i].name.c_str()) == 0) {
        index = i;
        break;
      }
    }
    if (index == params_.size()) {
      Ref text = Ref::steal(PyUnicode_FromFormat("%s() got an unexpected keyword argument '%S'",
                                                  name_.c_str(), key));
      if (text) PyErr_SetObject(PyExc_TypeError, text.get());
      return false;
    }
    if (out.slots_[index] != nullptr) {
      return type_error(name_ + "() got multiple values for argument '" + params_[index].name + "'");
    }
    out.slots_[index] = args[nargs + k];
  }

  std::vector<std::string_view> missing_positional;
  std::vector<std::string_view> missing_keyword;
  for (size_t i = 0; i < params_.size(); ++i) {
    if (params_[i].required && out.slots_[i] == nullptr) {
      (params_[i].keyword_only ? missing_keyword : missing_positional).push_back(params_[i].name);
    }
  }
  if (!missing_positional.empty()) {
    return type_error(name_ + "() missing " +
                      plural(missing_positional.size(), "required positional argument") + ": " +
                      name_list(missing_positional));
  }
  if (!missing_keyword.empty()) {
    return type_error(name_ + "() missing " +
                      plural(missing_keyword.size(), "required keyword-only argument") + ": " +
                      name_list(missing_keyword));
  }
  return true;
}

bool Signature::bind(PyObject* args, PyObject* kwargs, Args& out) const {
  // Laid out as a fast call: the positional values, then the keyword values,
  // with the keyword names in a tuple. The tuple and dict hold the references.
  Py_ssize_t nargs = args == nullptr ? 0 : PyTuple_Size(args);
  if (nargs < 0) return false;
  std::vector<PyObject*> flat;
  for (Py_ssize_t i = 0; i < nargs; ++i) flat.push_back(PyTuple_GetItem(args, i));
  Ref names;
  if (kwargs != nullptr && PyDict_Size(kwargs) > 0) {
    Ref keys = Ref::steal(PyDict_Keys(kwargs));
    if (!keys) return false;
    Py_ssize_t n = PyList_Size(keys.get());
    for (Py_ssize_t i = 0; i < n; ++i) {
      PyObject* value = PyDict_GetItemWithError(kwargs, PyList_GetItem(keys.get(), i));
      if (value == nullptr) return propagate();
      flat.push_back(value);
    }
    names = Ref::steal(PyList_AsTuple(keys.get()));
    if (!names) return false;
  }
  return bind(flat.data(), nargs, names.get(), out);
}

}  // namespace quintrel::py
