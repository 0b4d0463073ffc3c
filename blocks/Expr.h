#pragma once
// The expression block on input 1 (channel 0): a volume with an audio taper and a wah, a resonant band pass
// whose centre the pedal position sweeps from 350 Hz to 2.2 kHz. Both are meant to be driven by the
// expression pedal through a controller link, so both glide (SmoothedValue): the volume gain, the filter's
// frequency warp and its damping follow their targets with a 15 ms time constant.
//
// The wah is a state-variable filter in the trapezoidal (zero-delay feedback) form: its coefficients can
// move every frame without the bursts a direct-form biquad gives under modulation.
#include <atomic>

#include "audio/AudioBlock.h"
#include "audio/dsp/Frame.h"
#include "audio/dsp/SmoothedValue.h"
#include "audio/dsp/SwitchFade.h"
#include "blocks/StructuralValue.h"

class Node;
class NodeFloat;
class NodeOnOff;

class Expr : public AudioBlock {
public:
    static constexpr float kWahLowHz = 350.0f;
    static constexpr float kWahHighHz = 2200.0f;

    explicit Expr(Node* folder);

    NodeOnOff* getOnOff() const { return onOff; }
    NodeOnOff* getWahOnOff() const { return wahOnOff; }

    // Volume gain of a pedal position 0..1: (10^(2p) - 1) / 99, 0 at heel down, -21 dB half way, 1 at toe.
    static float volumeTaper(float position);
    // Wah centre frequency of a pedal position 0..1 (exponential sweep).
    static float wahFrequency(float position);

    bool compile() override;
    void missedFrame() override { running = wahRunning = false; }
    static bool exec(void* block, float (*frame)[Frame::kSamples]);

private:
    void runWah(float* samples);

    NodeOnOff* onOff;
    NodeFloat* volume;
    NodeOnOff* wahOnOff;
    NodeFloat* position;
    NodeFloat* resonance;
    StructuralValue enabled{0};
    SwitchFade enabledFade; // audio side
    SwitchFade wahFade;     // audio side
    StructuralValue wahEnabled{0};

    static constexpr float kGlideSeconds = 0.015f;
    SmoothedValue volumeGain{1.0f, kGlideSeconds};
    SmoothedValue warp{0.0f, kGlideSeconds};    // tan(pi fc / fs) of the wah centre
    SmoothedValue damping{0.2f, kGlideSeconds}; // 1 / Q

    // Audio side.
    float integrator1 = 0.0f, integrator2 = 0.0f;
    bool running = false;
    bool wahRunning = false;
};
