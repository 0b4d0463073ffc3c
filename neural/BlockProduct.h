#pragma once
// Register-blocked products for one full chunk of 16 frames: out = sum over taps of W[tap] * in[tap], with
// every operand column-major and every size fixed. A group of output columns stays in SIMD registers while
// each weight column is loaded once per group and multiplied by the broadcast input values, so the
// multiply-adds of different columns run side by side instead of waiting on one another.
//
// Each output column is cut into SIMD packets of the kind that needs the fewest per column (preferring one
// that divides the row count, then the narrower). When it does not divide the rows (6 or 2 channels with
// 4-lane packets, 12 with 8-lane ones), the rows are padded to whole packets: the weights must then come
// zero-padded to PaddedRows rows (PadWeights), and the padding rows are computed but never stored: the last
// packet of a column is loaded through a lane mask where the vector unit has one, and stored in whole
// smaller pieces.
//
// A finishing step may act on each finished packet before it is stored (an activation, a residual add), so
// the values go through the registers once instead of through a separate pass over memory.
#include <Eigen/Core>

#include <cstdint>
#include <cstring>
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

// Leaves a finished packet as it is.
struct NoFinish {
    template <class Packet>
    Packet operator()(const Packet& sum, Eigen::Index, int) const noexcept
    {
        return sum;
    }
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

    // The floats of packet number packet of a column that starts at column: all Lanes of them, or only the
    // rows below Rows in the last packet of a padded column (the other lanes read as zero).
    static Packet Load(const float* column, int packet) noexcept
    {
        if constexpr (Padded) {
            if (packet == PaddedRows / Lanes - 1) {
                return LoadPartial(column + packet * Lanes);
            }
        }
        return Eigen::internal::ploadu<Packet>(column + packet * Lanes);
    }

    // Stores packet number packet of a column, leaving the floats beyond Rows alone.
    static void Store(float* column, int packet, const Packet& value) noexcept
    {
        if constexpr (Padded) {
            if (packet == PaddedRows / Lanes - 1) {
                StorePartial(column + packet * Lanes, value);
                return;
            }
        }
        Eigen::internal::pstoreu(column + packet * Lanes, value);
    }

    // out(:, j) (=, or += with Accumulate) finish(sum over taps of weights[tap] * inputs[tap](:, j), plus bias
    // when Bias, added after the products), for j = 0 .. 15. finish(packet, j, p) takes packet number p of
    // column j and returns what is stored. Weights are PaddedRows x Cols column-major; bias has Rows floats;
    // input column j of a tap starts at inputs[tap] + j * inputStride, output column j at output + j *
    // outputStride. The output must not overlap an input.
    template <int Cols, int Taps, bool Bias, bool Accumulate, class Finish = blockproduct::NoFinish>
    static void Run(const float* const (&weights)[Taps], const float* const (&inputs)[Taps],
                    Eigen::Index inputStride, const float* bias, float* output, Eigen::Index outputStride,
                    const Finish& finish = {}) noexcept
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
#pragma GCC unroll 8
                for (int packet = 0; packet < packets; ++packet) {
                    Packet sum = sums[column][packet];
                    if constexpr (Bias) {
                        sum = padd(sum, Load(bias, packet));
                    }
                    if constexpr (Accumulate) {
                        sum = padd(Load(out, packet), sum);
                    }
                    Store(out, packet, finish(sum, Eigen::Index(first + column), packet));
                }
            }
        }
    }

private:
    static constexpr int tailRows = Rows - (PaddedRows - Lanes);

    static Packet LoadPartial(const float* from) noexcept
    {
#if defined(EIGEN_VECTORIZE_AVX512)
        if constexpr (std::is_same_v<Packet, Eigen::internal::Packet16f>) {
            return Eigen::internal::ploadu<Packet>(from, std::uint16_t((1u << tailRows) - 1));
        }
#endif
#if defined(EIGEN_VECTORIZE_AVX)
        if constexpr (std::is_same_v<Packet, Eigen::internal::Packet8f>) {
            return Eigen::internal::ploadu<Packet>(from, std::uint8_t((1u << tailRows) - 1));
        }
#endif
        float lanes[Lanes] = {};
        for (int row = 0; row < tailRows; ++row) {
            lanes[row] = from[row];
        }
        return Eigen::internal::ploadu<Packet>(lanes);
    }

    // Plain stores, not a masked one: the next layer reads these floats right away, and a load that a masked
    // store must forward to waits for the store to retire.
    static void StorePartial(float* to, const Packet& value) noexcept
    {
        float lanes[Lanes];
        Eigen::internal::pstoreu(lanes, value);
        std::memcpy(to, lanes, sizeof(float) * tailRows);
    }
};

}  // namespace RuveroRidev

#pragma GCC diagnostic pop
