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

TEST(Activation, RegistryHoldsTheSixActivationsAtStartUnderExactNames) {
    const std::vector<std::pair<std::string, const std::type_info*>> entries = {
        {"Tanh", &typeid(nnet::activations::ActivationTanh)},
        {"Hardtanh", &typeid(nnet::activations::ActivationHardTanh)},
        {"Fasttanh", &typeid(nnet::activations::ActivationFastTanh)},
        {"ReLU", &typeid(nnet::activations::ActivationReLU)},
        {"LeakyReLU", &typeid(nnet::activations::ActivationLeakyReLU)},
        {"Sigmoid", &typeid(nnet::activations::ActivationSigmoid)},
    };
    for (const auto& [name, type] : entries) {
        Activation* activation = Activation::get_activation(name);
        ASSERT_NE(activation, nullptr) << name;
        EXPECT_EQ(typeid(*activation), *type) << name;
        EXPECT_EQ(Activation::get_activation(name), activation) << name << " is one shared instance";
    }
    EXPECT_TRUE(Activation::using_fast_tanh);
    // Lookup is exact and never inserts.
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
    // The rational tanh, reference included, is a tanh.
    for (float x : {0.001f, 0.3f, 1.0f, 2.5f, 6.0f, 50.0f}) EXPECT_NEAR(applied("Tanh", x), std::tanh(x), 1e-6) << x;
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
