#include "bench/ratio_reporter.h"

#include <algorithm>
#include <cstdio>

namespace bench {
namespace {

double median(std::vector<double> v) {
    if (v.empty()) {
        return 0.0;
    }
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

double counter(const benchmark::BenchmarkReporter::Run& run, const char* name) {
    const auto found = run.counters.find(name);
    return found == run.counters.end() ? 0.0 : double(found->second);
}

struct Row {
    std::string label;
    double subject;
    double baseline;
    double ratio;
    std::string note;
};

} // namespace

RatioReporter::RatioReporter(std::vector<Comparison> comparisons, bool quiet)
    : comparisons_(std::move(comparisons)), quiet_(quiet) {}

void RatioReporter::ReportRuns(const std::vector<Run>& runs) {
    for (const Run& run : runs) {
        if (run.error_occurred) {
            continue;
        }
        const std::pair<std::string, int> key{run.run_name.function_name, int(run.threads)};
        Samples* into = nullptr;
        if (run.run_type == Run::RT_Iteration) {
            into = &samples_[key];
        } else if (run.aggregate_name == "median") {
            into = &medians_[key];
        } else {
            continue;
        }
        into->time.push_back(time_of(run));
        if (run.counters.count("ratio") != 0) {
            into->subject.push_back(counter(run, "subject_ns"));
            into->baseline.push_back(counter(run, "baseline_ns"));
            into->ratio.push_back(counter(run, "ratio"));
            if (run.counters.count("undisturbed_share") != 0) {
                into->all_rounds_ratio.push_back(counter(run, "all_rounds_ratio"));
                into->undisturbed_share.push_back(counter(run, "undisturbed_share"));
            }
        }
    }
    if (!quiet_) {
        ConsoleReporter::ReportRuns(runs);
    }
}

void RatioReporter::Finalize() {
    ConsoleReporter::Finalize();
    for (const auto& [key, medians] : medians_) {
        if (samples_.count(key) == 0) {
            samples_[key] = medians;
        }
    }
    std::FILE* out = stdout;
    for (const Comparison& c : comparisons_) {
        using Kind = Comparison::Kind;
        const bool higher_is_better = c.higher_is_better;
        std::vector<std::pair<Row, bool>> rows; // with whether the target applies
        for (const auto& [key, s] : samples_) {
            const auto& [name, threads] = key;
            if (!starts_with(name, c.subject_prefix)) {
                continue;
            }
            Row row{name.substr(c.subject_prefix.size()), 0.0, 0.0, 0.0, ""};
            if (c.kind == Kind::paired) {
                if (s.ratio.empty()) {
                    continue;
                }
                row.subject = median(s.subject);
                row.baseline = median(s.baseline);
                row.ratio = median(s.ratio);
                if (!s.undisturbed_share.empty()) {
                    char note[96];
                    std::snprintf(note, sizeof note, "  (all rounds %.3f; %.0f%% undisturbed)",
                                  median(s.all_rounds_ratio), 100.0 * median(s.undisturbed_share));
                    row.note = note;
                }
            } else {
                const auto base = samples_.find({c.baseline_prefix + row.label, threads});
                if (base == samples_.end()) {
                    continue;
                }
                row.subject = median(s.time);
                row.baseline = median(base->second.time);
                row.ratio = row.subject / row.baseline;
            }
            bool targeted = c.has_target && c.targeted.empty();
            for (const std::string& part : c.targeted) {
                targeted = targeted || name.find(part) != std::string::npos;
            }
            rows.emplace_back(row, targeted);
        }
        if (rows.empty()) {
            continue;
        }
        std::string scope;
        for (const std::string& part : c.targeted) {
            scope += (scope.empty() ? ", for " : ", ") + part;
        }
        if (c.has_target) {
            std::fprintf(out, "\n%s (target %s %.2f%s)\n", c.title.c_str(),
                         higher_is_better ? ">=" : "<=", c.target, scope.c_str());
        } else {
            std::fprintf(out, "\n%s (no target)\n", c.title.c_str());
        }
        std::fprintf(out, "  %-40s %12s %12s %7s\n", "case", "subject ns", "baseline ns", "ratio");
        bool any = false;
        double worst = 0.0;
        for (const auto& [row, targeted] : rows) {
            const bool met = higher_is_better ? row.ratio >= c.target : row.ratio <= c.target;
            std::fprintf(out, "  %-40s %12.2f %12.2f %7.3f%s%s\n", row.label.c_str(), row.subject,
                         row.baseline, row.ratio, targeted && !met ? "  MISSED" : "",
                         row.note.c_str());
            if (targeted) {
                const bool worse = higher_is_better ? row.ratio < worst : row.ratio > worst;
                worst = !any || worse ? row.ratio : worst;
                any = true;
            }
        }
        if (any) {
            const bool met = higher_is_better ? worst >= c.target : worst <= c.target;
            std::fprintf(out, "  worst targeted ratio: %.3f -> %s\n", worst,
                         met ? "met" : "MISSED");
        }
    }
    std::fflush(out);
}

} // namespace bench
