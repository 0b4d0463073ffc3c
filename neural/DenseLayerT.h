#pragma once
// A dense layer applied to every frame on its own (a 1x1 convolution): out = W in (+ b), one column per frame.
#include "neural/FrameProduct.h"

#include <Eigen/Core>

#include <type_traits>

namespace RuveroRidev {

template <int In, int Out, bool Bias>
class DenseLayerT {
public:
    using WeightMatrix = Eigen::Matrix<float, Out, In>;
    using BiasVector = Eigen::Matrix<float, Out, 1>;

    // Floats that SetWeights consumes.
    static constexpr int NumWeights = Out * In + (Bias ? Out : 0);

    using Product = FrameProduct<Out>;

    // Element (i, j) weighs input channel j into output channel i.
    WeightMatrix weights = WeightMatrix::Zero();
    // Added to every output column when Bias is set; unused otherwise.
    BiasVector bias = BiasVector::Zero();

    // Writes W input (+ b) into output, which has as many columns as input and must not overlap it. Only the
    // first In rows of the input take part.
    template <class Input, class Output>
    void Process(const Input& input, Output&& output) const noexcept {
        Multiply<false>(input, output);
    }

    // Adds W input (+ b) to output.
    template <class Input, class Output>
    void Accumulate(const Input& input, Output&& output) const noexcept {
        Multiply<true>(input, output);
    }

    // Writes W input (+ b) + residual into output, all of 16 frames with the frames in the lanes; output row o
    // starts at output + o * outputStride, residual row o at residual + o * residualStride.
    template <class Input>
    void ProcessPlus(const Input& input, float* output, Eigen::Index outputStride, const float* residual,
                     Eigen::Index residualStride) const noexcept {
        static_assert(FramesInLanes<Input>);
        const float* const matrix[1] = {weights.data()};
        const float* const rows[1] = {input.data()};
        const auto finish = [residual, residualStride](const typename Product::Packet& sum, int row,
                                                       int packet) noexcept {
            using namespace Eigen::internal;
            const float* residualPacket = residual + row * residualStride + packet * Product::Lanes;
            return padd(sum, ploadu<typename Product::Packet>(residualPacket));
        };
        Product::template Run<In, 1, Bias, false>(matrix, rows, input.outerStride(), bias.data(), output, outputStride,
                                                  finish);
    }

    // Reads the matrix output row by output row (input channel fastest), then the bias when there is one, and
    // leaves the position just behind the last float read. The caller guarantees NumWeights floats.
    template <class Iterator>
    void SetWeights(Iterator& position) {
        for (int row = 0; row < Out; ++row) {
            for (int column = 0; column < In; ++column) {
                weights(row, column) = *position++;
            }
        }
        if constexpr (Bias) {
            for (int row = 0; row < Out; ++row) {
                bias(row) = *position++;
            }
        }
    }

private:
    template <bool Add, class Input, class Output>
    void Multiply(const Input& input, Output& output) const noexcept {
        constexpr int Columns = std::decay_t<Output>::ColsAtCompileTime;
        if constexpr (Columns == Product::Frames && FramesInLanes<Input> && FramesInLanes<Output>) {
            const float* const matrix[1] = {weights.data()};
            const float* const rows[1] = {input.data()};
            Product::template Run<In, 1, Bias, Add>(matrix, rows, input.outerStride(), bias.data(), output.data(),
                                                    output.outerStride());
        } else {
            if constexpr (Add) {
                output.noalias() += weights.lazyProduct(input.template topRows<In>());
            } else {
                output.noalias() = weights.lazyProduct(input.template topRows<In>());
            }
            if constexpr (Bias) {
                output.colwise() += bias;
            }
        }
    }
};

} // namespace RuveroRidev
