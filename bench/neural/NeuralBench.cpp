// Speed of the fixed-size WaveNet models: time per 16-frame block, real-time factor and GFLOP/s against the
// single-core FMA peak at the build's widest vector width, which the same binary measures first; plus Prewarm,
// a <16, 8> load from JSON text and two models running at once on two threads.
//
// Counters: rt_factor = audio time processed / wall time; flops = floating-point operations per second
// (multiply and add counted apart, the fast tanh as 15 per value); of_fma_peak = flops / measured peak.
#include "bench/neural/FmaPeak.h"
#include "neural/NeuralModel.h"

#include <Eigen/Core>
#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int blockFrames = 16;
constexpr double sampleRate = 48000.0;

double fmaPeakFlops = 0.0;

// Measures the single-core FMA peak at the widest width and keeps it for the model benchmarks, which run
// after it.
void BM_FmaPeak(benchmark::State& state) {
    if (!fmapeak::available()) {
        state.SkipWithError(fmapeak::widths[0].unit);
        return;
    }
    const fmapeak::Width& widest = fmapeak::widths[0];
    state.SetLabel(widest.unit);
    double flops = 0.0;
    double seconds = 0.0;
    for (auto _ : state) {
        double roundSeconds = 0.0;
        flops += fmapeak::timedFlops(widest, 1 << 16, roundSeconds);
        seconds += roundSeconds;
    }
    fmaPeakFlops = flops / seconds;
    state.counters["GFLOPs"] = fmaPeakFlops * 1e-9;
}

std::string modelText(int channels, int headSize) {
    const std::vector<int> full = {1, 2, 4, 8, 16, 32, 64, 128, 256, 512};
    const std::vector<int> shortRun = {1, 2, 4, 8, 16, 32, 64};
    const std::vector<int> longRun = {128, 256, 512, 1, 2, 4, 8, 16, 32, 64, 128, 256, 512};
    const bool sixteen = channels == 16;
    nlohmann::json layers0 = {{"input_size", 1},      {"condition_size", 1}, {"head_size", headSize},
                              {"channels", channels}, {"kernel_size", 3},    {"dilations", sixteen ? full : shortRun},
                              {"activation", "Tanh"}, {"gated", false},      {"head_bias", false}};
    nlohmann::json layers1 = layers0;
    layers1["input_size"] = channels;
    layers1["head_size"] = 1;
    layers1["channels"] = headSize;
    layers1["dilations"] = sixteen ? full : longRun;
    layers1["head_bias"] = true;
    const auto count = [](int ch, int in, int heads, std::size_t layerCount, bool bias) {
        return std::size_t(ch * in) + layerCount * std::size_t(4 * ch * ch + 3 * ch) + std::size_t(heads * ch) +
               (bias ? std::size_t(heads) : 0);
    };
    const std::size_t numWeights = count(channels, 1, headSize, layers0["dilations"].size(), false) +
                                   count(headSize, channels, 1, layers1["dilations"].size(), true) + 1;
    std::mt19937 random(1);
    std::normal_distribution<float> weight(0.0f, 0.15f);
    std::vector<float> weights(numWeights);
    for (float& w : weights) {
        w = weight(random);
    }
    const nlohmann::json document = {{"architecture", "WaveNet"},
                                     {"config", {{"layers", {layers0, layers1}}, {"head", nullptr}}},
                                     {"sample_rate", 48000},
                                     {"weights", weights}};
    return document.dump();
}

std::unique_ptr<RuveroRidev::NeuralModel> loadModel(int channels, int headSize) {
    std::istringstream stream(modelText(channels, headSize));
    return RuveroRidev::NeuralModel::CreateFromStream(stream, "bench.nam");
}

std::vector<float> noiseBlock() {
    std::mt19937 random(2);
    std::uniform_real_distribution<float> sample(-0.5f, 0.5f);
    std::vector<float> block(blockFrames);
    for (float& s : block) {
        s = sample(random);
    }
    return block;
}

// Sets the counters of a run of blocks from its own wall time (per thread when several threads run).
void setBlockCounters(benchmark::State& state, double seconds, long blocks, long flopsPerSample) {
    const double secondsPerBlock = seconds / double(blocks);
    const double flops = double(flopsPerSample) * blockFrames / secondsPerBlock;
    state.counters["us_per_block"] = benchmark::Counter(secondsPerBlock * 1e6, benchmark::Counter::kAvgThreads);
    state.counters["rt_factor"] =
        benchmark::Counter(blockFrames / sampleRate / secondsPerBlock, benchmark::Counter::kAvgThreads);
    state.counters["GFLOPs"] = benchmark::Counter(flops * 1e-9, benchmark::Counter::kAvgThreads);
    if (fmaPeakFlops > 0.0) {
        state.counters["of_fma_peak"] = benchmark::Counter(flops / fmaPeakFlops, benchmark::Counter::kAvgThreads);
    }
}

void runBlocks(benchmark::State& state, int channels, int headSize, long flopsPerSample) {
    auto model = loadModel(channels, headSize);
    if (!model) {
        state.SkipWithError("model not built");
        return;
    }
    std::vector<float> input = noiseBlock();
    std::vector<float> output(blockFrames);
    long blocks = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        model->Process(input.data(), output.data(), blockFrames);
        benchmark::DoNotOptimize(output.data());
        benchmark::ClobberMemory();
        ++blocks;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    setBlockCounters(state, seconds, blocks, flopsPerSample);
}

template <int C, int H, long FlopsPerSample>
void BM_Process(benchmark::State& state) {
    runBlocks(state, C, H, FlopsPerSample);
}

template <int C, int H>
void BM_Prewarm(benchmark::State& state) {
    auto model = loadModel(C, H);
    for (auto _ : state) {
        model->Prewarm();
        benchmark::ClobberMemory();
    }
}

// Two players, each with its own <16, 8> model on its own thread, as the drive and amp stages run.
void BM_TwoPlayers16x8(benchmark::State& state) { runBlocks(state, 16, 8, 31202); }

void BM_Load16x8FromJson(benchmark::State& state) {
    const std::string text = modelText(16, 8);
    for (auto _ : state) {
        std::istringstream stream(text);
        auto model = RuveroRidev::NeuralModel::CreateFromStream(stream, "bench.nam");
        benchmark::DoNotOptimize(model.get());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(text.size()));
}

} // namespace

BENCHMARK(BM_FmaPeak)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Process<16, 8, 31202>)->Name("Process16x8")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Process<12, 6, 15536>)->Name("Process12x6")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Process<8, 4, 7670>)->Name("Process8x4")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Process<4, 2, 2492>)->Name("Process4x2")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Prewarm<16, 8>)->Name("Prewarm16x8")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Prewarm<12, 6>)->Name("Prewarm12x6")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Prewarm<8, 4>)->Name("Prewarm8x4")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Prewarm<4, 2>)->Name("Prewarm4x2")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TwoPlayers16x8)->Threads(2)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Load16x8FromJson)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    benchmark::AddCustomContext("model_simd", Eigen::SimdInstructionSetsInUse());
#if defined(__FMA__) || defined(__aarch64__)
    benchmark::AddCustomContext("model_fma", "yes");
#else
    benchmark::AddCustomContext("model_fma", "no: the model kernels are built without fused multiply-add");
#endif
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
