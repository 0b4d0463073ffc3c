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

namespace {
// A frame's copy with a count known at build time and no overlap: the compiler vectorises it without a check.
void loadFrame(float* __restrict to, const float* __restrict from) {
    for (int i = 0; i < Frame::kSamples; ++i) to[i] = from[i];
}
void storeFrame(float* __restrict to, const float* __restrict from) {
    for (int i = 0; i < Frame::kSamples; ++i) to[i] = Frame::sanitizeState(from[i]);
}
}

void DelayLine::readBlock(float* samples, int count, int delay) const {
    delay = delay < 1 ? 1 : (delay > mask_ ? mask_ : delay);
    const int start = (writePosition_ - delay) & mask_;
    if (count == Frame::kSamples && start + Frame::kSamples <= mask_ + 1) {
        loadFrame(samples, buffer_.data() + start);
        return;
    }
    for (int i = 0; i < count; ++i) samples[i] = buffer_[(start + i) & mask_];
}

void DelayLine::readBlock(float* samples, const float* delays, int count) const {
    const float* buffer = buffer_.data();
    for (int i = 0; i < count; ++i) {
        const float delay = clampDelay(delays[i]);
        const int whole = static_cast<int>(delay);
        const float fraction = delay - static_cast<float>(whole);
        const float newer = buffer[(writePosition_ + i - whole) & mask_];
        const float older = buffer[(writePosition_ + i - whole - 1) & mask_];
        samples[i] = newer + fraction * (older - newer);
    }
}

void DelayLine::writeBlock(const float* samples, int count) {
    if (count == Frame::kSamples && writePosition_ + Frame::kSamples <= mask_ + 1) {
        storeFrame(buffer_.data() + writePosition_, samples);
        writePosition_ = (writePosition_ + Frame::kSamples) & mask_;
        return;
    }
    for (int i = 0; i < count; ++i) write(samples[i]);
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
