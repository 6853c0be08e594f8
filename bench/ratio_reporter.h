// The console report, followed by the comparisons the benchmarks exist for:
// each as the ratio of two medians measured in the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace bench {

// One family of comparisons: every benchmark named subject_prefix + rest is
// set against the one named baseline_prefix + rest (for thread runs, the same
// name on one thread). The ratio is subject over baseline time, or for a
// throughput comparison baseline over subject time per call.
struct Comparison {
    std::string title;
    std::string subject_prefix;
    std::string baseline_prefix;
    bool throughput; // compare calls per second across thread counts
    double target;   // the ratio to stay at or below (at or above for throughput)
    // The target applies to names containing one of these (all when empty);
    // the other cases are reported for information.
    std::vector<std::string> targeted;
};

class RatioReporter : public benchmark::ConsoleReporter {
  public:
    explicit RatioReporter(std::vector<Comparison> comparisons);
    void ReportRuns(const std::vector<Run>& runs) override;
    void Finalize() override;

    // False when some measured comparison missed its target.
    bool all_targets_met() const { return all_met_; }

  private:
    // Time per call of each repetition, by name and thread count.
    std::map<std::pair<std::string, int>, std::vector<double>> times_;
    // Medians as the library reports them, used where no single run arrived.
    std::map<std::pair<std::string, int>, double> medians_;
    std::vector<Comparison> comparisons_;
    bool all_met_ = true;
};

} // namespace bench
