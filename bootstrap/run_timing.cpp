#include "bootstrap/run_timing.h"

#ifdef KELVOR_RUN_TIMING

#include <windows.h>

#include "text/bounded_text.h"

namespace {

int64_t part_ticks[2];

int64_t microseconds(int64_t ticks) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return ticks / frequency.QuadPart * 1000000 + ticks % frequency.QuadPart * 1000000 / frequency.QuadPart;
}

void write_line(const char* event, int64_t value) {
    char line[128];
    const int length = format_narrow(line, sizeof line, "kelvor-timing %lu %s %lld\n", GetCurrentProcessId(), event,
                                     static_cast<long long>(value));
    DWORD written = 0;
    if (length > 0) WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, static_cast<DWORD>(length), &written, nullptr);
}

}  // namespace

int64_t timing_now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

void timing_event(const char* event) { write_line(event, microseconds(timing_now())); }

void timing_add(TimedPart part, int64_t since) { part_ticks[static_cast<int>(part)] += timing_now() - since; }

void timing_report_parts() {
    write_line("decode-total", microseconds(part_ticks[static_cast<int>(TimedPart::decode)]));
    write_line("files-total", microseconds(part_ticks[static_cast<int>(TimedPart::files)]));
}

#endif
