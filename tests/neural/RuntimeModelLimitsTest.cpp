// Which documents the factory routes to the runtime-sized models, and the files those models refuse: every
// refusal is an exception with a reason, made before the model allocates what the file asks for.
#include "tests/support/AllocationCounter.h"
#include "neural/InternalWaveNetModelT.h"
#include "neural/LstmModel.h"
#include "neural/ModelBudget.h"
#include "neural/ModelCheck.h"
#include "tests/neural/ModelFiles.h"
#include "tests/neural/RuntimeReference.h"
#include "neural/RuntimeWaveNetModel.h"

#include <functional>

using namespace runtimetest;

namespace {

const std::vector<ArrayShape> smallWaveNet = {{1, 3, 4, 3, {1, 5}, "Tanh", true, false},
                                              {4, 1, 3, 2, {7}, "ReLU", false, true}};

nlohmann::json validWaveNet() { return waveNetDocument(smallWaveNet, waveNetWeights(smallWaveNet, 4)); }

nlohmann::json validLstm() { return lstmDocument(2, 6, lstmWeights(2, 6, 4)); }

struct Refusal {
    const char* name;
    std::function<void(nlohmann::json&)> spoil;
    const char* reason; // a piece of the exception's text
};

// Builds the model the document names and loads it without the factory, counting what the load allocates.
template <class Model>
void expectRefusal(const nlohmann::json& valid, const Refusal& refusal) {
    nlohmann::json document = valid;
    refusal.spoil(document);
    Model model;
    std::string message;
    long long allocated = 0;
    {
        allocationcounter::CountingScope scope;
        try {
            model.LoadFromNAMJson(document);
        } catch (const std::invalid_argument& error) {
            message = error.what();
        }
        allocated = scope.Bytes();
    }
    EXPECT_NE(message.find(refusal.reason), std::string::npos) << refusal.name << ": \"" << message << "\"";
    // The exception text and a few small shape records; nothing near what the spoilt sizes would take.
    EXPECT_LT(allocated, 64 * 1024) << refusal.name;
    std::vector<float> samples(16, 0.5f);
    model.Prewarm();
    model.Process(samples.data(), samples.data(), samples.size());
    EXPECT_EQ(samples, std::vector<float>(16, 0.0f)) << refusal.name << ": the refused model must stay empty";
}

nlohmann::json& array0(nlohmann::json& document) { return document["config"]["layers"][0]; }

nlohmann::json& array1(nlohmann::json& document) { return document["config"]["layers"][1]; }

} // namespace

