#include "audio/dsp/SchroederAllPass.h"

#include <algorithm>

void SchroederAllPass::configure(int delaySamples, float gain) {
    buffer_.assign(std::max(delaySamples, 1), 0.0f);
    position_ = 0;
    setGain(gain);
}

void SchroederAllPass::setGain(float gain) {
    // A gain of magnitude 1 or more would make the feedback path ring for ever or grow.
    gain_.store(std::clamp(gain == gain ? gain : 0.0f, -0.99f, 0.99f), std::memory_order_relaxed);
}

namespace {
// A frame that does not cross the ring's end, with a delay of at least a frame: each slot is read once before it
// is written and no slot written is read again, so with the count known at build time the loop vectorises.
void processFrame(float* __restrict samples, float* __restrict slots, float g) {
    for (int i = 0; i < Frame::kSamples; ++i) {
        const float delayed = slots[i];
        const float w = samples[i] + g * delayed;
        slots[i] = Frame::sanitizeState(w);
        samples[i] = delayed - g * w;
    }
}
}

void SchroederAllPass::process(float* samples, int count) {
    const float g = gain_.load(std::memory_order_relaxed);
    float* buffer = buffer_.data();
    const int length = static_cast<int>(buffer_.size());
    int position = position_;
    if (count == Frame::kSamples && position + Frame::kSamples <= length) {
        processFrame(samples, buffer + position, g);
        position_ = position + Frame::kSamples == length ? 0 : position + Frame::kSamples;
        return;
    }
    for (int i = 0; i < count; ++i) {
        const float delayed = buffer[position];
        const float w = samples[i] + g * delayed;
        buffer[position] = Frame::sanitizeState(w);
        samples[i] = delayed - g * w;
        position = position + 1 == length ? 0 : position + 1;
    }
    position_ = position;
}

void SchroederAllPass::reset() {
    std::fill(buffer_.begin(), buffer_.end(), 0.0f);
    position_ = 0;
}
