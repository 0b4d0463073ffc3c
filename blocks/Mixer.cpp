#include "blocks/Mixer.h"

#include <cmath>

#include "audio/dsp/Frame.h"

namespace {
const float kPassThrough[Mixer::kGains] = {1.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
}

Mixer::Mixer(Node* folder, float (*aux)[Frame::kSamples]) : AudioBlock("Mixer", folder, exec, kBack), aux(aux) {
    for (int i = 0; i < kGains; ++i) {
        gains[i].store(kPassThrough[i], std::memory_order_relaxed);
        applied[i] = kPassThrough[i];
    }
}

void Mixer::setMixerValue(float g0, float g1, float g2, float g3, float g4, float g5, float g6, float g7) {
    const float values[kGains] = {g0, g1, g2, g3, g4, g5, g6, g7};
    for (float value : values) {
        if (!std::isfinite(value)) return;
    }
    for (int i = 0; i < kGains; ++i) gains[i].store(values[i], std::memory_order_relaxed);
}

bool Mixer::exec(void* block, float (*frame)[Frame::kSamples]) {
    Mixer* mixer = self<Mixer>(block);
    float target[kGains];
    for (int i = 0; i < kGains; ++i) target[i] = mixer->gains[i].load(std::memory_order_relaxed);
    const float* from = mixer->applied;
    float left[Frame::kSamples], right[Frame::kSamples];
    for (int i = 0; i < Frame::kSamples; ++i) {
        // The gain reached on sample i, landing exactly on the target at the frame's last sample.
        const float t = float(i + 1) / float(Frame::kSamples);
        float g[kGains];
        for (int k = 0; k < kGains; ++k) g[k] = from[k] + t * (target[k] - from[k]);
        const float inL = frame[0][i], inR = frame[1][i];
        const float auxL = mixer->aux ? mixer->aux[0][i] : 0.0f;
        const float auxR = mixer->aux ? mixer->aux[1][i] : 0.0f;
        left[i] = g[0] * inL + g[2] * inR + g[4] * auxL + g[5] * auxR;
        right[i] = g[1] * inR + g[3] * inL + g[6] * auxL + g[7] * auxR;
    }
    Frame::copy(frame[0], left);
    Frame::copy(frame[1], right);
    for (int k = 0; k < kGains; ++k) mixer->applied[k] = target[k];
    return false;
}
