#include "classes.h"

#include <atomic>

namespace quintrel::py {

uint64_t current_thread_token() {
  // Tokens start at 1, so 0 can mean "not thread-bound".
  static std::atomic<uint64_t> next{1};
  thread_local const uint64_t token = next.fetch_add(1, std::memory_order_relaxed);
  return token;
}

namespace {

// "quintrel::Writer": how messages about thread binding name a class.
std::string bound_name(PyTypeObject* type) { return "quintrel::" + type_name_of(type); }

PyObject* refuse_new(PyTypeObject* type, PyObject*, PyObject*) {
  return guarded([&]() -> PyObject* {
    return type_error("cannot create 'quintrel." + type_name_of(type) + "' instances");
  });
}

// Released on a foreign thread, the value is left alive for good (its
// destructor could touch state that belongs to the creating thread); the
// interpreter reports that as an unraisable error.
void report_foreign_release(PyTypeObject* type) {
  PyObject *t, *v, *tb;
  PyErr_Fetch(&t, &v, &tb);
  runtime_error(bound_name(type) + " is unsendable, but is being dropped on another thread");
  // The type, not the dying instance, is named: printing the instance would
  // revive it during its own deallocation.
  PyErr_WriteUnraisable(reinterpret_cast<PyObject*>(type));
  PyErr_Restore(t, v, tb);
}

void dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  Instance* inst = instance(self);
  if (inst->value != nullptr) {
    if (inst->owner == 0 || inst->owner == current_thread_token()) {
      inst->destroy(inst->value);
    } else {
      guarded([&] {
        report_foreign_release(type);
        return 0;
      });
    }
  }
  auto free = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free(self);
  Py_DECREF(type);
}

}  // namespace

PyTypeObject* create_type(const ClassSpec& spec) {
  // The type keeps a pointer to its name and lives as long as the process, so
  // the name does too.
  const std::string* full_name = new std::string(std::string("quintrel.") + spec.name);
  std::vector<PyType_Slot> slots = {{Py_tp_dealloc, reinterpret_cast<void*>(dealloc)}};
  if (spec.doc != nullptr) slots.push_back({Py_tp_doc, const_cast<char*>(spec.doc)});
  if (spec.methods != nullptr) slots.push_back({Py_tp_methods, spec.methods});
  if (spec.getters != nullptr) slots.push_back({Py_tp_getset, spec.getters});
  bool constructor = false;
  for (const PyType_Slot& s : spec.slots) {
    constructor = constructor || s.slot == Py_tp_new;
    slots.push_back(s);
  }
  if (!constructor) slots.push_back({Py_tp_new, reinterpret_cast<void*>(refuse_new)});
  slots.push_back({0, nullptr});

  // No Py_TPFLAGS_BASETYPE: the classes cannot be subclassed. Immutable: the
  // types outlive any one import of the module and are shared by all.
  PyType_Spec type_spec = {full_name->c_str(), static_cast<int>(sizeof(Instance)), 0,
                           Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, slots.data()};
  PyObject* type = PyType_FromSpec(&type_spec);
  if (type == nullptr) {
    PyObject *t, *v, *tb;
    PyErr_Fetch(&t, &v, &tb);
    PyErr_NormalizeException(&t, &v, &tb);
    Ref cause = Ref::steal(v ? PyObject_Str(v) : nullptr);
    Py_ssize_t size = 0;
    const char* text = cause ? PyUnicode_AsUTF8AndSize(cause.get(), &size) : nullptr;
    std::string detail = text ? std::string(text, static_cast<size_t>(size)) : "unknown error";
    PyErr_Clear();
    Py_XDECREF(t);
    Py_XDECREF(v);
    Py_XDECREF(tb);
    delete full_name;
    runtime_error("cannot create class quintrel." + std::string(spec.name) + ": " + detail);
    return nullptr;
  }
  return reinterpret_cast<PyTypeObject*>(type);
}

PyObject* new_instance(PyTypeObject* type, void* value, void (*destroy)(void*), bool thread_bound) {
  if (type == nullptr) {
    destroy(value);
    return runtime_error("a quintrel class is used before the module created it");
  }
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  PyObject* self = alloc(type, 0);
  if (self == nullptr) {
    destroy(value);
    return nullptr;
  }
  Instance* inst = instance(self);
  inst->value = value;
  inst->destroy = destroy;
  inst->owner = thread_bound ? current_thread_token() : 0;
  inst->borrows = 0;
  return self;
}

bool on_owner_thread(PyObject* self) {
  const uint64_t owner = instance(self)->owner;
  if (owner == 0 || owner == current_thread_token()) return true;
  return panic(bound_name(Py_TYPE(self)) + " is unsendable, but sent to another thread");
}

Use::Use(PyObject* self, Access access) : self_(instance(self)), access_(access) {
  if (!on_owner_thread(self)) return;
  if (access == Access::kShared ? self_->borrows < 0 : self_->borrows != 0) {
    runtime_error(bound_name(Py_TYPE(self)) +
                  (self_->borrows < 0 ? " is already in use by a call that changes it"
                                      : " cannot be changed while another call is using it"));
    return;
  }
  self_->borrows = access == Access::kShared ? self_->borrows + 1 : -1;
  taken_ = true;
}

Use::~Use() {
  if (!taken_) return;
  self_->borrows = access_ == Access::kShared ? self_->borrows - 1 : 0;
}

}  // namespace quintrel::py
