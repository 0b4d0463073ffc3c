#pragma once
// Keeps a stream on the frame clock when its device does not pace it (ALSA's "null" device takes and gives
// frames at once, a thread that relied on it would spin). A device that blocks in its transfers paces the
// stream by itself: the time line follows it and no wait is asked for. Only a stream that runs ahead of the
// clock by more than the allowed lead (the device's own buffer, which a real device fills at once at start)
// is told to wait. Time comes from esp_timer_get_time, so a test's clock drives it. One thread; allocates
// nothing.
#include <cstdint>

class FramePacer {
public:
    explicit constexpr FramePacer(int64_t leadUs) : leadUs(leadUs) {}

    // The next transfer starts a new time line.
    void restart() { started = false; }
    // Notes a transfer of `samples` (at 48 kHz) just made; the microseconds to wait before the next one.
    uint32_t transferred(int samples);

private:
    const int64_t leadUs;
    int64_t startUs = 0;
    int64_t samplesSinceStart = 0;
    bool started = false;
};
