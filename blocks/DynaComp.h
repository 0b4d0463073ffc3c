#pragma once
// Feed-forward compressor on input 1 (channel 0). A peak envelope with the attack and release times drives a
// hard-knee gain computer: above the threshold the level grows by 1/ratio dB per dB; the makeup level is
// added after. The gain is computed once per frame from the envelope and ramped across the frame, then
// rounded off by a one-pole of one frame's time constant: the corners of a plain ramp every 16 samples would
// put the envelope's ripple around multiples of 3 kHz. Threshold, ratio and makeup glide (SmoothedValue),
// so turning them does not zipper.
#include <atomic>

#include "audio/AudioBlock.h"
#include "audio/dsp/EnvelopeFollower.h"
#include "audio/dsp/Frame.h"
#include "audio/dsp/SmoothedValue.h"
#include "audio/dsp/SwitchFade.h"
#include "blocks/StructuralValue.h"

class Node;
class NodeFloat;
class NodeOnOff;

class DynaComp : public AudioBlock {
public:
    explicit DynaComp(Node* folder);

    NodeOnOff* getOnOff() const { return onOff; }

    bool compile() override;
    void missedFrame() override { running = false; }
    static bool exec(void* block, float (*frame)[Frame::kSamples]);

private:
    NodeOnOff* onOff;
    NodeFloat* threshold;
    NodeFloat* ratio;
    NodeFloat* attack;
    NodeFloat* release;
    NodeFloat* makeup;
    StructuralValue enabled{0};
    SwitchFade enabledFade; // audio side

    SmoothedValue thresholdDb{-20.0f};
    SmoothedValue slope{0.75f}; // 1 - 1 / ratio
    SmoothedValue makeupDb{0.0f};

    // Audio side.
    EnvelopeFollower envelope;
    float gain = 1.0f;         // reached at the end of the last frame's ramp
    float smoothedGain = 1.0f; // the one-pole after the ramp
    bool running = false;
};
