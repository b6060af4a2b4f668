#include "base/id.h"

#include <sodium.h>

#include <stdexcept>

#include "base/sodium.h"

namespace quintrel::base {
namespace {

// A secret drawn once per process: without it, nobody can choose ids that
// share a bucket.
struct HashKey {
  uint64_t k[4];
  HashKey() {
    if (!sodium_ready()) throw std::runtime_error("cannot initialise libsodium");
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

}  // namespace quintrel::base
