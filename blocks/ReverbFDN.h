#pragma once
// Feedback-delay-network reverb. The mono sum of the input goes through a pre-delay and four Schroeder
// all-pass diffusers into eight delay lines of mutually prime lengths (21 to 61 ms); each line's output is
// damped by a one-pole low pass and scaled so that it loses 60 dB in the decay time, then the eight are
// mixed by an 8 x 8 Hadamard matrix (orthogonal, so the loop itself neither gains nor loses energy) and fed
// back. The left output taps the even lines, the right the odd ones, with alternating signs; the wet sound
// is added to the dry signal at the level set.
#include <atomic>

#include "AudioBlock.h"
#include "DelayLine.h"
#include "SchroederAllPass.h"
#include "StructuralValue.h"

class Node;
class NodeFloat;
class NodeOnOff;

class ReverbFDN : public AudioBlock {
public:
    static constexpr int kLines = 8;
    static constexpr int kDiffusers = 4;
    static constexpr float kLongestPreDelayMs = 200.0f;
    static const int kLineLengths[kLines];

    explicit ReverbFDN(Node* folder);

    NodeOnOff* getOnOff() const { return onOff; }

    bool compile() override;
    static bool exec(void* block, float (*frame)[16]);

private:
    void clear();

    NodeOnOff* onOff;
    NodeFloat* decay;
    NodeFloat* preDelay;
    NodeFloat* damping;
    NodeFloat* level;
    StructuralValue enabled{0};

    std::atomic<float> lineGains[kLines];
    std::atomic<float> dampingCoefficient{1.0f};
    std::atomic<float> preDelaySamples{960.0f};
    std::atomic<float> wetGain{0.3f};

    // Audio side.
    DelayLine preDelayLine;
    SchroederAllPass diffusers[kDiffusers];
    DelayLine lines[kLines];
    float dampingState[kLines] = {};
    bool running = false;
};
