#include "blocks/NoiseGate.h"

#include <cmath>

#include "blocks/BlockNodes.h"
#include "audio/dsp/Frame.h"
#include "core/NodeFloat.h"
#include "core/NodeOnOff.h"

namespace {

const float kHysteresis = 0.5f; // closes 6 dB below the opening level
const int kHoldFrames = 150;    // 50 ms
// The key's peak envelope falls by this per frame (20 ms time constant): it bridges the gaps between the
// peaks of a low note without holding the gate open long after a note.
const float kKeyRelease = 0.96722f; // exp(-16 / (0.02 * 48000))
// Per-sample step of a linear ramp across the given time: the gain lands exactly on 1 (an untouched pass)
// and on 0.
float rampStep(float milliseconds) { return 1.0f / (milliseconds * 0.001f * Frame::kSampleRate); }

}

NoiseGate::NoiseGate(Node* folder, int channelMask, int keySource, float (*external)[Frame::kSamples], bool persist)
    : AudioBlock("NoiseGate", folder, exec, kFront),
      channelMask(channelMask & 3),
      keySource(keySource),
      external(external) {
    onOff = BlockNodes::onOff(folder);
    threshold = BlockNodes::parameter(folder, "thr", "Threshold", -90.0f, -20.0f, -60.0f, "dB", 0);
    attack = BlockNodes::parameter(folder, "att", "Attack", 0.1f, 20.0f, 1.0f, "ms", 1);
    release = BlockNodes::parameter(folder, "rel", "Release", 5.0f, 1000.0f, 100.0f, "ms", 0);
    if (persist) BlockNodes::store(folder);
}

bool NoiseGate::compile() {
    enabled.latch(onOff->isOn() ? 1 : 0);
    const float open = std::pow(10.0f, threshold->getValue() / 20.0f);
    openLevel.store(open, std::memory_order_relaxed);
    closeLevel.store(open * kHysteresis, std::memory_order_relaxed);
    attackStep.store(rampStep(attack->getValue()), std::memory_order_relaxed);
    releaseStep.store(rampStep(release->getValue()), std::memory_order_relaxed);
    return false;
}

float NoiseGate::keyLevel(float (*frame)[Frame::kSamples]) const {
    switch (keySource) {
    case kKeyChannel1:
        return Frame::peak(frame[1]);
    case kKeyBoth:
        return Frame::larger(Frame::peak(frame[0]), Frame::peak(frame[1]));
    case kKeyExternal:
        return Frame::peak(external ? external[0] : frame[0]);
    default:
        return Frame::peak(frame[0]);
    }
}

bool NoiseGate::exec(void* block, float (*frame)[Frame::kSamples]) {
    NoiseGate* gate = self<NoiseGate>(block);
    if (!gate->enabledFade.begin(gate->enabled.get() != 0, frame, 2)) {
        gate->running = false;
        return false;
    }
    if (!gate->running) {
        gate->running = true;
        gate->envelope = 0.0f;
        gate->gain = 0.0f;
        gate->open = false;
    }
    const float level = gate->keyLevel(frame);
    float envelope = Frame::sanitizeState(Frame::larger(level, gate->envelope * kKeyRelease));
    gate->envelope = envelope;
    if (!gate->open && envelope > gate->openLevel.load(std::memory_order_relaxed)) {
        gate->open = true;
        gate->holdFrames = kHoldFrames;
    } else if (gate->open) {
        if (envelope >= gate->closeLevel.load(std::memory_order_relaxed)) {
            gate->holdFrames = kHoldFrames;
        } else if (--gate->holdFrames <= 0) {
            gate->open = false;
        }
    }

    gate->applyGain(frame);
    gate->enabledFade.end(frame);
    return false;
}

void NoiseGate::applyGain(float (*frame)[Frame::kSamples]) {
    const float target = open ? 1.0f : 0.0f;
    if (gain == target) {
        if (target == 1.0f) return; // open and settled: the frame passes untouched
        for (int channel = 0; channel < 2; ++channel) {
            if (channelMask & (1 << channel)) Frame::clear(frame[channel]);
        }
        return;
    }
    const float step = open ? attackStep.load(std::memory_order_relaxed) : -releaseStep.load(std::memory_order_relaxed);
    const float from = gain;
    for (int i = 0; i < Frame::kSamples; ++i) {
        const float now = Frame::rampAt(from, target, step, i);
        if (channelMask & 1) frame[0][i] *= now;
        if (channelMask & 2) frame[1][i] *= now;
    }
    gain = Frame::rampAt(from, target, step, Frame::kSamples - 1);
}
