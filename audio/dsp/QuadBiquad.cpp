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
    if (glide_ < 1.0f) {
        target_ = pending_;
        gliding_ = true;
        // Sections gliding to identity run on until they reach it.
        if (target_.activeSections > live_.activeSections) live_.activeSections = target_.activeSections;
    } else {
        live_ = pending_;
    }
    handover_.endTake();
}

namespace {
// Closer than this every coefficient lands on its target, so a glide ends and identity is an exact pass.
const float kGlideSnap = 1e-6f;

float approach(float& value, float target, float fraction) {
    value += fraction * (target - value);
    const float left = target - value;
    return left < 0.0f ? -left : left;
}
}

void QuadBiquad::glideStep(float* samples, int count) {
    float furthest = 0.0f;
    for (int i = 0; i < live_.activeSections; ++i) {
        BiquadCoefficients& c = live_.section[i];
        const BiquadCoefficients from = c;
        const BiquadCoefficients& t = target_.section[i];
        const float left[5] = {approach(c.b0, t.b0, glide_), approach(c.b1, t.b1, glide_), approach(c.b2, t.b2, glide_),
                               approach(c.a1, t.a1, glide_), approach(c.a2, t.a2, glide_)};
        for (float distance : left) furthest = Frame::larger(distance, furthest);
        runGlidingSection(from, c, state_[i], samples, count);
    }
    if (furthest > kGlideSnap) return;
    live_ = target_;
    gliding_ = false;
}

// A step of the coefficients between two samples would be a step in the memories' scale; the coefficients
// move linearly across the call instead, from those of the call before to the new ones.
void QuadBiquad::runGlidingSection(const BiquadCoefficients& from, const BiquadCoefficients& to, float* state,
                                   float* samples, int count) {
    const float share = 1.0f / float(count);
    const float db0 = (to.b0 - from.b0) * share, db1 = (to.b1 - from.b1) * share, db2 = (to.b2 - from.b2) * share;
    const float da1 = (to.a1 - from.a1) * share, da2 = (to.a2 - from.a2) * share;
    float s1 = state[0];
    float s2 = state[1];
    for (int i = 0; i < count; ++i) {
        const float moved = float(i + 1);
        const float x = samples[i];
        const float y = (from.b0 + moved * db0) * x + s1;
        s1 = (from.b1 + moved * db1) * x - (from.a1 + moved * da1) * y + s2;
        s2 = (from.b2 + moved * db2) * x - (from.a2 + moved * da2) * y;
        samples[i] = y;
    }
    state[0] = Frame::sanitizeState(s1);
    state[1] = Frame::sanitizeState(s2);
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
    if (gliding_) {
        glideStep(samples, count);
        return;
    }
    for (int i = 0; i < live_.activeSections; ++i) runSection(live_.section[i], state_[i], samples, count);
}

void QuadBiquad::processParallel(float* const* lanes, int laneCount, int count) {
    takePending();
    if (laneCount > kSections) laneCount = kSections;
    for (int i = 0; i < laneCount; ++i) runSection(live_.section[i], state_[i], lanes[i], count);
}

void QuadBiquad::reset() {
    // A filter that starts from rest has nothing to glide from.
    takePending();
    if (gliding_) {
        live_ = target_;
        gliding_ = false;
    }
    for (auto& memory : state_) memory[0] = memory[1] = 0.0f;
}
