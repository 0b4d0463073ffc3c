// The same file of the <16, 8> standard shape through this library and through the main library's
// fixed-shape model, built straight from its registry entry (the main library's fast tanh is its "Tanh").
#include "neural/InternalWaveNetDefinition.h"
#include "neural/NeuralModel.h"
#include "tests/nnet/NnetTestSupport.h"
#include "nnet/get_dsp.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

struct Outputs {
    std::vector<float> secondary;
    std::vector<float> fixed;
};

Outputs runBoth(const std::string& file) {
    const std::filesystem::path path = nnet_test::modelsFolder() / file;
    const RuveroRidev::InternalWaveNetDefinition* shape = RuveroRidev::InternalWaveNetDefinition::Registry()[0];
    EXPECT_EQ(shape->GetNumChannels(), 16);
    EXPECT_EQ(shape->GetHeadSize(), 8);
    std::unique_ptr<RuveroRidev::NeuralModel> fixed = shape->CreateModel();
    EXPECT_TRUE(fixed->LoadFromNAMJson(nnet_test::readJson(path)));
    fixed->Prewarm();
    std::unique_ptr<nnet::DSP> secondary = nnet::get_dsp(path);

    std::vector<float> signal(4800);
    for (size_t t = 0; t < signal.size(); ++t)
        signal[t] = 0.5f * std::sin(0.02f * t) + 0.2f * std::sin(0.37f * t + 1.0f);
    Outputs outputs{signal, signal};
    for (size_t position = 0; position < signal.size(); position += 16) {
        secondary->process(outputs.secondary.data() + position, outputs.secondary.data() + position, 16);
        fixed->Process(outputs.fixed.data() + position, outputs.fixed.data() + position, 16);
    }
    return outputs;
}

double largestError(const Outputs& outputs) {
    double largest = 0.0;
    for (size_t t = 0; t < outputs.fixed.size(); ++t) {
        const double error = std::fabs(outputs.secondary[t] - outputs.fixed[t]);
        largest = std::max(largest, error / (1e-5 + 1e-5 * std::fabs(outputs.fixed[t])));
    }
    return largest; // in units of the tolerance
}

TEST(NeuralCrossCheck, FastTanhFileMatchesTheFixedShape) {
    EXPECT_LE(largestError(runBoth("standard_fasttanh.nam")), 1.0);
}

// The negative control: the rational tanh here is not the fast tanh there, so the check can fail.
TEST(NeuralCrossCheck, RationalTanhFileDiffers) { EXPECT_GT(largestError(runBoth("standard_tanh.nam")), 10.0); }

} // namespace
