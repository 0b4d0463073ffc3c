// The model factory, the registry of fixed shapes and the configuration fields every model carries.
#include "neural/InternalModel.h"
#include "neural/InternalWaveNetDefinition.h"
#include "neural/ModelCheck.h"
#include "tests/neural/ModelFiles.h"

#include <functional>
#include <limits>
#include <stdexcept>

using namespace neuraltest;
using RuveroRidev::InternalWaveNetDefinition;
using RuveroRidev::NeuralModel;
using Json = nlohmann::json;

TEST(Factory, RegistryListsTheShapesInOrder) {
    const auto registry = InternalWaveNetDefinition::Registry();
    ASSERT_EQ(registry.size(), 4u);
    const int expected[4][2] = {{16, 8}, {12, 6}, {8, 4}, {4, 2}};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(registry[i]->GetNumChannels(), expected[i][0]);
        EXPECT_EQ(registry[i]->GetHeadSize(), expected[i][1]);
        auto model = registry[i]->CreateModel();
        EXPECT_EQ(model->inputLevelDBu, 12.0f);
        EXPECT_EQ(model->outputLevelDBu, 12.0f);
        EXPECT_EQ(model->loudness, -18.0f);
        EXPECT_EQ(model->sampleRate, 48000.0f);
        EXPECT_TRUE(model->IsStatic());
        // No network yet: silence out, no receptive field, Prewarm does nothing.
        EXPECT_EQ(model->GetReceptiveFieldSize(), -1);
        model->Prewarm();
        std::vector<float> samples(20, 0.5f);
        model->Process(samples.data(), samples.data(), samples.size());
        EXPECT_EQ(samples, std::vector<float>(20, 0.0f));
    }
}

template <class S>
class FactoryShapes : public testing::Test {};
TYPED_TEST_SUITE(FactoryShapes, Shapes, ShapeNames);

TYPED_TEST(FactoryShapes, ModelFileBuildsItsFixedShape) {
    auto model = modelFromText(readText(modelPath(TypeParam::channels, TypeParam::headSize)));
    ASSERT_NE(model, nullptr);
    ASSERT_NE(dynamic_cast<typename TypeParam::Model*>(model.get()), nullptr);
    EXPECT_TRUE(model->IsStatic());
    EXPECT_EQ(model->GetLoadMode(), 0);
    EXPECT_EQ(model->GetReceptiveFieldSize(), 4092);
    EXPECT_EQ(model->GetSampleRate(), 48000.0f);
    EXPECT_FALSE(model->CreateModelFromKerasJson(Json::object()));
    model->SetMaxAudioBufferSize(3);
    EXPECT_EQ(model->GetReceptiveFieldSize(), 4092);
    // The generator gives shape number i loudness -20 + i, input level 18 - i and output level 6.5 + i.
    const float index = float(
        std::find_if(InternalWaveNetDefinition::Registry().begin(), InternalWaveNetDefinition::Registry().end(),
                     [](const InternalWaveNetDefinition* d) { return d->GetNumChannels() == TypeParam::channels; }) -
        InternalWaveNetDefinition::Registry().begin());
    EXPECT_EQ(model->GetRecommendedInputDBAdjustment(), 12.0f - (18.0f - index));
    EXPECT_EQ(model->GetRecommendedOutputDBAdjustment(), -18.0f - (-20.0f + index));
    EXPECT_EQ(model->outputLevelDBu, 6.5f + index);
}

