// Who made a record, and the Ed25519 signature that may back it.
#pragma once

#include <optional>
#include <string>

#include "base/codec.h"
#include "record/kind.h"

namespace quintrel::record {

struct Signature {
  std::string key_id;  // the signer's public key, 64 lowercase hex characters
  base::Bytes sig;     // 64 bytes when well formed; judged only by verification
  bool operator==(const Signature&) const = default;
};

struct Author {
  std::string id;  // the author's name as registered in the verifier rules
  AuthorType type = AuthorType::User;
  std::optional<Signature> signature;
  bool operator==(const Author&) const = default;
};

}  // namespace quintrel::record

namespace quintrel::base {

template <>
struct Fields<record::Signature> {
  static constexpr std::string_view name = "Signature";
  static constexpr auto fields =
      std::make_tuple(field("key_id", &record::Signature::key_id), field("sig", &record::Signature::sig));
};

// A missing or null signature reads as none and is written as null; the array
// form still needs all three elements.
template <>
struct Fields<record::Author> {
  static constexpr std::string_view name = "Author";
  static constexpr auto fields =
      std::make_tuple(field("id", &record::Author::id), field("type", &record::Author::type),
                      field("signature", &record::Author::signature));
};

}  // namespace quintrel::base
