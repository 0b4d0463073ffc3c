// The LSTM model of ".nam" files against the double-precision reference of RuntimeReference.h.
#include "neural/LstmModel.h"
#include "neural/ModelLimits.h"
#include "tests/neural/RuntimeReference.h"

using namespace runtimetest;

namespace {

struct LstmCase {
    int numLayers;
    int hiddenSize;
};

void PrintTo(const LstmCase& lstmCase, std::ostream* stream) {
    *stream << lstmCase.numLayers << " x " << lstmCase.hiddenSize;
}

std::unique_ptr<RuveroRidev::LstmModel> bareLstm(const nlohmann::json& document) {
    auto model = std::make_unique<RuveroRidev::LstmModel>();
    model->LoadFromNAMJson(document);
    return model;
}

class LstmReference : public testing::TestWithParam<LstmCase> {
protected:
    const int numLayers = GetParam().numLayers;
    const int hiddenSize = GetParam().hiddenSize;
    const std::vector<float> weights = lstmWeights(numLayers, hiddenSize, std::uint32_t(77 + hiddenSize + numLayers));
    const nlohmann::json document = lstmDocument(numLayers, hiddenSize, weights);
    const std::vector<float> signal = testSignal(3000);

    // What the model gives after half a second of silence from the file's initial state.
    std::vector<float> SettledReference() const {
        const std::size_t lead = 24000;
        const std::vector<float> full = referenceLstm(numLayers, hiddenSize, weights, withSilenceBefore(signal, lead));
        return std::vector<float>(full.begin() + std::ptrdiff_t(lead), full.end());
    }
};

} // namespace

INSTANTIATE_TEST_SUITE_P(Sizes, LstmReference,
                         testing::Values(LstmCase{1, 8}, LstmCase{1, 16}, LstmCase{2, 16}, LstmCase{1, 32},
                                         LstmCase{3, 8}),
                         [](const testing::TestParamInfo<LstmCase>& info) {
                             return std::to_string(info.param.numLayers) + "x" + std::to_string(info.param.hiddenSize);
                         });

TEST_P(LstmReference, FromTheFilesInitialState) {
    auto model = bareLstm(document);
    EXPECT_EQ(model->NumLayers(), numLayers);
    const std::vector<float> reference = referenceLstm(numLayers, hiddenSize, weights, signal);
    ASSERT_GT(spread(reference), 0.1f);
    expectClose(runModel(*model, signal), reference, "16-frame calls");
}

TEST_P(LstmReference, FactoryModelStartsSettled) {
    auto model = fromDocument(document);
    ASSERT_NE(dynamic_cast<RuveroRidev::LstmModel*>(model.get()), nullptr);
    expectClose(runModel(*model, signal), SettledReference(), "16-frame calls");
}

TEST_P(LstmReference, AnyCallSizesInPlace) {
    auto model = fromDocument(document);
    expectClose(runModel(*model, signal, {1, 7, 16, 40, 128, 3}, true), SettledReference(), "mixed calls, in place");
}

// Prewarm starts again from the file's state, so a slot switch after audio gives exactly a fresh model's output.
TEST_P(LstmReference, PrewarmAfterAudioForgetsIt) {
    auto fresh = fromDocument(document);
    auto played = fromDocument(document);
    runModel(*played, std::vector<float>(signal.rbegin(), signal.rend()));
    played->Prewarm();
    EXPECT_EQ(runModel(*played, signal), runModel(*fresh, signal));
}

TEST(LstmModel, NoLayersPassesTheInputThrough) {
    const std::vector<float> weights = lstmWeights(0, 4, 1);
    ASSERT_EQ(weights.size(), 5u);
    auto model = fromDocument(lstmDocument(0, 4, weights));
    ASSERT_NE(model, nullptr);
    const std::vector<float> signal = testSignal(100);
    EXPECT_EQ(runModel(*model, signal, {16, 3}), signal);
}

// The settling run is cut short by the multiply-add budget for large models, and always runs at least once.
TEST(LstmModel, PrewarmLengthFollowsTheBudget) {
    struct Case {
        int numLayers, hiddenSize;
        int expected;
    };
    const Case cases[] = {
        {1, 16, RuveroRidev::ModelLimits::maxPrewarmSamples},
        {1, 128, int(RuveroRidev::ModelLimits::maxPrewarmMultiplyAdds / (4 * 128 * 129 + 2 * 128 + 128))},
    };
    for (const Case& c : cases) {
        auto model = bareLstm(lstmDocument(c.numLayers, c.hiddenSize, lstmWeights(c.numLayers, c.hiddenSize, 2)));
        EXPECT_EQ(model->PrewarmLimit(), c.expected) << c.hiddenSize;
    }
}
