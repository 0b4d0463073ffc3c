#include "neural/RuntimeWaveNet.h"

#include "neural/WeightReader.h"

namespace RuveroRidev {

RuntimeWaveNet::RuntimeWaveNet(const std::vector<RuntimeWaveNetLayerArray::Shape>& shapes)
    : headAccumulator(Eigen::MatrixXf::Zero(shapes.front().channels, RuntimeWaveNetLayer::chunkFrames))
{
    arrays.reserve(shapes.size());
    for (const RuntimeWaveNetLayerArray::Shape& shape : shapes) {
        arrays.emplace_back(shape);
        receptiveFieldSize += int(shape.ReceptiveField());
    }
}

std::int64_t RuntimeWaveNet::NumWeights(const std::vector<RuntimeWaveNetLayerArray::Shape>& shapes) noexcept
{
    std::int64_t count = 1;  // the head scale
    for (const RuntimeWaveNetLayerArray::Shape& shape : shapes) {
        count += shape.NumWeights();
    }
    return count;
}

std::int64_t RuntimeWaveNet::NumFloats(const std::vector<RuntimeWaveNetLayerArray::Shape>& shapes) noexcept
{
    std::int64_t count = 1 + std::int64_t(shapes.front().channels) * RuntimeWaveNetLayer::chunkFrames;
    for (const RuntimeWaveNetLayerArray::Shape& shape : shapes) {
        count += shape.NumFloats();
    }
    return count;
}

std::int64_t RuntimeWaveNet::MultiplyAddsPerSample(const std::vector<RuntimeWaveNetLayerArray::Shape>& shapes) noexcept
{
    std::int64_t count = 1;
    for (const RuntimeWaveNetLayerArray::Shape& shape : shapes) {
        count += shape.MultiplyAddsPerSample();
    }
    return count;
}

void RuntimeWaveNet::SetWeights(WeightReader& reader)
{
    for (RuntimeWaveNetLayerArray& array : arrays) {
        array.SetWeights(reader);
    }
    headScale = reader.Next();
}

void RuntimeWaveNet::Process(const float* input, float* output, Eigen::Index numFrames) noexcept
{
    headAccumulator.leftCols(numFrames).setZero();
    arrays.front().Process(input, input, headAccumulator, numFrames);
    for (std::size_t i = 1; i < arrays.size(); ++i) {
        arrays[i].Process(arrays[i - 1].LayerOutputs().data(), input, arrays[i - 1].headOutputs, numFrames);
    }
    const Eigen::MatrixXf& result = arrays.back().headOutputs;
    for (Eigen::Index frame = 0; frame < numFrames; ++frame) {
        output[frame] = headScale * result(0, frame);
    }
}

void RuntimeWaveNet::Prewarm() noexcept
{
    const float silence = 0.0f;
    arrays.front().Prewarm(&silence, &silence, headAccumulator);
    for (std::size_t i = 1; i < arrays.size(); ++i) {
        arrays[i].Prewarm(arrays[i - 1].LayerOutputs().data(), &silence, arrays[i - 1].headOutputs);
    }
}

}  // namespace RuveroRidev
