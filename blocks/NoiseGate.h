#pragma once
// Noise gate. A key signal's peak level opens the gate above the threshold and closes it once it has stayed
// 6 dB below for the hold time, so a note dying around the threshold does not chatter; the gain ramps
// linearly across the attack time when opening and the release time when closing, on the channels of the
// mask.
#include <atomic>

#include "audio/AudioBlock.h"
#include "audio/dsp/Frame.h"
#include "audio/dsp/SwitchFade.h"
#include "blocks/StructuralValue.h"

class Node;
class NodeFloat;
class NodeOnOff;

class NoiseGate : public AudioBlock {
public:
    // Key sources.
    static constexpr int kKeyChannel0 = 0; // channel 0 of the frame
    static constexpr int kKeyChannel1 = 1; // channel 1 of the frame
    static constexpr int kKeyBoth = 2;     // the louder channel of the frame
    static constexpr int kKeyExternal = 3; // channel 0 of the external frame (the raw input)

    // channelMask: bit 0 gates channel 0, bit 1 channel 1. external: the frame for kKeyExternal (null falls
    // back to channel 0 of the frame). persist false leaves the nodes unstored.
    NoiseGate(Node* folder, int channelMask, int keySource, float (*external)[Frame::kSamples], bool persist);

    NodeOnOff* getOnOff() const { return onOff; }

    bool compile() override;
    void missedFrame() override { running = false; }
    static bool exec(void* block, float (*frame)[Frame::kSamples]);

private:
    float keyLevel(float (*frame)[Frame::kSamples]) const;
    // The gate's gain towards open or closed across the frame, on the channels it acts on.
    void applyGain(float (*frame)[Frame::kSamples]);

    const int channelMask;
    const int keySource;
    float (*const external)[Frame::kSamples];
    NodeOnOff* onOff;
    NodeFloat* threshold;
    NodeFloat* attack;
    NodeFloat* release;
    StructuralValue enabled{0};
    SwitchFade enabledFade; // audio side

    std::atomic<float> openLevel{0.001f};
    std::atomic<float> closeLevel{0.0005f};
    std::atomic<float> attackStep{1.0f};
    std::atomic<float> releaseStep{1.0f};

    // Audio side.
    float envelope = 0.0f;
    float gain = 0.0f;
    bool open = false;
    int holdFrames = 0;
    bool running = false;
};
