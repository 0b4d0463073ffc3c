#pragma once
// Modulation: one modulated fractional delay line per channel (chorus, flanger, vibrato) or a chain of four
// first-order all-pass stages (phaser), swept by a sine LFO whose rate can follow the global tempo. The pre
// instance sits before the amp and works on input 1 (channel 0); the post instance works on both channels,
// the right one's LFO a quarter cycle ahead for width, and carries the tremolo in its "trem" sub-folder.
//
// The LFO is evaluated at the frame's ends and interpolated across it: at 10 Hz and below that is
// indistinguishable from a per-sample LFO and keeps the trigonometry out of the sample loop.
//
// Mix, depth, feedback and the tremolo depth glide (SmoothedValue). The block starts from cleared state when
// it is switched on, when its kind changes and after the tuner held the chain; what enters its delay line or
// all-pass chain then fades in, so the first delayed copy does not arrive as a step.
#include <atomic>

#include "audio/AudioBlock.h"
#include "audio/dsp/DelayLine.h"
#include "audio/dsp/Frame.h"
#include "audio/dsp/SmoothedValue.h"
#include "audio/dsp/SwitchFade.h"
#include "blocks/StructuralValue.h"

class Node;
class NodeEnum;
class NodeFloat;
class NodeOnOff;
class Tempo;

class ModulationsEngine : public AudioBlock {
public:
    enum Kind { kChorus = 0, kFlanger = 1, kVibrato = 2, kPhaser = 3 };
    static constexpr int kPhaserStages = 4;

    // tempo may be null (no tempo sync). post: back of the ring, stereo, with the tremolo.
    ModulationsEngine(Node* folder, Tempo* tempo, bool post = true);

    NodeOnOff* getOnOff() const { return onOff; }
    // Null for the pre instance.
    NodeOnOff* getTremoloOnOff() const { return tremoloOnOff; }

    bool compile() override;
    void missedFrame() override;
    static bool exec(void* block, float (*frame)[Frame::kSamples]);

private:
    // One frame's glides, shared by both channels.
    struct Glides {
        SmoothedValue::Ramp wet, depth, feedback, feed;
    };

    void compileModulation();
    void compileTremolo();
    void start(int kind);
    void runModulation(float (*frame)[Frame::kSamples]);
    void runDelay(float* samples, int channel, float lfoFrom, float lfoTo, const Glides& glides);
    void runPhaser(float* samples, int channel, float lfoFrom, float lfoTo, const Glides& glides);
    void runTremolo(float (*frame)[Frame::kSamples]);

    Tempo* const tempo;
    const int channels;
    NodeOnOff* onOff;
    NodeEnum* kind;
    NodeFloat* rate;
    NodeFloat* depth;
    NodeFloat* mix;
    NodeFloat* feedback;
    NodeEnum* rateSync;
    NodeOnOff* tremoloOnOff = nullptr;
    NodeFloat* tremoloRate = nullptr;
    NodeFloat* tremoloDepth = nullptr;
    NodeEnum* tremoloShape = nullptr;
    NodeEnum* tremoloSync = nullptr;
    StructuralValue enabled{0};
    SwitchFade enabledFade; // audio side
    SwitchFade tremoloFade; // audio side
    StructuralValue kindLatched{kChorus};
    StructuralValue tremoloEnabled{0};

    // Coefficients.
    std::atomic<float> cyclesPerFrame{0.0f};
    SmoothedValue depthAmount{0.5f}; // 0..1 of the kind's full swing
    SmoothedValue wet{0.5f};
    SmoothedValue regeneration{0.0f};
    std::atomic<float> tremoloCyclesPerFrame{0.0f};
    SmoothedValue tremoloAmount{0.0f};
    std::atomic<int> tremoloWave{0};

    // Audio side.
    SmoothedValue feed{1.0f}; // what enters the line or the all-pass chain, faded in from a fresh start
    int runningKind = kChorus;
    DelayLine lines[2];
    double phase = 0.0;
    float allPass[2][kPhaserStages] = {};
    float phaserOutput[2] = {};
    double tremoloPhase = 0.0;
    float tremoloGain = 1.0f;
    bool running = false;
    bool tremoloRunning = false;
};
