#pragma once
// Products for one full chunk of 16 frames with the frames in the SIMD lanes: every operand is row-major, one
// row per channel holding its 16 frames side by side, so a row is one 512-bit register (two 256-bit or four
// 128-bit ones) whatever the channel count. out row o = sum over taps and input rows i of W[tap](o, i) times
// input row i of the tap: a broadcast weight times a vector loaded straight from the history at the tap's
// offset. No shuffles, no padding: every channel count fills the vector, so a shape's cost follows its
// multiply-adds.
//
// A group of output rows stays in registers while each input row is loaded once; with few output rows the sum
// of each is also split over a few partial accumulators (input rows taken in turn, added in a fixed order at
// the end) so enough multiply-adds are in flight to hide their latency.
//
// A finishing step may act on each finished packet before it is stored (an activation, a residual add), or on a
// group's rows together (a gated activation, which pairs each row with its gate row), so the values go through
// the registers once instead of through a separate pass over memory.
#include "neural/FastMath.h"

#include <Eigen/Core>

#include <algorithm>
#include <type_traits>

// Eigen's SIMD packet types carry alignment attributes that a template argument cannot keep; nothing here
// depends on them, as Eigen's own headers also state.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wignored-attributes"

namespace RuveroRidev {

namespace frameproduct {

// Leaves a finished packet as it is.
struct NoFinish {
    template <class Packet>
    Packet operator()(const Packet& sum, int, int) const noexcept {
        return sum;
    }
};

// Stores tanh of each finished packet and adds it to the same packet of a head: out row o frames into head
// row o. One type for every layer, so layers that differ only in dilation share one compiled kernel. The
// product takes the tanh of a whole row's packets together before the finish sees them (see TanhPackets).
struct TanhIntoHead {
    static constexpr bool activated = true;
    float* head;
    Eigen::Index headStride;

    template <class Packet>
    Packet operator()(const Packet& activation, int row, int packet) const noexcept {
        using namespace Eigen::internal;
        float* headPacket = head + row * headStride + packet * unpacket_traits<Packet>::size;
        pstoreu(headPacket, padd(ploadu<Packet>(headPacket), activation));
        return activation;
    }
};

// A layer's 1x1 projection of its activations while they are still in the registers: destination row o =
// bias(o) + sum over i of weights[o + i * Rows] * activation row i + residual row o. Each sum is taken in the
// same order as a separate projection's, so the results are the same.
template <int Rows, class Packet>
void ProjectRows(const Packet (&activations)[Rows][1], const float* weights, const float* bias, const float* residual,
                 Eigen::Index residualStride, float* destination, Eigen::Index destinationStride) noexcept {
    using namespace Eigen::internal;
    // Two halves of the output rows keep the accumulators and the activations within the registers.
    constexpr int half = Rows > 8 ? (Rows + 1) / 2 : Rows;
#pragma GCC unroll 2
    for (int first = 0; first < Rows; first += half) {
        Packet sums[half];
#pragma GCC unroll 16
        for (int o = 0; o < half; ++o) {
            sums[o] = pset1<Packet>(first + o < Rows ? bias[first + o] : 0.0f);
        }
#pragma GCC unroll 16
        for (int i = 0; i < Rows; ++i) {
#pragma GCC unroll 16
            for (int o = 0; o < half; ++o) {
                if (first + o < Rows) {
                    sums[o] = pmadd(pset1<Packet>(weights[first + o + i * Rows]), activations[i][0], sums[o]);
                }
            }
        }
#pragma GCC unroll 16
        for (int o = 0; o < half; ++o) {
            if (first + o < Rows) {
                pstoreu(destination + (first + o) * destinationStride,
                        padd(sums[o], ploadu<Packet>(residual + (first + o) * residualStride)));
            }
        }
    }
}

// TanhIntoHead, then the layer's projection (ProjectRows).
template <int Rows>
struct TanhIntoHeadThenProject : TanhIntoHead {
    static constexpr bool projects = true;
    const float* weights;
    const float* bias;
    const float* residual;
    Eigen::Index residualStride;
    float* destination;
    Eigen::Index destinationStride;

