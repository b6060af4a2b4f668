// Crafted worst cases for the standing and the state fold, at two sizes each,
// to show that time and memory grow linearly:
// - a chain of Selections, each replacing the one before, whose newer half is
//   tainted and whose oldest is retracted, with continuations anchored along it;
// - one record with many dependents, retracted over and over.
// Peak memory is the highest number of live heap bytes during one run.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <new>
#include <random>
#include <string>

#include "base/hash.h"
#include "record/evolution_payloads.h"
#include "state/incremental.h"
#include "verify/standing.h"

namespace {

std::atomic<int64_t> g_live{0}, g_peak{0};

void count(int64_t delta) {
  const int64_t now = g_live.fetch_add(delta, std::memory_order_relaxed) + delta;
  int64_t peak = g_peak.load(std::memory_order_relaxed);
  while (now > peak && !g_peak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
  }
}

// Starts a peak measurement; returns the live bytes to subtract.
int64_t start_peak() {
  const int64_t live = g_live.load();
  g_peak.store(live);
  return live;
}

}  // namespace

void* operator new(size_t size) {
  void* p = std::malloc(size ? size : 1);
  if (!p) throw std::bad_alloc();
  count(static_cast<int64_t>(malloc_usable_size(p)));
  return p;
}
void operator delete(void* p) noexcept {
  if (!p) return;
  count(-static_cast<int64_t>(malloc_usable_size(p)));
  std::free(p);
}
void operator delete(void* p, size_t) noexcept { operator delete(p); }

namespace quintrel {
namespace {

using base::Id;
using record::Kind;
using record::Record;
using record::RefType;

Id id_of(uint64_t n) { return base::sha256(std::to_string(n)); }

template <class Payload>
Record make(uint64_t n, Kind kind, const Payload& payload, std::vector<record::Ref> refs = {}) {
  Record r;
  r.id = id_of(n);
  r.kind = kind;
  r.author = {"alice", record::AuthorType::User, std::nullopt};
  r.data = base::to_bytes(*base::canonical_json(payload));
  r.refs = std::move(refs);
  return r;
}

struct ChainLog {
  std::vector<Record> records;
  state::State state;
};

// Selections 1..n, each replacing the one before and every fourth choosing the
// root candidate 0; the oldest is retracted and the newer half tainted; n / 10
// continuations of the root, each citing a Selection along the chain.
ChainLog chain_log(uint64_t n) {
  ChainLog log;
  record::CandidateData root;
  root.source.git.tree = "4b825dc642cb6eb9a060e54bf8d69288fbee4904";
  log.records.push_back(make(0, Kind::Candidate, root));
  for (uint64_t i = 1; i <= n; ++i) {
    record::SelectionData d{"pick", {}, record::SelectionOutcome::none(), {}};
    if (i % 4 == 0) d.outcome = record::SelectionOutcome::choose({id_of(0)});
    std::vector<record::Ref> refs;
    if (i > 1) refs.push_back({RefType::Replace, id_of(i - 1)});
    log.records.push_back(make(i, Kind::Selection, d, refs));
  }
  std::mt19937_64 rng(7);
  record::CandidateData cont = root;
  cont.basis = record::CandidateBasis::continuation;
  cont.parent = id_of(0);
  for (uint64_t k = 0; k < n / 10; ++k) {
    const uint64_t anchor = k % 2 ? 1 : 1 + rng() % n;
    log.records.push_back(make(n + 1 + k, Kind::Candidate, cont, {{RefType::Cause, id_of(anchor)}}));
  }
  for (const auto& r : log.records) log.state.accepted_records.insert(r.id);
  log.state.retracted_records.insert(id_of(1));
  for (uint64_t i = n / 2 + 1; i <= n; ++i) log.state.tainted_records.insert(id_of(i));
  return log;
}

const ChainLog& cached_chain(uint64_t n) {
  static std::map<uint64_t, ChainLog> cache;
  auto it = cache.find(n);
  if (it == cache.end()) it = cache.emplace(n, chain_log(n)).first;
  return it->second;
}

void StandingOfAHalfTaintedChain(benchmark::State& st) {
  const ChainLog& log = cached_chain(static_cast<uint64_t>(st.range(0)));
  int64_t peak = 0;
  size_t restored = 0;
  for (auto _ : st) {
    const int64_t base = start_peak();
    auto section = verify::derive_standing(log.records, log.state);
    peak = std::max(peak, g_peak.load() - base);
    restored = 0;
    section.restorations.for_each([&](const base::Id&, const auto& members) {
      if (restored == 0) restored = std::size(members);
    });
    benchmark::DoNotOptimize(section);
  }
  st.counters["records"] = static_cast<double>(log.records.size());
  st.counters["restorations"] = static_cast<double>(restored);
  st.counters["peak_MiB"] = static_cast<double>(peak) / (1 << 20);
  st.counters["peak_B_per_record"] = static_cast<double>(peak) / static_cast<double>(log.records.size());
}
BENCHMARK(StandingOfAHalfTaintedChain)->Arg(50000)->Arg(100000)->Unit(benchmark::kMillisecond);

// A target with n dependents, then n retractions of it.
void RepeatedRetractions(benchmark::State& st) {
  const uint64_t n = static_cast<uint64_t>(st.range(0));
  const record::VerdictData accept{};
  state::State before;
  record::RequestData request{"objective", {}, {}, std::nullopt};
  (void)state::apply_record(before, make(0, Kind::Request, request), accept);
  for (uint64_t i = 1; i <= n; ++i)
    (void)state::apply_record(before, make(i, Kind::Request, request, {{RefType::Use, id_of(0)}}), accept);
  std::vector<Record> retractions;
  for (uint64_t i = 0; i < n; ++i)
    retractions.push_back(make(n + 1 + i, Kind::Retraction, record::RetractionData{id_of(0), "withdrawn"},
                               {{RefType::Cause, id_of(0)}}));
  int64_t peak = 0;
  for (auto _ : st) {
    st.PauseTiming();
    state::State s = before;
    const int64_t base = start_peak();
    st.ResumeTiming();
    for (const auto& r : retractions) (void)state::apply_record(s, r, accept);
    st.PauseTiming();
    peak = std::max(peak, g_peak.load() - base);
    if (s.tainted_records.size() != n) st.SkipWithError("dependents not tainted");
    st.ResumeTiming();
  }
  st.counters["retractions"] = static_cast<double>(n);
  st.counters["peak_MiB"] = static_cast<double>(peak) / (1 << 20);
}
BENCHMARK(RepeatedRetractions)->Arg(50000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quintrel
