#include "blocks/Mixer.h"

#include <cmath>

#include "audio/dsp/Frame.h"
#include "audio/dsp/SmoothedValue.h"

namespace {
const float kPassThrough[Mixer::kGains] = {1.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
}

Mixer::Mixer(Node* folder, float (*aux)[Frame::kSamples]) : AudioBlock("Mixer", folder, exec, kBack), aux(aux) {
    for (int i = 0; i < kGains; ++i) {
        gains[i].setTarget(kPassThrough[i]);
        gains[i].jumpToTarget();
    }
}

void Mixer::setMixerValue(float g0, float g1, float g2, float g3, float g4, float g5, float g6, float g7) {
    const float values[kGains] = {g0, g1, g2, g3, g4, g5, g6, g7};
    for (float value : values) {
        if (!std::isfinite(value)) return;
    }
    for (int i = 0; i < kGains; ++i) gains[i].setTarget(values[i]);
}

namespace {
// The mix of one frame with the gains at each sample given by gainAt(k, i).
template <class GainAt>
void mixFrame(float (*frame)[Frame::kSamples], const float (*aux)[Frame::kSamples], GainAt gainAt) {
    for (int i = 0; i < Frame::kSamples; ++i) {
        const float inL = frame[0][i], inR = frame[1][i];
        const float auxL = aux ? aux[0][i] : 0.0f;
        const float auxR = aux ? aux[1][i] : 0.0f;
        frame[0][i] = gainAt(0, i) * inL + gainAt(2, i) * inR + gainAt(4, i) * auxL + gainAt(5, i) * auxR;
        frame[1][i] = gainAt(1, i) * inR + gainAt(3, i) * inL + gainAt(6, i) * auxL + gainAt(7, i) * auxR;
    }
}
}

bool Mixer::exec(void* block, float (*frame)[Frame::kSamples]) {
    Mixer* mixer = self<Mixer>(block);
    SmoothedValue::Ramp ramps[kGains];
    bool moving = false;
    for (int k = 0; k < kGains; ++k) {
        ramps[k] = mixer->gains[k].nextFrame();
        moving |= !ramps[k].isConstant();
    }
    if (moving) {
        mixFrame(frame, mixer->aux, [&ramps](int k, int i) { return ramps[k].at(i); });
    } else {
        mixFrame(frame, mixer->aux, [&ramps](int k, int) { return ramps[k].to; });
    }
    return false;
}
