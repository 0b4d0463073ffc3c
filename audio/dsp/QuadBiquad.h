#pragma once
// Four second-order sections in transposed direct form II, used either in cascade (one signal through the
// sections in order: up to an eighth-order EQ or filter) or in parallel (section i filters lane i: the two
// channels of a frame, or up to four delay lines). An instance is used in one of the two arrangements.
//
// Coefficients are computed on the control side and handed over without a lock: setSection()/setSections()
// may run on one thread (the compile thread, or the audio thread itself for a filter it sweeps) while the
// audio thread processes; the audio thread takes a complete new set at the start of its next process call,
// never a half-written one. Sections left at identity at the end of the cascade cost nothing.
//
// With a glide set, the audio side reaches a new set by moving every coefficient a fixed fraction of its
// remaining way per process call (a one-pole approach per frame) instead of jumping to it: a knob sweep then
// has no zipper and a large change no click. Every point between two stable sections is stable (the stable
// region of a1, a2 is convex), so the glide never rings up. A section keeps its place in the cascade (a flat
// band is an identity section, not a missing one), so its memory always belongs to its own filter.
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
    // Clears the filter memories and ends a glide at its target; audio side or before processing starts.
    void reset();
    // Fraction (0 .. 1] of the remaining way each processCascade call covers towards new coefficients; 1
    // (the default, and the only one for processParallel) takes them at once. Before processing starts.
    void setGlide(float fractionPerCall) {
        glide_ = fractionPerCall > 0.0f && fractionPerCall < 1.0f ? fractionPerCall : 1.0f;
    }

private:
    struct Bank {
        BiquadCoefficients section[kSections];
        int activeSections = 0;
    };
    static void runSection(const BiquadCoefficients& c, float* state, float* samples, int count);
    bool publishStaged();
    void takePending();
    // One glide step of every section, run over the samples.
    void glideStep(float* samples, int count);
    static void runGlidingSection(const BiquadCoefficients& from, const BiquadCoefficients& to, float* state,
                                  float* samples, int count);

    Bank staged_;  // control side's latest wishes
    Bank pending_; // handed over through handover_
    Bank live_;    // what the audio side runs
    Bank target_;  // what live_ glides to, while gliding_
    float glide_ = 1.0f;
    bool gliding_ = false;
    Handover handover_;
    float state_[kSections][2] = {};
};
