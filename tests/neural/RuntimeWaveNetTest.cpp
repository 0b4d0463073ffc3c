// The runtime-sized WaveNet: on the four fixed shapes against the fixed-size path and its numpy reference, and
// on gated and non-gated networks of other sizes, kernels and activations against the double-precision
// reference of RuntimeReference.h.
#include "tests/neural/ModelFiles.h"
#include "tests/neural/RuntimeReference.h"
#include "neural/RuntimeWaveNetModel.h"

#include <random>

using namespace runtimetest;

namespace {

std::unique_ptr<RuveroRidev::RuntimeWaveNetModel> bareRuntimeModel(const nlohmann::json& document) {
    auto model = std::make_unique<RuveroRidev::RuntimeWaveNetModel>();
    model->LoadFromNAMJson(document);
    return model;
}

std::vector<unsigned long> randomCallSizes(std::uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<unsigned long> sizes(300);
    for (auto& size : sizes) {
        size = 1 + random() % 40;
    }
    return sizes;
}

} // namespace

// ---------------------------------------------------------------------------------------------------------
// The fixed shapes forced through the runtime-sized path

template <class S>
class RuntimeOnFixedShape : public testing::Test {
protected:
    const nlohmann::json document = neuraltest::readDocument(S::channels, S::headSize);
    const std::vector<float> signal = neuraltest::testSignal();
};
TYPED_TEST_SUITE(RuntimeOnFixedShape, neuraltest::Shapes, neuraltest::ShapeNames);

TYPED_TEST(RuntimeOnFixedShape, GivesTheFixedPathsOutput) {
    auto fixed = neuraltest::bareModel<TypeParam>(this->document);
    auto runtime = bareRuntimeModel(this->document);
    EXPECT_EQ(runtime->GetReceptiveFieldSize(), 4092);
    EXPECT_TRUE(runtime->network->Compiled()) << "a fixed shape fell back to the generic kernel";
    expectClose(runModel(*runtime, this->signal), runModel(*fixed, this->signal), "from zero histories", 1e-5f);

    fixed = neuraltest::bareModel<TypeParam>(this->document);
    runtime = bareRuntimeModel(this->document);
    fixed->Prewarm();
    runtime->Prewarm();
    const std::vector<float> runtimeOutput = runModel(*runtime, this->signal);
    expectClose(runtimeOutput, runModel(*fixed, this->signal), "prewarmed", 1e-5f);
    const std::vector<float> numpyReference =
        neuraltest::readSamples(neuraltest::modelPath(TypeParam::channels, TypeParam::headSize, ".prewarmed.f32"));
    expectClose(runtimeOutput, numpyReference, "prewarmed, against the numpy reference");
}

// ---------------------------------------------------------------------------------------------------------
// Other shapes against the double-precision reference

struct NetworkCase {
    const char* name;
    std::vector<ArrayShape> arrays;
    bool compiled; // every product served by a compiled kernel, not the generic one
};

void PrintTo(const NetworkCase& networkCase, std::ostream* stream) { *stream << networkCase.name; }

class RuntimeWaveNetReference : public testing::TestWithParam<NetworkCase> {
protected:
    const std::vector<ArrayShape>& arrays = GetParam().arrays;
    const std::vector<float> weights = waveNetWeights(arrays, 1000 + std::uint32_t(arrays.size()));
    const nlohmann::json document = waveNetDocument(arrays, weights);
    const std::vector<float> signal = testSignal();
    // Settled: the reference runs a whole receptive field of silence first.
    std::vector<float> SettledReference() const {
        const std::size_t lead = std::size_t(receptiveField(arrays)) + 100;
        const std::vector<float> full = referenceWaveNet(arrays, weights, withSilenceBefore(signal, lead));
        return std::vector<float>(full.begin() + std::ptrdiff_t(lead), full.end());
    }
};

