// The `artifacts` argument of candidate and evaluate: every entry checked in
// the order given, then the list put in the order the payload readers and
// the verifier expect (strictly ascending).
#include <algorithm>

#include "base/json_reader.h"
#include "record/candidate_payload.h"
#include "writer/writer.h"

namespace quintrel::writer {

namespace {

using record::ArtifactRef;

// "scheme:digest" or "scheme:digest:name"; the name keeps any further ':'.
// Empty pieces pass here and fail the well-formedness check.
Result<ArtifactRef> from_text(const std::string& text) {
  const size_t first = text.find(':');
  if (first == std::string::npos)
    return std::unexpected(
        Refusal::value("invalid artifact " + base::debug_quote(text) + " (expected scheme:digest[:name])"));
  ArtifactRef ref{text.substr(0, first), {}, std::nullopt};
  const size_t second = text.find(':', first + 1);
  ref.digest = text.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
  if (second != std::string::npos) ref.name = text.substr(second + 1);
  return ref;
}

// A required field of a dict entry: its text, or the refusal of its absence
// or its type.
Result<std::string> required(const ArtifactField& field, const char* name) {
  switch (field.state) {
    case ArtifactField::State::Text:
      return field.text;
    case ArtifactField::State::NotText:
      return std::unexpected(Refusal::type(field.text));
    case ArtifactField::State::Absent:
      break;
  }
  return std::unexpected(Refusal::value(std::string("artifact dict requires ") + name));
}

// Scheme, digest, then name, in that order.
Result<ArtifactRef> from_dict(const ArtifactEntry& entry) {
  auto scheme = required(entry.scheme, "scheme");
  if (!scheme) return std::unexpected(std::move(scheme.error()));
  auto digest = required(entry.digest, "digest");
  if (!digest) return std::unexpected(std::move(digest.error()));
  ArtifactRef ref{std::move(*scheme), std::move(*digest), std::nullopt};
  if (entry.name.state == ArtifactField::State::NotText) return std::unexpected(Refusal::type(entry.name.text));
  if (entry.name.state == ArtifactField::State::Text) ref.name = entry.name.text;
  return ref;
}

Result<ArtifactRef> from_entry(const ArtifactEntry& entry) {
  switch (entry.form) {
    case ArtifactEntry::Form::Text:
      return from_text(entry.text);
    case ArtifactEntry::Form::Dict:
      return from_dict(entry);
    case ArtifactEntry::Form::Other:
      break;
  }
  return std::unexpected(Refusal::value("artifacts entries must be 'scheme:digest[:name]' strings or dicts"));
}

}  // namespace

Result<std::vector<ArtifactRef>> parse_artifacts(const ArtifactEntries& entries) {
  std::vector<ArtifactRef> refs;
  refs.reserve(entries.size());
  for (const ArtifactEntry& entry : entries) {
    auto ref = from_entry(entry);
    if (!ref) return std::unexpected(std::move(ref.error()));
    if (!record::artifact_ref_well_formed(*ref))
      return std::unexpected(Refusal::value("invalid artifact " + ref->scheme + ":" + ref->digest +
                                            ": scheme must match [a-z0-9][a-z0-9.-]* and the digest must be "
                                            "lowercase hex of the scheme's length"));
    refs.push_back(std::move(*ref));
  }
  std::stable_sort(refs.begin(), refs.end());
  refs.erase(std::unique(refs.begin(), refs.end()), refs.end());
  return refs;
}

}  // namespace quintrel::writer
