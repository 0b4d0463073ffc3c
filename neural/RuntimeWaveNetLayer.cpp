#include "neural/RuntimeWaveNetLayer.h"

#include "neural/ModelLimits.h"
#include "neural/WeightReader.h"

#include <algorithm>

// Eigen's SIMD packet types carry alignment attributes that a template argument cannot keep; nothing here
// depends on them, as Eigen's own headers also state.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wignored-attributes"

namespace RuveroRidev {

namespace {

using Eigen::Index;

// The ring: the block and the span its oldest tap reaches back.
std::int64_t ringColumnsFor(int kernelSize, int dilation) noexcept
{
    const std::int64_t span = std::int64_t(kernelSize - 1) * dilation;
    return span > 0 ? span + RuntimeWaveNetLayer::chunkFrames : 0;
}

// The ring and its mirror of the first chunkFrames - 1 columns.
std::int64_t historyColumns(int kernelSize, int dilation) noexcept
{
    const std::int64_t ring = ringColumnsFor(kernelSize, dilation);
    return ring > 0 ? ring + RuntimeWaveNetLayer::chunkFrames - 1 : 0;
}

using FullPacket = Eigen::internal::packet_traits<float>::type;
using HalfPacket = Eigen::internal::unpacket_traits<FullPacket>::half;

// Runs step.operator()<Packet>(offset) over count floats: whole full-width packets, then half-width ones, then
// single floats (a float is a packet of one to Eigen's packet functions).
template <class Step>
void forPackets(Index count, Step&& step) noexcept
{
    constexpr Index fullLanes = Eigen::internal::unpacket_traits<FullPacket>::size;
    constexpr Index halfLanes = Eigen::internal::unpacket_traits<HalfPacket>::size;
    Index offset = 0;
    for (; offset + fullLanes <= count; offset += fullLanes) {
        step.template operator()<FullPacket>(offset);
    }
    if constexpr (halfLanes < fullLanes) {
        for (; offset + halfLanes <= count; offset += halfLanes) {
            step.template operator()<HalfPacket>(offset);
        }
    }
    for (; offset < count; ++offset) {
        step.template operator()<float>(offset);
    }
}

}  // namespace

RuntimeWaveNetLayer::RuntimeWaveNetLayer(int channels, int kernelSize, int dilation, bool gated,
                                         Activation activation)
    : channels(channels), convolutionRows(gated ? 2 * channels : channels), kernelSize(kernelSize),
      dilation(dilation), gated(gated), activation(activation),
      convolution(convolutionRows, Index(kernelSize) * channels + 1),
      convolutionBias(Eigen::VectorXf::Zero(convolutionRows)), layer1x1(channels, channels),
      bias1x1(Eigen::VectorXf::Zero(channels)),
      history(Eigen::MatrixXf::Zero(channels, Index(historyColumns(kernelSize, dilation)))),
      ringColumns(Index(ringColumnsFor(kernelSize, dilation))),
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
    return RuntimeProduct::NumFloats(rows, Index(kernelSize) * channels + 1) + rows +
           RuntimeProduct::NumFloats(channels, channels) + channels +
           channels * historyColumns(kernelSize, dilation) + rows * chunkFrames;
}

std::int64_t RuntimeWaveNetLayer::MultiplyAddsPerSample(int channels, int kernelSize, bool gated) noexcept
{
    const std::int64_t rows = gated ? 2 * channels : channels;
    return kernelSize * rows * channels + rows + std::int64_t(channels) * channels;
}

void RuntimeWaveNetLayer::SetWeights(WeightReader& reader)
{
    auto convolutionWeights = convolution.Weights();
    for (int row = 0; row < convolutionRows; ++row) {
        for (int column = 0; column < channels; ++column) {
            for (int k = 0; k < kernelSize; ++k) {
                convolutionWeights(row, Index(k) * channels + column) = reader.Next();
            }
        }
    }
    reader.ReadVector(convolutionBias);
    reader.ReadVector(convolutionWeights.col(Index(kernelSize) * channels));
    reader.ReadRowByRow(layer1x1.Weights());
    reader.ReadVector(bias1x1);
}

