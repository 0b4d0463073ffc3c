#include "audio/dsp/SmoothedValue.h"

#include <cmath>

namespace {
// Closer than this (relative to the target, at least 1) the glide lands on the target: in float it would
// otherwise stall a few units of the last place short, and a settled gain of 1 would never be an exact pass.
const float kSnap = 2e-6f;
}

SmoothedValue::SmoothedValue(float initial, float seconds)
    : target_(initial), frameGlide_(frameFraction(seconds)), current_(initial) {}

float SmoothedValue::frameFraction(float seconds) {
    return seconds > 0.0f
               ? static_cast<float>(1.0 - std::exp(-Frame::kSamples / (double(seconds) * Frame::kSampleRate)))
               : 1.0f;
}

void SmoothedValue::setTarget(float value) {
    if (std::isfinite(value)) target_.store(value, std::memory_order_relaxed);
}

SmoothedValue::Ramp SmoothedValue::glide(float goal) {
    const float from = current_;
    float to = from + frameGlide_ * (goal - from);
    if (std::fabs(goal - to) <= kSnap * Frame::larger(std::fabs(goal), 1.0f)) to = goal;
    current_ = to;
    return {from, to, Frame::rampStep(from, to)};
}
