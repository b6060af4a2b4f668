// Runs the benchmarks with the usual console table, then hands each
// benchmark's time (by name, in nanoseconds) to a summary that prints the
// ratios a benchmark program is about.
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
      for (const auto& run : runs)
        // With repetitions, the aggregates are kept too, under names such as "X_median".
        if (run.run_type == Run::RT_Iteration || run.run_type == Run::RT_Aggregate)
          ns_[run.benchmark_name()] = run.GetAdjustedRealTime();
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
