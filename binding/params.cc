#include "params.h"

#include <stdexcept>

namespace quintrel::py {

namespace {

std::string build_doc(const char* name, Shape shape, const std::vector<ParamList::Entry>& entries,
                      std::string_view prose) {
  std::string doc = std::string(name) + "(";
  bool first = true;
  auto add = [&](std::string_view part) {
    if (!first) doc += ", ";
    doc += part;
    first = false;
  };
  if (shape == Shape::kMethod) add("$self");
  bool keyword_only = false;
  for (const ParamList::Entry& e : entries) {
    if (e.keyword_only && !keyword_only) add("*");
    if (!e.keyword_only && keyword_only) throw std::logic_error(std::string(name) + ": positional after keyword-only");
    keyword_only = e.keyword_only;
    add(e.default_text.empty() ? std::string(e.name) : std::string(e.name) + "=" + std::string(e.default_text));
  }
  return doc + ")\n--\n\n" + std::string(prose);
}

// The object a default stands for: None, True, False, a decimal integer or a
// double-quoted text without escapes. A new reference.
PyObject* default_object(std::string_view text) {
  if (text == "None") return Py_NewRef(Py_None);
  if (text == "True") return Py_NewRef(Py_True);
  if (text == "False") return Py_NewRef(Py_False);
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"' &&
      text.find('\\') == std::string_view::npos) {
    return str(text.substr(1, text.size() - 2)).release();
  }
  const std::string digits(text);
  if (!digits.empty() && digits.find_first_not_of("-0123456789") == std::string::npos) {
    return PyLong_FromString(digits.c_str(), nullptr, 10);
  }
  throw std::logic_error("unsupported default " + digits);
}

}  // namespace

ParamList::ParamList(const char* name, Shape shape, std::string_view owner, const std::vector<Entry>& entries,
                     std::string_view prose)
    : name_(name), doc_(build_doc(name, shape, entries, prose)), signature_(doc_.c_str(), owner) {
  for (const Entry& e : entries) {
    PyObject* value = nullptr;
    if (!e.default_text.empty()) {
      value = default_object(e.default_text);
      if (value == nullptr) {
        PyErr_Clear();
        throw std::logic_error("unsupported default " + std::string(e.default_text));
      }
    }
    defaults_.push_back(value);
  }
}

}  // namespace quintrel::py
