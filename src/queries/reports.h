// What the named queries answer: a view of each record involved and the
// report of each query, turned into JSON value trees by `to_value`. In a value
// tree ids are lowercase hex and object keys ascend by bytes.
#pragma once

#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "base/canonical.h"
#include "base/codec.h"
#include "queries/error.h"
#include "record/artifact_ref.h"
#include "record/kind.h"

namespace quintrel::queries {

// One record as every report shows it.
struct Node {
  base::Id id{};
  record::Kind kind = record::Kind::Request;
  std::string_view standing;  // "sound" or "compromised" (Candidate), "sound" or "unsound" (Selection), "n/a"
  bool tainted = false;
  bool retracted = false;
  std::vector<record::ArtifactRef> artifacts;  // Candidate, Result, version 2 Evaluation
  std::vector<base::Id> requirements;          // version 2 Evaluation, in payload order
  bool operator==(const Node&) const = default;
};

inline constexpr std::string_view kParent = "parent";
inline constexpr std::string_view kContinuationAnchor = "continuation-anchor";
inline constexpr std::string_view kDerivation = "derivation";

struct DescentStep {
  Node node;
  std::string_view via;  // the label of the back edge that reached the record
  bool operator==(const DescentStep&) const = default;
};
struct DescentReport {
  Node target;
  std::vector<DescentStep> line;  // walk order
  bool operator==(const DescentReport&) const = default;
};
struct DescendantsReport {
  Node target;
  std::vector<Node> descendants;  // log order
  bool operator==(const DescendantsReport&) const = default;
};
struct SiblingsReport {
  Node target;
  std::vector<Node> siblings;  // log order
  bool operator==(const SiblingsReport&) const = default;
};

inline constexpr std::string_view kUnconsidered = "unconsidered";
inline constexpr std::string_view kSelectedNoContinuation = "selected-no-continuation";

struct FrontierEntry {
  Node node;
  std::string_view reason;  // kUnconsidered or kSelectedNoContinuation
  bool operator==(const FrontierEntry&) const = default;
};
struct FrontierReport {
  std::vector<FrontierEntry> frontier;  // log order
  bool operator==(const FrontierReport&) const = default;
};
struct StandingReport {
  Node node;
  std::vector<base::Id> restorations;  // ascending
  bool operator==(const StandingReport&) const = default;
};
struct EvidenceEntry {
  Node node;  // an Evaluation
  std::string criterion;
  std::string outcome;  // the outcome's label
  bool operator==(const EvidenceEntry&) const = default;
};
struct SelectionEvidence {
  Node selection;
  std::vector<EvidenceEntry> evidence;  // the Selection's ref order
  bool operator==(const SelectionEvidence&) const = default;
};
struct EvidenceReport {
  Node target;
  std::vector<SelectionEvidence> rests_on;
  bool operator==(const EvidenceReport&) const = default;
};
struct SelectedEntry {
  Node selection;
  std::vector<Node> chosen;  // payload order
  std::vector<EvidenceEntry> evidence;
  bool operator==(const SelectedEntry&) const = default;
};
struct SelectedReport {
  std::string objective;  // as asked
  std::vector<SelectedEntry> selections;  // log order
  bool operator==(const SelectedReport&) const = default;
};

// The value trees. A node leaves out `artifacts` and `requirements` when they
// are empty; every other list is always written.
base::Json to_value(const Node& node);
base::Json to_value(const DescentReport& report);
base::Json to_value(const DescendantsReport& report);
base::Json to_value(const SiblingsReport& report);
base::Json to_value(const FrontierReport& report);
base::Json to_value(const StandingReport& report);
base::Json to_value(const EvidenceReport& report);
base::Json to_value(const SelectedReport& report);

// A query's answer as a value tree, or its error's text.
template <class Report>
std::expected<base::Json, std::string> to_value(const std::expected<Report, QueryError>& answer) {
  if (!answer) return std::unexpected(answer.error().to_string());
  return to_value(*answer);
}

}  // namespace quintrel::queries
