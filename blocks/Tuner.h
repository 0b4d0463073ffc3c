#pragma once
// The tuner. While on, the audio half low-passes input 1 (channel 0), keeps every fourth sample in a ring,
// mutes the frame and ends the chain; the compile thread detects the pitch in the newest 170 ms of the ring
// and publishes frequency, note and cents for the tuner page.
//
// Pitch detection: the normalised square-difference function of the window (its autocorrelation computed
// through the FFT), the first key maximum that reaches 93 % of the highest one as the period (so a strong
// harmonic does not win an octave up), then the matching maximum near successive doublings of the period,
// which divides the interpolation error by the multiple: well under a cent from low E up.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "audio/AudioBlock.h"
#include "audio/dsp/FFT.h"
#include "audio/dsp/Frame.h"
#include "audio/dsp/QuadBiquad.h"
#include "blocks/StructuralValue.h"

class Node;
class NodeFloat;
class NodeOnOff;

class Tuner : public AudioBlock {
public:
    static constexpr int kDecimation = 4;
    static constexpr float kAnalysisRate = 48000.0f / kDecimation;
    static constexpr int kWindow = 2048;
    static constexpr int kRingSize = 4096;

    struct Reading {
        bool valid = false;
        float frequency = 0.0f; // Hz
        int note = 0;           // MIDI note number of the nearest note (69 is A4)
        float cents = 0.0f;     // -50..50 from that note
    };

    // persist false leaves the settings unstored: a stored "ON" would mute the pedal at boot.
    Tuner(Node* folder, bool persist);

    NodeOnOff* getOnOff() const { return onOff; }
    // The latest reading; not valid while off, silent or without a clear pitch. Any thread.
    Reading getReading() const;
    // "C", "C#", ... "B" for a MIDI note number.
    static const char* noteName(int note);

    bool compile() override;
    static bool exec(void* block, float (*frame)[Frame::kSamples]);

private:
    // Works on the newest kWindow samples copied to the start of `window`.
    Reading detect(float referenceHz);
    float refinePeriod(float period) const;

    NodeOnOff* onOff;
    NodeFloat* reference;
    StructuralValue enabled{0};

    // Audio side.
    QuadBiquad antiAlias;
    int decimationPhase = 0;
    bool running = false;
    std::atomic<float> ring[kRingSize];
    std::atomic<uint32_t> written{0};

    // Compile side.
    FFT fft{2 * kWindow};
    std::vector<float> window, correlation, nsdf;

    mutable std::mutex readingLock;
    Reading reading;
};
