#include "queries/queries.h"

#include <algorithm>

#include "record/activity_payloads.h"
#include "record/evolution_payloads.h"
#include "verify/standing.h"

namespace quintrel::queries {

using base::Id;
using record::Kind;
using record::Record;

std::expected<Queries, QueryError> Queries::create(std::span<const Record> records,
                                                   const verify::VerifierRules& rules) {
  // One replay gives both: the state it folds is the one build_state_unchecked
  // would rebuild from a log that replays.
  verify::Replay replay = verify::replay_log(records, rules);
  if (replay.verdict.failure) return std::unexpected(QueryError::log_invalid(replay.verdict.failure));
  return over(records, replay.state.accepted_records, std::move(replay.verdict));
}

Queries Queries::of_replayed(std::span<const Record> records, const state::State& state,
                             const verify::PriorIndex& index) {
  verify::LogVerdict verdict;
  verdict.retracted = state.retracted_records;
  verdict.tainted = state.tainted_records;
  verdict.standing = verify::derive_standing(records, state, &index);
  return over(records, state.accepted_records, std::move(verdict));
}

Queries Queries::over(std::span<const Record> records, const base::IdTableSet& accepted,
                      verify::LogVerdict verdict) {
  Queries q;
  q.records_ = records;
  const auto n = static_cast<uint32_t>(records.size());
  // A repeated id (only in records that do not verify) finds its last record.
  q.positions_.reserve(n);
  for (uint32_t i = 0; i < n; ++i) *q.positions_.try_emplace(records[i].id).first = i;

  const verify::StandingSection& standing = verdict.standing;
  q.flags_.resize(n);
  for (uint32_t i = 0; i < n; ++i) {
    const Record& r = records[i];
    uint8_t f = 0;
    if (accepted.contains(r.id)) f |= kAccepted;
    if (verdict.retracted.contains(r.id)) f |= kRetracted;
    if (verdict.tainted.contains(r.id)) f |= kTainted;
    if ((r.kind == Kind::Candidate && standing.compromised.contains(r.id)) ||
        (r.kind == Kind::Selection && standing.unsound.contains(r.id)))
      f |= kFlagged;
    q.flags_[i] = f;
  }
  q.restorations_ = std::move(verdict.standing.restorations);

  const CandidatesRead candidates = q.read_payloads();
  q.link_lineage(candidates);
  q.mark_failing_descents();
  q.group_siblings(candidates);
  q.gather_outcomes(candidates);
  return q;
}

Queries::Detail& Queries::detail(uint32_t pos) {
  if (detail_of_[pos] == kNone) {
    detail_of_[pos] = static_cast<uint32_t>(details_.size());
    details_.emplace_back();
  }
  return details_[detail_of_[pos]];
}

Queries::CandidatesRead Queries::read_payloads() {
  const auto n = static_cast<uint32_t>(records_.size());
  CandidatesRead candidates;
  candidates.at.assign(n, kNone);
  detail_of_.assign(n, kNone);
  for (uint32_t i = 0; i < n; ++i) {
    const Record& r = records_[i];
    const std::string_view data = base::as_text(r.data);
    if (r.kind == Kind::Candidate) {
      auto c = base::from_json<record::CandidateData>(data);
      if (!c) continue;
      flags_[i] |= kReadable;
      if (c->artifacts && !c->artifacts->empty()) detail(i).artifacts = *c->artifacts;
      candidates.at[i] = static_cast<uint32_t>(candidates.data.size());
      candidates.data.push_back(std::move(*c));
    } else if (r.kind == Kind::Result) {
      auto d = base::from_json<record::ResultData>(data);
      if (d && d->artifacts && !d->artifacts->empty()) detail(i).artifacts = std::move(*d->artifacts);
    } else if (r.kind == Kind::Evaluation) {
      // The node shows what a version 2 payload carries, whatever the schema;
      // the summary follows the schema.
      if (auto e = base::from_json<record::EvaluationDataV2>(data);
          e && (!e->evidence.empty() || !e->requirements.empty())) {
        Detail& d = detail(i);
        d.artifacts = std::move(e->evidence);
        d.requirements = std::move(e->requirements);
      }
      if (auto s = record::evaluation_summary(r.schema, data)) detail(i).summary = std::move(*s);
    }
  }
  return candidates;
}

std::vector<BackEdge> Queries::back_edges(std::span<const record::Ref> refs,
                                          const record::CandidateData& candidate) const {
  std::vector<BackEdge> out;
  if (candidate.basis == record::CandidateBasis::root) return out;  // its Request is not followed
  std::vector<Id> causes = verify::cause_targets(refs);
  std::sort(causes.begin(), causes.end());
  if (candidate.basis == record::CandidateBasis::continuation) {
    for (const Id& c : causes) out.push_back({c, kContinuationAnchor});
    if (candidate.parent) out.push_back({*candidate.parent, kParent});
    return out;
  }
  for (const Id& c : causes) {
    const uint32_t p = find(c);
    if (p != kNone && kind(p) == Kind::Candidate) out.push_back({c, kDerivation});
  }
  return out;
}

void Queries::link_lineage(const CandidatesRead& candidates) {
  const auto n = static_cast<uint32_t>(records_.size());
  edge_begin_.assign(n + 1, 0);
  for (uint32_t i = 0; i < n; ++i) {
    edge_begin_[i] = static_cast<uint32_t>(edges_.size());
    if (candidates.at[i] == kNone) continue;
    for (const BackEdge& e : back_edges(records_[i].refs, candidates.data[candidates.at[i]]))
      edges_.push_back({e.id, find(e.id), e.via});
  }
  edge_begin_[n] = static_cast<uint32_t>(edges_.size());

  // The reverse, grouped by target; each group ascends in log order.
  pred_begin_.assign(n + 1, 0);
  for (const Edge& e : edges_)
    if (e.to != kNone) ++pred_begin_[e.to + 1];
  for (uint32_t i = 0; i < n; ++i) pred_begin_[i + 1] += pred_begin_[i];
  preds_.resize(pred_begin_[n]);
  std::vector<uint32_t> fill(pred_begin_.begin(), pred_begin_.end() - 1);
  for (uint32_t i = 0; i < n; ++i)
    for (const Edge& e : edges(i))
      if (e.to != kNone) preds_[fill[e.to]++] = i;
}

// A descent fails when it reaches an id outside the log or a Candidate whose
// payload does not read, and so does every descent that reaches a failing
// Candidate: marked backwards from those, once for the whole log.
void Queries::mark_failing_descents() {
  const auto n = static_cast<uint32_t>(records_.size());
  std::vector<uint32_t> stack;
  for (uint32_t i = 0; i < n; ++i) {
    if (kind(i) != Kind::Candidate) continue;
    const auto e = edges(i);
    if (!has(i, kReadable) || std::ranges::any_of(e, [](const Edge& x) { return x.to == kNone; })) {
      flags_[i] |= kFails;
      stack.push_back(i);
    }
  }
  while (!stack.empty()) {
    const uint32_t y = stack.back();
    stack.pop_back();
    for (uint32_t x : preds(y))
      if (!has(x, kFails)) {
        flags_[x] |= kFails;
        stack.push_back(x);
      }
  }
  for (uint32_t i = 0; i < n && failing_.size() < 2; ++i)
    if (kind(i) == Kind::Candidate && has(i, kAccepted) && has(i, kFails)) failing_.push_back(i);
}

void Queries::group_siblings(const CandidatesRead& candidates) {
  std::map<std::pair<record::CandidateBasis, std::vector<Id>>, uint32_t> by_key;
  group_of_.assign(records_.size(), kNone);
  for (uint32_t i = 0; i < records_.size(); ++i) {
    if (candidates.at[i] == kNone || !has(i, kAccepted)) continue;
    const auto basis = candidates.data[candidates.at[i]].basis;
    if (basis == record::CandidateBasis::root) continue;
    std::vector<Id> causes = verify::cause_targets(records_[i].refs);
    std::sort(causes.begin(), causes.end());
    causes.erase(std::unique(causes.begin(), causes.end()), causes.end());
    auto [it, added] = by_key.try_emplace({basis, std::move(causes)}, static_cast<uint32_t>(groups_.size()));
    if (added) groups_.emplace_back();
    groups_[it->second].push_back(i);
    group_of_[i] = it->second;
  }
}

void Queries::gather_outcomes(const CandidatesRead& candidates) {
  base::IdTableSet considered, chosen, continued;
  for (uint32_t i = 0; i < records_.size(); ++i) {
    if (!has(i, kAccepted)) continue;
    if (kind(i) == Kind::Selection) {
      auto s = base::from_json<record::SelectionData>(base::as_text(records_[i].data));
      if (!s) continue;
      for (const Id& c : s->considered) considered.insert(c);
      if (!s->outcome.selected) continue;
      for (const Id& c : s->outcome.selected->candidates) chosen.insert(c);
      detail(i).chosen = std::move(s->outcome.selected->candidates);
      selected_[std::move(s->objective)].push_back(i);
    } else if (candidates.at[i] != kNone) {
      const auto& c = candidates.data[candidates.at[i]];
      if (c.basis == record::CandidateBasis::continuation && c.parent) continued.insert(*c.parent);
    }
  }
  for (uint32_t i = 0; i < records_.size(); ++i) {
    if (kind(i) != Kind::Candidate || !has(i, kAccepted)) continue;
    const Id& id = records_[i].id;
    if (!considered.contains(id))
      frontier_.emplace_back(i, kUnconsidered);
    else if (chosen.contains(id) && !continued.contains(id))
      frontier_.emplace_back(i, kSelectedNoContinuation);
  }
}

Node Queries::node_at(uint32_t pos) const {
  const Record& r = records_[pos];
  Node n;
  n.id = r.id;
  n.kind = r.kind;
  // The word follows the standing section alone; taint and retraction have
  // flags of their own.
  const bool flagged = has(pos, kFlagged);
  n.standing = r.kind == Kind::Candidate   ? (flagged ? "compromised" : "sound")
               : r.kind == Kind::Selection ? (flagged ? "unsound" : "sound")
                                           : "n/a";
  n.tainted = has(pos, kTainted);
  n.retracted = has(pos, kRetracted);
  if (detail_of_[pos] != kNone) {
    const Detail& d = details_[detail_of_[pos]];
    n.artifacts = d.artifacts;
    n.requirements = d.requirements;
  }
  return n;
}

Node Queries::node(const Record& record) const { return node_at(static_cast<uint32_t>(&record - records_.data())); }

std::expected<uint32_t, QueryError> Queries::lookup(const Id& id, bool candidate) const {
  const uint32_t pos = find(id);
  if (pos == kNone) return std::unexpected(QueryError::not_found(id));
  // A Verdict is never accepted.
  if (!has(pos, kAccepted)) return std::unexpected(QueryError::rejected(id));
  if (!candidate) return pos;
  if (kind(pos) != Kind::Candidate) return std::unexpected(QueryError::wrong_kind(id, kCandidate));
  if (!has(pos, kReadable)) return std::unexpected(QueryError::not_found(id));
  return pos;
}

}  // namespace quintrel::queries
