// Speed of the runtime-sized models: microseconds per 16-frame block of the runtime WaveNet on the <16, 8>
// shape next to the fixed-size model of the same file, of a gated runtime WaveNet, and of LSTMs of hidden size
// 16, 24 and 32; plus the Prewarm of each, which runs at boot for every stored slot.
//
// Counters: us_per_block = wall time per 16-frame block; rt_factor = audio time processed / wall time.
#include "InternalWaveNetModelT.h"
#include "LstmModel.h"
#include "NeuralModel.h"
#include "RuntimeWaveNetModel.h"

#include <Eigen/Core>
#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
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

std::size_t weightCount(const std::vector<ArrayShape>& arrays)
{
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

std::vector<float> randomWeights(std::size_t count, float deviation)
{
    std::mt19937 random(1);
    std::normal_distribution<float> weight(0.0f, deviation);
    std::vector<float> weights(count);
    for (float& w : weights) {
        w = weight(random);
    }
    return weights;
}

nlohmann::json waveNetDocument(const std::vector<ArrayShape>& arrays)
{
    nlohmann::json layers = nlohmann::json::array();
    for (const ArrayShape& a : arrays) {
        layers.push_back({{"input_size", a.inputSize}, {"condition_size", 1}, {"head_size", a.headSize},
                          {"channels", a.channels}, {"kernel_size", a.kernelSize}, {"dilations", a.dilations},
                          {"activation", "Tanh"}, {"gated", a.gated}, {"head_bias", a.headBias}});
    }
    return {{"architecture", "WaveNet"},
            {"config", {{"layers", layers}, {"head", nullptr}}},
            {"sample_rate", 48000},
            {"weights", randomWeights(weightCount(arrays), 0.15f)}};
}

const std::vector<int> allDilations = {1, 2, 4, 8, 16, 32, 64, 128, 256, 512};

// The <16, 8> shape: the file the fixed-size path serves.
nlohmann::json fixedShapeDocument()
{
    return waveNetDocument({{1, 8, 16, 3, allDilations, false, false}, {16, 1, 8, 3, allDilations, false, true}});
}

nlohmann::json gatedDocument()
{
    return waveNetDocument({{1, 8, 16, 3, allDilations, true, false}, {16, 1, 8, 3, allDilations, true, true}});
}

nlohmann::json lstmDocument(int hiddenSize)
{
    const std::size_t count = 4 * std::size_t(hiddenSize) * std::size_t(1 + hiddenSize) + 6 * std::size_t(hiddenSize) +
                              std::size_t(hiddenSize) + 1;
    return {{"architecture", "LSTM"},
            {"config", {{"num_layers", 1}, {"input_size", 1}, {"hidden_size", hiddenSize}}},
            {"sample_rate", 48000},
            {"weights", randomWeights(count, 0.3f)}};
}

template <class Model>
std::unique_ptr<RuveroRidev::NeuralModel> load(const nlohmann::json& document)
{
    auto model = std::make_unique<Model>();
    model->LoadFromNAMJson(document);
    model->Prewarm();
    return model;
}

std::vector<float> noiseBlock()
{
    std::mt19937 random(2);
    std::uniform_real_distribution<float> sample(-0.5f, 0.5f);
    std::vector<float> block(blockFrames);
    for (float& s : block) {
        s = sample(random);
    }
    return block;
}

void runBlocks(benchmark::State& state, RuveroRidev::NeuralModel& model)
{
    std::vector<float> input = noiseBlock();
    std::vector<float> output(blockFrames);
    long blocks = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        model.Process(input.data(), output.data(), blockFrames);
        benchmark::DoNotOptimize(output.data());
        benchmark::ClobberMemory();
        ++blocks;
    }
    const double secondsPerBlock =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / double(blocks);
    state.counters["us_per_block"] = secondsPerBlock * 1e6;
    state.counters["rt_factor"] = blockFrames / sampleRate / secondsPerBlock;
}

void BM_Fixed16x8(benchmark::State& state)
{
    auto model = load<RuveroRidev::InternalWaveNetModelT<16, 8>>(fixedShapeDocument());
    runBlocks(state, *model);
}

void BM_Runtime16x8(benchmark::State& state)
{
    auto model = load<RuveroRidev::RuntimeWaveNetModel>(fixedShapeDocument());
    runBlocks(state, *model);
}

void BM_RuntimeGated16x8(benchmark::State& state)
{
    auto model = load<RuveroRidev::RuntimeWaveNetModel>(gatedDocument());
    runBlocks(state, *model);
}

void BM_Lstm(benchmark::State& state)
{
    auto model = load<RuveroRidev::LstmModel>(lstmDocument(int(state.range(0))));
    runBlocks(state, *model);
}

void BM_PrewarmRuntime16x8(benchmark::State& state)
{
    auto model = load<RuveroRidev::RuntimeWaveNetModel>(fixedShapeDocument());
    for (auto _ : state) {
        model->Prewarm();
        benchmark::ClobberMemory();
    }
}

void BM_PrewarmLstm(benchmark::State& state)
{
    auto model = load<RuveroRidev::LstmModel>(lstmDocument(int(state.range(0))));
    for (auto _ : state) {
        model->Prewarm();
        benchmark::ClobberMemory();
    }
}

}  // namespace

BENCHMARK(BM_Fixed16x8)->Name("Process16x8/fixed")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Runtime16x8)->Name("Process16x8/runtime")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RuntimeGated16x8)->Name("ProcessGated16x8/runtime")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Lstm)->Name("ProcessLstm")->Arg(16)->Arg(24)->Arg(32)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PrewarmRuntime16x8)->Name("Prewarm16x8/runtime")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PrewarmLstm)->Name("PrewarmLstm")->Arg(16)->Arg(24)->Arg(32)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv)
{
    benchmark::AddCustomContext("model_simd", Eigen::SimdInstructionSetsInUse());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
