#pragma once
// One residual layer of a WaveNet whose sizes come from the model file: a dilated convolution of any kernel
// size over the layer's input history, a mixin of the condition sample, the activation (gated or not), a skip
// output added into the array's head sum, and a 1x1 projection plus the layer's input as the next layer's
// input.
//
// The history is a ring of (K - 1) D + 16 columns, one input frame per column: the block being processed plus
// the (K - 1) D frames before it that the oldest tap reaches. The block is written at the write column and the
// taps read behind it modulo the ring length, so every tap is exact for any sequence of block sizes up to 16.
// The first 15 columns of the ring are mirrored behind its end, so a read of up to 16 columns that starts
// anywhere in the ring is one run of memory: the taps and the mixin then go into one fused product.
#include "neural/Activation.h"
#include "neural/RuntimeProduct.h"

#include <Eigen/Core>

#include <cstdint>

namespace RuveroRidev {

class WeightReader;

class RuntimeWaveNetLayer {
public:
    // The largest block a step handles, as on the fixed-size path; it sizes the working matrices and the spare
    // history columns.
    static constexpr int chunkFrames = 16;

    // All storage is allocated here, the history zeroed; the weights are read by SetWeights.
    RuntimeWaveNetLayer(int channels, int kernelSize, int dilation, bool gated, Activation activation);

    // Floats that SetWeights consumes: taps, convolution bias, mixin, 1x1 weights and bias.
    static std::int64_t NumWeights(int channels, int kernelSize, bool gated) noexcept;
    // Floats of every matrix the layer holds.
    static std::int64_t NumFloats(int channels, int kernelSize, int dilation, bool gated) noexcept;
    static std::int64_t MultiplyAddsPerSample(int channels, int kernelSize, bool gated) noexcept;

    // Taps output row by output row, then input channel, with the tap index fastest (tap 0 the oldest); the
    // convolution bias; the mixin; the 1x1 weights row by row; the 1x1 bias.
    void SetWeights(WeightReader& reader);

    // One block of numFrames (1 .. 16) frames. input: the block's input frames, the first numFrames columns of
    // a channels x 16 matrix; condition: numFrames samples; head: a channels x 16 matrix whose first numFrames
    // columns receive the activations; output: a channels x 16 matrix, distinct from input, whose first
    // numFrames columns receive the layer's output. The history moves on by numFrames frames.
    void Process(const Eigen::MatrixXf& input, const float* condition, Eigen::MatrixXf& head,
                 Eigen::MatrixXf& output, Eigen::Index numFrames) noexcept;

    // Fills every history column with input column 0: a layer whose input has been that column forever.
    void FillHistory(const Eigen::MatrixXf& input) noexcept;

private:
    // Writes the block's input frames at the write column, and into the mirror where they land in it.
    void WriteHistory(const Eigen::MatrixXf& input, Eigen::Index numFrames) noexcept;
    // Multiplies the activations by the logistic of their gates when gated, and adds them into the head.
    void GateAndCollect(Eigen::MatrixXf& head, Eigen::Index numFrames) noexcept;

    int channels;
    int convolutionRows;  // 2 x channels when gated: the upper half gates the lower
    int kernelSize;
    int dilation;
    bool gated;
    Activation activation;

    // convolutionRows x (kernelSize x channels + 1): tap k in columns k x channels onward, the mixin last.
    RuntimeProduct convolution;
    Eigen::VectorXf convolutionBias;
    RuntimeProduct layer1x1;
    Eigen::VectorXf bias1x1;
    Eigen::MatrixXf history;  // ring and mirror; empty when the kernel reads no earlier frame
    Eigen::Index ringColumns = 0;
    Eigen::Index writeColumn = 0;
    Eigen::MatrixXf working;  // convolutionRows x 16
};

}  // namespace RuveroRidev
