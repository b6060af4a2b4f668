// Conversions between Python values and the core's values. Every converter
// returns false with a Python exception set when the value does not convert;
// type errors name the argument.
#pragma once

#include "py.h"  // first: Python.h comes before the standard headers

#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "base/canonical.h"
#include "base/codec.h"
#include "writer/writer.h"

namespace quintrel::py {

// Names a value in error texts: "default_rules() argument 'admins'", then a
// detail such as " item 2" or " key".
struct ArgName {
  std::string_view function;  // "default_rules" or "Writer.request"
  std::string_view param;
  std::string detail;

  std::string text() const;
  ArgName item(size_t index) const;
  ArgName key() const;
  ArgName value_of(std::string_view key) const;
};

// TypeError "{name} must be {expected}, not {type of o}", and its text alone.
Raised wrong_type(const ArgName& name, std::string_view expected, PyObject* o);
std::string wrong_type_text(const ArgName& name, std::string_view expected, PyObject* o);

// What becomes of a str holding lone surrogates, which has no UTF-8 form:
// refused with the interpreter's UnicodeEncodeError, or kept, each surrogate
// as the three bytes UTF-8 would give its code point ("surrogatepass"). Kept
// only for texts the core judges for itself: a record id or hash, which its
// parser then refuses as it refuses any other malformed one (the surrogate
// escaped in the message), and the objective `selected` looks up, which no
// stored objective can equal.
enum class Surrogates : uint8_t { kRefused, kKept };

// A str, as UTF-8 with its size (NUL characters included).
bool to_text(PyObject* o, const ArgName& name, std::string& out, Surrogates surrogates = Surrogates::kRefused);

// A bool, or numpy's bool scalar (recognised without importing numpy); an int
// (even 0 or 1) or None is refused.
bool to_bool(PyObject* o, const ArgName& name, bool& out);

// An int (or an object with __index__) within [min, max]; OverflowError
// outside it, TypeError for a value that is not an integer.
bool to_signed(PyObject* o, const ArgName& name, int64_t min, int64_t max, int64_t& out);
bool to_unsigned(PyObject* o, const ArgName& name, uint64_t max, uint64_t& out);

// The range of the integer type T.
template <class T>
bool to_int(PyObject* o, const ArgName& name, T& out) {
  static_assert(std::is_integral_v<T> && !std::is_same_v<T, bool>);
  if constexpr (std::is_signed_v<T>) {
    int64_t v = 0;
    if (!to_signed(o, name, std::numeric_limits<T>::min(), std::numeric_limits<T>::max(), v)) return false;
    out = static_cast<T>(v);
  } else {
    uint64_t v = 0;
    if (!to_unsigned(o, name, std::numeric_limits<T>::max(), v)) return false;
    out = static_cast<T>(v);
  }
  return true;
}

// A list, tuple or other sequence of str, in order. A str is refused, though
// it is a sequence of str.
bool to_text_list(PyObject* o, const ArgName& name, std::vector<std::string>& out,
                  Surrogates surrogates = Surrogates::kRefused);

// A dict (or dict subclass) with str keys, read into a map ordered by the keys'
// UTF-8 bytes, values kept as given. The items are copied first, so code run by
// a later conversion of the values cannot disturb the walk.
bool to_dict(PyObject* o, const ArgName& name, std::map<std::string, Ref>& out);

// A dict of str to str.
bool to_text_dict(PyObject* o, const ArgName& name, std::map<std::string, std::string>& out);

// Leading and trailing Unicode white space (the White_Space property) removed.
std::string_view trim_whitespace(std::string_view text);

// A 32-byte record id from exactly 64 lowercase hex characters; otherwise
// ValueError "invalid record id {:?}".
std::optional<base::Id> parse_id(std::string_view text);

// A named 32-byte hash argument; otherwise ValueError
// "invalid {name} {:?} (expected 64 hex chars)".
std::optional<base::Id> parse_hash(std::string_view name, std::string_view text);

// Raises a refusal of the core as its Python exception: ValueError,
// RuntimeError or TypeError, with its text.
Raised raise_refusal(const writer::Refusal& refusal);

// A JSON value tree as plain Python objects, through its compact text and the
// json module's loads: objects become dicts in the tree's key order, integers
// ints of any size, floats floats. Null with an exception set on failure.
Ref json_to_py(const base::Json& value);

// {:?} of a text: double-quoted, with quotes, backslashes and control
// characters escaped.
std::string quoted(std::string_view text);

// --- core values as new Python objects (null with an exception on failure) ---

Ref py_bool(bool value);
Ref py_uint(uint64_t value);
// An id as 64 lowercase hex characters.
Ref hex_text(const base::Id& id);
// The ids in hex, in order.
Ref hex_list(std::span<const base::Id> ids);
Ref hex_list(const base::IdSet& ids);
// A text whose bytes may not all be UTF-8: each maximal invalid sequence
// becomes U+FFFD, so it never fails on its content.
Ref lossy_text(std::string_view bytes);
// None, or the text.
Ref optional_text(const std::optional<std::string>& text);
// An enumeration value's variant name.
template <class E>
Ref name_text(E value) {
  return str(base::enum_name(value));
}
// Sets dict[key] = value; false when the value is null or the insertion fails.
bool put(PyObject* dict, const char* key, Ref value);

}  // namespace quintrel::py
