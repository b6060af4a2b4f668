// Schema ids: the SHA-256 of a schema's name. The known schemas are listed in
// record/schema.h.
#pragma once

#include <string_view>

#include "base/hash.h"

namespace quintrel::base {

inline Digest schema_id(std::string_view name) { return sha256_utf8(name); }

}  // namespace quintrel::base
