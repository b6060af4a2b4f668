// Runs the benchmarks with the usual console table, then hands each
// benchmark's time (in its reported unit) to a summary that prints the ratios
// a benchmark program is about. Times are found two ways: by function and
// arguments ("Name/arg"), the median over repetitions, never a single one; and
// by full run name, aggregates included ("..._median"), with each counter under
// the run's name, a dot and its own.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
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
      for (const auto& run : runs) {
        if (run.run_type != Run::RT_Iteration && run.run_type != Run::RT_Aggregate) continue;
        named_[run.benchmark_name()] = run.GetAdjustedRealTime();
        for (const auto& [name, counter] : run.counters) named_[run.benchmark_name() + "." + name] = counter.value;
        const std::string key = run.run_name.function_name +
                                (run.run_name.args.empty() ? "" : "/" + run.run_name.args);
        if (run.run_type == Run::RT_Iteration) runs_[key].push_back(run.GetAdjustedRealTime());
        else if (run.aggregate_name == "median") medians_[key] = run.GetAdjustedRealTime();
      }
    }
    void Finalize() override {
      ConsoleReporter::Finalize();
      // The reported median where there is one (only aggregates may have
      // been reported), else the median of the repetitions seen.
      Times ns = named_;
      for (const auto& [key, t] : medians_) ns[key] = t;
      for (auto& [key, times] : runs_) {
        if (medians_.contains(key)) continue;
        std::sort(times.begin(), times.end());
        const size_t n = times.size();
        ns[key] = n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
      }
      summary_(ns);
    }

   private:
    std::function<void(Times&)> summary_;
    std::map<std::string, std::vector<double>> runs_;
    Times medians_, named_;
  };
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Reporter reporter(std::move(summary));
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}

}  // namespace quintrel::bench
