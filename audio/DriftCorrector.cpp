#include "audio/DriftCorrector.h"

#include "audio/dsp/Frame.h"

#include <cstring>
#include <numbers>
#include <zita-resampler/vresampler.h>

namespace {

constexpr int kFrame = Frame::kSamples;
// Half the taps of the interpolation filter: flat to 20 kHz and well into the noise at the ratios used.
constexpr unsigned kFilterHalfLength = 24;
// The fill jumps by a whole transfer of the other side (a sawtooth of several hundred hertz); a one-pole
// low pass of about 20 ms leaves the slow drift of the two clocks.
constexpr double kSmoothing = double(kFrame) / 1000.0;
// A critically damped loop of 0.1 Hz around an integrating plant (the fill integrates the rate error):
// proportional gain 2 * w, integral gain w^2 per sample, with w in radians per sample. Slow on purpose: the
// fill seen in whole frames wobbles by half a frame as the phase of the two sides' transfers drifts, and the
// proportional path turns that into a ratio wobble of only 2e-4 (a third of a cent).
constexpr double kLoopRadiansPerSample = 2.0 * std::numbers::pi * 0.1 / 48000.0;
constexpr double kProportionalGain = 2.0 * kLoopRadiansPerSample;
constexpr double kIntegralGain = kLoopRadiansPerSample * kLoopRadiansPerSample * kFrame;
// A fill this far above the target is no drift but a stall of the consumer: the excess goes at once.
constexpr int kOverfillSamples = 32 * kFrame;

double clamped(double value, double limit) { return value > limit ? limit : (value < -limit ? -limit : value); }

void silence(float (*frame)[Frame::kSamples]) {
    std::memset(frame[0], 0, sizeof(float) * kFrame);
    std::memset(frame[1], 0, sizeof(float) * kFrame);
}

}

void DriftCorrector::prepare() {
    if (resampler) return;
    resampler = new VResampler;
    resampler->setup(1.0, 2, kFilterHalfLength);
}

void DriftCorrector::reset() { primed = false; }

int DriftCorrector::queued(const FrameRing& ring) const {
    return ring.size() * kFrame + (resampler ? int(resampler->inp_count) : 0);
}

void DriftCorrector::prime() {
    // Zeros fill the filter's history, so the first output sample is the first sample of the ring delayed by
    // the filter, not a transient.
    resampler->reset();
    resampler->inp_count = resampler->inpsize() / 2 - 1;
    resampler->inp_data = nullptr;
    resampler->out_count = 1 << 20;
    resampler->out_data = nullptr;
    resampler->process();
    resampler->inp_count = 0;
    smoothedError = integral = 0.0;
    resampler->set_rratio(1.0);
    primed = true;
}

void DriftCorrector::follow(int fill) {
    const double error = double(fill - targetSamples);
    smoothedError += kSmoothing * (error - smoothedError);
    integral = clamped(integral + kIntegralGain * smoothedError, kMaxCorrection);
    const double correction = clamped(kProportionalGain * smoothedError + integral, kMaxCorrection);
    // The ratio is output over input rate: a ring that fills up is read faster.
    resampler->set_rratio(1.0 / (1.0 + correction));
}

bool DriftCorrector::refill(FrameRing& ring) {
    alignas(64) float frame[Frame::kChannels][Frame::kSamples];
    if (!ring.pop(frame)) return false;
    for (int sample = 0; sample < kFrame; ++sample) {
        input[2 * sample] = frame[0][sample];
        input[2 * sample + 1] = frame[1][sample];
    }
    resampler->inp_data = input;
    resampler->inp_count = kFrame;
    return true;
}

void DriftCorrector::take(FrameRing& ring, float (*frame)[Frame::kSamples]) {
    if (!resampler) {
        silence(frame);
        return;
    }
    if (!primed) {
        if (ring.size() == 0 || ring.size() * kFrame < targetSamples) {
            silence(frame);
            return;
        }
        // The frames beyond the target go before the first output, so the loop starts without an error.
        while ((ring.size() - 1) * kFrame >= targetSamples) ring.discard();
        prime();
    }
    if (queued(ring) - targetSamples > kOverfillSamples) {
        while (ring.size() * kFrame > targetSamples) ring.discard();
        restarts.fetch_add(1, std::memory_order_relaxed);
    }
    // The fill in the middle of the frame about to be made: the same measure whichever side moves in bursts.
    follow(queued(ring) - kFrame / 2);

    alignas(64) float output[Frame::kChannels * Frame::kSamples] = {};
    resampler->out_data = output;
    resampler->out_count = kFrame;
    while (resampler->out_count > 0) {
        if (resampler->inp_count == 0 && !refill(ring)) {
            // The producer stopped: the rest is silence, and the stream primes again.
            primed = false;
            restarts.fetch_add(1, std::memory_order_relaxed);
            break;
        }
        resampler->process();
    }
    for (int sample = 0; sample < kFrame; ++sample) {
        frame[0][sample] = output[2 * sample];
        frame[1][sample] = output[2 * sample + 1];
    }
}
