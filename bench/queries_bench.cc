// The query index over a log near the 64 MiB size limit made of continuation
// chains (one 10,000 Candidates long, the rest 100 long): the time to build
// the index, then each named query asked again and again of that one index,
// with ids varied between iterations. A query's time includes its value tree
// and the tree's compact text, the whole of the core's part of a call from
// Python. Beside them, descendants of a chain's root against one descent per
// Candidate, at three chain lengths.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>

#include "bench_log.h"
#include "queries/queries.h"
#include "record/evolution_payloads.h"
#include "state/build.h"

namespace {

using namespace quintrel;
using base::Id;
using record::Kind;
using record::Record;
using record::RefType;

constexpr size_t kSizeLimit = 64 << 20;

bench::BenchLog new_log() {
  return bench::BenchLog("bench space", {{"user", record::AuthorType::User}, {"agent", record::AuthorType::Provider}});
}

struct BigLog {
  std::vector<Record> records;
  verify::VerifierRules rules;
  size_t bytes = 0;
  Id long_root, long_tip;
  std::vector<Id> short_cands, any;
  std::vector<std::string> objectives;
};

const BigLog& big_log() {
  static const BigLog log = [] {
    BigLog out;
    bench::BenchLog b = new_log();
    const bench::Chains chains = bench::grow_chains(b, 10000, kSizeLimit);
    out.long_root = chains.long_chain.front(), out.long_tip = chains.long_chain.back();
    out.short_cands = chains.short_candidates;
    out.objectives = chains.objectives;
    if (b.rejected()) std::fprintf(stderr, "note: %zu records rejected\n", b.rejected());
    out.rules = b.rules();
    out.bytes = b.file_size();
    out.records = b.take_records();
    for (const Record& r : out.records) out.any.push_back(r.id);
    return out;
  }();
  return log;
}

const queries::Queries& big_index() {
  static const queries::Queries q = queries::Queries::create(big_log().records, big_log().rules).value();
  return q;
}

// 64 inputs drawn once, taken in turn.
template <class T>
std::vector<T> sample(const std::vector<T>& from) {
  std::mt19937 rng(64);
  std::vector<T> out(64);
  for (T& x : out) x = from[rng() % from.size()];
  return out;
}

template <class Answer>
size_t answer_bytes(const Answer& a, benchmark::State& st) {
  auto v = queries::to_value(a);
  if constexpr (requires { v.has_value(); }) {
    if (!v) {
      st.SkipWithError(v.error().c_str());
      return 0;
    }
    return base::write_compact(*v).size();
  } else {
    return base::write_compact(v).size();
  }
}

void BM_IndexBuild(benchmark::State& st) {
  const BigLog& log = big_log();
  for (auto _ : st) {
    auto q = queries::Queries::create(log.records, log.rules);
    if (!q) st.SkipWithError("the log does not verify");
    benchmark::DoNotOptimize(q);
  }
  st.counters["records"] = static_cast<double>(log.records.size());
  st.counters["log_MiB"] = static_cast<double>(log.bytes) / (1 << 20);
  st.counters["short_chains"] = static_cast<double>(log.objectives.size());
}
BENCHMARK(BM_IndexBuild)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);

// The index's own part: over a replay and a state already made.
void BM_IndexOverReplay(benchmark::State& st) {
  const BigLog& log = big_log();
  const auto verdict = verify::verify_log(log.records, log.rules);
  const auto state = state::build_state_unchecked(log.records).value();
  for (auto _ : st) benchmark::DoNotOptimize(queries::Queries::over(log.records, state.accepted_records, verdict));
}
BENCHMARK(BM_IndexOverReplay)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);

// One query of each kind, of ids drawn from `ids` (or none).
template <class Ask>
void run_query(benchmark::State& st, const std::vector<Id>& ids, Ask ask) {
  const queries::Queries& q = big_index();
  const auto inputs = sample(ids);
  size_t i = 0, bytes = 0;
  for (auto _ : st) bytes = answer_bytes(ask(q, inputs[i++ % inputs.size()]), st);
  st.counters["json_KiB"] = static_cast<double>(bytes) / 1024;
}

