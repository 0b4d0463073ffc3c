#pragma once
// A delay line on a power-of-two ring allocated once, with fractional reads by linear interpolation.
//
// Reads count back from the next write: read(1) is the sample written last. Reading before writing in a
// sample step therefore delays by exactly `delay` samples, also inside a feedback loop:
//   const float echo = line.read(delay);
//   line.write(input + feedback * echo);
#include <vector>

#include "audio/dsp/Frame.h"

class DelayLine {
public:
    static constexpr int kLongestDelay = (1 << 21) - 1; // about 43 s at 48 kHz

    explicit DelayLine(int maxDelaySamples = 1) { configure(maxDelaySamples); }

    // Allocates a ring long enough for `maxDelaySamples` (1 .. kLongestDelay) and clears it. Only while no process call can run.
    void configure(int maxDelaySamples);
    // Longest delay that can be read; at least what configure() asked for.
    int maxDelay() const { return mask_; }
    void reset();

    // Delays are clamped to 1 .. maxDelay().
    float read(float delay) const {
        delay = clampDelay(delay);
        const int whole = static_cast<int>(delay);
        const float fraction = delay - static_cast<float>(whole);
        const float newer = buffer_[(writePosition_ - whole) & mask_];
        const float older = buffer_[(writePosition_ - whole - 1) & mask_];
        return newer + fraction * (older - newer);
    }
    float readInteger(int delay) const {
        delay = delay < 1 ? 1 : (delay > mask_ ? mask_ : delay);
        return buffer_[(writePosition_ - delay) & mask_];
    }
    void write(float value) {
        buffer_[writePosition_] = Frame::sanitizeState(value);
        writePosition_ = (writePosition_ + 1) & mask_;
    }
    // What readInteger(delay) gives over the next `count` sample steps, for a delay of at least `count`: none
    // of those samples is written in those steps, so a feedback loop can read a whole block before it writes
    // one (writeBlock), and run its arithmetic in between on local arrays.
    // A whole frame that does not cross the ring's end moves in one vectorised copy.
    void readBlock(float* samples, int count, int delay) const;
    void writeBlock(const float* samples, int count);
    // What read(delays[i]) gives at sample step i of the next `count`, for delays all longer than `count`.
    void readBlock(float* samples, const float* delays, int count) const;

    // A plain delay of a block in place: every sample comes out `delay` samples later.
    void process(float* samples, int count, float delay);

private:
    // Written so that a NaN lands on the shortest delay instead of reaching an integer conversion.
    float clampDelay(float delay) const {
        if (!(delay >= 1.0f)) return 1.0f;
        return delay > static_cast<float>(mask_) ? static_cast<float>(mask_) : delay;
    }

    std::vector<float> buffer_;
    int mask_ = 0;
    int writePosition_ = 0;
};