    template <class Packet>
    void Project(const Packet (&activations)[Rows][1]) const noexcept {
        ProjectRows<Rows>(activations, weights, bias, residual, residualStride, destination, destinationStride);
    }
};

} // namespace frameproduct

// An operand whose rows hold their frames side by side: row-major, consecutive columns adjacent.
template <class Operand>
inline constexpr bool
    FramesInLanes = bool(std::decay_t<Operand>::IsRowMajor) && std::decay_t<Operand>::InnerStrideAtCompileTime == 1;

template <int Rows>
class FrameProduct {
public:
    using Packet = typename Eigen::internal::packet_traits<float>::type;
    static constexpr int Lanes = Eigen::internal::unpacket_traits<Packet>::size;
    static constexpr int Frames = 16;
    static_assert(Frames % Lanes == 0);
    static constexpr int PacketsPerRow = Frames / Lanes;

    // out row o (=, or += with Accumulate) finish(bias(o) when Bias + sum over taps and input rows i of
    // weights[tap][o + i * Rows] * inputs[tap] row i), for o = 0 .. Rows - 1. finish(packet, o, p) takes
    // packet number p of row o and returns what is stored. Weights are Rows x Cols column-major; input row i of
    // a tap starts at inputs[tap] + i * inputStride, output row o at output + o * outputStride, each with 16
    // floats. The output must not overlap an input. A rank-one term mix(o) * mixRow, when mix is given, starts
    // each sum beside the bias: a layer's condition input, one row of 16 frames.
    template <int Cols, int Taps, bool Bias, bool Accumulate, class Finish = frameproduct::NoFinish>
    static void Run(const float* const (&weights)[Taps], const float* const (&inputs)[Taps], Eigen::Index inputStride,
                    const float* bias, float* output, Eigen::Index outputStride, const Finish& finish = {},
                    const float* mix = nullptr, const float* mixRow = nullptr) noexcept {
        constexpr int fullGroups = Rows / group;
        for (int first = 0; first < fullGroups * group; first += group) {
            RunGroup<group, Cols, Taps, Bias, Accumulate>(first, weights, inputs, inputStride, bias, output,
                                                          outputStride, finish, mix, mixRow);
        }
        if constexpr (Rows % group != 0) {
            RunGroup<Rows % group, Cols, Taps, Bias, Accumulate>(fullGroups * group, weights, inputs, inputStride, bias,
                                                                 output, outputStride, finish, mix, mixRow);
        }
    }

private:
#if defined(EIGEN_VECTORIZE_AVX512) || defined(EIGEN_VECTORIZE_NEON)
    static constexpr int registers = 32;
#else
    static constexpr int registers = 16;
#endif
    // Half the registers hold accumulators; the rest hold the loaded input packets and the broadcasts.
    static constexpr int accumulators = registers / 2;
    static constexpr int group = std::clamp(accumulators / PacketsPerRow, 1, Rows);

public:
    // Whether every row of a product is summed in one pass, in single registers, so that a finish can go on
    // with the whole result.
    static constexpr bool OneRegisterGroup = group == Rows && PacketsPerRow == 1;

private:
    // The finish of one row's sums, stored unless a projection takes them on.
    template <class Finish>
    EIGEN_ALWAYS_INLINE static void FinishRow(const Finish& finish, Packet (&done)[PacketsPerRow], int row,
                                              float* out) noexcept {
        using namespace Eigen::internal;
        if constexpr (requires { Finish::activated; }) {
            FastMath::TanhPackets(done);
        }
#pragma GCC unroll 16
        for (int packet = 0; packet < PacketsPerRow; ++packet) {
            done[packet] = finish(done[packet], row, packet);
            // A projecting finish hands the result on in the registers; nothing reads it from the output.
            if constexpr (!requires { Finish::projects; }) {
                pstoreu(out + packet * Lanes, done[packet]);
            }
        }
    }

