#pragma once
// The network of a runtime-sized WaveNet: a chain of layer arrays and the head scale. Array 0 takes the input
// samples; array i + 1 takes array i's layer outputs and adds its activations into array i's head outputs, so
// the head sum flows down the chain; the last array's head rechannel gives one sample per frame, which the
// head scale multiplies. Every array takes the input samples as its condition.
#include "neural/RuntimeWaveNetLayerArray.h"

#include <Eigen/Core>

#include <cstdint>
#include <vector>

namespace RuveroRidev {

class WeightReader;

class RuntimeWaveNet {
public:
    // The shapes must chain (array i + 1's input size and channels equal array i's channels and head size,
    // the last head size is 1); RuntimeWaveNetModel checks that before it builds a network.
    explicit RuntimeWaveNet(const std::vector<RuntimeWaveNetLayerArray::Shape>& shapes);

    // Floats that SetWeights consumes, and floats the network holds, for these shapes.
    static std::int64_t NumWeights(const std::vector<RuntimeWaveNetLayerArray::Shape>& shapes) noexcept;
    static std::int64_t NumFloats(const std::vector<RuntimeWaveNetLayerArray::Shape>& shapes) noexcept;
    // Every array's, and the head scale.
    static std::int64_t MultiplyAddsPerSample(const std::vector<RuntimeWaveNetLayerArray::Shape>& shapes) noexcept;

    // Every array in order, then the head scale.
    void SetWeights(WeightReader& reader);

    // One chunk of numFrames (1 .. 16) samples. Every input sample is read before the first output sample is
    // written, so input and output may be the same array.
    void Process(const float* input, float* output, Eigen::Index numFrames) noexcept;

    // Settles every layer history into the state that an endless silent input leaves.
    void Prewarm() noexcept;

    int ReceptiveFieldSize() const noexcept { return receptiveFieldSize; }

    // True when compiled kernels serve every product of the network.
    bool Compiled() const noexcept;

private:
    std::vector<RuntimeWaveNetLayerArray> arrays;
    FrameBlock headAccumulator; // array 0's channels x 16
    // The block's input samples, which every kernel reads 16 at a time whatever the block's length.
    Eigen::Matrix<float, 1, RuntimeWaveNetLayer::chunkFrames> samples =
        Eigen::Matrix<float, 1, RuntimeWaveNetLayer::chunkFrames>::Zero();
    float headScale = 0.0f;
    int receptiveFieldSize = 0;
};

} // namespace RuveroRidev
