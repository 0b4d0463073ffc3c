#include "tests/nnet/NnetTestSupport.h"
#include "nnet/lstm/LSTM.h"

#include <gtest/gtest.h>

namespace {

using nnet::lstm::LSTM;
using nnet_test::thrownText;

std::string build(int layers, int inputSize, int hiddenSize, size_t count) {
    std::vector<float> weights = nnet_test::counting(count);
    return thrownText<std::runtime_error>([&] { LSTM(layers, inputSize, hiddenSize, weights, 48000.0); });
}

TEST(LSTM, WeightCountsAndRefusals) {
    const std::vector<std::tuple<int, int, int, size_t, std::string>> table = {
        {1, 1, 1, 16, "<nothing thrown>"},
        {1, 1, 8, 345, "<nothing thrown>"},
        {1, 1, 16, 1201, "<nothing thrown>"},
        {2, 1, 3, 66 + 90 + 4, "<nothing thrown>"},
        {0, 1, 3, 4, "<nothing thrown>"},
        {1, 1, 8, 344, "Weight mismatch: the LSTM expects 345 weights, but 344 were provided."},
        {1, 1, 8, 346, "Weight mismatch: the LSTM expects 345 weights, but 346 were provided."},
        {1, 1, 16, 0, "Weight mismatch: the LSTM expects 1201 weights, but 0 were provided."},
        {3, 1, 1 << 30, 10, "Weight mismatch: the LSTM expects 9223372036854775807 weights, but 10 were provided."},
        {1, 2, 8, 377, "LSTM input_size must be 1, got 2"},
        {1, 0, 8, 313, "LSTM input_size must be 1, got 0"},
        {-1, 1, 8, 9, "LSTM num_layers must not be negative, got -1"},
        {1, 1, -2, 0, "LSTM hidden_size must not be negative, got -2"},
    };
    for (const auto& [layers, inputSize, hiddenSize, count, expected] : table)
        EXPECT_EQ(build(layers, inputSize, hiddenSize, count), expected)
            << layers << " layers, input " << inputSize << ", hidden " << hiddenSize << ", " << count << " weights";
}

TEST(LSTM, PrewarmsHalfASecondAtTheTrainedRateAndWithoutLayersPassesSamplesThrough) {
    const std::vector<std::pair<double, int>> table = {
        {48000.0, 24000}, {44100.0, 22050}, {1.0, 1}, {-1.0, 1}, {3.0, 1}, {4.5, 2}, {1e300, 2147483647}};
    std::vector<float> weights = {0.0f};
    for (const auto& [rate, samples] : table) EXPECT_EQ(LSTM(0, 1, 0, weights, rate).PrewarmSamples(), samples) << rate;

    // Without layers the samples pass through.
    std::vector<float> passWeights = {1.0f, 2.0f, 3.0f, 4.0f};
    LSTM model(0, 1, 3, passWeights, -1.0);
    std::vector<float> signal = {0.5f, -3.0f, 7.0f};
    model.process(signal.data(), signal.data(), 3);
    EXPECT_EQ(signal, (std::vector<float>{0.5f, -3.0f, 7.0f}));
}

} // namespace
