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
    } else {
        run(FinishStep<F>{product, extras});
    }
}

// The same sums with the trip counts read at run time, one output row at a time.
template <Finish F>
void genericKernel(const RuntimeFrameProduct& product, const float* const* inputs, Index inputStride,
                   const Extras& extras, float* output, Index outputStride) noexcept {
    using namespace Eigen::internal;
    constexpr int packets = RuntimeFrameProduct::frames / lanes;
    const int rows = product.Rows();
    const int columns = product.Columns();
    const FinishStep<F> finish{product, extras};
    for (int row = 0; row < rows; ++row) {
        Packet sums[packets];
        for (int packet = 0; packet < packets; ++packet) {
            sums[packet] = pset1<Packet>(product.BiasData()[row]);
        }
        for (int tap = 0; tap < product.Taps(); ++tap) {
            const float* tapWeights = product.WeightData() + Index(tap) * rows * columns + row;
            for (int column = 0; column < columns; ++column) {
                const Packet weight = pset1<Packet>(tapWeights[Index(column) * rows]);
                const float* input = inputs[tap] + column * inputStride;
                for (int packet = 0; packet < packets; ++packet) {
                    sums[packet] = pmadd(weight, ploadu<Packet>(input + packet * lanes), sums[packet]);
                }
            }
        }
        for (int packet = 0; packet < packets; ++packet) {
            pstoreu(output + row * outputStride + packet * lanes, finish(sums[packet], row, packet));
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

// A layer's products: the convolution of three taps (gated or not, the tanh fused or not) and the 1x1.
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
    (offer(wanted.Is(2 * Channels, Channels, 3, Finish::Mixin),
           compiledKernel<2 * Channels, Channels, 3, Finish::Mixin>),
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
    case Finish::None:
        break;
    }
    return genericKernel<Finish::None>;
}

} // namespace

RuntimeFrameProduct::RuntimeFrameProduct(int rows, int columns, int taps, Finish finish)
    : rows(rows),
      columns(columns),
      taps(taps),
      weights(Eigen::VectorXf::Zero(Index(taps) * rows * columns)),
      bias(Eigen::VectorXf::Zero(rows)),
      mixin(Eigen::VectorXf::Zero(finish == Finish::None || finish == Finish::Residual ? 0 : rows)) {
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
