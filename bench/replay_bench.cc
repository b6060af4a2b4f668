// Replay of generated logs, unsigned and signed, from records in memory and
// from the bytes of the log file: records per second at two sizes and the
// peak memory a replay allocates per record, medians over repetitions.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <array>
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

struct Generated {
  std::vector<Record> records;
  verify::VerifierRules rules;
};

// Cycles of: a request, two candidates (the first continuing the last
// selection), an evaluation of each, a selection of the first; every tenth
// cycle retracts its selection. Signed: every author signs with a key the
// rules pin, so every record's signature is verified.
Generated generate(size_t target, bool sign) {
  Builder b;
  if (sign) {
    uint8_t seed = 1;
    for (const char* author : {"user", "agent"}) {
      std::array<uint8_t, 32> bytes;
      bytes.fill(seed++);
      b.sign_as(author, record::Ed25519Signer::from_secret_bytes(bytes));
    }
  }
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
  Generated g{{}, b.rules()};
  g.records = b.take_records();
  return g;
}

// The last log generated: the repetitions and both readings of one log run
// one after the other.
const Generated& generated(size_t target, bool sign) {
  static std::optional<std::pair<std::pair<size_t, bool>, Generated>> last;
  if (!last || last->first != std::pair{target, sign}) {
    last.reset();
    last.emplace(std::pair{target, sign}, generate(target, sign));
  }
  return last->second;
}

// The bytes of the log file: each record's canonical JSON behind its length,
// four bytes big-endian.
std::string log_file_bytes(const std::vector<Record>& records) {
  std::string out;
  for (const Record& r : records) {
    const std::string body = base::canonical_json(r).value();
    const auto n = static_cast<uint32_t>(body.size());
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(n >> shift));
    out += body;
  }
  return out;
}

// The records of a log file's bytes, read with the strict reader; none when a
// frame does not read.
std::optional<std::vector<Record>> read_log_file(std::string_view bytes) {
  std::vector<Record> records;
  for (size_t p = 0; p + 4 <= bytes.size();) {
    uint32_t n = 0;
    for (int k = 0; k < 4; ++k) n = n << 8 | static_cast<uint8_t>(bytes[p + k]);
    if (p + 4 + n > bytes.size()) break;
    auto r = base::from_json<Record>(bytes.substr(p + 4, n));
    if (!r) return std::nullopt;
    records.push_back(std::move(*r));
    p += 4 + n;
  }
  return records;
}

// Arguments: records, signed (0 or 1), from the file's bytes (0 or 1). From
// bytes, the time and the peak memory include reading every record.
void BM_Replay(benchmark::State& st) {
  const Generated& g = generated(static_cast<size_t>(st.range(0)), st.range(1) != 0);
  const bool from_bytes = st.range(2) != 0;
  const std::string file = from_bytes ? log_file_bytes(g.records) : std::string();
  size_t before = g_in_use, peak = 0;
  for (auto _ : st) {
    g_peak = g_in_use.load();
    verify::LogVerdict v;
    if (from_bytes) {
      auto records = read_log_file(file);
      if (!records) st.SkipWithError("the log file does not read");
      else v = verify::verify_log(*records, g.rules);
    } else {
      v = verify::verify_log(g.records, g.rules);
    }
    if (v.failure) st.SkipWithError("the generated log does not verify");
    peak = std::max(peak, g_peak.load() - before);
    benchmark::DoNotOptimize(v);
  }
  const auto n = static_cast<double>(g.records.size());
  st.counters["records"] = n;
  st.counters["records/s"] = benchmark::Counter(n, benchmark::Counter::kIsIterationInvariantRate);
  st.counters["peak_bytes/record"] = static_cast<double>(peak) / n;
  if (from_bytes) st.counters["file_bytes/record"] = static_cast<double>(file.size()) / n;
}

// Both readings of one log follow each other, so each log is generated once.
void replay_args(benchmark::internal::Benchmark* b) {
  for (int64_t records : {50000, 100000})
    for (int64_t sign : {0, 1})
      for (int64_t from_bytes : {0, 1}) b->Args({records, sign, from_bytes});
}

BENCHMARK(BM_Replay)
    ->ArgNames({"records", "signed", "from_bytes"})
    ->Apply(replay_args)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1)
    ->Repetitions(5)
    ->DisplayAggregatesOnly(true);

}  // namespace
