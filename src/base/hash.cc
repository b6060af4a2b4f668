#include "base/hash.h"

#include <openssl/evp.h>
#include <openssl/sha.h>

#include <new>

namespace quintrel::base {

Digest sha256(std::string_view bytes) {
  Digest d;
  SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), d.data());
  return d;
}

Digest sha256_concat_ids(std::span<const Id> ids) {
  Sha256 h;
  for (const Id& id : ids) h.update(id.data(), id.size());
  return h.finish();
}

Sha256::Sha256() : ctx_(EVP_MD_CTX_new()) {
  if (!ctx_ || EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(ctx_), EVP_sha256(), nullptr) != 1)
    throw std::bad_alloc();
}

Sha256::~Sha256() { EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(ctx_)); }

void Sha256::update(const void* data, size_t size) {
  EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(ctx_), data, size);
}

Digest Sha256::finish() {
  Digest d;
  unsigned int len = 0;
  EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(ctx_), d.data(), &len);
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
