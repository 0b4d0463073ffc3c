#include "neural/RuntimeFrameProduct.h"

#include "neural/FastMath.h"
#include "neural/FrameProduct.h"

#include <utility>

// Eigen's SIMD packet types carry alignment attributes that a template argument cannot keep; nothing here
// depends on them, as Eigen's own headers also state.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wignored-attributes"

namespace RuveroRidev {

namespace {

using Eigen::Index;
using Finish = RuntimeFrameProduct::Finish;
using Extras = RuntimeFrameProduct::Extras;
using Packet = Eigen::internal::packet_traits<float>::type;
constexpr int lanes = Eigen::internal::unpacket_traits<Packet>::size;

// The finishing step of each Finish, for a packet of row `row`, frames packet x lanes onward.
template <Finish F>
struct FinishStep {
    const RuntimeFrameProduct& product;
    const Extras& extras;

    Packet operator()(const Packet& sum, int row, int packet) const noexcept {
        using namespace Eigen::internal;
        if constexpr (F == Finish::None) {
            return sum;
        } else if constexpr (F == Finish::Residual) {
            return padd(sum, ploadu<Packet>(extras.addend + row * extras.addendStride + packet * lanes));
        } else {
            const Packet mixed =
                pmadd(pset1<Packet>(product.MixinData()[row]), ploadu<Packet>(extras.condition + packet * lanes), sum);
            if constexpr (F == Finish::Mixin) {
                return mixed;
            } else {
                const Packet activation = FastMath::TanhPacket(mixed);
                float* headPacket = extras.head + row * extras.headStride + packet * lanes;
                pstoreu(headPacket, padd(ploadu<Packet>(headPacket), activation));
                return activation;
            }
        }
    }
};

// MixinTanhToHead's step, then the projection of every row from the registers.
template <int Rows>
struct ProjectingFinishStep : FinishStep<Finish::MixinTanhToHeadThenProject> {
    static constexpr bool projects = true;

    void Project(const Packet (&activations)[Rows][1]) const noexcept {
        frameproduct::ProjectRows<Rows>(activations, extras.projectionWeights, extras.projectionBias, extras.addend,
                                        extras.addendStride, extras.destination, extras.destinationStride);
    }
};

// MixinGateToHead's step: a group's rows in whole pairs, each pair stored as one output row by the step itself.
struct GatingFinishStep {
    static constexpr bool gates = true;
    const RuntimeFrameProduct& product;
    const Extras& extras;
    float* output;
    Index outputStride;

