#pragma once
// The generated test models (generate_models.py) and helpers shared by the neural tests.
#include "neural/InternalWaveNetModelT.h"
#include "neural/NeuralModel.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace neuraltest {

template <int C, int H>
struct Shape {
    static constexpr int channels = C;
    static constexpr int headSize = H;
    using Model = RuveroRidev::InternalWaveNetModelT<C, H>;
};
using Shapes = testing::Types<Shape<16, 8>, Shape<12, 6>, Shape<8, 4>, Shape<4, 2>>;

struct ShapeNames {
    template <class S>
    static std::string GetName(int) {
        return std::to_string(S::channels) + "x" + std::to_string(S::headSize);
    }
};

inline std::string modelPath(int channels, int headSize, const std::string& suffix = ".nam") {
    return std::string(NEURAL_TEST_MODELS) + "/wavenet_" + std::to_string(channels) + "_" + std::to_string(headSize) +
           suffix;
}

inline std::string readText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    EXPECT_TRUE(file.good()) << path;
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline nlohmann::json readDocument(int channels, int headSize) {
    return nlohmann::json::parse(readText(modelPath(channels, headSize)));
}

inline std::vector<float> readSamples(const std::string& path) {
    const std::string bytes = readText(path);
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::copy(bytes.begin(), bytes.begin() + std::ptrdiff_t(samples.size() * sizeof(float)),
              reinterpret_cast<char*>(samples.data()));
    return samples;
}

inline std::vector<float> testSignal() { return readSamples(std::string(NEURAL_TEST_MODELS) + "/input.f32"); }

inline std::unique_ptr<RuveroRidev::NeuralModel> modelFromText(const std::string& text, const char* name = "test.nam") {
    std::istringstream stream(text);
    return RuveroRidev::NeuralModel::CreateFromStream(stream, name);
}

// Loaded without the factory, so without Prewarm: every history starts at zero.
template <class S>
std::unique_ptr<typename S::Model> bareModel(const nlohmann::json& document) {
    auto model = std::make_unique<typename S::Model>();
    model->LoadFromNAMJson(document);
    return model;
}

// Runs the signal through the model in consecutive calls of the given sizes, cycling through them; in place
// when asked.
inline std::vector<float> runModel(RuveroRidev::NeuralModel& model, const std::vector<float>& signal,
                                   const std::vector<unsigned long>& callSizes = {16}, bool inPlace = false) {
    std::vector<float> input = signal;
    std::vector<float> output(signal.size(), -12345.0f);
    std::size_t done = 0;
    for (std::size_t call = 0; done < signal.size(); ++call) {
        const unsigned long size = std::min<unsigned long>(callSizes[call % callSizes.size()], signal.size() - done);
        model.Process(input.data() + done, (inPlace ? input.data() : output.data()) + done, size);
        done += size;
    }
    return inPlace ? input : output;
}

// Within 1e-4 of the reference, relative to the reference's peak once that exceeds 1.
inline void expectClose(const std::vector<float>& output, const std::vector<float>& reference, const std::string& what,
                        float tolerance = 1e-4f) {
    ASSERT_EQ(output.size(), reference.size()) << what;
    float peak = 1.0f;
    for (float value : reference) {
        peak = std::max(peak, std::fabs(value));
    }
    std::size_t worst = 0;
    float worstError = 0.0f;
    for (std::size_t i = 0; i < output.size(); ++i) {
        const float error = std::fabs(output[i] - reference[i]);
        if (!(error <= worstError)) {
            worst = i;
            worstError = std::isnan(error) ? INFINITY : error;
        }
    }
    EXPECT_LE(worstError, tolerance * peak)
        << what << ": worst at sample " << worst << ", got " << output[worst] << ", expected " << reference[worst];
}

} // namespace neuraltest
