#pragma once
// Register-blocked products for one full chunk of 16 frames: out = sum over taps of W[tap] * in[tap], with
// every operand column-major and every size fixed. A group of output columns stays in SIMD registers while
// each weight column is loaded once per group and multiplied by the broadcast input values, so the
// multiply-adds of different columns run side by side instead of waiting on one another.
//
// Each output column is cut into SIMD packets of the kind that needs the fewest per column (preferring one
// that divides the row count, then the narrower). When it does not divide the rows (6 or 2 channels with
// 4-lane packets, 12 with 8-lane ones), the rows are padded to whole packets: the weights must then come
// zero-padded to PaddedRows rows (PadWeights), and the padding rows are computed but never stored.
#include <Eigen/Core>

#include <type_traits>

// Eigen's SIMD packet types carry alignment attributes that a template argument cannot keep; nothing here
// depends on them, as Eigen's own headers also state.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wignored-attributes"

namespace RuveroRidev {

namespace blockproduct {

template <class Packet>
inline constexpr int packetsFor(int rows)
{
    return (rows + Eigen::internal::unpacket_traits<Packet>::size - 1) / Eigen::internal::unpacket_traits<Packet>::size;
}

template <class Packet>
struct Same {
    using type = Packet;
};

template <int Rows, class Packet>
inline constexpr bool divides = Rows % Eigen::internal::unpacket_traits<Packet>::size == 0;

// The packet that needs the fewest packets per column; on a tie one that divides the row count, then the
// narrower one.
template <int Rows, class Packet>
struct BestPacket {
    using Half = typename Eigen::internal::unpacket_traits<Packet>::half;
    static constexpr bool Narrowest = std::is_same_v<Packet, Half>;
    using Narrower = typename std::conditional_t<Narrowest, Same<Packet>, BestPacket<Rows, Half>>::type;
    static constexpr bool NarrowerBetter =
        packetsFor<Narrower>(Rows) < packetsFor<Packet>(Rows) ||
        (packetsFor<Narrower>(Rows) == packetsFor<Packet>(Rows) && (divides<Rows, Narrower> || !divides<Rows, Packet>));
    using type = std::conditional_t<NarrowerBetter, Narrower, Packet>;
};

}  // namespace blockproduct

template <int Rows>
class BlockProduct {
public:
    using Packet = typename blockproduct::BestPacket<Rows, typename Eigen::internal::packet_traits<float>::type>::type;
    static constexpr int Lanes = Eigen::internal::unpacket_traits<Packet>::size;
    // Row counts of 1 (a row vector) are left to the matrix library.
    static constexpr bool Vectorised = Lanes > 1 && Rows > 1;
    static constexpr int PaddedRows = (Rows + Lanes - 1) / Lanes * Lanes;
    static constexpr bool Padded = PaddedRows != Rows;
    static constexpr int Columns = 16;

    // Copies a Rows x Cols weight matrix into a PaddedRows x Cols one whose extra rows are zero.
    template <class Weights, class PaddedWeights>
    static void PadWeights(const Weights& weights, PaddedWeights& padded)
    {
        padded.setZero();
        padded.template topRows<Rows>() = weights;
    }

    // out(:, j) (=, or += with Accumulate) sum over taps of weights[tap] * inputs[tap](:, j), plus bias when
    // Bias, added after the products, for j = 0 .. 15. Weights are PaddedRows x Cols column-major; bias has Rows
    // floats; input column j of a tap starts at inputs[tap] + j * inputStride, output column j at output +
    // j * outputStride. The output must not overlap an input.
    template <int Cols, int Taps, bool Bias, bool Accumulate>
    static void Run(const float* const (&weights)[Taps], const float* const (&inputs)[Taps],
                    Eigen::Index inputStride, const float* bias, float* output, Eigen::Index outputStride) noexcept
    {
        static_assert(Vectorised, "no SIMD packet for this row count");
        using namespace Eigen::internal;
        constexpr int packets = PaddedRows / Lanes;
        // Enough independent accumulators to cover the multiply-add latency, few enough to stay in registers.
        constexpr int group = packets == 1 ? 8 : packets == 2 ? 4 : 2;
        static_assert(Columns % group == 0);

        for (int first = 0; first < Columns; first += group) {
            Packet sums[group][packets];
#pragma GCC unroll 8
            for (int column = 0; column < group; ++column) {
#pragma GCC unroll 8
                for (int packet = 0; packet < packets; ++packet) {
                    sums[column][packet] = pset1<Packet>(0.0f);
                }
            }
#pragma GCC unroll 4
            for (int tap = 0; tap < Taps; ++tap) {
                const float* tapWeights = weights[tap];
                const float* tapInput = inputs[tap] + first * inputStride;
                // A real loop over the input rows keeps the weight loads inside the column group: fully
                // unrolled, the compiler hoists all of them out of it and spills them to the stack.
#pragma GCC unroll 2
                for (int inputRow = 0; inputRow < Cols; ++inputRow) {
                    Packet weightColumn[packets];
#pragma GCC unroll 8
                    for (int packet = 0; packet < packets; ++packet) {
                        weightColumn[packet] = ploadu<Packet>(tapWeights + inputRow * PaddedRows + packet * Lanes);
                    }
#pragma GCC unroll 8
                    for (int column = 0; column < group; ++column) {
                        const Packet value = pset1<Packet>(tapInput[column * inputStride + inputRow]);
#pragma GCC unroll 8
                        for (int packet = 0; packet < packets; ++packet) {
                            sums[column][packet] = pmadd(weightColumn[packet], value, sums[column][packet]);
                        }
                    }
                }
            }
#pragma GCC unroll 8
            for (int column = 0; column < group; ++column) {
                float* out = output + (first + column) * outputStride;
                if constexpr (Padded) {
                    StorePadded<Bias, Accumulate>(sums[column], bias, out);
                } else {
#pragma GCC unroll 8
                    for (int packet = 0; packet < packets; ++packet) {
                        Packet sum = sums[column][packet];
                        if constexpr (Bias) {
                            sum = padd(sum, ploadu<Packet>(bias + packet * Lanes));
                        }
                        if constexpr (Accumulate) {
                            sum = padd(ploadu<Packet>(out + packet * Lanes), sum);
                        }
                        pstoreu(out + packet * Lanes, sum);
                    }
                }
            }
        }
    }

private:
    // Stores the first Rows of one padded output column.
    template <bool Bias, bool Accumulate>
    static void StorePadded(const Packet (&sums)[PaddedRows / Lanes], const float* bias, float* out) noexcept
    {
        float column[PaddedRows];
#pragma GCC unroll 8
        for (int packet = 0; packet < PaddedRows / Lanes; ++packet) {
            Eigen::internal::pstoreu(column + packet * Lanes, sums[packet]);
        }
#pragma GCC unroll 16
        for (int row = 0; row < Rows; ++row) {
            float value = column[row];
            if constexpr (Bias) {
                value += bias[row];
            }
            out[row] = Accumulate ? out[row] + value : value;
        }
    }
};

}  // namespace RuveroRidev

#pragma GCC diagnostic pop
