#include "RuntimeWaveNetLayerArray.h"

#include "RuntimeProduct.h"
#include "WeightReader.h"

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
    std::int64_t count = std::int64_t(inputSize) * channels + std::int64_t(headSize) * (channels + 1) +
                         std::int64_t(2 * channels + headSize) * chunkFrames;
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
      rechannel(Eigen::MatrixXf::Zero(shape.channels, shape.inputSize)),
      headRechannel(Eigen::MatrixXf::Zero(shape.headSize, shape.channels)),
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
    reader.ReadRowByRow(rechannel);
    for (RuntimeWaveNetLayer& layer : layers) {
        layer.SetWeights(reader);
    }
    reader.ReadRowByRow(headRechannel);
    reader.ReadVector(headBias);
}

void RuntimeWaveNetLayerArray::Process(const float* input, const float* condition, Eigen::MatrixXf& head,
                                       Eigen::Index numFrames) noexcept
{
    int current = 0;
    RuntimeProduct::Multiply(rechannel, Eigen::Map<const Eigen::MatrixXf>(input, inputSize, numFrames),
                             buffers[current].leftCols(numFrames), false);
    for (RuntimeWaveNetLayer& layer : layers) {
        layer.Process(buffers[current], condition, head, buffers[1 - current], numFrames);
        current = 1 - current;
    }
    outputBuffer = current;
    RuntimeProduct::Multiply(headRechannel, head.leftCols(numFrames), headOutputs.leftCols(numFrames), false);
    if (headBias.size() > 0) {
        headOutputs.leftCols(numFrames).colwise() += headBias;
    }
}

void RuntimeWaveNetLayerArray::Prewarm(const float* input, const float* condition, Eigen::MatrixXf& head) noexcept
{
    int current = 0;
    buffers[current].leftCols(1).noalias() = rechannel.lazyProduct(Eigen::Map<const Eigen::MatrixXf>(input, inputSize, 1));
    for (RuntimeWaveNetLayer& layer : layers) {
        layer.FillHistory(buffers[current]);
        layer.Process(buffers[current], condition, head, buffers[1 - current], 1);
        current = 1 - current;
    }
    outputBuffer = current;
}

}  // namespace RuveroRidev
