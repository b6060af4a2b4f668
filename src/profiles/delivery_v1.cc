#include "profiles/delivery_v1.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <unordered_map>
#include <utility>

#include "profiles/registry.h"
#include "profiles/signed_v1.h"
#include "record/activity_payloads.h"
#include "record/evolution_payloads.h"
#include "record/refs.h"

namespace quintrel::profiles::delivery_v1 {
namespace {

using base::Id;
using record::Kind;
using record::Record;
using record::RefType;

constexpr std::string_view kClauseIds[] = {"D0", "D1", "D2", "D3", "D4", "D5", "D6", "D7"};

// Evidence is matched on scheme and digest; the name is not compared.
using Artifact = std::pair<std::string, std::string>;
using Artifacts = std::set<Artifact>;

// The citations of one evaluation that are not on the record are listed, in
// order, while their problem texts total at most this many bytes; the rest
// are counted in one last problem. An evaluation that the claims of many
// requests share is written once per claim, so its text must not grow with
// the evaluation: the part stays within a constant of a claim's own size.
constexpr size_t kListedBytes = 512;
// The shortest citation problem: a short id, " cites ", ":" and " which is
// not on the record", so at most this many ever fit.
constexpr size_t kMostListed = kListedBytes / (12 + 7 + 1 + 27);
// An evaluation citing at most this many artifacts is checked afresh for each
// claim that uses it.
constexpr size_t kFewCitations = 16;

// What an evaluation cites: the distinct (scheme, digest) pairs in the order
// of their first citation, with the positions each is cited at.
struct Cited {
  std::vector<Artifact> keys;
  std::vector<std::vector<size_t>> at;  // per key, ascending
  std::map<Artifact, size_t> place;     // the key's index in `keys`
  size_t total = 0;                     // citations, repeats included
};

// The keys of a Cited that the Results of one thread carry, as runs of
// places, and the citations they account for.
struct ThreadHits {
  std::vector<std::pair<size_t, size_t>> runs;  // [first, end), ascending and apart
  size_t citations = 0;
};

struct Claim {
  std::span<const Id> candidates;          // chosen by the Selection
  std::vector<const Record*> evaluations;  // used, in the order of the Selection's refs
  const Record* selection = nullptr;
  Id request{};
};

// The requests that requirement ids bind to, as far as it matters: none, one,
// or more than one.
struct Binding {
  std::optional<Id> request;
  bool several = false;
  void add(const Id& r) {
    if (!request) request = r;
    else if (*request != r) several = true;
  }
  void add(const Binding& b) {
    several = several || b.several;
    if (b.request) add(*b.request);
  }
};

struct Requirement {
  Id id;
  std::string key;
};

// What the claims read of the receipt. Every payload is read at most once and
// every index built once, so that no claim rescans the records.
class Facts {
 public:
  Facts(const Input& input, const state::State& state) : input_(input), state_(state) {}

  const Input& input() const { return input_; }
  bool accepted(const Id& id) const { return state_.accepted_records.contains(id); }

  // The record carrying the id when it is accepted and of the kind.
  const Record* accepted_of(const Id& id, Kind kind) const {
    const Record* r = input_.find(id);
    return r && r->kind == kind && accepted(r->id) ? r : nullptr;
  }

  // The payload of an evaluation that reads; none for a v1 evaluation.
  const record::EvaluationDataV2* evaluation(const Record& e) { return input_.evaluation_data(e); }

  // The requests of the requirement ids an evaluation lists.
  const Binding& binding(const Record& e, const record::EvaluationDataV2& data) {
    auto [it, added] = bindings_.try_emplace(&e);
    if (added)
      for (const Id& q : data.requirements)
        if (const Record* requirement = accepted_of(q, Kind::Requirement))
          if (auto request = record::first_ref(requirement->refs, RefType::Cause)) it->second.add(*request);
    return it->second;
  }

