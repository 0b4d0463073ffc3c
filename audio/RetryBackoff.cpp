#include "audio/RetryBackoff.h"

#include "porting/Shims.h"

bool RetryBackoff::failed() {
    uint64_t wait = firstWaitUs;
    for (int doubling = 0; doubling < failures && wait < longestWaitUs; ++doubling) wait *= 2;
    if (wait > longestWaitUs) wait = longestWaitUs;
    retryAtUs = esp_timer_get_time() + int64_t(wait);
    return failures++ == 0;
}

uint32_t RetryBackoff::waitUs() const {
    if (failures == 0) return 0;
    const int64_t left = retryAtUs - esp_timer_get_time();
    return left > 0 ? uint32_t(left) : 0;
}

bool RetryBackoff::worked() {
    if (failures == 0 || esp_timer_get_time() - retryAtUs < int64_t(longestWaitUs)) return false;
    failures = 0;
    return true;
}
