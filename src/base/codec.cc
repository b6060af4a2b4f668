#include "base/codec.h"

namespace quintrel::base {

bool unknown_field(Reader& r, std::string_view name, const std::string_view* names, size_t count) {
  if (count == 0) return r.fail_custom("unknown field `" + std::string(name) + "`, there are no fields");
  return r.fail_custom("unknown field `" + std::string(name) + "`, expected " + one_of(names, count));
}

}  // namespace quintrel::base
