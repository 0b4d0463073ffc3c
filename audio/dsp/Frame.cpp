#include "audio/dsp/Frame.h"

#include <cmath>
#include <cstring>

namespace {
using Vector = float __attribute__((vector_size(4 * Frame::kSamples)));
using Bits = int __attribute__((vector_size(4 * Frame::kSamples)));
constexpr Vector kSteps = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
static_assert(Frame::kSamples == 16);
}

void Frame::ramp(float* values, float from, float to, float step) {
    const Vector moved = step * kSteps;
    const Vector distance = Vector{} + std::fabs(to - from);
    const Vector movedMagnitude = reinterpret_cast<Vector>(reinterpret_cast<Bits>(moved) & 0x7fffffff);
    const Vector result = movedMagnitude >= distance ? Vector{} + to : from + moved;
    std::memcpy(values, &result, sizeof result);
}

void Frame::copy(float* destination, const float* source) {
    for (int i = 0; i < kSamples; ++i) destination[i] = source[i];
}

void Frame::clear(float* samples) {
    for (int i = 0; i < kSamples; ++i) samples[i] = 0.0f;
}

void Frame::gain(float* samples, float gain) {
    for (int i = 0; i < kSamples; ++i) samples[i] *= gain;
}

void Frame::mix(float* destination, const float* source, float gain) {
    for (int i = 0; i < kSamples; ++i) destination[i] += gain * source[i];
}

void Frame::rampGain(float* samples, float from, float to) {
    float gains[kSamples];
    ramp(gains, from, to, rampStep(from, to));
    for (int i = 0; i < kSamples; ++i) samples[i] *= gains[i];
}

void Frame::rampMix(float* destination, const float* source, float from, float to) {
    float gains[kSamples];
    ramp(gains, from, to, rampStep(from, to));
    for (int i = 0; i < kSamples; ++i) destination[i] += gains[i] * source[i];
}

float Frame::peak(const float* samples) {
    float largest = 0.0f;
    for (int i = 0; i < kSamples; ++i) largest = larger(std::fabs(samples[i]), largest);
    return largest;
}

int Frame::sanitize(float* samples) {
    int replaced = 0;
    for (int i = 0; i < kSamples; ++i) {
        if (!std::isfinite(samples[i])) {
            samples[i] = 0.0f;
            ++replaced;
        }
    }
    return replaced;
}
