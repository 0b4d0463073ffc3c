#pragma once
// A log line that can repeat (a flood of bad requests, a device that stays missing): at most one line per
// interval on the esp_timer_get_time clock, each saying how many occurrences it stands for. The first
// occurrence is logged at once. Threads may share one; never used on an audio path.
#include <cstdint>
#include <mutex>

class LogLimit {
public:
    static constexpr int64_t defaultIntervalUs = 10000000;

    explicit LogLimit(int64_t intervalUs = defaultIntervalUs) : interval(intervalUs) {}

    // Counts `occurrences` now; true when a line is due, with `count` the occurrences it stands for (those
    // since the last line, these included).
    bool due(uint32_t& count, uint32_t occurrences = 1);

private:
    std::mutex lock;
    int64_t interval;
    int64_t lastLine = 0;
    bool logged = false;
    uint32_t pending = 0;
};
