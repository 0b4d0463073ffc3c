#pragma once
// One residual layer of a WaveNet whose sizes come from the model file: a dilated convolution of any kernel
// size over the layer's input history, a mixin of the condition sample, the activation (gated or not), a skip
// output added into the array's head sum, and a 1x1 projection plus the layer's input as the next layer's
// input. Every block matrix holds the frames in the SIMD lanes (RuntimeFrameProduct): one row per channel.
//
// The history is a ring of (K - 1) D + 16 columns per channel row, one input frame per column: the block being
// processed plus the (K - 1) D frames before it that the oldest tap reaches. The block is written at the write
// column and the taps read behind it modulo the ring length, so every tap is exact for any sequence of block
// sizes up to 16. The first 15 columns of the ring are mirrored behind its end, so the 16 frames a tap reads
// from any start in the ring are one run of each row: every tap, the newest included, is read from there.
#include "neural/Activation.h"
#include "neural/RuntimeFrameProduct.h"

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

    // Where the next block's input frames must be written, 16 floats per row InputStride() apart: the layer's
    // own history at its write column, so no frame is copied there. Null when the layer keeps no history.
    float* InputSlot() noexcept { return ringColumns > 0 ? history.data() + writeColumn : nullptr; }
    Eigen::Index InputStride() const noexcept { return history.outerStride(); }

    // One block of numFrames (1 .. 16) frames. input: the block's input frames, the first numFrames columns of
    // a channels x 16 block with rows inputStride apart, at InputSlot() when the layer keeps a history; condition:
    // 16 samples, the first numFrames of them the block's; head: a channels x 16 block whose first numFrames
    // columns receive the activations; output: a channels x 16 block, distinct from input, whose first
    // numFrames columns receive the layer's output. The history moves on by numFrames frames.
    void Process(const float* input, Eigen::Index inputStride, const float* condition, FrameBlock& head, float* output,
                 Eigen::Index outputStride, Eigen::Index numFrames) noexcept;

    // Fills every history column with input column 0: a layer whose input has been that column forever.
    void FillHistory(const float* input, Eigen::Index inputStride) noexcept;

    // True when compiled kernels serve every product of the layer.
    bool Compiled() const noexcept { return convolution.Compiled() && layer1x1.Compiled(); }

private:
    // Completes the block's frames written at the write column: those past the ring's end go to its start,
    // those in its first 15 columns into the mirror.
    void SettleHistory(Eigen::Index numFrames) noexcept;
    // Applies the activation when the convolution's finish has not, and adds it into the head.
    void ActivateAndCollect(FrameBlock& head) noexcept;
    // The convolution's row of a row of the file: a gated layer's activation and gate rows alternate, so that
    // the convolution's finish holds each row beside its gate.
    int ConvolutionRow(int fileRow) const noexcept;

    int channels;
    int convolutionRows; // 2 x channels when gated: each activation row followed by its gate row
    int kernelSize;
    int dilation;
    bool gated;
    Activation activation;

    bool tanhFused; // the convolution's finish takes the tanh and fills the head
    // The convolution's finish also takes the projection, as its compiled kernel can for the common sizes.
    bool projectionFused;

    RuntimeFrameProduct convolution; // convolutionRows x channels per tap, the mixin in its finish
    RuntimeFrameProduct layer1x1;    // the residual added in its finish
    FrameBlock history;              // ring and mirror; empty when the kernel reads no earlier frame
    Eigen::Index ringColumns = 0;
    Eigen::Index writeColumn = 0;
    FrameBlock working; // convolutionRows x 16; a gated layer's finish fills the first channels rows
};

} // namespace RuveroRidev
