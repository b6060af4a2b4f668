// Ed25519 record signatures: the signer the log writer uses, and the check of
// which key validly signed a record.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/codec.h"
#include "record/author.h"
#include "record/record.h"

namespace quintrel::record {

// An author's signing key. It owns its secret, which it wipes when destroyed
// or moved from; it cannot be copied.
class Ed25519Signer {
 public:
  // The signer of a 32-byte seed (RFC 8032 key generation). Cannot fail.
  static Ed25519Signer from_secret_bytes(std::span<const uint8_t, 32> seed);

  Ed25519Signer(Ed25519Signer&& other) noexcept;
  Ed25519Signer& operator=(Ed25519Signer&& other) noexcept;
  Ed25519Signer(const Ed25519Signer&) = delete;
  Ed25519Signer& operator=(const Ed25519Signer&) = delete;
  ~Ed25519Signer();

  const base::Id& public_key() const { return public_key_; }
  // The public key as 64 lowercase hex characters.
  std::string key_id() const;

  // Signs the record's domain-separated signing form; the record's id and any
  // signature it carries are ignored. Fails only where canonical encoding does
  // (a time above 2^53 - 1). A failure of the primitive itself is an internal
  // fault and throws std::logic_error("signature operation failed").
  std::expected<Signature, base::JsonError> sign(const Record& record) const;

  // The pure Ed25519 signature of `message` (the primitive under sign). Throws
  // like sign if the primitive fails.
  std::array<uint8_t, 64> sign_bytes(std::string_view message) const;

 private:
  Ed25519Signer() = default;

  std::array<uint8_t, 64> secret_key_{};  // the seed followed by the public key
  base::Id public_key_{};
};

// Strict Ed25519 verification of a detached signature: S below the group
// order, small-order keys and R refused, cofactorless. A signature that is not
// 64 bytes long fails.
bool verify_strict(const base::Id& public_key, std::string_view message, std::span<const uint8_t> sig);

// The public key that validly signed the record, or none: no signature, a key
// id that is not 64 lowercase hex characters of a curve point, a signature of
// the wrong length, an unencodable record or a signature that does not verify.
std::optional<base::Id> verified_key(const Record& record);

}  // namespace quintrel::record
