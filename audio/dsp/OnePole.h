#pragma once
// One-pole low-pass y[n] = y[n-1] + a (x[n] - y[n-1]), with a = 1 - exp(-2 pi fc / fs): the impulse-invariant
// image of an RC section. Used for parameter smoothing, tone controls in feedback loops and damping; the
// complementary high-pass is x - y. The coefficient may be set from the control thread while the audio
// thread runs.
#include <atomic>

#include "audio/dsp/Frame.h"

class OnePole {
public:
    void setCutoff(float sampleRate, float frequency);
    // Time for a step to reach 1 - 1/e of its height.
    void setTimeConstant(float sampleRate, float seconds);
    float coefficient() const { return coefficient_.load(std::memory_order_relaxed); }

    float process(float input) {
        state_ = Frame::sanitizeState(state_ + coefficient() * (input - state_));
        return state_;
    }
    float processHighPass(float input) { return input - process(input); }
    void process(float* samples, int count);
    void processHighPass(float* samples, int count);

    // Audio side or before processing starts.
    void reset(float value = 0.0f) { state_ = value; }
    float value() const { return state_; }

private:
    std::atomic<float> coefficient_{1.0f};
    float state_ = 0.0f;
};
