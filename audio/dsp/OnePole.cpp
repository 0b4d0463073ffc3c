#include "audio/dsp/OnePole.h"

#include <cmath>
#include <numbers>

#include "audio/dsp/Frame.h"

void OnePole::setCutoff(float sampleRate, float frequency) {
    if (!(sampleRate > 0.0f) || !(frequency > 0.0f)) {
        coefficient_.store(1.0f, std::memory_order_relaxed);
        return;
    }
    const double a = 1.0 - std::exp(-2.0 * std::numbers::pi * frequency / sampleRate);
    coefficient_.store(static_cast<float>(a), std::memory_order_relaxed);
}

void OnePole::setTimeConstant(float sampleRate, float seconds) {
    if (!(sampleRate > 0.0f) || !(seconds > 0.0f)) {
        coefficient_.store(1.0f, std::memory_order_relaxed);
        return;
    }
    const double a = 1.0 - std::exp(-1.0 / (static_cast<double>(seconds) * sampleRate));
    coefficient_.store(static_cast<float>(a), std::memory_order_relaxed);
}

void OnePole::process(float* samples, int count) {
    const float a = coefficient();
    float y = state_;
    for (int i = 0; i < count; ++i) {
        y += a * (samples[i] - y);
        samples[i] = y;
    }
    state_ = Frame::sanitizeState(y);
}

void OnePole::processHighPass(float* samples, int count) {
    const float a = coefficient();
    float y = state_;
    for (int i = 0; i < count; ++i) {
        y += a * (samples[i] - y);
        samples[i] -= y;
    }
    state_ = Frame::sanitizeState(y);
}
