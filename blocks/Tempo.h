#pragma once
// The global tempo: "tempo_bpm" (30..240 BPM), set by hand, by tap tempo or, while "tempo_lock" is on, by
// its tempo sources (the MIDI clock, measured by the block's own binding, and what the product adds, such as
// a preset's own tempo): the latest change wins. Delay and modulation
// read it for their tempo-synchronised note values. Its own nodes stay out of presets (a preset carries its
// tempo in the source it adds); the block's process function does nothing.
//
// Tap tempo (UI thread): the first tap arms it; from the fourth tap on every tap sets the tempo from the
// mean of the last three intervals; 2.5 s after the last tap it disarms.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "audio/AudioBlock.h"
#include "audio/dsp/Frame.h"

class Node;
class NodeControlMidiTempo;
class NodeEnum;
class NodeFloat;
class NodeOnOff;
class NodePreset;

class Tempo : public AudioBlock {
public:
    static constexpr float kMinBpm = 30.0f;
    static constexpr float kMaxBpm = 240.0f;
    static constexpr int64_t kTapDisarmUs = 2500000;

    // preset may be null (no preset to keep the nodes out of).
    Tempo(Node* folder, NodePreset* preset);

    // A tempo source the lock follows, named for the log; call before the audio threads start.
    void addTempoSource(NodeFloat* source, const char* name);

    void manualTap();
    // True while tap tempo is armed and more than three taps have been counted.
    bool manualStatus();
    int getTapCount();

    // The tempo with one decimal.
    std::string toString() const;
    float getBpm() const;
    NodeFloat* getTempoNode() const { return bpm; }
    NodeOnOff* getLockNode() const { return lock; }
    NodeControlMidiTempo* getMidiClock() const { return midiClock; }

    // A choice of note value for a tempo-synchronised parameter: "OFF" or a note value.
    static NodeEnum* syncChoice(Node* folder, const char* key, const char* displayName);
    // The length in seconds of a note value (an option index of a sync choice) at the current tempo; 0 for
    // "OFF" or a bad index.
    float noteSeconds(int option) const;

    bool compile() override;
    static bool exec(void* block, float (*frame)[Frame::kSamples]);

private:
    struct Source {
        NodeFloat* node;
        std::string name;
        int64_t seenChange; // the node's change time when last looked at
        int64_t changedAt;  // when a change was last seen after the source was added; 0 for none
    };
    void follow(int index);

    NodeFloat* bpm;
    NodeOnOff* lock;
    NodeControlMidiTempo* midiClock;
    std::mutex sourcesLock;
    std::vector<Source> sources;
    bool lockWasOn = false; // compile thread
    int followed = -1;      // compile thread

    std::mutex tapLock;
    int taps = 0;
    int64_t lastTap = 0;
    int64_t intervals[3] = {};
    int intervalCount = 0;
};
