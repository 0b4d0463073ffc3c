#pragma once
// One layer array of a runtime-sized WaveNet: an input rechannel, the layers in the order of the file's
// dilations (each layer's output the next one's input, in two alternating buffers), and a head rechannel of
// the head sum that the layers add into.
#include "neural/Activation.h"
#include "neural/RuntimeProduct.h"
#include "neural/RuntimeWaveNetLayer.h"

#include <Eigen/Core>

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

    // One block of numFrames (1 .. 16) frames. input: inputSize rows by numFrames columns, column by column;
    // condition: numFrames samples; head: a channels x 16 matrix that the layers add into. Leaves the last
    // layer's output in LayerOutputs() and the head rechannel's in headOutputs, first numFrames columns.
    void Process(const float* input, const float* condition, Eigen::MatrixXf& head, Eigen::Index numFrames) noexcept;

    // Settles every layer history to what an endless constant input leaves: input column 0 (inputSize floats)
    // is that input, every layer runs once on its own steady input after its history has been filled with
    // it. Column 0 of LayerOutputs() receives the steady output; head column 0 is used as scratch.
    void Prewarm(const float* input, const float* condition, Eigen::MatrixXf& head) noexcept;

    // channels x 16; the first columns of the last block hold its output.
    const Eigen::MatrixXf& LayerOutputs() const noexcept { return buffers[outputBuffer]; }

    Eigen::MatrixXf headOutputs;  // headSize x 16

private:
    int inputSize;
    RuntimeProduct rechannel;  // channels x inputSize
    std::vector<RuntimeWaveNetLayer> layers;
    RuntimeProduct headRechannel;  // headSize x channels
    Eigen::VectorXf headBias;       // empty without a head bias
    Eigen::MatrixXf buffers[2];     // channels x 16 each: a layer reads one and writes the other
    int outputBuffer = 0;
};

}  // namespace RuveroRidev
