// The console report, followed by the comparisons the benchmarks exist for,
// each as a ratio of medians measured in the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace bench {

// One family of comparisons, over every benchmark whose name starts with
// subject_prefix.
struct Comparison {
    enum class Kind {
        // The benchmark measured both sides itself and reports the counters
        // subject_ns, baseline_ns and ratio.
        paired,
        // Time per call of subject_prefix + rest over that of
        // baseline_prefix + rest.
        times,
    };
    std::string title;
    std::string subject_prefix;
    std::string baseline_prefix;
    Kind kind;
    double target; // the ratio to stay at or below (at or above, with higher_is_better)
    // The target applies to names containing one of these (all when empty);
    // the other cases are reported for information.
    std::vector<std::string> targeted;
    bool higher_is_better = false;
    // False: reported for information, with no target.
    bool has_target = true;
};

class RatioReporter : public benchmark::ConsoleReporter {
  public:
    // With quiet set, only the context and the comparisons are printed, not
    // every run.
    RatioReporter(std::vector<Comparison> comparisons, bool quiet);
    void ReportRuns(const std::vector<Run>& runs) override;
    void Finalize() override;

  private:
    // Per repetition, by name and thread count: the time per call, and for
    // paired benchmarks their counters.
    struct Samples {
        std::vector<double> time;
        std::vector<double> subject, baseline, ratio;
        // Throughput benchmarks: the ratio over all rounds, and the share of
        // rounds no other process disturbed.
        std::vector<double> all_rounds_ratio, undisturbed_share;
    };
    std::map<std::pair<std::string, int>, Samples> samples_;
    // Medians as the library reports them, used where no single run arrived
    // (with --benchmark_report_aggregates_only).
    std::map<std::pair<std::string, int>, Samples> medians_;
    std::vector<Comparison> comparisons_;
    bool quiet_;
};

} // namespace bench
