// SHA-256 and the hex form of 32-byte values.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/codec.h"

namespace quintrel::base {

using Digest = Id;

Digest sha256(std::string_view bytes);
inline Digest sha256(std::span<const uint8_t> bytes) {
  return sha256(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}
inline Digest sha256_utf8(std::string_view text) { return sha256(text); }

// SHA-256 of the ids' bytes concatenated in order (the head hash of a receipt).
Digest sha256_concat_ids(std::span<const Id> ids);

// SHA-256 of a value's canonical JSON, or the canonical writer's error.
template <class T>
std::expected<Digest, JsonError> sha256_canonical(const T& value) {
  auto bytes = canonical_json(value);
  if (!bytes) return std::unexpected(std::move(bytes.error()));
  return sha256(*bytes);
}

// An incremental SHA-256, for input that arrives in pieces.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  void update(const void* data, size_t size);
  Digest finish();

 private:
  void* ctx_;
};

std::string hex_encode(const Id& value);
// Exactly 64 lowercase hex characters; anything else gives none.
std::optional<Id> hex_decode(std::string_view text);

}  // namespace quintrel::base
