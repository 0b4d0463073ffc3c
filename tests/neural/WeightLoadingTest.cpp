// Where each float of a model file's "weights" list lands, how many a shape takes, and what a load refuses.
#include "neural/ModelText.h"
#include "tests/neural/ModelFiles.h"

#include <random>

using namespace neuraltest;
using RuveroRidev::NeuralModel;

namespace {

// Start positions in the flat list, per shape.
struct Layout {
    int headRechannel0, rechannel1, firstLayer1, headRechannel1, headBias1, headScale, count;
};

template <int C, int H>
Layout layoutOf();
template <>
Layout layoutOf<16, 8>() {
    return {10736, 10864, 10992, 13792, 13800, 13801, 13802};
}
template <>
Layout layoutOf<12, 6>() {
    return {4296, 4368, 4440, 6546, 6552, 6553, 6554};
}
template <>
Layout layoutOf<8, 4>() {
    return {1968, 2000, 2032, 3020, 3024, 3025, 3026};
}
template <>
Layout layoutOf<4, 2>() {
    return {536, 544, 552, 838, 840, 841, 842};
}

nlohmann::json countingDocument(int count) {
    std::vector<int> weights(std::size_t(count), 0);
    for (int i = 0; i < count; ++i) {
        weights[std::size_t(i)] = i;
    }
    return {{"config", nlohmann::json::object()}, {"weights", weights}};
}

// Checks every weight of one layer array against positions counted from its first layer, Ch channels each.
template <class Array>
void expectLayersAt(const Array& array, int firstLayer, int channels) {
    const int perLayer = 4 * channels * channels + 3 * channels;
    int index = 0;
    std::apply(
        [&](const auto&... layers) {
            (
                [&](const auto& layer) {
                    const int base = firstLayer + index * perLayer;
                    SCOPED_TRACE("layer " + std::to_string(index) + " at " + std::to_string(base));
                    for (int i = 0; i < channels; ++i) {
                        for (int j = 0; j < channels; ++j) {
                            for (int k = 0; k < 3; ++k) {
                                ASSERT_EQ(layer.convolution.weights[std::size_t(k)](i, j),
                                          float(base + 3 * (i * channels + j) + k));
                            }
                            ASSERT_EQ(layer.layer1x1.weights(i, j),
                                      float(base + 3 * channels * channels + 2 * channels + i * channels + j));
                        }
                        ASSERT_EQ(layer.convolution.bias(i), float(base + 3 * channels * channels + i));
                        ASSERT_EQ(layer.inputMixin.weights(i, 0), float(base + 3 * channels * channels + channels + i));
                        ASSERT_EQ(layer.layer1x1.bias(i), float(base + 4 * channels * channels + 2 * channels + i));
                    }
                    ++index;
                }(layers),
                ...);
        },
        array.layers);
}

template <class Network>
void expectAllHistoriesFresh(const Network& network) {
    const auto check = [](const auto& array) {
        std::apply(
            [](const auto&... layers) {
                const auto checkLayer = [](const auto& layer) {
                    EXPECT_TRUE(layer.history.isZero(0.0f));
                    EXPECT_EQ(layer.writePosition, 2u * layer.Dilation);
                };
                (checkLayer(layers), ...);
            },
            array.layers);
    };
    check(std::get<0>(network.layerArrays));
    check(std::get<1>(network.layerArrays));
}

} // namespace

template <class S>
class WeightLoading : public testing::Test {};
TYPED_TEST_SUITE(WeightLoading, Shapes, ShapeNames);

TYPED_TEST(WeightLoading, EachFloatLandsInItsPlace) {
    constexpr int C = TypeParam::channels;
    constexpr int H = TypeParam::headSize;
    const Layout layout = layoutOf<C, H>();
    ASSERT_EQ(TypeParam::Model::NumWeights, layout.count);
    typename TypeParam::Model model;
    EXPECT_TRUE(model.CreateModelFromNAMJson(countingDocument(layout.count)));
    ASSERT_TRUE(model.network);
    const auto& [array0, array1] = model.network->layerArrays;

    for (int i = 0; i < C; ++i) {
        EXPECT_EQ(array0.rechannel.weights(i, 0), float(i));
    }
    expectLayersAt(array0, C, C);
    for (int r = 0; r < H; ++r) {
        for (int c = 0; c < C; ++c) {
            EXPECT_EQ(array0.headRechannel.weights(r, c), float(layout.headRechannel0 + r * C + c));
            EXPECT_EQ(array1.rechannel.weights(r, c), float(layout.rechannel1 + r * C + c));
        }
    }
    expectLayersAt(array1, layout.firstLayer1, H);
    for (int n = 0; n < H; ++n) {
        EXPECT_EQ(array1.headRechannel.weights(0, n), float(layout.headRechannel1 + n));
    }
    EXPECT_EQ(array1.headRechannel.bias(0), float(layout.headBias1));
    EXPECT_EQ(model.network->headScale, float(layout.headScale));
    EXPECT_EQ(model.GetReceptiveFieldSize(), 4092);
    expectAllHistoriesFresh(*model.network);
}

