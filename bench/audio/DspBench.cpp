// Cost of the DSP library's heavy pieces per 16-sample frame (the frame budget is 333 us at 48 kHz).
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "audio/dsp/Frame.h"
#include "audio/dsp/QuadBiquad.h"
#include "audio/dsp/QuadFIR.h"

namespace {

constexpr int kTaps = 2048;

std::vector<float> cabinetLikeResponse() {
    std::vector<float> response(kTaps);
    unsigned seed = 1;
    for (int i = 0; i < kTaps; ++i) {
        seed = seed * 1664525u + 1013904223u;
        response[i] = (static_cast<float>(seed >> 8) / 8388608.0f - 1.0f) * std::exp(-4.0f * i / kTaps);
    }
    return response;
}

void fillFrame(float (*frame)[Frame::kSamples], int channels) {
    for (int c = 0; c < channels; ++c) {
        for (int i = 0; i < Frame::kSamples; ++i) frame[c][i] = std::sin(0.01f * (i + 16 * c));
    }
}

void QuadFIR2048Taps(benchmark::State& state) {
    const int lanes = static_cast<int>(state.range(0));
    const std::vector<float> response = cabinetLikeResponse();
    QuadFIR fir;
    fir.configure(kTaps, lanes);
    const float* responses[] = {response.data()};
    fir.setImpulseResponses(responses, 1, kTaps);
    float frame[QuadFIR::kLanes][Frame::kSamples];
    fillFrame(frame, lanes);
    float* pointers[QuadFIR::kLanes] = {frame[0], frame[1], frame[2], frame[3]};
    for (auto _ : state) {
        fir.process(pointers, lanes);
        benchmark::DoNotOptimize(frame);
    }
    state.SetLabel("per frame");
}
BENCHMARK(QuadFIR2048Taps)->Arg(1)->Arg(2);

// The direct form the partitioned filter replaces, for comparison.
void DirectFIR2048Taps(benchmark::State& state) {
    const std::vector<float> response = cabinetLikeResponse();
    std::vector<float> history(kTaps + Frame::kSamples, 0.0f);
    float frame[Frame::kSamples];
    fillFrame(&frame, 1);
    for (auto _ : state) {
        std::copy(history.begin() + Frame::kSamples, history.end(), history.begin());
        std::copy(std::begin(frame), std::end(frame), history.end() - Frame::kSamples);
        for (int i = 0; i < Frame::kSamples; ++i) {
            const float* newest = history.data() + kTaps - 1 + i;
            float sum = 0.0f;
            for (int k = 0; k < kTaps; ++k) sum += response[k] * newest[-k];
            frame[i] = sum;
        }
        benchmark::DoNotOptimize(frame);
    }
    state.SetLabel("per frame, one lane");
}
BENCHMARK(DirectFIR2048Taps);

void QuadBiquadCascadeOfFour(benchmark::State& state) {
    QuadBiquad filter;
    const BiquadCoefficients sections[] = {BiquadCoefficients::highPass(48000.0f, 80.0f, 0.7f),
                                           BiquadCoefficients::peaking(48000.0f, 400.0f, 1.0f, -3.0f),
                                           BiquadCoefficients::peaking(48000.0f, 2500.0f, 1.5f, 4.0f),
                                           BiquadCoefficients::lowPass(48000.0f, 6000.0f, 0.7f)};
    filter.setSections(sections, 4);
    float frame[1][Frame::kSamples];
    fillFrame(frame, 1);
    for (auto _ : state) {
        filter.processCascade(frame[0], Frame::kSamples);
        benchmark::DoNotOptimize(frame);
    }
    state.SetLabel("per frame, one channel");
}
BENCHMARK(QuadBiquadCascadeOfFour);

void QuadBiquadParallelStereo(benchmark::State& state) {
    QuadBiquad filter;
    const BiquadCoefficients tone = BiquadCoefficients::lowPass(48000.0f, 4000.0f, 0.7f);
    const BiquadCoefficients sections[] = {tone, tone};
    filter.setSections(sections, 2);
    float frame[2][Frame::kSamples];
    fillFrame(frame, 2);
    float* lanes[] = {frame[0], frame[1]};
    for (auto _ : state) {
        filter.processParallel(lanes, 2, Frame::kSamples);
        benchmark::DoNotOptimize(frame);
    }
    state.SetLabel("per frame, two channels");
}
BENCHMARK(QuadBiquadParallelStereo);

} // namespace

BENCHMARK_MAIN();
