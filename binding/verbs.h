// The Writer's methods, each defined in the file of its verb; writer.cc
// lists them in the class's order.
#pragma once

#include "py.h"

namespace quintrel::py {

PyMethodDef request_def();
PyMethodDef requirement_def();
PyMethodDef retract_def();

}  // namespace quintrel::py
