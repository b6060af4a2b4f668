// The identity of one artifact: a scheme, a digest in hexadecimal and an
// optional name. Carried by candidates, version 2 evaluations and results.
#pragma once

#include <compare>
#include <optional>
#include <string>

#include "base/codec.h"

namespace quintrel::record {

struct ArtifactRef {
  std::string scheme;
  std::string digest;
  std::optional<std::string> name;

  // Scheme, digest, then name; texts compare as unsigned bytes and an absent
  // name sorts first. Lists of references are kept in this order.
  auto operator<=>(const ArtifactRef&) const = default;
  bool operator==(const ArtifactRef&) const = default;
};

}  // namespace quintrel::record

namespace quintrel::base {
template <>
struct Fields<record::ArtifactRef> {
  using T = record::ArtifactRef;
  static constexpr std::string_view name = "ArtifactRef";
  static constexpr auto fields = std::make_tuple(field("scheme", &T::scheme), field("digest", &T::digest),
                                                 field("name", &T::name, kDefault));
};
}  // namespace quintrel::base
