#include "artifacts.h"

namespace quintrel::py {

namespace {

using writer::ArtifactEntry;
using writer::ArtifactField;

bool field_of(PyObject* dict, const char* key, const ArgName& name, ArtifactField& out) {
  Ref text_key = str(key);
  if (!text_key) return false;
  // A strong reference: comparing keys may run code that changes the dict.
  Ref value = Ref::borrow(PyDict_GetItemWithError(dict, text_key.get()));
  if (!value) return !PyErr_Occurred();
  if (value.get() == Py_None) return true;
  const ArgName field = name.value_of(key);
  if (!PyUnicode_Check(value.get())) {
    out.state = ArtifactField::State::NotText;
    out.text = wrong_type_text(field, "str", value.get());
    return true;
  }
  out.state = ArtifactField::State::Text;
  return to_text(value.get(), field, out.text);
}

bool entry_of(PyObject* o, const ArgName& name, ArtifactEntry& out) {
  if (PyUnicode_Check(o)) {
    out.form = ArtifactEntry::Form::Text;
    return to_text(o, name, out.text);
  }
  if (PyDict_Check(o)) {
    out.form = ArtifactEntry::Form::Dict;
    return field_of(o, "scheme", name, out.scheme) && field_of(o, "digest", name, out.digest) &&
           field_of(o, "name", name, out.name);
  }
  out.form = ArtifactEntry::Form::Other;
  return true;
}

}  // namespace

bool Convert<writer::ArtifactEntries>::from(PyObject* o, const ArgName& name, writer::ArtifactEntries& out) {
  if (PyUnicode_Check(o) || !PySequence_Check(o)) return wrong_type(name, "a list of str or dict", o);
  Py_ssize_t size = PySequence_Size(o);
  if (size < 0) return false;
  writer::ArtifactEntries entries;  // nothing reserved from the claimed length (see to_text_list)
  for (Py_ssize_t i = 0; i < size; ++i) {
    Ref item = Ref::steal(PySequence_GetItem(o, i));
    if (!item || !entry_of(item.get(), name.item(static_cast<size_t>(i)), entries.emplace_back())) return false;
    // The entries are judged in order and the first bad one refuses, so
    // nothing after one that is neither a str nor a dict is ever looked at.
    if (entries.back().form == ArtifactEntry::Form::Other) break;
  }
  out = std::move(entries);
  return true;
}

}  // namespace quintrel::py