void BM_Descent(benchmark::State& st) {
  run_query(st, big_log().short_cands, [](auto& q, const Id& id) { return q.descent(id); });
}
void BM_Descendants(benchmark::State& st) {
  run_query(st, big_log().short_cands, [](auto& q, const Id& id) { return q.descendants(id); });
}
void BM_Siblings(benchmark::State& st) {
  run_query(st, big_log().short_cands, [](auto& q, const Id& id) { return q.siblings(id); });
}
void BM_Frontier(benchmark::State& st) {
  run_query(st, {Id{}}, [](auto& q, const Id&) { return q.frontier(); });
}
void BM_Standing(benchmark::State& st) {
  // Any record: Verdicts give the rejection error, which is skipped.
  std::vector<Id> accepted;
  for (const Record& r : big_log().records)
    if (r.kind != Kind::Verdict) accepted.push_back(r.id);
  run_query(st, accepted, [](auto& q, const Id& id) { return q.standing(id); });
}
void BM_Evidence(benchmark::State& st) {
  run_query(st, big_log().short_cands, [](auto& q, const Id& id) { return q.evidence(id); });
}
void BM_Selected(benchmark::State& st) {
  const auto objectives = sample(big_log().objectives);
  size_t i = 0, bytes = 0;
  for (auto _ : st) bytes = answer_bytes(big_index().selected(objectives[i++ % objectives.size()]), st);
  st.counters["json_KiB"] = static_cast<double>(bytes) / 1024;
}
void BM_DescentOfTheLongTip(benchmark::State& st) {
  run_query(st, {big_log().long_tip}, [](auto& q, const Id& id) { return q.descent(id); });
}
void BM_EvidenceOfTheLongTip(benchmark::State& st) {
  run_query(st, {big_log().long_tip}, [](auto& q, const Id& id) { return q.evidence(id); });
}
void BM_DescendantsOfTheLongRoot(benchmark::State& st) {
  run_query(st, {big_log().long_root}, [](auto& q, const Id& id) { return q.descendants(id); });
}
#define QUERY(name) BENCHMARK(name)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true)
QUERY(BM_Descent);
QUERY(BM_Descendants);
QUERY(BM_Siblings);
QUERY(BM_Frontier);
QUERY(BM_Standing);
QUERY(BM_Evidence);
QUERY(BM_Selected);
QUERY(BM_DescentOfTheLongTip);
QUERY(BM_EvidenceOfTheLongTip);
QUERY(BM_DescendantsOfTheLongRoot);

// One chain alone, its root's descendants found in one pass or by one
// descent per accepted Candidate.
struct OneChain {
  std::vector<Record> records;
  Id root;
};
const OneChain& one_chain(size_t length) {
  static std::map<size_t, OneChain> cache;
  auto it = cache.find(length);
  if (it == cache.end()) {
    bench::BenchLog b = new_log();
    const Id root = bench::grow_chain(b, "one", length).front();
    it = cache.emplace(length, OneChain{b.take_records(), root}).first;
  }
  return it->second;
}

void BM_DescendantsInOnePass(benchmark::State& st) {
  const OneChain& c = one_chain(static_cast<size_t>(st.range(0)));
  const auto q = queries::Queries::create(c.records, new_log().rules()).value();
  for (auto _ : st) benchmark::DoNotOptimize(q.descendants(c.root));
}
void BM_DescendantsByDescents(benchmark::State& st) {
  const OneChain& c = one_chain(static_cast<size_t>(st.range(0)));
  const auto q = queries::Queries::create(c.records, new_log().rules()).value();
  size_t found = 0;
  for (auto _ : st) {
    found = 0;
    for (const Record& r : c.records) {
      if (r.kind != Kind::Candidate || r.id == c.root) continue;
      auto d = q.descent(r.id);
      found += std::ranges::any_of(d->line, [&](const auto& step) { return step.node.id == c.root; });
    }
  }
  if (found + 1 != static_cast<size_t>(st.range(0))) st.SkipWithError("descendants missing");
}
BENCHMARK(BM_DescendantsInOnePass)->Arg(250)->Arg(500)->Arg(1000)->Unit(benchmark::kMillisecond)->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK(BM_DescendantsByDescents)->Arg(250)->Arg(500)->Arg(1000)->Unit(benchmark::kMillisecond)->Repetitions(3)->ReportAggregatesOnly(true);

}  // namespace
