#pragma once
// The matrix product of the runtime-sized models, for sizes known only when a model loads: Y (=, or +=) W X
// over a block of at most a few dozen columns. Four output columns are computed together, their sums held in
// SIMD registers while each weight column is loaded once and multiplied by the broadcast input values; rows
// beyond the last whole SIMD packet are summed one by one. Allocates nothing.
#include <Eigen/Core>

namespace RuveroRidev {

class RuntimeProduct {
public:
    // For t < numColumns: y column t (=, or += when accumulate) W times x column t. W is rows x inner,
    // column-major with column stride weightStride; x holds inner floats per column, columns inputStride apart;
    // y holds rows floats per column, columns outputStride apart. y must not overlap W or x.
    static void Multiply(const float* weights, Eigen::Index weightStride, Eigen::Index rows, Eigen::Index inner,
                         const float* input, Eigen::Index inputStride, float* output, Eigen::Index outputStride,
                         Eigen::Index numColumns, bool accumulate) noexcept;

    // The same for Eigen operands: a weight block, an input block and an output block with unit inner stride.
    template <class Weights, class Input, class Output>
    static void Multiply(const Weights& weights, const Input& input, Output&& output, bool accumulate) noexcept
    {
        Multiply(weights.data(), weights.outerStride(), weights.rows(), weights.cols(), input.data(),
                 input.outerStride(), output.data(), output.outerStride(), output.cols(), accumulate);
    }
};

}  // namespace RuveroRidev
