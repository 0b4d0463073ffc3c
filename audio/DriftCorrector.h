#pragma once
// The consumer side of a FrameRing fed from another clock (the USB host's against the codec's). Drift is
// absorbed by resampling the ring's audio with a ratio that follows the ring's fill, so the audio never
// jumps: a second-order loop (a proportional and an integral path on the low-passed fill error) drives the
// ratio toward the one that keeps the fill at the target, within seconds and to within a few samples.
//
// After the ring has filled to the target the corrector gives one resampled frame per call. A ring that runs
// dry (the producer stopped) or overfills far beyond the target (the consumer stalled) restarts the stream:
// silence, then priming again. Consumer thread only, apart from prepare() and the counts; the audio half
// allocates nothing.
#include <atomic>

#include "audio/dsp/Frame.h"
#include "audio/FrameRing.h"

class VResampler;

class DriftCorrector {
public:
    // Largest correction of the ratio: far more than two crystals drift apart (±2000 ppm).
    static constexpr double kMaxCorrection = 2e-3;

    explicit constexpr DriftCorrector(int targetSamples) : targetSamples(targetSamples) {}

    // Builds the resampler: the one allocation, made once, on any thread before the consumer's first take.
    void prepare();
    // The next frame for the consumer.
    void take(FrameRing& ring, float (*frame)[Frame::kSamples]);
    // Back to priming with silence (a stream that starts again). Consumer thread.
    void reset();
    // Samples waiting for the consumer: the frames in the ring and the unread part of the frame being
    // resampled. Consumer thread.
    int queued(const FrameRing& ring) const;
    // Restarts after the ring ran dry or overfilled, readable from any thread.
    int getRestarts() const { return restarts.load(std::memory_order_relaxed); }
    bool isPrimed() const { return primed; }

private:
    void prime();
    void follow(int fill);
    bool refill(FrameRing& ring);

    const int targetSamples;
    VResampler* resampler = nullptr;
    alignas(64) float input[Frame::kChannels * Frame::kSamples] = {}; // the frame being resampled, interleaved
    double smoothedError = 0.0;
    double integral = 0.0;
    bool primed = false;
    std::atomic<int> restarts{0};
};
