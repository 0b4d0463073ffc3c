#include "porting/LogLimit.h"

#include "porting/Shims.h"

bool LogLimit::due(uint32_t& count, uint32_t occurrences) {
    const int64_t now = esp_timer_get_time();
    std::lock_guard<std::mutex> guard(lock);
    pending += occurrences;
    // A clock set back restarts the interval rather than holding the line back until it catches up.
    if (logged && now >= lastLine && now - lastLine < interval) return false;
    count = pending;
    pending = 0;
    lastLine = now;
    logged = true;
    return true;
}
