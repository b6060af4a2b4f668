// Logs in which many small records refer to one large record (Actions to a
// large Request, continuations to a Selection with a large rationale), each
// beside a control of the same size whose small records refer to a small
// record instead. Two readings: the replay of the whole log, and judging every
// record the way the log writer does, one commit after another with its index
// kept. A referenced payload is read once, so a log and its control should take
// about the same time, and the time should follow the log's bytes.
//
//   reference_bench [benchmark flags]   (5 repetitions unless told otherwise)
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench_log.h"
#include "record/activity_payloads.h"
#include "record/evolution_payloads.h"
#include "state/incremental.h"
#include "summary.h"
#include "verify/record_checks.h"
#include "verify/replay.h"

namespace quintrel::bench {
namespace {

using base::Id;

struct Shape {
  const char* name;
  bool selection;  // the large record is a Selection referred to by continuations, else a Request by Actions
  size_t large_bytes;
  size_t referrers;
};

constexpr size_t kMiB = size_t{1} << 20;
constexpr Shape kShapes[] = {
    {"1MiB request, 1000 actions", false, 1 * kMiB, 1000},
    {"4MiB request, 2000 actions", false, 4 * kMiB, 2000},
    {"4MiB rationale, 1000 continuations", true, 4 * kMiB, 1000},
    {"15MiB request, 1600 actions", false, 15 * kMiB, 1600},
};

// Lowercase words of varying length, different for every seed.
std::string text(size_t bytes, uint64_t seed) {
  std::string out;
  out.reserve(bytes);
  uint64_t s = seed * 0x9E3779B97F4A7C15ull + 1;
  while (out.size() < bytes) {
    s ^= s << 13, s ^= s >> 7, s ^= s << 17;
    out.push_back(s % 7 == 0 ? ' ' : static_cast<char>('a' + s % 26));
  }
  return out;
}

struct Log : BenchLog {
  Log()
      : BenchLog("reference bench", {{"user", record::AuthorType::User},
                                     {"system", record::AuthorType::System},
                                     {"agent", record::AuthorType::Provider}}) {}
};

struct Generated {
  std::vector<Record> records;
  verify::VerifierRules rules;
  size_t bytes = 0;  // as a log file: each record's canonical JSON behind a 4-byte length
};

// A large Request and a small one; the Actions serve the large one when
// `referenced`, else the small one.
void actions(Log& b, const Shape& s, bool referenced) {
  const Id scope = base::sha256("scope");
  const Id large = b.add(Kind::Request, "user", "quintrel.request.v1",
                         record::RequestData{text(s.large_bytes, s.large_bytes), scope}, {});
  const Id small = b.add(Kind::Request, "user", "quintrel.request.v1", record::RequestData{"small", scope}, {});
  const Id capability =
      b.add(Kind::Capability, "system", "quintrel.capability.v1",
            record::CapabilityData{"agent", "edit", scope, record::CapabilityMode::Auto, std::nullopt}, {});
  const Id& served = referenced ? large : small;
  for (size_t i = 0; i < s.referrers; ++i) {
    record::ActionData a{served, "edit", scope, record::ExecMode::Internal, {}};
    b.add(Kind::Action, "agent", "quintrel.action.v1", a, {{RefType::Cause, served}, {RefType::Require, capability}});
  }
}

// Two evaluated candidates and two Selections choosing the first, one with a
// large rationale; the continuations name the large one when `referenced`.
void continuations(Log& b, const Shape& s, bool referenced) {
  const Id request = b.add(Kind::Request, "user", "quintrel.request.v1",
                           record::RequestData{"ship it", base::sha256("scope")}, {});
  auto candidate = [&](size_t n, record::CandidateBasis basis, std::optional<Id> parent, const Id& cause) {
    record::CandidateData c;
    c.source.git.tree = base::hex_encode(base::sha256(std::to_string(n))).substr(0, 40);
    c.basis = basis;
    c.parent = parent;
    return b.add(Kind::Candidate, "agent", "quintrel.candidate.v1", c, {{RefType::Cause, cause}});
  };
  const Id c0 = candidate(0, record::CandidateBasis::root, std::nullopt, request);
  const Id c1 = candidate(1, record::CandidateBasis::root, std::nullopt, request);
  std::vector<Ref> refs{{RefType::Require, c0}};
  for (const Id& c : {c0, c1})
    refs.push_back({RefType::Use, b.add(Kind::Evaluation, "agent", "quintrel.evaluation.v1",
                                        record::EvaluationData{c, "tests", std::nullopt, {}}, {{RefType::Use, c}})});
  auto selection = [&](std::optional<std::string> rationale) {
    return b.add(Kind::Selection, "agent", "quintrel.selection.v1",
                 record::SelectionData{"ship", {c0, c1}, record::SelectionOutcome::choose({c0}), std::move(rationale)},
                 refs);
  };
  const Id large = selection(text(s.large_bytes, s.large_bytes));
  const Id small = selection(std::nullopt);
  for (size_t i = 0; i < s.referrers; ++i)
    candidate(i + 2, record::CandidateBasis::continuation, c0, referenced ? large : small);
}

const Generated& generated(size_t shape, bool referenced) {
  static std::map<std::pair<size_t, bool>, std::unique_ptr<Generated>> cache;
  auto& g = cache[{shape, referenced}];
  if (g) return *g;
  const Shape& s = kShapes[shape];
  Log b;
  if (s.selection) continuations(b, s, referenced);
  else actions(b, s, referenced);
  if (b.rejected()) std::fprintf(stderr, "%s: %zu subjects rejected\n", s.name, b.rejected()), std::exit(1);
  g = std::make_unique<Generated>();
  g->rules = b.rules();
  g->records = b.take_records();
  for (const Record& r : g->records) g->bytes += 4 + base::canonical_json(r).value().size();
  return *g;
}

void counters(benchmark::State& st, const Generated& g) {
  const double mib = static_cast<double>(g.bytes) / kMiB;
  st.counters["log_MiB"] = mib;
  st.counters["MiB/s"] = benchmark::Counter(mib, benchmark::Counter::kIsIterationInvariantRate);
}

// Arguments: the shape, and whether the small records refer to the large one.
void BM_Replay(benchmark::State& st) {
  const Generated& g = generated(static_cast<size_t>(st.range(0)), st.range(1) != 0);
  for (auto _ : st) {
    verify::LogVerdict v = verify::verify_log(g.records, g.rules);
    if (v.failure) st.SkipWithError("the log does not verify");
    benchmark::DoNotOptimize(v);
  }
  counters(st, g);
}

void BM_CommitJudging(benchmark::State& st) {
  const Generated& g = generated(static_cast<size_t>(st.range(0)), st.range(1) != 0);
  const std::span<const Record> records(g.records);
  for (auto _ : st) {
    verify::PriorIndex index;
    state::State state;
    for (size_t p = 0; p + 1 < records.size(); p += 2) {
      const record::VerdictData v = verify::verify_record(records[p], records.first(p), index, g.rules, state);
      if (v.result != record::VerdictResult::Accept || !state::apply_record(state, records[p], v)) {
        st.SkipWithError("a record is rejected");
        break;
      }
      state.applied_up_to = records[p + 1].time;
      index.insert(p, records[p]);
      index.insert(p + 1, records[p + 1]);
    }
  }
  counters(st, g);
}

void shapes(benchmark::internal::Benchmark* b) {
  for (int64_t shape = 0; shape < static_cast<int64_t>(std::size(kShapes)); ++shape)
    for (int64_t referenced : {0, 1}) b->Args({shape, referenced});
}

BENCHMARK(BM_Replay)->ArgNames({"shape", "referenced"})->Apply(shapes)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_CommitJudging)
    ->ArgNames({"shape", "referenced"})
    ->Apply(shapes)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace
}  // namespace quintrel::bench

