#pragma once
// One non-gated residual WaveNet layer: a 3-tap dilated convolution over the layer's own input history, a
// mixin of the condition sample, the fast tanh, a skip output added into the array's head sum, and a 1x1
// projection plus the layer's input that becomes the next layer's input.
//
// The history holds the layer's input frames, one per column. The preceding layer (or the array's rechannel)
// writes a block's frames at the write position p; the step reads columns p - 2D to p + n - 1; the history
// advance then keeps the last 2D frames reachable below the next write position:
// - front copy (2D <= 16): p stays 2D and the last 2D frames are moved down to columns 0 .. 2D - 1;
// - mirrored ring (2D > 16): every frame is also written 2D columns lower (and 4D lower when it lands at 4D or
//   beyond), and p steps back by 2D once it passes 4D. A column then always holds the newest frame of its
//   position modulo 2D, so taps stay exact for any sequence of block sizes up to 16, and a block never wraps
//   inside a read.
#include "neural/Conv1DT.h"
#include "neural/DenseLayerT.h"
#include "neural/FastMath.h"

#include <Eigen/Core>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace RuveroRidev {

// The largest block a network step handles; it sizes every per-block matrix and the spare history columns.
inline constexpr int waveNetChunkFrames = 16;

// Runs step(width, frame) over a block of numFrames frames: a full block as one fixed-size step of 16 columns
// (the player's only block size), anything shorter column by column, which is the same arithmetic.
template <class Step>
inline void ForChunkColumns(std::uint64_t numFrames, Step&& step) noexcept
{
    if (numFrames == waveNetChunkFrames) {
        step(std::integral_constant<int, waveNetChunkFrames>{}, Eigen::Index(0));
        return;
    }
    for (Eigen::Index frame = 0; frame < Eigen::Index(numFrames); ++frame) {
        step(std::integral_constant<int, 1>{}, frame);
    }
}

template <int ConditionSize, int Ch, int KernelSize, int D>
class WaveNetLayerT {
    static_assert(KernelSize == 3, "the history layout assumes taps at 2D, D and 0 frames back");

public:
    static constexpr int Dilation = D;
    static constexpr int Channels = Ch;
    static constexpr int HistoryColumns = waveNetChunkFrames + 4 * D;
    static constexpr bool FrontCopy = 2 * D <= waveNetChunkFrames;
    // Eigen refuses fixed-size objects beyond its stack allocation limit; the one history above it (16 channels
    // at dilation 512) is a heap matrix with the same column arithmetic.
    static constexpr bool HeapHistory = sizeof(float) * Ch * HistoryColumns > EIGEN_STACK_ALLOCATION_LIMIT;
    using History = std::conditional_t<HeapHistory, Eigen::Matrix<float, Ch, Eigen::Dynamic>,
                                       Eigen::Matrix<float, Ch, HistoryColumns>>;
    using Working = Eigen::Matrix<float, Ch, waveNetChunkFrames>;

    using Convolution = Conv1DT<Ch, Ch, KernelSize, true, D>;
    using InputMixin = DenseLayerT<ConditionSize, Ch, false>;
    using Layer1x1 = DenseLayerT<Ch, Ch, true>;

    static constexpr int NumWeights = Convolution::NumWeights + InputMixin::NumWeights + Layer1x1::NumWeights;
    static constexpr std::int64_t MultiplyAddsPerSample =
        std::int64_t(KernelSize) * Ch * Ch + std::int64_t(ConditionSize) * Ch + std::int64_t(Ch) * Ch;
    // Floats the layer holds beside its own object.
    static constexpr std::int64_t HeapFloats =
        Convolution::HeapFloats + (HeapHistory ? std::int64_t(Ch) * HistoryColumns : 0);

    Convolution convolution;
    InputMixin inputMixin;
    Layer1x1 layer1x1;
    Working working = Working::Zero();
    History history;
    std::uint64_t writePosition = 2 * D;

    WaveNetLayerT()
    {
        if constexpr (HeapHistory) {
            history.setZero(Ch, HistoryColumns);
        } else {
            history.setZero();
        }
    }