// Which documents the fixed shapes take: everything about the network must be as the shape has it.
TEST(Factory, ShapeMatching) {
    const Json small = readDocument(8, 4);
    const Json large = readDocument(16, 8);
    struct Case {
        const char* name;
        const Json* base;
        std::function<void(Json&)> change;
        int channels; // 0: no fixed shape
    };
    auto layer = [](Json& document, int index) -> Json& { return document["config"]["layers"][index]; };
    const Case cases[] = {
        {"8x4 file", &small, [](Json&) {}, 8},
        {"16x8 file", &large, [](Json&) {}, 16},
        {"no head member", &small, [](Json& d) { d["config"].erase("head"); }, 8},
        {"sizes written as decimals", &small, [&](Json& d) { layer(d, 0)["channels"] = 8.0; }, 8},
        {"architecture LSTM", &small, [](Json& d) { d["architecture"] = "LSTM"; }, 0},
        {"no architecture", &small, [](Json& d) { d.erase("architecture"); }, 0},
        {"no config", &small, [](Json& d) { d.erase("config"); }, 0},
        {"three layer arrays", &small, [&](Json& d) { d["config"]["layers"].push_back(layer(d, 1)); }, 0},
        {"gated array 0", &small, [&](Json& d) { layer(d, 0)["gated"] = true; }, 0},
        {"gated missing in array 1", &small, [&](Json& d) { layer(d, 1).erase("gated"); }, 0},
        {"head bias in array 0", &small, [&](Json& d) { layer(d, 0)["head_bias"] = true; }, 0},
        {"no head bias in array 1", &small, [&](Json& d) { layer(d, 1)["head_bias"] = false; }, 0},
        {"kernel size 5", &small, [&](Json& d) { layer(d, 0)["kernel_size"] = 5; }, 0},
        {"kernel size 2 in array 1", &small, [&](Json& d) { layer(d, 1)["kernel_size"] = 2; }, 0},
        {"ReLU activation", &small, [&](Json& d) { layer(d, 1)["activation"] = "ReLU"; }, 0},
        {"condition size 2", &small, [&](Json& d) { layer(d, 0)["condition_size"] = 2; }, 0},
        {"input size 2", &small, [&](Json& d) { layer(d, 0)["input_size"] = 2; }, 0},
        {"array 1 input size 4", &small, [&](Json& d) { layer(d, 1)["input_size"] = 4; }, 0},
        {"array 1 with 8 channels", &small, [&](Json& d) { layer(d, 1)["channels"] = 8; }, 0},
        {"array 1 head size 2", &small, [&](Json& d) { layer(d, 1)["head_size"] = 2; }, 0},
        {"a head network", &small, [](Json& d) { d["config"]["head"] = Json::object(); }, 0},
        {"array 0 one dilation short", &small, [&](Json& d) { layer(d, 0)["dilations"].erase(6); }, 0},
        {"array 0 one dilation other", &small, [&](Json& d) { layer(d, 0)["dilations"][2] = 3; }, 0},
        {"array 1 dilations of the 16-channel shape", &small,
         [&](Json& d) { layer(d, 1)["dilations"] = layer(d, 0)["dilations"]; }, 0},
        {"16 channels with the short dilations", &small,
         [&](Json& d) {
             layer(d, 0)["channels"] = 16;
             layer(d, 0)["head_size"] = 8;
             layer(d, 1)["input_size"] = 16;
             layer(d, 1)["channels"] = 8;
         },
         0},
        {"12 channels, head size 4", &small,
         [&](Json& d) {
             layer(d, 0)["channels"] = 12;
             layer(d, 1)["input_size"] = 12;
         },
         0},
        {"layers not an array", &small, [](Json& d) { d["config"]["layers"] = Json::object(); }, 0},
        {"an array document", &small, [](Json& d) { d = Json::array({d}); }, 0},
    };
    for (const Case& c : cases) {
        Json document = *c.base;
        c.change(document);
        const InternalWaveNetDefinition* definition = InternalWaveNetDefinition::Find(document);
        if (c.channels == 0) {
            EXPECT_EQ(definition, nullptr) << c.name;
        } else {
            ASSERT_NE(definition, nullptr) << c.name;
            EXPECT_EQ(definition->GetNumChannels(), c.channels) << c.name;
        }
    }
}

TEST(Factory, MalformedTextThrowsTheJsonError) {
    const std::string file = readText(modelPath(4, 2));
    const std::string texts[] = {"",
                                 "{",
                                 "{\"architecture\": \"WaveNet\"",
                                 "[1, 2",
                                 "nul",
                                 file.substr(0, file.size() / 2),
                                 file.substr(0, file.size() - 1)};
    for (const std::string& text : texts) {
        EXPECT_THROW(modelFromText(text), nlohmann::json::parse_error) << text.substr(0, 40);
    }
}

// A fixed-shape document whose weights do not load makes the factory throw, as the player expects.
TEST(Factory, LoadFailuresLeaveTheFactory) {
    const Json document = readDocument(4, 2);
    Json shortList = document;
    shortList["weights"].erase(shortList["weights"].size() - 1);
    Json noWeights = document;
    noWeights.erase("weights");
    Json textWeight = document;
    textWeight["weights"][3] = "x";
    EXPECT_THROW(modelFromText(shortList.dump()), std::invalid_argument);
    EXPECT_THROW(modelFromText(noWeights.dump()), nlohmann::json::out_of_range);
    EXPECT_THROW(modelFromText(textWeight.dump()), nlohmann::json::type_error);
    // The check before an upload is kept reads the shape's weights, each a finite float, and no further.
    Json beyondFloat = readDocument(8, 4), pastTheCount = beyondFloat; // a fixed shape
    beyondFloat["weights"][3] = 1e39;
    pastTheCount["weights"].push_back(1e39);
    std::string reason;
    const auto check = [&](const Json& model) {
        const std::string text = model.dump();
        return RuveroRidev::ModelCheck::Check({text.begin(), text.end()}, reason);
    };
    EXPECT_FALSE(check(beyondFloat));
    EXPECT_EQ(reason, "weight 3 is not a finite float");
    EXPECT_TRUE(check(pastTheCount)) << reason;
}