  // The accepted, unretracted, required Requirements under the request, in
  // log order.
  std::span<const Requirement> required(const Id& request) {
    index_requirements();
    auto it = required_.find(request);
    return it == required_.end() ? std::span<const Requirement>{} : std::span(it->second);
  }
  // The requirement ids an evaluation lists that are required ones, each
  // with its request, in the evaluation's order. Only an evaluation that
  // binds a request lists any, and then every claim using it is for that
  // request: a claim reads them for its own request alone.
  std::span<const std::pair<Id, Id>> required_of(const Record& e, const record::EvaluationDataV2& data) {
    auto [it, added] = required_of_.try_emplace(&e);
    if (added) {
      index_requirements();
      for (const Id& q : data.requirements)
        if (const Id* request = required_request_.find(q)) it->second.emplace_back(q, *request);
    }
    return it->second;
  }

  // The candidate record's artifacts; empty when its payload does not read.
  const Artifacts& candidate_artifacts(const Record& candidate) {
    auto [it, added] = candidates_.try_emplace(&candidate);
    if (added)
      if (const auto* data = input_.candidate_data(candidate); data && data->artifacts)
        for (const auto& a : *data->artifacts) it->second.emplace(a.scheme, a.digest);
    return it->second;
  }

  // The artifacts of the accepted Results of the thread.
  const Artifacts* thread_artifacts(const Id& thread) {
    if (!results_indexed_) {
      results_indexed_ = true;
      for (const Record& r : input_.records()) {
        if (r.kind != Kind::Result || !accepted(r.id)) continue;
        auto data = record::decode_payload<record::ResultData>(r);
        if (!data || !data->artifacts) continue;
        Artifacts& into = results_[r.thread];
        for (const auto& a : *data->artifacts) into.emplace(a.scheme, a.digest);
      }
    }
    auto it = results_.find(thread);
    return it == results_.end() ? nullptr : &it->second;
  }

  // The evidence problems of an evaluation in a claim, appended to `out`.
  // Whether its citations are on the record depends on the evaluation, the
  // claim's candidate record and the Selection's thread alone. An evaluation
  // citing a few artifacts is checked afresh for each claim; one citing more
  // is worked out once per such key, since an evaluation that binds no
  // requirement may be used by the claims of every request.
  void evidence_problems(const Record& e, const record::EvaluationDataV2& data, std::span<const Id> candidates,
                         const Id& thread, std::vector<std::string>& out) {
    const bool single = candidates.size() == 1;
    const std::string v = short_id(e.id);
    if (!single || data.candidate != candidates[0]) out.push_back(v + " judges another candidate");
    if (data.evidence.empty()) return out.push_back(v + " has no evidence");
    // Without a candidate record there is no evidence set, and no thread is looked at.
    const Record* candidate = single ? input_.find(candidates[0]) : nullptr;
    const Artifacts* of_candidate = candidate ? &candidate_artifacts(*candidate) : nullptr;
    const Artifacts* of_thread = candidate ? thread_artifacts(thread) : nullptr;
    if (data.evidence.size() <= kFewCitations) {
      std::vector<const record::ArtifactRef*> missing;
      for (const auto& a : data.evidence) {
        const Artifact key{a.scheme, a.digest};
        if (!(of_candidate && of_candidate->contains(key)) && !(of_thread && of_thread->contains(key)))
          missing.push_back(&a);
      }
      return cite(v, missing, missing.size(), out);
    }
    auto [it, added] = missing_.try_emplace({&e, candidate, candidate ? thread : Id{}});
    if (added) it->second = missing_citations(e, data, of_candidate, of_thread, thread);
    cite(v, it->second.first, it->second.count, out);
  }

 private:
  // The citations of an evaluation that are not on the record: the first few
  // in order, and how many there are.
  struct Missing {
    std::vector<const record::ArtifactRef*> first;
    size_t count = 0;
  };

  // Lists the first missing citations, in order, while their problem texts
  // fit; counts the rest in one last problem.
  static void cite(const std::string& v, std::span<const record::ArtifactRef* const> first, size_t count,
                   std::vector<std::string>& out) {
    size_t listed = 0, bytes = 0;
    for (const record::ArtifactRef* a : first) {
      std::string problem =
          v + " cites " + one_line(a->scheme) + ":" + one_line(a->digest) + " which is not on the record";
      if (listed == kMostListed || bytes + problem.size() > kListedBytes) break;
      bytes += problem.size();
      out.push_back(std::move(problem));
      ++listed;
    }
    if (listed < count)
      out.push_back(v + " cites " + std::to_string(count - listed) + (listed ? " more" : "") +
                    " artifact(s) which are not on the record");
  }

