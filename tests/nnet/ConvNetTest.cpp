#include "tests/nnet/NnetTestSupport.h"
#include "nnet/convnet/ConvNet.h"

#include <gtest/gtest.h>

namespace {

using nnet::convnet::ConvNet;
using nnet_test::thrownText;

std::string build(int channels, std::vector<int> dilations, bool batchnorm, const std::string& activation,
                  size_t weightCount) {
    std::vector<float> weights = nnet_test::counting(weightCount);
    return thrownText<std::runtime_error>(
        [&] { ConvNet(channels, dilations, batchnorm, activation, weights, 48000.0); });
}

TEST(ConvNet, WeightCountsAndRefusals) {
    const std::string leftOver = "Didn't touch all the weights when initializing ConvNet";
    const std::string huge = "Weight mismatch: provided 19 weights, but the ConvNet expects 2305843014582403073.";
    const std::vector<std::tuple<int, std::vector<int>, bool, std::string, size_t, std::string>> table = {
        {2, {1, 2}, false, "Tanh", 19, "<nothing thrown>"},
        {2, {1, 2}, false, "Tanh", 20, leftOver},
        {2, {1, 2}, true, "Tanh", 33, "<nothing thrown>"},
        {2, {1, 2}, true, "Tanh", 34, leftOver},
        {1, {1}, false, "ReLU", 5, "<nothing thrown>"},
        // A short list is refused before any weight is read.
        {2, {1, 2}, false, "Tanh", 18, "Weight mismatch: provided 18 weights, but the ConvNet expects 19."},
        {2, {1, 2}, true, "Tanh", 0, "Weight mismatch: provided 0 weights, but the ConvNet expects 33."},
        {1 << 30, {1, 2}, false, "Tanh", 19, huge},
        {2, {}, false, "Tanh", 3, "ConvNet needs at least one dilation"},
        {0, {1}, false, "Tanh", 1, "ConvNet channels must be at least 1, got 0"},
        {2, {1, 0}, false, "Tanh", 19, "ConvNet dilations must be at least 1, got 0"},
        {2, {1, -4}, false, "Tanh", 19, "ConvNet dilations must be at least 1, got -4"},
        {2, {1, 2}, false, "tanh", 19, "Unrecognized activation: tanh"},
    };
    for (const auto& [channels, dilations, batchnorm, activation, count, expected] : table)
        EXPECT_EQ(build(channels, dilations, batchnorm, activation, count), expected)
            << channels << " channels, " << dilations.size() << " blocks, " << count << " weights";
}

// Exposes the input buffer.
class ConvNetProbe : public ConvNet {
public:
    using ConvNet::ConvNet;
    size_t bufferSize() const { return inputBuffer.size(); }
};

// Every block keeps its own history, so the input buffer needs only the largest dilation; prewarming covers
// the sum of them.
TEST(ConvNet, ReceptiveFieldIsTheLargestDilationAndGrowthForgetsTheHistory) {
    std::vector<float> weights = nnet_test::counting(19);
    ConvNetProbe model(2, {1, 2}, false, "Tanh", weights, -1.0);
    EXPECT_EQ(model.bufferSize(), 64u);
    EXPECT_EQ(model.PrewarmSamples(), 4);

    std::vector<float> unordered = nnet_test::counting(3 + 3 * 3 + 2);
    ConvNetProbe reordered(1, {7, 3, 5, 1}, false, "ReLU", unordered, -1.0);
    EXPECT_EQ(reordered.bufferSize(), 224u);
    EXPECT_EQ(reordered.PrewarmSamples(), 17);

    std::vector<float> block(512, 0.0f);
    reordered.process(block.data(), block.data(), 512);
    EXPECT_EQ(reordered.bufferSize(), 32768u); // 7 + 32 * 512, rounded up to a power of two

    // Growing the input buffer clears every block's history too: after a larger block the model answers as a
    // fresh one does.
    std::vector<float> growthWeights = nnet_test::counting(19, 0.1f);
    ConvNet used(2, {1, 3}, false, "Tanh", growthWeights, -1.0);
    ConvNet fresh(2, {1, 3}, false, "Tanh", growthWeights, -1.0);
    std::vector<float> small(2, 1.0f);
    used.process(small.data(), small.data(), 2);
    std::vector<float> large = nnet_test::counting(64, 0.2f);
    std::vector<float> usedOutput(64), freshOutput(64);
    used.process(large.data(), usedOutput.data(), 64);
    fresh.process(large.data(), freshOutput.data(), 64);
    EXPECT_EQ(usedOutput, freshOutput);
}

// Growing the input buffer clears every block's history too: after a larger block the model answers as a
// fresh one does.
} // namespace