const NetworkCase networkCases[] = {
    {"GatedThreeArrays",
     {{1, 4, 6, 3, {1, 3, 7, 100, 100}, "Tanh", true, false},
      {6, 3, 4, 3, {2, 37, 5}, "Tanh", true, true},
      {4, 1, 3, 3, {64, 1}, "Tanh", true, true}},
     false},
    {"KernelTwoLeakyReLUHardtanh",
     {{1, 5, 5, 2, {1, 2, 4, 8, 300}, "LeakyReLU", false, true}, {5, 1, 5, 2, {17, 1000}, "Hardtanh", false, false}},
     false},
    {"KernelFourReLUSigmoid",
     {{1, 2, 7, 4, {3, 9, 27}, "ReLU", true, false}, {7, 1, 2, 4, {81, 2}, "Sigmoid", false, true}},
     false},
    {"KernelOneFasttanh", {{1, 1, 8, 1, {1, 1, 1}, "Fasttanh", false, true}}, false},
    {"Gated16Channels",
     {{1, 8, 16, 3, {1, 2, 4, 8, 16, 32, 64, 128, 256, 512}, "Tanh", true, false},
      {16, 1, 8, 3, {1, 2, 4, 8, 16, 32, 64, 128, 256, 512}, "Tanh", true, true}},
     true},
    {"CompiledHardtanhReLU",
     {{1, 2, 8, 3, {1, 2, 4, 700}, "Hardtanh", false, false}, {8, 1, 2, 3, {3, 9}, "ReLU", false, true}},
     true},
    {"WideGatedOddWidths",
     {{1, 19, 40, 2, {1, 5, 33}, "Tanh", true, false}, {40, 1, 19, 3, {2, 7}, "Sigmoid", false, true}},
     false},
    {"ThirteenChannels", {{1, 1, 13, 3, {1, 16, 17}, "Fasttanh", false, true}}, false},
    {"CompiledGatedSigmoidHardtanhLeakyReLU",
     {{1, 4, 4, 3, {1, 2, 300}, "Sigmoid", true, false},
      {4, 2, 4, 3, {5, 40}, "Hardtanh", true, true},
      {4, 1, 2, 3, {3}, "LeakyReLU", true, true}},
     true},
};

INSTANTIATE_TEST_SUITE_P(Networks, RuntimeWaveNetReference, testing::ValuesIn(networkCases),
                         [](const testing::TestParamInfo<NetworkCase>& info) { return std::string(info.param.name); });

TEST_P(RuntimeWaveNetReference, FromZeroHistories) {
    auto model = bareRuntimeModel(document);
    EXPECT_EQ(model->GetReceptiveFieldSize(), receptiveField(arrays));
    EXPECT_EQ(model->network->Compiled(), GetParam().compiled);
    const std::vector<float> reference = referenceWaveNet(arrays, weights, signal);
    ASSERT_GT(spread(reference), 0.1f);
    expectClose(runModel(*model, signal), reference, "16-frame calls");
}

TEST_P(RuntimeWaveNetReference, FactoryModelStartsSettled) {
    auto model = fromDocument(document);
    ASSERT_NE(dynamic_cast<RuveroRidev::RuntimeWaveNetModel*>(model.get()), nullptr);
    expectClose(runModel(*model, signal), SettledReference(), "16-frame calls");
}

// The ring histories are exact for any sequence of call sizes, in place as well.
TEST_P(RuntimeWaveNetReference, AnyCallSizesInPlace) {
    auto model = fromDocument(document);
    expectClose(runModel(*model, signal, randomCallSizes(5), true), SettledReference(), "calls of 1 to 40, in place");
}

// A slot switch prewarms a model that has played: nothing of the earlier audio may come back.
TEST_P(RuntimeWaveNetReference, PrewarmAfterAudioForgetsIt) {
    auto model = fromDocument(document);
    runModel(*model, std::vector<float>(signal.rbegin(), signal.rend()), {5, 11, 16, 3});
    model->Prewarm();
    model->Prewarm();
    expectClose(runModel(*model, signal), SettledReference(), "after audio and two Prewarm calls");
}

// ---------------------------------------------------------------------------------------------------------
// Edges of the model object

TEST(RuntimeWaveNetModel, WithoutNetworkGivesSilence) {
    RuveroRidev::RuntimeWaveNetModel model;
    std::vector<float> samples(40, 0.5f);
    model.Prewarm();
    model.Process(samples.data(), samples.data(), samples.size());
    EXPECT_EQ(samples, std::vector<float>(40, 0.0f));
    EXPECT_EQ(model.GetReceptiveFieldSize(), -1);
}

TEST(RuntimeWaveNetModel, ZeroFramesTouchNothing) {
    const std::vector<ArrayShape> arrays = networkCases[0].arrays;
    auto model = fromDocument(waveNetDocument(arrays, waveNetWeights(arrays, 3)));
    float sample = 42.0f;
    model->Process(&sample, &sample, 0);
    EXPECT_EQ(sample, 42.0f);
}

// A refused reload leaves the loaded network in place.
TEST(RuntimeWaveNetModel, RefusedReloadKeepsTheNetwork) {
    const std::vector<ArrayShape> arrays = networkCases[1].arrays;
    const std::vector<float> weights = waveNetWeights(arrays, 8);
    auto model = bareRuntimeModel(waveNetDocument(arrays, weights));
    nlohmann::json broken = waveNetDocument(arrays, weights);
    broken["weights"].erase(broken["weights"].size() - 1);
    EXPECT_THROW(model->LoadFromNAMJson(broken), std::invalid_argument);
    ASSERT_NE(model->network, nullptr);
    const std::vector<float> signal = testSignal(800);
    expectClose(runModel(*model, signal), referenceWaveNet(arrays, weights, signal), "after the refused reload");
}
