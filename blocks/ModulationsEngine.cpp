#include "blocks/ModulationsEngine.h"

#include <cmath>
#include <numbers>

#include "blocks/BlockNodes.h"
#include "audio/dsp/FastMath.h"
#include "audio/dsp/Frame.h"
#include "audio/dsp/Lfo.h"
#include "core/NodeEnum.h"
#include "core/NodeFloat.h"
#include "core/NodeItem.h"
#include "core/NodeOnOff.h"
#include "blocks/Tempo.h"

namespace {

constexpr float kRate = Frame::kSampleRate;
const int kLongestDelay = 2048;                 // samples, above the chorus' 16 ms
constexpr float kPhaserLowOctave = 7.64385619f; // log2(200 Hz)
constexpr float kPhaserOctaves = 3.3f;          // up to about 2 kHz

struct Voicing {
    float centre; // delay in samples, or the phaser's log2 centre frequency
    float sweep;  // swing at full depth: in samples, or the phaser's in octaves
};
// Chorus: a slowly wandering copy ~12 ms late; flanger: a short comb; vibrato: the delayed copy alone.
// The phaser's notches swing over kPhaserOctaves above 200 Hz.
constexpr Voicing kVoicings[4] = {{12.0f * 0.001f * kRate, 4.0f * 0.001f * kRate},
                                  {3.0f * 0.001f * kRate, 2.5f * 0.001f * kRate},
                                  {5.0f * 0.001f * kRate, 3.0f * 0.001f * kRate},
                                  {kPhaserLowOctave + 0.5f * kPhaserOctaves, 0.5f * kPhaserOctaves}};
// Every delayed voicing reads further back than a frame, so a frame's reads all come before its writes.
static_assert([] {
    for (int kind : {ModulationsEngine::kChorus, ModulationsEngine::kFlanger, ModulationsEngine::kVibrato}) {
        if (kVoicings[kind].centre - kVoicings[kind].sweep <= Frame::kSamples + 1) return false;
    }
    return true;
}());

double wrap(double cycles) { return cycles - std::floor(cycles); }

float sine(double cycles) { return Lfo::shapeAt(Lfo::Shape::Sine, wrap(cycles)); }

float tremoloShapeAt(int wave, double cycles) {
    if (wave == 1) return Lfo::shapeAt(Lfo::Shape::Triangle, wrap(cycles));
    const float s = sine(cycles);
    if (wave == 2) return s > 0.25f ? 1.0f : (s < -0.25f ? -1.0f : 4.0f * s); // a square with soft edges
    return s;
}

}

ModulationsEngine::ModulationsEngine(Node* folder, Tempo* tempo, bool post)
    : AudioBlock(post ? "ModulationsPost" : "ModulationsPre", folder, exec, post ? kBack : kFront),
      tempo(tempo),
      channels(post ? 2 : 1) {
    onOff = BlockNodes::onOff(folder);
    kind = BlockNodes::choice(folder, "type", "Type", {"Chorus", "Flanger", "Vibrato", "Phaser"}, "Chorus", true);
    rate = BlockNodes::parameter(folder, "rate", "Rate", 0.05f, 10.0f, 1.0f, "Hz", 2);
    depth = BlockNodes::parameter(folder, "depth", "Depth", 0.0f, 100.0f, 50.0f, "%", 0);
    mix = BlockNodes::parameter(folder, "mix", "Mix", 0.0f, 100.0f, 50.0f, "%", 0);
    feedback = BlockNodes::parameter(folder, "fb", "Feedback", 0.0f, 90.0f, 0.0f, "%", 0);
    Node* sync = BlockNodes::tempoFolder(folder);
    rateSync = Tempo::syncChoice(sync, "mod", "Mod Sync");
    if (post) {
        tremoloSync = Tempo::syncChoice(sync, "trem", "Tremolo Sync");
        Node* tremolo = BlockNodes::subFolder(folder, "trem", "Tremolo");
        tremoloOnOff = BlockNodes::onOff(tremolo);
        tremoloRate = BlockNodes::parameter(tremolo, "rate", "Rate", 0.5f, 15.0f, 5.0f, "Hz", 1);
        tremoloDepth = BlockNodes::parameter(tremolo, "depth", "Depth", 0.0f, 100.0f, 50.0f, "%", 0);
        tremoloShape = BlockNodes::choice(tremolo, "shape", "Shape", {"Sine", "Triangle", "Square"}, "Sine", false);
    }
    for (DelayLine& line : lines) line.configure(kLongestDelay);
}

