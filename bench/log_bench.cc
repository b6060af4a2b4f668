// The log writer on real files. Commit latency against the sync floor (what
// any commit must do: two small-file replacements, each written, synced,
// renamed and its directory synced; two appends of the same sizes, each
// synced; one unlink with a directory sync: seven full syncs), side by side
// in the same directory, at logs of 100, 10,000 and about 50,000 records
// (near the 64 MiB limit). Then opening the near-limit log against one
// verify_log of its records. Medians of repetitions; the files lie under the
// system's temporary directory (QUINTREL_BENCH_DIR overrides it).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "bench_log.h"
#include "log/intent.h"
#include "record/evolution_payloads.h"
#include "summary.h"
#include "verify/replay.h"

namespace quintrel::bench {
namespace {

using base::Id;

constexpr size_t kSizes[] = {100, 10000, 50000};
constexpr uint64_t kNearLimit = log::kMaxLogBytes - 2 * 1024 * 1024;  // room for the commits measured

// The log of grow_cycles up to near the limit.
struct Generated {
  std::vector<record::Record> records;
  std::vector<size_t> offsets;  // where each frame ends
  std::string bytes;
  verify::VerifierRules rules;
};
const Generated& generated() {
  static const Generated g = [] {
    BenchLog b("bench space", {{"user", record::AuthorType::User}, {"agent", record::AuthorType::Provider}});
    grow_cycles(b, kNearLimit - 16 * 1024);
    if (b.rejected()) std::fprintf(stderr, "note: %zu of %zu subjects rejected\n", b.rejected(), b.size() / 2);
    Generated g{b.records(), {}, b.file_bytes(), b.rules()};
    size_t at = 0;
    for (const auto& r : g.records) g.offsets.push_back(at += 4 + base::canonical_json(r)->size());
    return g;
  }();
  return g;
}

std::string bench_root() {
  const char* dir = std::getenv("QUINTREL_BENCH_DIR");
  return dir ? dir : std::filesystem::temp_directory_path().string();
}

// A directory for a log of the first `n` records (all of them for the
// largest size), removed at exit.
struct Directory {
  std::string path;
  size_t records;
  explicit Directory(size_t n) : records(std::min(n, generated().records.size())) {
    if (n == kSizes[std::size(kSizes) - 1]) records = generated().records.size();
    std::string tmpl = bench_root() + "/quintrel-log-bench-XXXXXX";
    path = ::mkdtemp(tmpl.data());
    reset();
  }
  ~Directory() { std::filesystem::remove_all(path); }
  // Writes records.log afresh and syncs it, so that no write-back of it is
  // left for a measured sync to wait on.
  void reset() const {
    const Generated& g = generated();
    const size_t length = records ? g.offsets[records - 1] : 0;
    const int fd = ::open((path + "/records.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0 || ::write(fd, g.bytes.data(), length) != static_cast<ssize_t>(length) || ::fsync(fd) != 0) {
      std::perror("writing the benchmark log");
      std::exit(1);
    }
    ::close(fd);
  }
};
Directory& directory(size_t n) {
  static std::map<size_t, std::unique_ptr<Directory>> dirs;
  auto& d = dirs[n];
  if (!d) d = std::make_unique<Directory>(n);
  return *d;
}

// One committed record of about the log's average size: a request using
// the latest record.
log::RecordInput next_input(const log::LogWriter& w, const verify::VerifierRules& rules, size_t n) {
  log::RecordInput in;
  in.author = {"user", record::AuthorType::User, std::nullopt};
  in.data = base::to_bytes(*base::canonical_json(record::RequestData{free_text("committed", n), base::sha256("scope")}));
  in.refs = {{RefType::Use, w.records().back().id}};
  in.space = in.thread = rules.space;
  in.schema = base::schema_id("quintrel.request.v1");
  in.kind = Kind::Request;
  return in;
}

// The floor: a commit's file operations alone, at its frame and intent
// sizes, on files of its own in the log's directory.
class SyncFloor {
 public:
  SyncFloor(const std::string& dir, size_t record, size_t verdict, size_t intent)
      : dir_(dir), record_(record, 'r'), verdict_(verdict, 'v'), intent_(intent, 'i'),
        target_(dir + "/floor.marker"), tmp_(dir + "/floor.marker.tmp"),
        log_(::open((dir + "/floor.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0666)) {}
  ~SyncFloor() { ::close(log_); }

  bool run() {
    return log_ >= 0 && replace() && append(record_) && replace() && append(verdict_) &&
           ::unlink(target_.c_str()) == 0 && sync_dir();
  }

 private:
  bool sync_dir() {
    int d = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool ok = d >= 0 && ::fsync(d) == 0;
    ::close(d);
    return ok;
  }
  bool replace() {
    int f = ::open(tmp_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    bool ok = f >= 0 && ::write(f, intent_.data(), intent_.size()) == static_cast<ssize_t>(intent_.size()) &&
              ::fsync(f) == 0;
    ::close(f);
    return ok && ::rename(tmp_.c_str(), target_.c_str()) == 0 && sync_dir();
  }
  bool append(const std::string& frame) {
    return ::write(log_, frame.data(), frame.size()) == static_cast<ssize_t>(frame.size()) && ::fsync(log_) == 0;
  }

  std::string dir_, record_, verdict_, intent_, target_, tmp_;
  int log_;
};

double median(std::vector<double> v) {
  std::ranges::sort(v);
  return v.empty() ? 0 : v[v.size() / 2];
}

// A floor round and a commit in turn, each iteration, so that both meet the
// same state of the device; the counters are the medians of each, in
// microseconds, and their ratio.
void BM_CommitAndFloor(benchmark::State& st) {
  using Clock = std::chrono::steady_clock;
  const Generated& g = generated();
  const Directory& dir = directory(st.range(0));
  dir.reset();  // every repetition starts from the same log
  auto w = log::LogWriter::open(dir.path, g.rules);
  if (!w) return st.SkipWithError(w.error().message().c_str());
  auto r = w->stamp(next_input(*w, g.rules, 0), w->state(), nullptr);
  auto v = log::materialize_verdict(*r, r->time + 1, {});
  SyncFloor floor(dir.path, log::encode_record(*r)->bytes.size(), log::encode_record(*v)->bytes.size(),
                  base::canonical_json(log::CommitIntent{r->id, false})->size());
  std::vector<double> commits, floors;
  size_t n = 0;
  for (auto _ : st) {
    const auto t0 = Clock::now();
    if (!floor.run()) return st.SkipWithError("a file operation of the floor failed");
    const auto t1 = Clock::now();
    auto out = w->commit(next_input(*w, g.rules, n++), g.rules, w->state());
    if (!out) return st.SkipWithError(out.error().message().c_str());
    const auto t2 = Clock::now();
    floors.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    commits.push_back(std::chrono::duration<double, std::micro>(t2 - t1).count());
  }
  st.counters["floor_us"] = median(floors);
  st.counters["commit_us"] = median(commits);
  st.counters["commit/floor"] = median(commits) / median(floors);
  st.counters["records"] = static_cast<double>(w->records().size());
}

void BM_Open(benchmark::State& st) {
  const Generated& g = generated();
  const std::string dir = directory(kSizes[std::size(kSizes) - 1]).path;
  for (auto _ : st) {
    std::optional<log::LogWriter> w;
    auto opened = log::LogWriter::open(dir, g.rules);
    if (!opened) return st.SkipWithError(opened.error().message().c_str());
    w.emplace(std::move(*opened));
    st.PauseTiming();  // closing is not opening
    st.counters["records"] = static_cast<double>(w->records().size());
    w.reset();
    st.ResumeTiming();
  }
}

void BM_VerifyLog(benchmark::State& st) {
  const Generated& g = generated();
  for (auto _ : st) {
    auto v = verify::verify_log(g.records, g.rules);
    if (v.failure) st.SkipWithError("the generated log does not verify");
    benchmark::DoNotOptimize(v);
  }
}

// The part of opening that reading the frames takes.
void BM_ReadFrames(benchmark::State& st) {
  const Generated& g = generated();
  for (auto _ : st) {
    auto frames = log::read_frames(g.bytes);
    if (!frames) st.SkipWithError(frames.error().message().c_str());
    benchmark::DoNotOptimize(frames);
  }
}

BENCHMARK(BM_CommitAndFloor)
    ->Arg(kSizes[0])
    ->Arg(kSizes[1])
    ->Arg(kSizes[2])
    ->Iterations(100)
    ->Repetitions(7)
    ->ReportAggregatesOnly()
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Open)->Iterations(1)->Repetitions(7)->ReportAggregatesOnly()->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadFrames)->Iterations(1)->Repetitions(7)->ReportAggregatesOnly()->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VerifyLog)->Iterations(1)->Repetitions(7)->ReportAggregatesOnly()->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quintrel::bench

int main(int argc, char** argv) {
  using quintrel::bench::Times;
  return quintrel::bench::run_with_summary(argc, argv, [](Times& ns) {
    const auto& g = quintrel::bench::generated();
    std::printf("near-limit log: %zu records, %zu bytes\n", g.records.size(), g.bytes.size());
    auto median = [&](const std::string& name) { return ns[name + "/real_time_median"]; };
    auto counter = [&](size_t n, const char* name) {
      return ns["BM_CommitAndFloor/" + std::to_string(n) + "/iterations:100/repeats:7/real_time_median." + name];
    };
    for (size_t n : quintrel::bench::kSizes)
      std::printf("commit / sync floor at %zu records: %.3f (%.0f us / %.0f us)\n", n, counter(n, "commit/floor"),
                  counter(n, "commit_us"), counter(n, "floor_us"));
    std::printf("commit at the limit / commit at 100 records: %.3f\n",
                counter(50000, "commit_us") / counter(100, "commit_us"));
    const double open = median("BM_Open/iterations:1/repeats:7"), verify = median("BM_VerifyLog/iterations:1/repeats:7");
    std::printf("open / verify_log near the limit: %.3f (reading the frames alone: %.3f)\n", open / verify,
                median("BM_ReadFrames/iterations:1/repeats:7") / verify);
  });
}
