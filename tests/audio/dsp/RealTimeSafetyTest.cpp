// The audio-side functions allocate nothing; decaying tails never leave subnormal numbers behind even
// without flush-to-zero (this test thread runs with the default floating-point mode); and a frame of NaN or
// infinity from upstream does not stay in any memory.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <functional>
#include <limits>
#include <string>

#include "tests/support/AllocationCounter.h"
#include "audio/dsp/DelayLine.h"
#include "audio/dsp/EnvelopeFollower.h"
#include "audio/dsp/FFT.h"
#include "audio/dsp/Frame.h"
#include "audio/dsp/Lfo.h"
#include "audio/dsp/OnePole.h"
#include "audio/dsp/QuadBiquad.h"
#include "audio/dsp/QuadFIR.h"
#include "audio/dsp/SchroederAllPass.h"

namespace {

struct Pieces {
    QuadBiquad cascade, parallel;
    QuadFIR fir;
    FFT fft{32};
    DelayLine line{4800};
    OnePole onePole;
    EnvelopeFollower follower;
    Lfo lfo;
    SchroederAllPass allPass{347, 0.7f};
    std::vector<float> response = std::vector<float>(2048, 0.0f);
    float feedback = 0.0f;

    Pieces() {
        const BiquadCoefficients sections[] = {BiquadCoefficients::lowPass(48000.0f, 200.0f, 12.0f),
                                               BiquadCoefficients::peaking(48000.0f, 60.0f, 8.0f, 12.0f)};
        cascade.setSections(sections, 2);
        parallel.setSections(sections, 2);
        fir.configure(2048, 2);
        for (std::size_t i = 0; i < response.size(); ++i) response[i] = std::exp(-0.003f * i) * ((i % 7) - 3.0f);
        onePole.setCutoff(48000.0f, 20.0f);
        follower.setTimes(48000.0f, 0.001f, 0.5f);
        lfo.setRate(48000.0f, 3.0f);
    }

    // One frame through every audio-side function, both channels.
    void frame(float (*audio)[Frame::kSamples]) {
        float* lanes[] = {audio[0], audio[1]};
        cascade.processCascade(audio[0], Frame::kSamples);
        parallel.processParallel(lanes, 2, Frame::kSamples);
        fir.process(lanes, 2);
        onePole.process(audio[1], Frame::kSamples);
        follower.process(audio[0], nullptr, Frame::kSamples);
        allPass.process(audio[1], Frame::kSamples);
        line.process(audio[0], Frame::kSamples, 100.5f);
        for (int i = 0; i < Frame::kSamples; ++i) {
            const float echo = line.read(2400.25f);
            line.write(audio[1][i] + 0.95f * echo);
            audio[1][i] += echo * (1.0f + 0.1f * lfo.next());
            feedback = follower.process(audio[1][i]);
        }
        Frame::rampGain(audio[0], 1.0f, 0.7f);
        Frame::rampMix(audio[1], audio[0], 0.2f, 0.3f);
        Frame::mix(audio[0], audio[1], 0.5f);
        Frame::gain(audio[1], 0.9f);
        Frame::sanitize(audio[0]);
        Frame::peak(audio[1]);
    }
};

bool subnormal(float value) { return value != 0.0f && std::fabs(value) < FLT_MIN; }

} // namespace

TEST(RealTimeSafety, AudioSideAllocatesNothing) {
    Pieces pieces;
    const float* responses[] = {pieces.response.data()};
    float audio[2][Frame::kSamples] = {};
    float spectrum[32] = {};

    const long allocations = allocationcounter::allocationsDuring(
        [&] {
            for (int n = 0; n < 200; ++n) {
                audio[0][0] = audio[1][3] = n == 0 ? 1.0f : 0.0f;
                pieces.frame(audio);
                pieces.fft.forward(spectrum);
                pieces.fft.inverse(spectrum);
                if (n % 50 == 0) {
                    // The control side's hand-over of new coefficients allocates nothing either.
                    pieces.cascade.setSection(3, BiquadCoefficients::highPass(48000.0f, 80.0f, 0.7f));
                    pieces.fir.setImpulseResponses(responses, 1, static_cast<int>(pieces.response.size()));
                }
            }
        },
        allocationcounter::Threads::All, allocationcounter::Source::AnyAllocator);
    EXPECT_EQ(allocations, 0);
}

TEST(RealTimeSafety, DecayingTailsLeaveNoSubnormals) {
    Pieces pieces;
    float audio[2][Frame::kSamples] = {};
    audio[0][0] = audio[1][0] = 1.0f;
    int found = 0;
    // 60 s of audio after one impulse: every recursive piece decays through the subnormal range many times
    // over in that time unless it flushes.
    for (int n = 0; n < 48000 * 60 / Frame::kSamples; ++n) {
        pieces.frame(audio);
        for (int i = 0; i < 2 * Frame::kSamples; ++i) found += subnormal(audio[i / 16][i % 16]);
        found += subnormal(pieces.onePole.value()) + subnormal(pieces.follower.value()) + subnormal(pieces.feedback);
        for (auto& channel : audio) Frame::clear(channel);
    }
    EXPECT_EQ(found, 0);
}

TEST(RealTimeSafety, ANonFiniteFrameIsForgottenFromTheNextFrameOn) {
    Pieces pieces;
    float audio[2][Frame::kSamples] = {};
    for (int n = 0; n < 400; ++n) {
        for (auto& channel : audio) {
            for (int i = 0; i < Frame::kSamples; ++i) channel[i] = 0.5f * std::sin(0.1f * (16 * n + i));
        }
        if (n == 100) {
            audio[0][3] = std::numeric_limits<float>::quiet_NaN();
            audio[1][5] = std::numeric_limits<float>::infinity();
            audio[1][9] = -std::numeric_limits<float>::infinity();
        }
        pieces.frame(audio);
        if (n <= 100) continue;
        for (int i = 0; i < 2 * Frame::kSamples; ++i) ASSERT_TRUE(std::isfinite(audio[i / 16][i % 16])) << n;
    }
}