    template <int Count, int Packets>
    EIGEN_ALWAYS_INLINE void Gate(int first, const Packet (&sums)[Count][Packets]) const noexcept {
        using namespace Eigen::internal;
        static_assert(Count % 2 == 0, "a gated product sums its rows in whole pairs");
        constexpr int pairs = Count / 2;
        // Every packet of the group goes through the activation together, as the tanh of a row does.
        Packet values[pairs * Packets], gates[pairs * Packets];
        const float* mixin = product.MixinData() + first;
#pragma GCC unroll 16
        for (int pair = 0; pair < pairs; ++pair) {
#pragma GCC unroll 16
            for (int packet = 0; packet < Packets; ++packet) {
                const Packet condition = ploadu<Packet>(extras.condition + packet * lanes);
                values[pair * Packets + packet] =
                    pmadd(pset1<Packet>(mixin[2 * pair]), condition, sums[2 * pair][packet]);
                gates[pair * Packets + packet] =
                    pmadd(pset1<Packet>(mixin[2 * pair + 1]), condition, sums[2 * pair + 1][packet]);
            }
        }
        product.GatedActivation().ApplyGated(values, gates);
#pragma GCC unroll 16
        for (int pair = 0; pair < pairs; ++pair) {
            const Index row = first / 2 + pair;
#pragma GCC unroll 16
            for (int packet = 0; packet < Packets; ++packet) {
                const Packet value = values[pair * Packets + packet];
                pstoreu(output + row * outputStride + packet * lanes, value);
                float* headPacket = extras.head + row * extras.headStride + packet * lanes;
                pstoreu(headPacket, padd(ploadu<Packet>(headPacket), value));
            }
        }
    }
};

template <int Rows, int Columns, int Taps, Finish F>
void compiledKernel(const RuntimeFrameProduct& product, const float* const* inputs, Index inputStride,
                    const Extras& extras, float* output, Index outputStride) noexcept {
    const float* tapWeights[Taps];
    const float* tapInputs[Taps];
    for (int k = 0; k < Taps; ++k) {
        tapWeights[k] = product.WeightData() + k * Rows * Columns;
        tapInputs[k] = inputs[k];
    }
    const auto run = [&](const auto& finish) {
        FrameProduct<Rows>::template Run<Columns, Taps, true, false>(tapWeights, tapInputs, inputStride,
                                                                     product.BiasData(), output, outputStride, finish);
    };
    if constexpr (F == Finish::MixinTanhToHeadThenProject) {
        run(ProjectingFinishStep<Rows>{{product, extras}});
    } else if constexpr (F == Finish::MixinGateToHead) {
        run(GatingFinishStep{product, extras, output, outputStride});
    } else {
        run(FinishStep<F>{product, extras});
    }
}

// The same sums with the trip counts read at run time, one output row at a time (a gated one's in pairs).
template <Finish F>
void genericKernel(const RuntimeFrameProduct& product, const float* const* inputs, Index inputStride,
                   const Extras& extras, float* output, Index outputStride) noexcept {
    using namespace Eigen::internal;
    constexpr int packets = RuntimeFrameProduct::frames / lanes;
    constexpr int together = F == Finish::MixinGateToHead ? 2 : 1;
    const int rows = product.Rows();
    const int columns = product.Columns();
    for (int first = 0; first < rows; first += together) {
        Packet sums[together][packets];
        for (int row = 0; row < together; ++row) {
            for (int packet = 0; packet < packets; ++packet) {
                sums[row][packet] = pset1<Packet>(product.BiasData()[first + row]);
            }
        }
        for (int tap = 0; tap < product.Taps(); ++tap) {
            const float* tapWeights = product.WeightData() + Index(tap) * rows * columns + first;
            for (int column = 0; column < columns; ++column) {
                const float* input = inputs[tap] + column * inputStride;
                for (int row = 0; row < together; ++row) {
                    const Packet weight = pset1<Packet>(tapWeights[Index(column) * rows + row]);
                    for (int packet = 0; packet < packets; ++packet) {
                        sums[row][packet] = pmadd(weight, ploadu<Packet>(input + packet * lanes), sums[row][packet]);
                    }
                }
            }
        }
        if constexpr (F == Finish::MixinGateToHead) {
            GatingFinishStep{product, extras, output, outputStride}.Gate(first, sums);
        } else {
            const FinishStep<F> finish{product, extras};
            for (int packet = 0; packet < packets; ++packet) {
                pstoreu(output + first * outputStride + packet * lanes, finish(sums[0][packet], first, packet));
            }
        }
    }
}

using Kernel = RuntimeFrameProduct::Kernel;

// The channel counts of the fixed-size shapes; the plain products (rechannels, head rechannels) also take one
// row or column.
using LayerSizes = std::integer_sequence<int, 2, 4, 6, 8, 12, 16>;
using PlainSizes = std::integer_sequence<int, 1, 2, 4, 6, 8, 12, 16>;

struct Wanted {
    int rows;
    int columns;
    int taps;
    Finish finish;

