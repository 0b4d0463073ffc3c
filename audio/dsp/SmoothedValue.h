#pragma once
// A continuous setting (a level, a mix, a depth, a feedback amount) that glides to each new value instead of
// jumping: a setting that jumps once per compile pass is heard as zipper noise, a single large jump as a
// click. The glide is a one-pole (exponential) approach evaluated once per frame, and the value moves
// linearly across the frame, so it has neither steps between samples nor a per-sample cost beyond a linear
// ramp. Its time constant (10 ms unless set) is short enough to follow an expression pedal.
//
// The target may be set from any thread (the compile thread); the glide itself belongs to the audio thread.
#include <atomic>

#include "audio/dsp/Frame.h"

class SmoothedValue {
public:
    static constexpr float kDefaultSeconds = 0.01f;

    // The value across one frame: sample i (0 .. 15) has at(i); the frame's last sample reaches `to`.
    struct Ramp {
        float from;
        float to;
        float step;
        float at(int sample) const { return Frame::rampAt(from, to, step, sample); }
        bool isConstant() const { return step == 0.0f; }
        // at() for the whole frame.
        void fill(float* values) const { Frame::ramp(values, from, to, step); }
    };

    explicit SmoothedValue(float initial = 0.0f, float seconds = kDefaultSeconds);
    // The fraction of the remaining way a glide of that time constant covers per frame (1 for 0 s).
    static float frameFraction(float seconds);

    // Non-finite values are ignored. Any thread.
    void setTarget(float value);
    float target() const { return target_.load(std::memory_order_relaxed); }

    // Audio side: the next frame's ramp; once close enough the value lands exactly on the target and stays.
    // Inline while it stays: a settled glide costs a comparison.
    Ramp nextFrame() {
        const float goal = target();
        return current_ == goal ? Ramp{goal, goal, 0.0f} : glide(goal);
    }
    // Audio side, for a block starting from cleared state: no glide from a stale value.
    void jumpToTarget() { current_ = target(); }
    void jumpTo(float value) { current_ = value; }
    float value() const { return current_; }

private:
    Ramp glide(float goal);

    std::atomic<float> target_;
    float frameGlide_; // fraction of the remaining distance covered per frame
    float current_;
};
