// The fast tanh, the convolution and dense kernels and the layer's history advance.
#include "neural/FastMath.h"
#include "neural/WaveNetLayerT.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

using namespace RuveroRidev;

namespace {

double referenceTanh(double x) {
    const double a = std::fabs(x);
    const double q = x * x;
    const double c1 = 0.89322984, c2 = 0.82122666, c3 = 2.4555075, c4 = 2.4450665, c5 = 0.8146427;
    return x * ((c1 + c2 * a) * q + c3 * (1.0 + a)) / (c4 + std::fabs(x + c5 * x * a) * (q + c4));
}

float fastTanh(float x) {
    Eigen::Matrix<float, 1, 1> value;
    value(0) = x;
    FastMath::Tanh(value);
    return value(0);
}

} // namespace

TEST(FastTanh, SampleValuesAndLimits) {
    const struct {
        float x;
        float expected;
    } samples[] = {{0.5f, 0.46173f}, {1.0f, 0.76184f}, {2.0f, 0.96372f}, {3.0f, 0.99511f}, {10.0f, 1.0003f}};
    for (const auto& sample : samples) {
        EXPECT_NEAR(fastTanh(sample.x), sample.expected, 5e-5f) << sample.x;
    }
    EXPECT_NEAR(fastTanh(1e-4f) / 1e-4f, 2.4555075f / 2.4450665f, 1e-5f);
    EXPECT_LT(fastTanh(8.5f), 1.0f);
    EXPECT_GT(fastTanh(8.6f), 1.0f);
    EXPECT_NEAR(fastTanh(1e6f), 0.82122666f / 0.8146427f, 1e-5f);
    EXPECT_FALSE(std::isfinite(fastTanh(1e10f)));
    EXPECT_TRUE(std::isnan(fastTanh(std::numeric_limits<float>::infinity())));
    EXPECT_TRUE(std::isnan(fastTanh(std::numeric_limits<float>::quiet_NaN())));
    EXPECT_EQ(fastTanh(0.0f), 0.0f);
    EXPECT_FALSE(std::signbit(fastTanh(0.0f)));
    EXPECT_TRUE(std::signbit(fastTanh(-0.0f)));
}

// Odd to the last bit, and within float rounding of the formula whether a value is processed in a SIMD packet
// or in the scalar tail of a block (where the multiply-adds may be fused differently: a few ulps).
TEST(FastTanh, OddAndAccurateInEveryLane) {
    std::vector<float> values;
    for (float x = -12.0f; x <= 12.0f; x += 0.0137f) {
        values.push_back(x);
    }
    // Every binade up to the largest input the device's reciprocal estimate keeps accurate.
    for (float x = 1e-38f; x < 3.0e9f; x *= -1.37f) {
        values.push_back(x);
    }
    values.push_back(3.0e9f);
    std::vector<float> block = values;
    FastMath::TanhInPlace(block.data(), Eigen::Index(block.size()));
    for (std::size_t i = 0; i < values.size(); ++i) {
        const float x = values[i];
        EXPECT_NEAR(block[i], fastTanh(x), 4e-7f * std::fabs(fastTanh(x))) << x;
        EXPECT_EQ(fastTanh(-x), -fastTanh(x)) << x;
        EXPECT_NEAR(block[i], referenceTanh(x), 4e-7 * std::fabs(referenceTanh(x)) + 1e-30) << x;
    }
    Eigen::Matrix<float, 6, 16> matrix = Eigen::Matrix<float, 6, 16>::Constant(0.25f);
    FastMath::Tanh(matrix.leftCols(0));
    EXPECT_TRUE((matrix.array() == 0.25f).all());
    FastMath::Tanh(matrix.row(2));
    EXPECT_EQ(matrix(2, 7), fastTanh(0.25f));
    EXPECT_EQ(matrix(3, 7), 0.25f);
}

// Within its bound of the float64 formula in the packets and the scalar tail alike, near 0 and 1 far out, and
// NaN stays NaN.
TEST(FastLogistic, AccurateInEveryLane) {
    std::vector<float> values = {std::numeric_limits<float>::quiet_NaN(), -1e30f, 1e30f};
    for (float x = -40.0f; x <= 40.0f; x += 0.00731f) {
        values.push_back(x);
    }
    std::vector<float> block = values;
    FastMath::LogisticInPlace(block.data(), Eigen::Index(block.size()));
    EXPECT_TRUE(std::isnan(block[0]));
    for (std::size_t i = 1; i < values.size(); ++i) {
        const double x = values[i];
        EXPECT_NEAR(block[i], 1.0 / (1.0 + std::exp(-x)), 3e-7) << x;
        EXPECT_NEAR(FastMath::LogisticPacket(values[i]), 1.0 / (1.0 + std::exp(-x)), 3e-7) << x;
    }
}

// Frames written by blocks of any size stay reachable D and 2D back, across every step back of the ring.
TEST(Kernels, RingKeepsEveryFrameForAnyBlockSizes) {
    constexpr int D = 16;
    WaveNetLayerT<1, 1, 3, D> layer;
    std::mt19937 random(5);
    std::vector<float> frames;
    for (int block = 0; block < 300; ++block) {
        const auto size = std::uniform_int_distribution<std::uint64_t>(1, 16)(random);
        const std::uint64_t p = layer.writePosition;
        for (std::uint64_t t = 0; t < size; ++t) {
            // Frame values start at 1, so none is mistaken for the silence the history starts with.
            layer.history(0, Eigen::Index(p + t)) = float(frames.size() + 1);
            frames.push_back(float(frames.size() + 1));
        }
        for (std::uint64_t t = 0; t < size; ++t) {
            const std::size_t now = frames.size() - size + t;
            const float back2D = now >= 2 * D ? frames[now - 2 * D] : 0.0f;
            const float backD = now >= D ? frames[now - D] : 0.0f;
            ASSERT_EQ(layer.history(0, Eigen::Index(p + t - 2 * D)), back2D) << "block " << block;
            ASSERT_EQ(layer.history(0, Eigen::Index(p + t - D)), backD) << "block " << block;
        }
        layer.AdvanceHistory(size);
    }
}
