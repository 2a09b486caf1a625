#include "progress_meter.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace kelvor {

namespace {

constexpr double kMebibyte = 1024.0 * 1024.0;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr auto kLineInterval = std::chrono::milliseconds(2000);

}  // namespace

bool redraws_in_place(int descriptor) {
    const char* term = std::getenv("TERM");
    return isatty(descriptor) == 1 && term != nullptr && *term != '\0' && std::strcmp(term, "dumb") != 0;
}

ProgressMeter::ProgressMeter(std::string label, std::uint64_t total)
    : label_(std::move(label)), total_(total), in_place_(redraws_in_place(STDERR_FILENO)),
      start_(std::chrono::steady_clock::now()), last_draw_(start_) {}

ProgressMeter::~ProgressMeter() { finish(); }

void ProgressMeter::advance(std::uint64_t count) {
    done_ += count;
    if (finished_) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - last_draw_ < (in_place_ ? kRedrawInterval : kLineInterval)) return;
    last_draw_ = now;
    draw();
}

void ProgressMeter::draw() {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const double rate = seconds > 0 ? done_ / kMebibyte / seconds : 0.0;
    std::fprintf(stderr, "%s%s: %.1f of %.1f MiB (%.1f MiB/s)%s", in_place_ ? "\r" : "", label_.c_str(),
                 done_ / kMebibyte, total_ / kMebibyte, rate, in_place_ ? "\033[K" : "\n");
    std::fflush(stderr);
    drawn_ = true;
}

// On a terminal the last state stays on its line; in plain lines it is written only when
// earlier lines were, so that a log that shows a job starting shows it ending.
void ProgressMeter::finish() {
    if (finished_) return;
    finished_ = true;
    if (in_place_ ? drawn_ || done_ > 0 : drawn_) {
        draw();
        if (in_place_) std::fputc('\n', stderr);
    }
}

}  // namespace kelvor
