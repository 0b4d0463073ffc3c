// The fast-tanh switch is process-wide, so each case runs in its own process (and puts the start state back
// for a run of the whole binary).
#include "tests/nnet/NnetTestSupport.h"
#include "nnet/activations/Activation.h"
#include "nnet/get_dsp.h"

#include <gtest/gtest.h>

namespace {

using nnet::activations::Activation;

class FastTanhSwitch : public testing::Test {
protected:
    void TearDown() override {
        Activation::disable_fast_tanh();
        Activation::using_fast_tanh = true;
    }
};

Activation* tanhEntry() { return Activation::get_activation("Tanh"); }

// A disable at start only clears the flag; enabling twice then disabling restores the rational tanh.
TEST_F(FastTanhSwitch, EnableTwiceThenDisableRestoresTheRationalTanh) {
    Activation* rational = tanhEntry();
    Activation::disable_fast_tanh();
    EXPECT_EQ(tanhEntry(), rational);
    EXPECT_FALSE(Activation::using_fast_tanh);
    for (int twice = 0; twice < 2; ++twice) {
        Activation::enable_fast_tanh();
        EXPECT_EQ(tanhEntry(), Activation::get_activation("Fasttanh"));
        EXPECT_TRUE(Activation::using_fast_tanh);
    }
    Activation::disable_fast_tanh();
    EXPECT_EQ(tanhEntry(), rational);
    EXPECT_FALSE(Activation::using_fast_tanh);
    EXPECT_EQ(Activation::_activations.size(), 6u);
}

std::vector<float> run(nnet::DSP& model) {
    std::vector<float> signal = nnet_test::counting(256, 0.05f);
    model.process(signal.data(), signal.data(), static_cast<int>(signal.size()));
    return signal;
}

// Models copy their activation when built; the LSTM reads the flag at every step.
TEST_F(FastTanhSwitch, ReachesModelsBuiltAfterwardsAndLstmAtOnce) {
    const auto folder = nnet_test::modelsFolder();
    std::unique_ptr<nnet::DSP> builtBefore = nnet::get_dsp(folder / "convnet_tanh.nam");
    Activation::enable_fast_tanh();
    std::unique_ptr<nnet::DSP> builtAfter = nnet::get_dsp(folder / "convnet_tanh.nam");
    Activation::disable_fast_tanh();
    std::unique_ptr<nnet::DSP> builtOff = nnet::get_dsp(folder / "convnet_tanh.nam");
    EXPECT_EQ(run(*builtBefore), run(*builtOff));
    EXPECT_NE(run(*builtAfter), run(*builtOff));

    std::unique_ptr<nnet::DSP> lstmA = nnet::get_dsp(folder / "lstm_2x4.nam");
    std::unique_ptr<nnet::DSP> lstmB = nnet::get_dsp(folder / "lstm_2x4.nam");
    Activation::using_fast_tanh = true;
    const std::vector<float> fast = run(*lstmA);
    Activation::disable_fast_tanh();
    EXPECT_NE(run(*lstmB), fast);
}

} // namespace
