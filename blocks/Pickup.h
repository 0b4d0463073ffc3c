#pragma once
// Pickup simulator on input 1 (channel 0): an equaliser that moves one kind of pickup toward another's
// response, chosen from a small table, with an output level. The input-1 gain (setExtGain) is applied
// before it, also while the simulator is off; it and the simulator's level glide (SmoothedValue).
#include "audio/AudioBlock.h"
#include "audio/dsp/Frame.h"
#include "audio/dsp/QuadBiquad.h"
#include "audio/dsp/SmoothedValue.h"
#include "audio/dsp/SwitchFade.h"
#include "blocks/StructuralValue.h"

class Node;
class NodeEnum;
class NodeFloat;
class NodeOnOff;

class Pickup : public AudioBlock {
public:
    // persist stores the settings (they live outside the presets).
    Pickup(Node* folder, bool persist);

    NodeOnOff* getOnOff() const { return onOff; }
    // Linear gain of input 1, glided to. Any thread.
    void setExtGain(float gain);

    bool compile() override;
    static bool exec(void* block, float (*frame)[Frame::kSamples]);

private:
    NodeOnOff* onOff;
    NodeEnum* model;
    NodeFloat* level;
    StructuralValue enabled{0};
    SwitchFade enabledFade; // audio side
    StructuralValue modelLatched{-1};
    bool sectionsPending = false; // compile thread
    SmoothedValue extGain{1.0f};
    SmoothedValue levelGain{1.0f};

    // Audio side.
    QuadBiquad filter;
    bool running = false;
};
