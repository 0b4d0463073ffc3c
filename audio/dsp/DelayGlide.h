#pragma once
// The read position of a delay line while its time changes: a one-pole approach (60 ms time constant) moving
// at most half a sample per sample, so a new time is heard as a short pitch bend (at most an octave down or
// a fifth up) instead of a jump of the read position, which would click or, swept, zip. Kept in double
// precision: in float the glide would stall a few samples short of its target. Audio side only.
class DelayGlide {
public:
    explicit DelayGlide(double samples = 0.0) : position_(samples) {}

    // The position for the next sample, one step nearer `target`; exactly `target` once close enough.
    double next(double target) {
        double step = kGlide * (target - position_);
        step = step > kLargestStep ? kLargestStep : (step < -kLargestStep ? -kLargestStep : step);
        position_ += step;
        if (position_ - target < kSnap && target - position_ < kSnap) position_ = target;
        return position_;
    }
    // A fresh start: no glide from a stale position.
    void jumpTo(double samples) { position_ = samples; }
    double value() const { return position_; }

private:
    static constexpr double kGlide = 1.0 - 0.99965283; // 1 - exp(-1 / (0.06 * 48000))
    static constexpr double kLargestStep = 0.5;
    static constexpr double kSnap = 1e-4;
    double position_;
};
