#include "base/hash.h"

// The direct SHA-256 functions: the same hardware-accelerated code as the
// generic digest interface, without its provider lookup and locking per call.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

#include <cstring>

namespace quintrel::base {

Digest sha256(std::string_view bytes) {
  Sha256 h;
  h.update(bytes.data(), bytes.size());
  return h.finish();
}

Digest sha256_concat_ids(std::span<const Id> ids) {
  Sha256 h;
  for (const Id& id : ids) h.update(id.data(), id.size());
  return h.finish();
}

static_assert(sizeof(SHA256_CTX) <= 112 && alignof(SHA256_CTX) <= 8);

Sha256::Sha256() { SHA256_Init(reinterpret_cast<SHA256_CTX*>(ctx_)); }

void Sha256::update(const void* data, size_t size) { SHA256_Update(reinterpret_cast<SHA256_CTX*>(ctx_), data, size); }

Digest Sha256::finish() {
  Digest d;
  SHA256_Final(d.data(), reinterpret_cast<SHA256_CTX*>(ctx_));
  return d;
}

std::string hex_encode(const Id& value) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out(64, '0');
  for (size_t i = 0; i < 32; ++i) {
    out[2 * i] = kHex[value[i] >> 4];
    out[2 * i + 1] = kHex[value[i] & 15];
  }
  return out;
}

bool is_lower_hex(std::string_view text) {
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

std::optional<Id> hex_decode(std::string_view text) {
  if (text.size() != 64 || !is_lower_hex(text)) return std::nullopt;
  auto nibble = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
  Id out;
  for (size_t i = 0; i < 32; ++i) out[i] = static_cast<uint8_t>(nibble(text[2 * i]) << 4 | nibble(text[2 * i + 1]));
  return out;
}

}  // namespace quintrel::base
