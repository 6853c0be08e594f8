// How far a long step has come, and how long each step took.
//
// The steps that can take seconds on a big mesh (reading it, welding, the
// curvature estimate, the BVH build, the render) run in the rooms below the
// command line, which knows whether and how to show them. So the command
// line hands them this small record: each step names itself, says how far it
// has come, and its time is kept; a display reads it from its own thread.
// Nothing here writes anywhere.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace preview {

class Progress {
  public:
    // What a display shows: the step running (empty between steps), the
    // share of it done (0 to 1, or negative when the step cannot tell) and
    // the seconds since it began.
    struct Snapshot {
        std::string step;
        double share = 0.0;
        double seconds = 0.0;
    };

    // Begins a step, ending the one before if it is still running.
    void begin(const std::string& step, bool measurable = true);
    // The share of the running step done, 0 to 1; callable from any thread.
    void advance(double share) { share_.store(share, std::memory_order_relaxed); }
    // Ends the running step and adds its time to that step's total.
    void end();

    Snapshot snapshot() const;
    // Called, on the thread that begins or ends a step and outside the
    // record's lock, with the step begun (ended false) or the step just
    // ended as it stood at its end (ended true): a display finishes its
    // line there, before anything else is printed.
    void set_listener(std::function<void(const Snapshot& step, bool ended)> listener);
    // Each step's total time in seconds, in the order the steps first began
    // (a step run twice, as the render of each image of a turntable, adds up).
    std::vector<std::pair<std::string, double>> times() const;

  private:
    using Clock = std::chrono::steady_clock;
    // Ends the running step, if any; true with it as it stood at its end.
    bool end_locked(Snapshot& ended);
    void tell(const Snapshot& step, bool ended);

    mutable std::mutex mutex_;
    std::string step_;
    Clock::time_point started_{};
    std::atomic<double> share_{0.0};
    std::vector<std::pair<std::string, double>> times_;
    std::function<void(const Snapshot&, bool)> listener_;
};

// Begins a step on a progress record that may be null, and ends it when it
// goes out of scope.
class ProgressStep {
  public:
    ProgressStep(Progress* progress, const std::string& step, bool measurable = true)
        : progress_(progress) {
        if (progress_ != nullptr) {
            progress_->begin(step, measurable);
        }
    }
    ~ProgressStep() {
        if (progress_ != nullptr) {
            progress_->end();
        }
    }
    ProgressStep(const ProgressStep&) = delete;
    ProgressStep& operator=(const ProgressStep&) = delete;

    void advance(double share) const {
        if (progress_ != nullptr) {
            progress_->advance(share);
        }
    }

  private:
    Progress* progress_;
};

} // namespace preview
