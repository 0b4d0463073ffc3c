#include "neural/RuntimeWaveNetLayer.h"

#include "neural/ModelLimits.h"
#include "neural/WeightReader.h"

#include <algorithm>

namespace RuveroRidev {

namespace {

using Eigen::Index;

// The ring: the block and the span its oldest tap reaches back.
std::int64_t ringColumnsFor(int kernelSize, int dilation) noexcept {
    const std::int64_t span = std::int64_t(kernelSize - 1) * dilation;
    return span > 0 ? span + RuntimeWaveNetLayer::chunkFrames : 0;
}

// The ring and its mirror of the first chunkFrames - 1 columns.
std::int64_t historyColumns(int kernelSize, int dilation) noexcept {
    const std::int64_t ring = ringColumnsFor(kernelSize, dilation);
    return ring > 0 ? ring + RuntimeWaveNetLayer::chunkFrames - 1 : 0;
}

using Finish = RuntimeFrameProduct::Finish;

bool fusesTanh(bool gated, Activation activation) noexcept {
    return !gated && (activation.kind == Activation::Kind::Tanh || activation.kind == Activation::Kind::FastTanh);
}

Finish convolutionFinish(bool gated, bool tanhFused, bool projectionFused) noexcept {
    if (gated) {
        return Finish::MixinGateToHead;
    }
    return projectionFused ? Finish::MixinTanhToHeadThenProject : tanhFused ? Finish::MixinTanhToHead : Finish::Mixin;
}

} // namespace

RuntimeWaveNetLayer::RuntimeWaveNetLayer(int channels, int kernelSize, int dilation, bool gated, Activation activation)
    : channels(channels),
      convolutionRows(gated ? 2 * channels : channels),
      kernelSize(kernelSize),
      dilation(dilation),
      gated(gated),
      activation(activation),
      tanhFused(fusesTanh(gated, activation)),
      projectionFused(tanhFused && RuntimeFrameProduct::Projects(channels, kernelSize)),
      convolution(convolutionRows, channels, kernelSize, convolutionFinish(gated, tanhFused, projectionFused),
                  activation),
      layer1x1(channels, channels, 1, Finish::Residual),
      history(FrameBlock::Zero(channels, Index(historyColumns(kernelSize, dilation)))),
      ringColumns(Index(ringColumnsFor(kernelSize, dilation))),
      working(FrameBlock::Zero(convolutionRows, chunkFrames)) {
    projectionFused = projectionFused && convolution.Compiled();
}

std::int64_t RuntimeWaveNetLayer::NumWeights(int channels, int kernelSize, bool gated) noexcept {
    const std::int64_t rows = gated ? 2 * channels : channels;
    return kernelSize * rows * channels + rows + rows + std::int64_t(channels) * channels + channels;
}

std::int64_t RuntimeWaveNetLayer::NumFloats(int channels, int kernelSize, int dilation, bool gated) noexcept {
    const int rows = gated ? 2 * channels : channels;
    return RuntimeFrameProduct::NumFloats(rows, channels, kernelSize) + rows +
           RuntimeFrameProduct::NumFloats(channels, channels, 1) + channels * historyColumns(kernelSize, dilation) +
           rows * chunkFrames;
}

std::int64_t RuntimeWaveNetLayer::MultiplyAddsPerSample(int channels, int kernelSize, bool gated) noexcept {
    const std::int64_t rows = gated ? 2 * channels : channels;
    return kernelSize * rows * channels + rows + std::int64_t(channels) * channels;
}

int RuntimeWaveNetLayer::ConvolutionRow(int fileRow) const noexcept {
    if (!gated) {
        return fileRow;
    }
    return fileRow < channels ? 2 * fileRow : 2 * (fileRow - channels) + 1;
}

void RuntimeWaveNetLayer::SetWeights(WeightReader& reader) {
    for (int row = 0; row < convolutionRows; ++row) {
        for (int column = 0; column < channels; ++column) {
            for (int k = 0; k < kernelSize; ++k) {
                convolution.TapWeights(k)(ConvolutionRow(row), column) = reader.Next();
            }
        }
    }
    for (Eigen::VectorXf* vector : {&convolution.Bias(), &convolution.Mixin()}) {
        for (int row = 0; row < convolutionRows; ++row) {
            (*vector)(ConvolutionRow(row)) = reader.Next();
        }
    }
    reader.ReadRowByRow(layer1x1.TapWeights(0));
    reader.ReadVector(layer1x1.Bias());
}

void RuntimeWaveNetLayer::SettleHistory(Index numFrames) noexcept {
    // Frames written past the ring's end stand in the mirror already; the ring's start still needs them.
    const Index inRing = std::min(numFrames, ringColumns - writeColumn);
    const Index wrapped = numFrames - inRing;
    const Index directMirror =
        writeColumn < chunkFrames - 1 ? std::min(inRing, chunkFrames - 1 - writeColumn) : Index(0);
    if (wrapped == 0 && directMirror == 0) {
        return;
    }
    for (int channel = 0; channel < channels; ++channel) {
        float* ring = history.data() + channel * history.outerStride();
        std::copy_n(ring + ringColumns, wrapped, ring);
        std::copy_n(ring + writeColumn, directMirror, ring + ringColumns + writeColumn);
    }
}

void RuntimeWaveNetLayer::ActivateAndCollect(FrameBlock& head) noexcept {
    // The channel rows are one run of channels x 16 floats.
    const Index count = Index(channels) * chunkFrames;
    Eigen::Map<Eigen::MatrixXf> activated(working.data(), count, 1);
    activation.Apply(activated);
    Eigen::Map<Eigen::ArrayXf>(head.data(), count) += activated.array();
}

void RuntimeWaveNetLayer::Process(const float* input, Index inputStride, const float* condition, FrameBlock& head,
                                  float* output, Index outputStride, Index numFrames) noexcept {
    // The block's own frames stand in the ring: every tap reads there, the newest one the block itself. Tap k
    // reads the frames (K - 1 - k) D back; without a ring the one tap is the input.
    const float* taps[ModelLimits::maxKernelSize];
    Index tapStride = inputStride;
    if (ringColumns > 0) {
        SettleHistory(numFrames);
        for (int k = 0; k < kernelSize; ++k) {
            Index start = writeColumn - Index(kernelSize - 1 - k) * dilation;
            if (start < 0) {
                start += ringColumns;
            }
            taps[k] = history.data() + start;
        }
        tapStride = history.outerStride();
    } else {
        taps[0] = input;
    }
    // The 1x1 projection with its bias and the layer's input added on the way out: in the convolution's finish
    // where that is fused, on its own otherwise.
    RuntimeFrameProduct::Extras extras;
    extras.condition = condition;
    extras.head = head.data();
    extras.headStride = head.outerStride();
    extras.addend = input;
    extras.addendStride = inputStride;
    extras.projectionWeights = layer1x1.WeightData();
    extras.projectionBias = layer1x1.BiasData();
    extras.destination = output;
    extras.destinationStride = outputStride;
    convolution.Run(taps, tapStride, extras, working.data(), working.outerStride());
    if (!tanhFused && !gated) {
        ActivateAndCollect(head);
    }
    if (!projectionFused) {
        const float* projectionInput[] = {working.data()};
        layer1x1.Run(projectionInput, working.outerStride(), extras, output, outputStride);
    }

    if (ringColumns > 0) {
        writeColumn = (writeColumn + numFrames) % ringColumns;
    }
}

void RuntimeWaveNetLayer::FillHistory(const float* input, Index inputStride) noexcept {
    for (int channel = 0; channel < channels; ++channel) {
        history.row(channel).setConstant(input[channel * inputStride]);
    }
}

} // namespace RuveroRidev
