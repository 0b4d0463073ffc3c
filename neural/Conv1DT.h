#pragma once
// Causal dilated convolution over a layer's history of input frames. Tap 0 is the oldest: for kernel size 3 it
// reads the frame 2D back, tap 1 the frame D back and tap 2 the frame being computed. The convolution keeps no
// memory of its own; the history belongs to the calling layer.
#include "neural/BlockProduct.h"
#include "neural/FastMath.h"

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

    using Product = BlockProduct<Out>;
    using PaddedWeightMatrix = Eigen::Matrix<float, Product::PaddedRows, In>;
    // Floats of the tap matrices, which live on the heap.
    static constexpr std::int64_t HeapFloats =
        std::int64_t(K) * Out * In + (Product::Padded ? std::int64_t(K) * Product::PaddedRows * In : 0);

    // K tap matrices, empty until SetWeights; element (i, j) weighs input channel j into output channel i.
    std::vector<WeightMatrix> weights;
    BiasVector bias = BiasVector::Zero();
    // The taps padded with zero rows for the block product, when it pads this row count; made by SetWeights.
    std::vector<PaddedWeightMatrix> paddedWeights;

    // Output column t = bias + sum over k of weights[k] * input column (startColumn + t - (K - 1 - k) D), for
    // the output's columns. An output with a fixed column count computes that many columns; one with a
    // run-time count computes numColumns. startColumn is at least (K - 1) D and the last column read lies
    // inside the input; the output must not overlap the input.
    template <class Input, class Output>
    void Process(const Input& input, Output&& output, std::uint64_t startColumn,
                 std::uint64_t numColumns) const noexcept
    {
        constexpr int Columns = std::decay_t<Output>::ColsAtCompileTime;
        const auto firstColumn = [&](int k) { return Eigen::Index(startColumn) - Eigen::Index(K - 1 - k) * D; };
        if constexpr (Columns == Product::Columns && Product::Vectorised) {
            const float* tapWeights[K];
            const float* tapInputs[K];
            for (int k = 0; k < K; ++k) {
                tapWeights[k] = Product::Padded ? paddedWeights[k].data() : weights[k].data();
                tapInputs[k] = input.data() + firstColumn(k) * input.colStride();
            }
            Product::template Run<In, K, Bias, false>(tapWeights, tapInputs, input.colStride(), bias.data(),
                                                      output.data(), output.colStride());
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

    // The fused form of a 16-column layer step when the product is vectorised: output column t becomes
    // tanh(output column t + bias + the taps' sum), and head column t gets that activation added. output and
    // head hold 16 columns of Out rows each, at their column strides; neither overlaps the input.
    template <class Input>
    void AccumulateTanhInto(const Input& input, float* output, Eigen::Index outputStride, std::uint64_t startColumn,
                            float* head, Eigen::Index headStride) const noexcept
    {
        static_assert(Product::Vectorised && Bias);
        const float* tapWeights[K];
        const float* tapInputs[K];
        for (int k = 0; k < K; ++k) {
            tapWeights[k] = Product::Padded ? paddedWeights[k].data() : weights[k].data();
            tapInputs[k] = input.data() + (Eigen::Index(startColumn) - Eigen::Index(K - 1 - k) * D) * input.colStride();
        }
        const auto finish = [head, headStride](const typename Product::Packet& sum, Eigen::Index column,
                                               int packet) noexcept {
            const typename Product::Packet activation = FastMath::TanhPacket(sum);
            float* headColumn = head + column * headStride;
            Product::Store(headColumn, packet, Eigen::internal::padd(Product::Load(headColumn, packet), activation));
            return activation;
        };
        Product::template Run<In, K, true, true>(tapWeights, tapInputs, input.colStride(), bias.data(), output,
                                                 outputStride, finish);
    }

    // Reads the taps output row by output row, then input channel, with the tap index fastest; then the bias.
    // Leaves the position just behind the last float read. The caller guarantees NumWeights floats. Weights
    // are set only here, which keeps the padded copy in step.
    template <class Iterator>
    void SetWeights(Iterator& position)
    {
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
        if constexpr (Product::Padded) {
            paddedWeights.resize(K);
            for (int k = 0; k < K; ++k) {
                Product::PadWeights(weights[k], paddedWeights[k]);
            }
        }
    }
};

}  // namespace RuveroRidev
