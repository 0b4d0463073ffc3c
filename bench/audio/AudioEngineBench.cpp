// One audio pass of the engine per 16-sample frame, and its share of the frame budget (333 us at 48 kHz):
// the input copy, the meters, the ring walk, the fade, the non-finite guard and the USB exchange. The
// effect blocks come on top of this.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "audio/AudioBlock.h"
#include "audio/AudioProcessor.h"
#include "audio/AudioUSB.h"

namespace {

// Reported as "budget%": the pass's time as a percentage of one frame period (the library prints it with a
// time suffix, as it does for every inverted rate).
benchmark::Counter budgetShare() {
    return benchmark::Counter(333.333e-6 / 100.0,
                              benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

class PassBlock : public AudioBlock {
public:
    PassBlock() : AudioBlock("pass", nullptr, exec, AudioBlock::kBack) {}
    static bool exec(void*, float (*frame)[16]) {
        benchmark::DoNotOptimize(frame);
        return false;
    }
};

void fillFrame(float (*frame)[16], long position) {
    for (int i = 0; i < 16; ++i) {
        frame[0][i] = 0.5f * std::sin(0.0131f * float(position + i));
        frame[1][i] = 0.25f * std::sin(0.0077f * float(position + i));
    }
}

enum class Extra { None, Fade, Usb };

// Timing is never paused (pausing costs more than a pass); the extra work is small and counted in.
void runPasses(benchmark::State& state, Extra extra) {
    std::vector<std::unique_ptr<PassBlock>> blocks;
    for (int i = 0; i < state.range(0); ++i) blocks.push_back(std::make_unique<PassBlock>());
    float captured[AudioUSB::kPeriodSamples * 2] = {};
    float toPlay[AudioUSB::kPeriodSamples * 2];
    if (extra == Extra::Usb) AudioUSB::beginStreaming();
    float frame[2][16];
    long position = 0;
    for (auto _ : state) {
        fillFrame(frame, position);
        position += 16;
        AudioProcessor::processFrame(frame);
        benchmark::DoNotOptimize(frame);
        if (extra == Extra::Fade) {
            // Keep a fade running: restart it when it ends, let the silent compile pass through.
            AudioProcessor::FadeState fade = AudioProcessor::getFadeState();
            if (fade == AudioProcessor::FadeState::Idle) AudioProcessor::requestFade();
            if (fade == AudioProcessor::FadeState::Silent) AudioProcessor::compileStep();
        } else if (extra == Extra::Usb && position % AudioUSB::kPeriodSamples == 0) {
            // The bridge's share: one host transfer every four frames.
            AudioUSB::hostPeriod(captured, toPlay, AudioUSB::kPeriodSamples);
            benchmark::DoNotOptimize(toPlay);
        }
    }
    if (extra == Extra::Usb) AudioUSB::endStreaming();
    state.counters["budget%"] = budgetShare();
}

void EnginePass(benchmark::State& state) { runPasses(state, Extra::None); }
BENCHMARK(EnginePass)->ArgName("blocks")->Arg(0)->Arg(15);

// A fade running on every frame, with its silent compile passes.
void EnginePassFading(benchmark::State& state) { runPasses(state, Extra::Fade); }
BENCHMARK(EnginePassFading)->ArgName("blocks")->Arg(15);

// The USB bridge streaming: the record frame goes into its ring, the host's frame is mixed in, and the
// bridge's ring work for one transfer in four frames.
void EnginePassUsbStreaming(benchmark::State& state) { runPasses(state, Extra::Usb); }
BENCHMARK(EnginePassUsbStreaming)->ArgName("blocks")->Arg(15);

}

BENCHMARK_MAIN();
