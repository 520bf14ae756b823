// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// CPU time spent so far, in milliseconds, for tests and benchmarks that
// set work beside the time it cost.
#include <sys/resource.h>
#include <time.h>

namespace vantor::test {

inline double CpuMsOf(clockid_t clock) {
    timespec now{};
    ::clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}
// This thread's.
inline double ThreadCpuMs() {
    return CpuMsOf(CLOCK_THREAD_CPUTIME_ID);
}
// This thread's time in its own code, without the kernel's on its behalf
// (system calls, and interrupts that came while it ran): counted in clock
// ticks, so a few milliseconds coarse.
inline double ThreadUserMs() {
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec) * 1e3 +
           static_cast<double>(usage.ru_utime.tv_usec) / 1e3;
}
// The whole process's, every thread together.
inline double ProcessCpuMs() {
    return CpuMsOf(CLOCK_PROCESS_CPUTIME_ID);
}

}  // namespace vantor::test