    template <int Count, int Cols, int Taps, bool Bias, bool Accumulate, class Finish>
    static void RunGroup(int first, const float* const (&weights)[Taps], const float* const (&inputs)[Taps],
                         Eigen::Index inputStride, const float* bias, float* output, Eigen::Index outputStride,
                         const Finish& finish, const float* mix, const float* mixRow) noexcept {
        using namespace Eigen::internal;
        // Eight independent chains cover two multiply-add units of four cycles' latency.
        constexpr int splits = std::clamp((8 + Count * PacketsPerRow - 1) / (Count * PacketsPerRow), 1, 4);
        Packet sums[splits][Count][PacketsPerRow];
#pragma GCC unroll 16
        for (int row = 0; row < Count; ++row) {
#pragma GCC unroll 16
            for (int packet = 0; packet < PacketsPerRow; ++packet) {
                sums[0][row][packet] = Bias ? pset1<Packet>(bias[first + row]) : pset1<Packet>(0.0f);
                if (mix != nullptr) {
                    sums[0][row][packet] = pmadd(pset1<Packet>(mix[first + row]),
                                                 ploadu<Packet>(mixRow + packet * Lanes), sums[0][row][packet]);
                }
#pragma GCC unroll 4
                for (int split = 1; split < splits; ++split) {
                    sums[split][row][packet] = pset1<Packet>(0.0f);
                }
            }
        }
        const auto term = [&](int split, const float* tapWeights, const float* inputRow) {
            Packet values[PacketsPerRow];
#pragma GCC unroll 16
            for (int packet = 0; packet < PacketsPerRow; ++packet) {
                values[packet] = ploadu<Packet>(inputRow + packet * Lanes);
            }
#pragma GCC unroll 16
            for (int row = 0; row < Count; ++row) {
                const Packet weight = pset1<Packet>(tapWeights[row]);
#pragma GCC unroll 16
                for (int packet = 0; packet < PacketsPerRow; ++packet) {
                    sums[split][row][packet] = pmadd(weight, values[packet], sums[split][row][packet]);
                }
            }
        };
        constexpr int wholeRounds = Cols / splits * splits;
#pragma GCC unroll 4
        for (int tap = 0; tap < Taps; ++tap) {
            // Offset by the group's first row, so each weight is a constant offset from one pointer.
            const float* tapWeights = weights[tap] + first;
            const float* tapInput = inputs[tap];
#pragma GCC unroll 2
            for (int inputRow = 0; inputRow < wholeRounds; inputRow += splits) {
#pragma GCC unroll 4
                for (int split = 0; split < splits; ++split) {
                    term(split, tapWeights + (inputRow + split) * Rows, tapInput + (inputRow + split) * inputStride);
                }
            }
#pragma GCC unroll 4
            for (int inputRow = wholeRounds; inputRow < Cols; ++inputRow) {
                term(inputRow - wholeRounds, tapWeights + inputRow * Rows, tapInput + inputRow * inputStride);
            }
        }
        Packet done[Count][PacketsPerRow];
#pragma GCC unroll 16
        for (int row = 0; row < Count; ++row) {
            float* out = output + (first + row) * outputStride;
#pragma GCC unroll 16
            for (int packet = 0; packet < PacketsPerRow; ++packet) {
                done[row][packet] = sums[0][row][packet];
#pragma GCC unroll 4
                for (int split = 1; split < splits; ++split) {
                    done[row][packet] = padd(done[row][packet], sums[split][row][packet]);
                }
                if constexpr (Accumulate) {
                    done[row][packet] = padd(ploadu<Packet>(out + packet * Lanes), done[row][packet]);
                }
            }
            // A finish that pairs rows (an activation and its gate) takes the group's sums below and stores them
            // itself.
            if constexpr (!requires { Finish::gates; }) {
                FinishRow(finish, done[row], first + row, out);
            }
        }
        if constexpr (requires { Finish::gates; }) {
            finish.Gate(first, done);
        }
        // A finish that goes on with the whole result (a projection of every row) takes it from the registers.
        if constexpr (requires { Finish::projects; }) {
            static_assert(Count == Rows && PacketsPerRow == 1, "a projection needs every row in one register pass");
            finish.Project(done);
        }
    }
};

} // namespace RuveroRidev

#pragma GCC diagnostic pop