// Exactly the shape's count loads; more loads the same network; fewer is refused and leaves no network.
TYPED_TEST(WeightLoading, ListLengths) {
    const int count = TypeParam::Model::NumWeights;
    typename TypeParam::Model exact, longer, shorter;
    exact.CreateModelFromNAMJson(countingDocument(count));
    longer.CreateModelFromNAMJson(countingDocument(count + 9));
    EXPECT_EQ(longer.network->headScale, exact.network->headScale);
    EXPECT_EQ(std::get<1>(longer.network->layerArrays).headRechannel.bias,
              std::get<1>(exact.network->layerArrays).headRechannel.bias);
    EXPECT_THROW(shorter.CreateModelFromNAMJson(countingDocument(count - 1)), std::invalid_argument);
    EXPECT_FALSE(shorter.network);
    EXPECT_EQ(shorter.GetReceptiveFieldSize(), -1);
    std::vector<float> out(16, 1.0f);
    shorter.Process(out.data(), out.data(), 16);
    EXPECT_EQ(out, std::vector<float>(16, 0.0f));
}

TYPED_TEST(WeightLoading, DocumentsThatDoNotLoad) {
    const int count = TypeParam::Model::NumWeights;
    const auto spoilt = [count](const std::function<void(nlohmann::json&)>& spoil) {
        nlohmann::json document = countingDocument(count);
        spoil(document);
        return document;
    };
    typename TypeParam::Model model;
    using nlohmann::json;
    EXPECT_THROW(model.CreateModelFromNAMJson(spoilt([](json& d) { d.erase("config"); })), json::out_of_range);
    EXPECT_THROW(model.CreateModelFromNAMJson(spoilt([](json& d) {
        d = {{"weights", "not looked at"}};
    })),
                 json::out_of_range);
    EXPECT_THROW(model.CreateModelFromNAMJson(spoilt([](json& d) { d.erase("weights"); })), json::out_of_range);
    EXPECT_THROW(model.CreateModelFromNAMJson(spoilt([](json& d) { d["weights"][5] = "0.5"; })), json::type_error);
    EXPECT_THROW(model.CreateModelFromNAMJson(spoilt([](json& d) { d["weights"] = json::object(); })),
                 json::type_error);
    EXPECT_THROW(model.CreateModelFromNAMJson(json::array({1, 2})), json::type_error);
    EXPECT_FALSE(model.network);
    // Numbers beyond the float range, at the first, a middle and the last weight the shape reads.
    for (const int position : {0, count / 2, count - 1}) {
        for (const double overflowing : {1e39, -1e39, 1e300}) {
            nlohmann::json document = countingDocument(count);
            document["weights"][std::size_t(position)] = overflowing;
            EXPECT_THROW(model.CreateModelFromNAMJson(document), std::invalid_argument)
                << position << " " << overflowing;
            EXPECT_FALSE(model.network);
        }
    }

    nlohmann::json nullConfig = countingDocument(count);
    nullConfig["config"] = nullptr;
    EXPECT_TRUE(model.CreateModelFromNAMJson(nullConfig));
    EXPECT_TRUE(model.network);
}

// A second load starts from a fresh network whatever the first one played.
TYPED_TEST(WeightLoading, ReloadStartsOver) {
    const nlohmann::json document = readDocument(TypeParam::channels, TypeParam::headSize);
    auto model = bareModel<TypeParam>(document);
    std::vector<float> noise(16 * 101);
    std::mt19937 random(11);
    for (float& s : noise) {
        s = std::uniform_real_distribution<float>(-1.0f, 1.0f)(random);
    }
    runModel(*model, noise);
    model->Prewarm();
    model->CreateModelFromNAMJson(document);
    expectAllHistoriesFresh(*model->network);
}

// The model file parser's scan of the weights list gives the general parser's document, or refuses the same
// text, whatever the list holds and wherever "weights" appears.
TEST(ModelText, SameDocumentAsTheGeneralParser) {
    const char* texts[] = {R"({"a":1,"weights":[0.5, -1.25e-3,2E+2 ,-0,7,1e400],"b":"x"})",
                           R"({"weights": [ ] })",
                           R"({"c":{"weights":[1,2]},"d":"\"weights\":[3]","weights":[4]})",
                           R"({"weights":[1,2],"weights":[3]})",
                           R"({"weights":[01]})",
                           R"({"weights":[1.]})",
                           R"({"weights":[.5]})",
                           R"({"weights":[+1]})",
                           R"({"weights":[NaN]})",
                           R"({"weights":[1,"2"]})",
                           R"({"weights":[1,2)",
                           R"({"weights":[1,2]]})",
                           R"([{"weights":[1]}])"};
    for (const char* text : texts) {
        const std::string_view view(text);
        const nlohmann::json expected = nlohmann::json::parse(view.begin(), view.end(), nullptr, false);
        const nlohmann::json parsed =
            RuveroRidev::ModelText::Parse(std::vector<std::uint8_t>(view.begin(), view.end()));
        EXPECT_EQ(parsed.is_discarded(), expected.is_discarded()) << text;
        if (!expected.is_discarded()) {
            EXPECT_EQ(parsed, expected) << text;
        }
    }
}