// Per shape: the log's size, each reading's time per MiB and its time over
// the control's.
int main(int argc, char** argv) {
  using namespace quintrel::bench;
  // A default first, so that a repetitions flag given on the command line wins.
  std::vector<char*> args{argv[0], const_cast<char*>("--benchmark_repetitions=5"),
                          const_cast<char*>("--benchmark_report_aggregates_only=true")};
  args.insert(args.end(), argv + 1, argv + argc);
  int n = static_cast<int>(args.size());
  return run_with_summary(n, args.data(), [](Times& ms) {
    std::printf("\n%-36s %8s %24s %24s\n", "log", "MiB", "replay ms/MiB (x control)", "judging ms/MiB (x control)");
    for (size_t s = 0; s < std::size(kShapes); ++s) {
      if (!ms.contains("BM_Replay/shape:" + std::to_string(s) + "/referenced:1")) continue;  // filtered out
      const double mib = static_cast<double>(generated(s, true).bytes) / kMiB;
      auto cell = [&](const char* bm) {
        const std::string key = std::string(bm) + "/shape:" + std::to_string(s);
        const double with = ms[key + "/referenced:1"], without = ms[key + "/referenced:0"];
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.1f (x%.2f)", with / mib, without > 0 ? with / without : 0.0);
        return std::string(buf);
      };
      std::printf("%-36s %8.1f %24s %24s\n", kShapes[s].name, mib, cell("BM_Replay").c_str(),
                  cell("BM_CommitJudging").c_str());
    }
  });
}
