#include "neural/RuntimeWaveNetLayerArray.h"

#include "neural/WeightReader.h"

#include <algorithm>

namespace RuveroRidev {

namespace {

constexpr int chunkFrames = RuntimeWaveNetLayer::chunkFrames;

} // namespace

std::int64_t RuntimeWaveNetLayerArray::Shape::NumWeights() const noexcept {
    std::int64_t count = std::int64_t(inputSize) * channels + std::int64_t(headSize) * channels;
    if (headBias) {
        count += headSize;
    }
    return count + std::int64_t(dilations.size()) * RuntimeWaveNetLayer::NumWeights(channels, kernelSize, gated);
}

std::int64_t RuntimeWaveNetLayerArray::Shape::NumFloats() const noexcept {
    std::int64_t count = RuntimeFrameProduct::NumFloats(channels, inputSize, 1) +
                         RuntimeFrameProduct::NumFloats(headSize, channels, 1) +
                         std::int64_t(2 * channels + headSize) * chunkFrames;
    for (int dilation : dilations) {
        count += RuntimeWaveNetLayer::NumFloats(channels, kernelSize, dilation, gated);
    }
    return count;
}

std::int64_t RuntimeWaveNetLayerArray::Shape::MultiplyAddsPerSample() const noexcept {
    return std::int64_t(inputSize + headSize) * channels +
           std::int64_t(dilations.size()) * RuntimeWaveNetLayer::MultiplyAddsPerSample(channels, kernelSize, gated);
}

std::int64_t RuntimeWaveNetLayerArray::Shape::ReceptiveField() const noexcept {
    std::int64_t sum = 0;
    for (int dilation : dilations) {
        sum += dilation;
    }
    return (kernelSize - 1) * sum;
}

RuntimeWaveNetLayerArray::RuntimeWaveNetLayerArray(const Shape& shape)
    : headOutputs(FrameBlock::Zero(shape.headSize, chunkFrames)),
      rechannel(shape.channels, shape.inputSize, 1, RuntimeFrameProduct::Finish::None),
      headRechannel(shape.headSize, shape.channels, 1, RuntimeFrameProduct::Finish::None),
      headBias(shape.headBias),
      buffers{FrameBlock::Zero(shape.channels, chunkFrames), FrameBlock::Zero(shape.channels, chunkFrames)} {
    layers.reserve(shape.dilations.size());
    for (int dilation : shape.dilations) {
        layers.emplace_back(shape.channels, shape.kernelSize, dilation, shape.gated, shape.activation);
    }
}

bool RuntimeWaveNetLayerArray::Compiled() const noexcept {
    return rechannel.Compiled() && headRechannel.Compiled() &&
           std::all_of(layers.begin(), layers.end(), [](const RuntimeWaveNetLayer& layer) { return layer.Compiled(); });
}

void RuntimeWaveNetLayerArray::SetWeights(WeightReader& reader) {
    reader.ReadRowByRow(rechannel.TapWeights(0));
    for (RuntimeWaveNetLayer& layer : layers) {
        layer.SetWeights(reader);
    }
    reader.ReadRowByRow(headRechannel.TapWeights(0));
    if (headBias) {
        reader.ReadVector(headRechannel.Bias());
    }
}

float* RuntimeWaveNetLayerArray::InputOf(std::size_t index, Eigen::Index& stride) noexcept {
    if (index < layers.size() && layers[index].InputSlot() != nullptr) {
        stride = layers[index].InputStride();
        return layers[index].InputSlot();
    }
    FrameBlock& buffer = buffers[index % 2];
    stride = buffer.outerStride();
    return buffer.data();
}

void RuntimeWaveNetLayerArray::Run(const float* input, const float* condition, FrameBlock& head, Eigen::Index numFrames,
                                   bool prewarm) noexcept {
    const RuntimeFrameProduct::Extras none;
    Eigen::Index layerInputStride = 0;
    float* layerInput = InputOf(0, layerInputStride);
    rechannel.Run(&input, chunkFrames, none, layerInput, layerInputStride);
    for (std::size_t i = 0; i < layers.size(); ++i) {
        if (prewarm) {
            layers[i].FillHistory(layerInput, layerInputStride);
        }
        Eigen::Index outputStride = 0;
        float* output = InputOf(i + 1, outputStride);
        layers[i].Process(layerInput, layerInputStride, condition, head, output, outputStride, numFrames);
        layerInput = output;
        layerInputStride = outputStride;
    }
}

void RuntimeWaveNetLayerArray::Process(const float* input, const float* condition, FrameBlock& head,
                                       Eigen::Index numFrames) noexcept {
    Run(input, condition, head, numFrames, false);
    const float* headInput = head.data();
    headRechannel.Run(&headInput, head.outerStride(), RuntimeFrameProduct::Extras{}, headOutputs.data(),
                      headOutputs.outerStride());
}

void RuntimeWaveNetLayerArray::Prewarm(const float* input, const float* condition, FrameBlock& head) noexcept {
    Run(input, condition, head, 1, true);
}

} // namespace RuveroRidev
