#include "audio/dsp/DelayLine.h"

#include <algorithm>

void DelayLine::configure(int maxDelaySamples) {
    // One slot more than the longest delay: the interpolated read needs the sample behind it.
    const int longest = std::clamp(maxDelaySamples, 1, kLongestDelay);
    int capacity = 2;
    while (capacity < longest + 1) capacity *= 2;
    buffer_.assign(capacity, 0.0f);
    mask_ = capacity - 1;
    writePosition_ = 0;
}

void DelayLine::reset() {
    std::fill(buffer_.begin(), buffer_.end(), 0.0f);
    writePosition_ = 0;
}

void DelayLine::process(float* samples, int count, float delay) {
    delay = clampDelay(delay);
    const int whole = static_cast<int>(delay);
    const float fraction = delay - static_cast<float>(whole);
    float* buffer = buffer_.data();
    const int mask = mask_;
    int position = writePosition_;
    for (int i = 0; i < count; ++i) {
        const float newer = buffer[(position - whole) & mask];
        const float older = buffer[(position - whole - 1) & mask];
        buffer[position] = Frame::sanitizeState(samples[i]);
        samples[i] = newer + fraction * (older - newer);
        position = (position + 1) & mask;
    }
    writePosition_ = position;
}
