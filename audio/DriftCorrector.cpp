#include "DriftCorrector.h"

#include <cstring>

namespace {

// The fill jumps by a whole transfer of the other side; averaged over about 256 frames (85 ms) only the
// slow drift of the two clocks remains.
const float kSmoothing = 1.0f / 256.0f;
// Three time constants of the average before its value becomes the reference.
const int kSettlingFrames = 768;
const float kTolerance = 2.0f;

}

void DriftCorrector::reset() {
    std::memset(last, 0, sizeof last);
    primed = false;
}

void DriftCorrector::repeatLast(float (*frame)[16]) {
    std::memcpy(frame, last, sizeof last);
    repeats.fetch_add(1, std::memory_order_relaxed);
}

void DriftCorrector::take(FrameRing& ring, float (*frame)[16]) {
    int fill = ring.size();
    if (!primed) {
        if (fill < targetFill || fill == 0) {
            std::memset(frame, 0, sizeof last);
            return;
        }
        primed = true;
        averageFill = float(fill);
        settling = kSettlingFrames;
    }
    if (fill == 0) {
        // The producer stopped or fell far behind: one repeat covers a short gap, then silence while the ring
        // fills up to the target again.
        repeatLast(frame);
        primed = false;
        return;
    }
    averageFill += (float(fill) - averageFill) * kSmoothing;
    if (settling > 0) {
        if (--settling == 0) referenceFill = averageFill;
    } else if (averageFill > referenceFill + kTolerance && fill >= 2) {
        ring.discard();
        drops.fetch_add(1, std::memory_order_relaxed);
        averageFill -= 1.0f;
    } else if (averageFill < referenceFill - kTolerance) {
        repeatLast(frame);
        averageFill += 1.0f;
        return;
    }
    ring.pop(frame);
    std::memcpy(last, frame, sizeof last);
}
