#include "core/Debug.h"

#include "porting/Log.h"
#include "porting/Shims.h"

#include <cstring>

namespace {
const char* const TAG = "Debug";
const uint32_t REPORT_PERIOD_US = 2000000;
const uint64_t EVENT_REPORT_PERIOD_NS = 10000000000ull;

void storeMin(std::atomic<uint64_t>& target, uint64_t value) {
    if (value < target.load(std::memory_order_relaxed)) target.store(value, std::memory_order_relaxed);
}
void storeMax(std::atomic<uint64_t>& target, uint64_t value) {
    if (value > target.load(std::memory_order_relaxed)) target.store(value, std::memory_order_relaxed);
}
}

Debug::Counter Debug::counters[MAX_COUNTERS];
std::atomic<int> Debug::counterCount{0};
std::mutex Debug::registration;
uint64_t Debug::lastEventReport = 0;

int Debug::addCounter(const char* name) {
    if (!name || !*name) return -1;
    std::lock_guard<std::mutex> lock(registration);
    int count = counterCount.load();
    for (int id = 0; id < count; ++id) {
        if (std::strncmp(counters[id].name, name, sizeof(counters[id].name) - 1) == 0) return id;
    }
    if (count == MAX_COUNTERS) {
        LOGE(TAG, "No counter left for %s\n", name);
        return -1;
    }
    std::strncpy(counters[count].name, name, sizeof(counters[count].name) - 1);
    // Published after the name is in place, so the reporter never sees a counter without its name.
    counterCount.store(count + 1);
    return count;
}

Debug::Counter* Debug::counter(int id) {
    if (id < 0 || id >= counterCount.load()) return nullptr;
    return &counters[id];
}

void Debug::start(int id) { start(id, xthal_get_ccount()); }

void Debug::stop(int id) { stop(id, xthal_get_ccount()); }

void Debug::start(int id, uint64_t stamp) {
    Counter* c = counter(id);
    if (!c) return;
    // A pass is measured when the next one starts: only then is its cycle known. A pass without a stop, or
    // stamps that run backwards, measure nothing.
    if (c->passStart != 0 && c->passStop >= c->passStart && stamp > c->passStart) {
        record(*c, stamp - c->passStart, c->passStop - c->passStart);
    }
    c->passStart = stamp;
    c->passStop = 0;
}

void Debug::stop(int id, uint64_t stamp) {
    Counter* c = counter(id);
    if (!c) return;
    c->passStop = stamp;
}

void Debug::record(Counter& c, uint64_t cycle, uint64_t busy) {
    uint64_t loadPpm = busy * 1000000 / cycle;
    c.sumCycleNs.fetch_add(cycle, std::memory_order_relaxed);
    storeMin(c.minCycleNs, cycle);
    storeMax(c.maxCycleNs, cycle);
    c.sumLoadPpm.fetch_add(loadPpm, std::memory_order_relaxed);
    storeMin(c.minLoadPpm, loadPpm);
    storeMax(c.maxLoadPpm, loadPpm);
    c.cycles.fetch_add(1, std::memory_order_release);
}

int Debug::addEventCounter(const char* name) {
    const int id = addCounter(name);
    if (Counter* c = counter(id)) c->reportsEvents.store(true);
    return id;
}

void Debug::count(int id) {
    if (Counter* c = counter(id)) c->events.fetch_add(1, std::memory_order_relaxed);
}

uint64_t Debug::takeEvents(int id) {
    Counter* c = counter(id);
    return c ? c->events.exchange(0, std::memory_order_relaxed) : 0;
}

Debug::Stats Debug::take(int id) {
    Stats stats;
    Counter* c = counter(id);
    if (!c) return stats;
    stats.cycles = c->cycles.exchange(0, std::memory_order_acquire);
    uint64_t sumCycle = c->sumCycleNs.exchange(0);
    uint64_t minCycle = c->minCycleNs.exchange(UINT64_MAX);
    uint64_t maxCycle = c->maxCycleNs.exchange(0);
    uint64_t sumLoad = c->sumLoadPpm.exchange(0);
    uint64_t minLoad = c->minLoadPpm.exchange(UINT64_MAX);
    uint64_t maxLoad = c->maxLoadPpm.exchange(0);
    if (stats.cycles == 0) return stats;
    stats.minCycleUs = minCycle / 1000.0;
    stats.avgCycleUs = double(sumCycle) / stats.cycles / 1000.0;
    stats.maxCycleUs = maxCycle / 1000.0;
    stats.minLoad = minLoad / 10000.0;
    stats.avgLoad = double(sumLoad) / stats.cycles / 10000.0;
    stats.maxLoad = maxLoad / 10000.0;
    return stats;
}

void Debug::report() { report(xthal_get_ccount()); }

void Debug::report(uint64_t now) {
    int count = counterCount.load();
    for (int id = 0; id < count; ++id) {
        Stats stats = take(id);
        if (stats.cycles == 0) continue;
        LOGI(TAG, "%s: cycle %.1f/%.1f/%.1f us, load %.1f/%.1f/%.1f %% (min/avg/max of %llu)\n", counters[id].name,
             stats.minCycleUs, stats.avgCycleUs, stats.maxCycleUs, stats.minLoad, stats.avgLoad, stats.maxLoad,
             (unsigned long long)stats.cycles);
    }
    if (lastEventReport == 0) lastEventReport = now;
    if (now - lastEventReport < EVENT_REPORT_PERIOD_NS) return;
    for (int id = 0; id < count; ++id) {
        if (!counters[id].reportsEvents.load()) continue;
        const uint64_t events = takeEvents(id);
        LOGI(TAG, "%s: %llu in the last %.0f s\n", counters[id].name, (unsigned long long)events,
             (now - lastEventReport) / 1e9);
    }
    lastEventReport = now;
}

void info_tasks(void*) {
    for (;;) {
        vTaskDelay(REPORT_PERIOD_US);
        Debug::report();
    }
}