bool ModulationsEngine::compile() {
    compileModulation();
    if (tremoloOnOff) compileTremolo();
    return false;
}

void ModulationsEngine::compileModulation() {
    enabled.latch(onOff->isOn() ? 1 : 0);
    kindLatched.latch(kind->getIndex() < 0 ? kChorus : kind->getIndex());
    const float noteSeconds = tempo ? tempo->noteSeconds(rateSync->getIndex()) : 0.0f;
    const float hertz = noteSeconds > 0.0f ? 1.0f / noteSeconds : rate->getValue();
    cyclesPerFrame.store(hertz * Frame::kSamples / kRate, std::memory_order_relaxed);
    depthAmount.setTarget(depth->getValue() / 100.0f);
    const int current = kindLatched.get();
    wet.setTarget(current == kVibrato ? 1.0f : mix->getValue() / 100.0f);
    const bool regenerates = current == kFlanger || current == kPhaser;
    regeneration.setTarget(regenerates ? feedback->getValue() / 100.0f : 0.0f);
}

void ModulationsEngine::compileTremolo() {
    tremoloEnabled.latch(tremoloOnOff->isOn() ? 1 : 0);
    const float noteSeconds = tempo ? tempo->noteSeconds(tremoloSync->getIndex()) : 0.0f;
    const float hertz = noteSeconds > 0.0f ? 1.0f / noteSeconds : tremoloRate->getValue();
    tremoloCyclesPerFrame.store(hertz * Frame::kSamples / kRate, std::memory_order_relaxed);
    tremoloAmount.setTarget(tremoloDepth->getValue() / 100.0f);
    tremoloWave.store(tremoloShape->getIndex() < 0 ? 0 : tremoloShape->getIndex(), std::memory_order_relaxed);
}

void ModulationsEngine::runDelay(float* samples, int channel, float lfoFrom, float lfoTo, const Glides& glides) {
    DelayLine& line = lines[channel];
    const Voicing& voicing = kVoicings[runningKind];
    // The frame's ramps first, all lanes at once; the loop through the line is sample by sample.
    float delay[Frame::kSamples], feed[Frame::kSamples], feedback[Frame::kSamples], wet[Frame::kSamples];
    float depth[Frame::kSamples], lfo[Frame::kSamples];
    glides.depth.fill(depth);
    Frame::ramp(lfo, lfoFrom, lfoTo, Frame::rampStep(lfoFrom, lfoTo));
    for (int i = 0; i < Frame::kSamples; ++i) delay[i] = voicing.centre + voicing.sweep * depth[i] * lfo[i];
    glides.feed.fill(feed);
    glides.feedback.fill(feedback);
    glides.wet.fill(wet);
    float delayed[Frame::kSamples], into[Frame::kSamples];
    line.readBlock(delayed, delay, Frame::kSamples);
    for (int i = 0; i < Frame::kSamples; ++i) into[i] = feed[i] * samples[i] + feedback[i] * delayed[i];
    line.writeBlock(into, Frame::kSamples);
    for (int i = 0; i < Frame::kSamples; ++i) samples[i] += wet[i] * (delayed[i] - samples[i]);
}

