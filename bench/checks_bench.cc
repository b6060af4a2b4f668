// Judging one record against logs of 1,000 and 100,000 records, with the
// index and the state kept as a log writer keeps them: the time per record
// must not grow with the log (every check is a bounded number of lookups).
#include <benchmark/benchmark.h>

#include "bench_log.h"
#include "summary.h"

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "base/hash.h"
#include "base/schema.h"
#include "record/evolution_payloads.h"
#include "record/refs.h"
#include "state/incremental.h"
#include "verify/record_checks.h"

namespace quintrel::verify {
namespace {

using record::Kind;
using record::Ref;
using record::RefType;

struct Log : bench::BenchLog {
  Log() : BenchLog("bench", {{"dev", record::AuthorType::Provider}, {"lead", record::AuthorType::User}}) {}
};

record::CandidateData candidate(size_t n, record::CandidateBasis basis, std::optional<base::Id> parent) {
  record::CandidateData c;
  c.source.git.tree = base::hex_encode(base::sha256(std::to_string(n))).substr(0, 40);
  c.basis = basis;
  c.parent = parent;
  return c;
}

// A line of development: rounds of four candidates continuing the last
// selection, an evaluation of each, and a selection of one over all four.
struct Bench {
  Log log;
  base::Id selection, chosen;
  std::vector<base::Id> candidates, evaluations;
  std::vector<std::pair<base::Id, base::Id>> rounds;  // each selection with its chosen candidate

  explicit Bench(size_t records) {
    size_t n = 0;
    while (log.size() < records) {
      const bool first = n == 0;
      candidates.clear(), evaluations.clear();
      for (int i = 0; i < 4; ++i) {
        auto basis = first ? record::CandidateBasis::root : record::CandidateBasis::continuation;
        std::vector<Ref> refs;
        if (!first) refs.push_back({RefType::Cause, selection});
        auto c = candidate(++n, basis, first ? std::nullopt : std::optional(chosen));
        candidates.push_back(log.add(Kind::Candidate, "dev", "quintrel.candidate.v1", c, refs));
        record::EvaluationData e{candidates.back(), "tests"};
        evaluations.push_back(
            log.add(Kind::Evaluation, "dev", "quintrel.evaluation.v1", e, {{RefType::Use, candidates.back()}}));
      }
      chosen = candidates[n % 4];
      selection = log.add(Kind::Selection, "lead", "quintrel.selection.v1", selection_data(chosen), selection_refs());
      rounds.emplace_back(selection, chosen);
    }
  }
  record::SelectionData selection_data(const base::Id& pick) const {
    return {"ship", candidates, record::SelectionOutcome::choose({pick}), std::nullopt};
  }
  std::vector<Ref> selection_refs() const {
    std::vector<Ref> refs{{RefType::Require, chosen}};
    for (const auto& e : evaluations) refs.push_back({RefType::Use, e});
    return refs;
  }
};

Bench& bench_of(int64_t records) {
  static std::map<int64_t, std::unique_ptr<Bench>> cache;
  auto& b = cache[records];
  if (!b) b = std::make_unique<Bench>(records);
  return *b;
}

// Distinct continuations of selections spread over the whole log, judged in
// turn: too many for their lookups to stay in the cache.
constexpr size_t kPrepared = 16384;

void JudgeContinuation(benchmark::State& st) {
  Bench& b = bench_of(st.range(0));
  std::vector<Record> records;
  records.reserve(kPrepared);
  for (size_t i = 0; i < kPrepared; ++i) {
    const auto& [anchor, parent] = b.rounds[i * b.rounds.size() / kPrepared];
    records.push_back(b.log.stamp(Kind::Candidate, "dev", "quintrel.candidate.v1",
                                  candidate(i, record::CandidateBasis::continuation, parent),
                                  {{RefType::Cause, anchor}}));
    if (b.log.judge(records.back())) st.SkipWithError("continuation rejected");
  }
  size_t i = 0;
  for (auto _ : st) benchmark::DoNotOptimize(b.log.judge(records[i++ % records.size()]));
}

void JudgeSelection(benchmark::State& st) {
  Bench& b = bench_of(st.range(0));
  Record r = b.log.stamp(Kind::Selection, "lead", "quintrel.selection.v1", b.selection_data(b.chosen),
                         b.selection_refs());
  if (b.log.judge(r)) st.SkipWithError("selection rejected");
  for (auto _ : st) benchmark::DoNotOptimize(b.log.judge(r));
}

BENCHMARK(JudgeContinuation)->Arg(1000)->Arg(100000)->Repetitions(5)->DisplayAggregatesOnly(true);
BENCHMARK(JudgeSelection)->Arg(1000)->Arg(100000)->Repetitions(5)->DisplayAggregatesOnly(true);

}  // namespace
}  // namespace quintrel::verify

// Prints each benchmark's time at 100,000 records over its time at 1,000.
int main(int argc, char** argv) {
  return quintrel::bench::run_with_summary(argc, argv, [](quintrel::bench::Times& ns) {
    for (const char* name : {"JudgeContinuation", "JudgeSelection"}) {
      double small = ns[std::string(name) + "/1000"], large = ns[std::string(name) + "/100000"];
      std::printf("%s: 100000 / 1000 = %.3f\n", name, large / small);
    }
  });
}
