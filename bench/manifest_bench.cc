// The manifest walk over a generated tree (20,000 files, about 1 GiB, a few
// large ones) beside `openssl dgst -sha256` and `sha256sum` given the same
// files as arguments of one process each, with a warm page cache.
//
//   manifest_bench [benchmark flags]
// The tree is made once under $QUINTREL_BENCH_TREE (default
// /tmp/quintrel-manifest-bench) and kept for later runs.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "manifest/manifest.h"

extern char** environ;

namespace {

using quintrel::manifest::manifest_from_dir;

constexpr int kTopDirs = 40, kSubDirs = 5, kFilesPerDir = 100;  // 20,000 files
constexpr int kLarge = 4;
constexpr size_t kLargeSize = 128u << 20;   // 512 MiB in large files
constexpr size_t kMaxSmallSize = 52u << 10;  // about 508 MiB in small ones

std::string tree_root() {
  const char* env = std::getenv("QUINTREL_BENCH_TREE");
  return env ? env : "/tmp/quintrel-manifest-bench";
}

struct Rng {
  uint64_t s = 0x9E3779B97F4A7C15ull;
  uint64_t next() {
    s ^= s << 13, s ^= s >> 7, s ^= s << 17;
    return s;
  }
};

void write_file(const std::string& path, size_t size, Rng& rng, mode_t mode) {
  std::vector<uint64_t> block(1 << 16);
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) std::perror(path.c_str()), std::exit(1);
  while (size > 0) {
    for (auto& w : block) w = rng.next();
    size_t n = std::min(size, block.size() * sizeof(uint64_t));
    if (::write(fd, block.data(), n) != static_cast<ssize_t>(n)) std::perror("write"), std::exit(1);
    size -= n;
  }
  ::fchmod(fd, mode);
  ::close(fd);
}

std::string dir_name(int top, int sub) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "t%d/s%d", top, sub);
  return buf;
}

// Relative paths of every file of the tree, made on first use.
const std::vector<std::string>& files() {
  static const std::vector<std::string> list = [] {
    std::string root = tree_root();
    std::vector<std::string> out;
    for (int t = 0; t < kTopDirs; ++t)
      for (int s = 0; s < kSubDirs; ++s)
        for (int f = 0; f < kFilesPerDir; ++f)
          out.push_back(dir_name(t, s) + "/f" + std::to_string(f));
    if (!std::filesystem::exists(root + "/.complete")) {
      std::fprintf(stderr, "generating %s ...\n", root.c_str());
      std::filesystem::remove_all(root);
      Rng rng;
      for (int t = 0; t < kTopDirs; ++t)
        for (int s = 0; s < kSubDirs; ++s)
          std::filesystem::create_directories(root + "/" + dir_name(t, s));
      for (size_t i = 0; i < out.size(); ++i) {
        bool large = i % (out.size() / kLarge) == 0;
        size_t size = large ? kLargeSize : rng.next() % kMaxSmallSize;
        write_file(root + "/" + out[i], size, rng, i % 7 == 0 ? 0755 : 0644);
      }
      write_file(root + "/.complete", 0, rng, 0644);
    }
    return out;
  }();
  return list;
}

// Runs argv[0] with the fixed arguments and every file, in the tree's root.
void run_tool(std::vector<std::string> args) {
  for (const auto& f : files()) args.push_back(f);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addchdir_np(&actions, tree_root().c_str());
  pid_t pid;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) std::perror("spawn"), std::exit(1);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::fprintf(stderr, "%s failed\n", argv[0]), std::exit(1);
}

void BM_ManifestFromDir(benchmark::State& state) {
  files();
  size_t count = 0;
  for (auto _ : state) {
    auto entries = manifest_from_dir(tree_root(), {});
    if (!entries) state.SkipWithError(entries.error().message.c_str());
    else count = entries->size();
  }
  // The marker file is the one entry beyond the generated files.
  if (count != files().size() + 1) state.SkipWithError("unexpected entry count");
}

void BM_OpensslDgst(benchmark::State& state) {
  for (auto _ : state) run_tool({"openssl", "dgst", "-sha256"});
}

void BM_Sha256sum(benchmark::State& state) {
  for (auto _ : state) run_tool({"sha256sum"});
}

// Median wall time per run of each benchmark, for the closing ratio.
class Reporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> medians;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median")
        medians[r.run_name.function_name] = r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

#define QUINTREL_TOOL_BENCH(fn) \
  BENCHMARK(fn)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(7)->ReportAggregatesOnly(true)

QUINTREL_TOOL_BENCH(BM_ManifestFromDir);
QUINTREL_TOOL_BENCH(BM_OpensslDgst);
QUINTREL_TOOL_BENCH(BM_Sha256sum);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  // Generate, then read everything once so that every contestant meets a warm cache.
  files();
  manifest_from_dir(tree_root(), {});
  Reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto m = reporter.medians.find("BM_ManifestFromDir"), o = reporter.medians.find("BM_OpensslDgst");
  if (m != reporter.medians.end() && o != reporter.medians.end())
    std::printf("manifest_from_dir / openssl dgst -sha256 = %.3f (target <= 1.1)\n", m->second / o->second);
  benchmark::Shutdown();
  return 0;
}
