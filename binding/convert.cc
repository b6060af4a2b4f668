#include "convert.h"

#include "base/hash.h"
#include "base/json_reader.h"
#include "base/utf8.h"

namespace quintrel::py {

std::string ArgName::text() const {
  std::string s;
  s.append(function).append("() argument '").append(param).append("'").append(detail);
  return s;
}

ArgName ArgName::item(size_t index) const {
  return {function, param, detail + " item " + std::to_string(index)};
}

ArgName ArgName::key() const { return {function, param, detail + " key"}; }

ArgName ArgName::value_of(std::string_view key) const {
  return {function, param, detail + " value for key " + quoted(key)};
}

std::string wrong_type_text(const ArgName& name, std::string_view expected, PyObject* o) {
  std::string text = name.text();
  text.append(" must be ").append(expected).append(", not ").append(type_name(o));
  return text;
}

Raised wrong_type(const ArgName& name, std::string_view expected, PyObject* o) {
  return type_error(wrong_type_text(name, expected, o));
}

bool to_text(PyObject* o, const ArgName& name, std::string& out, Surrogates surrogates) {
  if (!PyUnicode_Check(o)) return wrong_type(name, "str", o);
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(o, &size);
  if (utf8 != nullptr) {
    out.assign(utf8, static_cast<size_t>(size));
    return true;
  }
  if (surrogates == Surrogates::kRefused || !PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return propagate();
  PyErr_Clear();
  Ref bytes = Ref::steal(PyUnicode_AsEncodedString(o, "utf-8", "surrogatepass"));
  char* data = nullptr;
  if (!bytes || PyBytes_AsStringAndSize(bytes.get(), &data, &size) < 0) return propagate();
  out.assign(data, static_cast<size_t>(size));
  return true;
}

namespace {

Raised out_of_range(const ArgName& name, const std::string& range) {
  return overflow_error(name.text() + " is out of range (" + range + ")");
}

// The integer an object stands for, or null with TypeError naming the argument.
Ref index_of(PyObject* o, const ArgName& name) {
  Ref index = Ref::steal(PyNumber_Index(o));
  if (!index && PyErr_ExceptionMatches(PyExc_TypeError)) {
    PyErr_Clear();
    wrong_type(name, "int", o);
  }
  return index;
}

}  // namespace

namespace {

// numpy's bool scalar is a static type whose full name is "numpy.bool" (numpy
// 2) or "numpy.bool_" (numpy 1); for a static type __module__ and __name__
// come from that name. A class written in Python is a heap type, so one that
// merely calls itself numpy.bool_ is not taken for it.
bool is_numpy_bool(PyObject* o) {
  PyTypeObject* type = Py_TYPE(o);
  if ((PyType_GetFlags(type) & Py_TPFLAGS_HEAPTYPE) != 0) return false;
  auto attribute = [&](const char* which) {
    Ref value = Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), which));
    Py_ssize_t size = 0;
    const char* utf8 = value && PyUnicode_Check(value.get()) ? PyUnicode_AsUTF8AndSize(value.get(), &size) : nullptr;
    if (utf8 == nullptr) PyErr_Clear();
    return utf8 ? std::string(utf8, static_cast<size_t>(size)) : std::string();
  };
  if (attribute("__module__") != "numpy") return false;
  const std::string name = attribute("__name__");
  return name == "bool" || name == "bool_";
}

}  // namespace

bool to_bool(PyObject* o, const ArgName& name, bool& out) {
  if (PyBool_Check(o)) {
    out = o == Py_True;
    return true;
  }
  if (is_numpy_bool(o)) {
    int truth = PyObject_IsTrue(o);
    if (truth < 0) return false;
    out = truth == 1;
    return true;
  }
  return wrong_type(name, "bool", o);
}

bool to_signed(PyObject* o, const ArgName& name, int64_t min, int64_t max, int64_t& out) {
  Ref index = index_of(o, name);
  if (!index) return false;
  int overflow = 0;
  long long v = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
  if (v == -1 && PyErr_Occurred()) return false;
  if (overflow != 0 || v < min || v > max) {
    return out_of_range(name, std::to_string(min) + " to " + std::to_string(max));
  }
  out = v;
  return true;
}

bool to_unsigned(PyObject* o, const ArgName& name, uint64_t max, uint64_t& out) {
  Ref index = index_of(o, name);
  if (!index) return false;
  unsigned long long v = PyLong_AsUnsignedLongLong(index.get());
  bool failed = v == static_cast<unsigned long long>(-1) && PyErr_Occurred();
  if (failed && !PyErr_ExceptionMatches(PyExc_OverflowError)) return false;
  if (failed) PyErr_Clear();  // negative or above 2**64 - 1
  if (failed || v > max) return out_of_range(name, "0 to " + std::to_string(max));
  out = v;
  return true;
}

bool to_text_list(PyObject* o, const ArgName& name, std::vector<std::string>& out, Surrogates surrogates) {
  if (PyUnicode_Check(o) || !PySequence_Check(o)) return wrong_type(name, "a list of str", o);
  Py_ssize_t size = PySequence_Size(o);
  if (size < 0) return false;
  // Nothing is reserved from the length the sequence claims, which may be any
  // (range(10**18) has one): the items are read one by one, and the first
  // that does not convert decides.
  std::vector<std::string> items;
  for (Py_ssize_t i = 0; i < size; ++i) {
    Ref item = Ref::steal(PySequence_GetItem(o, i));
    if (!item) return false;
    if (!to_text(item.get(), name.item(static_cast<size_t>(i)), items.emplace_back(), surrogates)) return false;
  }
  out = std::move(items);
  return true;
}

