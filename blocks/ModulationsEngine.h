#pragma once
// Modulation: one modulated fractional delay line per channel (chorus, flanger, vibrato) or a chain of four
// first-order all-pass stages (phaser), swept by a sine LFO whose rate can follow the global tempo. The pre
// instance sits before the amp and works on input 1 (channel 0); the post instance works on both channels,
// the right one's LFO a quarter cycle ahead for width, and carries the tremolo in its "trem" sub-folder.
//
// The LFO is evaluated at the frame's ends and interpolated across it: at 10 Hz and below that is
// indistinguishable from a per-sample LFO and keeps the trigonometry out of the sample loop.
#include <atomic>

#include "AudioBlock.h"
#include "DelayLine.h"
#include "StructuralValue.h"

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
    static bool exec(void* block, float (*frame)[16]);

private:
    void compileModulation();
    void compileTremolo();
    void runDelay(float* samples, int channel, float lfoFrom, float lfoTo);
    void runPhaser(float* samples, int channel, float lfoFrom, float lfoTo);
    void runTremolo(float (*frame)[16]);

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
    StructuralValue kindLatched{kChorus};
    StructuralValue tremoloEnabled{0};

    // Coefficients.
    std::atomic<float> cyclesPerFrame{0.0f};
    std::atomic<float> centre{0.0f}; // delay in samples, or the phaser's log2 centre frequency
    std::atomic<float> sweep{0.0f};  // delay swing in samples, or the phaser's swing in octaves
    std::atomic<float> wet{0.5f};
    std::atomic<float> regeneration{0.0f};
    std::atomic<float> tremoloCyclesPerFrame{0.0f};
    std::atomic<float> tremoloAmount{0.0f};
    std::atomic<int> tremoloWave{0};

    // Audio side.
    DelayLine lines[2];
    double phase = 0.0;
    float allPass[2][kPhaserStages] = {};
    float phaserOutput[2] = {};
    double tremoloPhase = 0.0;
    float tremoloGain = 1.0f;
    bool running = false;
    bool tremoloRunning = false;
};
