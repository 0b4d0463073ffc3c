#pragma once
// A product of the runtime-sized models with the frames in the SIMD lanes, as on the fixed-size path: every
// operand is row-major, one row per channel holding the 16 frames of a block side by side. The shape (rows,
// columns, taps) and what is done to each finished packet are known only when a model loads, so the kernel is
// chosen then: a compiled frame product for the shapes the fixed-size path has (16, 12, 8, 6, 4 and 2
// channels, three taps), or a generic one with the same arithmetic whose trip counts are read at run time.
// A block always runs all 16 lanes; the lanes past a shorter block hold values nobody reads. Allocates nothing
// once built.
#include "neural/Activation.h"

#include <Eigen/Core>

namespace RuveroRidev {

// Channels x 16 frames, one row per channel.
using FrameBlock = Eigen::Matrix<float, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

class RuntimeFrameProduct {
public:
    static constexpr int frames = 16;

    // What becomes of the sum of a row before it is stored.
    enum class Finish {
        None,
        Mixin,           // plus the mixin weight of the row times the condition
        MixinTanhToHead, // as Mixin, then the fast tanh, which is also added into the head row
        Residual,        // plus the addend row
        // As MixinTanhToHead, then the layer's 1x1 projection plus the addend row into the destination, from the
        // registers; only where Projects says a compiled kernel does it.
        MixinTanhToHeadThenProject,
        // Rows in pairs, an activation row and its gate row: as Mixin, then the activation times the gate's
        // logistic, stored as output row pair and added into head row pair. The output has half the rows.
        MixinGateToHead,
    };

    // Pointers a Run reads beside the inputs; those the finish does not use may stay null.
    struct Extras {
        const float* condition = nullptr; // 16 floats
        float* head = nullptr;            // rows x 16, rows headStride apart
        Eigen::Index headStride = 0;
        const float* addend = nullptr; // rows x 16, rows addendStride apart
        Eigen::Index addendStride = 0;
        const float* projectionWeights = nullptr; // rows x rows, column-major
        const float* projectionBias = nullptr;    // rows
        float* destination = nullptr;             // rows x 16, rows destinationStride apart
        Eigen::Index destinationStride = 0;
    };

    // Zero weights, bias and mixin. The activation is the one a gating finish applies.
    RuntimeFrameProduct(int rows, int columns, int taps, Finish finish, Activation activation = {});

    // Whether a compiled kernel takes a layer's projection into its convolution (MixinTanhToHeadThenProject).
    static bool Projects(int channels, int taps) noexcept;

    // Floats of the weights and the bias for these sizes; a mixin adds rows more.
    static Eigen::Index NumFloats(int rows, int columns, int taps) noexcept;

    // The rows x columns weights of one tap, the bias and the mixin column, to be filled by the loader.
    Eigen::Map<Eigen::MatrixXf> TapWeights(int tap) noexcept {
        return {weights.data() + Eigen::Index(tap) * rows * columns, rows, columns};
    }
    Eigen::VectorXf& Bias() noexcept { return bias; }
    Eigen::VectorXf& Mixin() noexcept { return mixin; }

    // True when a compiled kernel serves the shape, false when the generic one does.
    bool Compiled() const noexcept { return compiled; }

    // Output row o, frames 0 .. 15 = finish(bias(o) + the sum over taps k and input rows i of
    // W_k(o, i) x row i of inputs[k]). Input rows of every tap are inputStride floats apart; output rows
    // outputStride apart. The output must not overlap an input.
    void Run(const float* const* inputs, Eigen::Index inputStride, const Extras& extras, float* output,
             Eigen::Index outputStride) const noexcept {
        kernel(*this, inputs, inputStride, extras, output, outputStride);
    }

    using Kernel = void (*)(const RuntimeFrameProduct& product, const float* const* inputs, Eigen::Index inputStride,
                            const Extras& extras, float* output, Eigen::Index outputStride) noexcept;

    int Rows() const noexcept { return rows; }
    int Columns() const noexcept { return columns; }
    int Taps() const noexcept { return taps; }
    const float* WeightData() const noexcept { return weights.data(); }
    const float* BiasData() const noexcept { return bias.data(); }
    const float* MixinData() const noexcept { return mixin.data(); }
    const Activation& GatedActivation() const noexcept { return activation; }

private:
    int rows;
    int columns;
    int taps;
    Eigen::VectorXf weights; // taps x (rows x columns), each tap column-major
    Eigen::VectorXf bias;
    Eigen::VectorXf mixin; // empty unless the finish takes the condition
    Activation activation;
    Kernel kernel = nullptr;
    bool compiled = false;
};

} // namespace RuveroRidev
