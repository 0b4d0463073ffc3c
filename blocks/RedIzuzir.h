#pragma once
// The neural amp-model player: one guitar channel through a neural amp model chosen from a list of model
// slots, with an input drive, the model's own level adjustments and a three-band tone stack after the model.
//
// The model runs on the block's own worker thread ("NAM player", real-time priority 59, on a core of its
// own), so the two players of the chain and the rest of the chain share the frame time on separate cores.
// The audio thread's process function only hands frames over: it gives the worker the frame's channel 0,
// takes the result the worker produced for the previous frame and wakes the worker with a semaphore post.
// It never locks; the price is one frame of latency per player. A worker not yet woken when the next frame
// comes (a late wake-up, or frames that come in a burst after a stall) has its block run on the audio thread
// instead, which costs the audio thread one model block but no frame. A worker inside its block is waited
// for, within a quarter of the frame in real time and to its end in an offline render (so a render is the
// same every time); one that stays longer costs a silent frame, that frame's input is dropped, and the frame
// is counted in the timing statistics ("<list key> given-up frames"), which log the count every 10 s.
// The result goes to both channels, so the stages after it get the guitar on both sides.
//
// Model slots: every filled slot of the list holds a model file's JSON text. The models are built when the
// player is built (slot by slot, in slot order) and, afterwards, on the compile thread whenever a slot's
// version changes; the audio side never parses or allocates. A slot whose text is empty, or whose file cannot
// be read as a model, holds no model, and playing it passes the guitar through unchanged. A new model for the
// slot being played is built while the old one keeps playing and swapped in while the output is faded out, so
// an upload costs one fade and no more. A change of the selection from one model to another needs no fade:
// the worker runs the new model beside the old one for the new one's receptive field, then crossfades their
// outputs over 10 ms.
//
// Every built model is checked before it is taken (ModelBudget): a model that would take more than its share
// of the frame on the device, or whose memory would take the models of both players past their common budget,
// is refused with one log line. Its file stays stored; at start-up its slot holds no model, and after an
// upload the slot's model before it plays on.
//
// A model whose output goes non-finite is settled again (Prewarm, up to tens of milliseconds for an LSTM) on
// the compile thread, never on the worker or the audio thread: the worker marks the slot and plays silence for
// it until the next compile pass has prewarmed the model.
//
// Hand-over of models between the compile thread and the worker, per slot: `dirty` (the compile thread is
// about to replace the slot's model) and `loaded` (the slot's model, or its lack of one, is ready to play).
// The worker plays only the selected slot, only while it is loaded and not dirty, and publishes the index of
// the slot it is inside during each block (`playing`). The compile thread marks a slot dirty before it
// replaces its model and replaces it only once the worker is not inside that slot; both sides use
// sequentially consistent operations on `dirty` and `playing`, so either the worker sees the slot dirty or
// the compile thread sees the worker inside it.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "audio/AudioBlock.h"
#include "audio/dsp/Frame.h"
#include "neural/ModelBudget.h"
#include "audio/dsp/QuadBiquad.h"
#include "blocks/Semaphore.h"
#include "porting/LogLimit.h"
#include "audio/dsp/SmoothedValue.h"
#include "audio/dsp/SwitchFade.h"
#include "blocks/StructuralValue.h"

class Node;
class NodeFloat;
class NodeList;
class NodeOnOff;
class NodeParList;
class NodePreset;

namespace RuveroRidev {
class NeuralModel;
}

class RedIzuzir : public AudioBlock {
public:
    static constexpr int kSlotCount = 50;
    // A <16, 8> model file is about 300 kB of compact JSON and about 410 kB indented.
    static constexpr int kSlotSize = 1 << 20;
    static constexpr int kChunkSize = 4096;
    static constexpr const char* kItemType = "nam";
    static constexpr int kWorkerPriority = 59;
    // Frames over which a change from one model to another crossfades their outputs (10 ms).
    static constexpr int kCrossfadeFrames = 30;

