// The canonical manifest of a source directory: every file, symbolic link and
// gitlink under it with its mode and SHA-256, and the one hash that condenses
// them (what a Candidate's source binding carries as its manifest hash).
#pragma once

#include <cstdint>
#include <expected>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/codec.h"
#include "base/file.h"
#include "base/hash.h"

namespace quintrel::manifest {

enum class ManifestMode : uint8_t {
  File,        // "100644": regular file without the owner-execute bit
  Executable,  // "100755": regular file with the owner-execute bit (0o100)
  Symlink,     // "120000": hashed by its target text, never followed
  Gitlink,     // "160000": a nested repository, hashed by its object-id text
};

struct ManifestEntry {
  std::string path;  // relative, components joined by "/"
  base::Digest digest{};
  ManifestMode mode = ManifestMode::File;
  bool operator==(const ManifestEntry&) const = default;
};

// The value hashed for one path.
struct ManifestValue {
  ManifestMode mode = ManifestMode::File;
  std::string sha256;  // 64 lowercase hex characters
  bool operator==(const ManifestValue&) const = default;
};

// Relative path of a nested repository -> its object-id text.
using Gitlinks = std::map<std::string, std::string>;

// Path -> value; written canonically it is the text the manifest hash covers.
using ManifestDocument = std::map<std::string, ManifestValue>;

// Why a walk ended: an operating-system failure ("No such file or directory
// (os error 2)") or something a manifest cannot represent (InvalidData).
using ManifestError = base::IoError;

// Walks `path` (followed if it is itself a link) and returns its entries:
// each directory's files and links in unsigned byte order of their names,
// then its subdirectories depth first in descending name order, then the
// gitlinks in ascending path order. Any failure ends the walk.
std::expected<std::vector<ManifestEntry>, ManifestError> manifest_from_dir(const std::string& path,
                                                                           const Gitlinks& gitlinks);

// The entries as the document hashed; none when two entries share a path.
std::optional<ManifestDocument> manifest_document(std::span<const ManifestEntry> entries);

// SHA-256 of the canonical document; none when two entries share a path.
std::optional<base::Digest> manifest_hash(std::span<const ManifestEntry> entries);

}  // namespace quintrel::manifest

namespace quintrel::base {
template <>
struct EnumNames<manifest::ManifestMode> {
  static constexpr std::string_view names[] = {"100644", "100755", "120000", "160000"};
};
template <>
struct Fields<manifest::ManifestValue> {
  static constexpr std::string_view name = "ManifestValue";
  static constexpr auto fields =
      std::make_tuple(field("mode", &manifest::ManifestValue::mode), field("sha256", &manifest::ManifestValue::sha256));
};
}  // namespace quintrel::base
