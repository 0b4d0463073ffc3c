#pragma once
// Timing statistics: named cycle-time counters. A loop stamps the start and the stop of each pass; the
// counter keeps, per reporting window, the minimum, mean and maximum of the cycle time (start to next start)
// and of the load (start to stop over the cycle time); a pass counts once the next pass starts. Feeding allocates nothing and takes no lock, so the audio loop
// can feed a counter; each counter is fed by one thread only.
//
// An event counter counts events (a frame given up): any thread counts, without allocation or lock; the
// reporter logs each event counter once per 10 s, in one line with the number counted (0 included), so a
// fault that repeats every frame costs one line.
#include <atomic>
#include <cstdint>
#include <mutex>

class Debug {
public:
    static constexpr int MAX_COUNTERS = 16;

    struct Stats {
        uint64_t cycles = 0; // passes measured in the window
        double minCycleUs = 0, avgCycleUs = 0, maxCycleUs = 0;
        double minLoad = 0, avgLoad = 0, maxLoad = 0; // percent
    };

    // The counter of that name, created on first use; -1 when all counters are taken or the name is empty.
    // Call at start-up, not from the audio path.
    static int addCounter(const char* name);
    // Stamps from xthal_get_ccount() (nanoseconds). Ids out of range are ignored.
    static void start(int id);
    static void stop(int id);
    static void start(int id, uint64_t stamp);
    static void stop(int id, uint64_t stamp);

    // The counter of that name as an event counter (see addCounter).
    static int addEventCounter(const char* name);
    // One event more. Any thread; ids out of range are ignored.
    static void count(int id);
    // The events counted since the last take (or report of them); counting starts again from 0.
    static uint64_t takeEvents(int id);

    // The statistics of the window so far; the next window starts empty.
    static Stats take(int id);
    // One reporting pass: logs every counter that measured a pass in this window, then starts a new window;
    // once 10 s have passed since the last lines of events, logs every event counter's count since then.
    static void report();
    static void report(uint64_t now);

private:
    struct Counter {
        char name[32] = {};
        // Written by the feeding thread only.
        uint64_t passStart = 0;
        uint64_t passStop = 0;
        // Accumulated by the feeder, taken by the reporter; a pass that lands while the reporter takes the
        // window may be split across two windows, which statistics can bear.
        std::atomic<uint64_t> cycles{0};
        std::atomic<uint64_t> sumCycleNs{0}, minCycleNs{UINT64_MAX}, maxCycleNs{0};
        std::atomic<uint64_t> sumLoadPpm{0}, minLoadPpm{UINT64_MAX}, maxLoadPpm{0};
        std::atomic<uint64_t> events{0};
        std::atomic<bool> reportsEvents{false};
    };
    static Counter* counter(int id);
    static void record(Counter& c, uint64_t cycle, uint64_t busy);

    static Counter counters[MAX_COUNTERS];
    static std::atomic<int> counterCount;
    static uint64_t lastEventReport; // reporter only
    static std::mutex registration;
};

// Body of the "infoTasks" thread (argument not used): logs the timing statistics every 2 s; never returns.
void info_tasks(void*);