    // Drive into the model, in dB.
    static constexpr float kMinGainDb = -20.0f;
    static constexpr float kMaxGainDb = RuveroRidev::NeuralModel::maxDriveDb;
    // Tone knobs run 0..10 with 5 flat; the ends cut or boost by kToneRangeDb.
    static constexpr float kToneKnobMax = 10.0f;
    static constexpr float kToneRangeDb = 12.0f;
    static constexpr float kLowHz = 150.0f;
    static constexpr float kMidHz = 650.0f;
    static constexpr float kMidQ = 0.7f;
    static constexpr float kTrebleHz = 2500.0f;

    // Registers at the front of the ring; the model list of kSlotCount slots goes under root with the key
    // listKey and the display name label. Builds the model of every filled slot, then starts the worker.
    // The players' parameters, the model choice included, are saved with the presets like every block's, so
    // the preset node needs nothing of its own here. When copyLeftToRightWhenBypassed is set, a bypassed
    // player copies channel 0 onto channel 1, as a running one does with its result; otherwise a bypassed
    // player leaves the frame untouched.
    RedIzuzir(Node* folder, Node* root, NodePreset* preset, const char* listKey, const char* label,
              bool copyLeftToRightWhenBypassed);
    RedIzuzir(Node* folder, Node* root, NodePreset* preset, const char* listKey, const char* label);
    // Stops the worker before the models go. Not for use while the audio thread runs.
    ~RedIzuzir() override;

    NodeOnOff* getOnOff() const { return onOff; }
    NodeList* getList() const { return list; }
    NodeParList* getSelector() const { return selector; }
    NodeFloat* getGain() const { return gain; }
    NodeFloat* getLow() const { return low; }
    NodeFloat* getMid() const { return mid; }
    NodeFloat* getTreble() const { return treble; }
    // 0 for the first player built, 1 for the second, and so on; the worker's core follows it.
    int getPlayerIndex() const { return playerIndex; }

    // Players built after setWorkerThreads(false) start no worker: their owner calls playerStep() after each
    // frame instead (tests, which need the result of every frame deterministically). Default true.
    static void setWorkerThreads(bool start);
    // Runs the block that the last process call handed over, on the calling thread; false when none is
    // waiting. This is the worker's whole work per frame: takeBlock, then finishBlock.
    bool playerStep();
    // The two halves of playerStep, so a caller can stand for a worker that stalls inside its block: takes
    // the block handed over (false when none is waiting); finishBlock runs it and hands the result back.
    bool takeBlock();
    void finishBlock();
    // The timing statistics' counter of the frames this player gave up (Debug::takeEvents).
    int getGivenUpCounter() const { return givenUpCounter; }
    // True from a hand-over until the worker has finished that block.
    bool isPlayerBusy() const;
    // The slot whose model the worker plays (the selection taken over by the last silent compile pass);
    // -1 for none.
    int getSelectedSlot() const { return selected.load(std::memory_order_acquire); }

    bool compile() override;
    // What the worker made before the chain was held is stale: start afresh.
    void missedFrame() override { running = false; }
    static bool exec(void* block, float (*frame)[Frame::kSamples]);

private:
    enum Handover : int { kIdle, kPosted, kProcessing };

    struct Slot {
        // Written by the compile thread while the worker stays out of the slot (see the header comment).
        std::unique_ptr<RuveroRidev::NeuralModel> model;
        RuveroRidev::ModelBudget::Reservation reservation;
        float inputGain = 1.0f;  // the model's recommended input adjustment, linear
        float outputGain = 1.0f; // the model's recommended output adjustment, linear
        uint32_t generation = 0; // counts the models swapped in, so the worker notices a new one
        std::atomic<bool> dirty{false};
        std::atomic<bool> loaded{false};
        // Set by the worker after the model's output went non-finite; from then on the worker leaves the
        // model alone until the compile thread has prewarmed it and cleared the flag.
        std::atomic<bool> needsPrewarm{false};
    };
    // A model built for a slot and waiting to be swapped in. Compile thread only.
    struct Staged {
        bool ready = false;
        std::unique_ptr<RuveroRidev::NeuralModel> model;
        RuveroRidev::ModelBudget::Reservation reservation;
    };
    enum class Build { Model, NoModel, Refused };

