#pragma once
// The network of a fixed-size WaveNet: two layer arrays and the head scale. Array 0 takes the input samples;
// array 1 takes array 0's layer outputs and adds its activations into array 0's head outputs; array 1's head
// rechannel turns that sum into one sample per frame, which the head scale multiplies. Both arrays take the
// input samples as their condition.
#include "neural/WaveNetLayerArrayT.h"
#include "neural/WaveNetLayerT.h"

#include <Eigen/Core>

#include <cstdint>
#include <tuple>

namespace RuveroRidev {

template <class Array0, class Array1>
class WaveNetModelT {
public:
    using HeadAccumulator = Eigen::Matrix<float, Array0::ChannelRows, waveNetChunkFrames, Eigen::RowMajor>;

    static_assert(Array0::InputRows == 1, "array 0 takes the input samples");
    static_assert(Array1::InputRows == Array0::ChannelRows, "array 1 reads array 0's layer outputs");
    static_assert(Array1::ChannelRows == Array0::HeadRows, "array 1's layers add into array 0's head outputs");
    static_assert(Array1::HeadRows == 1, "one output sample per frame");

    // Floats of the model file's weight list that SetWeights consumes.
    static constexpr int NumWeights = Array0::NumWeights + Array1::NumWeights + 1;
    static constexpr std::int64_t MultiplyAddsPerSample =
        Array0::MultiplyAddsPerSample + Array1::MultiplyAddsPerSample + 1;
    static constexpr std::int64_t TanhsPerSample = Array0::TanhsPerSample + Array1::TanhsPerSample;
    // Floats the network holds beside its own object.
    static constexpr std::int64_t HeapFloats = Array0::HeapFloats + Array1::HeapFloats;

    int receptiveFieldSize = Array0::ReceptiveFieldSize + Array1::ReceptiveFieldSize;
    std::tuple<Array0, Array1> layerArrays;
    HeadAccumulator headAccumulator = HeadAccumulator::Zero();
    float headScale = 0.0f;

    // One chunk of numFrames (1 .. 16) samples. Every input sample is read before the first output sample is
    // written, so input and output may be the same array.
    void Process(const float* input, float* output, std::uint64_t numFrames) noexcept {
        auto& [array0, array1] = layerArrays;
        const Eigen::Map<const Eigen::Matrix<float, 1, waveNetChunkFrames>> inputRow(input);
        headAccumulator.setZero();
        array0.Process(inputRow, input, headAccumulator, numFrames);
        array1.Process(array0.layerOutputs, input, array0.headOutputs, numFrames);
        for (std::uint64_t frame = 0; frame < numFrames; ++frame) {
            output[frame] = headScale * array1.headOutputs(0, Eigen::Index(frame));
        }
    }

    // Brings every layer history into the state that an endless silent input leaves: each layer runs once on
    // its steady silent input, and that input is copied over every history column a later step can reach
    // without writing it first. The head path is not computed: the next Process clears and rewrites it.
    void Prewarm() noexcept {
        auto& [array0, array1] = layerArrays;
        const float silence = 0.0f;
        const Eigen::Map<const Eigen::Matrix<float, 1, 1>> silentInput(&silence);
        array0.Prewarm(silentInput, &silence, headAccumulator);
        array1.Prewarm(array0.layerOutputs, &silence, array0.headOutputs);
    }

    // Reads array 0, array 1 and the head scale from the position on, in that order.
    template <class Iterator>
    void SetWeights(Iterator& position) {
        std::get<0>(layerArrays).SetWeights(position);
        std::get<1>(layerArrays).SetWeights(position);
        headScale = *position++;
    }
};

} // namespace RuveroRidev
