#include "progress_meter.h"

#include <cstdio>
#include <unistd.h>

namespace kelvor {

namespace {

constexpr double kMebibyte = 1024.0 * 1024.0;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

}  // namespace

ProgressMeter::ProgressMeter(std::string label, std::uint64_t total)
    : label_(std::move(label)), total_(total), enabled_(isatty(STDERR_FILENO) == 1),
      start_(std::chrono::steady_clock::now()), last_draw_(start_) {}

ProgressMeter::~ProgressMeter() { finish(); }

void ProgressMeter::advance(std::uint64_t count) {
    done_ += count;
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - last_draw_ < kRedrawInterval) return;
    last_draw_ = now;
    draw();
}

void ProgressMeter::draw() {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const double rate = seconds > 0 ? done_ / kMebibyte / seconds : 0.0;
    std::fprintf(stderr, "\r%s: %.1f of %.1f MiB (%.1f MiB/s)\033[K", label_.c_str(), done_ / kMebibyte,
                 total_ / kMebibyte, rate);
    std::fflush(stderr);
    drawn_ = true;
}

void ProgressMeter::finish() {
    if (!enabled_) return;
    if (drawn_ || done_ > 0) {
        draw();
        std::fputc('\n', stderr);
    }
    enabled_ = false;
}

}  // namespace kelvor
