#pragma once
// Feed-forward compressor on input 1 (channel 0). A peak envelope with the attack and release times drives a
// hard-knee gain computer: above the threshold the level grows by 1/ratio dB per dB; the makeup level is
// added after. The gain is computed once per frame from the envelope and ramped across the frame.
#include <atomic>

#include "AudioBlock.h"
#include "EnvelopeFollower.h"
#include "StructuralValue.h"

class Node;
class NodeFloat;
class NodeOnOff;

class DynaComp : public AudioBlock {
public:
    explicit DynaComp(Node* folder);

    NodeOnOff* getOnOff() const { return onOff; }

    bool compile() override;
    static bool exec(void* block, float (*frame)[16]);

private:
    NodeOnOff* onOff;
    NodeFloat* threshold;
    NodeFloat* ratio;
    NodeFloat* attack;
    NodeFloat* release;
    NodeFloat* makeup;
    StructuralValue enabled{0};

    std::atomic<float> thresholdDb{-20.0f};
    std::atomic<float> slope{0.75f}; // 1 - 1 / ratio
    std::atomic<float> makeupDb{0.0f};

    // Audio side.
    EnvelopeFollower envelope;
    float gain = 1.0f;
    bool running = false;
};
