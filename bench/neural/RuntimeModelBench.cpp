// Speed of the runtime-sized models: microseconds per 16-frame block of the runtime WaveNet on the <16, 8>
// shape next to the fixed-size model of the same file, of a gated runtime WaveNet, and of LSTMs of hidden size
// 16, 24 and 32; plus the Prewarm of each, which runs at boot for every stored slot.
//
// Counters: us_per_block = median wall time of a 16-frame block (a block during which another process took the
// core does not move it); rt_factor = audio time of a block / us_per_block.
//
// Compare16x8 runs the fixed <16, 8> and <12, 6> models, the runtime and gated runtime WaveNets of the <16, 8>
// shape and the FMA peak kernel of every vector width within every iteration, each timed in batches by the
// thread's CPU time, so that another process taking the core does not count, and takes the median of each.
// Each model is timed warm and alone (a batch after its own warm-up blocks: the figures the limits hold) and
// interleaved (short batches of each in turn, each finding the caches as the others left them: reported). It
// prints the peaks, each path's share of the widest peak, <12, 6>'s time over <16, 8>'s (next to its share of
// the multiply-adds), the runtime path's time over the fixed one's and the gated model's time per unit of work
// over the fixed one's, with the limits they are held to.
#include "bench/neural/FmaPeak.h"
#include "bench/neural/ThreadClock.h"
#include "neural/InternalWaveNetModelT.h"
#include "neural/LstmModel.h"
#include "neural/NeuralModel.h"
#include "neural/RuntimeWaveNetModel.h"

#include <Eigen/Core>
#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int blockFrames = 16;
constexpr double sampleRate = 48000.0;

struct ArrayShape {
    int inputSize, headSize, channels, kernelSize;
    std::vector<int> dilations;
    bool gated, headBias;
};

std::size_t weightCount(const std::vector<ArrayShape>& arrays) {
    std::size_t count = 1;
    for (const ArrayShape& a : arrays) {
        const std::size_t rows = std::size_t(a.gated ? 2 * a.channels : a.channels);
        const std::size_t ch = std::size_t(a.channels);
        const std::size_t perLayer = std::size_t(a.kernelSize) * rows * ch + 2 * rows + ch * ch + ch;
        count += ch * std::size_t(a.inputSize) + a.dilations.size() * perLayer + std::size_t(a.headSize) * ch +
                 (a.headBias ? std::size_t(a.headSize) : 0);
    }
    return count;
}

std::vector<float> randomWeights(std::size_t count, float deviation) {
    std::mt19937 random(1);
    std::normal_distribution<float> weight(0.0f, deviation);
    std::vector<float> weights(count);
    for (float& w : weights) {
        w = weight(random);
    }
    return weights;
}

nlohmann::json waveNetDocument(const std::vector<ArrayShape>& arrays) {
    nlohmann::json layers = nlohmann::json::array();
    for (const ArrayShape& a : arrays) {
        layers.push_back({{"input_size", a.inputSize},
                          {"condition_size", 1},
                          {"head_size", a.headSize},
                          {"channels", a.channels},
                          {"kernel_size", a.kernelSize},
                          {"dilations", a.dilations},
                          {"activation", "Tanh"},
                          {"gated", a.gated},
                          {"head_bias", a.headBias}});
    }
    return {{"architecture", "WaveNet"},
            {"config", {{"layers", layers}, {"head", nullptr}}},
            {"sample_rate", 48000},
            {"weights", randomWeights(weightCount(arrays), 0.15f)}};
}

const std::vector<int> allDilations = {1, 2, 4, 8, 16, 32, 64, 128, 256, 512};

// The <16, 8> shape: the file the fixed-size path serves.
const std::vector<ArrayShape> plainShape = {{1, 8, 16, 3, allDilations, false, false},
                                            {16, 1, 8, 3, allDilations, false, true}};
const std::vector<ArrayShape> gatedShape = {{1, 8, 16, 3, allDilations, true, false},
                                            {16, 1, 8, 3, allDilations, true, true}};

nlohmann::json fixedShapeDocument() { return waveNetDocument(plainShape); }

nlohmann::json gatedDocument() { return waveNetDocument(gatedShape); }

nlohmann::json lstmDocument(int hiddenSize) {
    const std::size_t count = 4 * std::size_t(hiddenSize) * std::size_t(1 + hiddenSize) + 6 * std::size_t(hiddenSize) +
                              std::size_t(hiddenSize) + 1;
    return {{"architecture", "LSTM"},
            {"config", {{"num_layers", 1}, {"input_size", 1}, {"hidden_size", hiddenSize}}},
            {"sample_rate", 48000},
            {"weights", randomWeights(count, 0.3f)}};
}

