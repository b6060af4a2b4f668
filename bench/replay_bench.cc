// Replay of generated logs: records per second at two sizes, the ratio of
// their times, and the peak memory a replay allocates per record.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "base/schema.h"
#include "record/activity_payloads.h"
#include "record/evolution_payloads.h"
#include "state/incremental.h"
#include "verify/record_checks.h"
#include "verify/replay.h"

#include "bench_log.h"

// Heap accounting: bytes in use now and the most in use since the last reset.
namespace {
std::atomic<size_t> g_in_use{0}, g_peak{0};
void note_alloc(void* p) {
  size_t now = g_in_use += malloc_usable_size(p);
  size_t peak = g_peak.load();
  while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
  }
}
}  // namespace

void* operator new(size_t n) {
  void* p = std::malloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
  note_alloc(p);
  return p;
}
void operator delete(void* p) noexcept {
  if (p) g_in_use -= malloc_usable_size(p);
  std::free(p);
}
void operator delete(void* p, size_t) noexcept { operator delete(p); }

namespace {

using namespace quintrel;
using base::Id;
using record::Kind;
using record::Record;
using record::Ref;
using record::RefType;

struct Builder : bench::BenchLog {
  Builder() : BenchLog("bench space", {{"user", record::AuthorType::User}, {"agent", record::AuthorType::Provider}}) {}
  template <class T>
  Id commit(Kind kind, const std::string& author, const char* schema, const T& payload, std::vector<Ref> refs) {
    return add(kind, author, schema, payload, std::move(refs));
  }
};

// Cycles of: a request, two candidates (the first continuing the last
// selection), an evaluation of each, a selection of the first; every tenth
// cycle retracts its selection.
std::vector<Record> generate(size_t target) {
  Builder b;
  const Id scope = base::sha256("scope");
  std::optional<std::pair<Id, Id>> last;  // (selection, chosen candidate)
  for (size_t cycle = 0; b.size() < target; ++cycle) {
    Id request = b.commit(Kind::Request, "user", "quintrel.request.v1",
                          record::RequestData{"objective " + std::to_string(cycle), scope}, {});
    Id cands[2];
    for (int k = 0; k < 2; ++k) {
      record::CandidateData c;
      c.source.git.tree = std::string(39, 'a') + static_cast<char>('0' + k);
      c.note = std::to_string(cycle);
      std::vector<Ref> refs;
      if (k == 0 && last) {
        c.basis = record::CandidateBasis::continuation;
        c.parent = last->second;
        refs.push_back({RefType::Cause, last->first});
      } else {
        refs.push_back({RefType::Cause, request});
      }
      cands[k] = b.commit(Kind::Candidate, "agent", "quintrel.candidate.v1", c, refs);
    }
    Id evals[2];
    for (int k = 0; k < 2; ++k)
      evals[k] = b.commit(Kind::Evaluation, "agent", "quintrel.evaluation.v1",
                          record::EvaluationData{cands[k], "tests", std::nullopt, {}}, {{RefType::Use, cands[k]}});
    record::SelectionData s{"ship", {cands[0], cands[1]}, record::SelectionOutcome::choose({cands[0]}),
                            std::nullopt};
    Id selection = b.commit(Kind::Selection, "agent", "quintrel.selection.v1", s,
                            {{RefType::Require, cands[0]}, {RefType::Use, evals[0]}, {RefType::Use, evals[1]}});
    last = {selection, cands[0]};
    if (cycle % 10 == 9)
      b.commit(Kind::Retraction, "agent", "quintrel.retraction.v1", record::RetractionData{selection, "redo"},
               {{RefType::Cause, selection}});
  }
  if (b.rejected()) std::fprintf(stderr, "note: %zu of %zu subjects rejected\n", b.rejected(), b.size() / 2);
  return b.take_records();
}

const verify::VerifierRules& rules() {
  static const verify::VerifierRules r = Builder().rules();
  return r;
}

void BM_Replay(benchmark::State& st) {
  const auto records = generate(static_cast<size_t>(st.range(0)));
  size_t before = g_in_use, peak = 0;
  for (auto _ : st) {
    g_peak = g_in_use.load();
    auto v = verify::verify_log(records, rules());
    if (v.failure) st.SkipWithError("the generated log does not verify");
    peak = std::max(peak, g_peak.load() - before);
    benchmark::DoNotOptimize(v);
  }
  st.counters["records"] = static_cast<double>(records.size());
  st.counters["records/s"] = benchmark::Counter(static_cast<double>(records.size()), benchmark::Counter::kIsIterationInvariantRate);
  st.counters["peak_bytes/record"] = static_cast<double>(peak) / static_cast<double>(records.size());
}

BENCHMARK(BM_Replay)->Arg(50000)->Arg(100000)->Unit(benchmark::kMillisecond)->MinTime(2);

}  // namespace
