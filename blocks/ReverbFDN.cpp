#include "blocks/ReverbFDN.h"

#include <cmath>
#include <cstring>
#include <numbers>

#include "audio/AudioProcessor.h"
#include "blocks/BlockNodes.h"
#include "audio/dsp/Frame.h"
#include "core/NodeFloat.h"
#include "core/NodeOnOff.h"

namespace {

const float kRate = Frame::kSampleRate;
const int kDiffuserLengths[ReverbFDN::kDiffusers] = {142, 107, 379, 277};
const float kDiffuserGain = 0.7f;
// Damping sweeps the loop's low pass from open down to 1.5 kHz.
const float kDampedHz = 1500.0f;
const float kOpenHz = 18000.0f;

// One row of the frame's samples and one sample of the eight lines, as vectors: the compiler keeps each in
// registers and runs its arithmetic lane by lane in whatever width the machine has.
using Row = float __attribute__((vector_size(4 * Frame::kSamples)));
using Lanes = float __attribute__((vector_size(4 * ReverbFDN::kLines)));

// In-place 8-point Walsh-Hadamard transform of whole rows, unscaled: times kHadamardScale it is orthogonal and
// its own inverse.
const float kHadamardScale = 0.35355339f; // 1 / sqrt(8)
void hadamard(Row* rows) {
    for (int width = 1; width < ReverbFDN::kLines; width *= 2) {
        for (int start = 0; start < ReverbFDN::kLines; start += 2 * width) {
            for (int i = start; i < start + width; ++i) {
                const Row a = rows[i], b = rows[i + width];
                rows[i] = a + b;
                rows[i + width] = a - b;
            }
        }
    }
}

}

const int ReverbFDN::kLineLengths[kLines] = {kShortestLine, 1193, 1427, 1663, 1973, 2207, 2591, 2917};

ReverbFDN::ReverbFDN(Node* folder) : AudioBlock("ReverbFDN", folder, exec, kBack) {
    onOff = BlockNodes::onOff(folder);
    decay = BlockNodes::parameter(folder, "decay", "Decay", 0.3f, 10.0f, 2.0f, "s", 1);
    preDelay = BlockNodes::parameter(folder, "pre", "Pre-delay", 0.0f, kLongestPreDelayMs, 20.0f, "ms", 0);
    damping = BlockNodes::parameter(folder, "damp", "Damping", 0.0f, 100.0f, 40.0f, "%", 0);
    level = BlockNodes::parameter(folder, "level", "Level", 0.0f, 100.0f, 30.0f, "%", 0);
    preDelayLine.configure(int(kLongestPreDelayMs * 0.001f * kRate) + 2);
    for (int i = 0; i < kDiffusers; ++i) diffusers[i].configure(kDiffuserLengths[i], kDiffuserGain);
    for (int i = 0; i < kLines; ++i) lines[i].configure(kLineLengths[i]);
}

// Energy of the tail's impulse response (the level of its answer to white noise), summed over the lines:
// every pass through line i scales by g_i and by the damping low pass H(w) = a / (1 - (1 - a) e^-jw), the
// first pass included, so a unit impulse leaves c h / (1 - c h) at each frequency, with c = g_i^2 and
// h = |H(w)|^2. Its mean over 0..pi has a closed form, c a^2 / sqrt((1 + b^2 - c a^2)^2 - 4 b^2) with
// b = 1 - a (the mean of 1 / (B - 2b cos w) is 1 / sqrt(B^2 - 4 b^2)); undamped (a = 1) it is c / (1 - c).
// The damped highs die early whatever the decay, so the energy grows more slowly with the decay time the
// more the loop is damped.
double ReverbFDN::loopEnergy(double seconds, double dampingCoefficient) {
    const double a = dampingCoefficient, b = 1.0 - a;
    double energy = 0.0;
    for (int length : kLineLengths) {
        const double c = std::pow(10.0, -6.0 * length / (seconds * kRate));
        const double denominator = 1.0 + b * b - c * a * a;
        energy += c * a * a / std::sqrt(denominator * denominator - 4.0 * b * b);
    }
    return energy;
}

bool ReverbFDN::compile() {
    enabled.latch(onOff->isOn() ? 1 : 0);
    // Each pass through line i lasts its length: -60 dB over the decay time is 10^(-3 length / (T fs)).
    const double seconds = decay->getValue();
    for (int i = 0; i < kLines; ++i) {
        lineGains[i].setTarget(float(std::pow(10.0, -3.0 * kLineLengths[i] / (seconds * kRate))));
    }
    const float amount = damping->getValue() / 100.0f;
    const double cutoff = kOpenHz * std::pow(kDampedHz / kOpenHz, amount);
    const double coefficient = amount <= 0.0f ? 1.0 : 1.0 - std::exp(-2.0 * std::numbers::pi * cutoff / kRate);
    dampingCoefficient.setTarget(float(coefficient));
    preDelaySamples.store(std::fmax(0.0f, preDelay->getValue() * 0.001f * kRate), std::memory_order_relaxed);
    const double compensation =
        seconds > kLoudestDecaySeconds
            ? std::sqrt(loopEnergy(kLoudestDecaySeconds, coefficient) / loopEnergy(seconds, coefficient))
            : 1.0;
    wetGain.setTarget(level->getValue() / 100.0f * float(compensation));
    return false;
}