template <class Model>
std::unique_ptr<RuveroRidev::NeuralModel> load(const nlohmann::json& document) {
    auto model = std::make_unique<Model>();
    model->LoadFromNAMJson(document);
    model->Prewarm();
    return model;
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

// The median of a run's times: an iteration that another process interrupted does not move it.
double median(std::vector<double>& values) {
    std::nth_element(values.begin(), values.begin() + long(values.size() / 2), values.end());
    return values[values.size() / 2];
}

constexpr std::size_t maxTimedBlocks = std::size_t(1) << 20;

void runBlocks(benchmark::State& state, RuveroRidev::NeuralModel& model) {
    std::vector<float> input = noiseBlock();
    std::vector<float> output(blockFrames);
    std::vector<double> seconds;
    seconds.reserve(maxTimedBlocks);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        model.Process(input.data(), output.data(), blockFrames);
        benchmark::DoNotOptimize(output.data());
        benchmark::ClobberMemory();
        if (seconds.size() < maxTimedBlocks) {
            seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
    }
    const double secondsPerBlock = median(seconds);
    state.counters["us_per_block"] = secondsPerBlock * 1e6;
    state.counters["rt_factor"] = blockFrames / sampleRate / secondsPerBlock;
}

// Floating-point operations per sample: multiply and add counted apart, the fast tanh and the logistic as 15
// per value, the bias, residual, head and gate adds and multiplies as one each.
long flopsPerSample(const std::vector<ArrayShape>& arrays) {
    long flops = 1; // the head scale
    for (const ArrayShape& a : arrays) {
        const long rows = a.gated ? 2 * a.channels : a.channels;
        const long perLayer = 2L * a.kernelSize * rows * a.channels + 2 * rows + rows + 2L * a.channels * a.channels +
                              3L * a.channels + 15 * rows + (a.gated ? a.channels : 0);
        flops += 2L * a.inputSize * a.channels + long(a.dilations.size()) * perLayer + 2L * a.channels * a.headSize +
                 (a.headBias ? a.headSize : 0);
    }
    return flops;
}

// The fixed <12, 6> shape: array 0 of 12 channels over dilations 1 .. 64, array 1 of 6 channels over 128,
// 256, 512, 1 .. 512.
const std::vector<ArrayShape> twelveShape = {
    {1, 6, 12, 3, {1, 2, 4, 8, 16, 32, 64}, false, false},
    {12, 1, 6, 3, {128, 256, 512, 1, 2, 4, 8, 16, 32, 64, 128, 256, 512}, false, true}};

long multiplyAddsPerSample(const std::vector<ArrayShape>& arrays) {
    long count = 1;
    for (const ArrayShape& a : arrays) {
        const long rows = a.gated ? 2 * a.channels : a.channels;
        count +=
            long(a.inputSize) * a.channels + long(a.channels) * a.headSize +
            long(a.dilations.size()) * (long(a.kernelSize) * rows * a.channels + rows + long(a.channels) * a.channels);
    }
    return count;
}

// Limits the comparison is held to.
constexpr double minFixedShare = 0.58;
constexpr double maxTwelveOverSixteen = 0.60;
constexpr double maxRuntimeOverFixed = 1.20;
constexpr double maxGatedPerWorkOverFixed = 1.20;

// Thread CPU seconds per block of count blocks of a model in a row.
double batchSeconds(RuveroRidev::NeuralModel& model, float* input, float* output, int count) {
    const double start = threadclock::seconds();
    for (int block = 0; block < count; ++block) {
        model.Process(input, output, blockFrames);
        benchmark::DoNotOptimize(output);
        benchmark::ClobberMemory();
    }
    return (threadclock::seconds() - start) / count;
}

void BM_Compare16x8(benchmark::State& state) {
    if (!fmapeak::available()) {
        state.SkipWithError(fmapeak::widths[0].unit);
        return;
    }
    // A peak batch lasts about as long as a model's batch (65,536 rounds of 12 or 16 chains).
    constexpr long peakRounds = 65536;
    constexpr int numModels = 4;
    // Alone: a model's batch follows its own warm-up blocks, so its histories and weights are in the caches.
    // Interleaved: short batches of each model in turn, so each finds the caches as the others left them.
    constexpr int warmBlocks = 16, aloneBlocks = 64, interleavedBlocks = 4;
    auto fixed = load<RuveroRidev::InternalWaveNetModelT<16, 8>>(fixedShapeDocument());
    auto runtime = load<RuveroRidev::RuntimeWaveNetModel>(fixedShapeDocument());
    auto gated = load<RuveroRidev::RuntimeWaveNetModel>(gatedDocument());
    auto twelve = load<RuveroRidev::InternalWaveNetModelT<12, 6>>(waveNetDocument(twelveShape));
    RuveroRidev::NeuralModel* models[numModels] = {fixed.get(), runtime.get(), gated.get(), twelve.get()};
    const long flops[numModels] = {flopsPerSample(plainShape), flopsPerSample(plainShape), flopsPerSample(gatedShape),
                                   flopsPerSample(twelveShape)};
    const char* names[numModels] = {"fixed", "runtime", "gated", "fixed12x6"};
    std::vector<float> input = noiseBlock();
    std::vector<float> output(blockFrames);
    // Per iteration: each model's share of the widest peak measured in the same iteration, alone and
    // interleaved, and the peak of each width. Ratios taken within an iteration cancel what changes slowly
    // under load (the clock, a busy sibling thread of the core).
    std::vector<double> alone[numModels], interleaved[numModels], peaks[fmapeak::numWidths];
    std::vector<double> runtimeOverFixed, gatedOverFixed, twelveOverSixteen;
    for (auto _ : state) {
        for (int w = 0; w < fmapeak::numWidths; ++w) {
            double seconds = 0.0;
            peaks[w].push_back(fmapeak::timedFlops(fmapeak::widths[w], peakRounds, seconds) / seconds);
        }
        double aloneSeconds[numModels];
        for (int m = 0; m < numModels; ++m) {
            batchSeconds(*models[m], input.data(), output.data(), warmBlocks);
            aloneSeconds[m] = batchSeconds(*models[m], input.data(), output.data(), aloneBlocks);
            alone[m].push_back(double(flops[m]) * blockFrames / aloneSeconds[m] / peaks[0].back());
        }
        for (int m = 0; m < numModels; ++m) {
            const double seconds = batchSeconds(*models[m], input.data(), output.data(), interleavedBlocks);
            interleaved[m].push_back(double(flops[m]) * blockFrames / seconds / peaks[0].back());
        }
        runtimeOverFixed.push_back(aloneSeconds[1] / aloneSeconds[0]);
        gatedOverFixed.push_back(aloneSeconds[2] / aloneSeconds[0]);
        twelveOverSixteen.push_back(aloneSeconds[3] / aloneSeconds[0]);
    }
    for (int w = 0; w < fmapeak::numWidths; ++w) {
        state.counters["peak" + std::to_string(fmapeak::widths[w].lanes * 32) + "_GFLOPs"] = median(peaks[w]) * 1e-9;
    }
    // Every path could use the widest width, so each share is taken against its peak.
    double share[numModels];
    for (int m = 0; m < numModels; ++m) {
        share[m] = median(alone[m]);
        state.counters[std::string(names[m]) + "_us"] =
            double(flops[m]) * blockFrames / share[m] / median(peaks[0]) * 1e6;
        state.counters[std::string(names[m]) + "_of_peak"] = share[m];
        state.counters[std::string(names[m]) + "_interleaved_of_peak"] = median(interleaved[m]);
    }
    state.counters["runtime_over_fixed"] = median(runtimeOverFixed);
    state.counters["gated_over_fixed"] = median(gatedOverFixed);
    // Time per unit of work: the gated model does more multiply-adds than the plain one.
    state.counters["gated_work_over_fixed"] = share[0] / share[2];
    state.counters["12x6_over_16x8"] = median(twelveOverSixteen);
    state.counters["12x6_madds_over_16x8"] =
        double(multiplyAddsPerSample(twelveShape)) / double(multiplyAddsPerSample(plainShape));
    char limits[256];
    std::snprintf(limits, sizeof(limits),
                  "; shares of the %s peak; limits: fixed_of_peak >= %.2f, 12x6_over_16x8 <= %.2f, "
                  "runtime_over_fixed <= %.2f, gated_work_over_fixed <= %.2f",
                  fmapeak::widths[0].unit, minFixedShare, maxTwelveOverSixteen, maxRuntimeOverFixed,
                  maxGatedPerWorkOverFixed);
    state.SetLabel(limits + 2);
}

void BM_Fixed16x8(benchmark::State& state) {
    auto model = load<RuveroRidev::InternalWaveNetModelT<16, 8>>(fixedShapeDocument());
    runBlocks(state, *model);
}

void BM_Runtime16x8(benchmark::State& state) {
    auto model = load<RuveroRidev::RuntimeWaveNetModel>(fixedShapeDocument());
    runBlocks(state, *model);
}

void BM_RuntimeGated16x8(benchmark::State& state) {
    auto model = load<RuveroRidev::RuntimeWaveNetModel>(gatedDocument());
    runBlocks(state, *model);
}

void BM_Lstm(benchmark::State& state) {
    auto model = load<RuveroRidev::LstmModel>(lstmDocument(int(state.range(0))));
    runBlocks(state, *model);
}

void BM_PrewarmRuntime16x8(benchmark::State& state) {
    auto model = load<RuveroRidev::RuntimeWaveNetModel>(fixedShapeDocument());
    for (auto _ : state) {
        model->Prewarm();
        benchmark::ClobberMemory();
    }
}

void BM_PrewarmLstm(benchmark::State& state) {
    auto model = load<RuveroRidev::LstmModel>(lstmDocument(int(state.range(0))));
    for (auto _ : state) {
        model->Prewarm();
        benchmark::ClobberMemory();
    }
}

} // namespace

BENCHMARK(BM_Compare16x8)->Name("Compare16x8")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Fixed16x8)->Name("Process16x8/fixed")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Runtime16x8)->Name("Process16x8/runtime")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RuntimeGated16x8)->Name("ProcessGated16x8/runtime")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Lstm)->Name("ProcessLstm")->Arg(16)->Arg(24)->Arg(32)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PrewarmRuntime16x8)->Name("Prewarm16x8/runtime")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PrewarmLstm)->Name("PrewarmLstm")->Arg(16)->Arg(24)->Arg(32)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    benchmark::AddCustomContext("model_simd", Eigen::SimdInstructionSetsInUse());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
