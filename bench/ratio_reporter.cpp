#include "bench/ratio_reporter.h"

#include <algorithm>
#include <cstdio>

namespace bench {
namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

bool starts_with(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

// Calls on one thread are timed by the processor time they take, which
// leaves out the time the thread waits while other work has the processor;
// thread comparisons set UseRealTime and are timed by the wall clock.
double time_of(const benchmark::BenchmarkReporter::Run& run) {
    return run.run_name.time_type.empty() ? run.GetAdjustedCPUTime() : run.GetAdjustedRealTime();
}

} // namespace

RatioReporter::RatioReporter(std::vector<Comparison> comparisons)
    : comparisons_(std::move(comparisons)) {}

void RatioReporter::ReportRuns(const std::vector<Run>& runs) {
    for (const Run& run : runs) {
        if (run.error_occurred) {
            continue;
        }
        // Adjusted to the time unit; every benchmark here reports nanoseconds.
        // With --benchmark_report_aggregates_only only the medians arrive.
        const std::pair<std::string, int> key{run.run_name.function_name, int(run.threads)};
        if (run.run_type == Run::RT_Iteration) {
            times_[key].push_back(time_of(run));
        } else if (run.aggregate_name == "median") {
            medians_[key] = time_of(run);
        }
    }
    ConsoleReporter::ReportRuns(runs);
}

void RatioReporter::Finalize() {
    ConsoleReporter::Finalize();
    for (const auto& [key, median_time] : medians_) {
        if (times_.count(key) == 0) {
            times_[key].push_back(median_time);
        }
    }
    std::FILE* out = stdout;
    for (const Comparison& c : comparisons_) {
        bool printed_title = false;
        double worst = 0.0;
        bool any = false;
        for (const auto& [key, subject_times] : times_) {
            const auto& [name, threads] = key;
            if (!starts_with(name, c.subject_prefix)) {
                continue;
            }
            const std::string rest = name.substr(c.subject_prefix.size());
            std::pair<std::string, int> base_key{c.baseline_prefix + rest, threads};
            if (c.throughput) {
                if (threads == 1) {
                    continue;
                }
                base_key.second = 1;
            }
            const auto base = times_.find(base_key);
            if (base == times_.end()) {
                continue;
            }
            const double subject = median(subject_times);
            const double baseline = median(base->second);
            const double ratio = c.throughput ? baseline / subject : subject / baseline;
            bool targeted = c.targeted.empty();
            for (const std::string& part : c.targeted) {
                targeted = targeted || name.find(part) != std::string::npos;
            }
            const bool met = c.throughput ? ratio >= c.target : ratio <= c.target;
            if (!printed_title) {
                std::string scope;
                for (const std::string& part : c.targeted) {
                    scope += (scope.empty() ? ", for " : ", ") + part;
                }
                std::fprintf(out, "\n%s (target %s %.2f%s)\n", c.title.c_str(),
                             c.throughput ? ">=" : "<=", c.target, scope.c_str());
                std::fprintf(out, "  %-44s %10s %10s %7s\n", "case", "subject ns", "baseline ns",
                             "ratio");
                printed_title = true;
            }
            std::string label = rest.empty() ? name : rest;
            if (c.throughput) {
                label += " x" + std::to_string(threads);
            }
            std::fprintf(out, "  %-44s %10.2f %10.2f %7.3f%s\n", label.c_str(), subject, baseline,
                         ratio, targeted ? (met ? "" : "  MISSED") : "");
            if (targeted) {
                worst =
                    any ? (c.throughput ? std::min(worst, ratio) : std::max(worst, ratio)) : ratio;
                any = true;
                all_met_ = all_met_ && met;
            }
        }
        if (any) {
            std::fprintf(out, "  worst targeted ratio: %.3f -> %s\n", worst,
                         (c.throughput ? worst >= c.target : worst <= c.target) ? "met" : "MISSED");
        }
    }
    std::fflush(out);
}

} // namespace bench
