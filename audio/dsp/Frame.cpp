#include "audio/dsp/Frame.h"

#include <cmath>
#include <cstring>

namespace {
// Four lanes: every vector unit of the target and the host compares and selects in that width natively (wider
// generic vectors have their comparisons taken apart into scalars).
using Lanes = float __attribute__((vector_size(16)));
using LaneBits = int __attribute__((vector_size(16)));
constexpr int kLanes = 4;
}

void Frame::ramp(float* values, float from, float to, float step) {
    const float distance = std::fabs(to - from);
    for (int first = 0; first < kSamples; first += kLanes) {
        const Lanes counts = Lanes{1, 2, 3, 4} + static_cast<float>(first);
        const Lanes moved = step * counts;
        const Lanes movedMagnitude = reinterpret_cast<Lanes>(reinterpret_cast<LaneBits>(moved) & 0x7fffffff);
        const Lanes result = movedMagnitude >= distance ? Lanes{} + to : from + moved;
        std::memcpy(values + first, &result, sizeof result);
    }
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
