// Report: the read-only view of a validation report. Every read builds new
// Python objects from the report it owns.
#include "classes.h"  // first: Python.h comes before the standard headers

#include "convert.h"
#include "profiles/records.h"
#include "views.h"

namespace quintrel::py {

namespace {

using receipt::Report;
using receipt::ValidationStatus;
using View = Class<Report>;

constexpr char kDoc[] =
    "The result of validating a receipt.\n"
    "A read-only view over the core report: every field is re-derived by\n"
    "validation, never trusted from the receipt.";

const char* status_word(ValidationStatus status) {
  switch (status) {
    case ValidationStatus::Clean: return "clean";
    case ValidationStatus::Tainted: return "tainted";
    case ValidationStatus::Invalid: break;
  }
  return "invalid";
}

Ref status(const Report& r) { return str(status_word(r.status)); }
Ref is_clean(const Report& r) { return py_bool(r.status == ValidationStatus::Clean); }
Ref reason(const Report& r) { return r.reason ? name_text(*r.reason) : Ref::borrow(Py_None); }
Ref problem(const Report& r) { return r.problem ? lossy_text(*r.problem) : Ref::borrow(Py_None); }
Ref spec_version(const Report& r) { return str(r.spec_version); }
Ref record_count(const Report& r) { return py_uint(r.record_count); }
Ref checked_records(const Report& r) { return py_uint(r.checked_records); }
Ref last_time(const Report& r) { return py_uint(r.last_time); }
Ref head_hash(const Report& r) { return hex_text(r.head_hash); }
Ref rules_hash(const Report& r) { return hex_text(r.rules_hash); }
Ref retracted(const Report& r) { return hex_list(r.retracted); }
Ref tainted(const Report& r) { return hex_list(r.tainted); }

Ref standing(const Report& r) {
  Ref restorations = Ref::steal(PyDict_New());
  if (!restorations) return {};
  bool failed = false;
  r.standing.restorations.for_each([&](const base::Id& unsound, std::span<const base::Id> restorers) {
    if (failed) return;
    Ref key = hex_text(unsound);
    Ref value = hex_list(restorers);
    failed = !key || !value || PyDict_SetItem(restorations.get(), key.get(), value.get()) < 0;
  });
  if (failed) return {};
  Ref dict = Ref::steal(PyDict_New());
  if (!dict || !put(dict.get(), "compromised", hex_list(r.standing.compromised)) ||
      !put(dict.get(), "unsound", hex_list(r.standing.unsound)) ||
      !put(dict.get(), "restorations", std::move(restorations))) {
    return {};
  }
  return dict;
}

Ref clause(const profiles::ClauseResult& c) {
  Ref dict = Ref::steal(PyDict_New());
  if (!dict || !put(dict.get(), "id", str(c.id)) || !put(dict.get(), "passed", py_bool(c.passed)) ||
      !put(dict.get(), "detail", str(c.detail))) {
    return {};
  }
  return dict;
}

Ref profile(const profiles::ProfileResult& p) {
  Ref clauses = Ref::steal(PyList_New(0));
  if (!clauses) return {};
  for (const profiles::ClauseResult& c : p.clauses) {
    Ref item = clause(c);
    if (!item || PyList_Append(clauses.get(), item.get()) < 0) return {};
  }
  Ref matches = p.declaration_matches ? py_bool(*p.declaration_matches) : Ref::borrow(Py_None);
  Ref dict = Ref::steal(PyDict_New());
  if (!dict || !put(dict.get(), "id", str(p.id)) || !put(dict.get(), "hash", hex_text(p.hash)) ||
      !put(dict.get(), "status", name_text(p.status)) || !put(dict.get(), "declared", py_bool(p.declared)) ||
      !put(dict.get(), "declaration_matches", std::move(matches)) ||
      !put(dict.get(), "met", py_bool(profiles::met(p))) || !put(dict.get(), "clauses", std::move(clauses))) {
    return {};
  }
  return dict;
}

Ref profile_list(const Report& r) {
  Ref list = Ref::steal(PyList_New(0));
  if (!list) return {};
  for (const profiles::ProfileResult& p : r.profiles) {
    Ref item = profile(p);
    if (!item || PyList_Append(list.get(), item.get()) < 0) return {};
  }
  return list;
}

PyGetSetDef getters[] = {
    property<Report, status>("status", "`\"clean\"`, `\"tainted\"`, or `\"invalid\"`."),
    property<Report, is_clean>("is_clean", "True only for a `\"clean\"` receipt."),
    property<Report, reason>("reason", "Verifier reason code for the first violation when replay failed."),
    property<Report, problem>("problem",
                    "Structural problem (unparseable bytes, unsupported version) when\n"
                    "validation could not even reach replay."),
    property<Report, spec_version>("spec_version", "Spec version the receipt declared (empty string if unparseable)."),
    property<Report, record_count>("record_count", nullptr),
    property<Report, checked_records>("checked_records", nullptr),
    property<Report, last_time>("last_time", nullptr),
    property<Report, head_hash>("head_hash",
                      "Lowercase hex of the SHA-256 head hash (compare against an anchored\n"
                      "head attestation)."),
    property<Report, rules_hash>("rules_hash",
                       "Lowercase hex of the SHA-256 rules hash (compare against rules agreed\n"
                       "out of band)."),
    property<Report, retracted>("retracted", "Hex ids of retracted records."),
    property<Report, tainted>("tainted", "Hex ids of tainted records."),
    property<Report, standing>("standing",
                     "The replay-derived standing section as a dict:\n"
                     "`{\"compromised\": [id...], \"unsound\": [id...], \"restorations\": {id: [id...]}}`."),
    property<Report, profile_list>(
        "profiles",
        "Profile results: every profile the receipt declares, in\n"
        "declaration order, then the ids requested via\n"
        "`validate(..., require_profile=...)` that the receipt did not declare.\n"
        "Empty when the receipt declares nothing and nothing was requested.\n"
        "Each is a dict `{\"id\", \"hash\" (lowercase hex of the profile's\n"
        "clause-table hash the validator evaluated), \"status\" (\"Conformant\" |\n"
        "\"NonConformant\" | \"Unknown\"), \"declared\" (bool),\n"
        "\"declaration_matches\" (True/False for a declared, known profile:\n"
        "whether the declared version and hash name the evaluated table; None\n"
        "otherwise), \"met\" (Conformant and, if declared, matching),\n"
        "\"clauses\": [{\"id\", \"passed\", \"detail\"}, ...]}`. A declaration is\n"
        "never trusted, and a profile result is a report alongside the\n"
        "verdict: it never changes `status` or `reason`."),
    {},
};

PyObject* to_str(PyObject* self) {
  return guarded([&]() -> PyObject* { return lossy_text(receipt::to_text(View::get(self))).release(); });
}

PyObject* repr(PyObject* self) {
  return guarded([&]() -> PyObject* {
    const Report& r = View::get(self);
    return str("Report(status=" + quoted(status_word(r.status)) + ", records=" + std::to_string(r.record_count) +
               ", spec_version=" + quoted(r.spec_version) + ")")
        .release();
  });
}

}  // namespace

PyTypeObject* report_type() {
  return View::create({.name = "Report",
                       .doc = kDoc,
                       .getters = getters,
                       .slots = {{Py_tp_str, reinterpret_cast<void*>(to_str)},
                                 {Py_tp_repr, reinterpret_cast<void*>(repr)}}});
}

Ref new_report(receipt::Report report) { return Ref::steal(View::wrap(std::move(report))); }

}  // namespace quintrel::py
