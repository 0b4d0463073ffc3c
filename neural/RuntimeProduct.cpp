#include "RuntimeProduct.h"

namespace RuveroRidev {

namespace {

using Eigen::Index;
using Packet = Eigen::internal::packet_traits<float>::type;
constexpr Index lanes = Eigen::internal::packet_traits<float>::size;

// Columns computed together: enough independent sums to hide the multiply-add latency.
constexpr Index columnGroup = 4;

// Rows row .. row + Packets x lanes - 1 of Columns output columns.
template <Index Columns, Index Packets>
void multiplyPacketRows(const float* weights, Index weightStride, Index row, Index inner, const float* input,
                        Index inputStride, float* output, Index outputStride, bool accumulate) noexcept
{
    using namespace Eigen::internal;
    Packet sums[Columns][Packets];
    for (Index c = 0; c < Columns; ++c) {
        for (Index p = 0; p < Packets; ++p) {
            sums[c][p] = accumulate ? ploadu<Packet>(output + c * outputStride + row + p * lanes)
                                    : pset1<Packet>(0.0f);
        }
    }
    for (Index j = 0; j < inner; ++j) {
        Packet weight[Packets];
        for (Index p = 0; p < Packets; ++p) {
            weight[p] = ploadu<Packet>(weights + j * weightStride + row + p * lanes);
        }
        for (Index c = 0; c < Columns; ++c) {
            const Packet value = pset1<Packet>(input[c * inputStride + j]);
            for (Index p = 0; p < Packets; ++p) {
                sums[c][p] = pmadd(weight[p], value, sums[c][p]);
            }
        }
    }
    for (Index c = 0; c < Columns; ++c) {
        for (Index p = 0; p < Packets; ++p) {
            pstoreu(output + c * outputStride + row + p * lanes, sums[c][p]);
        }
    }
}

template <Index Columns>
void multiplyColumns(const float* weights, Index weightStride, Index rows, Index inner, const float* input,
                     Index inputStride, float* output, Index outputStride, bool accumulate) noexcept
{
    Index row = 0;
    if constexpr (lanes > 1) {
        for (; row + 2 * lanes <= rows; row += 2 * lanes) {
            multiplyPacketRows<Columns, 2>(weights, weightStride, row, inner, input, inputStride, output,
                                           outputStride, accumulate);
        }
        if (row + lanes <= rows) {
            multiplyPacketRows<Columns, 1>(weights, weightStride, row, inner, input, inputStride, output,
                                           outputStride, accumulate);
            row += lanes;
        }
    }
    for (; row < rows; ++row) {
        for (Index c = 0; c < Columns; ++c) {
            float sum = accumulate ? output[c * outputStride + row] : 0.0f;
            for (Index j = 0; j < inner; ++j) {
                sum += weights[j * weightStride + row] * input[c * inputStride + j];
            }
            output[c * outputStride + row] = sum;
        }
    }
}

}  // namespace

void RuntimeProduct::Multiply(const float* weights, Index weightStride, Index rows, Index inner, const float* input,
                              Index inputStride, float* output, Index outputStride, Index numColumns,
                              bool accumulate) noexcept
{
    Index column = 0;
    for (; column + columnGroup <= numColumns; column += columnGroup) {
        multiplyColumns<columnGroup>(weights, weightStride, rows, inner, input + column * inputStride, inputStride,
                                     output + column * outputStride, outputStride, accumulate);
    }
    for (; column < numColumns; ++column) {
        multiplyColumns<1>(weights, weightStride, rows, inner, input + column * inputStride, inputStride,
                           output + column * outputStride, outputStride, accumulate);
    }
}

}  // namespace RuveroRidev
