#pragma once
// The consumer side of a FrameRing fed from another clock (the USB host's against the codec's). After the
// ring has filled to the target it takes one frame per call. The fill, averaged slowly, is learnt as the
// reference during a settling time (the producer's transfer size and phase decide where it sits); from then
// on, when the average drifts more than two frames above the reference a frame is dropped, below it the last
// frame is repeated. An empty ring (the producer stopped) repeats the last frame once, then gives silence and
// primes again. Consumer thread only; allocates nothing.
#include <atomic>

#include "FrameRing.h"

class DriftCorrector {
public:
    explicit constexpr DriftCorrector(int targetFill) : targetFill(targetFill) {}

    // The next frame for the consumer.
    void take(FrameRing& ring, float (*frame)[16]);
    // Back to priming with silence as the last frame (a stream that starts again).
    void reset();
    // Counts, readable from any thread.
    int getDrops() const { return drops.load(std::memory_order_relaxed); }
    int getRepeats() const { return repeats.load(std::memory_order_relaxed); }
    bool isPrimed() const { return primed; }

private:
    void repeatLast(float (*frame)[16]);

    const int targetFill;
    float last[2][16] = {};
    float averageFill = 0.0f;
    float referenceFill = 0.0f;
    int settling = 0;
    bool primed = false;
    std::atomic<int> drops{0};
    std::atomic<int> repeats{0};
};
