#pragma once
// Peak envelope follower with separate attack and release: the rectified input pulls the envelope up with
// the attack time constant and lets it fall with the release time constant (each the time to cover 1 - 1/e
// of a step). Times may be set from the control thread while the audio thread runs.
#include <atomic>

#include "audio/dsp/Frame.h"

class EnvelopeFollower {
public:
    void setTimes(float sampleRate, float attackSeconds, float releaseSeconds);

    float process(float input) {
        const float level = input < 0.0f ? -input : input;
        const float coefficient =
            level > envelope_ ? attack_.load(std::memory_order_relaxed) : release_.load(std::memory_order_relaxed);
        envelope_ = Frame::sanitizeState(level + coefficient * (envelope_ - level));
        return envelope_;
    }
    // Follows a block; writes the envelope of every sample to `envelope` when it is not null. Returns the
    // envelope after the last sample.
    float process(const float* samples, float* envelope, int count);

    // Audio side or before processing starts.
    void reset(float value = 0.0f) { envelope_ = value; }
    float value() const { return envelope_; }

private:
    // Fraction of the distance to the input kept per sample: exp(-1 / (time * rate)); 0 follows instantly.
    std::atomic<float> attack_{0.0f};
    std::atomic<float> release_{0.0f};
    float envelope_ = 0.0f;
};