  // At the cost of the smaller of the evaluation's citations and each of the
  // candidate's and the thread's artifacts (the latter once per thread).
  Missing missing_citations(const Record& e, const record::EvaluationDataV2& data, const Artifacts* of_candidate,
                            const Artifacts* of_thread, const Id& thread) {
    const Cited& cited = cited_by(e, data);
    static const ThreadHits kNoHits;
    const ThreadHits& hits = of_thread ? thread_hits(e, cited, thread, *of_thread) : kNoHits;
    // On the record: what the thread's Results carry, and what only the candidate does.
    size_t on_record = hits.citations;
    auto on_candidate = [&](size_t k) { return of_candidate && of_candidate->contains(cited.keys[k]); };
    if (of_candidate)
      for (size_t k : common(cited, *of_candidate))
        if (!of_thread || !of_thread->contains(cited.keys[k])) on_record += cited.at[k].size();
    Missing missing{{}, cited.total - on_record};
    // The first missing citations are among those of the first missing keys
    // (in order of first citation): walk the keys, jumping over the thread's
    // runs, and merge the positions of the keys found.
    std::vector<size_t> positions;
    size_t keys = 0, run = 0;
    for (size_t k = 0; k < cited.keys.size() && keys < kMostListed && missing.count != 0;) {
      if (run < hits.runs.size() && hits.runs[run].first == k) {
        k = hits.runs[run++].second;
        continue;
      }
      if (!on_candidate(k)) {
        ++keys;
        for (size_t i = 0; i < cited.at[k].size() && i < kMostListed; ++i) positions.push_back(cited.at[k][i]);
      }
      ++k;
    }
    std::ranges::sort(positions);
    for (size_t i = 0; i < positions.size() && i < kMostListed; ++i)
      missing.first.push_back(&data.evidence[positions[i]]);
    return missing;
  }

  const Cited& cited_by(const Record& e, const record::EvaluationDataV2& data) {
    auto [it, added] = cited_.try_emplace(&e);
    Cited& cited = it->second;
    if (added) {
      for (size_t i = 0; i < data.evidence.size(); ++i) {
        const auto& a = data.evidence[i];
        auto [at, fresh] = cited.place.try_emplace(Artifact{a.scheme, a.digest}, cited.keys.size());
        if (fresh) {
          cited.keys.push_back(at->first);
          cited.at.emplace_back();
        }
        cited.at[at->second].push_back(i);
      }
      cited.total = data.evidence.size();
    }
    return cited;
  }

  // The places of the keys that `set` holds, in no particular order, at the
  // cost of the smaller of the two.
  static std::vector<size_t> common(const Cited& cited, const Artifacts& set) {
    std::vector<size_t> places;
    if (cited.keys.size() <= set.size()) {
      for (size_t k = 0; k < cited.keys.size(); ++k)
        if (set.contains(cited.keys[k])) places.push_back(k);
    } else {
      for (const Artifact& a : set)
        if (auto it = cited.place.find(a); it != cited.place.end()) places.push_back(it->second);
    }
    return places;
  }

  const ThreadHits& thread_hits(const Record& e, const Cited& cited, const Id& thread, const Artifacts& of_thread) {
    auto [it, added] = thread_hits_.try_emplace({&e, thread});
    ThreadHits& hits = it->second;
    if (added) {
      std::vector<size_t> places = common(cited, of_thread);
      std::ranges::sort(places);
      for (size_t k : places) {
        hits.citations += cited.at[k].size();
        if (!hits.runs.empty() && hits.runs.back().second == k) ++hits.runs.back().second;
        else hits.runs.emplace_back(k, k + 1);
      }
    }
    return hits;
  }

  void index_requirements() {
    if (requirements_indexed_) return;
    requirements_indexed_ = true;
    const auto& retracted = input_.verdict().retracted;
    for (const Record& r : input_.records()) {
      if (r.kind != Kind::Requirement || !accepted(r.id) || retracted.contains(r.id)) continue;
      const auto request = record::first_ref(r.refs, RefType::Cause);
      if (!request) continue;
      auto data = record::decode_payload<record::RequirementData>(r);
      if (!data || !data->required) continue;
      required_[*request].push_back({r.id, std::move(data->key)});
      *required_request_.try_emplace(r.id).first = *request;
    }
  }

