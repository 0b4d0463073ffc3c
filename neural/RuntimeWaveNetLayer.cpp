#include "RuntimeWaveNetLayer.h"

#include "RuntimeProduct.h"
#include "WeightReader.h"

#include <algorithm>

namespace RuveroRidev {

namespace {

std::int64_t historyColumns(int kernelSize, int dilation) noexcept
{
    const std::int64_t span = std::int64_t(kernelSize - 1) * dilation;
    return span > 0 ? span + RuntimeWaveNetLayer::chunkFrames : 0;
}

}  // namespace

RuntimeWaveNetLayer::RuntimeWaveNetLayer(int channels, int kernelSize, int dilation, bool gated,
                                         Activation activation)
    : channels(channels), convolutionRows(gated ? 2 * channels : channels), kernelSize(kernelSize),
      dilation(dilation), gated(gated), activation(activation),
      taps(Eigen::MatrixXf::Zero(convolutionRows, Eigen::Index(kernelSize) * channels)),
      convolutionBias(Eigen::VectorXf::Zero(convolutionRows)), mixin(Eigen::VectorXf::Zero(convolutionRows)),
      weights1x1(Eigen::MatrixXf::Zero(channels, channels)), bias1x1(Eigen::VectorXf::Zero(channels)),
      history(Eigen::MatrixXf::Zero(channels, Eigen::Index(historyColumns(kernelSize, dilation)))),
      working(Eigen::MatrixXf::Zero(convolutionRows, chunkFrames))
{
}

std::int64_t RuntimeWaveNetLayer::NumWeights(int channels, int kernelSize, bool gated) noexcept
{
    const std::int64_t rows = gated ? 2 * channels : channels;
    return kernelSize * rows * channels + rows + rows + std::int64_t(channels) * channels + channels;
}

std::int64_t RuntimeWaveNetLayer::NumFloats(int channels, int kernelSize, int dilation, bool gated) noexcept
{
    const std::int64_t rows = gated ? 2 * channels : channels;
    return NumWeights(channels, kernelSize, gated) + channels * historyColumns(kernelSize, dilation) +
           rows * chunkFrames;
}

std::int64_t RuntimeWaveNetLayer::MultiplyAddsPerSample(int channels, int kernelSize, bool gated) noexcept
{
    const std::int64_t rows = gated ? 2 * channels : channels;
    return kernelSize * rows * channels + rows + std::int64_t(channels) * channels;
}

void RuntimeWaveNetLayer::SetWeights(WeightReader& reader)
{
    for (int row = 0; row < convolutionRows; ++row) {
        for (int column = 0; column < channels; ++column) {
            for (int k = 0; k < kernelSize; ++k) {
                taps(row, Eigen::Index(k) * channels + column) = reader.Next();
            }
        }
    }
    reader.ReadVector(convolutionBias);
    reader.ReadVector(mixin);
    reader.ReadRowByRow(weights1x1);
    reader.ReadVector(bias1x1);
}

template <class Step>
void RuntimeWaveNetLayer::ForRingSpan(Eigen::Index offset, Eigen::Index numFrames, Step&& multiplyInto) const noexcept
{
    const Eigen::Index ringColumns = history.cols();
    Eigen::Index start = writeColumn - offset;
    if (start < 0) {
        start += ringColumns;
    }
    const Eigen::Index first = std::min(numFrames, ringColumns - start);
    multiplyInto(start, Eigen::Index(0), first);
    if (first < numFrames) {
        multiplyInto(Eigen::Index(0), first, numFrames - first);
    }
}

void RuntimeWaveNetLayer::Process(const Eigen::MatrixXf& input, const float* condition, Eigen::MatrixXf& head,
                                  Eigen::MatrixXf& output, Eigen::Index numFrames) noexcept
{
    auto block = working.leftCols(numFrames);
    if (history.cols() > 0) {
        // The block's own frames go into the ring first: taps of small dilations read them.
        ForRingSpan(0, numFrames, [&](Eigen::Index ringStart, Eigen::Index blockStart, Eigen::Index count) {
            history.middleCols(ringStart, count) = input.middleCols(blockStart, count);
        });
    }
    // Tap k reads the frame (K - 1 - k) D back; tap 0 is assigned, the others added, the bias last.
    for (int k = 0; k < kernelSize - 1; ++k) {
        const auto tap = taps.middleCols(Eigen::Index(k) * channels, channels);
        ForRingSpan(Eigen::Index(kernelSize - 1 - k) * dilation, numFrames,
                    [&](Eigen::Index ringStart, Eigen::Index blockStart, Eigen::Index count) {
                        RuntimeProduct::Multiply(tap, history.middleCols(ringStart, count),
                                                 working.middleCols(blockStart, count), k > 0);
                    });
    }
    RuntimeProduct::Multiply(taps.middleCols(Eigen::Index(kernelSize - 1) * channels, channels),
                             input.leftCols(numFrames), block, kernelSize > 1);
    block.colwise() += convolutionBias;
    block.noalias() += mixin.lazyProduct(Eigen::Map<const Eigen::RowVectorXf>(condition, numFrames));

    auto activated = working.topLeftCorner(channels, numFrames);
    activation.Apply(activated);
    if (gated) {
        auto gate = working.bottomLeftCorner(channels, numFrames);
        gate.array() = gate.array().logistic();
        activated.array() *= gate.array();
    }
    head.leftCols(numFrames) += activated;

    auto layerOutput = output.leftCols(numFrames);
    RuntimeProduct::Multiply(weights1x1, activated, layerOutput, false);
    layerOutput.colwise() += bias1x1;
    layerOutput += input.leftCols(numFrames);

    if (history.cols() > 0) {
        writeColumn = (writeColumn + numFrames) % history.cols();
    }
}

void RuntimeWaveNetLayer::FillHistory(const Eigen::MatrixXf& input) noexcept
{
    for (Eigen::Index column = 0; column < history.cols(); ++column) {
        history.col(column) = input.col(0);
    }
}

}  // namespace RuveroRidev
