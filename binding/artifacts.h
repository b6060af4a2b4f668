// The `artifacts` argument of Writer.candidate and Writer.evaluate, read into
// the Python-free entries the core judges in their turn (writer.h).
#pragma once

#include "params.h"  // first: Python.h comes before the standard headers

#include "writer/writer.h"

namespace quintrel::py {

// A list, tuple or other sequence (never a str) whose entries are kept as
// texts, dicts read field by field ("scheme", "digest", "name"; other keys
// ignored) or entries of another form. A field of the wrong type is not
// raised here but kept with its type error, which the core raises only if
// the checks before it pass.
template <>
struct Convert<writer::ArtifactEntries> {
  static bool from(PyObject* o, const ArgName& name, writer::ArtifactEntries& out);
};

}  // namespace quintrel::py
