#include "preview/progress/progress.h"

namespace preview {

void Progress::begin(const std::string& step, bool measurable) {
    std::lock_guard<std::mutex> lock(mutex_);
    end_locked();
    step_ = step;
    started_ = Clock::now();
    share_.store(measurable ? 0.0 : -1.0, std::memory_order_relaxed);
}

void Progress::end() {
    std::lock_guard<std::mutex> lock(mutex_);
    end_locked();
}

void Progress::end_locked() {
    if (step_.empty()) {
        return;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - started_).count();
    bool found = false;
    for (auto& [name, total] : times_) {
        if (name == step_) {
            total += seconds;
            found = true;
        }
    }
    if (!found) {
        times_.emplace_back(step_, seconds);
    }
    step_.clear();
}

Progress::Snapshot Progress::snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    Snapshot now;
    now.step = step_;
    now.share = share_.load(std::memory_order_relaxed);
    if (!step_.empty()) {
        now.seconds = std::chrono::duration<double>(Clock::now() - started_).count();
    }
    return now;
}

std::vector<std::pair<std::string, double>> Progress::times() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return times_;
}

} // namespace preview
