#include "neural/LstmModel.h"

#include "neural/ModelConfigReader.h"
#include "neural/ModelLimits.h"
#include "neural/WeightReader.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <stdexcept>
#include <string>

namespace RuveroRidev {

namespace {

// A state whose values move by less than this, relative, from one silent sample to the next has settled.
constexpr float settledChange = 1e-6f;

} // namespace

void LstmModel::Process(float* input, float* output, unsigned long numFrames) noexcept {
    if (!loaded) {
        std::fill_n(output, numFrames, 0.0f);
        return;
    }
    for (unsigned long frame = 0; frame < numFrames; ++frame) {
        output[frame] = ProcessSample(input[frame]);
    }
}

float LstmModel::ProcessSample(float sample) noexcept {
    if (layers.empty()) {
        return sample;
    }
    layers.front().Step(&sample);
    for (std::size_t i = 1; i < layers.size(); ++i) {
        layers[i].Step(layers[i - 1].Hidden());
    }
    return headWeights.dot(Eigen::Map<const Eigen::VectorXf>(layers.back().Hidden(), headWeights.size())) + headBias;
}

void LstmModel::Prewarm() noexcept {
    for (LstmCell& layer : layers) {
        layer.ResetState();
    }
    for (int sample = 0; sample < prewarmLimit; ++sample) {
        for (LstmCell& layer : layers) {
            layer.SaveState();
        }
        ProcessSample(0.0f);
        float change = 0.0f;
        for (const LstmCell& layer : layers) {
            change = std::max(change, layer.StateChange());
        }
        if (change <= settledChange) {
            return;
        }
    }
}

bool LstmModel::CreateModelFromNAMJson(const nlohmann::json& modelJson) {
    const ModelConfigReader document(modelJson, "model file");
    const ModelConfigReader config(document.Member("config"), "LSTM \"config\"");
    const int numLayers = config.Integer("num_layers", 0, ModelLimits::maxLstmLayers);
    const int inputSize = config.Integer("input_size", 1, ModelLimits::maxHiddenSize);
    const int hiddenSize = config.Integer("hidden_size", 1, ModelLimits::maxHiddenSize);
    if (inputSize != 1) {
        config.Refuse("\"input_size\" must be 1, the input sample");
    }

    std::int64_t numWeights = hiddenSize + 1;
    std::int64_t numFloats = hiddenSize;
    std::int64_t freshMultiplyAdds = hiddenSize;
    for (int layer = 0; layer < numLayers; ++layer) {
        const int layerInput = layer == 0 ? inputSize : hiddenSize;
        numWeights += LstmCell::NumWeights(layerInput, hiddenSize);
        numFloats += LstmCell::NumFloats(layerInput, hiddenSize);
        freshMultiplyAdds += LstmCell::MultiplyAddsPerSample(layerInput, hiddenSize);
    }
    if (numFloats > ModelLimits::maxFloats) {
        config.Refuse("needs " + std::to_string(numFloats) + " floats, more than " +
                      std::to_string(ModelLimits::maxFloats));
    }
    if (freshMultiplyAdds > ModelLimits::maxMultiplyAddsPerSample) {
        config.Refuse("needs " + std::to_string(freshMultiplyAdds) + " multiply-adds per sample, more than " +
                      std::to_string(ModelLimits::maxMultiplyAddsPerSample));
    }

    WeightReader weights(document.Member("weights"), numWeights);
    std::vector<LstmCell> freshLayers;
    freshLayers.reserve(std::size_t(numLayers));
    for (int layer = 0; layer < numLayers; ++layer) {
        freshLayers.emplace_back(layer == 0 ? inputSize : hiddenSize, hiddenSize);
        freshLayers.back().SetWeights(weights);
    }
    Eigen::VectorXf freshHead(hiddenSize);
    weights.ReadVector(freshHead);
    const float freshBias = weights.Next();

    layers = std::move(freshLayers);
    headWeights = std::move(freshHead);
    headBias = freshBias;
    prewarmLimit = int(std::clamp<std::int64_t>(ModelLimits::maxPrewarmMultiplyAdds / freshMultiplyAdds, 1,
                                                ModelLimits::maxPrewarmSamples));
    multiplyAdds = freshMultiplyAdds;
    memoryBytes = std::int64_t(sizeof(float)) * numFloats;
    // Each hidden unit of each layer takes three logistic gates and two tanh values (which divide) per sample.
    activationCycles =
        double(numLayers) * hiddenSize *
        (3.0 * ModelLimits::deviceCyclesPerDividingLogistic + 2.0 * ModelLimits::deviceCyclesPerDividingTanh);
    loaded = true;
    SetMaxAudioBufferSize(defaultMaxAudioBufferSize);
    return true;
}

} // namespace RuveroRidev
