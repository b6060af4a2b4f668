// Frontier, standing, evidence and selected.
#include "queries/queries.h"

namespace quintrel::queries {

using base::Id;
using record::Kind;

FrontierReport Queries::frontier() const {
  FrontierReport report;
  report.frontier.reserve(frontier_.size());
  for (const auto& [pos, reason] : frontier_) report.frontier.push_back({node_at(pos), reason});
  return report;
}

std::expected<StandingReport, QueryError> Queries::standing(const Id& id) const {
  auto pos = lookup(id, false);
  if (!pos) return std::unexpected(pos.error());
  return StandingReport{node_at(*pos), restorations_.of(id)};
}

std::vector<EvidenceEntry> Queries::selection_evidence(std::span<const record::Ref> refs) const {
  std::vector<EvidenceEntry> out;
  for (const auto& ref : refs) {
    if (ref.type != record::RefType::Use) continue;
    // Acceptance of the Evaluation is not asked; what has no summary is left out.
    const uint32_t pos = find(ref.target);
    if (pos == kNone || kind(pos) != Kind::Evaluation || detail_of_[pos] == kNone) continue;
    const auto& summary = details_[detail_of_[pos]].summary;
    if (summary) out.push_back({node_at(pos), summary->criterion, summary->label});
  }
  return out;
}

std::expected<EvidenceReport, QueryError> Queries::evidence(const Id& id) const {
  auto pos = lookup(id, false);
  if (!pos) return std::unexpected(pos.error());
  EvidenceReport report{node_at(*pos), {}};
  if (kind(*pos) == Kind::Selection) {
    report.rests_on.push_back({report.target, selection_evidence(records_[*pos].refs)});
    return report;
  }
  if (kind(*pos) != Kind::Candidate) return std::unexpected(QueryError::wrong_kind(id, kCandidateOrSelection));
  // Every anchor along the whole descent, however deep.
  auto d = descent(id);
  if (!d) return std::unexpected(d.error());
  for (DescentStep& step : d->line) {
    if (step.node.kind != Kind::Selection) continue;
    const uint32_t at = find(step.node.id);
    if (at == kNone) return std::unexpected(QueryError::not_found(step.node.id));
    report.rests_on.push_back({std::move(step.node), selection_evidence(records_[at].refs)});
  }
  return report;
}

SelectedReport Queries::selected(std::string_view objective) const {
  SelectedReport report{std::string(objective), {}};
  auto it = selected_.find(objective);  // byte for byte
  if (it == selected_.end()) return report;
  for (uint32_t pos : it->second) {
    SelectedEntry entry{node_at(pos), {}, selection_evidence(records_[pos].refs)};
    for (const Id& c : details_[detail_of_[pos]].chosen)
      if (const uint32_t at = find(c); at != kNone) entry.chosen.push_back(node_at(at));
    report.selections.push_back(std::move(entry));
  }
  return report;
}

}  // namespace quintrel::queries
