#pragma once
// Schroeder all-pass section: H(z) = (-g + z^-D) / (1 - g z^-D), flat magnitude with a dense, decaying echo
// pattern; the reverb's input diffusers. Canonical form with one delay of D samples:
//   w[n] = x[n] + g w[n-D],  y[n] = w[n-D] - g w[n].
// The gain may be set from the control thread while the audio thread runs.
#include <atomic>
#include <vector>

#include "audio/dsp/Frame.h"

class SchroederAllPass {
public:
    explicit SchroederAllPass(int delaySamples = 1, float gain = 0.5f) { configure(delaySamples, gain); }

    // Allocates the delay and clears it; only while no process call can run. The gain is clamped to
    // -0.99..0.99, the delay to at least one sample.
    void configure(int delaySamples, float gain);
    void setGain(float gain);
    int delay() const { return static_cast<int>(buffer_.size()); }

    float process(float input) {
        const float g = gain_.load(std::memory_order_relaxed);
        const float delayed = buffer_[position_];
        const float w = input + g * delayed;
        buffer_[position_] = Frame::sanitizeState(w);
        position_ = position_ + 1 == static_cast<int>(buffer_.size()) ? 0 : position_ + 1;
        return delayed - g * w;
    }
    void process(float* samples, int count);
    void reset();

private:
    std::vector<float> buffer_;
    std::atomic<float> gain_{0.5f};
    int position_ = 0;
};