  const Input& input_;
  const state::State& state_;
  std::unordered_map<const Record*, Binding> bindings_;
  std::unordered_map<const Record*, Artifacts> candidates_;
  bool requirements_indexed_ = false;
  base::IdMap<std::vector<Requirement>> required_;
  base::IdTable<Id> required_request_;
  bool results_indexed_ = false;
  base::IdMap<Artifacts> results_;
  std::unordered_map<const Record*, std::vector<std::pair<Id, Id>>> required_of_;
  std::unordered_map<const Record*, Cited> cited_;
  // Keyed by records of the one span of records, which order as positions.
  std::map<std::pair<const Record*, Id>, ThreadHits> thread_hits_;
  std::map<std::tuple<const Record*, const Record*, Id>, Missing> missing_;  // evaluation, candidate, thread
};

// Every accepted Selection with outcome selected whose used evaluations that
// read bind to requirements of exactly one request, in log order.
std::vector<Claim> find_claims(Facts& facts) {
  std::vector<Claim> claims;
  for (const Record& r : facts.input().records()) {
    if (r.kind != Kind::Selection || !facts.accepted(r.id)) continue;
    const record::SelectionData* selection = facts.input().selection_data(r);
    if (!selection || selection->outcome.is_none()) continue;
    Claim claim{selection->outcome.selected->candidates, {}, &r, {}};
    Binding bound;
    for (const auto& ref : r.refs) {
      if (ref.type != RefType::Use) continue;
      const Record* e = facts.accepted_of(ref.target, Kind::Evaluation);
      if (!e) continue;
      claim.evaluations.push_back(e);
      if (const auto* data = facts.evaluation(*e)) bound.add(facts.binding(*e, *data));
    }
    if (claim.evaluations.empty() || !bound.request || bound.several) continue;
    claim.request = *bound.request;
    claims.push_back(std::move(claim));
  }
  return claims;
}

bool by_time(const Claim* a, const Claim* b) { return a->selection->time < b->selection->time; }

// One claim per request, in ascending request order: the latest whose
// Selection is neither unsound, retracted nor tainted, else the latest. Every
// other claim of the request is superseded.
void choose(const std::vector<Claim>& claims, const Verdict& verdict, std::vector<const Claim*>& chosen,
            std::vector<Id>& superseded) {
  base::IdMap<std::vector<const Claim*>> by_request;
  for (const Claim& c : claims) by_request[c.request].push_back(&c);
  auto sound = [&](const Id& s) {
    return !verdict.standing.unsound.contains(s) && !verdict.retracted.contains(s) && !verdict.tainted.contains(s);
  };
  for (auto& [request, group] : by_request) {
    std::ranges::stable_sort(group, by_time);
    size_t taken = group.size() - 1;
    for (size_t i = group.size(); i-- > 0;)
      if (sound(group[i]->selection->id)) {
        taken = i;
        break;
      }
    chosen.push_back(group[taken]);
    for (size_t i = 0; i < group.size(); ++i)
      if (i != taken) superseded.push_back(group[i]->selection->id);
  }
  std::ranges::stable_sort(chosen, by_time);
}

ClauseResult d0_claims(const std::vector<const Claim*>& chosen, const std::vector<Id>& superseded) {
  std::string detail = joined(chosen, "; ", [](const Claim* c) {
    return "claim " + short_id(c->selection->id) + " for request " + short_id(c->request);
  });
  if (!superseded.empty()) detail += "; superseded: " + joined(superseded, ", ", short_id);
  return {"D0", true, std::move(detail)};
}

// One clause over the chosen claims: a part per claim, failed when any part is.
struct Parts {
  bool passed = true;
  std::vector<std::string> parts;
  void add(bool ok, std::string part) {
    passed = passed && ok;
    parts.push_back(std::move(part));
  }
  ClauseResult result(std::string_view id) const { return {std::string(id), passed, joined(parts, "; ")}; }
};

// A used evaluation with its payload when it reads.
struct Used {
  const Record* record;
  const record::EvaluationDataV2* data;
};

// The clauses D1 to D5 and D7 of one claim, each adding its part.
class ClaimCheck {
 public:
  ClaimCheck(Facts& facts, const Claim& claim) : facts_(facts), claim_(claim), s_(short_id(claim.selection->id)) {
    for (const Record* e : claim.evaluations) {
      if (const auto* data = facts.evaluation(*e)) read_.push_back({e, data});
      else ++v1_;
    }
  }

