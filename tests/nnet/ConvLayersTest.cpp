#include "nnet/Conv1D.h"
#include "nnet/Conv1x1.h"

#include <gtest/gtest.h>
#include <numeric>

namespace {

std::vector<float> sequence(int count) {
    std::vector<float> values(count);
    std::iota(values.begin(), values.end(), 0.0f);
    return values;
}

TEST(Conv1D, ConsumesTapsFastestThenInputThenOutputChannelsThenBias) {
    std::vector<float> values = sequence(16);
    nnet::weights_it it = values.begin();
    nnet::Conv1D conv;
    conv.set_size_and_weights_(2, 3, 2, 1, true, it);
    EXPECT_EQ(it - values.begin(), 15);
    EXPECT_EQ(conv.get_num_weights(), 15);

    // With input column t = e_j at one time only, tap k's weight shows at output column t + (K - 1 - k).
    Eigen::MatrixXf input = Eigen::MatrixXf::Zero(2, 4);
    Eigen::MatrixXf output(3, 4);
    for (int j = 0; j < 2; ++j) {
        input.setZero();
        input(j, 1) = 1.0f;
        conv.process_(input, output, 1, 3, 1);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(output(i, 1), 12 + i + 4 * i + 2 * j + 1) << i << "," << j; // last tap: current column
            EXPECT_EQ(output(i, 2), 12 + i + 4 * i + 2 * j + 0) << i << "," << j; // first tap: one step back
            EXPECT_EQ(output(i, 3), 12 + i) << "bias only";
        }
    }
}

TEST(Conv1D, DilatedTwoTapFilter) {
    const float a = 0.5f, b = -2.0f, c = 0.25f;
    for (bool bias : {false, true}) {
        std::vector<float> values = {a, b, c};
        nnet::weights_it it = values.begin();
        nnet::Conv1D conv;
        conv.set_size_and_weights_(1, 1, 2, 4, bias, it);
        EXPECT_EQ(conv.get_num_weights(), bias ? 3 : 2);
        Eigen::MatrixXf input(1, 12);
        for (int t = 0; t < 12; ++t) input(0, t) = static_cast<float>(t * t);
        Eigen::MatrixXf output = Eigen::MatrixXf::Constant(1, 12, 99.0f);
        conv.process_(input, output, 4, 8, 4);
        for (int t = 4; t < 12; ++t)
            EXPECT_FLOAT_EQ(output(0, t), a * input(0, t - 4) + b * input(0, t) + (bias ? c : 0.0f)) << t;
        EXPECT_TRUE((output.leftCols(4).array() == 99.0f).all());

        const Eigen::MatrixXf before = output;
        conv.process_(input, output, 4, 0, 4);
        EXPECT_EQ(output, before);
    }
}

TEST(Conv1x1, RowByRowThenBias) {
    std::vector<float> values = {1, 2, 3, 4, 10, 20};
    nnet::weights_it it = values.begin();
    nnet::Conv1x1 plain(2, 2, false);
    plain.set_weights_(it);
    EXPECT_EQ(it - values.begin(), 4);
    const Eigen::MatrixXf ones = Eigen::MatrixXf::Ones(2, 3);
    const Eigen::MatrixXf product = plain.process(ones);
    ASSERT_EQ(product.cols(), 3);
    EXPECT_EQ(product.col(2), Eigen::Vector2f(3, 7));

    it = values.begin();
    nnet::Conv1x1 biased(2, 2, true);
    biased.set_weights_(it);
    EXPECT_EQ(it, values.end());
    EXPECT_EQ(biased.process(ones).col(1), Eigen::Vector2f(13, 27));
}

} // namespace

namespace {

// The library runs Eigen with its run-time assertions in every build type: a product of the wrong size stops
// the process with the assertion text instead of reading outside the matrices.
TEST(ConvLayersDeathTest, SizeErrorsStopTheProcess) {
    std::vector<float> values = {1, 2, 3, 4};
    nnet::weights_it it = values.begin();
    nnet::Conv1x1 conv(2, 2, false);
    conv.set_weights_(it);
    const Eigen::MatrixXf threeRows = Eigen::MatrixXf::Ones(3, 1);
    EXPECT_DEATH(conv.process(threeRows), "invalid matrix product");
}

} // namespace
