// Progress of a long job on stderr as "label: done of total (rate)". On a terminal that
// understands escape sequences the line is redrawn in place; anywhere else (a terminal whose
// TERM is "dumb", a pipe, a log) it is written as a plain line now and then, so that a log
// shows the job moving without filling up, and a short job writes nothing.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace kelvor {

// Whether the descriptor is a terminal that can redraw a line: TERM is set and is not "dumb".
bool redraws_in_place(int descriptor);

class ProgressMeter {
public:
    ProgressMeter(std::string label, std::uint64_t total);
    ~ProgressMeter();
    void advance(std::uint64_t count);
    void finish();

private:
    void draw();

    std::string label_;
    std::uint64_t total_;
    std::uint64_t done_ = 0;
    bool in_place_;
    bool finished_ = false;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point last_draw_;
};

}  // namespace kelvor
