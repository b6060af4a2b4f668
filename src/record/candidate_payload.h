// The Candidate payload (a proposed source state) and artifact references,
// which candidates, version 2 evaluations and results share.
#pragma once

#include <compare>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/codec.h"
#include "record/artifact_ref.h"
#include "record/binding_mode.h"

namespace quintrel::record {

enum class SourceAlgo : uint8_t { sha1, sha256 };
enum class CandidateBasis : uint8_t { root, continuation, derivation };

struct GitSource {
  SourceAlgo algo = SourceAlgo::sha1;
  std::string tree;                   // the git tree's object id
  std::optional<std::string> commit;  // a commit's object id
  bool operator==(const GitSource&) const = default;
};

struct SourceBinding {
  GitSource git;
  std::optional<base::Id> manifest_hash;
  BindingMode binding = BindingMode::reported;
  bool operator==(const SourceBinding&) const = default;
};

struct CandidateData {
  SourceBinding source;
  CandidateBasis basis = CandidateBasis::root;
  std::optional<base::Id> parent;
  std::optional<std::string> note;
  std::optional<std::vector<ArtifactRef>> artifacts;  // left out of the JSON when absent
  bool operator==(const CandidateData&) const = default;
};

// A lowercase scheme, an even-length lowercase hex digest, and the digest
// length the scheme fixes (20 to 64 bytes for a scheme not in the table).
bool artifact_ref_well_formed(const ArtifactRef& artifact);

// Every element well formed and the list strictly ascending (no duplicates).
bool artifact_refs_well_formed(std::span<const ArtifactRef> artifacts);

}  // namespace quintrel::record

namespace quintrel::base {

template <>
struct EnumNames<record::SourceAlgo> {
  static constexpr std::string_view names[] = {"sha1", "sha256"};
};
template <>
struct EnumNames<record::CandidateBasis> {
  static constexpr std::string_view names[] = {"root", "continuation", "derivation"};
};

template <>
struct Fields<record::GitSource> {
  using T = record::GitSource;
  static constexpr std::string_view name = "GitSource";
  static constexpr auto fields = std::make_tuple(field("algo", &T::algo), field("tree", &T::tree),
                                                 field("commit", &T::commit, kDefault));
};
template <>
struct Fields<record::SourceBinding> {
  using T = record::SourceBinding;
  static constexpr std::string_view name = "SourceBinding";
  static constexpr auto fields =
      std::make_tuple(field("git", &T::git), field("manifest_hash", &T::manifest_hash, kDefault),
                      field("binding", &T::binding));
};
template <>
struct Fields<record::CandidateData> {
  using T = record::CandidateData;
  static constexpr std::string_view name = "CandidateData";
  static constexpr auto fields =
      std::make_tuple(field("source", &T::source), field("basis", &T::basis),
                      field("parent", &T::parent, kDefault), field("note", &T::note, kDefault),
                      field("artifacts", &T::artifacts, kDefault | kOmitIfAbsent));
};

}  // namespace quintrel::base
