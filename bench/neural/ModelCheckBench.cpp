// Time of the content check that a model upload passes on the transport's thread before it is committed: for
// the <16, 8> file the fixed-size path serves, for the widest runtime-sized WaveNet the check takes (within the
// device's frame share, played through the whole sweep), and for the widest whose file still fits a model slot
// (1 MB of text, refused for its frame share once read). The transport answers nothing else meanwhile.
//
// Counters: ms = CPU time of the checking thread per check (what the check costs, whatever else the machine
// runs); limit_ms = the limit; share = ms / limit_ms.
#include "bench/neural/ThreadClock.h"
#include "neural/ModelCheck.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <random>
#include <string>
#include <vector>

namespace {

// The device (3 to 5 times slower than this machine on this code) must answer within 50 ms, hence 10 ms here.
constexpr double limitMs = 10.0;
// The model list's slot size.
constexpr std::size_t slotBytes = std::size_t(1) << 20;

// Two non-gated arrays of ten layers, C and C/2 channels, with the weight count the loader expects.
std::string waveNetText(int channels) {
    const std::vector<int> dilations = {1, 2, 4, 8, 16, 32, 64, 128, 256, 512};
    const int head = channels / 2;
    struct Array {
        int inputs, heads, channels;
        bool headBias;
    };
    const Array arrays[2] = {{1, head, channels, false}, {channels, 1, head, true}};
    nlohmann::json layers = nlohmann::json::array();
    std::size_t count = 1;
    for (const Array& a : arrays) {
        const std::size_t ch = std::size_t(a.channels);
        layers.push_back({{"input_size", a.inputs},
                          {"condition_size", 1},
                          {"head_size", a.heads},
                          {"channels", a.channels},
                          {"kernel_size", 3},
                          {"dilations", dilations},
                          {"activation", "Tanh"},
                          {"gated", false},
                          {"head_bias", a.headBias}});
        count += ch * std::size_t(a.inputs) + dilations.size() * (3 * ch * ch + 3 * ch + ch * ch) +
                 std::size_t(a.heads) * ch + (a.headBias ? std::size_t(a.heads) : 0);
    }
    std::mt19937 random(1);
    std::normal_distribution<float> weight(0.0f, 0.15f);
    std::vector<float> weights(count);
    for (float& w : weights) {
        w = weight(random);
    }
    const nlohmann::json document = {{"architecture", "WaveNet"},
                                     {"config", {{"layers", layers}, {"head", nullptr}}},
                                     {"sample_rate", 48000},
                                     {"weights", weights}};
    return document.dump();
}

// The widest even channel count whose file fits a slot, and whose model the check takes.
std::string largestText(bool taken) {
    std::string fitting = waveNetText(2);
    for (int channels = 4;; channels += 2) {
        std::string text = waveNetText(channels);
        std::string reason;
        if (text.size() > slotBytes ||
            (taken && !RuveroRidev::ModelCheck::Check(std::vector<std::uint8_t>(text.begin(), text.end()), reason))) {
            return fitting;
        }
        fitting = std::move(text);
    }
}

// A file the check refuses still holds the transport while it is read, so its time counts as well.
void runCheck(benchmark::State& state, const std::string& text, bool taken) {
    const std::vector<std::uint8_t> bytes(text.begin(), text.end());
    std::string reason;
    double seconds = 0.0;
    for (auto _ : state) {
        const double begin = threadclock::seconds();
        const bool passed = RuveroRidev::ModelCheck::Check(bytes, reason);
        seconds += threadclock::seconds() - begin;
        benchmark::DoNotOptimize(passed);
        if (passed != taken) {
            state.SkipWithError(taken ? reason.c_str() : "the check took a model past the device's frame share");
            return;
        }
    }
    const double ms = 1e3 * seconds / double(state.iterations());
    state.counters["bytes"] = double(bytes.size());
    state.counters["ms"] = ms;
    state.counters["limit_ms"] = limitMs;
    state.counters["share"] = ms / limitMs;
}

void BM_CheckFixed16x8(benchmark::State& state) { runCheck(state, waveNetText(16), true); }
void BM_CheckLargestTaken(benchmark::State& state) { runCheck(state, largestText(true), true); }
void BM_CheckLargestFile(benchmark::State& state) { runCheck(state, largestText(false), false); }

} // namespace

BENCHMARK(BM_CheckFixed16x8)->Name("ModelCheck/fixed16x8")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CheckLargestTaken)->Name("ModelCheck/largestTaken")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CheckLargestFile)->Name("ModelCheck/largestFile")->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
