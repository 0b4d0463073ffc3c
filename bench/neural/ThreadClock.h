#pragma once
// CPU time of the calling thread: what a piece of work costs, whatever else the machine runs meanwhile. A wall
// clock also counts the time other processes hold the core.
#include <ctime>

namespace threadclock {

inline double seconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + 1e-9 * double(now.tv_nsec);
}

} // namespace threadclock