void RuntimeWaveNetLayer::WriteHistory(const Eigen::MatrixXf& input, Index numFrames) noexcept
{
    // At most two runs: up to the ring's end, and on from its start.
    const Index firstRun = std::min(numFrames, ringColumns - writeColumn);
    const float* frames = input.data();
    float* ring = history.data();
    std::copy_n(frames, firstRun * channels, ring + writeColumn * channels);
    std::copy_n(frames + firstRun * channels, (numFrames - firstRun) * channels, ring);
    // The frames that landed in the mirrored columns at the ring's start, again behind its end.
    const Index mirrored = std::min<Index>(chunkFrames - 1, numFrames - firstRun);
    if (mirrored > 0) {
        std::copy_n(ring, mirrored * channels, ring + ringColumns * channels);
    }
    if (writeColumn < chunkFrames - 1) {
        const Index count = std::min(firstRun, chunkFrames - 1 - writeColumn);
        std::copy_n(ring + writeColumn * channels, count * channels, ring + (ringColumns + writeColumn) * channels);
    }
}

void RuntimeWaveNetLayer::GateAndCollect(Eigen::MatrixXf& head, Index numFrames) noexcept
{
    const Eigen::internal::scalar_logistic_op<float> logistic;
    for (Index frame = 0; frame < numFrames; ++frame) {
        float* activated = working.data() + frame * working.outerStride();
        const float* gate = activated + channels;
        float* headColumn = head.data() + frame * head.outerStride();
        forPackets(channels, [&]<class Packet>(Index row) {
            using namespace Eigen::internal;
            Packet value = ploadu<Packet>(activated + row);
            if (gated) {
                value = pmul(value, logistic.packetOp(ploadu<Packet>(gate + row)));
                pstoreu(activated + row, value);
            }
            pstoreu(headColumn + row, padd(ploadu<Packet>(headColumn + row), value));
        });
    }
}

void RuntimeWaveNetLayer::Process(const Eigen::MatrixXf& input, const float* condition, Eigen::MatrixXf& head,
                                  Eigen::MatrixXf& output, Index numFrames) noexcept
{
    // The block's own frames go into the ring first: taps of small dilations read them.
    if (ringColumns > 0) {
        WriteHistory(input, numFrames);
    }
    // Tap k reads the frame (K - 1 - k) D back; the newest tap reads the input itself, the mixin the condition.
    RuntimeProduct::Term terms[ModelLimits::maxKernelSize + 1];
    for (int k = 0; k < kernelSize - 1; ++k) {
        Index start = writeColumn - Index(kernelSize - 1 - k) * dilation;
        if (start < 0) {
            start += ringColumns;
        }
        terms[k] = {Index(k) * channels, channels, history.data() + start * channels, channels};
    }
    terms[kernelSize - 1] = {Index(kernelSize - 1) * channels, channels, input.data(), input.outerStride()};
    terms[kernelSize] = {Index(kernelSize) * channels, 1, condition, 1};
    RuntimeProduct::Sum convolutionSum;
    convolutionSum.terms = terms;
    convolutionSum.numTerms = kernelSize + 1;
    convolutionSum.bias = convolutionBias.data();
    convolution.Run(convolutionSum, working.data(), working.outerStride(), numFrames);

    activation.Apply(working.topLeftCorner(channels, numFrames));
    GateAndCollect(head, numFrames);

    // The 1x1 projection with its bias and the layer's input added on the way out.
    const RuntimeProduct::Term projection{0, channels, working.data(), working.outerStride()};
    RuntimeProduct::Sum projectionSum;
    projectionSum.terms = &projection;
    projectionSum.numTerms = 1;
    projectionSum.bias = bias1x1.data();
    projectionSum.addend = input.data();
    projectionSum.addendStride = input.outerStride();
    layer1x1.Run(projectionSum, output.data(), output.outerStride(), numFrames);

    if (ringColumns > 0) {
        writeColumn = (writeColumn + numFrames) % ringColumns;
    }
}

void RuntimeWaveNetLayer::FillHistory(const Eigen::MatrixXf& input) noexcept
{
    for (Index column = 0; column < history.cols(); ++column) {
        history.col(column) = input.col(0);
    }
}

}  // namespace RuveroRidev

#pragma GCC diagnostic pop
