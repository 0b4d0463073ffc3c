#pragma once
// One layer array of a runtime-sized WaveNet: an input rechannel, the layers in the order of the file's
// dilations (each layer's output the next one's input, written straight into its history, or into one of two
// alternating buffers for a layer that keeps none, and for the last layer), and a head rechannel of the head
// sum that the layers add into.
#include "neural/Activation.h"
#include "neural/RuntimeFrameProduct.h"
#include "neural/RuntimeWaveNetLayer.h"

#include <Eigen/Core>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace RuveroRidev {

class WeightReader;

class RuntimeWaveNetLayerArray {
public:
    // The sizes of one entry of the model file's "layers" list.
    struct Shape {
        int inputSize = 1;
        int conditionSize = 1;
        int headSize = 1;
        int channels = 1;
        int kernelSize = 1;
        std::vector<int> dilations;
        Activation activation;
        bool gated = false;
        bool headBias = false;

        std::int64_t NumWeights() const noexcept;
        // Floats of every matrix the array holds, its layers' included.
        std::int64_t NumFloats() const noexcept;
        std::int64_t MultiplyAddsPerSample() const noexcept;
        // (kernel size - 1) x the sum of the dilations.
        std::int64_t ReceptiveField() const noexcept;
    };

    // Allocates every matrix of the array; histories start at zero.
    explicit RuntimeWaveNetLayerArray(const Shape& shape);

    // Rechannel row by row, each layer in order, head rechannel row by row, then its bias if it has one.
    void SetWeights(WeightReader& reader);

    // One block of numFrames (1 .. 16) frames. input: an inputSize x 16 block, rows 16 floats apart;
    // condition: 16 samples; head: a channels x 16 block that the layers add into. Leaves the last layer's
    // output in LayerOutputs() and the head rechannel's in headOutputs, first numFrames columns.
    void Process(const float* input, const float* condition, FrameBlock& head, Eigen::Index numFrames) noexcept;

    // Settles every layer history to what an endless constant input leaves: input column 0 is that input,
    // every layer runs once on its own steady input after its history has been filled with it. Column 0 of
    // LayerOutputs() receives the steady output; the head is used as scratch.
    void Prewarm(const float* input, const float* condition, FrameBlock& head) noexcept;

    // channels x 16; the first columns of the last block hold its output.
    const FrameBlock& LayerOutputs() const noexcept { return buffers[layers.size() % 2]; }

    // True when compiled kernels serve every product of the array.
    bool Compiled() const noexcept;

    FrameBlock headOutputs; // headSize x 16

private:
    // Where layer `index`'s input frames go, or the array's output for the index past the last layer: the
    // layer's own history when it keeps one, so no frame is copied there, else the buffer of the index's
    // parity, which the layer before does not read.
    float* InputOf(std::size_t index, Eigen::Index& stride) noexcept;
    // Process, and Prewarm when prewarm: each history is then filled with its layer's first input column.
    void Run(const float* input, const float* condition, FrameBlock& head, Eigen::Index numFrames,
             bool prewarm) noexcept;

    RuntimeFrameProduct rechannel; // channels x inputSize
    std::vector<RuntimeWaveNetLayer> layers;
    RuntimeFrameProduct headRechannel; // headSize x channels
    bool headBias;
    FrameBlock buffers[2]; // channels x 16 each: a layer reads one and writes the other
};

} // namespace RuveroRidev
