#include "record/sign.h"

#include <sodium.h>

#include <stdexcept>

#include "base/hash.h"
#include "base/sodium.h"

namespace quintrel::record {
namespace {

static_assert(crypto_sign_BYTES == 64 && crypto_sign_PUBLICKEYBYTES == 32 && crypto_sign_SECRETKEYBYTES == 64);

constexpr const char* kSignFault = "signature operation failed";

}  // namespace

Ed25519Signer Ed25519Signer::from_secret_bytes(std::span<const uint8_t, 32> seed) {
  if (!base::sodium_ready()) throw std::logic_error(kSignFault);
  Ed25519Signer signer;
  // Always succeeds for the reference implementation: any 32 bytes are a seed.
  crypto_sign_seed_keypair(signer.public_key_.data(), signer.secret_key_.data(), seed.data());
  return signer;
}

Ed25519Signer::Ed25519Signer(Ed25519Signer&& other) noexcept
    : secret_key_(other.secret_key_), public_key_(other.public_key_) {
  sodium_memzero(other.secret_key_.data(), other.secret_key_.size());
}

Ed25519Signer& Ed25519Signer::operator=(Ed25519Signer&& other) noexcept {
  if (this != &other) {
    secret_key_ = other.secret_key_;
    public_key_ = other.public_key_;
    sodium_memzero(other.secret_key_.data(), other.secret_key_.size());
  }
  return *this;
}

Ed25519Signer::~Ed25519Signer() { sodium_memzero(secret_key_.data(), secret_key_.size()); }

std::string Ed25519Signer::key_id() const { return base::hex_encode(public_key_); }

std::expected<Signature, base::JsonError> Ed25519Signer::sign(const Record& record) const {
  auto message = base::canonical_json(DomainSeparatedSigningForm{record});
  if (!message) return std::unexpected(std::move(message.error()));
  auto sig = sign_bytes(*message);
  return Signature{key_id(), base::Bytes(sig.begin(), sig.end())};
}

std::array<uint8_t, 64> Ed25519Signer::sign_bytes(std::string_view message) const {
  std::array<uint8_t, 64> sig;
  unsigned long long length = 0;
  if (crypto_sign_detached(sig.data(), &length, reinterpret_cast<const unsigned char*>(message.data()),
                           message.size(), secret_key_.data()) != 0 ||
      length != sig.size())
    throw std::logic_error(kSignFault);
  return sig;
}

bool verify_strict(const base::Id& public_key, std::string_view message, std::span<const uint8_t> sig) {
  if (sig.size() != crypto_sign_BYTES || !base::sodium_ready()) return false;
  // libsodium's verifier refuses S >= L, small-order A and R and non-canonical
  // A, and compares R as bytes without the cofactor.
  return crypto_sign_verify_detached(sig.data(), reinterpret_cast<const unsigned char*>(message.data()),
                                     message.size(), public_key.data()) == 0;
}

std::optional<base::Id> verified_key(const Record& record) {
  const auto& signature = record.author.signature;
  if (!signature) return std::nullopt;
  auto key = base::hex_decode(signature->key_id);  // exactly 64 lowercase hex characters
  if (!key) return std::nullopt;
  // A key that is no curve point is refused by the verification itself.
  if (signature->sig.size() != crypto_sign_BYTES) return std::nullopt;
  auto message = base::canonical_json(DomainSeparatedSigningForm{record});
  if (!message) return std::nullopt;
  if (!verify_strict(*key, *message, signature->sig)) return std::nullopt;
  return key;
}

}  // namespace quintrel::record