  // Every required requirement of the request covered by a passed,
  // unretracted evaluation of the claim.
  void coverage(Parts& d1) {
    const auto& retracted = facts_.input().verdict().retracted;
    base::IdTableSet covered;
    for (const Used& e : read_) {
      if (retracted.contains(e.record->id) || !e.data->outcome.passes()) continue;
      for (const auto& [q, request] : facts_.required_of(*e.record, *e.data))
        if (request == claim_.request) covered.insert(q);
    }
    const auto required = facts_.required(claim_.request);
    std::vector<std::string> uncovered;
    for (const Requirement& q : required)
      if (!covered.contains(q.id)) uncovered.push_back(one_line(q.key));
    if (uncovered.empty())
      d1.add(true, s_ + ": " + std::to_string(required.size()) + " required requirement(s) covered");
    else d1.add(false, s_ + ": uncovered " + joined(uncovered, ", "));
  }

  // No evaluation of a required requirement with an outcome other than passed.
  void outcomes(Parts& d2) {
    std::vector<std::string> listed;
    base::IdTableSet seen;
    for (const Used& e : read_) {
      if (e.data->outcome.passes()) continue;
      const bool of_required = std::ranges::any_of(facts_.required_of(*e.record, *e.data),
                                                   [&](const auto& q) { return q.second == claim_.request; });
      if (of_required && seen.insert(e.record->id))
        listed.push_back(short_id(e.record->id) + " " + e.data->outcome.label());
    }
    if (listed.empty()) d2.add(true, s_ + ": every used evaluation of a required requirement passed");
    else d2.add(false, s_ + ": non-passing " + joined(listed, ", "));
  }

  // One candidate, judged by every evaluation, whose evidence is on the
  // record: the candidate's artifacts and those of the accepted Results of
  // the Selection's thread (nothing when the candidate has no record).
  void evidence(Parts& d3) {
    std::vector<std::string> problems;
    const size_t n = claim_.candidates.size();
    if (n != 1) problems.push_back("chooses " + std::to_string(n) + " candidates");
    if (v1_ != 0) problems.push_back(std::to_string(v1_) + " evaluation(s) without an evidence set (v1 shape)");
    for (const Used& e : read_)
      facts_.evidence_problems(*e.record, *e.data, claim_.candidates, claim_.selection->thread, problems);
    if (problems.empty())
      d3.add(true, s_ + ": " + std::to_string(read_.size()) +
                       " evaluation(s) bound to the chosen candidate, evidence on the record");
    else d3.add(false, s_ + ": " + joined(problems, "; "));
  }

  // No used evaluation, v1 included, by the author of the claimed candidate.
  void independence(Parts& d4) {
    const Record* candidate = claim_.candidates.size() == 1 ? facts_.input().find(claim_.candidates[0]) : nullptr;
    if (!candidate) return d4.add(false, s_ + ": no single claimed candidate");
    const std::string& producer = candidate->author.id;
    std::vector<std::string> own;
    for (const Record* e : claim_.evaluations)
      if (e->author.id == producer) own.push_back(short_id(e->id));
    const std::string who = s_ + ": producer " + quoted(producer);
    if (own.empty()) d4.add(true, who + ", every evaluator distinct");
    else d4.add(false, who + " authored evaluation(s) " + joined(own, ", "));
  }

  // Decider bindings on every evaluation; the weakest basis is reported.
  void bindings(Parts& d5) {
    std::vector<std::string> problems;
    if (v1_ != 0) problems.push_back(std::to_string(v1_) + " evaluation(s) carry no decider binding (v1 shape)");
    bool declared = false;
    for (const Used& e : read_) {
      if (!e.data->evaluator.procedure_hash || !e.data->evaluator.input_hash)
        problems.push_back(short_id(e.record->id) + " lacks procedure_hash or input_hash");
      declared = declared || e.data->basis == record::Basis::declared;
    }
    const std::string weakest = declared ? "declared" : "recomputed";
    if (problems.empty()) d5.add(true, s_ + ": weakest basis " + weakest);
    else d5.add(false, s_ + ": " + joined(problems, "; ") + "; weakest basis " + weakest);
  }

