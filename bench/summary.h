// Runs the benchmarks with the usual console table, then hands each
// benchmark's time (by name, in its unit) and counters to a summary that
// prints the ratios a benchmark program is about.
#pragma once

#include <benchmark/benchmark.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace quintrel::bench {

using Times = std::map<std::string, double>;

inline int run_with_summary(int argc, char** argv, std::function<void(Times&)> summary) {
  class Reporter : public benchmark::ConsoleReporter {
   public:
    explicit Reporter(std::function<void(Times&)> s) : summary_(std::move(s)) {}
    void ReportRuns(const std::vector<Run>& runs) override {
      ConsoleReporter::ReportRuns(runs);
      // Aggregates of repetitions come under their own names ("..._median"),
      // counters under the run's name, a dot and their own.
      for (const auto& run : runs) {
        if (run.run_type != Run::RT_Iteration && run.run_type != Run::RT_Aggregate) continue;
        ns_[run.benchmark_name()] = run.GetAdjustedRealTime();
        for (const auto& [name, counter] : run.counters) ns_[run.benchmark_name() + "." + name] = counter.value;
      }
    }
    void Finalize() override {
      ConsoleReporter::Finalize();
      summary_(ns_);
    }

   private:
    std::function<void(Times&)> summary_;
    Times ns_;
  };
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Reporter reporter(std::move(summary));
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}

}  // namespace quintrel::bench
