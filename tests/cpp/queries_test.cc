// Standing and the lineage queries: a hand-built lineage, each answer written
// out whole; and random logs against plain readings of the algorithms, every
// lookup a scan (frontier, standing and selected, the literal algorithms run
// as the index is built, only over the hand-built lineage).
#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <map>
#include <numeric>
#include <random>
#include <set>
#include <sstream>

#include "queries/queries.h"
#include "receipt_fixture.h"
#include "record/evolution_payloads.h"
#include "verify/replay.h"
#include "verify/standing.h"

namespace quintrel::queries {
namespace {

using namespace quintrel::fixture;
using namespace record;
using B = CandidateBasis;
using state::State;
using verify::derive_standing;
using verify::PriorIndex;
using verify::StandingSection;
template <class R>
using Answer = std::expected<R, QueryError>;

template <class T>
std::optional<T> read(const Record& r) {
  auto v = base::from_json<T>(base::as_text(r.data));
  return v ? std::optional<T>(std::move(*v)) : std::nullopt;
}

// Records of one-byte ids.
Record candidate(uint8_t id, CandidateBasis basis, std::optional<uint8_t> parent, std::vector<uint8_t> causes = {},
                 bool artifacts = false) {
  CandidateData d{{{SourceAlgo::sha1, "4b825dc642cb6eb9a060e54bf8d69288fbee4904"}}, basis};
  if (parent) d.parent = id_of(*parent);
  if (artifacts) d.artifacts = {{"sha256-bytes", std::string(64, 'e'), "x"}};
  std::vector<Ref> refs;
  for (uint8_t c : causes) refs.push_back(cause(c));
  return make_record(id, Kind::Candidate, d, refs);
}
Record selection(uint8_t id, std::optional<std::vector<uint8_t>> chosen, std::vector<uint8_t> replaces = {},
                 std::vector<uint8_t> uses = {}) {
  SelectionData d{"pick", {}, SelectionOutcome::none(), {}};
  if (chosen) d.outcome.selected.emplace();
  for (uint8_t c : chosen.value_or(std::vector<uint8_t>{})) d.outcome.selected->candidates.push_back(id_of(c));
  std::vector<Ref> refs;
  for (uint8_t r : replaces) refs.push_back(replace(r));
  for (uint8_t u : uses) refs.push_back(use(u));
  return make_record(id, Kind::Selection, d, refs);
}
base::IdSet ids(std::initializer_list<uint8_t> bytes) {
  base::IdSet s;
  for (uint8_t b : bytes) s.insert(id_of(b));
  return s;
}

// The plain derivation, quadratic in a chain: every sound Selection walks its
// whole Replace chain, bounded by the number of Selections.
StandingSection literal_standing(std::span<const Record> records, const State& st) {
  base::IdMap<std::pair<SelectionData, std::optional<Id>>> sels;  // with the first Replace target
  base::IdMap<std::pair<CandidateData, std::vector<Id>>> cands;   // with the Cause targets
  for (const auto& r : records) {
    if (!st.accepted_records.contains(r.id)) continue;
    std::optional<Id> replaces;
    std::vector<Id> causes;
    for (const auto& ref : r.refs) {
      if (ref.type == RefType::Cause) causes.push_back(ref.target);
      if (ref.type == RefType::Replace && !replaces) replaces = ref.target;
    }
    if (auto c = read<CandidateData>(r); r.kind == Kind::Candidate && c) cands[r.id] = {*c, causes};
    if (auto s = read<SelectionData>(r); r.kind == Kind::Selection && s) sels[r.id] = {*s, replaces};
  }
  auto bad = [&](const Id& id) { return st.retracted_records.contains(id) || st.tainted_records.contains(id); };
  StandingSection out;
  base::IdMap<base::IdSet> sup;  // the sound Selections whose chain reaches an id
  for (const auto& [s, sel] : sels) {
    if (bad(s)) {
      out.unsound.insert(s);
      continue;
    }
    std::optional<Id> at = sel.second;
    for (size_t steps = 0; at && steps <= sels.size(); ++steps) {
      sup[*at].insert(s);
      auto it = sels.find(*at);
      at = it == sels.end() ? std::nullopt : it->second.second;
    }
  }
  for (const Id& x : out.unsound)
    if (sup.contains(x)) out.restorations.add(x, std::vector<Id>(sup[x].begin(), sup[x].end()));

  // Recursion is fine for the small lineages fed here; a candidate met again
  // on its own lineage (a cycle, which no verified log has) is compromised.
  base::IdMap<bool> memo;
  std::function<bool(const Id&)> sound = [&](const Id& id) -> bool {
    auto c = cands.find(id);
    if (c == cands.end()) return false;
    if (auto m = memo.find(id); m != memo.end()) return m->second;
    memo[id] = false;
    const auto& [cand, causes] = c->second;
    bool ok = !st.retracted_records.contains(id);
    if (cand.basis == CandidateBasis::derivation)
      for (const Id& t : causes) ok = ok && (!cands.contains(t) || sound(t));
    if (cand.basis == CandidateBasis::continuation) {
      ok = ok && !causes.empty() && cand.parent;
      if (ok && bad(causes[0])) {
        ok = false;
        for (const Id& r : sup[causes[0]])
          if (const auto& chosen = sels[r].first.outcome.selected)
            ok = ok || std::ranges::count(chosen->candidates, *cand.parent) > 0;
      }
      ok = ok && sound(*cand.parent);
    }
    return memo[id] = ok;
  };
  for (const auto& [id, c] : cands)
    if (!sound(id)) out.compromised.insert(id);
  return out;
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

  static std::set<Id> causes(const Record& r) {
    const auto targets = verify::cause_targets(r.refs);
    return {targets.begin(), targets.end()};
  }
  std::vector<BackEdge> back_edges(const Record& r, const CandidateData& c) const {
    std::vector<BackEdge> out;
    for (const Id& t : causes(r)) {
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
template <class R>
std::string text(const R& report) {
  return base::write_compact(to_value(report));
}

const ArtifactRef kArtA{"sha256-bytes", std::string(64, 'a'), std::nullopt};
const ArtifactRef kArtB{"sha256-bytes", std::string(64, 'b'), "lib"};
const ArtifactRef kReport{"sha256-bytes", std::string(64, 'c'), "report"};

// Roots c1 and c2 evaluated by e1 and e2; s1 chooses c1 and is continued by
// c3 and c4; c5 derives from c3 and c2 and c6 upgrades c5. Retracting c2
// taints e2 and so s1, and compromises c5 and c6; s2 replaces s1 and, having
// chosen c1 again, keeps c3 and c4 sound. s3 chooses c3 under another
// objective, s4 chooses nothing, and a continuation of s4 is rejected.
struct Lineage {
  Log log;
  std::map<std::string, Id> ids;
  static Draft candidate(char tree, B basis, std::vector<Ref> refs, std::optional<Id> parent = {},
                         std::optional<std::vector<ArtifactRef>> artifacts = {}) {
    CandidateData c;
    c.source.git.tree = std::string(40, tree), c.basis = basis, c.parent = parent, c.artifacts = artifacts;
    return draft(Kind::Candidate, "provider", c, std::move(refs));
  }
  static Draft selection(std::string objective, std::vector<Id> considered, std::optional<std::vector<Id>> chosen,
                         std::vector<Ref> refs) {
    SelectionData s{std::move(objective), std::move(considered), SelectionOutcome::none(), std::nullopt};
    if (chosen) s.outcome = SelectionOutcome::choose(*chosen);
    return draft(Kind::Selection, "user", s, std::move(refs));
  }
  static Draft v2(const Id& of, std::string criterion, EvaluationOutcomeV2 outcome, std::vector<ArtifactRef> evidence,
                  std::vector<Id> reqs) {
    EvaluationDataV2 e{of, std::move(criterion), std::nullopt, outcome};
    e.evaluator.id = "ci", e.evidence = std::move(evidence), e.requirements = reqs;
    std::vector<Ref> refs{use(of)};
    for (const Id& r : reqs) refs.push_back(use(r));
    Draft d = draft(Kind::Evaluation, "provider", e, refs);
    d.schema = schema("quintrel.evaluation.v2");
    return d;
  }
  Lineage() {
    auto& i = ids;
    i["req"] = log.accept(draft(Kind::Request, "user", RequestData{"o", base::sha256("scope")}));
    i["rq"] = log.accept(draft(Kind::Requirement, "user", RequirementData{"k", "must", true, {}, {}}, {cause(i["req"])}));
    i["c1"] = log.accept(candidate('a', B::root, {cause(i["req"])}, {}, std::vector{kArtA, kArtB}));
    i["c2"] = log.accept(candidate('b', B::root, {}));
    i["e1"] = log.accept(v2(i["c1"], "tests", {}, {kReport}, {i["rq"]}));
    i["e2"] = log.accept(draft(Kind::Evaluation, "provider",
                               EvaluationData{i["c2"], "bench", {}, EvaluationOutcome::scored({85, 2})}, {use(i["c2"])}));
    i["s1"] = log.accept(selection("ship", {i["c1"], i["c2"]}, {{i["c1"]}}, {require(i["c1"]), use(i["e1"]), use(i["e2"])}));
    i["c3"] = log.accept(candidate('c', B::continuation, {cause(i["s1"])}, i["c1"]));
    i["c4"] = log.accept(candidate('d', B::continuation, {cause(i["s1"])}, i["c1"]));
    i["c5"] = log.accept(candidate('e', B::derivation, {cause(i["c3"]), cause(i["c2"])}));
    i["c6"] = log.accept(candidate('e', B::derivation, {cause(i["c5"])}));
    i["x"] = log.accept(draft(Kind::Retraction, "provider", RetractionData{i["c2"], "wrong"}, {cause(i["c2"])}));
    i["s2"] = log.accept(selection("ship", {i["c1"]}, {{i["c1"]}}, {require(i["c1"]), use(i["e1"]), replace(i["s1"])}));
    i["e3"] = log.accept(v2(i["c3"], "review", {EvaluationOutcomeV2::Kind::blocked}, {}, {}));
    i["s3"] = log.accept(selection("other", {i["c3"]}, {{i["c3"]}}, {require(i["c3"]), use(i["e3"])}));
    i["s4"] = log.accept(selection("ship", {i["c4"]}, std::nullopt, {}));
    const Commit bad = log.commit(candidate('f', B::continuation, {cause(i["s4"])}, i["c4"]));
    EXPECT_EQ(bad.judgement, ReasonCode::LineageInvalid);
    i["bad"] = bad.id;
    i["verdict"] = log.records().back().id;
  }
};

// Every node, by hand: $name stands for a node, #name for an id.
const std::map<std::string, std::string> kNodes = {
    {"req", R"({"id":"#req","kind":"Request","retracted":false,"standing":"n/a","tainted":false})"},
    {"c1", R"({"artifacts":[{"digest":")" + kArtA.digest + R"(","name":null,"scheme":"sha256-bytes"},)"
           R"({"digest":")" + kArtB.digest + R"(","name":"lib","scheme":"sha256-bytes"}],)"
           R"("id":"#c1","kind":"Candidate","retracted":false,"standing":"sound","tainted":false})"},
    {"c2", R"({"id":"#c2","kind":"Candidate","retracted":true,"standing":"compromised","tainted":false})"},
    {"c3", R"({"id":"#c3","kind":"Candidate","retracted":false,"standing":"sound","tainted":false})"},
    {"c4", R"({"id":"#c4","kind":"Candidate","retracted":false,"standing":"sound","tainted":false})"},
    {"c5", R"({"id":"#c5","kind":"Candidate","retracted":false,"standing":"compromised","tainted":false})"},
    {"c6", R"({"id":"#c6","kind":"Candidate","retracted":false,"standing":"compromised","tainted":false})"},
    {"e1", R"({"artifacts":[{"digest":")" + kReport.digest + R"(","name":"report","scheme":"sha256-bytes"}],)"
           R"("id":"#e1","kind":"Evaluation","requirements":["#rq"],"retracted":false,"standing":"n/a","tainted":false})"},
    {"e2", R"({"id":"#e2","kind":"Evaluation","retracted":false,"standing":"n/a","tainted":true})"},
    {"e3", R"({"id":"#e3","kind":"Evaluation","retracted":false,"standing":"n/a","tainted":false})"},
    {"s1", R"({"id":"#s1","kind":"Selection","retracted":false,"standing":"unsound","tainted":true})"},
    {"s2", R"({"id":"#s2","kind":"Selection","retracted":false,"standing":"sound","tainted":false})"},
    {"s3", R"({"id":"#s3","kind":"Selection","retracted":false,"standing":"sound","tainted":false})"},
};

class LineageQueries : public testing::Test {
 protected:
  Lineage l;
  Queries q = Queries::create(l.log.records(), l.log.rules).value();

  // Replaces $name and #name; names are letters and digits.
  std::string expand(std::string text) const {
    for (size_t at = 0; (at = text.find_first_of("$#", at)) != std::string::npos;) {
      size_t end = text.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789", at + 1);
      const std::string name = text.substr(at + 1, end - at - 1);
      const std::string with = text[at] == '$' ? kNodes.at(name) : base::hex_encode(l.ids.at(name));
      text.replace(at, end - at, with);
      if (text[at] != '{') at += with.size();
    }
    return text;
  }
  Id id(const char* name) const { return l.ids.at(name); }
};

// The standings and the empty selection: the Python tests, over its receipt.
TEST_F(LineageQueries, AnswersAndReceiptFile) {
  const std::string c2 = R"({"node":$c2,"via":"derivation"})", c3 = R"({"node":$c3,"via":"derivation"})";
  const std::string e1 = R"({"criterion":"tests","node":$e1,"outcome":"passed"})";
  const std::string e2 = R"({"criterion":"bench","node":$e2,"outcome":"scored 85e-2"})";
  const std::string both = id("e1") < id("e2") ? e1 + "," + e2 : e2 + "," + e1;
  const std::string s1 = R"({"evidence":[)" + both + R"(],"selection":$s1})";
  const Id unknown = base::sha256("nowhere");
  const std::pair<std::string, std::string> answers[] = {
      {text(q.descent(id("c1"))), R"({"line":[],"target":$c1})"},
      {text(q.descent(id("c6"))), R"({"line":[{"node":$c5,"via":"derivation"},)" +
                                      (id("c2") < id("c3") ? c2 + "," + c3 : c3 + "," + c2) +
                                      R"(,{"node":$s1,"via":"continuation-anchor"},{"node":$c1,"via":"parent"}],"target":$c6})"},
      {text(q.descendants(id("c1"))), R"({"descendants":[$c3,$c4,$c5,$c6],"target":$c1})"},
      {text(q.siblings(id("c3"))), R"({"siblings":[$c4],"target":$c3})"},
      {text(q.siblings(id("c1"))), R"({"siblings":[],"target":$c1})"},
      {text(q.frontier()), R"({"frontier":[{"node":$c3,"reason":"selected-no-continuation"},)"
                           R"({"node":$c5,"reason":"unconsidered"},{"node":$c6,"reason":"unconsidered"}]})"},
      {text(q.evidence(id("s1"))), R"({"rests_on":[)" + s1 + R"(],"target":$s1})"},
      {text(q.evidence(id("c6"))), R"({"rests_on":[)" + s1 + R"(],"target":$c6})"},
      {text(q.selected("ship")), R"({"objective":"ship","selections":[{"chosen":[$c1],"evidence":[)" + both +
                                     R"(],"selection":$s1},{"chosen":[$c1],"evidence":[)" + e1 + R"(],"selection":$s2}]})"},
      {text(q.selected("other")), R"({"objective":"other","selections":[{"chosen":[$c3],"evidence":[)"
                                  R"({"criterion":"review","node":$e3,"outcome":"blocked"}],"selection":$s3}]})"},
      {text(q.descent(id("req"))), "error: record #req is not a Candidate"},
      {text(q.evidence(id("e1"))), "error: record #e1 is not a Candidate or Selection"},
      {text(q.descent(id("bad"))), "error: record #bad was rejected at commit"},
      {text(q.standing(id("verdict"))), "error: record #verdict was rejected at commit"},
      {text(q.evidence(unknown)), "error: record " + base::hex_encode(unknown) + " not found"},
  };
  for (const auto& [got, want] : answers) EXPECT_EQ(got, expand(want));

  // Verdicts that disagree with a re-judgement: the replay's reason in debug form.
  std::vector<Record> forged = l.log.records();
  forged.back() = make_verdict(forged[forged.size() - 2], std::nullopt);
  auto refused = Queries::create(forged, l.log.rules);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().to_string(), "log does not verify: Some(LineageInvalid)");
  EXPECT_EQ(QueryError::log_invalid(std::nullopt).to_string(), "log does not verify: None");
  // The Python tests of the query methods read this lineage as a receipt.
  const std::string path = QUINTREL_TESTDATA "/lineage.receipt.json";
  const std::string bytes = bytes_of(receipt_of(l.log));
  if (std::getenv("QUINTREL_WRITE_TESTDATA")) std::ofstream(path, std::ios::binary) << bytes;
  std::ostringstream file;
  file << std::ifstream(path, std::ios::binary).rdbuf();
  EXPECT_EQ(file.str(), bytes) << path << " is rewritten when QUINTREL_WRITE_TESTDATA is set";
}

// Random small logs: lineage points backwards, Replace refs anywhere (chains
// merge, cycle, end at other records); ids may name nothing in the log, and
// payloads may not read or have a version that is not their schema's.
std::pair<std::vector<Record>, State> random_log(std::mt19937& rng) {
  auto chance = [&](int percent) { return static_cast<int>(rng() % 100) < percent; };
  const size_t n = 1 + rng() % 40;
  std::vector<uint8_t> pool(150);
  std::iota(pool.begin(), pool.end(), 1);
  std::shuffle(pool.begin(), pool.end(), rng);
  auto unknown = [&] { return static_cast<uint8_t>(200 + rng() % 8); };
  // A few candidates are chosen and continued often, and continuations often
  // cite a replaced Selection, so that restored continuations are common.
  auto pick = [&](const std::vector<uint8_t>& v, bool popular = false) {
    return v.empty() ? unknown() : v[rng() % (popular && chance(75) ? std::min<size_t>(v.size(), 2) : v.size())];
  };
  std::vector<Kind> kinds(n);
  std::vector<uint8_t> cands, sels, evals, replaced, cands_before;
  for (size_t i = 0; i < n; ++i) {
    const int k = static_cast<int>(rng() % 20);
    kinds[i] = k < 8 ? Kind::Candidate : k < 16 ? Kind::Selection : Kind::Evaluation;
    (kinds[i] == Kind::Candidate ? cands : kinds[i] == Kind::Selection ? sels : evals).push_back(pool[i]);
  }
  std::vector<std::set<uint8_t>> replaces(n);
  for (size_t i = 0; i < n; ++i) {
    if (kinds[i] != Kind::Selection) continue;
    if (chance(80)) replaces[i].insert(chance(85) ? pick(sels) : chance(50) ? unknown() : pool[rng() % n]);
    if (chance(10)) replaces[i].insert(pick(sels));
    replaced.insert(replaced.end(), replaces[i].begin(), replaces[i].end());
  }
  std::pair<std::vector<Record>, State> log;
  auto& [records, st] = log;
  for (size_t i = 0; i < n; ++i) {
    const auto earlier = [&] { return i == 0 ? unknown() : pool[rng() % i]; };
    if (kinds[i] == Kind::Candidate) {
      const auto basis = chance(50) ? CandidateBasis::continuation : static_cast<CandidateBasis>(rng() % 3);
      std::set<uint8_t> causes;
      if (chance(80)) causes.insert(chance(60) ? pick(replaced) : pick(sels));
      if (chance(basis == CandidateBasis::continuation ? 20 : 60))
        for (int c = static_cast<int>(rng() % 3); c > 0; --c) causes.insert(chance(80) ? earlier() : unknown());
      std::optional<uint8_t> parent;
      if (chance(85))
        parent = chance(70) && !cands_before.empty() ? pick(cands_before, true) : chance(90) ? earlier() : unknown();
      records.push_back(candidate(pool[i], basis, parent, {causes.begin(), causes.end()}, chance(20)));
      cands_before.push_back(pool[i]);
    } else if (kinds[i] == Kind::Selection) {
      std::optional<std::vector<uint8_t>> chosen;
      if (chance(80))
        for (uint8_t& c : chosen.emplace(1 + rng() % 3)) c = pick(cands, true);
      std::vector<uint8_t> uses(rng() % 3);
      for (uint8_t& u : uses) u = chance(85) ? pick(evals) : earlier();
      // Now and then an id repeats: the last record of an id that reads counts.
      records.push_back(
          selection(chance(5) ? earlier() : pool[i], chosen, {replaces[i].begin(), replaces[i].end()}, uses));
    } else {
      EvaluationDataV2 e{id_of(pick(cands)), "review", {}, {static_cast<EvaluationOutcomeV2::Kind>(rng() % 7), {7, 1}}};
      e.evaluator.id = "ci", e.requirements = {id_of(earlier())};
      if (chance(50)) e.evidence = {{"sha256-bytes", std::string(64, 'f'), std::nullopt}};
      records.push_back(chance(50) ? make_record(pool[i], Kind::Evaluation, e)
                                   : make_record(pool[i], Kind::Evaluation, EvaluationData{e.candidate, "tests"}));
      records.back().schema = schema(chance(50) ? "quintrel.evaluation.v2" : "quintrel.evaluation.v1");
    }
    if (chance(5)) records.back().data = base::to_bytes("{}");
  }
  for (size_t i = 0; i < n; ++i) {
    if (chance(90)) st.accepted_records.insert(id_of(pool[i]));
    if (chance(25)) st.retracted_records.insert(id_of(pool[i]));
    if (chance(25)) st.tainted_records.insert(id_of(pool[i]));
  }
  // Now and then many unrelated ids, interleaved with the log's, as a state
  // holds for records of other kinds.
  if (chance(20))
    for (int k = 0; k < 1300; ++k) {
      const Id filler{static_cast<uint8_t>(k), 0xEE, static_cast<uint8_t>(k >> 8)};
      st.accepted_records.insert(filler), st.retracted_records.insert(filler), st.tainted_records.insert(filler);
    }
  for (uint8_t u = 200; u < 208; ++u)
    if (chance(40)) st.retracted_records.insert(id_of(u));
  return log;
}

TEST(Standing, NamedLineagesALongChainAndRandomLogs) {
  const std::vector<Record> log{
      candidate(1, B::root, {}), selection(2, {{1}}), candidate(3, B::continuation, 1, {2}),
      selection(4, {{1}}, {2}), selection(5, {{9}}, {4}), candidate(6, B::derivation, {}, {3, 7}),
      raw_record(7, Kind::Evaluation, "{}"), candidate(8, B::derivation, {}, {7}),
      candidate(10, B::continuation, 11, {2}),  // its parent is no candidate
      candidate(12, B::continuation, 1),        // no Selection to continue
      // A cycle, which no verified log has: the traversal still ends.
      candidate(20, B::continuation, 21, {2}), candidate(21, B::derivation, {}, {20}),
  };
  const struct {
    const char* name;
    base::IdSet retracted, tainted;
    StandingSection expect;
  } cases[] = {
      {"all sound", {}, {}, {ids({10, 12, 20, 21}), {}, {}}},
      {"retracted anchor restored by a superseder that chose the parent", ids({2}), {},
       {ids({10, 12, 20, 21}), ids({2}), {{id_of(2), ids({4, 5})}}}},
      {"no sound superseder chose the parent", ids({2}), ids({4}),
       {ids({3, 6, 10, 12, 20, 21}), ids({2, 4}), {{id_of(2), ids({5})}, {id_of(4), ids({5})}}}},
      {"no sound superseder at all", ids({4, 5}), ids({2}), {ids({3, 6, 10, 12, 20, 21}), ids({2, 4, 5}), {}}},
      {"retracted root spreads to continuations and derivations", ids({1}), {}, {ids({1, 3, 6, 10, 12, 20, 21}), {}, {}}},
      {"a tainted root stays sound", {}, ids({1, 3}), {ids({10, 12, 20, 21}), {}, {}}},
      {"a derivation from evaluations only falls with its own retraction", ids({8}), {}, {ids({8, 10, 12, 20, 21}), {}, {}}},
  };
  EXPECT_EQ(derive_standing({}, State{}), StandingSection{});
  for (const auto& c : cases) {
    State st;
    for (const auto& r : log) st.accepted_records.insert(r.id);
    st.retracted_records = c.retracted, st.tainted_records = c.tainted;
    EXPECT_EQ(derive_standing(log, st), c.expect) << c.name;
    EXPECT_EQ(literal_standing(log, st), c.expect) << c.name;
  }
  // Every other Selection of a long Replace chain retracted: the restorations
  // are quadratic in the chain, held as ranges of one list, and read back whole.
  std::vector<Record> chain;
  State st;
  for (uint8_t i = 1; i <= 200; ++i) {
    chain.push_back(i == 1 ? selection(i, {}) : selection(i, {}, {static_cast<uint8_t>(i - 1)}));
    st.accepted_records.insert(id_of(i));
    if (i % 2) st.retracted_records.insert(id_of(i));
  }
  const StandingSection s = derive_standing(chain, st);
  EXPECT_EQ(s, literal_standing(chain, st));
  EXPECT_EQ(s.restorations.size(), 100u);
  EXPECT_EQ(s.restorations.pairs(), 5050u);  // 100 + 99 + ... + 1
  EXPECT_EQ(s.restorations.of(id_of(197)), (std::vector<Id>{id_of(198), id_of(200)}));
  EXPECT_TRUE(s.restorations.of(id_of(198)).empty());
  std::vector<Id> keys;
  s.restorations.for_each([&](const Id& key, std::span<const Id> restorers) {
    keys.push_back(key);
    EXPECT_TRUE(std::is_sorted(restorers.begin(), restorers.end(), base::IdLess{}));
  });
  EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end(), base::IdLess{}));
  // Standing and the queries on random logs, against their plain readings.
  std::mt19937 rng(20240611);
  size_t restored = 0, compromised = 0, lines = 0, descendants = 0, failures = 0, rests_on = 0;
  for (int i = 0; i < 1000; ++i) {
    const auto [records, st] = random_log(rng);
    const StandingSection want = literal_standing(records, st);
    ASSERT_EQ(derive_standing(records, st), want) << "log " << i;
    // Facts taken from an index where it holds the record (repeated ids are
    // read from the record itself).
    const PriorIndex index = PriorIndex::of(records);
    ASSERT_EQ(derive_standing(records, st, &index), want) << "log " << i;
    restored += want.restorations.size();
    compromised += want.compromised.size();

    // The queries over the records fed to the index unchecked, where no id repeats.
    std::vector<Id> every{base::sha256("unknown")};
    for (const Record& r : records) every.push_back(r.id);
    if (base::IdSet(every.begin(), every.end()).size() < every.size()) continue;
    verify::LogVerdict v;
    v.standing = want, v.retracted = st.retracted_records, v.tainted = st.tainted_records;
    const Queries q = Queries::over(records, st.accepted_records, v);
    const Literal lit{records, st.accepted_records, v};
    for (const Id& id : every) {
      const auto d = lit.descent(id);
      const auto ds = lit.descendants(id);
      const auto ev = lit.evidence(id);
      ASSERT_EQ(text(q.descent(id)), text(d)) << "log " << i;
      ASSERT_EQ(text(q.descendants(id)), text(ds)) << "log " << i;
      ASSERT_EQ(text(q.siblings(id)), text(lit.siblings(id))) << "log " << i;
      ASSERT_EQ(text(q.evidence(id)), text(ev)) << "log " << i;
      lines += d && !d->line.empty();
      descendants += ds && !ds->descendants.empty();
      failures += !ds && ds.error().what == QueryError::Case::NotFound;
      rests_on += ev && !ev->rests_on.empty() && !ev->rests_on[0].evidence.empty();
    }
  }
  // The logs must exercise what they are meant to.
  EXPECT_TRUE(restored > 600 && compromised > 3000 && lines > 1000 && failures > 4000 && descendants > 500 &&
              rests_on > 1000)
      << restored << " " << compromised << " " << lines << " " << failures << " " << descendants << " " << rests_on;
}

}  // namespace
}  // namespace quintrel::queries
