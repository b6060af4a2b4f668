// The named queries against a literal reading of their algorithms (one
// descent per Candidate for descendants, every lookup a scan) on random
// logs: verified ones grown through the checks, and inconsistent ones fed
// straight to the index, whose lineages point nowhere, loop and fail to read.
#include <deque>
#include <random>
#include <set>

#include "log_fixture.h"
#include "queries/queries.h"
#include "record/evolution_payloads.h"
#include "state/build.h"
#include "verify/replay.h"

namespace quintrel::queries {
namespace {

using namespace quintrel::fixture;
using namespace record;
using base::Json;
using Answer = std::expected<Json, std::string>;

template <class T>
std::optional<T> read(const Record& r) {
  auto v = base::from_json<T>(base::as_text(r.data));
  return v ? std::optional<T>(std::move(*v)) : std::nullopt;
}

struct Literal {
  std::span<const Record> records;
  const base::IdTableSet& accepted;
  const verify::LogVerdict& v;
  mutable std::map<Id, Answer> descents;  // a descent depends on nothing but the log

  const Record* find(const Id& id) const {
    for (auto it = records.rbegin(); it != records.rend(); ++it)
      if (it->id == id) return &*it;
    return nullptr;
  }
  static std::unexpected<std::string> fail(const Id& id, std::string what) {
    return std::unexpected("record " + base::hex_encode(id) + what);
  }
  std::expected<const Record*, std::string> lookup(const Id& id, bool candidate) const {
    const Record* r = find(id);
    if (!r) return fail(id, " not found");
    if (!accepted.contains(id)) return fail(id, " was rejected at commit");
    if (candidate && r->kind != Kind::Candidate) return fail(id, " is not a Candidate");
    if (candidate && !read<CandidateData>(*r)) return fail(id, " not found");
    return r;
  }

  Json node(const Record& r) const {
    Json::Object o{{"id", base::hex_encode(r.id)},
                   {"kind", base::EnumNames<Kind>::names[static_cast<int>(r.kind)]},
                   {"retracted", v.retracted.contains(r.id)},
                   {"standing", "n/a"},
                   {"tainted", v.tainted.contains(r.id)}};
    if (r.kind == Kind::Candidate) o["standing"] = v.standing.compromised.contains(r.id) ? "compromised" : "sound";
    if (r.kind == Kind::Selection) o["standing"] = v.standing.unsound.contains(r.id) ? "unsound" : "sound";
    std::vector<ArtifactRef> artifacts;
    Json::Array requirements;
    if (auto c = read<CandidateData>(r); r.kind == Kind::Candidate && c && c->artifacts) artifacts = *c->artifacts;
    if (auto x = read<ResultData>(r); r.kind == Kind::Result && x && x->artifacts) artifacts = *x->artifacts;
    if (auto e = read<EvaluationDataV2>(r); r.kind == Kind::Evaluation && e) {
      artifacts = e->evidence;
      for (const Id& q : e->requirements) requirements.push_back(base::hex_encode(q));
    }
    Json::Array a;
    for (const auto& x : artifacts)
      a.push_back(Json::Object{{"digest", x.digest}, {"name", x.name ? Json(*x.name) : Json()}, {"scheme", x.scheme}});
    if (!a.empty()) o["artifacts"] = a;
    if (!requirements.empty()) o["requirements"] = requirements;
    return o;
  }

  std::vector<std::pair<Id, std::string>> back_edges(const Record& r, const CandidateData& c) const {
    std::vector<Id> causes = verify::cause_targets(r.refs);
    std::sort(causes.begin(), causes.end());
    std::vector<std::pair<Id, std::string>> out;
    for (const Id& t : causes) {
      if (c.basis == CandidateBasis::continuation) out.emplace_back(t, "continuation-anchor");
      const Record* x = find(t);
      if (c.basis == CandidateBasis::derivation && x && x->kind == Kind::Candidate) out.emplace_back(t, "derivation");
    }
    if (c.basis == CandidateBasis::continuation && c.parent) out.emplace_back(*c.parent, "parent");
    return out;
  }

