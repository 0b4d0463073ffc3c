// Every shape against the double-precision reference of generate_models.py, over a sine sweep, noise and steps.
#include "tests/neural/ModelFiles.h"

#include <random>

using namespace neuraltest;

template <class S>
class ModelReference : public testing::Test {
protected:
    const std::vector<float> signal = testSignal();
    const std::vector<float> bareReference = readSamples(modelPath(S::channels, S::headSize, ".bare.f32"));
    const std::vector<float> settledReference = readSamples(modelPath(S::channels, S::headSize, ".prewarmed.f32"));
    const std::string fileText = readText(modelPath(S::channels, S::headSize));
};
TYPED_TEST_SUITE(ModelReference, Shapes, ShapeNames);

TYPED_TEST(ModelReference, LoadWithoutPrewarmStartsFromZeroHistories) {
    auto model = bareModel<TypeParam>(nlohmann::json::parse(this->fileText));
    expectClose(runModel(*model, this->signal), this->bareReference, "16-frame calls");
}

TYPED_TEST(ModelReference, FactoryModelStartsFromSettledSilence) {
    auto model = modelFromText(this->fileText);
    ASSERT_NE(model, nullptr);
    expectClose(runModel(*model, this->signal), this->settledReference, "16-frame calls");
}

// Any sequence of call sizes, with input and output in the same array, computes the same samples.
TYPED_TEST(ModelReference, MixedCallSizesInPlace) {
    std::mt19937 random(7);
    std::vector<unsigned long> callSizes(200);
    for (auto& size : callSizes) {
        size = std::uniform_int_distribution<unsigned long>(1, 40)(random);
    }
    auto model = modelFromText(this->fileText);
    ASSERT_NE(model, nullptr);
    std::vector<float> samples = this->signal;
    std::size_t done = 0;
    for (std::size_t call = 0; done < samples.size(); ++call) {
        const unsigned long size = std::min<unsigned long>(callSizes[call % callSizes.size()], samples.size() - done);
        model->Process(samples.data() + done, samples.data() + done, size);
        done += size;
    }
    expectClose(samples, this->settledReference, "in place, calls of 1 to 40 frames");
}

// A slot switch prewarms a model that has played: nothing of the earlier audio may come back afterwards, even
// from the ring layers whose windows step back below where the earlier audio was written.
TYPED_TEST(ModelReference, PrewarmAfterAudioForgetsIt) {
    struct Case {
        const char* name;
        std::vector<unsigned long> callSizes;
        std::size_t framesBefore;
    };
    const Case cases[] = {
        {"37 blocks of 16", {16}, 37 * 16},
        {"calls of 5 and 11", {5, 11}, 1234},
        {"a long run", {16}, 5000},
    };
    for (const Case& c : cases) {
        auto model = bareModel<TypeParam>(nlohmann::json::parse(this->fileText));
        std::vector<float> earlier(this->signal.begin(), this->signal.begin() + std::ptrdiff_t(c.framesBefore));
        runModel(*model, earlier, c.callSizes);
        model->Prewarm();
        expectClose(runModel(*model, this->signal), this->settledReference, c.name);
    }
}

TYPED_TEST(ModelReference, PrewarmTwiceEqualsOnce) {
    auto once = bareModel<TypeParam>(nlohmann::json::parse(this->fileText));
    once->Prewarm();
    auto twice = modelFromText(this->fileText);
    twice->Prewarm();
    EXPECT_EQ(runModel(*once, this->signal), runModel(*twice, this->signal));
}

// Silence after Prewarm gives the constant that a bare model reaches after its whole receptive field of silence.
TYPED_TEST(ModelReference, SilenceAfterPrewarmIsSteady) {
    auto prewarmed = modelFromText(this->fileText);
    const std::vector<float> prewarmedOutput = runModel(*prewarmed, std::vector<float>(16, 0.0f));
    auto bare = bareModel<TypeParam>(nlohmann::json::parse(this->fileText));
    const std::vector<float> settledOutput = runModel(*bare, std::vector<float>(4096 + 16, 0.0f));
    const float tolerance = 1e-5f * std::max(1.0f, std::fabs(prewarmedOutput[0]));
    for (std::size_t i = 0; i < 16; ++i) {
        EXPECT_NEAR(prewarmedOutput[i], prewarmedOutput[0], tolerance) << i;
        EXPECT_NEAR(prewarmedOutput[i], settledOutput[4096 + i], tolerance) << i;
    }
}
