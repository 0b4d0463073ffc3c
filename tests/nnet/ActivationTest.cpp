#include "tests/nnet/NnetTestSupport.h"
#include "nnet/activations/Activation.h"
#include "nnet/activations/ActivationFastTanh.h"
#include "nnet/activations/ActivationHardTanh.h"
#include "nnet/activations/ActivationLeakyReLU.h"
#include "nnet/activations/ActivationReLU.h"
#include "nnet/activations/ActivationSigmoid.h"
#include "nnet/activations/ActivationTanh.h"
#include "nnet/util.h"

#include <cmath>
#include <gtest/gtest.h>
#include <typeinfo>

namespace {

using nnet::activations::Activation;

float applied(const std::string& name, float x) {
    Activation::get_activation(name)->apply(&x, 1);
    return x;
}

TEST(Activation, RegistryHoldsTheSixActivationsAtStart) {
    const std::vector<std::pair<std::string, const std::type_info*>> entries = {
        {"Tanh", &typeid(nnet::activations::ActivationTanh)},
        {"Hardtanh", &typeid(nnet::activations::ActivationHardTanh)},
        {"Fasttanh", &typeid(nnet::activations::ActivationFastTanh)},
        {"ReLU", &typeid(nnet::activations::ActivationReLU)},
        {"LeakyReLU", &typeid(nnet::activations::ActivationLeakyReLU)},
        {"Sigmoid", &typeid(nnet::activations::ActivationSigmoid)},
    };
    EXPECT_EQ(Activation::_activations.size(), 6u);
    for (const auto& [name, type] : entries) {
        Activation* activation = Activation::get_activation(name);
        ASSERT_NE(activation, nullptr) << name;
        EXPECT_EQ(typeid(*activation), *type) << name;
        EXPECT_EQ(Activation::get_activation(name), activation) << name << " is one shared instance";
    }
    EXPECT_TRUE(Activation::using_fast_tanh);
}

TEST(Activation, LookupIsExactAndNeverInserts) {
    for (const char* name : {"sigmoid", "tanh", "RELU", "", "Tanh ", "Swish"})
        EXPECT_EQ(Activation::get_activation(name), nullptr) << name;
    EXPECT_EQ(Activation::_activations.size(), 6u);
}

TEST(Activation, ElementFunctionsMatchTheReference) {
    const nlohmann::json table = nnet_test::readJson(nnet_test::modelsFolder() / "cases.json")["activations"];
    const std::vector<float> input = table["input"].get<std::vector<float>>();
    for (const auto& [name, expectedJson] : table["expected"].items()) {
        const std::vector<double> expected = expectedJson.get<std::vector<double>>();
        std::vector<float> values = input;
        Activation::get_activation(name)->apply(values.data(), static_cast<long>(values.size()));
        for (size_t i = 0; i < values.size(); ++i)
            EXPECT_NEAR(values[i], expected[i], 4e-7 + 4e-7 * std::fabs(expected[i])) << name << " of " << input[i];
    }
}

TEST(Activation, EdgeValues) {
    EXPECT_EQ(applied("Tanh", 0.0003f), 0.0003f);
    EXPECT_EQ(applied("Tanh", 8.0f), applied("Tanh", 7.905311f));
    EXPECT_EQ(applied("Tanh", 100.0f), applied("Tanh", 7.905311f));
    for (float x : {0.001f, 0.3f, 1.0f, 2.5f, 6.0f, 50.0f}) {
        EXPECT_EQ(applied("Tanh", -x), -applied("Tanh", x)) << x;
        EXPECT_NEAR(applied("Tanh", x), std::tanh(x), 1e-6) << x;
    }
    EXPECT_EQ(applied("Fasttanh", 0.0f), 0.0f);
    EXPECT_NEAR(applied("Fasttanh", 1.0f), std::tanh(1.0f), 0.001);
    EXPECT_NEAR(applied("Fasttanh", 100.0f), 1.0067f, 0.0005);
    EXPECT_GT(applied("Fasttanh", 100.0f), 1.0f);

    const std::vector<std::tuple<const char*, float, float>> exact = {
        {"Hardtanh", -3.0f, -1.0f}, {"Hardtanh", 0.5f, 0.5f},  {"Hardtanh", 2.0f, 1.0f}, {"ReLU", -2.0f, 0.0f},
        {"ReLU", 3.0f, 3.0f},       {"LeakyReLU", 3.0f, 3.0f}, {"Sigmoid", 0.0f, 0.5f},
    };
    for (const auto& [name, x, y] : exact) EXPECT_EQ(applied(name, x), y) << name << " of " << x;
    EXPECT_FLOAT_EQ(applied("LeakyReLU", -2.0f), -0.02f);
}

TEST(Activation, MatrixAndBlockFormsTouchExactlyTheirCoefficients) {
    Activation* relu = Activation::get_activation("ReLU");
    const Eigen::MatrixXf negative = Eigen::MatrixXf::Constant(3, 4, -1.0f);

    Eigen::MatrixXf whole = negative;
    relu->apply(whole);
    EXPECT_TRUE(whole.isZero());

    Eigen::MatrixXf panel = negative;
    relu->apply(panel.middleCols(1, 2));
    EXPECT_EQ((panel.array() == 0.0f).count(), 6);
    EXPECT_TRUE(panel.middleCols(1, 2).isZero());

    Eigen::MatrixXf partOfColumn = negative;
    relu->apply(partOfColumn.block(1, 2, 2, 1));
    EXPECT_EQ((partOfColumn.array() == 0.0f).count(), 2);
    EXPECT_TRUE(partOfColumn.block(1, 2, 2, 1).isZero());

    // Rows of several columns are not one contiguous run; only the block's own coefficients change.
    Eigen::MatrixXf rowsOfColumns = negative;
    relu->apply(rowsOfColumns.block(0, 1, 2, 3));
    EXPECT_EQ((rowsOfColumns.array() == 0.0f).count(), 6);
    EXPECT_TRUE(rowsOfColumns.block(0, 1, 2, 3).isZero());

    // A size below one does nothing.
    float value = -1.0f;
    relu->apply(&value, 0);
    relu->apply(&value, -3);
    EXPECT_EQ(value, -1.0f);
}

TEST(Util, LowercaseTouchesEveryByte) {
    EXPECT_EQ(nnet::util::lowercase("WaveNet ReLU-2"), "wavenet relu-2");
    EXPECT_EQ(nnet::util::lowercase(""), "");
}

} // namespace
