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
#include "base/id.h"

namespace quintrel::base {

using Digest = Id;

Digest sha256(std::string_view bytes);
inline Digest sha256(std::span<const uint8_t> bytes) {
  return sha256(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}
inline Digest sha256_utf8(std::string_view text) { return sha256(text); }

// SHA-256 of the ids' bytes concatenated in order (the head hash of a receipt).
Digest sha256_concat_ids(std::span<const Id> ids);

// An incremental SHA-256, for input that arrives in pieces.
class Sha256 {
 public:
  Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  void update(const void* data, size_t size);
  Digest finish();

 private:
  alignas(8) unsigned char ctx_[112];  // the library's context, kept in place
};

// SHA-256 of a value's canonical JSON, or the canonical writer's error. The
// JSON is hashed as it is written, never held whole.
template <class T>
std::expected<Digest, JsonError> sha256_canonical(const T& value) {
  Sha256 hash;
  ScratchBuffer buffer;
  JsonOut out(JsonOut::Mode::kCanonical, buffer.get());
  out.set_sink([](void* h, std::string_view bytes) { static_cast<Sha256*>(h)->update(bytes.data(), bytes.size()); },
               &hash, kStreamChunk);
  Codec<T>::write(out, value);
  if (out.failed()) return std::unexpected(JsonError{out.error(), 0, 0});
  out.flush();
  return hash.finish();
}

std::string hex_encode(const Id& value);
// Only the characters 0-9 and a-f (true for an empty text).
bool is_lower_hex(std::string_view text);
// Exactly 64 lowercase hex characters; anything else gives none.
std::optional<Id> hex_decode(std::string_view text);

}  // namespace quintrel::base
