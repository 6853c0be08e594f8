#include "preview/progress/progress.h"

namespace preview {

void Progress::begin(const std::string& step, bool measurable) {
    Snapshot ended, begun;
    bool had_step = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        had_step = end_locked(ended);
        step_ = step;
        started_ = Clock::now();
        share_.store(measurable ? 0.0 : -1.0, std::memory_order_relaxed);
        begun.step = step;
        begun.share = measurable ? 0.0 : -1.0;
    }
    if (had_step) {
        tell(ended, true);
    }
    tell(begun, false);
}

void Progress::end() {
    Snapshot ended;
    bool had_step = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        had_step = end_locked(ended);
    }
    if (had_step) {
        tell(ended, true);
    }
}

bool Progress::end_locked(Snapshot& ended) {
    if (step_.empty()) {
        return false;
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
    ended.step = step_;
    ended.share = share_.load(std::memory_order_relaxed) < 0.0 ? -1.0 : 1.0;
    ended.seconds = seconds;
    step_.clear();
    return true;
}

void Progress::set_listener(std::function<void(const Snapshot&, bool)> listener) {
    std::lock_guard<std::mutex> lock(mutex_);
    listener_ = std::move(listener);
}

void Progress::tell(const Snapshot& step, bool ended) {
    std::function<void(const Snapshot&, bool)> listener;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        listener = listener_;
    }
    if (listener) {
        listener(step, ended);
    }
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
