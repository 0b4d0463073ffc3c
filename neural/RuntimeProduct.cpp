#include "neural/RuntimeProduct.h"

#include <algorithm>

// Eigen's SIMD packet types carry alignment attributes that a template argument cannot keep; nothing here
// depends on them, as Eigen's own headers also state.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wignored-attributes"

namespace RuveroRidev {

namespace {

using Eigen::Index;
using Chunk = RuntimeProduct::Chunk;
using Sum = RuntimeProduct::Sum;
using Term = RuntimeProduct::Term;

using FullPacket = Eigen::internal::packet_traits<float>::type;
using HalfPacket = Eigen::internal::unpacket_traits<FullPacket>::half;
using QuarterPacket = Eigen::internal::unpacket_traits<HalfPacket>::half;

template <class Packet>
constexpr Index lanesOf = Eigen::internal::unpacket_traits<Packet>::size;

constexpr Index maxPackets = 4;
constexpr Index fullChunkRows = maxPackets * lanesOf<FullPacket>;

#if defined(EIGEN_VECTORIZE_AVX512) || defined(__aarch64__)
constexpr int vectorRegisters = 32;
#else
constexpr int vectorRegisters = 16;
#endif

// Output columns computed together: enough independent sums to cover the multiply-add latency, as many as the
// vector registers hold next to one weight column and the broadcast value, and at most 8, whose column offsets
// (run-time multiples of the input stride) still fit in the general registers beside the loop's own.
template <int Packets>
constexpr int columnGroup()
{
    constexpr int free = vectorRegisters - Packets - 2;
    return free >= 8 * Packets ? 8 : free >= 4 * Packets ? 4 : 2;
}

template <class Packet, int Packets, int Group>
void runGroup(const RuntimeProduct& product, const Chunk& chunk, const Sum& sum, float* output,
              Index outputStride, Index firstColumn) noexcept
{
    using namespace Eigen::internal;
    constexpr Index lanes = lanesOf<Packet>;
    const Index paddedRows = product.PaddedRows();
    Packet accumulators[Group][Packets];
#pragma GCC unroll 16
    for (int c = 0; c < Group; ++c) {
#pragma GCC unroll 4
        for (int p = 0; p < Packets; ++p) {
            accumulators[c][p] = pset1<Packet>(0.0f);
        }
    }
    for (int t = 0; t < sum.numTerms; ++t) {
        const Term& term = sum.terms[t];
        const float* weights = product.WeightData() + term.firstColumn * paddedRows + chunk.firstRow;
        const float* input = term.input + firstColumn * term.inputStride;
        const Index inputStride = term.inputStride;
#pragma GCC unroll 2
        for (Index j = 0; j < term.inner; ++j) {
            Packet weightColumn[Packets];
#pragma GCC unroll 4
            for (int p = 0; p < Packets; ++p) {
                weightColumn[p] = ploadu<Packet>(weights + j * paddedRows + p * lanes);
            }
#pragma GCC unroll 16
            for (int c = 0; c < Group; ++c) {
                const Packet value = pset1<Packet>(input[c * inputStride + j]);
#pragma GCC unroll 4
                for (int p = 0; p < Packets; ++p) {
                    accumulators[c][p] = pmadd(weightColumn[p], value, accumulators[c][p]);
                }
            }
        }
    }
#pragma GCC unroll 16
    for (int c = 0; c < Group; ++c) {
        const Index column = firstColumn + c;
        float* out = output + column * outputStride + chunk.firstRow;
        const float* bias = sum.bias ? sum.bias + chunk.firstRow : nullptr;
        const float* addend = sum.addend ? sum.addend + column * sum.addendStride + chunk.firstRow : nullptr;
#pragma GCC unroll 4
        for (int p = 0; p < Packets; ++p) {
            const Index row = p * lanes;
            if (row + lanes <= chunk.validRows) {
                Packet value = accumulators[c][p];
                if (bias) {
                    value = padd(value, ploadu<Packet>(bias + row));
                }
                if (addend) {
                    value = padd(value, ploadu<Packet>(addend + row));
                }
                if (sum.accumulate) {
                    value = padd(ploadu<Packet>(out + row), value);
                }
                pstoreu(out + row, value);
                continue;
            }
            // The packet that reaches into the padding: only its rows that exist are stored.
            float lane[lanes];
            pstoreu(lane, accumulators[c][p]);
            for (Index r = row; r < chunk.validRows; ++r) {
                float value = lane[r - row];
                if (bias) {
                    value += bias[r];
                }
                if (addend) {
                    value += addend[r];
                }
                out[r] = sum.accumulate ? out[r] + value : value;
            }
        }
    }
}

template <class Packet, int Packets>
void runChunk(const RuntimeProduct& product, const Chunk& chunk, const Sum& sum, float* output,
              Index outputStride, Index numColumns) noexcept
{
    constexpr int group = columnGroup<Packets>();
    Index column = 0;
    for (; column + group <= numColumns; column += group) {
        runGroup<Packet, Packets, group>(product, chunk, sum, output, outputStride, column);
    }
    if constexpr (group > 2) {
        for (; column + 2 <= numColumns; column += 2) {
            runGroup<Packet, Packets, 2>(product, chunk, sum, output, outputStride, column);
        }
    }
    for (; column < numColumns; ++column) {
        runGroup<Packet, Packets, 1>(product, chunk, sum, output, outputStride, column);
    }
}

template <class Packet>
Chunk::Kernel kernelFor(Index packets)
{
    switch (packets) {
    case 1:
        return runChunk<Packet, 1>;
    case 2:
        return runChunk<Packet, 2>;
    case 3:
        return runChunk<Packet, 3>;
    default:
        return runChunk<Packet, 4>;
    }
}

Index packetsFor(Index rows, Index lanes)
{
    return (rows + lanes - 1) / lanes;
}

// The kernel and padded height of a last chunk of rows (at most fullChunkRows): the packet width that needs
// the fewest packets, the narrower one on a tie.
Chunk::Kernel lastChunkKernel(Index rows, Index& paddedRows)
{
    Index packets = packetsFor(rows, lanesOf<FullPacket>);
    Index lanes = lanesOf<FullPacket>;
    Chunk::Kernel kernel = kernelFor<FullPacket>(packets);
    if (packetsFor(rows, lanesOf<HalfPacket>) <= packets && lanesOf<HalfPacket> < lanes) {
        packets = packetsFor(rows, lanesOf<HalfPacket>);
        lanes = lanesOf<HalfPacket>;
        kernel = kernelFor<HalfPacket>(packets);
    }
    if (packetsFor(rows, lanesOf<QuarterPacket>) <= packets && lanesOf<QuarterPacket> < lanes) {
        packets = packetsFor(rows, lanesOf<QuarterPacket>);
        lanes = lanesOf<QuarterPacket>;
        kernel = kernelFor<QuarterPacket>(packets);
    }
    paddedRows = packets * lanes;
    return kernel;
}

// Fills chunks (when given) and returns the padded row count.
Index planChunks(Index rows, std::vector<Chunk>* chunks)
{
    Index row = 0;
    while (rows - row > fullChunkRows) {
        if (chunks) {
            chunks->push_back({row, fullChunkRows, kernelFor<FullPacket>(maxPackets)});
        }
        row += fullChunkRows;
    }
    Index paddedRows = 0;
    const Chunk::Kernel kernel = lastChunkKernel(rows - row, paddedRows);
    if (chunks) {
        chunks->push_back({row, rows - row, kernel});
    }
    return row + paddedRows;
}

}  // namespace

RuntimeProduct::RuntimeProduct(Index rows, Index columns) : rows(rows)
{
    const Index paddedRows = planChunks(rows, &chunks);
    weights.setZero(paddedRows, columns);
}

Index RuntimeProduct::NumFloats(Index rows, Index columns) noexcept
{
    return planChunks(rows, nullptr) * columns;
}

void RuntimeProduct::Run(const Sum& sum, float* output, Index outputStride, Index numColumns) const noexcept
{
    for (const Chunk& chunk : chunks) {
        chunk.kernel(*this, chunk, sum, output, outputStride, numColumns);
    }
}

void RuntimeProduct::Multiply(const float* input, Index inputStride, float* output, Index outputStride,
                              Index numColumns, bool accumulate) const noexcept
{
    const Term term{0, weights.cols(), input, inputStride};
    Sum sum;
    sum.terms = &term;
    sum.numTerms = 1;
    sum.accumulate = accumulate;
    Run(sum, output, outputStride, numColumns);
}

}  // namespace RuveroRidev

#pragma GCC diagnostic pop
