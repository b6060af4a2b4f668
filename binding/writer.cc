// Writer: the one class that writes a log, bound to the thread that made it.
// Its verbs are in the files of their own; here are the constructor, the
// members that read the log and the class itself.
#include "call.h"  // first: Python.h comes before the standard headers

#include "base/hash.h"
#include "verbs.h"

namespace quintrel::py {

namespace {

using View = Class<writer::Writer>;

struct OpenArgs {
  std::string log_dir;
  std::string rules;
  writer::SignerKeys signers;
};

struct ReceiptArgs {
  std::optional<std::vector<std::string>> profiles;
};

}  // namespace

// None, or a dict of author id to secret: a str of hex (trimmed here), bytes,
// bytearray, or a list or tuple of integers 0 to 255. No code of the caller's
// objects runs; a value of no accepted form is judged with the names.
template <>
struct Convert<writer::SignerKeys> {
  static bool from(PyObject* o, const ArgName& name, writer::SignerKeys& out) {
    if (o == Py_None) return true;
    std::map<std::string, Ref> objects;
    if (!to_dict(o, name, objects)) return false;
    for (const auto& [author, value] : objects) {
      if (!key_of(value.get(), out[author])) return false;
    }
    return true;
  }

 private:
  static bool key_of(PyObject* o, writer::SignerKey& key) {
    using Form = writer::SignerKey::Form;
    if (PyUnicode_Check(o)) {
      Py_ssize_t size = 0;
      const char* utf8 = PyUnicode_AsUTF8AndSize(o, &size);
      if (utf8 == nullptr) {
        // Lone surrogates: no hex text has them.
        PyErr_Clear();
        key.form = Form::Text;
        return true;
      }
      key.form = Form::Text;
      key.text = trim_whitespace({utf8, static_cast<size_t>(size)});
      return true;
    }
    if (PyBytes_Check(o) || PyByteArray_Check(o)) {
      const char* data = PyBytes_Check(o) ? PyBytes_AsString(o) : PyByteArray_AsString(o);
      Py_ssize_t size = PyBytes_Check(o) ? PyBytes_Size(o) : PyByteArray_Size(o);
      if (data == nullptr || size < 0) return false;
      key.form = Form::Bytes;
      key.bytes.assign(data, data + size);
      return true;
    }
    if (PyList_Check(o) || PyTuple_Check(o)) {
      Py_ssize_t size = PyList_Check(o) ? PyList_Size(o) : PyTuple_Size(o);
      std::vector<uint8_t> bytes;
      for (Py_ssize_t i = 0; i < size; ++i) {
        PyObject* item = PyList_Check(o) ? PyList_GetItem(o, i) : PyTuple_GetItem(o, i);
        if (item == nullptr) return false;
        if (!PyLong_Check(item)) return true;  // of no accepted form
        int overflow = 0;
        long v = PyLong_AsLongAndOverflow(item, &overflow);
        if (v == -1 && PyErr_Occurred()) return false;
        if (overflow != 0 || v < 0 || v > 255) return true;
        bytes.push_back(static_cast<uint8_t>(v));
      }
      key.form = Form::Bytes;
      key.bytes = std::move(bytes);
    }
    return true;
  }
};

namespace {

constexpr char kProse[] =
    "Record evolution to a persistent, single-writer log.\n"
    "\n"
    "A thin wrapper over the log writer: it holds the same exclusive `.lock`,\n"
    "re-verifies the existing log on open and replays every commit. `rules`\n"
    "are the verifier rules the log is committed under, as a JSON string (the\n"
    "same object a receipt embeds under `rules`).\n"
    "\n"
    "Concurrency\n"
    "\n"
    "The log is single-writer: generate candidates concurrently, then record\n"
    "them serially through one `Writer`.";

const Params<OpenArgs>& open_params() {
  static const Params<OpenArgs> table(
      "Writer", Shape::kFunction, "",
      {arg<&OpenArgs::log_dir>("log_dir"), arg<&OpenArgs::rules>("rules"),
       arg<&OpenArgs::signers>("signers", "None")},
      kProse);
  return table;
}

const Params<ReceiptArgs>& receipt_params() {
  static const Params<ReceiptArgs> table(
      "receipt", Shape::kMethod, "Writer", {arg<&ReceiptArgs::profiles>("profiles", "None")},
      "Export the log as a portable receipt (canonical JSON bytes): feed it to\n"
      "`validate` or `read`, or hand it to any independent verifier.\n"
      "\n"
      "`profiles` declares the named profiles the receipt claims,\n"
      "e.g. `[\"quintrel-core-v1\"]`, with the version and hash this package\n"
      "knows. The declaration is not evaluated here - every validator\n"
      "re-checks it, so a false claim exports and then reports\n"
      "`NonConformant`. An unrecognised or repeated id raises `ValueError`.");
  return table;
}

writer::Result<Bytes> export_receipt(const writer::Writer& w, ReceiptArgs args) {
  auto bytes = w.receipt(args.profiles.value_or(std::vector<std::string>{}));
  if (!bytes) return std::unexpected(std::move(bytes.error()));
  return Bytes{std::move(*bytes)};
}

PyObject* create(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    const Params<OpenArgs>& params = open_params();
    Args bound;
    OpenArgs values;
    if (!params.bind(args, kwargs, bound) || !params.convert(bound, values)) return nullptr;
    auto opened = writer::Writer::open(values.log_dir, values.rules, values.signers);
    if (!opened) return raise_refusal(opened.error());
    return View::wrap_as(type, std::move(*opened));
  });
}