TEST(RuntimeModelLimits, WaveNetRefusals) {
    const Refusal refusals[] = {
        {"not an object", [](auto& d) { d = nlohmann::json::array(); }, "model file is not a JSON object"},
        {"no config", [](auto& d) { d.erase("config"); }, "has no \"config\""},
        {"a head network",
         [](auto& d) {
             d["config"]["head"] = {{"num_layers", 2}};
         },
         "head network"},
        {"layers not a list", [](auto& d) { d["config"]["layers"] = 3; }, "\"layers\" must be a list"},
        {"no layer arrays", [](auto& d) { d["config"]["layers"] = nlohmann::json::array(); }, "\"layers\" must be"},
        {"nine layer arrays",
         [](auto& d) {
             for (int i = 0; i < 7; ++i) {
                 d["config"]["layers"].push_back(array1(d));
             }
         },
         "\"layers\" must be a list of 1 to 8"},
        {"a million channels", [](auto& d) { array0(d)["channels"] = 1000000; }, "\"channels\" must be"},
        {"65 channels", [](auto& d) { array0(d)["channels"] = 65; }, "\"channels\" must be"},
        {"negative channels", [](auto& d) { array0(d)["channels"] = -4; }, "\"channels\" must be"},
        {"channels as text", [](auto& d) { array0(d)["channels"] = "4"; }, "\"channels\" must be"},
        {"a fractional kernel", [](auto& d) { array0(d)["kernel_size"] = 2.5; }, "\"kernel_size\" must be"},
        {"a huge kernel", [](auto& d) { array0(d)["kernel_size"] = 100000; }, "\"kernel_size\" must be"},
        {"a billion dilation",
         [](auto& d) {
             array0(d)["dilations"] = {1, 1000000000};
         },
         "\"dilations\" entry 1"},
        {"dilation zero", [](auto& d) { array0(d)["dilations"] = {0}; }, "\"dilations\" entry 0"},
        {"a hundred thousand layers", [](auto& d) { array0(d)["dilations"] = std::vector<int>(100000, 1); },
         "\"dilations\" must be a list"},
        {"no dilations", [](auto& d) { array0(d)["dilations"] = nlohmann::json::array(); }, "\"dilations\" must be"},
        {"receptive field beyond the limit",
         [](auto& d) {
             array0(d)["kernel_size"] = 9;
             array0(d)["dilations"] = {16384};
         },
         "receptive field"},
        {"histories beyond the float budget",
         [](auto& d) {
             array0(d)["channels"] = 64;
             array0(d)["head_size"] = 64;
             array1(d)["input_size"] = 64;
             array1(d)["channels"] = 64;
             array0(d)["dilations"] = {16384, 16380};
         },
         "floats"},
        {"too slow for real time",
         [](auto& d) {
             array0(d)["channels"] = 64;
             array0(d)["gated"] = false;
             array0(d)["dilations"] = std::vector<int>(12, 1);
             array1(d)["input_size"] = 64;
         },
         "multiply-adds"},
        {"activation in lower case", [](auto& d) { array0(d)["activation"] = "tanh"; }, "unknown activation \"tanh\""},
        {"an unknown activation", [](auto& d) { array1(d)["activation"] = "Swish"; }, "unknown activation"},
        {"gated as text", [](auto& d) { array0(d)["gated"] = "yes"; }, "\"gated\" must be true or false"},
        {"no head_bias", [](auto& d) { array1(d).erase("head_bias"); }, "has no \"head_bias\""},
        {"two condition rows", [](auto& d) { array0(d)["condition_size"] = 2; }, "\"condition_size\" must be 1"},
        {"two input rows", [](auto& d) { array0(d)["input_size"] = 2; }, "\"input_size\" must be 1"},
        {"array 1 reads the wrong width", [](auto& d) { array1(d)["input_size"] = 3; }, "\"input_size\" must be 4"},
        {"array 1 off the head sum", [](auto& d) { array1(d)["channels"] = 4; }, "\"channels\" must be 3"},
        {"two output rows", [](auto& d) { array1(d)["head_size"] = 2; }, "\"head_size\" must be 1"},
        {"one weight short", [](auto& d) { d["weights"].erase(d["weights"].size() - 1); }, "the configuration needs"},
        {"one weight over", [](auto& d) { d["weights"].push_back(0.5); }, "the configuration needs"},
        {"weights not a list", [](auto& d) { d["weights"] = 1.0; }, "\"weights\" must be a list"},
        {"a weight as text", [](auto& d) { d["weights"][10] = "0.5"; }, "weight 10 is not a finite float"},
        {"a weight beyond float", [](auto& d) { d["weights"][3] = 1e39; }, "weight 3 is not a finite float"},
    };
    for (const Refusal& refusal : refusals) {
        expectRefusal<RuveroRidev::RuntimeWaveNetModel>(validWaveNet(), refusal);
    }
}

