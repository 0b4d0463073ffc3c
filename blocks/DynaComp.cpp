#include "blocks/DynaComp.h"

#include <cmath>

#include "blocks/BlockNodes.h"
#include "audio/dsp/FastMath.h"
#include "audio/dsp/Frame.h"
#include "core/NodeFloat.h"
#include "core/NodeOnOff.h"

namespace {
const float kFloorDb = -120.0f;
// One frame's time constant: 1 - exp(-1 / 16).
const float kGainRounding = 0.060587f;
const float kDbPerOctave = 6.02059991f;   // 20 log10(2)
const float kOctavesPerDb = 0.166096405f; // log2(10) / 20
}

DynaComp::DynaComp(Node* folder) : AudioBlock("DynaComp", folder, exec, kFront) {
    onOff = BlockNodes::onOff(folder);
    threshold = BlockNodes::parameter(folder, "thr", "Threshold", -60.0f, 0.0f, -20.0f, "dB", 0);
    ratio = BlockNodes::parameter(folder, "ratio", "Ratio", 1.0f, 20.0f, 4.0f, ":1", 1);
    attack = BlockNodes::parameter(folder, "att", "Attack", 0.1f, 100.0f, 5.0f, "ms", 1);
    release = BlockNodes::parameter(folder, "rel", "Release", 10.0f, 2000.0f, 150.0f, "ms", 0);
    makeup = BlockNodes::parameter(folder, "level", "Level", 0.0f, 30.0f, 0.0f, "dB", 1);
}

bool DynaComp::compile() {
    enabled.latch(onOff->isOn() ? 1 : 0);
    thresholdDb.setTarget(threshold->getValue());
    slope.setTarget(1.0f - 1.0f / ratio->getValue());
    makeupDb.setTarget(makeup->getValue());
    envelope.setTimes(Frame::kSampleRate, attack->getValue() * 0.001f, release->getValue() * 0.001f);
    return false;
}

bool DynaComp::exec(void* block, float (*frame)[Frame::kSamples]) {
    DynaComp* comp = self<DynaComp>(block);
    if (!comp->enabledFade.begin(comp->enabled.get() != 0, frame, 1)) {
        comp->running = false;
        return false;
    }
    float* guitar = frame[0];
    const bool starting = !comp->running;
    if (starting) {
        comp->running = true;
        comp->envelope.reset();
        comp->thresholdDb.jumpToTarget();
        comp->slope.jumpToTarget();
        comp->makeupDb.jumpToTarget();
    }
    const float level = comp->envelope.process(guitar, nullptr, Frame::kSamples);
    const float levelDb = level > 1e-6f ? kDbPerOctave * FastMath::log2(level) : kFloorDb;
    const float over = levelDb - comp->thresholdDb.nextFrame().to;
    const float slope = comp->slope.nextFrame().to;
    const float makeupDb = comp->makeupDb.nextFrame().to;
    const float reductionDb = over > 0.0f ? over * slope : 0.0f;
    const float target = FastMath::exp2((makeupDb - reductionDb) * kOctavesPerDb);
    if (starting) comp->gain = comp->smoothedGain = target;
    float smoothed = comp->smoothedGain;
    float ramp[Frame::kSamples];
    Frame::ramp(ramp, comp->gain, target, Frame::rampStep(comp->gain, target));
    for (int i = 0; i < Frame::kSamples; ++i) {
        smoothed += kGainRounding * (ramp[i] - smoothed);
        guitar[i] *= smoothed;
    }
    comp->gain = target;
    comp->smoothedGain = Frame::sanitizeState(smoothed);
    comp->enabledFade.end(frame);
    return false;
}
