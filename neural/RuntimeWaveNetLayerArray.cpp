#include "neural/RuntimeWaveNetLayerArray.h"

#include "neural/WeightReader.h"

namespace RuveroRidev {

namespace {

constexpr int chunkFrames = RuntimeWaveNetLayer::chunkFrames;

}  // namespace

std::int64_t RuntimeWaveNetLayerArray::Shape::NumWeights() const noexcept
{
    std::int64_t count = std::int64_t(inputSize) * channels + std::int64_t(headSize) * channels;
    if (headBias) {
        count += headSize;
    }
    return count + std::int64_t(dilations.size()) * RuntimeWaveNetLayer::NumWeights(channels, kernelSize, gated);
}

std::int64_t RuntimeWaveNetLayerArray::Shape::NumFloats() const noexcept
{
    std::int64_t count = RuntimeProduct::NumFloats(channels, inputSize) + RuntimeProduct::NumFloats(headSize, channels) +
                         headSize + std::int64_t(2 * channels + headSize) * chunkFrames;
    for (int dilation : dilations) {
        count += RuntimeWaveNetLayer::NumFloats(channels, kernelSize, dilation, gated);
    }
    return count;
}

std::int64_t RuntimeWaveNetLayerArray::Shape::MultiplyAddsPerSample() const noexcept
{
    return std::int64_t(inputSize + headSize) * channels +
           std::int64_t(dilations.size()) * RuntimeWaveNetLayer::MultiplyAddsPerSample(channels, kernelSize, gated);
}

std::int64_t RuntimeWaveNetLayerArray::Shape::ReceptiveField() const noexcept
{
    std::int64_t sum = 0;
    for (int dilation : dilations) {
        sum += dilation;
    }
    return (kernelSize - 1) * sum;
}

RuntimeWaveNetLayerArray::RuntimeWaveNetLayerArray(const Shape& shape)
    : headOutputs(Eigen::MatrixXf::Zero(shape.headSize, chunkFrames)), inputSize(shape.inputSize),
      rechannel(shape.channels, shape.inputSize), headRechannel(shape.headSize, shape.channels),
      headBias(Eigen::VectorXf::Zero(shape.headBias ? shape.headSize : 0)),
      buffers{Eigen::MatrixXf::Zero(shape.channels, chunkFrames), Eigen::MatrixXf::Zero(shape.channels, chunkFrames)}
{
    layers.reserve(shape.dilations.size());
    for (int dilation : shape.dilations) {
        layers.emplace_back(shape.channels, shape.kernelSize, dilation, shape.gated, shape.activation);
    }
}

void RuntimeWaveNetLayerArray::SetWeights(WeightReader& reader)
{
    reader.ReadRowByRow(rechannel.Weights());
    for (RuntimeWaveNetLayer& layer : layers) {
        layer.SetWeights(reader);
    }
    reader.ReadRowByRow(headRechannel.Weights());
    reader.ReadVector(headBias);
}

void RuntimeWaveNetLayerArray::Process(const float* input, const float* condition, Eigen::MatrixXf& head,
                                       Eigen::Index numFrames) noexcept
{
    int current = 0;
    rechannel.Multiply(input, inputSize, buffers[current].data(), buffers[current].outerStride(), numFrames, false);
    for (RuntimeWaveNetLayer& layer : layers) {
        layer.Process(buffers[current], condition, head, buffers[1 - current], numFrames);
        current = 1 - current;
    }
    outputBuffer = current;
    const RuntimeProduct::Term headTerm{0, head.rows(), head.data(), head.outerStride()};
    RuntimeProduct::Sum headSum;
    headSum.terms = &headTerm;
    headSum.numTerms = 1;
    headSum.bias = headBias.size() > 0 ? headBias.data() : nullptr;
    headRechannel.Run(headSum, headOutputs.data(), headOutputs.outerStride(), numFrames);
}

void RuntimeWaveNetLayerArray::Prewarm(const float* input, const float* condition, Eigen::MatrixXf& head) noexcept
{
    int current = 0;
    rechannel.Multiply(input, inputSize, buffers[current].data(), buffers[current].outerStride(), 1, false);
    for (RuntimeWaveNetLayer& layer : layers) {
        layer.FillHistory(buffers[current]);
        layer.Process(buffers[current], condition, head, buffers[1 - current], 1);
        current = 1 - current;
    }
    outputBuffer = current;
}

}  // namespace RuveroRidev
