// The same <16, 8> document through the main library's fixed-size model, and both side by side: time per
// 16-frame block of each and their ratio (this library over the fixed path).
#include "neural/InternalWaveNetDefinition.h"
#include "neural/NeuralModel.h"
#include "bench/nnet/StandardModel.h"

#include <benchmark/benchmark.h>
#include <chrono>

namespace {

std::unique_ptr<RuveroRidev::NeuralModel> loadFixed() {
    std::unique_ptr<RuveroRidev::NeuralModel> model =
        RuveroRidev::InternalWaveNetDefinition::Registry()[0]->CreateModel();
    model->LoadFromNAMJson(nnet_bench::standardModel());
    model->Prewarm();
    return model;
}

void BM_FixedWaveNet16x8(benchmark::State& state) {
    std::unique_ptr<RuveroRidev::NeuralModel> model = loadFixed();
    std::vector<float> input = nnet_bench::guitarLikeBlock();
    std::vector<float> output(16);
    for (auto _ : state) {
        model->Process(input.data(), output.data(), 16);
        benchmark::DoNotOptimize(output.data());
    }
    state.SetItemsProcessed(state.iterations() * 16);
}
BENCHMARK(BM_FixedWaveNet16x8)->Unit(benchmark::kMicrosecond);

void BM_WaveNet16x8Ratio(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    std::unique_ptr<nnet::DSP> secondary = nnet_bench::secondaryModel();
    std::unique_ptr<RuveroRidev::NeuralModel> fixed = loadFixed();
    std::vector<float> input = nnet_bench::guitarLikeBlock();
    std::vector<float> output(16);
    Clock::duration secondaryTime{};
    Clock::duration fixedTime{};
    for (auto _ : state) {
        const auto start = Clock::now();
        secondary->process(input.data(), output.data(), 16);
        benchmark::DoNotOptimize(output.data());
        const auto middle = Clock::now();
        fixed->Process(input.data(), output.data(), 16);
        benchmark::DoNotOptimize(output.data());
        secondaryTime += middle - start;
        fixedTime += Clock::now() - middle;
    }
    const double blocks = static_cast<double>(state.iterations());
    const double secondaryMicros = std::chrono::duration<double, std::micro>(secondaryTime).count() / blocks;
    const double fixedMicros = std::chrono::duration<double, std::micro>(fixedTime).count() / blocks;
    state.counters["secondary_us"] = secondaryMicros;
    state.counters["fixed_us"] = fixedMicros;
    state.counters["ratio"] = secondaryMicros / fixedMicros;
}
BENCHMARK(BM_WaveNet16x8Ratio)->Unit(benchmark::kMicrosecond);

} // namespace
