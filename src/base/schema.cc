#include "base/schema.h"

namespace quintrel::base {

const std::array<Digest, 20>& known_schema_ids() {
  static const std::array<Digest, 20> ids = [] {
    std::array<Digest, 20> out;
    for (size_t i = 0; i < kSchemaNames.size(); ++i) out[i] = schema_id(kSchemaNames[i]);
    return out;
  }();
  return ids;
}

std::optional<size_t> schema_index(const Digest& id) {
  const auto& ids = known_schema_ids();
  for (size_t i = 0; i < ids.size(); ++i)
    if (ids[i] == id) return i;
  return std::nullopt;
}

std::optional<std::string_view> schema_name_for_id(const Digest& id) {
  if (auto i = schema_index(id)) return kSchemaNames[*i];
  return std::nullopt;
}

}  // namespace quintrel::base
