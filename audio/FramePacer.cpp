#include "audio/FramePacer.h"

#include "porting/Shims.h"

uint32_t FramePacer::transferred(int samples) {
    const int64_t now = esp_timer_get_time();
    if (!started) {
        started = true;
        startUs = now;
        samplesSinceStart = 0;
    }
    samplesSinceStart += samples;
    const int64_t playedAtUs = startUs + samplesSinceStart * 1000000 / 48000;
    if (playedAtUs < now) {
        // Behind the clock: the device's slower clock or a late thread. Never catch up in a burst.
        startUs = now;
        samplesSinceStart = 0;
        return 0;
    }
    const int64_t ahead = playedAtUs - now;
    return ahead > leadUs ? uint32_t(ahead - leadUs) : 0;
}
