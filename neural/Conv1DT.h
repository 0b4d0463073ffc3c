#pragma once
// Causal dilated convolution over a layer's history of input frames. Tap 0 is the oldest: for kernel size 3 it
// reads the frame 2D back, tap 1 the frame D back and tap 2 the frame being computed. The convolution keeps no
// memory of its own; the history belongs to the calling layer.
#include "neural/FastMath.h"
#include "neural/FrameProduct.h"

#include <Eigen/Core>

#include <cstdint>
#include <type_traits>
#include <vector>

namespace RuveroRidev {

template <int In, int Out, int K, bool Bias, int D>
class Conv1DT {
public:
    using WeightMatrix = Eigen::Matrix<float, Out, In>;
    using BiasVector = Eigen::Matrix<float, Out, 1>;

    static constexpr int KernelSize = K;
    static constexpr int Dilation = D;
    // Floats that SetWeights consumes.
    static constexpr int NumWeights = K * Out * In + (Bias ? Out : 0);

    using Product = FrameProduct<Out>;
    // Floats of the tap matrices, which live on the heap.
    static constexpr std::int64_t HeapFloats = std::int64_t(K) * Out * In;

    // K tap matrices, empty until SetWeights; element (i, j) weighs input channel j into output channel i.
    std::vector<WeightMatrix> weights;
    BiasVector bias = BiasVector::Zero();

    // Output column t = bias + sum over k of weights[k] * input column (startColumn + t - (K - 1 - k) D), for
    // the output's columns. An output with a fixed column count computes that many columns; one with a
    // run-time count computes numColumns. startColumn is at least (K - 1) D and the last column read lies
    // inside the input; the output must not overlap the input.
    template <class Input, class Output>
    void Process(const Input& input, Output&& output, std::uint64_t startColumn,
                 std::uint64_t numColumns) const noexcept {
        constexpr int Columns = std::decay_t<Output>::ColsAtCompileTime;
        const auto firstColumn = [&](int k) { return Eigen::Index(startColumn) - Eigen::Index(K - 1 - k) * D; };
        if constexpr (Columns == Product::Frames && FramesInLanes<Input> && FramesInLanes<std::decay_t<Output>>) {
            const float* tapWeights[K];
            const float* tapInputs[K];
            for (int k = 0; k < K; ++k) {
                tapWeights[k] = weights[k].data();
                tapInputs[k] = input.data() + firstColumn(k);
            }
            Product::template Run<In, K, Bias, false>(tapWeights, tapInputs, input.outerStride(), bias.data(),
                                                      output.data(), output.outerStride());
            return;
        }
        const auto tap = [&](int k) {
            const Eigen::Index first = firstColumn(k);
            if constexpr (Columns == Eigen::Dynamic) {
                return input.middleCols(first, Eigen::Index(numColumns));
            } else {
                return input.template middleCols<Columns>(first);
            }
        };
        output.noalias() = weights[0].lazyProduct(tap(0));
        for (int k = 1; k < K; ++k) {
            output.noalias() += weights[k].lazyProduct(tap(k));
        }
        if constexpr (Bias) {
            output.colwise() += bias;
        }
    }

    // The fused form of a 16-frame layer step, every operand with frames in the lanes: output row o becomes
    // finish((output row o with Accumulate) + mix(o) * mixRow (when mix is given) + bias + the taps' sum), the
    // finish taking the activation (see frameproduct). output holds Out rows of 16 frames at its row stride and
    // does not overlap the input.
    template <bool Accumulate, class Input, class Finish>
    void Fused(const Input& input, float* output, Eigen::Index outputStride, std::uint64_t startColumn,
               const Finish& finish, const float* mix = nullptr, const float* mixRow = nullptr) const noexcept {
        static_assert(Bias && FramesInLanes<Input>);
        const float* tapWeights[K];
        const float* tapInputs[K];
        for (int k = 0; k < K; ++k) {
            tapWeights[k] = weights[k].data();
            tapInputs[k] = input.data() + (Eigen::Index(startColumn) - Eigen::Index(K - 1 - k) * D);
        }
        Product::template Run<In, K, true, Accumulate>(tapWeights, tapInputs, input.outerStride(), bias.data(), output,
                                                       outputStride, finish, mix, mixRow);
    }

    // Reads the taps output row by output row, then input channel, with the tap index fastest; then the bias.
    // Leaves the position just behind the last float read. The caller guarantees NumWeights floats.
    template <class Iterator>
    void SetWeights(Iterator& position) {
        weights.resize(K);
        for (int row = 0; row < Out; ++row) {
            for (int column = 0; column < In; ++column) {
                for (int k = 0; k < K; ++k) {
                    weights[k](row, column) = *position++;
                }
            }
        }
        if constexpr (Bias) {
            for (int row = 0; row < Out; ++row) {
                bias(row) = *position++;
            }
        }
    }
};

} // namespace RuveroRidev
