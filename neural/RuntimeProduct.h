#pragma once
// A weight matrix of the runtime-sized models and its products with blocks of at most 16 columns, for sizes
// known only when a model loads. The rows are cut into chunks of at most four SIMD packets, each of the width
// that needs the fewest packets for it (a tie going to the narrower one), and the weights are kept padded with
// zero rows to whole packets. For each chunk a group of output columns stays in registers while every weight
// column is loaded once and multiplied by the broadcast input values; all the terms of a product (every tap of
// a convolution, a mixin) are summed there before the one store, with a bias and an addend (a residual) added
// on the way out. This is the register blocking of the fixed-size path with the loop bounds read at run time.
// Allocates nothing once built.
#include <Eigen/Core>

#include <vector>

namespace RuveroRidev {

class RuntimeProduct {
public:
    // One product in the sum: weight columns firstColumn .. firstColumn + inner - 1 times the input, which holds
    // inner floats per column, columns inputStride apart.
    struct Term {
        Eigen::Index firstColumn = 0;
        Eigen::Index inner = 0;
        const float* input = nullptr;
        Eigen::Index inputStride = 0;
    };

    // The terms and extras of one Run; a null bias or addend is left out.
    struct Sum {
        const Term* terms = nullptr;
        int numTerms = 0;
        const float* bias = nullptr;    // rows floats
        const float* addend = nullptr;  // rows floats per column, columns addendStride apart
        Eigen::Index addendStride = 0;
        bool accumulate = false;        // add to what the output holds instead of replacing it
    };

    // A rows x columns weight matrix of zeros.
    RuntimeProduct(Eigen::Index rows, Eigen::Index columns);

    Eigen::Index Rows() const noexcept { return rows; }
    // Floats the product holds, padding included, for these sizes.
    static Eigen::Index NumFloats(Eigen::Index rows, Eigen::Index columns) noexcept;

    // The weights, to be filled by the loader; the padding rows below them stay zero.
    auto Weights() noexcept { return weights.topRows(rows); }
    auto Weights() const noexcept { return weights.topRows(rows); }

    // For t < numColumns: output column t = the sum over the terms of W_term x input column t, plus the bias,
    // plus addend column t (plus what output column t held when accumulating). Output columns are
    // outputStride apart; the output must not overlap an input, and may be the addend only when both start
    // at the same float.
    void Run(const Sum& sum, float* output, Eigen::Index outputStride, Eigen::Index numColumns) const noexcept;

    // The plain product: output columns (=, or += when accumulate) W x input columns.
    void Multiply(const float* input, Eigen::Index inputStride, float* output, Eigen::Index outputStride,
                  Eigen::Index numColumns, bool accumulate) const noexcept;

    // A chunk of rows that one kernel computes; public for the kernels, which live in the source.
    struct Chunk {
        using Kernel = void (*)(const RuntimeProduct& product, const Chunk& chunk, const Sum& sum, float* output,
                                Eigen::Index outputStride, Eigen::Index numColumns) noexcept;
        Eigen::Index firstRow = 0;
        Eigen::Index validRows = 0;  // rows of the chunk that exist; the rest of its last packet is padding
        Kernel kernel = nullptr;
    };

    const float* WeightData() const noexcept { return weights.data(); }
    Eigen::Index PaddedRows() const noexcept { return weights.rows(); }

private:
    Eigen::Index rows;
    std::vector<Chunk> chunks;
    Eigen::MatrixXf weights;  // padded rows x columns
};

}  // namespace RuveroRidev
