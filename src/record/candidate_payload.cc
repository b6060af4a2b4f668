#include "record/candidate_payload.h"

#include <array>
#include <string_view>

#include "base/hash.h"

namespace quintrel::record {
namespace {

struct KnownScheme {
  std::string_view scheme;
  size_t digest_bytes;
};

constexpr std::array<KnownScheme, 6> kKnownSchemes = {{
    {"git-tree-sha1", 20},
    {"git-tree-sha256", 32},
    {"manifest-v1", 32},
    {"git-archive-tar-v1", 32},
    {"oci-image-manifest", 32},
    {"sha256-bytes", 32},
}};

bool lower_or_digit(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

bool scheme_well_formed(std::string_view s) {
  if (s.empty() || !lower_or_digit(s[0])) return false;
  for (char c : s.substr(1))
    if (!lower_or_digit(c) && c != '-' && c != '.') return false;
  return true;
}

bool digest_well_formed(std::string_view d) { return d.size() % 2 == 0 && base::is_lower_hex(d); }

}  // namespace

bool artifact_ref_well_formed(const ArtifactRef& artifact) {
  if (!scheme_well_formed(artifact.scheme) || !digest_well_formed(artifact.digest)) return false;
  const size_t n = artifact.digest.size() / 2;
  for (const auto& known : kKnownSchemes)
    if (known.scheme == artifact.scheme) return n == known.digest_bytes;
  return n >= 20 && n <= 64;
}

bool artifact_refs_well_formed(std::span<const ArtifactRef> artifacts) {
  for (const auto& a : artifacts)
    if (!artifact_ref_well_formed(a)) return false;
  for (size_t i = 1; i < artifacts.size(); ++i)
    if (!(artifacts[i - 1] < artifacts[i])) return false;
  return true;
}

}  // namespace quintrel::record
