#pragma once
// Fast tanh for the WaveNet activations: a rational approximation that needs one division and no exponential,
// so a whole block of activations vectorises. It is odd and exact at zero, stays within about 1e-3 of tanh
// below |x| = 5, and creeps up to c2 / c5 (about 1.008) for large |x| instead of saturating at 1. There is no
// clamping: inputs beyond about 4.5e9 overflow to infinity or NaN, and NaN stays NaN.
#include <Eigen/Core>

#include <type_traits>
#include <utility>

// Eigen's SIMD packet types carry alignment attributes that a template argument cannot keep; nothing here
// depends on them, as Eigen's own headers also state.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wignored-attributes"

namespace RuveroRidev::FastMath {

inline constexpr float tanhC1 = 0.89322984f;
inline constexpr float tanhC2 = 0.82122666f;
inline constexpr float tanhC3 = 2.4555075f;
inline constexpr float tanhC4 = 2.4450665f;
inline constexpr float tanhC5 = 0.8146427f;

// n / d for the tanh's denominator d (always at least c4). A 16-lane division does not pipeline; the 14-bit
// reciprocal estimate and one Newton step e (2 - d e) give the quotient to within an ulp or two in four
// pipelined operations.
template <class Packet>
EIGEN_ALWAYS_INLINE Packet Quotient(const Packet& n, const Packet& d) noexcept {
    using namespace Eigen::internal;
#if defined(EIGEN_VECTORIZE_AVX512)
    if constexpr (std::is_same_v<Packet, Packet16f>) {
        const Packet16f e = _mm512_rcp14_ps(d);
        return pmul(n, pmul(e, _mm512_fnmadd_ps(d, e, pset1<Packet16f>(2.0f))));
    }
#endif
    return pdiv(n, d);
}

// f(x) = x ((c1 + c2 |x|) x^2 + c3 (1 + |x|)) / (c4 + |x + c5 x |x|| (x^2 + c4)), lane by lane, for a SIMD
// packet or a plain float. |x + c5 x |x|| is |x| + c5 x^2, which needs no second absolute value.
template <class Packet>
EIGEN_ALWAYS_INLINE Packet TanhPacket(const Packet& x) noexcept {
    using namespace Eigen::internal;
    const Packet a = pabs(x);
    const Packet q = pmul(x, x);
    const Packet numerator = pmadd(pmadd(pset1<Packet>(tanhC2), a, pset1<Packet>(tanhC1)), q,
                                   pmadd(pset1<Packet>(tanhC3), a, pset1<Packet>(tanhC3)));
    const Packet denominator =
        pmadd(pmadd(pset1<Packet>(tanhC5), q, a), padd(q, pset1<Packet>(tanhC4)), pset1<Packet>(tanhC4));
    return Quotient(pmul(x, numerator), denominator);
}

// Replaces count consecutive floats by their approximate tanh.
inline void TanhInPlace(float* values, Eigen::Index count) noexcept {
    using Packet = typename Eigen::internal::packet_traits<float>::type;
    constexpr Eigen::Index lanes = Eigen::internal::unpacket_traits<Packet>::size;
    const Eigen::Index packetEnd = count - count % lanes;
    for (Eigen::Index i = 0; i < packetEnd; i += lanes) {
        Eigen::internal::pstoreu(values + i, TanhPacket(Eigen::internal::ploadu<Packet>(values + i)));
    }
    for (Eigen::Index i = packetEnd; i < count; ++i) {
        values[i] = TanhPacket(values[i]);
    }
}

// Replaces every value of a writable block by its approximate tanh, in place, and returns the block. A block
// of whole columns of a column-major matrix is one contiguous run; other expressions go value by value.
template <class Block>
Block&& Tanh(Block&& block) noexcept {
    using Plain = std::decay_t<Block>;
    if constexpr (bool(Eigen::internal::traits<Plain>::Flags & Eigen::DirectAccessBit) && !Plain::IsRowMajor) {
        if (block.innerStride() == 1 && (block.cols() <= 1 || block.outerStride() == block.rows())) {
            TanhInPlace(block.data(), block.size());
            return std::forward<Block>(block);
        }
    }
    block = block.unaryExpr([](float x) { return TanhPacket(x); });
    return std::forward<Block>(block);
}

} // namespace RuveroRidev::FastMath

#pragma GCC diagnostic pop
