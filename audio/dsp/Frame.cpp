#include "audio/dsp/Frame.h"

#include <cmath>

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
    const float step = rampStep(from, to);
    for (int i = 0; i < kSamples; ++i) samples[i] *= rampAt(from, to, step, i);
}

void Frame::rampMix(float* destination, const float* source, float from, float to) {
    const float step = rampStep(from, to);
    for (int i = 0; i < kSamples; ++i) destination[i] += rampAt(from, to, step, i) * source[i];
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
