// Progress of a long job on stderr, as "label: done of total (rate)" redrawn in place, shown
// only when stderr is a terminal so that logs and pipes stay quiet.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace kelvor {

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
    bool enabled_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point last_draw_;
};

}  // namespace kelvor