  Answer descent(const Id& id) const {
    auto [it, added] = descents.try_emplace(id);
    if (added) it->second = walk(id);
    return it->second;
  }
  Answer walk(const Id& id) const {
    auto r = lookup(id, true);
    if (!r) return std::unexpected(r.error());
    std::set<Id> visited{id};
    std::deque<std::pair<Id, std::string>> queue;
    for (auto& e : back_edges(**r, *read<CandidateData>(**r))) queue.push_back(e);
    Json::Array line;
    while (!queue.empty()) {
      auto [at, via] = queue.front();
      queue.pop_front();
      if (!visited.insert(at).second) continue;
      const Record* x = find(at);
      if (!x) return fail(at, " not found");
      line.push_back(Json::Object{{"node", node(*x)}, {"via", via}});
      if (x->kind != Kind::Candidate) continue;
      auto c = read<CandidateData>(*x);
      if (!c) return fail(at, " not found");
      for (auto& e : back_edges(*x, *c)) queue.push_back(e);
    }
    return Json::Object{{"line", line}, {"target", node(**r)}};
  }

  Answer descendants(const Id& id) const {
    auto r = lookup(id, false);
    if (!r) return std::unexpected(r.error());
    Json::Array out;
    for (const Record& c : records) {
      if (c.kind != Kind::Candidate || !accepted.contains(c.id) || c.id == id) continue;
      Answer d = descent(c.id);
      if (!d) return d;
      for (const Json& step : d->as<Json::Object>().at("line").as<Json::Array>())
        if (step.as<Json::Object>().at("node").as<Json::Object>().at("id") == Json(base::hex_encode(id))) {
          out.push_back(node(c));
          break;
        }
    }
    return Json::Object{{"descendants", out}, {"target", node(**r)}};
  }

  Answer siblings(const Id& id) const {
    auto r = lookup(id, true);
    if (!r) return std::unexpected(r.error());
    const auto causes = [](const Record& x) {
      auto t = verify::cause_targets(x.refs);
      return std::set<Id>(t.begin(), t.end());
    };
    const CandidateData mine = *read<CandidateData>(**r);
    Json::Array out;
    for (const Record& c : records) {
      if (c.kind != Kind::Candidate || &c == *r || !accepted.contains(c.id)) continue;
      auto d = read<CandidateData>(c);
      if (mine.basis != CandidateBasis::root && d && d->basis == mine.basis && causes(c) == causes(**r))
        out.push_back(node(c));
    }
    return Json::Object{{"siblings", out}, {"target", node(**r)}};
  }

  Json frontier() const {
    std::set<Id> considered, chosen, continued;
    for (const Record& r : records) {
      if (!accepted.contains(r.id)) continue;
      if (auto s = read<SelectionData>(r); r.kind == Kind::Selection && s) {
        considered.insert(s->considered.begin(), s->considered.end());
        if (s->outcome.selected) chosen.insert(s->outcome.selected->candidates.begin(), s->outcome.selected->candidates.end());
      }
      if (auto c = read<CandidateData>(r); r.kind == Kind::Candidate && c && c->basis == CandidateBasis::continuation && c->parent)
        continued.insert(*c->parent);
    }
    Json::Array out;
    for (const Record& r : records) {
      if (r.kind != Kind::Candidate || !accepted.contains(r.id)) continue;
      if (!considered.contains(r.id)) out.push_back(Json::Object{{"node", node(r)}, {"reason", "unconsidered"}});
      else if (chosen.contains(r.id) && !continued.contains(r.id))
        out.push_back(Json::Object{{"node", node(r)}, {"reason", "selected-no-continuation"}});
    }
    return Json::Object{{"frontier", out}};
  }

