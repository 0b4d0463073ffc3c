#pragma once
// Four second-order sections in transposed direct form II, used either in cascade (one signal through the
// sections in order: up to an eighth-order EQ or filter) or in parallel (section i filters lane i: the two
// channels of a frame, or up to four delay lines). An instance is used in one of the two arrangements.
//
// Coefficients are computed on the control side and handed over without a lock: setSection()/setSections()
// may run on one thread (the compile thread, or the audio thread itself for a filter it sweeps) while the
// audio thread processes; the audio thread takes a complete new set at the start of its next process call,
// never a half-written one. Sections left at identity at the end of the cascade cost nothing.
#include "audio/dsp/BiquadCoefficients.h"
#include "audio/dsp/Handover.h"

class QuadBiquad {
public:
    static constexpr int kSections = 4;

    // Control side. Sections from `count` on become pass-through. Returns false only when the hand-over
    // could not be made (see Handover); the values are kept and go out with the next successful call.
    bool setSections(const BiquadCoefficients* coefficients, int count);
    bool setSection(int section, const BiquadCoefficients& coefficients);

    // Audio side: no allocation, no lock, no exception.
    void processCascade(float* samples, int count);
    void processParallel(float* const* lanes, int laneCount, int count);
    // Clears the filter memories; audio side or before processing starts.
    void reset();

private:
    struct Bank {
        BiquadCoefficients section[kSections];
        int activeSections = 0;
    };
    static void runSection(const BiquadCoefficients& c, float* state, float* samples, int count);
    bool publishStaged();
    void takePending();

    Bank staged_;  // control side's latest wishes
    Bank pending_; // handed over through handover_
    Bank live_;    // what the audio side runs
    Handover handover_;
    float state_[kSections][2] = {};
};
