// Progress of the long steps, drawn on a terminal.
#pragma once

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "preview/progress/progress.h"

namespace preview {

// Whether to draw progress at all: only on a terminal (a log file or a pipe
// gets nothing, so a script's output stays clean) and never with --quiet.
bool progress_wanted(bool stream_is_terminal, bool quiet);

// Draws the running step of a progress record on stream, on one line that
// it rewrites in place: the step's name, a bar and its percentage (or a
// moving block for a step that cannot tell its share), and the seconds so
// far. A step shows only once it has run for delay seconds, so that quick
// steps print nothing; a step shown is finished on its line, with its time,
// the moment it ends. Draws until destroyed.
class ProgressDisplay {
  public:
    ProgressDisplay(Progress& progress, std::FILE* stream, double delay);
    ~ProgressDisplay();
    ProgressDisplay(const ProgressDisplay&) = delete;
    ProgressDisplay& operator=(const ProgressDisplay&) = delete;

  private:
    void run();
    void step_changed(const Progress::Snapshot& step, bool ended);
    // A finished step's bar is full.
    void draw(const Progress::Snapshot& step, bool finished = false);

    Progress& progress_;
    std::FILE* stream_;
    double delay_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::string shown_; // the step whose line is on the screen
    std::thread thread_;
};

} // namespace preview
