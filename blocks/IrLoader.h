#pragma once
// Cabinet impulse responses. The block owns a slot list of WAV files (48 kHz, 16/24/32-bit PCM or float,
// mono or stereo, uploaded gzip-compressed) and a selector naming the slot played. The compile thread
// decodes the selected slot when the selection or the slot's contents change, trims it to 2048 taps with a
// short fade-out, normalises it to unit energy (a stereo pair jointly, keeping its balance) and crossfades
// to it, so a change never clicks. A slot that is not such a file
// is refused with one log line and the response playing stays in place; an upload of such a file is refused
// before it replaces a slot.
//
// The convolution (QuadFIR) keeps two banks and switches between frames: the audio side never reads a
// response that is being written or freed. A new response does not replace the one playing at once, which
// would put a step into everything after the cabinet: it goes into a second convolution, which is fed the
// input for a whole response length (so its history is full), and the output then crossfades from the old
// convolution to the new one; the two swap roles and the next change may follow.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/AudioBlock.h"
#include "audio/dsp/Frame.h"
#include "audio/dsp/QuadFIR.h"
#include "audio/dsp/SmoothedValue.h"
#include "audio/dsp/SwitchFade.h"
#include "blocks/StructuralValue.h"

class Node;
class NodeFloat;
class NodeList;
class NodeOnOff;
class NodeParList;

class IrLoader : public AudioBlock {
public:
    static constexpr int kTaps = 2048;
    static constexpr int kFadeTaps = 128;
    static constexpr int kSlotCount = 16;
    static constexpr int kSlotSize = 1 << 20; // 5 s of 48 kHz mono float, 2.7 s of stereo
    static constexpr int kChunkSize = 4096;
    static constexpr const char* kItemType = "wav_48000";
    // Frames a new response is fed the input before it is heard (a whole response), and the frames after which
    // it is heard alone.
    static constexpr int kWarmFrames = kTaps / Frame::kSamples;
    static constexpr int kChangeFrames = kWarmFrames + SwitchFade::kFrames;

    // The list is created under root with the key listKey.
    IrLoader(Node* folder, Node* root, const char* listKey);

    NodeOnOff* getOnOff() const { return onOff; }
    NodeList* getList() const { return list; }
    NodeParList* getSelector() const { return selector; }

    // Decodes a WAV image into the responses to play (one per channel, kTaps at most, trimmed and
    // normalised). False, with the reason in `error`, for anything else.
    static bool prepare(const std::vector<uint8_t>& wav, std::vector<std::vector<float>>& responses,
                        std::string& error);
    // The list's content check: a whole WAV file (its data chunk as long as its header says) that prepare
    // turns into a response. A truncated file would otherwise play as the few samples that arrived.
    static bool check(const std::vector<uint8_t>& wav, std::string& error);

    bool compile() override;
    void missedFrame() override { running = false; }
    static bool exec(void* block, float (*frame)[Frame::kSamples]);

private:
    void readSelection();
    void swapResponses();
    // Audio side: one frame of a change in progress, through both convolutions; the new one takes over
    // at its end.
    void processChange(float (*frame)[Frame::kSamples]);
    void takeIncoming();

    NodeOnOff* onOff;
    NodeList* list;
    NodeParList* selector;
    NodeFloat* level;
    StructuralValue enabled{0};
    SwitchFade enabledFade;        // audio side
    SmoothedValue levelGain{1.0f}; // glides, so turning the level does not zipper

    // Compile side.
    int seenIndex = -1; // nothing selected: the convolution starts as a plain pass
    uint32_t seenVersion = 0;
    std::vector<std::vector<float>> prepared;
    bool swapWanted = false;

    // The playing convolution and the spare one. The compile side writes responses into the spare only
    // while no change is in progress (changing false, after the audio side published the swap of roles).
    QuadFIR convolutions[2];
    std::atomic<bool> changing{false};
    int playingIndex = 0; // written by the audio side only while `changing` is true

    // Audio side.
    int changeFrame = -1; // frames into the change in progress; -1 while none runs
    SwitchFade changeFade;
    bool running = false;
};
