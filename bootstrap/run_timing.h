// The parts of a run in time, for the benchmark only. A launcher library compiled with
// KELVOR_RUN_TIMING (the benchmark's own build of it) writes one line per event on standard
// error, "kelvor-timing PID EVENT MICROSECONDS", the microseconds of the system-wide
// performance counter, so that a parent's and its child's events line up. The launcher that
// ships compiles all of this away.
#pragma once

#include <stdint.h>

enum class TimedPart { decode, files };

#ifdef KELVOR_RUN_TIMING
int64_t timing_now();                            // the performance counter, in its own ticks
void timing_event(const char* event);            // this moment
void timing_add(TimedPart part, int64_t since);  // adds the time since timing_now's `since`
void timing_report_parts();                      // each part's total, as an event
#else
inline int64_t timing_now() { return 0; }
inline void timing_event(const char*) {}
inline void timing_add(TimedPart, int64_t) {}
inline void timing_report_parts() {}
#endif
