#include "audio/dsp/EnvelopeFollower.h"

#include <cmath>

#include "audio/dsp/Frame.h"

namespace {
float retention(float sampleRate, float seconds) {
    if (!(sampleRate > 0.0f) || !(seconds > 0.0f)) return 0.0f;
    return static_cast<float>(std::exp(-1.0 / (static_cast<double>(seconds) * sampleRate)));
}
} // namespace

void EnvelopeFollower::setTimes(float sampleRate, float attackSeconds, float releaseSeconds) {
    attack_.store(retention(sampleRate, attackSeconds), std::memory_order_relaxed);
    release_.store(retention(sampleRate, releaseSeconds), std::memory_order_relaxed);
}

float EnvelopeFollower::process(const float* samples, float* envelope, int count) {
    const float attack = attack_.load(std::memory_order_relaxed);
    const float release = release_.load(std::memory_order_relaxed);
    float current = envelope_;
    for (int i = 0; i < count; ++i) {
        const float level = std::fabs(samples[i]);
        current = level + (level > current ? attack : release) * (current - level);
        if (envelope != nullptr) envelope[i] = current;
    }
    envelope_ = Frame::sanitizeState(current);
    return current;
}
