// The manifest walk down one chain of directories, thousands deep with long
// names and a file at the bottom: the peak resident memory the walk adds
// (MiB) and its time. Each walk runs in a child process of its own, whose
// peak is reset just before it, so no earlier walk can lend it memory.
//
//   manifest_depth_bench [benchmark flags]
// Chains are made under $QUINTREL_BENCH_CHAINS (default /dev/shm when
// writable, else /tmp) and removed afterwards.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "manifest/dir_io.h"
#include "manifest/manifest.h"

namespace {

using namespace quintrel::manifest;

std::string chains_dir() {
  if (const char* env = std::getenv("QUINTREL_BENCH_CHAINS")) return env;
  return ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
}

[[noreturn]] void die(const char* what) {
  std::perror(what);
  std::exit(1);
}

// A line of /proc/self/status in kB ("VmRSS", "VmHWM").
long status_kb(const std::string& field) {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind(field + ":", 0) == 0) return std::atol(line.c_str() + field.size() + 1);
  return -1;
}

// A fresh chain of `depth` directories named `name`, a file at the bottom.
struct Chain {
  std::string root, name;
  Chain(int depth, size_t name_bytes) : name(name_bytes, 'd') {
    std::string tmpl = chains_dir() + "/quintrel-chain-XXXXXX";
    if (!::mkdtemp(tmpl.data())) die("mkdtemp");
    root = tmpl;
    Fd dir = open_root(root).value();
    for (int i = 0; i < depth; ++i) {
      if (::mkdirat(dir.get(), name.c_str(), 0755) != 0) die("mkdirat");
      dir = open_dir_at(dir.get(), name.c_str()).value();
    }
    int fd = ::openat(dir.get(), "bottom", O_WRONLY | O_CREAT, 0644);
    if (fd < 0) die("openat");
    ::close(fd);
  }
  // Level by level from the top, each level's child moved up to take its
  // place: no descriptor or path held per level.
  ~Chain() {
    Fd parent = open_root(root).value();
    for (bool deeper = true; deeper;) {
      Fd dir = open_dir_at(parent.get(), name.c_str()).value();
      deeper = ::renameat(dir.get(), name.c_str(), parent.get(), "next") == 0;
      if (!deeper) ::unlinkat(dir.get(), "bottom", 0);
      if (::unlinkat(parent.get(), name.c_str(), AT_REMOVEDIR) != 0) die("rmdir");
      if (deeper && ::renameat(parent.get(), "next", parent.get(), name.c_str()) != 0) die("rename");
    }
    ::rmdir(root.c_str());
  }
};

struct Walked {
  double seconds = 0;
  long added_kb = 0;  // peak resident memory during the walk above that before it
  bool ok = false;
};

// Walks `root` in a child process.
Walked walk_in_child(const std::string& root) {
  int fds[2];
  if (::pipe(fds) != 0) die("pipe");
  pid_t pid = ::fork();
  if (pid == 0) {
    Walked w;
    // Writing 5 resets the peak to the current resident size.
    std::ofstream("/proc/self/clear_refs") << "5";
    const long before = status_kb("VmRSS");
    const auto start = std::chrono::steady_clock::now();
    auto entries = manifest_from_dir(root, {});
    w.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    w.added_kb = status_kb("VmHWM") - before;
    w.ok = entries && entries->size() == 1;
    (void)!::write(fds[1], &w, sizeof w);
    ::_exit(0);
  }
  ::close(fds[1]);
  Walked w;
  if (::read(fds[0], &w, sizeof w) != static_cast<ssize_t>(sizeof w)) w.ok = false;
  ::close(fds[0]);
  ::waitpid(pid, nullptr, 0);
  return w;
}

// Arguments: the depth and the length of every name in bytes.
void BM_WalkChain(benchmark::State& st) {
  const Chain chain(static_cast<int>(st.range(0)), static_cast<size_t>(st.range(1)));
  Walked w;
  for (auto _ : st) {
    w = walk_in_child(chain.root);
    if (!w.ok) st.SkipWithError("the walk failed");
    st.SetIterationTime(w.seconds);
  }
  st.counters["path_MiB"] = static_cast<double>(st.range(0) * (st.range(1) + 1)) / (1 << 20);
  st.counters["peak_added_MiB"] = static_cast<double>(w.added_kb) / 1024;
}

BENCHMARK(BM_WalkChain)
    ->ArgNames({"depth", "name_bytes"})
    ->Args({3000, 255})
    ->Args({5000, 200})
    ->Args({20000, 200})
    ->Args({20000, 255})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(3)
    ->DisplayAggregatesOnly(true);

}  // namespace
