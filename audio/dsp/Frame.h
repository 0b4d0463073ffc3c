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
  // Gain moves linearly from `from` (the gain of the previous frame's last sample) to `to`, reached on
  // this frame's last sample, so successive ramps join without a step.
  static void rampGain(float* samples, float from, float to);
  static void rampMix(float* destination, const float* source, float from, float to);
  // Largest absolute sample value.
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
