#pragma once
// The pace of retries of a device that keeps failing: the first failure is reported (one log line by the
// caller), later ones are quiet, and the wait before the next attempt doubles up to a ceiling, so a dead
// device neither floods the log nor keeps a thread busy. A device that works for a moment after each reopen
// still counts as failing: the run ends only once it has worked for the longest wait. Time comes from
// esp_timer_get_time. One thread.
#include <cstdint>

class RetryBackoff {
public:
    constexpr RetryBackoff(uint32_t firstWaitUs, uint32_t longestWaitUs)
        : firstWaitUs(firstWaitUs), longestWaitUs(longestWaitUs) {}

    // Notes a failure; true for the first of a run (the one to report).
    bool failed();
    // The wait before the next attempt; 0 when it may be made now.
    uint32_t waitUs() const;
    // Notes a transfer that worked; true when it ends a run of failures (the recovery worth one line).
    bool worked();
    // Forgets the failures: the device was closed on purpose.
    void clear() { failures = 0; }
    bool isFailing() const { return failures > 0; }

private:
    const uint32_t firstWaitUs;
    const uint32_t longestWaitUs;
    int failures = 0;
    int64_t retryAtUs = 0;
};