    // Builds slot i's model from its text and swaps it in (start-up, before the worker runs).
    void loadModel(int i);
    // Builds the prewarmed model of slot i's text into built and reserves its memory, counting the slot's
    // own model as free. NoModel (built empty) for an empty slot or a file that is not a model; Refused,
    // after one log line, for a model beyond the frame share or the memory budget.
    Build buildModel(int i, const std::vector<uint8_t>& text, Staged& built) const;
    // Replaces slot i's model once the worker is not inside the slot; false (slot left dirty) when the
    // worker stayed inside it for the whole bounded wait.
    bool installModel(int i, Staged& next);
    bool waitUntilPlayerLeaves(int i) const;
    // Slot i holds a model the worker can play now. Compile thread.
    bool isPlayable(int i) const;
    // Compile passes: prewarms the worker asked for, new slot texts, then their swap, then the selection,
    // then the knobs.
    void prewarmMarkedSlots();
    void scanSlots();
    void installStaged();
    void followSelection();
    void updateKnobs();
    void startWorker();

    static void playerThread(void* player);
    // Audio side, when the block handed over is not done yet: runs it or waits for it; false, counted, when
    // the worker stays inside it past the wait.
    bool catchUp();
    void processBlock();
    void runModel(Slot& slot, int slotIndex, float* samples, int heardSlot);
    // The slot's model on the driven samples, at the model's own levels.
    void renderModel(Slot& slot, const float* samples, float* result);
    // Mixes the model faded out of (fadingFrom) into this block's output, one frame further down.
    void crossfadeStep(const float* samples);

    NodeOnOff* onOff;
    NodeList* list;
    NodeParList* selector;
    NodeFloat* gain;
    NodeFloat* low;
    NodeFloat* mid;
    NodeFloat* treble;
    const bool copyLeftToRight;
    const int playerIndex;
    const int givenUpCounter;
    StructuralValue enabled{0};
    SwitchFade enabledFade; // audio side

    std::array<Slot, kSlotCount> slots;
    std::atomic<int> selected{-1};
    std::atomic<int> playing{-1};
    // The slot the worker fades out of, while a model change crossfades; -1 otherwise. Published like
    // `playing`: the compile thread leaves that slot's model alone while it is set.
    std::atomic<int> fadingFrom{-1};
    SmoothedValue driveGain{1.0f}; // glided on the worker side

    // Compile side.
    std::array<uint32_t, kSlotCount> seenVersion{};
    std::array<Staged, kSlotCount> staged;
    // Compile thread: the lines of models whose output went non-finite, one per slot per 10 s.
    std::array<LogLimit, kSlotCount> nonFiniteLog;
    float toneDb[3] = {0.0f, 0.0f, 0.0f};

    // Hand-over between the audio thread and the worker: the audio side writes `input` and `restart` and
    // reads `output` only while `handover` is kIdle; the worker owns them from kPosted until it stores
    // kIdle again.
    alignas(64) float input[Frame::kSamples] = {};
    alignas(64) float output[Frame::kSamples] = {};
    bool restart = false; // the block follows a bypass
    std::atomic<int> handover{kIdle};
    // Audio side.
    bool running = false;
    bool outputReady = false;
    bool restartPending = false;

    // Worker side.
    QuadBiquad toneStack;
    int lastSlot = -1;
    uint32_t lastGeneration = 0;
    int crossfadeFramesLeft = 0;

    Semaphore wake;
    std::atomic<bool> workerRunning{false};
    std::atomic<bool> stopping{false};
};