    // One layer step over numFrames (1 .. 16) frames whose input stands in the history at the write position.
    // condition: ConditionSize x numFrames floats, column by column; head: a Ch x 16 matrix whose first
    // numFrames columns receive the activations; the output frames go to destination columns
    // destinationStart .. destinationStart + numFrames - 1. Neither the history nor the write position changes.
    template <class Head, class Destination>
    void Process(const float* condition, Head& head, Destination& destination, std::uint64_t destinationStart,
                 std::uint64_t numFrames) noexcept
    {
        ForChunkColumns(numFrames, [&](auto width, Eigen::Index frame) {
            Step<decltype(width)::value>(condition, head, frame, destination, destinationStart);
        });
    }

    // The step for a single frame, reading history columns p - 2D, p - D and p and writing destination column
    // destinationStart; head column 0 receives the activation.
    template <class Head, class Destination>
    void ProcessOneFrame(const float* condition, Head& head, Destination& destination,
                         std::uint64_t destinationStart) noexcept
    {
        Step<1>(condition, head, 0, destination, destinationStart);
    }

    // Moves the history on by the numFrames frames just processed.
    void AdvanceHistory(std::uint64_t numFrames) noexcept
    {
        float* columns = history.data();
        if constexpr (FrontCopy) {
            // The ranges overlap when the block is shorter than 2D.
            std::memmove(columns, columns + numFrames * Ch, sizeof(float) * Ch * 2 * D);
        } else {
            const std::uint64_t blockEnd = writePosition + numFrames;
            std::memcpy(columns + (writePosition - 2 * D) * Ch, columns + writePosition * Ch,
                        sizeof(float) * Ch * numFrames);
            // Once p steps back, the window can reach 4D below a frame written at 4D or beyond. Blocks of 16
            // alone never read that column before rewriting it, but after a shorter block it would be stale.
            for (std::uint64_t column = std::max<std::uint64_t>(writePosition, 4 * D); column < blockEnd;
                 ++column) {
                std::memcpy(columns + (column - 4 * D) * Ch, columns + column * Ch, sizeof(float) * Ch);
            }
            writePosition = blockEnd > 4 * D ? blockEnd - 2 * D : blockEnd;
        }
    }

    // Copies the column at the write position over every column below it: with that column the layer's steady
    // input, every column a later step can reach without writing it first holds the steady input too.
    void FillHistoryBelowWritePosition() noexcept
    {
        float* columns = history.data();
        const float* steady = columns + writePosition * Ch;
        for (std::uint64_t column = 0; column < writePosition; ++column) {
            std::memcpy(columns + column * Ch, steady, sizeof(float) * Ch);
        }
    }

    template <class Iterator>
    void SetWeights(Iterator& position)
    {
        convolution.SetWeights(position);
        inputMixin.SetWeights(position);
        layer1x1.SetWeights(position);
    }

private:
    template <int Width, class Head, class Destination>
    void Step(const float* condition, Head& head, Eigen::Index frame, Destination& destination,
              std::uint64_t destinationStart) noexcept
    {
        const std::uint64_t inputColumn = writePosition + std::uint64_t(frame);
        auto activation = working.template middleCols<Width>(frame);
        if constexpr (Width == waveNetChunkFrames && Convolution::Product::Vectorised &&
                      Layer1x1::Product::Vectorised) {
            // The condition goes in first, so the convolution's finish sees the whole pre-activation and the
            // activation is taken, and added to the head, before the sums leave the registers; the projection
            // adds the residual the same way. Each value is summed in the same order as below.
            inputMixin.Process(
                Eigen::Map<const Eigen::Matrix<float, ConditionSize, Width>>(condition + frame * ConditionSize),
                activation);
            convolution.AccumulateTanhInto(history, working.data(), Ch, inputColumn, head.data(), head.colStride());
            auto output = destination.template middleCols<Width>(Eigen::Index(destinationStart) + frame);
            layer1x1.ProcessPlus(working, output.data(), output.colStride(), history.data() + inputColumn * Ch, Ch);
            return;
        }
        convolution.Process(history, activation, inputColumn, Width);
        inputMixin.Accumulate(
            Eigen::Map<const Eigen::Matrix<float, ConditionSize, Width>>(condition + frame * ConditionSize),
            activation);
        FastMath::Tanh(activation);
        head.template middleCols<Width>(frame) += activation;
        auto output = destination.template middleCols<Width>(Eigen::Index(destinationStart) + frame);
        layer1x1.Process(activation, output);
        output += history.template middleCols<Width>(Eigen::Index(inputColumn));
    }
};

}  // namespace RuveroRidev
