#include "neural/RuntimeWaveNet.h"

#include "neural/WeightReader.h"

#include <algorithm>

namespace RuveroRidev {

RuntimeWaveNet::RuntimeWaveNet(const std::vector<RuntimeWaveNetLayerArray::Shape>& shapes)
    : headAccumulator(FrameBlock::Zero(shapes.front().channels, RuntimeWaveNetLayer::chunkFrames)) {
    arrays.reserve(shapes.size());
    for (const RuntimeWaveNetLayerArray::Shape& shape : shapes) {
        arrays.emplace_back(shape);
        receptiveFieldSize += int(shape.ReceptiveField());
    }
}

std::int64_t RuntimeWaveNet::NumWeights(const std::vector<RuntimeWaveNetLayerArray::Shape>& shapes) noexcept {
    std::int64_t count = 1; // the head scale
    for (const RuntimeWaveNetLayerArray::Shape& shape : shapes) {
        count += shape.NumWeights();
    }
    return count;
}

std::int64_t RuntimeWaveNet::NumFloats(const std::vector<RuntimeWaveNetLayerArray::Shape>& shapes) noexcept {
    std::int64_t count = 1 + std::int64_t(shapes.front().channels) * RuntimeWaveNetLayer::chunkFrames;
    for (const RuntimeWaveNetLayerArray::Shape& shape : shapes) {
        count += shape.NumFloats();
    }
    return count;
}

std::int64_t
RuntimeWaveNet::MultiplyAddsPerSample(const std::vector<RuntimeWaveNetLayerArray::Shape>& shapes) noexcept {
    std::int64_t count = 1;
    for (const RuntimeWaveNetLayerArray::Shape& shape : shapes) {
        count += shape.MultiplyAddsPerSample();
    }
    return count;
}

bool RuntimeWaveNet::Compiled() const noexcept {
    return std::all_of(arrays.begin(), arrays.end(),
                       [](const RuntimeWaveNetLayerArray& array) { return array.Compiled(); });
}

void RuntimeWaveNet::SetWeights(WeightReader& reader) {
    for (RuntimeWaveNetLayerArray& array : arrays) {
        array.SetWeights(reader);
    }
    headScale = reader.Next();
}

void RuntimeWaveNet::Process(const float* input, float* output, Eigen::Index numFrames) noexcept {
    std::copy_n(input, numFrames, samples.data());
    headAccumulator.setZero();
    arrays.front().Process(samples.data(), samples.data(), headAccumulator, numFrames);
    for (std::size_t i = 1; i < arrays.size(); ++i) {
        arrays[i].Process(arrays[i - 1].LayerOutputs().data(), samples.data(), arrays[i - 1].headOutputs, numFrames);
    }
    const FrameBlock& result = arrays.back().headOutputs;
    for (Eigen::Index frame = 0; frame < numFrames; ++frame) {
        output[frame] = headScale * result(0, frame);
    }
}

void RuntimeWaveNet::Prewarm() noexcept {
    samples.setZero();
    arrays.front().Prewarm(samples.data(), samples.data(), headAccumulator);
    for (std::size_t i = 1; i < arrays.size(); ++i) {
        arrays[i].Prewarm(arrays[i - 1].LayerOutputs().data(), samples.data(), arrays[i - 1].headOutputs);
    }
}

} // namespace RuveroRidev
