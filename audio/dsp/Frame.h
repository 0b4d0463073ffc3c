#pragma once
// Vector primitives on one channel of an audio frame (16 samples). The audio frame itself is
// float[kChannels][kSamples], processed in place; these operate on one of its rows.
#include <cmath>
#include <limits>

class Frame {
public:
    static constexpr int kSamples = 16;
    static constexpr int kChannels = 2;
    static constexpr float kSampleRate = 48000.0f;

    static void copy(float* destination, const float* source);
    static void clear(float* samples);
    static void gain(float* samples, float gain);
    // destination += gain * source
    static void mix(float* destination, const float* source, float gain);
    // The frame ramp, the one way a gain or a setting moves within a frame: the value at sample i (0 .. 15)
    // of a line leaving `from` (the value of the sample before the frame) by `step` per sample towards `to`,
    // exactly `to` from the sample that reaches it on. With rampStep it crosses the whole frame and lands on
    // `to` at its last sample, so successive frames join without a step and a settled gain of 1 is an exact
    // pass.
    static float rampAt(float from, float to, float step, int sample) {
        const float moved = step * static_cast<float>(sample + 1);
        return std::fabs(moved) >= std::fabs(to - from) ? to : from + moved;
    }
    static float rampStep(float from, float to) { return (to - from) / kSamples; }
    static float rampAt(float from, float to, int sample) { return rampAt(from, to, rampStep(from, to), sample); }
    // rampAt at every sample of the frame at once, in vector registers: a loop of rampAt does not vectorise,
    // as its comparison could trap.
    static void ramp(float* values, float from, float to, float step);
    // The gain moves across the frame by the frame ramp.
    static void rampGain(float* samples, float from, float to);
    static void rampMix(float* destination, const float* source, float from, float to);
    // The larger of two values, inline: in a per-sample or per-frame path, libm's fmaxf would be a call that,
    // after the 256-bit loops of other blocks, pays the transition penalty of legacy SSE code. Unlike fmaxf
    // it gives b when either is a NaN.
    static float larger(float a, float b) { return a > b ? a : b; }
    // Largest absolute sample value; NaN samples are skipped.
    static float peak(const float* samples);
    // Replaces NaN and infinities by 0 so they never reach a converter; returns how many were replaced.
    static int sanitize(float* samples);
    // For values kept from one sample or frame to the next (filter memories, feedback delays). Recursive
    // filters decaying towards zero would otherwise reach the subnormal range, which is very slow on some
    // processors when flush-to-zero is not set; -400 dB is far below any output. A NaN or an infinity that
    // came in once would otherwise circulate for ever and silence the path; it is dropped instead.
    static float sanitizeState(float value) {
        const float magnitude = std::fabs(value);
        return (magnitude >= 1e-20f && magnitude <= std::numeric_limits<float>::max()) ? value : 0.0f;
    }
};