  Answer standing(const Id& id) const {
    auto r = lookup(id, false);
    if (!r) return std::unexpected(r.error());
    Json::Array restorers;
    for (const Id& s : v.standing.restorations.of(id)) restorers.push_back(base::hex_encode(s));
    return Json::Object{{"node", node(**r)}, {"restorations", restorers}};
  }

  Json selection_evidence(const Record& s) const {
    Json::Array out;
    for (const Ref& ref : s.refs) {
      const Record* e = ref.type == RefType::Use ? find(ref.target) : nullptr;
      if (!e || e->kind != Kind::Evaluation) continue;
      if (auto sum = evaluation_summary(e->schema, base::as_text(e->data)))
        out.push_back(Json::Object{{"criterion", sum->criterion}, {"node", node(*e)}, {"outcome", sum->label}});
    }
    return out;
  }

  Answer evidence(const Id& id) const {
    auto r = lookup(id, false);
    if (!r) return std::unexpected(r.error());
    Json::Array rests;
    if ((*r)->kind == Kind::Selection) {
      rests.push_back(Json::Object{{"evidence", selection_evidence(**r)}, {"selection", node(**r)}});
    } else if ((*r)->kind == Kind::Candidate) {
      Answer d = descent(id);
      if (!d) return d;
      for (const Json& step : d->as<Json::Object>().at("line").as<Json::Array>()) {
        const Json& n = step.as<Json::Object>().at("node");
        if (n.as<Json::Object>().at("kind") != Json("Selection")) continue;
        const Record* s = find(*base::hex_decode(n.as<Json::Object>().at("id").as<std::string>()));
        rests.push_back(Json::Object{{"evidence", selection_evidence(*s)}, {"selection", n}});
      }
    } else {
      return fail(id, " is not a Candidate or Selection");
    }
    return Json::Object{{"rests_on", rests}, {"target", node(**r)}};
  }

