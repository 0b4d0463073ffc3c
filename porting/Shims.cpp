#include "porting/Shims.h"

#include <ctime>
#include <sys/time.h>

namespace {
std::function<int64_t()> testClock;

int64_t monotonicMicros() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

// The time of day read once at start, advanced by the monotonic clock, so a clock step never runs time
// backwards under a period or debounce.
int64_t dayAtStart() {
    timeval day{};
    gettimeofday(&day, nullptr);
    return int64_t(day.tv_sec) * 1000000 + day.tv_usec - monotonicMicros();
}
const int64_t startOffset = dayAtStart();
}

int64_t esp_timer_get_time() {
    if (testClock) return testClock();
    return startOffset + monotonicMicros();
}

uint64_t xthal_get_ccount() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return uint64_t(now.tv_sec) * 1000000000ull + uint64_t(now.tv_nsec);
}

void vTaskDelay(uint32_t us) {
    timespec wait{time_t(us / 1000000), long(us % 1000000) * 1000};
    while (nanosleep(&wait, &wait) != 0) {}
}

void esp_restart() {}

namespace porting {
void setClock(std::function<int64_t()> clock) { testClock = std::move(clock); }
}
