#pragma once
// Preparation of impulse responses (cabinet responses) on the control side, before they go to a QuadFIR.
// These functions allocate and take time in proportion to the response; never call them on the audio
// thread.
#include <cstddef>
#include <span>
#include <vector>

class ImpulseResponse {
public:
    // Scales the response to unit energy (sum of squares 1): white noise passes at its own level, responses
    // of different loudness come out alike, and a unit impulse stays as it is. False, with the response left
    // untouched, when it is silent (too faint to scale within the float range) or holds a non-finite value.
    static bool normalise(std::span<float> response);

    // Resamples a response taken at `sourceRate` to `targetRate` by band-limited interpolation (a
    // Kaiser-windowed sinc of 32 zero crossings on each side; cut-off at 90 % of the lower Nyquist
    // frequency). The frequency response is kept, gain included: because the same filter at a higher rate
    // has more taps, the taps are scaled by sourceRate / targetRate (a sine resampled with it comes out with
    // that amplitude). Empty for empty input or a rate outside 1 kHz .. 1 MHz (NaN included).
    static std::vector<float> resample(std::span<const float> response, double sourceRate, double targetRate = 48000.0);

    // Cuts the response to `length` samples and, when something was cut, fades the last `fadeLength` kept
    // samples out with a raised cosine so the cut leaves no step.
    static void truncate(std::vector<float>& response, std::size_t length, std::size_t fadeLength);

    // The minimum-phase response with the same magnitude spectrum, through the real cepstrum: the log
    // magnitude spectrum's inverse transform is folded onto positive quefrencies and exponentiated back. The
    // energy moves to the start (no pre-delay, lowest latency through a truncated filter). The transform is
    // 32 times the response length (at most 2^20 points: truncate long responses first); magnitudes are
    // floored at -120 dB of the peak before the logarithm. The result has the input's length and polarity.
    static std::vector<float> minimumPhase(std::span<const float> response);
};
