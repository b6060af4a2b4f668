// The module functions `read` and `validate`: receipt bytes from any source,
// parsed for inspection or judged offline.
#include "call.h"  // first: Python.h comes before the standard headers

#include "module.h"
#include "receipt/validate.h"

namespace quintrel::py {

namespace {

// A bytes object (no other byte-like type), read in place: it cannot change.
struct ReceiptBytes {
  Ref object;
  std::string_view bytes;
};

// The profile ids `validate` is asked for, in the caller's order.
struct ProfileRequest {
  std::vector<std::string> ids;
};

struct ValidateArgs {
  ReceiptBytes data;
  ProfileRequest require_profile;
};

struct ReadArgs {
  ReceiptBytes data;
};

}  // namespace

template <>
struct Convert<ReceiptBytes> {
  static bool from(PyObject* o, const ArgName& name, ReceiptBytes& out) {
    if (!PyBytes_Check(o)) return wrong_type(name, "bytes", o);
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(o, &data, &size) < 0) return false;
    out = {Ref::borrow(o), {data, static_cast<size_t>(size)}};
    return true;
  }
};

// None, one id, or a sequence of ids; anything else is the operation's own
// ValueError, not a TypeError.
template <>
struct Convert<ProfileRequest> {
  static bool from(PyObject* o, const ArgName& name, ProfileRequest& out) {
    if (o == Py_None) return true;
    if (PyUnicode_Check(o)) return to_text(o, name, out.ids.emplace_back());
    if (PySequence_Check(o) && to_text_list(o, name, out.ids)) return true;
    if (PySequence_Check(o) && !PyErr_ExceptionMatches(PyExc_TypeError)) return false;
    PyErr_Clear();
    return value_error("require_profile must be a profile id (str) or a list of ids");
  }
};

namespace {

constexpr char kValidateProse[] =
    "Validate a receipt offline and return a `Report`. The same replay as any\n"
    "independent verifier: ids, chain, every verdict re-derived, evidence, taint\n"
    "and the standing section. Never raises for an invalid receipt: an\n"
    "unparseable or failing receipt returns a `Report` with status\n"
    "`\"invalid\"` and `problem` or `reason` set.\n"
    "\n"
    "`require_profile` names a profile id, or a list of ids, to evaluate on top\n"
    "of the verdict (e.g. `\"quintrel-core-v1\"`); the results land in the\n"
    "report's `profiles` in request order. An id the validator does not\n"
    "recognise is reported as `\"Unknown\"`, never raised. Profiles never\n"
    "change the verdict.";

constexpr char kReadProse[] =
    "Parse a receipt for inspection. Raises `ValueError` if the bytes are not a\n"
    "parseable receipt. Reading does not verify - use [`validate`] for the\n"
    "decision.";

const Params<ValidateArgs>& validate_params() {
  static const Params<ValidateArgs> table(
      "validate", Shape::kFunction, "",
      {arg<&ValidateArgs::data>("data"), arg<&ValidateArgs::require_profile>("require_profile", "None")},
      kValidateProse);
  return table;
}

const Params<ReadArgs>& read_params() {
  static const Params<ReadArgs> table("read", Shape::kFunction, "", {arg<&ReadArgs::data>("data")}, kReadProse);
  return table;
}

Ref validate(ValidateArgs args) {
  return new_report(
      receipt::validate_with_profiles(args.data.bytes, receipt::kStandardLimits, args.require_profile.ids));
}

Ref read(ReadArgs args) {
  auto parsed = receipt::Receipt::from_bytes(args.data.bytes);
  if (!parsed) return value_error("not a parseable receipt: " + parsed.error().to_string());
  return new_receipt(std::move(*parsed));
}

}  // namespace

PyMethodDef* validate_def() {
  static PyMethodDef def = function_def<ValidateArgs, validate_params, validate>();
  return &def;
}

PyMethodDef* read_def() {
  static PyMethodDef def = function_def<ReadArgs, read_params, read>();
  return &def;
}

}  // namespace quintrel::py