TEST(RuntimeModelLimits, LstmRefusals) {
    const Refusal refusals[] = {
        {"no config", [](auto& d) { d.erase("config"); }, "has no \"config\""},
        {"a million layers", [](auto& d) { d["config"]["num_layers"] = 1000000; }, "\"num_layers\" must be"},
        {"negative layers", [](auto& d) { d["config"]["num_layers"] = -1; }, "\"num_layers\" must be"},
        {"a million hidden", [](auto& d) { d["config"]["hidden_size"] = 1000000; }, "\"hidden_size\" must be"},
        {"hidden zero", [](auto& d) { d["config"]["hidden_size"] = 0; }, "\"hidden_size\" must be"},
        {"two inputs", [](auto& d) { d["config"]["input_size"] = 2; }, "\"input_size\" must be 1"},
        {"no hidden size", [](auto& d) { d["config"].erase("hidden_size"); }, "has no \"hidden_size\""},
        {"too slow for real time",
         [](auto& d) {
             d["config"]["num_layers"] = 1;
             d["config"]["hidden_size"] = 256;
         },
         "multiply-adds"},
        {"one weight short", [](auto& d) { d["weights"].erase(d["weights"].size() - 1); }, "the configuration needs"},
        {"one weight over", [](auto& d) { d["weights"].push_back(0.5); }, "the configuration needs"},
        {"a null weight", [](auto& d) { d["weights"][0] = nullptr; }, "weight 0 is not a finite float"},
    };
    for (const Refusal& refusal : refusals) {
        expectRefusal<RuveroRidev::LstmModel>(validLstm(), refusal);
    }
}

// The valid documents load (and go to their models), so the refusals above come from the spoilt member alone.
TEST(RuntimeModelFactory, RoutesEachDocument) {
    struct Case {
        const char* name;
        nlohmann::json document;
        std::function<bool(RuveroRidev::NeuralModel*)> isExpected;
    };
    const Case cases[] = {
        {"a fixed shape stays on the fixed path", neuraltest::readDocument(8, 4),
         [](auto* model) { return dynamic_cast<RuveroRidev::InternalWaveNetModelT<8, 4>*>(model) != nullptr; }},
        {"another WaveNet", validWaveNet(),
         [](auto* model) { return dynamic_cast<RuveroRidev::RuntimeWaveNetModel*>(model) != nullptr; }},
        {"an LSTM", validLstm(), [](auto* model) { return dynamic_cast<RuveroRidev::LstmModel*>(model) != nullptr; }},
        {"another architecture",
         {{"architecture", "ConvNet"}, {"config", {}}, {"weights", {1.0}}},
         [](auto* model) { return model == nullptr; }},
        {"no architecture", {{"config", {}}, {"weights", {1.0}}}, [](auto* model) { return model == nullptr; }},
        {"a Keras-style file", {{"layers", nlohmann::json::array()}}, [](auto* model) { return model == nullptr; }},
    };
    for (const Case& c : cases) {
        testing::internal::CaptureStdout();
        auto model = fromDocument(c.document);
        testing::internal::GetCapturedStdout();
        EXPECT_TRUE(c.isExpected(model.get())) << c.name;
    }
}

// A refused file reaches the player as an exception (its cue to log and leave the slot empty), after a line
// that says why.
TEST(RuntimeModelFactory, RefusalThrowsAfterALogLine) {
    nlohmann::json document = validLstm();
    document["config"]["hidden_size"] = 100000;
    testing::internal::CaptureStdout();
    EXPECT_THROW(fromDocument(document, "big.nam"), std::invalid_argument);
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(log.rfind("ERROR (NeuralModel): big.nam: LSTM \"config\" \"hidden_size\" must be", 0), 0u) << log;
}

