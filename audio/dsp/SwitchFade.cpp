#include "audio/dsp/SwitchFade.h"

#include <cmath>
#include <numbers>

namespace {
// The raised cosine at every sample of the glide, computed once: the audio side only reads it. Per sample,
// not per frame edge, so the glide has no corners at the frame rate (their harmonics would reach 6 kHz).
constexpr int kSteps = SwitchFade::kFrames * Frame::kSamples;
struct Shape {
    float gain[kSteps + 1];
    Shape() {
        for (int i = 0; i <= kSteps; ++i) gain[i] = float(0.5 - 0.5 * std::cos(std::numbers::pi * double(i) / kSteps));
    }
};
const Shape kShape;
}

float SwitchFade::gainAt(int sample) const { return kShape.gain[startStep + direction * (sample + 1)]; }

bool SwitchFade::begin(bool on, const float (*frame)[Frame::kSamples], int channels) {
    const int before = position;
    // A glide in starts only after a frame in which the effect did not run, so the block starts it afresh.
    if (on && position < kFrames && (position > 0 || !ran)) ++position;
    if (!on && position > 0) --position;
    ran = before > 0 || position > 0;
    direction = position - before;
    startStep = before * Frame::kSamples;
    bypassChannels = before == position ? 0 : channels;
    for (int channel = 0; channel < bypassChannels; ++channel) Frame::copy(bypass[channel], frame[channel]);
    return ran;
}

void SwitchFade::scale(float* samples) const {
    if (bypassChannels == 0) return;
    for (int i = 0; i < Frame::kSamples; ++i) samples[i] *= gainAt(i);
}

void SwitchFade::end(float (*frame)[Frame::kSamples]) const {
    for (int channel = 0; channel < bypassChannels; ++channel) {
        float* samples = frame[channel];
        const float* dry = bypass[channel];
        for (int i = 0; i < Frame::kSamples; ++i) samples[i] = dry[i] + gainAt(i) * (samples[i] - dry[i]);
    }
}
