#include "tests/nnet/NnetTestSupport.h"
#include "nnet/get_dsp.h"
#include "nnet/lstm/LSTM.h"

#include <gtest/gtest.h>

namespace {

using nlohmann::json;
using nnet_test::thrownText;
using nnet_test::writeModel;

const std::string unsupportedAdvice =
    ". Try converting the model to a more recent version, or update the host plug-in.";

// A valid one-tap linear model: y = 0.5 x + 0.25.
json linearModel() {
    return {{"version", "0.5.2"},
            {"architecture", "Linear"},
            {"config", {{"receptive_field", 1}, {"bias", true}}},
            {"weights", {0.5, 0.25}}};
}

json wavenetModel() {
    json layer = {{"input_size", 1},  {"condition_size", 1},  {"head_size", 1}, {"channels", 1},     {"kernel_size", 1},
                  {"dilations", {1}}, {"activation", "ReLU"}, {"gated", false}, {"head_bias", false}};
    // rechannel 1, conv 1 + bias 1, mixin 1, 1x1 1 + bias 1, head rechannel 1, head scale 1
    return {{"version", "0.5.0"},
            {"architecture", "WaveNet"},
            {"config", {{"layers", {layer}}, {"head_scale", 1.0}}},
            {"weights", json::array({1, 1, 0, 0, 0, 0, 1, 1})}};
}

std::unique_ptr<nnet::DSP> load(const json& model) { return nnet::get_dsp(writeModel("loader", model)); }

// The text of the E that loading the linear (or WaveNet) model throws once edited.
template <typename E>
std::string refusalOf(const std::function<void(json&)>& edit, bool wavenet = false) {
    json model = wavenet ? wavenetModel() : linearModel();
    edit(model);
    return thrownText<E>([&] { load(model); });
}

float outputFor(nnet::DSP& model, float x) {
    model.process(&x, &x, 1);
    return x;
}

TEST(Loader, VersionCheck) {
    for (const char* accepted : {"0.5.7", "0.5.0", "0.5.1x", " 0.5.3", "0.5.2\nrest"})
        EXPECT_NO_THROW(nnet::verify_config_version(accepted)) << accepted;

    for (const std::string version : {"0.6.0", "1.5.0", "0.4.9"})
        EXPECT_EQ(thrownText<std::runtime_error>([&] { nnet::verify_config_version(version); }),
                  "Model config is an unsupported version " + version + unsupportedAdvice);

    for (const char* invalid : {"0.5", "x.5.0", "0..1", ""})
        EXPECT_EQ(thrownText<std::invalid_argument>([&] { nnet::verify_config_version(invalid); }),
                  std::string("Invalid version string: ") + invalid);
    EXPECT_EQ(thrownText<std::invalid_argument>([] { nnet::verify_config_version("0.-5.0"); }),
              "Negative version component: 0.-5.0");
    EXPECT_EQ(thrownText<std::out_of_range>([] { nnet::verify_config_version("0.5.99999999999"); }),
              "Version string out of range: 0.5.99999999999");
}

TEST(Loader, FileFailures) {
    EXPECT_EQ(thrownText<std::runtime_error>([] { nnet::get_dsp("/nonexistent/model.nam"); }),
              "Config file doesn't exist!\n");
    EXPECT_THROW(nnet::get_dsp(writeModel("broken", std::string("{\"version\": \"0.5.0\", "))), json::parse_error);

    EXPECT_EQ(refusalOf<json::type_error>([](json& m) { m.erase("version"); }),
              "[json.exception.type_error.302] type must be string, but is null");
    EXPECT_THROW(load(json::array({1, 2})), json::type_error);

    EXPECT_EQ(refusalOf<std::runtime_error>([](json& m) { m.erase("weights"); }),
              "Corrupted model file is missing weights.");
    EXPECT_EQ(thrownText<std::runtime_error>([] { nnet::GetWeights(json::array()); }),
              "Corrupted model file is missing weights.");

    EXPECT_EQ(refusalOf<std::runtime_error>([](json& m) { m["architecture"] = "linear"; }),
              "Unrecognized architecture");

    EXPECT_EQ(refusalOf<json::type_error>([](json& m) { m["config"]["layers"] = 3; }, true),
              "[json.exception.type_error.305] cannot use operator[] with a numeric argument with number");

    EXPECT_EQ(refusalOf<json::type_error>([](json& m) { m["config"]["receptive_field"] = "8"; }),
              "[json.exception.type_error.302] type must be number, but is string");

    EXPECT_EQ(refusalOf<json::type_error>([](json& m) { m.erase("config"); }),
              "[json.exception.type_error.302] type must be number, but is null");

    // A size beyond int would be a plain (undefined) cast in the JSON library.
    EXPECT_EQ(refusalOf<std::out_of_range>([](json& m) { m["config"]["receptive_field"] = 1e12; }),
              "Model config value of \"receptive_field\" is out of range");

    // A WaveNet head is refused unless null.
    EXPECT_NO_THROW(load(wavenetModel()));
    json nullHead = wavenetModel();
    nullHead["config"]["head"] = nullptr;
    EXPECT_NO_THROW(load(nullHead));
    for (const json& head : {json(0), json::object(), json("none")}) {
        json withHead = wavenetModel();
        withHead["config"]["head"] = head;
        EXPECT_EQ(thrownText<std::runtime_error>([&] { load(withHead); }), "Head not implemented!") << head;
    }
}

TEST(Loader, MetadataAndSampleRate) {
    json model = linearModel();
    model["metadata"] = {{"loudness", -18.5}, {"input_level_dbu", 12.25}, {"output_level_dbu", nullptr}};
    model["sample_rate"] = 44100;
    nnet::dspData data;
    std::unique_ptr<nnet::DSP> dsp = nnet::get_dsp(writeModel("metadata", model), data);
    EXPECT_EQ(dsp->GetLoudness(), -18.5);
    EXPECT_TRUE(dsp->inputLevel.known);
    EXPECT_EQ(dsp->inputLevel.dbu, 12.25f);
    EXPECT_FALSE(dsp->outputLevel.known);
    EXPECT_EQ(dsp->expectedSampleRate, 44100.0);
    EXPECT_EQ(data.expected_sample_rate, 44100.0);
    EXPECT_EQ(data.architecture, "Linear");
    EXPECT_EQ(data.version, "0.5.2");
    EXPECT_EQ(data.weights, (std::vector<float>{0.5f, 0.25f}));
    EXPECT_FLOAT_EQ(outputFor(*dsp, 2.0f), 1.25f);

    std::unique_ptr<nnet::DSP> plain = load(linearModel());
    EXPECT_EQ(plain->expectedSampleRate, -1.0);
    EXPECT_EQ(thrownText<std::runtime_error>([&] { plain->GetLoudness(); }),
              "Asked for loudness of a model that doesn't know how loud it is!");

    for (const json& metadata : {json{{"loudness", nullptr}}, json::array({1, 2}), json(7)}) {
        json ignored = linearModel();
        ignored["metadata"] = metadata;
        std::unique_ptr<nnet::DSP> loaded = load(ignored);
        EXPECT_FALSE(loaded->hasLoudness) << metadata;
        EXPECT_FALSE(loaded->inputLevel.known) << metadata;
    }
    json textLoudness = linearModel();
    textLoudness["metadata"] = {{"loudness", "x"}};
    EXPECT_THROW(load(textLoudness), json::type_error);
}

TEST(Loader, CallerDataKeepsTheFileEvenWhenTheModelIsRefusedAndTheDataOverloadLeavesItAlone) {
    json model = linearModel();
    model["weights"] = {0.5};
    nnet::dspData data;
    EXPECT_EQ(thrownText<std::runtime_error>([&] { nnet::get_dsp(writeModel("refused", model), data); }),
              "Params vector does not match expected size based on architecture parameters");
    EXPECT_EQ(data.weights, std::vector<float>{0.5f});
    EXPECT_EQ(data.config["receptive_field"], 1);

    // The data overload verifies and leaves the caller's config alone.
    nnet::dspData given;
    given.version = "0.5.0";
    given.architecture = "Linear";
    given.config = {{"receptive_field", 2}};
    given.weights = {1.0f, 2.0f};
    EXPECT_THROW(nnet::get_dsp(given), json::type_error); // no "bias"
    EXPECT_FALSE(given.config.contains("bias"));

    given.config["bias"] = false;
    std::unique_ptr<nnet::DSP> dsp = nnet::get_dsp(given);
    EXPECT_FLOAT_EQ(outputFor(*dsp, 1.0f), 1.0f);
    EXPECT_FLOAT_EQ(outputFor(*dsp, 0.0f), 2.0f);

    given.version = "1.0.0";
    EXPECT_EQ(thrownText<std::runtime_error>([&] { nnet::get_dsp(given); }),
              "Model config is an unsupported version 1.0.0" + unsupportedAdvice);
}

// The model comes back prewarmed: an LSTM without "sample_rate" settles for one block of 512 samples, so
// its first output differs from a model built directly from the same weights.
TEST(Loader, ReturnsAPrewarmedModel) {
    std::unique_ptr<nnet::DSP> loaded = nnet::get_dsp(nnet_test::modelsFolder() / "lstm_2x4.nam");
    EXPECT_EQ(loaded->PrewarmSamples(), 1);
    json file = nnet_test::readJson(nnet_test::modelsFolder() / "lstm_2x4.nam");
    std::vector<float> weights = file["weights"].get<std::vector<float>>();
    nnet::lstm::LSTM fresh(2, 1, 4, weights, -1.0);
    nnet::lstm::LSTM prewarmed(2, 1, 4, weights, -1.0);
    prewarmed.prewarm();
    const float first = outputFor(*loaded, 0.3f);
    EXPECT_EQ(first, outputFor(prewarmed, 0.3f));
    EXPECT_NE(first, outputFor(fresh, 0.3f));
}

} // namespace