  Json selected(const std::string& objective) const {
    Json::Array out;
    for (const Record& r : records) {
      auto s = r.kind == Kind::Selection && accepted.contains(r.id) ? read<SelectionData>(r) : std::nullopt;
      if (!s || s->objective != objective || !s->outcome.selected) continue;
      Json::Array chosen;
      for (const Id& c : s->outcome.selected->candidates)
        if (const Record* x = find(c)) chosen.push_back(node(*x));
      out.push_back(Json::Object{{"chosen", chosen}, {"evidence", selection_evidence(r)}, {"selection", node(r)}});
    }
    return Json::Object{{"objective", objective}, {"selections", out}};
  }
};

std::string text(const Answer& a) { return a ? base::write_compact(*a) : "error: " + a.error(); }
template <class R>
std::string text(const std::expected<R, QueryError>& a) { return text(to_value(a)); }

struct Seen {
  size_t lines = 0, descendants = 0, failures = 0, rests_on = 0, restored = 0;
};

// Every query on every id of the log and on one unknown id.
void compare(std::span<const Record> records, const base::IdTableSet& accepted, const verify::LogVerdict& v,
             const Queries& q, Seen& seen) {
  const Literal lit{records, accepted, v};
  std::vector<Id> ids{base::sha256("unknown")};
  for (const Record& r : records) ids.push_back(r.id);
  for (const Id& id : ids) {
    const std::string h = base::hex_encode(id);
    const std::string d = text(lit.descent(id)), ds = text(lit.descendants(id));
    const std::string ev = text(lit.evidence(id)), st = text(lit.standing(id));
    ASSERT_EQ(text(q.descent(id)), d) << h;
    ASSERT_EQ(text(q.descendants(id)), ds) << h;
    ASSERT_EQ(text(q.siblings(id)), text(lit.siblings(id))) << h;
    ASSERT_EQ(text(q.standing(id)), st) << h;
    ASSERT_EQ(text(q.evidence(id)), ev) << h;
    seen.lines += d.find(R"("line":[{)") != std::string::npos;
    seen.descendants += ds.find(R"("descendants":[{)") != std::string::npos;
    seen.failures += ds.starts_with("error: ") && ds.ends_with(" not found");
    seen.rests_on += ev.find(R"("rests_on":[{"evidence":[{)") != std::string::npos;
    seen.restored += st.find(R"("restorations":[")") != std::string::npos;
  }
  ASSERT_EQ(text(to_value(q.frontier())), text(lit.frontier()));
  for (const char* objective : {"ship", "keep", "other"})
    ASSERT_EQ(text(to_value(q.selected(objective))), text(lit.selected(objective))) << objective;
}

// A log grown through the checks: mostly records that are accepted, some
// that are not (a parent the anchor did not choose, a stranger's retraction).
Log grown_log(std::mt19937& rng) {
  auto chance = [&](int percent) { return static_cast<int>(rng() % 100) < percent; };
  auto pick = [&](const std::vector<Id>& v) { return v[rng() % v.size()]; };
  Log log;
  const Id req = log.accept(draft(Kind::Request, "user", RequestData{"o", base::sha256("scope")}));
  const Id rq = log.accept(draft(Kind::Requirement, "user", RequirementData{"k", "d", true, {}, {}}, {cause(req)}));
  std::vector<Id> cands, evals, sels, all{req, rq};
  std::map<Id, std::vector<Id>> chose;                 // Selection -> chosen
  std::map<std::string, std::vector<Id>> objectives;  // objective -> Selections
  for (size_t i = 0, n = 4 + rng() % 30; i < n; ++i) {
    const int k = static_cast<int>(rng() % 100);
    Draft d;
    if (k < 40 || cands.empty()) {
      CandidateData c;
      c.source.git.tree = std::string(40, static_cast<char>('a' + rng() % 6));
      if (chance(20)) c.artifacts = {{"sha256-bytes", std::string(64, 'e'), chance(50) ? "x" : std::optional<std::string>()}};
      std::vector<Ref> refs;
      if (!sels.empty() && chance(50)) {
        const Id s = pick(sels);
        c.basis = CandidateBasis::continuation, refs = {cause(s)};
        c.parent = chance(90) && !chose[s].empty() ? pick(chose[s]) : pick(cands);
      } else if (!cands.empty() && chance(50)) {
        c.basis = CandidateBasis::derivation;
        for (int m = 1 + static_cast<int>(rng() % 3); m > 0; --m)
          refs.push_back(cause(chance(80) || evals.empty() ? pick(cands) : pick(evals)));
      } else if (chance(30)) {
        refs = {cause(req)};
      }
      d = draft(Kind::Candidate, "provider", c, refs);
    } else if (k < 60) {
      EvaluationDataV2 e{pick(cands), "review", {}, {static_cast<EvaluationOutcomeV2::Kind>(rng() % 7), {7, 1}}};
      e.evaluator.id = "ci";
      if (chance(40)) e.requirements = {rq};
      if (chance(40)) e.evidence = {{"sha256-bytes", std::string(64, 'f'), "log"}};
      d = draft(Kind::Evaluation, "provider", e, {use(e.candidate), use(rq)});
      d.schema = schema(chance(80) ? "quintrel.evaluation.v2" : "quintrel.evaluation.v1");
      if (chance(40)) d.data = json(EvaluationData{e.candidate, "tests", {}, {}});
    } else if (k < 85) {
      SelectionData s{chance(70) ? "ship" : "keep", {}, SelectionOutcome::none(), std::nullopt};
      for (const Id& c : cands)
        if (chance(50)) s.considered.push_back(c);
      if (s.considered.empty()) s.considered.push_back(pick(cands));
      std::vector<Ref> refs;
      if (chance(80)) {
        s.outcome = SelectionOutcome::choose({pick(s.considered)});
        refs.push_back(require(s.outcome.selected->candidates[0]));
      }
      for (const Id& e : evals)
        if (chance(60)) refs.push_back(use(e));
      if (!objectives[s.objective].empty() && chance(70)) refs.push_back(replace(pick(objectives[s.objective])));
      d = draft(Kind::Selection, "user", s, refs);
    } else {
      const Id t = pick(chance(50) && !sels.empty() ? sels : chance(50) && !evals.empty() ? evals : all);
      auto author = std::ranges::find(log.records(), t, &Record::id)->author.id;
      d = draft(Kind::Retraction, chance(90) ? author : "system", RetractionData{t, ""}, {cause(t)});
    }
    const Commit c = log.commit(d);
    if (c.judgement) continue;
    all.push_back(c.id);
    if (d.kind == Kind::Candidate) cands.push_back(c.id);
    if (d.kind == Kind::Evaluation) evals.push_back(c.id);
    if (d.kind == Kind::Selection) {
      const auto s = base::from_json<SelectionData>(d.data).value();
      sels.push_back(c.id);
      objectives[s.objective].push_back(c.id);
      if (s.outcome.selected) chose[c.id] = s.outcome.selected->candidates;
    }
  }
  return log;
}

TEST(QueriesCrossCheck, GrownLogs) {
  std::mt19937 rng(19);
  Seen seen;
  for (int i = 0; i < 200; ++i) {
    const Log log = grown_log(rng);
    const auto v = verify::verify_log(log.records(), log.rules);
    const auto q = Queries::create(log.records(), log.rules);
    ASSERT_TRUE(q) << q.error().to_string();
    compare(log.records(), log.state().accepted_records, v, *q, seen);
    if (testing::Test::HasFatalFailure()) return;
  }
  EXPECT_GT(seen.lines, 500u);
  EXPECT_GT(seen.descendants, 500u);
  EXPECT_GT(seen.rests_on, 200u);
  EXPECT_GT(seen.restored, 10u);
}

// Records fed to the index unchecked: lineages to ids outside the log, to
// later records and round in cycles, payloads that do not read, and random
// flags with the standing derived from them.
TEST(QueriesCrossCheck, InconsistentLogs) {
  std::mt19937 rng(3);
  auto chance = [&](int percent) { return static_cast<int>(rng() % 100) < percent; };
  Seen seen;
  for (int i = 0; i < 250; ++i) {
    const size_t n = 1 + rng() % 25;
    std::vector<uint8_t> pool(60);
    std::iota(pool.begin(), pool.end(), 1);
    std::shuffle(pool.begin(), pool.end(), rng);
    auto any = [&] { return chance(90) ? id_of(pool[rng() % n]) : id_of(static_cast<uint8_t>(200 + rng() % 3)); };
    std::vector<Record> records;
    for (size_t k = 0; k < n; ++k) {
      const int kind = static_cast<int>(rng() % 10);
      if (kind < 6) {
        CandidateData c;
        c.basis = static_cast<CandidateBasis>(rng() % 3);
        if (chance(60)) c.parent = any();
        std::vector<Ref> refs;
        // Causes drawn often from a few records: siblings, and causes repeated.
        for (int m = static_cast<int>(rng() % 3); m > 0; --m)
          refs.push_back(cause(chance(50) ? id_of(pool[rng() % std::min<size_t>(n, 3)]) : any()));
        records.push_back(make_record(pool[k], Kind::Candidate, c, refs));
      } else if (kind < 8) {
        SelectionData s{chance(50) ? "ship" : "keep", {any(), any()}, SelectionOutcome::choose({any()}), {}};
        records.push_back(make_record(pool[k], Kind::Selection, s, {use(any()), use(any())}));
      } else {
        records.push_back(make_record(pool[k], Kind::Evaluation, EvaluationData{any(), "t"}, {}));
        records.back().schema = schema("quintrel.evaluation.v1");
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
    compare(records, st.accepted_records, v, Queries::over(records, st.accepted_records, v), seen);
    if (testing::Test::HasFatalFailure()) return;
  }
  EXPECT_GT(seen.failures, 200u);
  EXPECT_GT(seen.descendants, 100u);
}

}  // namespace
}  // namespace quintrel::queries