// First-order all-pass stages H(z) = (a + z^-1) / (1 + a z^-1) with a = (t - 1) / (t + 1), t = tan(pi f / fs):
// each turns the phase by 180 degrees around f; with the dry signal the four stages give two moving notches.
void ModulationsEngine::runPhaser(float* samples, int channel, float lfoFrom, float lfoTo, const Glides& glides) {
    const Voicing& voicing = kVoicings[kPhaser];
    auto coefficient = [&](float lfo, float depthNow) {
        const float octaves = voicing.centre + voicing.sweep * depthNow * lfo;
        const float warped = FastMath::tanSmall(float(std::numbers::pi) / kRate * FastMath::exp2(octaves));
        return (warped - 1.0f) / (warped + 1.0f);
    };
    const float aFrom = coefficient(lfoFrom, glides.depth.from), aTo = coefficient(lfoTo, glides.depth.to);
    float* state = allPass[channel];
    float last = phaserOutput[channel];
    float coefficients[Frame::kSamples], feed[Frame::kSamples], feedback[Frame::kSamples], wet[Frame::kSamples];
    Frame::ramp(coefficients, aFrom, aTo, Frame::rampStep(aFrom, aTo));
    glides.feed.fill(feed);
    glides.feedback.fill(feedback);
    glides.wet.fill(wet);
    for (int i = 0; i < Frame::kSamples; ++i) {
        const float a = coefficients[i];
        const float dry = samples[i];
        float signal = feed[i] * dry + feedback[i] * last;
        for (int stage = 0; stage < kPhaserStages; ++stage) {
            const float out = a * signal + state[stage];
            state[stage] = signal - a * out;
            signal = out;
        }
        last = signal;
        samples[i] = dry + wet[i] * (signal - dry);
    }
    for (int stage = 0; stage < kPhaserStages; ++stage) state[stage] = Frame::sanitizeState(state[stage]);
    phaserOutput[channel] = Frame::sanitizeState(last);
}

void ModulationsEngine::runTremolo(float (*frame)[Frame::kSamples]) {
    const int wave = tremoloWave.load(std::memory_order_relaxed);
    if (!tremoloRunning) {
        tremoloRunning = true;
        tremoloPhase = 0.0;
        tremoloGain = 1.0f;
        tremoloAmount.jumpToTarget();
    }
    tremoloPhase = wrap(tremoloPhase + tremoloCyclesPerFrame.load(std::memory_order_relaxed));
    const float amount = tremoloAmount.nextFrame().to;
    // The gain swings between 1 at the top of the wave and 1 - depth at its bottom.
    const float gain = 1.0f - amount * 0.5f * (1.0f - tremoloShapeAt(wave, tremoloPhase));
    for (int channel = 0; channel < channels; ++channel) Frame::rampGain(frame[channel], tremoloGain, gain);
    tremoloGain = gain;
}

void ModulationsEngine::missedFrame() {
    running = false;
    tremoloRunning = false;
}

void ModulationsEngine::start(int kind) {
    running = true;
    runningKind = kind;
    for (int channel = 0; channel < 2; ++channel) {
        lines[channel].reset();
        phaserOutput[channel] = 0.0f;
        for (float& state : allPass[channel]) state = 0.0f;
    }
    phase = 0.0;
    depthAmount.jumpToTarget();
    wet.jumpToTarget();
    regeneration.jumpToTarget();
    feed.jumpTo(0.0f);
}

void ModulationsEngine::runModulation(float (*frame)[Frame::kSamples]) {
    const double from = phase;
    const double to = wrap(from + cyclesPerFrame.load(std::memory_order_relaxed));
    phase = to;
    const Glides glides = {wet.nextFrame(), depthAmount.nextFrame(), regeneration.nextFrame(), feed.nextFrame()};
    for (int channel = 0; channel < channels; ++channel) {
        // The right channel's LFO runs a quarter cycle ahead.
        const double offset = 0.25 * channel;
        const float lfoFrom = sine(from + offset), lfoTo = sine(to + offset);
        if (runningKind == kPhaser) {
            runPhaser(frame[channel], channel, lfoFrom, lfoTo, glides);
        } else {
            runDelay(frame[channel], channel, lfoFrom, lfoTo, glides);
        }
    }
}

bool ModulationsEngine::exec(void* block, float (*frame)[Frame::kSamples]) {
    ModulationsEngine* engine = self<ModulationsEngine>(block);
    if (engine->enabledFade.begin(engine->enabled.get() != 0, frame, engine->channels)) {
        // A new kind is latched while the output is silent; its voicing starts from cleared state too.
        const int kind = engine->kindLatched.get();
        if (!engine->running || kind != engine->runningKind) engine->start(kind);
        engine->runModulation(frame);
        engine->enabledFade.end(frame);
    } else {
        engine->running = false;
    }
    const bool tremoloOn = engine->tremoloOnOff && engine->tremoloEnabled.get();
    if (engine->tremoloFade.begin(tremoloOn, frame, engine->channels)) {
        engine->runTremolo(frame);
        engine->tremoloFade.end(frame);
    } else {
        engine->tremoloRunning = false;
    }
    return false;
}
