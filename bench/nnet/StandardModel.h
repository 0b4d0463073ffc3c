#pragma once
// A model document of the <16, 8> standard WaveNet shape with seeded random weights and the fast tanh: the
// shape the main library also runs on its fixed-size path.
#include "nnet/get_dsp.h"

#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

namespace nnet_bench {

inline nlohmann::json standardModel() {
    std::vector<int> dilations;
    for (int d = 1; d <= 512; d *= 2) dilations.push_back(d);
    auto layerArray = [&](int inputSize, int headSize, int channels, bool headBias) {
        return nlohmann::json{{"input_size", inputSize},  {"condition_size", 1}, {"head_size", headSize},
                              {"channels", channels},     {"kernel_size", 3},    {"dilations", dilations},
                              {"activation", "Fasttanh"}, {"gated", false},      {"head_bias", headBias}};
    };
    std::mt19937 generator(16008);
    std::normal_distribution<float> weight(0.0f, 0.15f);
    std::vector<float> weights(13802);
    for (float& w : weights) w = weight(generator);
    weights.back() = 0.2f; // head scale
    return {{"version", "0.5.4"},
            {"architecture", "WaveNet"},
            {"config", {{"layers", {layerArray(1, 8, 16, false), layerArray(16, 1, 8, true)}}, {"head_scale", 0.2}}},
            {"weights", weights},
            {"sample_rate", 48000}};
}

inline std::vector<float> guitarLikeBlock() {
    std::vector<float> block(16);
    for (size_t t = 0; t < block.size(); ++t) block[t] = 0.3f * static_cast<float>(t % 7) / 7.0f - 0.1f;
    return block;
}

// Through this library's loader, prewarmed.
inline std::unique_ptr<nnet::DSP> secondaryModel() {
    nlohmann::json document = standardModel();
    nnet::dspData data;
    data.version = document["version"].get<std::string>();
    data.architecture = document["architecture"].get<std::string>();
    data.config = document["config"];
    data.weights = document["weights"].get<std::vector<float>>();
    data.expected_sample_rate = document["sample_rate"].get<double>();
    return nnet::get_dsp(data);
}

} // namespace nnet_bench
