#pragma once
// A dense layer applied to every frame on its own (a 1x1 convolution): out = W in (+ b), one column per frame.
#include "neural/BlockProduct.h"

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

    using Product = BlockProduct<Out>;
    struct NoPadding {};
    using PaddedWeightMatrix = std::conditional_t<Product::Padded, Eigen::Matrix<float, Product::PaddedRows, In>,
                                                  NoPadding>;

    // Element (i, j) weighs input channel j into output channel i.
    WeightMatrix weights = WeightMatrix::Zero();
    // Added to every output column when Bias is set; unused otherwise.
    BiasVector bias = BiasVector::Zero();
    // The matrix padded with zero rows for the block product, when it pads this row count; made by SetWeights.
    [[no_unique_address]] PaddedWeightMatrix paddedWeights{};

    // Writes W input (+ b) into output, which has as many columns as input and must not overlap it. Only the
    // first In rows of the input take part.
    template <class Input, class Output>
    void Process(const Input& input, Output&& output) const noexcept
    {
        Multiply<false>(input, output);
    }

    // Adds W input (+ b) to output.
    template <class Input, class Output>
    void Accumulate(const Input& input, Output&& output) const noexcept
    {
        Multiply<true>(input, output);
    }

    // Writes W input (+ b) + residual into output, all of 16 columns; residual column t starts at residual +
    // t * residualStride. The product must be vectorised.
    template <class Input>
    void ProcessPlus(const Input& input, float* output, Eigen::Index outputStride, const float* residual,
                     Eigen::Index residualStride) const noexcept
    {
        static_assert(Product::Vectorised);
        const float* const matrix[1] = {ProductWeights()};
        const float* const columns[1] = {input.data()};
        const auto finish = [residual, residualStride](const typename Product::Packet& sum, Eigen::Index column,
                                                       int packet) noexcept {
            return Eigen::internal::padd(sum, Product::Load(residual + column * residualStride, packet));
        };
        Product::template Run<In, 1, Bias, false>(matrix, columns, input.colStride(), bias.data(), output,
                                                  outputStride, finish);
    }

    // Reads the matrix output row by output row (input channel fastest), then the bias when there is one, and
    // leaves the position just behind the last float read. The caller guarantees NumWeights floats. Weights
    // are set only here, which keeps the padded copy in step.
    template <class Iterator>
    void SetWeights(Iterator& position)
    {
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
        if constexpr (Product::Padded) {
            Product::PadWeights(weights, paddedWeights);
        }
    }

private:
    const float* ProductWeights() const noexcept
    {
        if constexpr (Product::Padded) {
            return paddedWeights.data();
        } else {
            return weights.data();
        }
    }

    template <bool Add, class Input, class Output>
    void Multiply(const Input& input, Output& output) const noexcept
    {
        constexpr int Columns = std::decay_t<Output>::ColsAtCompileTime;
        if constexpr (Columns == Product::Columns && Product::Vectorised) {
            const float* const matrix[1] = {ProductWeights()};
            const float* const columns[1] = {input.data()};
            Product::template Run<In, 1, Bias, Add>(matrix, columns, input.colStride(), bias.data(), output.data(),
                                                    output.colStride());
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

}  // namespace RuveroRidev
