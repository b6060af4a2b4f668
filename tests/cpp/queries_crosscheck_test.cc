// The lineage queries and evidence against a literal reading of their
// algorithms (one descent per Candidate for descendants, every lookup a
// scan) on random logs fed straight to the index. Frontier, standing and
// selected are the literal algorithms run once while the index is built;
// the hand-built lineage covers them.
#include <deque>
#include <random>
#include <set>

#include "log_fixture.h"
#include "queries/queries.h"
#include "record/evolution_payloads.h"
#include "verify/replay.h"

namespace quintrel::queries {
namespace {

using namespace quintrel::fixture;
using namespace record;
template <class R>
using Answer = std::expected<R, QueryError>;

template <class T>
std::optional<T> read(const Record& r) {
  auto v = base::from_json<T>(base::as_text(r.data));
  return v ? std::optional<T>(std::move(*v)) : std::nullopt;
}

struct Literal {
  std::span<const Record> records;
  const base::IdTableSet& accepted;
  const verify::LogVerdict& v;

  const Record* find(const Id& id) const {
    for (auto it = records.rbegin(); it != records.rend(); ++it)
      if (it->id == id) return &*it;
    return nullptr;
  }
  Answer<const Record*> lookup(const Id& id, bool candidate) const {
    const Record* r = find(id);
    if (!r) return std::unexpected(QueryError::not_found(id));
    if (!accepted.contains(id)) return std::unexpected(QueryError::rejected(id));
    if (candidate && r->kind != Kind::Candidate) return std::unexpected(QueryError::wrong_kind(id, kCandidate));
    if (candidate && !read<CandidateData>(*r)) return std::unexpected(QueryError::not_found(id));
    return r;
  }

  Node node(const Record& r) const {
    Node n{r.id, r.kind, "n/a", v.tainted.contains(r.id), v.retracted.contains(r.id), {}, {}};
    if (r.kind == Kind::Candidate) n.standing = v.standing.compromised.contains(r.id) ? "compromised" : "sound";
    if (r.kind == Kind::Selection) n.standing = v.standing.unsound.contains(r.id) ? "unsound" : "sound";
    if (auto c = read<CandidateData>(r); r.kind == Kind::Candidate && c && c->artifacts) n.artifacts = *c->artifacts;
    if (auto x = read<ResultData>(r); r.kind == Kind::Result && x && x->artifacts) n.artifacts = *x->artifacts;
    if (auto e = read<EvaluationDataV2>(r); r.kind == Kind::Evaluation && e)
      n.artifacts = e->evidence, n.requirements = e->requirements;
    return n;
  }

  std::vector<BackEdge> back_edges(const Record& r, const CandidateData& c) const {
    std::set<Id> causes;
    for (const Id& t : verify::cause_targets(r.refs)) causes.insert(t);
    std::vector<BackEdge> out;
    for (const Id& t : causes) {
      if (c.basis == CandidateBasis::continuation) out.push_back({t, kContinuationAnchor});
      const Record* x = find(t);
      if (c.basis == CandidateBasis::derivation && x && x->kind == Kind::Candidate) out.push_back({t, kDerivation});
    }
    if (c.basis == CandidateBasis::continuation && c.parent) out.push_back({*c.parent, kParent});
    return out;
  }

  Answer<DescentReport> descent(const Id& id) const {
    auto r = lookup(id, true);
    if (!r) return std::unexpected(r.error());
    std::set<Id> visited{id};
    std::deque<BackEdge> queue;
    for (const BackEdge& e : back_edges(**r, *read<CandidateData>(**r))) queue.push_back(e);
    DescentReport report{node(**r), {}};
    for (; !queue.empty(); queue.pop_front()) {
      const BackEdge e = queue.front();
      if (!visited.insert(e.id).second) continue;
      const Record* x = find(e.id);
      if (!x) return std::unexpected(QueryError::not_found(e.id));
      report.line.push_back({node(*x), e.via});
      if (x->kind != Kind::Candidate) continue;
      auto c = read<CandidateData>(*x);
      if (!c) return std::unexpected(QueryError::not_found(e.id));
      for (const BackEdge& next : back_edges(*x, *c)) queue.push_back(next);
    }
    return report;
  }

  Answer<DescendantsReport> descendants(const Id& id) const {
    auto r = lookup(id, false);
    if (!r) return std::unexpected(r.error());
    DescendantsReport report{node(**r), {}};
    for (const Record& c : records) {
      if (c.kind != Kind::Candidate || !accepted.contains(c.id) || c.id == id) continue;
      auto d = descent(c.id);
      if (!d) return std::unexpected(d.error());
      if (std::ranges::any_of(d->line, [&](const DescentStep& s) { return s.node.id == id; }))
        report.descendants.push_back(node(c));
    }
    return report;
  }

  Answer<SiblingsReport> siblings(const Id& id) const {
    auto r = lookup(id, true);
    if (!r) return std::unexpected(r.error());
    const auto causes = [](const Record& x) {
      auto t = verify::cause_targets(x.refs);
      return std::set<Id>(t.begin(), t.end());
    };
    const CandidateBasis basis = read<CandidateData>(**r)->basis;
    SiblingsReport report{node(**r), {}};
    for (const Record& c : records) {
      if (c.kind != Kind::Candidate || &c == *r || !accepted.contains(c.id)) continue;
      auto d = read<CandidateData>(c);
      if (basis != CandidateBasis::root && d && d->basis == basis && causes(c) == causes(**r))
        report.siblings.push_back(node(c));
    }
    return report;
  }

