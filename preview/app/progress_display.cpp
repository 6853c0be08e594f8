#include "preview/app/progress_display.h"

#include <chrono>

namespace preview {

bool progress_wanted(bool stream_is_terminal, bool quiet) {
    return stream_is_terminal && !quiet;
}

ProgressDisplay::ProgressDisplay(Progress& progress, std::FILE* stream, double delay)
    : progress_(progress), stream_(stream), delay_(delay) {
    progress_.set_listener(
        [this](const Progress::Snapshot& step, bool ended) { step_changed(step, ended); });
    thread_ = std::thread([this] { run(); });
}

ProgressDisplay::~ProgressDisplay() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
    progress_.set_listener(nullptr);
}

void ProgressDisplay::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        wake_.wait_for(lock, std::chrono::milliseconds(100));
        const Progress::Snapshot now = progress_.snapshot();
        if (!stopping_ && !now.step.empty() && now.seconds >= delay_) {
            shown_ = now.step;
            draw(now);
        }
    }
}

void ProgressDisplay::step_changed(const Progress::Snapshot& step, bool ended) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!ended && delay_ <= 0.0) {
        shown_ = step.step; // every step shows, from its start
        draw(step);
    }
    if (ended && step.step == shown_) {
        draw(step, true);
        std::fputc('\n', stream_);
        std::fflush(stream_);
        shown_.clear();
    }
}

void ProgressDisplay::draw(const Progress::Snapshot& step, bool finished) {
    constexpr int width = 30;
    char bar[width + 1];
    const bool measurable = step.share >= 0.0;
    const double share = step.share > 1.0 ? 1.0 : step.share;
    // A step that cannot tell its share shows a block moving to and fro.
    const int block = int(step.seconds * 10.0) % (2 * (width - 4));
    const int at = block < width - 4 ? block : 2 * (width - 4) - block;
    for (int i = 0; i < width; ++i) {
        const bool filled =
            finished || (measurable ? i < int(share * width) : i >= at && i < at + 4);
        bar[i] = filled ? '#' : '.';
    }
    bar[width] = '\0';
    if (measurable) {
        std::fprintf(stream_, "\r%-10s [%s] %3d%% %6.1f s", step.step.c_str(), bar,
                     int(share * 100.0), step.seconds);
    } else {
        std::fprintf(stream_, "\r%-10s [%s]      %6.1f s", step.step.c_str(), bar, step.seconds);
    }
    std::fflush(stream_);
}

} // namespace preview
