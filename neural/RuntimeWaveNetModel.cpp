#include "neural/RuntimeWaveNetModel.h"

#include "neural/ModelConfigReader.h"
#include "neural/ModelLimits.h"
#include "neural/WeightReader.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <stdexcept>
#include <string>

namespace RuveroRidev {

namespace {

using Shape = RuntimeWaveNetLayerArray::Shape;

Shape readShape(const nlohmann::json& entry, std::size_t index, const Shape* previous) {
    const ModelConfigReader reader(entry, "WaveNet layer array " + std::to_string(index));
    Shape shape;
    shape.inputSize = reader.Integer("input_size", 1, ModelLimits::maxChannels);
    shape.conditionSize = reader.Integer("condition_size", 1, ModelLimits::maxChannels);
    shape.headSize = reader.Integer("head_size", 1, ModelLimits::maxChannels);
    shape.channels = reader.Integer("channels", 1, ModelLimits::maxChannels);
    shape.kernelSize = reader.Integer("kernel_size", 1, ModelLimits::maxKernelSize);
    shape.dilations = reader.Integers("dilations", 1, ModelLimits::maxLayersPerArray, 1, ModelLimits::maxDilation);
    try {
        shape.activation = Activation::FromName(reader.String("activation"));
    } catch (const std::invalid_argument& error) {
        reader.Refuse(error.what());
    }
    shape.gated = reader.Boolean("gated");
    shape.headBias = reader.Boolean("head_bias");

    // The condition is the input sample itself, one row.
    if (shape.conditionSize != 1) {
        reader.Refuse("\"condition_size\" must be 1");
    }
    const int expectedInput = previous ? previous->channels : 1;
    if (shape.inputSize != expectedInput) {
        reader.Refuse("\"input_size\" must be " + std::to_string(expectedInput) +
                      (previous ? ", the channels of the array before" : ", the input sample"));
    }
    if (previous && shape.channels != previous->headSize) {
        reader.Refuse("\"channels\" must be " + std::to_string(previous->headSize) +
                      ", the head size of the array before, whose head sum it adds into");
    }
    return shape;
}

void checkTotals(const std::vector<Shape>& shapes) {
    std::int64_t receptiveField = 0;
    for (const Shape& shape : shapes) {
        receptiveField += shape.ReceptiveField();
    }
    const std::int64_t multiplyAdds = RuntimeWaveNet::MultiplyAddsPerSample(shapes);
    const std::int64_t floats = RuntimeWaveNet::NumFloats(shapes);
    if (receptiveField > ModelLimits::maxReceptiveField) {
        throw std::invalid_argument("WaveNet receptive field of " + std::to_string(receptiveField) +
                                    " samples exceeds " + std::to_string(ModelLimits::maxReceptiveField));
    }
    if (floats > ModelLimits::maxFloats) {
        throw std::invalid_argument("WaveNet needs " + std::to_string(floats) + " floats, more than " +
                                    std::to_string(ModelLimits::maxFloats));
    }
    if (multiplyAdds > ModelLimits::maxMultiplyAddsPerSample) {
        throw std::invalid_argument("WaveNet needs " + std::to_string(multiplyAdds) +
                                    " multiply-adds per sample, more than " +
                                    std::to_string(ModelLimits::maxMultiplyAddsPerSample));
    }
}

} // namespace

std::vector<Shape> RuntimeWaveNetModel::ReadShapes(const nlohmann::json& config) {
    const ModelConfigReader reader(config, "WaveNet \"config\"");
    const auto head = config.find("head");
    if (head != config.end() && !head->is_null()) {
        reader.Refuse("asks for a head network, which this player does not run");
    }
    const nlohmann::json& layers = reader.Member("layers");
    if (!layers.is_array() || layers.empty() || layers.size() > std::size_t(ModelLimits::maxLayerArrays)) {
        reader.Refuse("\"layers\" must be a list of 1 to " + std::to_string(ModelLimits::maxLayerArrays) +
                      " layer arrays");
    }
    std::vector<Shape> shapes;
    shapes.reserve(layers.size());
    for (std::size_t i = 0; i < layers.size(); ++i) {
        shapes.push_back(readShape(layers[i], i, shapes.empty() ? nullptr : &shapes.back()));
    }
    if (shapes.back().headSize != 1) {
        throw std::invalid_argument("WaveNet layer array " + std::to_string(shapes.size() - 1) +
                                    " \"head_size\" must be 1: the last array gives one sample per frame");
    }
    checkTotals(shapes);
    return shapes;
}

int RuntimeWaveNetModel::GetReceptiveFieldSize() const noexcept { return network ? network->ReceptiveFieldSize() : -1; }

void RuntimeWaveNetModel::Process(float* input, float* output, unsigned long numFrames) noexcept {
    if (!network) {
        std::fill_n(output, numFrames, 0.0f);
        return;
    }
    while (numFrames > 0) {
        const unsigned long chunk = std::min<unsigned long>(numFrames, RuntimeWaveNetLayer::chunkFrames);
        network->Process(input, output, Eigen::Index(chunk));
        input += chunk;
        output += chunk;
        numFrames -= chunk;
    }
}

void RuntimeWaveNetModel::Prewarm() noexcept {
    if (network) {
        network->Prewarm();
    }
}

bool RuntimeWaveNetModel::CreateModelFromNAMJson(const nlohmann::json& modelJson) {
    const ModelConfigReader document(modelJson, "model file");
    const std::vector<Shape> shapes = ReadShapes(document.Member("config"));
    WeightReader weights(document.Member("weights"), RuntimeWaveNet::NumWeights(shapes));
    auto fresh = std::make_unique<RuntimeWaveNet>(shapes);
    fresh->SetWeights(weights);
    network = std::move(fresh);
    multiplyAdds = RuntimeWaveNet::MultiplyAddsPerSample(shapes);
    memoryBytes = std::int64_t(sizeof(float)) * RuntimeWaveNet::NumFloats(shapes);
    activationCycles = 0.0;
    for (const Shape& shape : shapes) {
        // A gated layer activates its channels and multiplies them by the logistic of as many gate rows.
        const double perValue =
            shape.activation.DeviceCycles() + (shape.gated ? ModelLimits::deviceCyclesPerLogistic : 0.0);
        activationCycles += double(shape.dilations.size()) * shape.channels * perValue;
    }
    SetMaxAudioBufferSize(defaultMaxAudioBufferSize);
    return true;
}

} // namespace RuveroRidev
