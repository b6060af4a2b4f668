// Descent, descendants and siblings.
#include <algorithm>

#include "queries/queries.h"

namespace quintrel::queries {

using base::Id;
using record::Kind;

// Breadth first over back edges; a record is reported once, under the label
// of the first edge taken off the queue for it.
std::expected<std::vector<DescentStep>, QueryError> Queries::line_of(uint32_t start) const {
  std::vector<bool> visited(records_.size());
  visited[start] = true;
  std::vector<const Edge*> queue;
  auto enqueue = [&](uint32_t pos) {
    for (const Edge& e : edges(pos)) queue.push_back(&e);
  };
  enqueue(start);
  std::vector<DescentStep> line;
  for (size_t head = 0; head < queue.size(); ++head) {
    const Edge& e = *queue[head];
    // An id outside the log was never visited: it fails on first sight.
    if (e.to == kNone) return std::unexpected(QueryError::not_found(e.id));
    if (visited[e.to]) continue;
    visited[e.to] = true;
    line.push_back({node_at(e.to), e.via});
    // Records of other kinds (continuation anchors) end their branch.
    if (kind(e.to) != Kind::Candidate) continue;
    if (!has(e.to, kReadable)) return std::unexpected(QueryError::not_found(e.id));
    enqueue(e.to);
  }
  return line;
}

std::expected<DescentReport, QueryError> Queries::descent(const Id& id) const {
  auto pos = lookup(id, true);
  if (!pos) return std::unexpected(pos.error());
  auto line = line_of(*pos);
  if (!line) return std::unexpected(line.error());
  return DescentReport{node_at(*pos), std::move(*line)};
}

// The answer of one descent per accepted Candidate, found in one pass: the
// Candidates whose line holds the record are those that reach it over back
// edges, so they are collected walking the edges in reverse from it. Which
// descents fail does not depend on the record asked about and was found
// while building; the first failing one in log order (other than the record
// itself) decides, as if every descent had run.
std::expected<DescendantsReport, QueryError> Queries::descendants(const Id& id) const {
  auto pos = lookup(id, false);
  if (!pos) return std::unexpected(pos.error());
  for (uint32_t f : failing_) {
    if (f == *pos) continue;
    if (auto d = descent(records_[f].id); !d) return std::unexpected(d.error());
  }

  std::vector<bool> seen(records_.size());
  std::vector<uint32_t> stack{*pos}, found;
  while (!stack.empty()) {
    const uint32_t y = stack.back();
    stack.pop_back();
    for (uint32_t x : preds(y)) {
      if (seen[x]) continue;
      seen[x] = true;
      stack.push_back(x);
      if (x != *pos && has(x, kAccepted)) found.push_back(x);  // x is a Candidate: only they have edges
    }
  }
  std::sort(found.begin(), found.end());

  DescendantsReport report{node_at(*pos), {}};
  report.descendants.reserve(found.size());
  for (uint32_t x : found) report.descendants.push_back(node_at(x));
  return report;
}

std::expected<SiblingsReport, QueryError> Queries::siblings(const Id& id) const {
  auto pos = lookup(id, true);
  if (!pos) return std::unexpected(pos.error());
  SiblingsReport report{node_at(*pos), {}};
  if (group_of_[*pos] == kNone) return report;  // a root has no generation
  for (uint32_t x : groups_[group_of_[*pos]])
    if (x != *pos) report.siblings.push_back(node_at(x));
  return report;
}

}  // namespace quintrel::queries
