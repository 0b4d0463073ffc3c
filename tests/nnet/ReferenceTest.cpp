// Every generated model file, loaded and run block by block (in place), against the numpy reference.
#include "tests/nnet/NnetTestSupport.h"
#include "nnet/activations/Activation.h"
#include "nnet/get_dsp.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

namespace {

using nnet::activations::Activation;
using nnet_test::modelsFolder;

std::vector<std::string> caseNames() {
    std::vector<std::string> names;
    if (!std::filesystem::exists(modelsFolder() / "cases.json")) return names;
    const nlohmann::json manifest = nnet_test::readJson(modelsFolder() / "cases.json");
    for (const auto& entry : manifest["cases"]) names.push_back(entry["name"].get<std::string>());
    return names;
}

nlohmann::json findCase(const std::string& name) {
    const nlohmann::json manifest = nnet_test::readJson(modelsFolder() / "cases.json");
    for (const auto& entry : manifest["cases"])
        if (entry["name"] == name) return entry;
    return nullptr;
}

class ReferenceTest : public testing::TestWithParam<std::string> {
protected:
    void TearDown() override {
        // The flag is process-wide; put back its start value.
        Activation::using_fast_tanh = true;
    }
};

TEST_P(ReferenceTest, MatchesTheReferenceBlockByBlock) {
    const nlohmann::json entry = findCase(GetParam());
    ASSERT_FALSE(entry.is_null());
    if (!entry["fast_tanh"].get<bool>()) Activation::disable_fast_tanh();

    std::unique_ptr<nnet::DSP> model = nnet::get_dsp(modelsFolder() / entry["model"].get<std::string>());
    std::vector<float> signal = nnet_test::readRaw<float>(modelsFolder() / entry["input"].get<std::string>());
    const std::vector<double> expected =
        nnet_test::readRaw<double>(modelsFolder() / entry["expected"].get<std::string>());
    ASSERT_EQ(signal.size(), expected.size());

    const std::vector<int> blocks = entry["blocks"].get<std::vector<int>>();
    size_t position = 0;
    for (size_t b = 0; position < signal.size(); ++b) {
        const int frames = std::min<int>(blocks[b % blocks.size()], static_cast<int>(signal.size() - position));
        model->process(signal.data() + position, signal.data() + position, frames);
        position += frames;
    }

    size_t failures = 0;
    for (size_t i = 0; i < expected.size() && failures < 5; ++i) {
        const double tolerance = 1e-5 + 1e-5 * std::fabs(expected[i]);
        if (std::fabs(signal[i] - expected[i]) > tolerance) {
            ++failures;
            ADD_FAILURE() << GetParam() << " sample " << i << ": " << signal[i] << " expected " << expected[i];
        }
    }
}

INSTANTIATE_TEST_SUITE_P(GeneratedModels, ReferenceTest, testing::ValuesIn(caseNames()),
                         [](const testing::TestParamInfo<std::string>& info) { return info.param; });

} // namespace