    bool Is(int r, int c, int t, Finish f) const noexcept {
        return rows == r && columns == c && taps == t && finish == f;
    }
};

template <int Rows, int... Columns>
void offerPlainRow(const Wanted& wanted, Kernel& kernel, std::integer_sequence<int, Columns...>) noexcept {
    ((wanted.Is(Rows, Columns, 1, Finish::None) ? void(kernel = compiledKernel<Rows, Columns, 1, Finish::None>)
                                                : void()),
     ...);
}

template <int... Sizes>
void offerPlain(const Wanted& wanted, Kernel& kernel, std::integer_sequence<int, Sizes...>) noexcept {
    (offerPlainRow<Sizes>(wanted, kernel, PlainSizes{}), ...);
}

// Only a kernel that sums every row in one register pass can project; no other is built.
template <int Channels>
constexpr Kernel projectingKernel() noexcept {
    if constexpr (FrameProduct<Channels>::OneRegisterGroup) {
        return compiledKernel<Channels, Channels, 3, Finish::MixinTanhToHeadThenProject>;
    } else {
        return nullptr;
    }
}

// A layer's products: the convolution of three taps (gated, or the tanh fused or not) and the 1x1.
template <int... Channels>
void offerLayer(const Wanted& wanted, Kernel& kernel, std::integer_sequence<int, Channels...>) noexcept {
    const auto offer = [&](bool fits, Kernel candidate) {
        if (fits) {
            kernel = candidate;
        }
    };
    (offer(wanted.Is(Channels, Channels, 3, Finish::Mixin), compiledKernel<Channels, Channels, 3, Finish::Mixin>), ...);
    (offer(wanted.Is(Channels, Channels, 3, Finish::MixinTanhToHead),
           compiledKernel<Channels, Channels, 3, Finish::MixinTanhToHead>),
     ...);
    (offer(wanted.Is(2 * Channels, Channels, 3, Finish::MixinGateToHead),
           compiledKernel<2 * Channels, Channels, 3, Finish::MixinGateToHead>),
     ...);
    (offer(wanted.Is(Channels, Channels, 1, Finish::Residual), compiledKernel<Channels, Channels, 1, Finish::Residual>),
     ...);
    (offer(wanted.Is(Channels, Channels, 3, Finish::MixinTanhToHeadThenProject) && projectingKernel<Channels>(),
           projectingKernel<Channels>()),
     ...);
}

template <int... Channels>
bool projects(int channels, int taps, std::integer_sequence<int, Channels...>) noexcept {
    return taps == 3 && ((FrameProduct<Channels>::OneRegisterGroup && channels == Channels) || ...);
}

Kernel generic(Finish finish) noexcept {
    switch (finish) {
    case Finish::Mixin:
        return genericKernel<Finish::Mixin>;
    case Finish::MixinTanhToHead:
    // Without a compiled kernel nothing projects: the layer runs its projection on its own (see Compiled).
    case Finish::MixinTanhToHeadThenProject:
        return genericKernel<Finish::MixinTanhToHead>;
    case Finish::Residual:
        return genericKernel<Finish::Residual>;
    case Finish::MixinGateToHead:
        return genericKernel<Finish::MixinGateToHead>;
    case Finish::None:
        break;
    }
    return genericKernel<Finish::None>;
}

} // namespace

RuntimeFrameProduct::RuntimeFrameProduct(int rows, int columns, int taps, Finish finish, Activation activation)
    : rows(rows),
      columns(columns),
      taps(taps),
      weights(Eigen::VectorXf::Zero(Index(taps) * rows * columns)),
      bias(Eigen::VectorXf::Zero(rows)),
      mixin(Eigen::VectorXf::Zero(finish == Finish::None || finish == Finish::Residual ? 0 : rows)),
      activation(activation) {
    const Wanted wanted{rows, columns, taps, finish};
    offerLayer(wanted, kernel, LayerSizes{});
    offerPlain(wanted, kernel, PlainSizes{});
    compiled = kernel != nullptr;
    if (!compiled) {
        kernel = generic(finish);
    }
}

bool RuntimeFrameProduct::Projects(int channels, int taps) noexcept { return projects(channels, taps, LayerSizes{}); }

Index RuntimeFrameProduct::NumFloats(int rows, int columns, int taps) noexcept {
    return Index(taps) * rows * columns + rows;
}

} // namespace RuveroRidev

#pragma GCC diagnostic pop
