#include "base/hash.h"

// The direct SHA-256 functions: the same hardware-accelerated code as the
// generic digest interface, without its provider lookup and locking per call.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

#include <sodium.h>

#include <cstring>
#include <new>
#include <stdexcept>

namespace quintrel::base {

namespace {

// A secret drawn once per process: without it, nobody can choose ids that
// share a bucket.
struct HashKey {
  uint64_t k[4];
  HashKey() {
    if (sodium_init() < 0) throw std::runtime_error("cannot initialise libsodium");
    randombytes_buf(k, sizeof k);
  }
};

// The high and low halves of a 128-bit product, folded.
inline uint64_t fold_multiply(uint64_t a, uint64_t b) {
  unsigned __int128 p = static_cast<unsigned __int128>(a) * b;
  return static_cast<uint64_t>(p) ^ static_cast<uint64_t>(p >> 64);
}

}  // namespace

size_t IdHash::operator()(const Id& id) const noexcept {
  static const HashKey key;
  uint64_t w[4];
  std::memcpy(w, id.data(), sizeof w);
  return fold_multiply(w[0] ^ key.k[0], w[1] ^ key.k[1]) ^ fold_multiply(w[2] ^ key.k[2], w[3] ^ key.k[3]);
}

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

std::optional<Id> hex_decode(std::string_view text) {
  if (text.size() != 64) return std::nullopt;
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  Id out;
  for (size_t i = 0; i < 32; ++i) {
    int hi = nibble(text[2 * i]), lo = nibble(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out[i] = static_cast<uint8_t>(hi << 4 | lo);
  }
  return out;
}

}  // namespace quintrel::base