PyObject* head(PyObject* self, void*) {
  return guarded([&]() -> PyObject* {
    base::Id id;
    {
      Use use(self, Access::kShared);
      if (!use) return nullptr;
      id = View::get(self).head();
    }
    return hex_text(id).release();
  });
}

PyObject* records(PyObject* self, void*) {
  return guarded([&]() -> PyObject* {
    std::vector<record::Record> copy;
    {
      Use use(self, Access::kShared);
      if (!use) return nullptr;
      copy = View::get(self).records();
    }
    return record_list(std::move(copy)).release();
  });
}

Py_ssize_t length(PyObject* self) {
  return guarded([&]() -> Py_ssize_t {
    Use use(self, Access::kShared);
    if (!use) return -1;
    return static_cast<Py_ssize_t>(View::get(self).records().size());
  });
}

PyObject* repr(PyObject* self) {
  return guarded([&]() -> PyObject* {
    size_t count = 0;
    {
      Use use(self, Access::kShared);
      if (!use) return nullptr;
      count = View::get(self).records().size();
    }
    return str("Writer(records=" + std::to_string(count) + ")").release();
  });
}

PyGetSetDef getters[] = {
    {"head", head, nullptr, "The current head id, lowercase hex (all-zero for an empty log).", nullptr},
    {"records", records, nullptr, "The committed records in order (subjects and verdicts).", nullptr},
    {},
};

}  // namespace

PyTypeObject* writer_type() {
  if (View::type() != nullptr) return View::type();
  // In the class's order; the methods and the type keep pointers into this
  // table, which lives as long as the process.
  auto* methods = new std::vector<PyMethodDef>{
      request_def(),
      requirement_def(),
      candidate_def(),
      evaluate_def(),
      select_def(),
      retract_def(),
      writer_method<ReceiptArgs, receipt_params, Access::kShared, export_receipt>(),
  };
  for (const PyMethodDef& query : writer_queries()) methods->push_back(query);
  methods->push_back({});
  return View::create({.name = "Writer",
                       .doc = open_params().doc(),
                       .methods = methods->data(),
                       .getters = getters,
                       .slots = {{Py_tp_new, reinterpret_cast<void*>(create)},
                                 {Py_mp_length, reinterpret_cast<void*>(length)},
                                 {Py_tp_repr, reinterpret_cast<void*>(repr)}},
                       .thread_bound = true});
}

}  // namespace quintrel::py
