#include "blocks/Expr.h"

#include <cmath>
#include <numbers>

#include "blocks/BlockNodes.h"
#include "audio/dsp/Frame.h"
#include "core/NodeFloat.h"
#include "core/NodeItem.h"
#include "core/NodeOnOff.h"

Expr::Expr(Node* folder) : AudioBlock("Expr", folder, exec, kFront) {
    onOff = BlockNodes::onOff(folder);
    volume = BlockNodes::parameter(folder, "vol", "Volume", 0.0f, 100.0f, 100.0f, "%", 0);
    Node* wah = BlockNodes::subFolder(folder, "wah", "Wah");
    wahOnOff = BlockNodes::onOff(wah);
    position = BlockNodes::parameter(wah, "pos", "Position", 0.0f, 100.0f, 50.0f, "%", 0);
    resonance = BlockNodes::parameter(wah, "q", "Resonance", 1.0f, 10.0f, 5.0f, "", 1);
}

float Expr::volumeTaper(float position) {
    if (!(position > 0.0f)) return 0.0f;
    if (position >= 1.0f) return 1.0f;
    return (std::pow(10.0f, 2.0f * position) - 1.0f) / 99.0f;
}

float Expr::wahFrequency(float position) {
    position = position < 0.0f ? 0.0f : (position > 1.0f ? 1.0f : position);
    return kWahLowHz * std::pow(kWahHighHz / kWahLowHz, position);
}

bool Expr::compile() {
    enabled.latch(onOff->isOn() ? 1 : 0);
    wahEnabled.latch(wahOnOff->isOn() ? 1 : 0);
    volumeGain.setTarget(volumeTaper(volume->getValue() / 100.0f));
    const double centre = wahFrequency(position->getValue() / 100.0f);
    warp.setTarget(float(std::tan(std::numbers::pi * centre / Frame::kSampleRate)));
    damping.setTarget(1.0f / resonance->getValue());
    return false;
}

// Band-pass output of the trapezoidal state-variable filter, scaled by the damping k so the centre passes at
// unity: v1 = (ic1 + g (x - ic2)) / (1 + g (g + k)), v2 = ic2 + g v1, ic1 = 2 v1 - ic1, ic2 = 2 v2 - ic2.
void Expr::runWah(float* samples) {
    const SmoothedValue::Ramp warpRamp = warp.nextFrame();
    const SmoothedValue::Ramp dampingRamp = damping.nextFrame();
    // The coefficients of the whole frame first, so the recursion waits on no division but its own.
    float warps[Frame::kSamples], dampings[Frame::kSamples], normalisers[Frame::kSamples];
    warpRamp.fill(warps);
    dampingRamp.fill(dampings);
    for (int i = 0; i < Frame::kSamples; ++i) normalisers[i] = 1.0f / (1.0f + warps[i] * (warps[i] + dampings[i]));
    float ic1 = integrator1, ic2 = integrator2;
    for (int i = 0; i < Frame::kSamples; ++i) {
        const float g = warps[i];
        const float k = dampings[i];
        const float v1 = (ic1 + g * (samples[i] - ic2)) * normalisers[i];
        const float v2 = ic2 + g * v1;
        ic1 = 2.0f * v1 - ic1;
        ic2 = 2.0f * v2 - ic2;
        samples[i] = k * v1;
    }
    integrator1 = Frame::sanitizeState(ic1);
    integrator2 = Frame::sanitizeState(ic2);
}

bool Expr::exec(void* block, float (*frame)[Frame::kSamples]) {
    Expr* expr = self<Expr>(block);
    if (!expr->enabledFade.begin(expr->enabled.get() != 0, frame, 1)) {
        expr->running = expr->wahRunning = false;
        return false;
    }
    float* guitar = frame[0];
    if (!expr->running) {
        expr->running = true;
        expr->volumeGain.jumpToTarget();
    }
    if (expr->wahFade.begin(expr->wahEnabled.get() != 0, frame, 1)) {
        if (!expr->wahRunning) {
            expr->wahRunning = true;
            expr->integrator1 = expr->integrator2 = 0.0f;
            expr->warp.jumpToTarget();
            expr->damping.jumpToTarget();
        }
        expr->runWah(guitar);
        expr->wahFade.end(frame);
    } else {
        expr->wahRunning = false;
    }
    const SmoothedValue::Ramp gain = expr->volumeGain.nextFrame();
    if (gain.from != 1.0f || gain.to != 1.0f) Frame::rampGain(guitar, gain.from, gain.to);
    expr->enabledFade.end(frame);
    return false;
}
