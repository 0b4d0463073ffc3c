#include "core/NodeControlMidiTempo.h"

#include <cmath>

#include "core/NodeFloat.h"

namespace {
constexpr int64_t maxPulseGap = 1000000; // 1 s: slower than 2.5 BPM means the clock stopped
}

NodeControlMidiTempo::NodeControlMidiTempo(Node* parent, const char* key, const char* displayName, NodeFloat* target)
    : NodeControl(parent, key, displayName, nullptr), targetNode(target) {}

Node* NodeControlMidiTempo::target() const { return targetNode; }

void NodeControlMidiTempo::receive(Source& source, const ControlMessage& message) {
    if (source.getKind() != Source::Kind::Midi) return;
    if (message.type == ControlMessage::Type::Start) {
        std::lock_guard<std::mutex> guard(pulseLock);
        filled = 0;
    } else if (message.type == ControlMessage::Type::Clock) {
        pulse(message.time);
    }
}

void NodeControlMidiTempo::pulse(int64_t time) {
    float measured;
    {
        std::lock_guard<std::mutex> guard(pulseLock);
        const int64_t previous = lastPulse.exchange(time, std::memory_order_relaxed);
        if (filled > 0 && (time - previous > maxPulseGap || time < previous)) filled = 0;
        if (filled < window) {
            times[(first + filled) % window] = time;
            ++filled;
        } else {
            times[first] = time;
            first = (first + 1) % window;
        }
        if (filled <= pulsesPerBeat) return;
        // Least-squares slope of time over pulse number, relative to the oldest pulse for precision.
        const double n = filled;
        const double meanK = (n - 1) / 2;
        double meanT = 0;
        for (int k = 0; k < filled; ++k) meanT += double(times[(first + k) % window] - times[first]);
        meanT /= n;
        double covariance = 0, variance = 0;
        for (int k = 0; k < filled; ++k) {
            const double dk = k - meanK;
            covariance += dk * (double(times[(first + k) % window] - times[first]) - meanT);
            variance += dk * dk;
        }
        const double microsPerPulse = covariance / variance;
        if (!(microsPerPulse > 0)) return;
        measured = float(std::round(60e6 / (microsPerPulse * pulsesPerBeat) * 10) / 10);
    }
    bpm.store(measured, std::memory_order_relaxed);
    if (targetNode) targetNode->setValue(measured);
}
