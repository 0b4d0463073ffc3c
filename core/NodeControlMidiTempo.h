#pragma once
#include <cstdint>
#include <mutex>

#include "core/NodeControl.h"

class NodeFloat;

// MIDI clock (24 pulses per quarter note) from a MIDI source measured as a tempo in BPM and written into the
// target float, which a tempo block reads like any other tempo source. The tempo is the least-squares slope
// over the last 96 pulses (four beats), so the 10 ms poll of the source averages out; it is published once a
// whole beat (24 intervals) was seen, rounded to 0.1 BPM. Start, or a gap of more than a second, begins a new measurement;
// Stop keeps the last tempo.
class NodeControlMidiTempo : public NodeControl {
public:
    static constexpr int pulsesPerBeat = 24;
    static constexpr int window = 96;

    NodeControlMidiTempo(Node* parent, const char* key, const char* displayName, NodeFloat* target);

    void receive(Source& source, const ControlMessage& message) override;
    // The last measured tempo, 0 before one was measured.
    float getBpm() const { return bpm.load(std::memory_order_relaxed); }
    // Time (esp_timer_get_time) of the last clock pulse, 0 when none came.
    int64_t getLastPulseTime() const { return lastPulse.load(std::memory_order_relaxed); }

protected:
    Node* target() const override;

private:
    void pulse(int64_t time);

    NodeFloat* const targetNode;
    std::mutex pulseLock; // guards times, first, filled
    int64_t times[window] = {};
    int first = 0;  // index of the oldest pulse in times
    int filled = 0; // pulses in times
    std::atomic<float> bpm{0.0f};
    std::atomic<int64_t> lastPulse{0};
};