  void standing(Parts& d7) {
    const Verdict& verdict = facts_.input().verdict();
    const Id& id = claim_.selection->id;
    std::vector<std::string> notes;
    if (verdict.standing.unsound.contains(id)) notes.push_back("unsound");
    if (verdict.tainted.contains(id)) notes.push_back("tainted");
    if (verdict.retracted.contains(id)) notes.push_back("retracted");
    if (notes.empty()) d7.add(true, s_ + ": sound, untainted");
    else d7.add(false, s_ + ": " + joined(notes, ", "));
  }

 private:
  Facts& facts_;
  const Claim& claim_;
  const std::string s_;     // the Selection's short id
  std::vector<Used> read_;  // the used evaluations that read, in order
  size_t v1_ = 0;           // and the number of those that do not
};

}  // namespace

ProfileTable table() {
  return {std::string(kId),
          1,
          {
              {"D0",
               "At least one delivery claim exists: an accepted Selection with outcome Selected whose Used "
               "evaluations bind to requirements of exactly one Request. For each request the latest sound claim is "
               "evaluated; earlier ones are reported superseded."},
              {"D1",
               "Every accepted, unretracted Requirement with required true under the claim's request, as of the "
               "receipt head, has at least one evaluation among the claim's Used evaluations that references it with "
               "outcome passed."},
              {"D2",
               "No evaluation among the claim's Used evaluations that references a required requirement has an "
               "outcome other than passed."},
              {"D3",
               "The claim chooses exactly one candidate; every evaluation it uses judges that candidate, carries a "
               "non-empty evidence set, and every evidence reference appears in the candidate's artifacts or in the "
               "artifacts of an accepted Result in the same thread."},
              {"D4",
               "The author of every evaluation the claim uses is a different actor from the author of the claimed "
               "candidate."},
              {"D5",
               "Every evaluation the claim uses carries evaluator.id, evaluator.procedure_hash, evaluator.input_hash, "
               "and a declared basis; the weakest basis in the claim is reported."},
              {"D6",
               "The receipt conforms to quintrel-core-v1 (or a stronger tier), and if it declares that profile the "
               "declaration names the evaluated table."},
              {"D7", "The claim's Selection is sound, untainted, and unretracted at the receipt head."},
          }};
}

ProfileResult finish(std::vector<ClauseResult> clauses) { return result_of(table(), std::move(clauses)); }

std::vector<ClauseResult> all_failed(std::span<const std::string_view> ids, std::string_view detail) {
  return signed_v1::all_failed(ids, detail);
}

ProfileResult evaluate(const Input& input) {
  if (input.verdict().invalid) return finish(all_failed(kClauseIds, "receipt is Invalid"));
  const state::State* state = input.state();
  if (!state) return finish(all_failed(kClauseIds, "state could not be rebuilt"));

  Facts facts(input, *state);
  const std::vector<Claim> claims = find_claims(facts);
  std::vector<const Claim*> chosen;
  std::vector<Id> superseded;
  choose(claims, input.verdict(), chosen, superseded);
  if (chosen.empty()) {
    std::vector<ClauseResult> out = all_failed(kClauseIds, "no claim to evaluate");
    out[0].detail =
        "no delivery claim: no accepted Selected selection whose used evaluations bind to requirements of exactly "
        "one request";
    return finish(std::move(out));
  }

  Parts d1, d2, d3, d4, d5, d7;
  for (const Claim* claim : chosen) {
    ClaimCheck check(facts, *claim);
    check.coverage(d1);
    check.outcomes(d2);
    check.evidence(d3);
    check.independence(d4);
    check.bindings(d5);
    check.standing(d7);
  }
  return finish({d0_claims(chosen, superseded), d1.result("D1"), d2.result("D2"), d3.result("D3"), d4.result("D4"),
                 d5.result("D5"), core_clause("D6", input), d7.result("D7")});
}

}  // namespace quintrel::profiles::delivery_v1