bool to_dict(PyObject* o, const ArgName& name, std::map<std::string, Ref>& out) {
  if (!PyDict_Check(o)) return wrong_type(name, "a dict", o);
  Ref items = Ref::steal(PyDict_Items(o));
  if (!items) return false;
  Py_ssize_t size = PyList_Size(items.get());
  std::map<std::string, Ref> result;
  for (Py_ssize_t i = 0; i < size; ++i) {
    PyObject* pair = PyList_GetItem(items.get(), i);
    PyObject* key = pair ? PyTuple_GetItem(pair, 0) : nullptr;
    PyObject* value = pair ? PyTuple_GetItem(pair, 1) : nullptr;
    if (key == nullptr || value == nullptr) return propagate();
    std::string text;
    if (!to_text(key, name.key(), text)) return false;
    // Distinct str keys have distinct UTF-8 forms, so nothing is overwritten.
    result.emplace(std::move(text), Ref::borrow(value));
  }
  out = std::move(result);
  return true;
}

bool to_text_dict(PyObject* o, const ArgName& name, std::map<std::string, std::string>& out) {
  std::map<std::string, Ref> objects;
  if (!to_dict(o, name, objects)) return false;
  std::map<std::string, std::string> result;
  for (const auto& [key, value] : objects) {
    if (!to_text(value.get(), name.value_of(key), result[key])) return false;
  }
  out = std::move(result);
  return true;
}

namespace {

bool is_white_space(uint32_t cp) {
  return (cp >= 0x09 && cp <= 0x0D) || cp == 0x20 || cp == 0x85 || cp == 0xA0 || cp == 0x1680 ||
         (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F ||
         cp == 0x205F || cp == 0x3000;
}

}  // namespace

std::string_view trim_whitespace(std::string_view text) {
  auto bytes = [&](size_t i) { return reinterpret_cast<const unsigned char*>(text.data()) + i; };
  size_t begin = 0;
  while (begin < text.size()) {
    size_t n = base::utf8_length(*bytes(begin));
    if (begin + n > text.size() || !is_white_space(base::utf8_decode(bytes(begin), n))) break;
    begin += n;
  }
  size_t end = text.size();
  while (end > begin) {
    size_t start = end - 1;
    while (start > begin && (*bytes(start) & 0xC0) == 0x80) --start;
    size_t n = end - start;
    if (n != base::utf8_length(*bytes(start)) || !is_white_space(base::utf8_decode(bytes(start), n))) break;
    end = start;
  }
  return text.substr(begin, end - begin);
}

std::optional<base::Id> parse_id(std::string_view text) {
  auto id = writer::parse_id(text);
  if (!id) {
    raise_refusal(id.error());
    return std::nullopt;
  }
  return *id;
}

std::optional<base::Id> parse_hash(std::string_view name, std::string_view text) {
  auto id = writer::parse_hash(name, text);
  if (!id) {
    raise_refusal(id.error());
    return std::nullopt;
  }
  return *id;
}

Raised raise_refusal(const writer::Refusal& refusal) {
  switch (refusal.kind) {
    case writer::Refusal::Kind::Runtime:
      return runtime_error(refusal.message);
    case writer::Refusal::Kind::Type:
      return type_error(refusal.message);
    case writer::Refusal::Kind::Value:
      break;
  }
  return value_error(refusal.message);
}

Ref json_to_py(const base::Json& value) {
  // The compact writer cannot fail on a value tree, so there is no error text
  // to report from this step.
  std::string text = base::write_compact(value);
  Ref json = Ref::steal(PyImport_ImportModule("json"));
  if (!json) return {};
  Ref loads = Ref::steal(PyObject_GetAttrString(json.get(), "loads"));
  if (!loads) return {};
  // Surrogates pass: a text the caller gave with lone surrogates (the
  // objective of `selected`) comes back as it was given.
  Ref arg = Ref::steal(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogatepass"));
  if (!arg) return {};
  Ref result = Ref::steal(PyObject_CallFunctionObjArgs(loads.get(), arg.get(), nullptr));
  if (!result) propagate();
  return result;
}

std::string quoted(std::string_view text) { return base::debug_quote(text); }

Ref py_bool(bool value) { return Ref::borrow(value ? Py_True : Py_False); }

Ref py_uint(uint64_t value) { return Ref::steal(PyLong_FromUnsignedLongLong(value)); }

Ref hex_text(const base::Id& id) { return str(base::hex_encode(id)); }

namespace {

template <class Ids>
Ref hex_list_of(const Ids& ids) {
  Ref list = Ref::steal(PyList_New(0));
  if (!list) return {};
  for (const base::Id& id : ids) {
    Ref text = hex_text(id);
    if (!text || PyList_Append(list.get(), text.get()) < 0) return {};
  }
  return list;
}

}  // namespace

Ref hex_list(std::span<const base::Id> ids) { return hex_list_of(ids); }
Ref hex_list(const base::IdSet& ids) { return hex_list_of(ids); }

Ref lossy_text(std::string_view bytes) {
  return Ref::steal(PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), "replace"));
}

Ref optional_text(const std::optional<std::string>& text) {
  return text ? str(*text) : Ref::borrow(Py_None);
}

bool put(PyObject* dict, const char* key, Ref value) {
  return value && PyDict_SetItemString(dict, key, value.get()) == 0;
}

}  // namespace quintrel::py
