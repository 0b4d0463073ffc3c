// Runs the fixed <16, 8> model, the fast tanh and the fast logistic on the device's instruction set between calls
// of marker functions, so that an instruction trace of this program (tools/device-cycles/device-cycles.py) can cut
// out exactly one steady 16-frame block, one run of tanh values and one run of logistic values.
#include "neural/FastMath.h"
#include "neural/InternalWaveNetModelT.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <random>
#include <vector>

extern "C" __attribute__((noinline)) void TraceBlockMark() { asm volatile("" ::: "memory"); }
extern "C" __attribute__((noinline)) void TraceTanhMark() { asm volatile("" ::: "memory"); }
extern "C" __attribute__((noinline)) void TraceLogisticMark() { asm volatile("" ::: "memory"); }

namespace {

constexpr int blockFrames = 16;
// Tanh and logistic values traced: whole packets, so the figure is the finish's, not the scalar tail's.
constexpr int activationValues = 1024;

nlohmann::json arrayConfig(int inputSize, int headSize, int channels, bool headBias) {
    return {{"input_size", inputSize}, {"condition_size", 1}, {"head_size", headSize},
            {"channels", channels},    {"kernel_size", 3},    {"dilations", {1, 2, 4, 8, 16, 32, 64, 128, 256, 512}},
            {"activation", "Tanh"},    {"gated", false},      {"head_bias", headBias}};
}

nlohmann::json document(std::mt19937& random) {
    // Weights per array: input rechannel, ten layers of a kernel-3 convolution, its condition mix and bias and a
    // 1x1 projection with its bias, then the head.
    const int count = 1 + (16 + 10 * (3 * 16 * 16 + 2 * 16 + 16 * 16 + 16) + 8 * 16) +
                      (16 * 8 + 10 * (3 * 8 * 8 + 2 * 8 + 8 * 8 + 8) + 8 + 1);
    std::normal_distribution<float> weight(0.0f, 0.15f);
    std::vector<float> weights(std::size_t(count), 0.0f);
    for (float& w : weights) {
        w = weight(random);
    }
    return {{"architecture", "WaveNet"},
            {"config", {{"layers", {arrayConfig(1, 8, 16, false), arrayConfig(16, 1, 8, true)}}, {"head", nullptr}}},
            {"sample_rate", 48000},
            {"weights", weights}};
}

} // namespace

int main() {
    std::mt19937 random(1);
    RuveroRidev::InternalWaveNetModelT<16, 8> model;
    model.LoadFromNAMJson(document(random));
    std::uniform_real_distribution<float> sample(-0.5f, 0.5f);
    std::vector<float> input(blockFrames), output(blockFrames);
    for (float& s : input) {
        s = sample(random);
    }
    // The first blocks take the paths of an empty history; the traced one is the third.
    for (int block = 0; block < 2; ++block) {
        model.Process(input.data(), output.data(), blockFrames);
    }
    TraceBlockMark();
    model.Process(input.data(), output.data(), blockFrames);
    TraceBlockMark();
    std::vector<float> values(activationValues);
    for (float& v : values) {
        v = 4.0f * sample(random);
    }
    std::vector<float> gates = values;
    TraceTanhMark();
    RuveroRidev::FastMath::TanhInPlace(values.data(), activationValues);
    TraceTanhMark();
    TraceLogisticMark();
    RuveroRidev::FastMath::LogisticInPlace(gates.data(), activationValues);
    TraceLogisticMark();
    std::printf("%g %g %g\n", double(output[0]), double(values[0]), double(gates[0]));
    return 0;
}
