// The query index: a replayed log indexed once so that any number of named
// queries can be answered from it. Nothing in it changes after it is built,
// so one index answers every later query over the same records and rules
// exactly as a fresh one would; a caller may keep it until the records change.
#pragma once

#include <cstdint>
#include <expected>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/id_table.h"
#include "queries/error.h"
#include "queries/reports.h"
#include "record/evaluation_payload.h"
#include "record/record.h"
#include "verify/replay.h"
#include "verify/rules.h"

namespace quintrel::queries {

// A Candidate's link to an earlier record, labelled kParent,
// kContinuationAnchor or kDerivation.
struct BackEdge {
  base::Id id{};
  std::string_view via;
  bool operator==(const BackEdge&) const = default;
};

class Queries {
 public:
  // Replays `records` under `rules` and indexes them; fails only with
  // LogInvalid. The index borrows the records: they must outlive it and must
  // not change (a log that grows needs a new index).
  static std::expected<Queries, QueryError> create(std::span<const record::Record> records,
                                                   const verify::VerifierRules& rules);

  // Indexes records over a replay already made: the accepted ids and the
  // verdict of a replay that did not fail. Nothing is checked, so records
  // that do not verify can be indexed too (lineages that point nowhere).
  static Queries over(std::span<const record::Record> records, const base::IdTableSet& accepted,
                      verify::LogVerdict verdict);

  // Indexes a log known to replay (a log writer's, judged record by record as
  // it was committed) from the state and index its writer keeps, which are
  // what a replay would fold and build: the same index as create's, without
  // the replay.
  static Queries of_replayed(std::span<const record::Record> records, const state::State& state,
                             const verify::PriorIndex& index);

  // `record` must be one of the indexed records.
  Node node(const record::Record& record) const;
  // The back edges of a Candidate with these refs and payload.
  std::vector<BackEdge> back_edges(std::span<const record::Ref> refs, const record::CandidateData& candidate) const;

  // The line of descent of a Candidate back to its roots, breadth first.
  std::expected<DescentReport, QueryError> descent(const base::Id& id) const;
  // Every accepted Candidate whose line of descent passes through the record.
  std::expected<DescendantsReport, QueryError> descendants(const base::Id& id) const;
  // The accepted Candidates of the same basis and the same set of causes.
  std::expected<SiblingsReport, QueryError> siblings(const base::Id& id) const;
  // Accepted Candidates no accepted Selection considered, and chosen ones
  // that nothing continues yet.
  FrontierReport frontier() const;
  // The record's node and the Selections that restore it.
  std::expected<StandingReport, QueryError> standing(const base::Id& id) const;
  // The evaluations a Selection, or every anchor on a Candidate's line, uses.
  std::expected<EvidenceReport, QueryError> evidence(const base::Id& id) const;
  // The accepted Selections of exactly this objective that chose candidates.
  SelectedReport selected(std::string_view objective) const;
  // The Evaluations a Selection with these refs Uses, with their summaries.
  std::vector<EvidenceEntry> selection_evidence(std::span<const record::Ref> refs) const;

 private:
  static constexpr uint32_t kNone = UINT32_MAX;

  struct Edge {
    base::Id id{};
    uint32_t to = kNone;  // the target's position; kNone when it is not in the log
    std::string_view via;
  };
  // What the queries need of a payload, read once.
  struct Detail {
    std::vector<record::ArtifactRef> artifacts;
    std::vector<base::Id> requirements;
    std::optional<record::EvaluationSummary> summary;  // an Evaluation's
    std::vector<base::Id> chosen;                      // a Selection's chosen candidates
  };

  // Per record.
  enum Flag : uint8_t {
    kAccepted = 1,
    kRetracted = 2,
    kTainted = 4,
    kFlagged = 8,     // a compromised Candidate or an unsound Selection
    kReadable = 16,   // a Candidate whose payload reads
    kFails = 32,      // a Candidate whose descent fails
  };
  // The Candidate payloads, read once while the index is built.
  struct CandidatesRead {
    std::vector<uint32_t> at;  // per record: the entry in `data`, or kNone
    std::vector<record::CandidateData> data;
  };

