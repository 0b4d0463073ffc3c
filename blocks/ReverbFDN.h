#pragma once
// Feedback-delay-network reverb. The mono sum of the input goes through a pre-delay and four Schroeder
// all-pass diffusers into eight delay lines of mutually prime lengths (21 to 61 ms); each line's output is
// damped by a one-pole low pass and scaled so that it loses 60 dB in the decay time, then the eight are
// mixed by an 8 x 8 Hadamard matrix (orthogonal, so the loop itself neither gains nor loses energy) and fed
// back. The left output taps the even lines, the right the odd ones, with alternating signs; the wet sound
// is added to the dry signal at the level set.
//
// The tail's energy grows with the decay time, less so the more it is damped, so decays beyond 2 s are
// attenuated to keep the wet level (the energy of the impulse response, at the damping set) within about a
// decibel of a 2 s one (shorter decays are left as they are). Level, decay and damping glide
// (SmoothedValue) and the pre-delay as the delay's time (DelayGlide); what enters the network fades in from a
// fresh start (switched on, or after the tuner held
// the chain), so the first reflections do not arrive as a step.
#include <atomic>

#include "audio/AudioBlock.h"
#include "audio/dsp/DelayGlide.h"
#include "audio/dsp/DelayLine.h"
#include "audio/dsp/Frame.h"
#include "audio/dsp/SchroederAllPass.h"
#include "audio/dsp/SmoothedValue.h"
#include "audio/dsp/SwitchFade.h"
#include "blocks/StructuralValue.h"

class Node;
class NodeFloat;
class NodeOnOff;

class ReverbFDN : public AudioBlock {
public:
    static constexpr int kLines = 8;
    static constexpr int kDiffusers = 4;
    static constexpr float kLongestPreDelayMs = 200.0f;
    static const int kLineLengths[kLines];
    static constexpr int kShortestLine = 1009;
    // Decays up to this keep their full wet level.
    static constexpr float kLoudestDecaySeconds = 2.0f;

    explicit ReverbFDN(Node* folder);

    NodeOnOff* getOnOff() const { return onOff; }

    bool compile() override;
    void missedFrame() override { running = false; }
    static bool exec(void* block, float (*frame)[Frame::kSamples]);

private:
    static double loopEnergy(double seconds, double dampingCoefficient);
    void clear();
    void runLoop(const float* input, float (*frame)[Frame::kSamples]);

    NodeOnOff* onOff;
    NodeFloat* decay;
    NodeFloat* preDelay;
    NodeFloat* damping;
    NodeFloat* level;
    StructuralValue enabled{0};
    SwitchFade enabledFade; // audio side

    SmoothedValue lineGains[kLines];
    SmoothedValue dampingCoefficient{1.0f};
    std::atomic<float> preDelaySamples{960.0f};
    SmoothedValue wetGain{0.3f};

    // Audio side.
    SmoothedValue feed{1.0f}; // what enters the network, faded in from a fresh start
    DelayLine preDelayLine;
    DelayGlide preDelayGlide{960.0}; // samples, towards preDelaySamples
    SchroederAllPass diffusers[kDiffusers];
    DelayLine lines[kLines];
    float dampingState[kLines] = {};
    bool running = false;
};