void ReverbFDN::clear() {
    preDelayLine.reset();
    for (SchroederAllPass& diffuser : diffusers) diffuser.reset();
    for (DelayLine& line : lines) line.reset();
    for (float& state : dampingState) state = 0.0f;
}

// Every line is longer than a frame, so the frame's reads all come before its writes: the loop runs a whole
// frame at a time on local arrays, one row of 16 samples per line, so that every step but the damping's
// recursion works on whole rows.
void ReverbFDN::runLoop(const float* input, float (*frame)[Frame::kSamples]) {
    static_assert(kShortestLine > Frame::kSamples);
    const SmoothedValue::Ramp damp = dampingCoefficient.nextFrame();
    const SmoothedValue::Ramp wetAmount = wetGain.nextFrame();
    Row rows[kLines];
    for (int i = 0; i < kLines; ++i) {
        float delayed[Frame::kSamples];
        lines[i].readBlock(delayed, Frame::kSamples, kLineLengths[i]);
        std::memcpy(&rows[i], delayed, sizeof delayed);
    }
    // The damping low pass, sample by sample but the eight lines side by side.
    float take[Frame::kSamples];
    damp.fill(take);
    Lanes damped;
    for (int i = 0; i < kLines; ++i) damped[i] = dampingState[i];
    for (int n = 0; n < Frame::kSamples; ++n) {
        Lanes delayed;
#pragma GCC unroll 8
        for (int i = 0; i < kLines; ++i) delayed[i] = rows[i][n];
        damped = (1.0f - take[n]) * damped + take[n] * delayed;
#pragma GCC unroll 8
        for (int i = 0; i < kLines; ++i) rows[i][n] = damped[i];
    }
    for (int i = 0; i < kLines; ++i) {
        dampingState[i] = Frame::sanitizeState(damped[i]);
        Row gain;
        float gains[Frame::kSamples];
        lineGains[i].nextFrame().fill(gains);
        std::memcpy(&gain, gains, sizeof gains);
        rows[i] *= gain;
    }

    float wet[Frame::kSamples];
    wetAmount.fill(wet);
    const Row wetLeft = 0.5f * (rows[0] - rows[2] + rows[4] - rows[6]);
    const Row wetRight = 0.5f * (rows[1] - rows[3] + rows[5] - rows[7]);
    for (int n = 0; n < Frame::kSamples; ++n) {
        frame[0][n] += wet[n] * wetLeft[n];
        frame[1][n] += wet[n] * wetRight[n];
    }
    hadamard(rows);
    Row fed;
    std::memcpy(&fed, input, sizeof fed);
    for (int i = 0; i < kLines; ++i) {
        const Row row = kHadamardScale * rows[i] + ((i & 1) ? -fed : fed);
        float samples[Frame::kSamples];
        std::memcpy(samples, &row, sizeof samples);
        lines[i].writeBlock(samples, Frame::kSamples);
    }
}

bool ReverbFDN::exec(void* block, float (*frame)[Frame::kSamples]) {
    ReverbFDN* reverb = self<ReverbFDN>(block);
    if (!reverb->enabledFade.begin(reverb->enabled.get() != 0, frame, 2)) {
        reverb->running = false;
        return false;
    }
    if (!reverb->running) {
        // About 150 kB: small enough to clear within one frame, so an old tail never comes back.
        reverb->running = true;
        reverb->clear();
        for (SmoothedValue& gain : reverb->lineGains) gain.jumpToTarget();
        reverb->dampingCoefficient.jumpToTarget();
        reverb->wetGain.jumpToTarget();
        reverb->feed.jumpTo(0.0f);
        reverb->preDelayGlide.jumpTo(reverb->preDelaySamples.load(std::memory_order_relaxed));
    }
    const SmoothedValue::Ramp feedAmount = reverb->feed.nextFrame();
    const float* const structuralFeed = AudioProcessor::lineFeed();
    const double preDelayTarget = reverb->preDelaySamples.load(std::memory_order_relaxed);
    DelayGlide preDelay = reverb->preDelayGlide;

    // The network's input for the whole frame first: the pre-delay and the diffusers do not depend on the
    // loop.
    float input[Frame::kSamples];
    feedAmount.fill(input);
    for (int n = 0; n < Frame::kSamples; ++n)
        input[n] = input[n] * structuralFeed[n] * 0.5f * (frame[0][n] + frame[1][n]);
    for (int n = 0; n < Frame::kSamples; ++n) {
        // Written first: a read of 1 is the sample just written, so the pre-delay can be zero.
        reverb->preDelayLine.write(input[n]);
        input[n] = reverb->preDelayLine.read(float(preDelay.next(preDelayTarget)) + 1.0f);
    }
    reverb->preDelayGlide = preDelay;
    for (SchroederAllPass& diffuser : reverb->diffusers) diffuser.process(input, Frame::kSamples);
    reverb->runLoop(input, frame);
    reverb->enabledFade.end(frame);
    return false;
}