  Queries() = default;

  uint32_t find(const base::Id& id) const {
    const uint32_t* p = positions_.find(id);
    return p ? *p : kNone;
  }
  bool has(uint32_t pos, Flag flag) const { return (flags_[pos] & flag) != 0; }
  record::Kind kind(uint32_t pos) const { return records_[pos].kind; }
  std::span<const Edge> edges(uint32_t pos) const {
    return {edges_.data() + edge_begin_[pos], edges_.data() + edge_begin_[pos + 1]};
  }
  std::span<const uint32_t> preds(uint32_t pos) const {
    return {preds_.data() + pred_begin_[pos], preds_.data() + pred_begin_[pos + 1]};
  }
  Detail& detail(uint32_t pos);

  Node node_at(uint32_t pos) const;
  // The lookup the id queries share: known, accepted, and for a Candidate
  // query a Candidate whose payload reads.
  std::expected<uint32_t, QueryError> lookup(const base::Id& id, bool candidate) const;
  std::expected<std::vector<DescentStep>, QueryError> line_of(uint32_t start) const;

  // The steps of building, in order.
  CandidatesRead read_payloads();
  void link_lineage(const CandidatesRead& candidates);
  void mark_failing_descents();
  void group_siblings(const CandidatesRead& candidates);
  void gather_outcomes(const CandidatesRead& candidates);

  std::span<const record::Record> records_;
  base::IdTable<uint32_t> positions_;
  std::vector<uint8_t> flags_;

  // Back edges of the Candidates whose payload reads, in back_edges order,
  // and the reverse: the Candidates with a back edge to each record.
  std::vector<uint32_t> edge_begin_;
  std::vector<Edge> edges_;
  std::vector<uint32_t> pred_begin_;
  std::vector<uint32_t> preds_;

  std::vector<uint32_t> detail_of_;  // per record: the entry in `details_`, or kNone
  std::vector<Detail> details_;

  // The first two accepted Candidates, in log order, whose descent fails.
  std::vector<uint32_t> failing_;
  // Accepted Candidates of one basis (not root) and one cause set, log order.
  std::vector<uint32_t> group_of_;
  std::vector<std::vector<uint32_t>> groups_;

  std::vector<std::pair<uint32_t, std::string_view>> frontier_;
  std::map<std::string, std::vector<uint32_t>, std::less<>> selected_;  // objective -> Selections
  verify::Restorations restorations_;
};

// One index kept over records and rules that do not change: built by the
// first query, reused by the later ones. Handed other records (another span,
// or the same list grown), it builds anew. A copy or a move starts empty: the
// records the index borrows need not move along.
class Cache {
 public:
  Cache() = default;
  Cache(const Cache&) {}
  Cache& operator=(const Cache&) {
    clear();
    return *this;
  }

  const std::expected<Queries, QueryError>& get(std::span<const record::Record> records,
                                                const verify::VerifierRules& rules) const {
    return get(records, [&] { return Queries::create(records, rules); });
  }
  // The same, building a missing index with `build`.
  template <class Build>
  const std::expected<Queries, QueryError>& get(std::span<const record::Record> records, Build&& build) const {
    const bool same = built_ && built_->records.data() == records.data() && built_->records.size() == records.size();
    if (!same) {
      built_.reset();
      built_.emplace(Built{records, build()});
    }
    return built_->index;
  }
  // Drops the index, before the records it borrows change.
  void clear() { built_.reset(); }

 private:
  struct Built {
    std::span<const record::Record> records;
    std::expected<Queries, QueryError> index;
  };
  mutable std::optional<Built> built_;
};

}  // namespace quintrel::queries
