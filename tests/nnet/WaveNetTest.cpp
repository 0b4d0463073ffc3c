#include "tests/nnet/NnetTestSupport.h"
#include "nnet/wavenet/WaveNet.h"
#include "nnet/wavenet/_Head.h"

#include <gtest/gtest.h>

namespace {

using nnet::wavenet::LayerArrayParams;
using nnet::wavenet::WaveNet;
using nnet_test::thrownText;

const std::vector<int> standardDilations = {1, 2, 4, 8, 16, 32, 64, 128, 256, 512};

LayerArrayParams array(int inputSize, int headSize, int channels, int kernelSize, std::vector<int> dilations,
                       std::string activation = "Tanh", bool gated = false, bool headBias = false,
                       int conditionSize = 1) {
    return LayerArrayParams(inputSize, conditionSize, headSize, channels, kernelSize, std::move(dilations),
                            std::move(activation), gated, headBias);
}

std::vector<LayerArrayParams> standardShape() {
    return {array(1, 8, 16, 3, standardDilations), array(16, 1, 8, 3, standardDilations, "Tanh", false, true)};
}

std::string build(const std::vector<LayerArrayParams>& arrays, size_t weightCount, bool withHead = false) {
    return thrownText<std::runtime_error>(
        [&] { WaveNet(arrays, 1.0f, withHead, nnet_test::counting(weightCount, 0.001f), 48000.0); });
}

TEST(WaveNet, StandardAndEdgeShapesWeightCountsAndPrewarm) {
    EXPECT_EQ(build(standardShape(), 13802), "<nothing thrown>");
    EXPECT_EQ(build(standardShape(), 13801), "Weight mismatch: provided 13801 weights, but the model expects more.");
    EXPECT_EQ(build(standardShape(), 13803), "Weight mismatch: assigned 13802 weights, but 13803 were provided.");
    EXPECT_EQ(build(standardShape(), 0), "Weight mismatch: provided 0 weights, but the model expects more.");
    EXPECT_EQ(build(standardShape(), 13802, true), "Head not implemented!");
    WaveNet model(standardShape(), 1.0f, false, nnet_test::counting(13802), -1.0);
    EXPECT_EQ(model.PrewarmSamples(), 4093);
    EXPECT_EQ(model._get_condition_dim(), 1);

    // Edge shapes.
    // The largest receptive field that still leaves room for a one-frame block.
    EXPECT_EQ(build({array(1, 1, 1, 3, {32767})}, 1 + 7 + 1 + 1), "<nothing thrown>");
    // An empty last array only rechannels the head sum.
    EXPECT_EQ(build({array(1, 2, 2, 2, {1}), array(2, 1, 2, 3, {})}, 2 + 18 + 4 + 4 + 2 + 1), "<nothing thrown>");
    WaveNet kernelOne({array(1, 1, 2, 1, {1, 1})}, 1.0f, false, nnet_test::counting(2 + 2 * 14 + 2 + 1), -1.0);
    EXPECT_EQ(kernelOne.PrewarmSamples(), 1);
}

TEST(WaveNet, RefusesArraysThatCannotBeChainedOrRun) {
    const std::vector<std::tuple<std::vector<LayerArrayParams>, std::string>> table = {
        {{array(1, 8, 16, 3, {1}), array(4, 1, 4, 3, {1})},
         "channels of layer 1 (4) doesn't match head_size of preceding layer (8!\n"},
        {std::vector<LayerArrayParams>{}, "WaveNet needs at least one layer array"},
        {{array(1, 2, 2, 3, {1})}, "head_size of the last layer (2) must be 1: the model has one output"},
        {{array(1, 1, 2, 3, {1}, "tanh")}, "Unrecognized activation: tanh"},
        {{array(1, 1, 2, 3, {1}, "Tanh", false, false, 2)},
         "condition_size of layer 0 (2) must be 1: the condition is the input"},
        {{array(2, 1, 2, 3, {1})}, "input_size of layer 0 (2) doesn't match the rows it reads (1)"},
        {{array(1, 3, 2, 3, {1}), array(3, 1, 3, 3, {1})},
         "input_size of layer 1 (3) doesn't match the rows it reads (2)"},
        {{array(1, 1, 2, 0, {1})}, "Layer array kernel_size must be at least 1, got 0"},
        {{array(1, 1, 2, 3, {1, 0})}, "Layer array dilations must be at least 1, got 0"},
        {{array(1, 1, 2, 3, {-3})}, "Layer array dilations must be at least 1, got -3"},
        {{array(1, 1, 0, 3, {1})}, "Layer array channels out of range: 0"},
        {{array(1, 0, 2, 3, {1}), array(2, 1, 0, 3, {1})},
         "Layer array sizes must be at least 1 (input_size 1, condition_size 1, head_size 0)"},
        {{array(1, 1, 1, 3, {40000})}, "Layer array receptive field (80001) does not fit its buffer (65536)"},
        {{array(1, 1, 1, 3, {32768})}, "Layer array receptive field (65537) does not fit its buffer (65536)"},
        {{array(1, 2, 2, 3, {}), array(2, 1, 2, 3, {1})},
         "layer 0 has no dilations, so the next layer would read no output"},
        // Counted before anything is sized: no gigabytes are allocated for a hostile file.
        {{array(1, 1, 1 << 30, 3, standardDilations)},
         "Weight mismatch: provided 5 weights, but the model expects more."},
    };
    for (const auto& [arrays, expected] : table) EXPECT_EQ(build(arrays, 5), expected) << arrays.size() << " arrays";
}

std::vector<float> run(WaveNet& model, const std::vector<int>& blocks, float scale) {
    std::vector<float> output;
    for (int frames : blocks) {
        std::vector<float> block = nnet_test::counting(frames, scale);
        model.process(block.data(), block.data(), frames);
        output.insert(output.end(), block.begin(), block.end());
    }
    return output;
}

// A block too long for an array's history is refused before any work matrix changes, so the model runs on
// at its previous block size exactly as if the call had not been made.
TEST(WaveNet, RefusedBlockSizeLeavesTheModelIntact) {
    // Array 1 reaches back 60,000 frames.
    const std::vector<LayerArrayParams> arrays = {array(1, 1, 1, 2, {1}, "Tanh"), array(1, 1, 1, 3, {30000})};
    const std::vector<float> weights = nnet_test::counting(8 + 9 + 1, 0.05f);
    WaveNet refused(arrays, 1.0f, false, weights, -1.0);
    WaveNet reference(arrays, 1.0f, false, weights, -1.0);
    const std::vector<int> blocks = {512, 512};
    EXPECT_EQ(run(refused, blocks, 0.1f), run(reference, blocks, 0.1f));
    std::vector<float> tooLong(6000, 0.5f);
    EXPECT_EQ(thrownText<std::runtime_error>([&] { refused.process(tooLong.data(), tooLong.data(), 6000); }),
              "Asked to accept a buffer of 6000 samples, but the buffer is too short (65536) to get out of the "
              "recptive field (60001); copy errors could occur!\n");
    EXPECT_EQ(run(refused, blocks, 0.3f), run(reference, blocks, 0.3f));
}

TEST(WaveNet, LargestBlockIsTheBufferLessTheReceptiveField) {
    const std::vector<LayerArrayParams> arrays = {array(1, 1, 1, 3, {1, 2, 4})};
    WaveNet model(arrays, 1.0f, false, nnet_test::counting(1 + 3 * 7 + 1 + 1, 0.05f), -1.0);
    std::vector<float> block(65522, 0.25f);
    EXPECT_EQ(thrownText<std::runtime_error>([&] { model.process(block.data(), block.data(), 65522); }),
              "Asked to accept a buffer of 65522 samples, but the buffer is too short (65536) to get out of the "
              "recptive field (15); copy errors could occur!\n");
    EXPECT_NO_THROW(model.process(block.data(), block.data(), 65521));
}

// The head stands for direct use: ReLU, 2 -> 3, ReLU, 3 -> 1, both with bias.
TEST(WaveNetHead, TwoLayersAndRefusals) {
    std::vector<float> weights = {1, -1, 0.5f, 2, -2, 0.25f, 0.1f, 0.2f, -0.3f, 1, -1, 0.5f, 0.05f};
    nnet::weights_it it = weights.begin();
    nnet::wavenet::_Head head(2, 2, 3, "ReLU");
    head.set_weights_(it);
    EXPECT_EQ(it, weights.end());
    head.set_num_frames_(4);

    Eigen::MatrixXf inputs(2, 4);
    inputs << 1, -2, 0.5f, 3, -1, 2, 0.25f, -4;
    const Eigen::MatrixXf original = inputs;
    Eigen::MatrixXf outputs;
    head.process_(inputs, outputs);
    ASSERT_EQ(outputs.rows(), 1);
    ASSERT_EQ(outputs.cols(), 4);
    for (int t = 0; t < 4; ++t) {
        double hidden[3];
        for (int i = 0; i < 3; ++i) {
            double sum = weights[6 + i];
            for (int j = 0; j < 2; ++j) sum += weights[2 * i + j] * std::max(0.0, double(original(j, t)));
            hidden[i] = std::max(0.0, sum);
        }
        const double expected = 0.05 + hidden[0] - hidden[1] + 0.5 * hidden[2];
        EXPECT_NEAR(outputs(0, t), expected, 1e-6) << t;
        EXPECT_EQ(inputs(0, t), std::max(0.0f, original(0, t))) << "activation applied to the inputs in place";
    }

    EXPECT_EQ(thrownText<std::runtime_error>([] { nnet::wavenet::_Head(2, 0, 3, "ReLU"); }),
              "Head needs at least one layer, got 0");
    EXPECT_EQ(thrownText<std::runtime_error>([] { nnet::wavenet::_Head(2, 1, 3, "Relu"); }),
              "Unrecognized activation: Relu");
    EXPECT_EQ(thrownText<std::runtime_error>([] { nnet::wavenet::_Head(0, 1, 3, "ReLU"); }),
              "Head sizes must be at least 1 (input_size 0, channels 3)");
}

} // namespace