// Numbers are taken, anything else keeps the field as it was.
TEST(ModelConfig, ReadNAMConfig) {
    struct Case {
        const char* name;
        Json document;
        float sampleRate, loudness, inputLevel, outputLevel;
    };
    const Case cases[] = {
        {"all present",
         {{"sample_rate", 44100},
          {"metadata", {{"loudness", -23.5}, {"input_level_dbu", 16}, {"output_level_dbu", 3.25}}}},
         44100.0f,
         -23.5f,
         16.0f,
         3.25f},
        {"empty object", Json::object(), 48000.0f, -18.0f, 12.0f, 12.0f},
        {"not an object", Json::array({1, 2}), 48000.0f, -18.0f, 12.0f, 12.0f},
        {"metadata not an object", {{"metadata", "loud"}, {"sample_rate", 96000.0}}, 96000.0f, -18.0f, 12.0f, 12.0f},
        {"null and text members",
         {{"sample_rate", nullptr},
          {"metadata", {{"loudness", nullptr}, {"input_level_dbu", "16"}, {"output_level_dbu", true}}}},
         48000.0f,
         -18.0f,
         12.0f,
         12.0f},
        {"sample rate not positive", {{"sample_rate", 0}}, 48000.0f, -18.0f, 12.0f, 12.0f},
        {"beyond float",
         {{"sample_rate", 1e300}, {"metadata", {{"loudness", -1e300}}}},
         48000.0f,
         -18.0f,
         12.0f,
         12.0f},
        {"members at the top level only", {{"loudness", -30}, {"input_level_dbu", 3}}, 48000.0f, -18.0f, 12.0f, 12.0f},
    };
    for (const Case& c : cases) {
        RuveroRidev::InternalWaveNetModelT<4, 2> model;
        model.ReadNAMConfig(c.document);
        EXPECT_EQ(model.sampleRate, c.sampleRate) << c.name;
        EXPECT_EQ(model.loudness, c.loudness) << c.name;
        EXPECT_EQ(model.inputLevelDBu, c.inputLevel) << c.name;
        EXPECT_EQ(model.outputLevelDBu, c.outputLevel) << c.name;
    }
}

namespace {

// A built-in model that records how the base class drives it.
class RecordingModel : public RuveroRidev::InternalModel {
public:
    std::function<bool(const Json&)> create;
    float loudnessSeenByCreate = 0.0f;

    void SetMaxAudioBufferSize(int) override {}
    void Process(float*, float* output, unsigned long numFrames) noexcept override {
        std::fill_n(output, numFrames, 0.0f);
    }
    bool CreateModelFromNAMJson(const Json& modelJson) override {
        loudnessSeenByCreate = loudness;
        return create(modelJson);
    }
};

} // namespace

TEST(ModelBase, DefaultsAndLoadOrder) {
    RecordingModel model;
    EXPECT_EQ(model.GetLoadMode(), 0);
    EXPECT_FALSE(model.IsStatic());
    EXPECT_EQ(model.GetReceptiveFieldSize(), -1);
    EXPECT_EQ(model.GetSampleRate(), 48000.0f);
    EXPECT_EQ(model.GetRecommendedInputDBAdjustment(), 0.0f);
    EXPECT_EQ(model.GetRecommendedOutputDBAdjustment(), 0.0f);
    EXPECT_FALSE(model.CreateModelFromKerasJson(Json::object()));
    EXPECT_EQ(NeuralModel::defaultMaxAudioBufferSize, 128);
    EXPECT_EQ(NeuralModel::audioInputLevelDBu, 12.0f);

    const Json document = {{"metadata", {{"loudness", -12.0}, {"input_level_dbu", 20.0}}}};
    model.create = [](const Json&) { return false; };
    EXPECT_FALSE(model.LoadFromNAMJson(document));
    EXPECT_EQ(model.loudnessSeenByCreate, -12.0f) << "the configuration is read first";
    EXPECT_EQ(model.GetRecommendedInputDBAdjustment(), -8.0f);
    EXPECT_EQ(model.GetRecommendedOutputDBAdjustment(), -6.0f);
    model.create = [](const Json&) { return true; };
    EXPECT_TRUE(model.LoadFromNAMJson(document));
    model.create = [](const Json& d) { return d.at("missing").get<bool>(); };
    EXPECT_THROW(model.LoadFromNAMJson(document), nlohmann::json::out_of_range);
}
