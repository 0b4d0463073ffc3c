#pragma once
// Stereo delay: one line per channel with feedback through a low-pass tone filter, the echoes added to the
// dry signal at the level set. Ping-pong feeds the mono sum into the left line and crosses the feedback, so
// the echoes alternate left, right, left. The time follows the global tempo when a note value is chosen.
//
// A time change glides (DelayGlide: heard as a short pitch bend, not a click).
// The lines are allocated once; when the block is switched on they are not cleared (a megabyte is too much
// work for one frame): samples older than the time since switching on simply read as silence. What enters
// the lines fades in from such a fresh start (also after the tuner held the chain), so the first echo does
// not arrive as a step. Level, feedback and tone glide (SmoothedValue).
#include <atomic>

#include "audio/AudioBlock.h"
#include "audio/dsp/DelayGlide.h"
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

class DelayEngine : public AudioBlock {
public:
    static constexpr float kLongestMs = 2000.0f;

    // tempo may be null (no tempo sync).
    DelayEngine(Node* folder, Tempo* tempo);

    NodeOnOff* getOnOff() const { return onOff; }

    bool compile() override;
    void missedFrame() override { running = false; }
    static bool exec(void* block, float (*frame)[Frame::kSamples]);

private:
    float echo(const DelayLine& line, float delay) const;
    void runSteady(float (*frame)[Frame::kSamples], float delaySamples, const float* feeds, const float* regeneration,
                   const float* tone, const float* wet, bool pingPong);

    Tempo* const tempo;
    NodeOnOff* onOff;
    NodeFloat* time;
    NodeFloat* feedback;
    NodeFloat* level;
    NodeFloat* tone;
    NodeEnum* pingPong;
    NodeEnum* sync;
    StructuralValue enabled{0};
    SwitchFade enabledFade; // audio side

    std::atomic<float> delayTarget{19200.0f}; // samples
    SmoothedValue feedbackGain{0.35f};
    SmoothedValue wetGain{0.4f};
    SmoothedValue toneCoefficient{1.0f};
    std::atomic<bool> crossed{false};

    // Audio side.
    SmoothedValue feed{1.0f}; // what enters the lines, faded in from a fresh start
    DelayLine lines[2];
    DelayGlide delay{19200.0}; // samples, towards delayTarget
    float toneState[2] = {};
    int freshSamples = 0; // samples written since the block was switched on, saturating
    bool running = false;
};
