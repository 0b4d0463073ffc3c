#pragma once
// One non-gated residual WaveNet layer: a 3-tap dilated convolution over the layer's own input history, a
// mixin of the condition sample, the fast tanh, a skip output added into the array's head sum, and a 1x1
// projection plus the layer's input that becomes the next layer's input.
//
// The history holds the layer's input frames, one per column, row-major: each channel's frames lie side by
// side, so a block's 16 frames of a channel, at any tap's offset, are one load (the frame product). The
// preceding layer (or the array's rechannel) writes a block's frames at the write position p; the step reads
// columns p - 2D to p + n - 1; the history advance then keeps the last 2D frames reachable below the next write
// position:
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
inline void ForChunkColumns(std::uint64_t numFrames, Step&& step) noexcept {
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
    using History = std::conditional_t<HeapHistory, Eigen::Matrix<float, Ch, Eigen::Dynamic, Eigen::RowMajor>,
                                       Eigen::Matrix<float, Ch, HistoryColumns, Eigen::RowMajor>>;
    using Working = Eigen::Matrix<float, Ch, waveNetChunkFrames, Eigen::RowMajor>;

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

    WaveNetLayerT() {
        if constexpr (HeapHistory) {
            history.setZero(Ch, HistoryColumns);
        } else {
            history.setZero();
        }
    }

    // One layer step over numFrames (1 .. 16) frames whose input stands in the history at the write position.
    // condition: ConditionSize x numFrames floats, column by column; head: a row-major Ch x 16 matrix whose
    // first numFrames columns receive the activations; the output frames go to destination columns
    // destinationStart .. destinationStart + numFrames - 1. Neither the history nor the write position changes.
    template <class Head, class Destination>
    void Process(const float* condition, Head& head, Destination& destination, std::uint64_t destinationStart,
                 std::uint64_t numFrames) noexcept {
        ForChunkColumns(numFrames, [&](auto width, Eigen::Index frame) {
            Step<decltype(width)::value>(condition, head, frame, destination, destinationStart);
        });
    }

    // The step for a single frame, reading history columns p - 2D, p - D and p and writing destination column
    // destinationStart; head column 0 receives the activation.
    template <class Head, class Destination>
    void ProcessOneFrame(const float* condition, Head& head, Destination& destination,
                         std::uint64_t destinationStart) noexcept {
        Step<1>(condition, head, 0, destination, destinationStart);
    }

    // Moves the history on by the numFrames frames just processed.
    void AdvanceHistory(std::uint64_t numFrames) noexcept {
        // Full blocks, nearly every call, copy with sizes the compiler knows.
        if (numFrames == waveNetChunkFrames) {
            Advance(std::integral_constant<std::uint64_t, waveNetChunkFrames>{});
        } else {
            Advance(numFrames);
        }
    }

    // Copies the column at the write position over every column below it: with that column the layer's steady
    // input, every column a later step can reach without writing it first holds the steady input too.
    void FillHistoryBelowWritePosition() noexcept {
        for (int channel = 0; channel < Ch; ++channel) {
            float* frames = Row(channel);
            std::fill_n(frames, writePosition, frames[writePosition]);
        }
    }

    template <class Iterator>
    void SetWeights(Iterator& position) {
        convolution.SetWeights(position);
        inputMixin.SetWeights(position);
        layer1x1.SetWeights(position);
    }

private:
    float* Row(int channel) noexcept { return history.data() + channel * history.outerStride(); }

    template <class Frames>
    void Advance(Frames numFrames) noexcept {
        if constexpr (FrontCopy) {
            for (int channel = 0; channel < Ch; ++channel) {
                float* frames = Row(channel);
                // The ranges overlap when the block is shorter than 2D.
                std::memmove(frames, frames + numFrames, sizeof(float) * 2 * D);
            }
        } else {
            const std::uint64_t blockEnd = writePosition + numFrames;
            // Once p steps back, the window can reach 4D below a frame written at 4D or beyond. Blocks of 16
            // alone never read that column before rewriting it, but after a shorter block it would be stale.
            const std::uint64_t farStart = std::clamp<std::uint64_t>(writePosition, 4 * D, blockEnd);
            for (int channel = 0; channel < Ch; ++channel) {
                float* frames = Row(channel);
                std::memcpy(frames + writePosition - 2 * D, frames + writePosition, sizeof(float) * numFrames);
            }
            if (farStart < blockEnd) {
                for (int channel = 0; channel < Ch; ++channel) {
                    float* frames = Row(channel);
                    std::memcpy(frames + farStart - 4 * D, frames + farStart, sizeof(float) * (blockEnd - farStart));
                }
            }
            writePosition = blockEnd > 4 * D ? blockEnd - 2 * D : blockEnd;
        }
    }

    template <int Width, class Head, class Destination>
    void Step(const float* condition, Head& head, Eigen::Index frame, Destination& destination,
              std::uint64_t destinationStart) noexcept {
        const std::uint64_t inputColumn = writePosition + std::uint64_t(frame);
        auto activation = working.template middleCols<Width>(frame);
        if constexpr (Width == waveNetChunkFrames) {
            static_assert(FramesInLanes<Head> && FramesInLanes<Destination>, "a block step takes frames in lanes");
            // The condition goes in first, so the convolution's finish sees the whole pre-activation and the
            // activation is taken, and added to the head, before the sums leave the registers; a single
            // condition row (the input sample) joins the convolution's own sums. Where every row fits one
            // register pass, the projection and its residual follow from the registers too. The sums agree with
            // the column-by-column step below up to rounding.
            auto output = destination.template middleCols<Width>(Eigen::Index(destinationStart) + frame);
            const frameproduct::TanhIntoHead intoHead{head.data(), head.outerStride()};
            const float* mix = nullptr;
            if constexpr (ConditionSize == 1) {
                mix = inputMixin.weights.data();
            } else {
                inputMixin.Process(
                    Eigen::Map<const Eigen::Matrix<float, ConditionSize, Width>>(condition + frame * ConditionSize),
                    activation);
            }
            constexpr bool accumulate = ConditionSize != 1;
            if constexpr (Convolution::Product::OneRegisterGroup) {
                const frameproduct::TanhIntoHeadThenProject<Ch> finish{intoHead,
                                                                       layer1x1.weights.data(),
                                                                       layer1x1.bias.data(),
                                                                       history.data() + inputColumn,
                                                                       history.outerStride(),
                                                                       output.data(),
                                                                       output.outerStride()};
                convolution.template Fused<accumulate>(history, working.data(), working.outerStride(), inputColumn,
                                                       finish, mix, condition + frame);
            } else {
                convolution.template Fused<accumulate>(history, working.data(), working.outerStride(), inputColumn,
                                                       intoHead, mix, condition + frame);
                layer1x1.ProcessPlus(working, output.data(), output.outerStride(), history.data() + inputColumn,
                                     history.outerStride());
            }
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

} // namespace RuveroRidev
