// The <16, 8> standard WaveNet through this library, one 16-frame block per iteration.
#include "bench/nnet/StandardModel.h"

#include <benchmark/benchmark.h>

namespace {

void BM_SecondaryWaveNet16x8(benchmark::State& state) {
    std::unique_ptr<nnet::DSP> model = nnet_bench::secondaryModel();
    std::vector<float> input = nnet_bench::guitarLikeBlock();
    std::vector<float> output(16);
    for (auto _ : state) {
        model->process(input.data(), output.data(), 16);
        benchmark::DoNotOptimize(output.data());
    }
    state.SetItemsProcessed(state.iterations() * 16);
}
BENCHMARK(BM_SecondaryWaveNet16x8)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