// The cost each model reports from its shape, against counts made here from the shape's own sizes: the fixed
// and runtime paths agree on the same file, and the frame check takes the standard shape and refuses a
// 32-channel gated one that passes every size limit.
TEST(ModelCost, FromTheShapeOnEveryPath) {
    const auto layerCost = [](std::int64_t channels, std::int64_t kernelSize, bool gated) {
        const std::int64_t rows = gated ? 2 * channels : channels;
        return kernelSize * rows * channels + rows + channels * channels;
    };
    // Rechannel, ten layers and head rechannel per array, then the head scale.
    const std::int64_t standard =
        (16 + 10 * layerCost(16, 3, false) + 16 * 8) + (16 * 8 + 10 * layerCost(8, 3, false) + 8) + 1;
    const nlohmann::json document = neuraltest::readDocument(16, 8);
    auto fixed = fromDocument(document);
    ASSERT_NE((dynamic_cast<RuveroRidev::InternalWaveNetModelT<16, 8>*>(fixed.get())), nullptr);
    RuveroRidev::RuntimeWaveNetModel runtime;
    runtime.LoadFromNAMJson(document);
    EXPECT_EQ(fixed->MultiplyAddsPerSample(), standard);
    EXPECT_EQ(runtime.MultiplyAddsPerSample(), standard);
    // Both hold the weights and a history of 2 x 1023 frames per array and channel at least, under 1 MB.
    for (const RuveroRidev::NeuralModel* model : {fixed.get(), static_cast<RuveroRidev::NeuralModel*>(&runtime)}) {
        EXPECT_GT(model->MemoryBytes(), std::int64_t(sizeof(float)) * (13802 + 2 * 1023 * (16 + 8)));
        EXPECT_LT(model->MemoryBytes(), std::int64_t(1) << 20);
    }
    // 0.5 device cycles per multiply-add and 6 per tanh value, of which there are 10 x (16 + 8).
    for (const RuveroRidev::NeuralModel* model : {fixed.get(), static_cast<RuveroRidev::NeuralModel*>(&runtime)}) {
        EXPECT_TRUE(RuveroRidev::ModelBudget::FitsFrame(*model));
        EXPECT_NEAR(RuveroRidev::ModelBudget::FrameShare(*model),
                    (0.5 * double(standard) + 6.0 * 240) * 48000.0 / 1.5e9, 1e-9);
    }

    const std::vector<int> dilations = {1, 2, 4, 8, 16, 32, 64, 128, 256, 512};
    const std::vector<ArrayShape> wideGated = {{1, 16, 32, 3, dilations, "Tanh", true, false},
                                               {32, 1, 16, 3, dilations, "Tanh", true, true}};
    auto slow = fromDocument(waveNetDocument(wideGated, waveNetWeights(wideGated, 7)));
    EXPECT_EQ(slow->MultiplyAddsPerSample(),
              (32 + 10 * layerCost(32, 3, true) + 32 * 16) + (32 * 16 + 10 * layerCost(16, 3, true) + 16) + 1);
    EXPECT_FALSE(RuveroRidev::ModelBudget::FitsFrame(*slow));

    // Eight arrays of 64 four-channel layers of kernel size 1: under a third of the frame in multiply-adds, but
    // with the 2,048 tanh values per sample past it; with a clamp instead the same shape fits.
    const std::vector<int> ones(64, 1);
    for (const auto& [activation, fits] : {std::pair{"Tanh", false}, std::pair{"ReLU", true}}) {
        std::vector<ArrayShape> narrow;
        for (int array = 0; array < 8; ++array) {
            narrow.push_back({array == 0 ? 1 : 4, array == 7 ? 1 : 4, 4, 1, ones, activation, false, array == 7});
        }
        auto many = fromDocument(waveNetDocument(narrow, waveNetWeights(narrow, 3)));
        EXPECT_LT(double(many->MultiplyAddsPerSample()) * 48000.0 / 3e9, 1.0 / 3.0);
        EXPECT_EQ(RuveroRidev::ModelBudget::FitsFrame(*many), fits) << activation;
    }

    auto lstm = fromDocument(validLstm());
    EXPECT_EQ(lstm->MultiplyAddsPerSample(), 6 + (4 * 6 * (1 + 6) + 2 * 6) + (4 * 6 * (6 + 6) + 2 * 6));
}

// A costly model gets a shorter check, which must still sweep up to 20 kHz before its loud part: over the last
// tenth of the quiet part the input crosses zero at least once per 2.4 samples (above 10 kHz).
TEST(ModelCheckInput, EveryLengthSweepsToTheTop) {
    for (const std::size_t samples : {256, 2400, 4800}) {
        const std::size_t loudFrom = RuveroRidev::ModelCheck::LoudFrom(samples), from = loudFrom - loudFrom / 10;
        int crossings = 0;
        for (std::size_t n = from + 1; n < loudFrom; ++n) {
            crossings += (RuveroRidev::ModelCheck::Input(n - 1, samples) < 0) !=
                         (RuveroRidev::ModelCheck::Input(n, samples) < 0);
        }
        EXPECT_GE(crossings, int(loudFrom - from) * 10 / 24) << samples;
    }
}
