#include "audio/dsp/QuadBiquad.h"

#include "audio/dsp/Frame.h"

bool QuadBiquad::setSections(const BiquadCoefficients* coefficients, int count) {
    for (int i = 0; i < kSections; ++i) {
        staged_.section[i] = (coefficients != nullptr && i < count) ? coefficients[i] : BiquadCoefficients::identity();
    }
    return publishStaged();
}

bool QuadBiquad::setSection(int section, const BiquadCoefficients& coefficients) {
    if (section < 0 || section >= kSections) return false;
    staged_.section[section] = coefficients;
    return publishStaged();
}

bool QuadBiquad::publishStaged() {
    staged_.activeSections = 0;
    for (int i = 0; i < kSections; ++i) {
        if (!staged_.section[i].isIdentity()) staged_.activeSections = i + 1;
    }
    if (!handover_.beginWrite()) return false;
    pending_ = staged_;
    handover_.publish();
    return true;
}

void QuadBiquad::takePending() {
    if (!handover_.beginTake()) return;
    // A section that sat idle at the end of the cascade kept old memories; it starts again from rest.
    for (int i = live_.activeSections; i < pending_.activeSections; ++i) state_[i][0] = state_[i][1] = 0.0f;
    live_ = pending_;
    handover_.endTake();
}

void QuadBiquad::runSection(const BiquadCoefficients& c, float* state, float* samples, int count) {
    const float b0 = c.b0, b1 = c.b1, b2 = c.b2, a1 = c.a1, a2 = c.a2;
    float s1 = state[0];
    float s2 = state[1];
    for (int i = 0; i < count; ++i) {
        const float x = samples[i];
        const float y = b0 * x + s1;
        s1 = b1 * x - a1 * y + s2;
        s2 = b2 * x - a2 * y;
        samples[i] = y;
    }
    state[0] = Frame::sanitizeState(s1);
    state[1] = Frame::sanitizeState(s2);
}

void QuadBiquad::processCascade(float* samples, int count) {
    takePending();
    for (int i = 0; i < live_.activeSections; ++i) runSection(live_.section[i], state_[i], samples, count);
}

void QuadBiquad::processParallel(float* const* lanes, int laneCount, int count) {
    takePending();
    if (laneCount > kSections) laneCount = kSections;
    for (int i = 0; i < laneCount; ++i) runSection(live_.section[i], state_[i], lanes[i], count);
}

void QuadBiquad::reset() {
    for (auto& memory : state_) memory[0] = memory[1] = 0.0f;
}