  std::vector<EvidenceEntry> selection_evidence(const Record& s) const {
    std::vector<EvidenceEntry> out;
    for (const Ref& ref : s.refs) {
      const Record* e = ref.type == RefType::Use ? find(ref.target) : nullptr;
      if (!e || e->kind != Kind::Evaluation) continue;
      if (auto sum = evaluation_summary(e->schema, base::as_text(e->data))) out.push_back({node(*e), sum->criterion, sum->label});
    }
    return out;
  }

  Answer<EvidenceReport> evidence(const Id& id) const {
    auto r = lookup(id, false);
    if (!r) return std::unexpected(r.error());
    EvidenceReport report{node(**r), {}};
    if ((*r)->kind == Kind::Selection) {
      report.rests_on.push_back({node(**r), selection_evidence(**r)});
      return report;
    }
    if ((*r)->kind != Kind::Candidate) return std::unexpected(QueryError::wrong_kind(id, kCandidateOrSelection));
    auto d = descent(id);
    if (!d) return std::unexpected(d.error());
    for (const DescentStep& step : d->line)
      if (step.node.kind == Kind::Selection) report.rests_on.push_back({step.node, selection_evidence(*find(step.node.id))});
    return report;
  }
};

template <class R>
std::string text(const Answer<R>& answer) {
  auto v = to_value(answer);
  return v ? base::write_compact(*v) : "error: " + v.error();
}

// Records fed to the index unchecked, with random flags and the standing
// derived from them: lineages to ids outside the log, to later records and
// round in cycles, payloads that do not read or whose version is not their
// schema's.
TEST(QueriesCrossCheck, RandomLogs) {
  std::mt19937 rng(3);
  auto chance = [&](int percent) { return static_cast<int>(rng() % 100) < percent; };
  size_t lines = 0, descendants = 0, failures = 0, rests_on = 0;
  for (int i = 0; i < 300; ++i) {
    const size_t n = 1 + rng() % 25;
    std::vector<uint8_t> pool(60);
    std::iota(pool.begin(), pool.end(), 1);
    std::shuffle(pool.begin(), pool.end(), rng);
    auto any = [&] { return chance(95) ? id_of(pool[rng() % n]) : id_of(static_cast<uint8_t>(200 + rng() % 3)); };
    std::vector<Record> records;
    for (size_t k = 0; k < n; ++k) {
      const int kind = static_cast<int>(rng() % 10);
      if (kind < 5) {
        CandidateData c;
        c.basis = static_cast<CandidateBasis>(rng() % 3);
        if (chance(60)) c.parent = any();
        if (chance(20)) c.artifacts = {{"sha256-bytes", std::string(64, 'e'), "x"}};
        std::vector<Ref> refs;
        // Causes drawn often from a few records: siblings, and causes repeated.
        for (int m = static_cast<int>(rng() % 3); m > 0; --m)
          refs.push_back(cause(chance(50) ? id_of(pool[rng() % std::min<size_t>(n, 3)]) : any()));
        records.push_back(make_record(pool[k], Kind::Candidate, c, refs));
      } else if (kind < 8) {
        SelectionData s{chance(50) ? "ship" : "keep", {any(), any()}, SelectionOutcome::choose({any()}), {}};
        if (chance(20)) s.outcome = SelectionOutcome::none();
        records.push_back(make_record(pool[k], Kind::Selection, s, {use(any()), use(any()), replace(any())}));
      } else {
        EvaluationDataV2 e{any(), "review", {}, {static_cast<EvaluationOutcomeV2::Kind>(rng() % 7), {7, 1}}};
        e.evaluator.id = "ci", e.requirements = {any()};
        if (chance(50)) e.evidence = {{"sha256-bytes", std::string(64, 'f'), std::nullopt}};
        records.push_back(chance(50) ? make_record(pool[k], Kind::Evaluation, e)
                                     : make_record(pool[k], Kind::Evaluation, EvaluationData{any(), "tests"}));
        records.back().schema = schema(chance(50) ? "quintrel.evaluation.v2" : "quintrel.evaluation.v1");
      }
      if (chance(8)) records.back().data = base::to_bytes("{}");
    }
    state::State st;
    for (const Record& r : records) {
      if (chance(85)) st.accepted_records.insert(r.id);
      if (chance(15)) st.retracted_records.insert(r.id);
      if (chance(15)) st.tainted_records.insert(r.id);
    }
    verify::LogVerdict v;
    v.standing = verify::derive_standing(records, st);
    v.retracted = st.retracted_records, v.tainted = st.tainted_records;
    const Queries q = Queries::over(records, st.accepted_records, v);
    const Literal lit{records, st.accepted_records, v};
    std::vector<Id> ids{base::sha256("unknown")};
    for (const Record& r : records) ids.push_back(r.id);
    for (const Id& id : ids) {
      const auto d = lit.descent(id);
      const auto ds = lit.descendants(id);
      const auto ev = lit.evidence(id);
      ASSERT_EQ(text(q.descent(id)), text(d));
      ASSERT_EQ(text(q.descendants(id)), text(ds));
      ASSERT_EQ(text(q.siblings(id)), text(lit.siblings(id)));
      ASSERT_EQ(text(q.evidence(id)), text(ev));
      lines += d && !d->line.empty();
      descendants += ds && !ds->descendants.empty();
      failures += !ds && ds.error().what == QueryError::Case::NotFound;
      rests_on += ev && !ev->rests_on.empty() && !ev->rests_on[0].evidence.empty();
    }
  }
  // The logs reach what they are made for.
  EXPECT_GT(lines, 300u);
  EXPECT_GT(failures, 100u);
  EXPECT_GT(descendants, 100u);
  EXPECT_GT(rests_on, 50u);
}

}  // namespace
}  // namespace quintrel::queries
