#pragma once
// Fast tanh for the WaveNet activations: a rational approximation that needs one quotient and no exponential,
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

// n / d for the tanh's denominator d (always at least c4), for count packets at once, into d. A vector division
// does not pipeline on either machine (on the device's cores a 4-lane one holds the divider for about 34
// cycles), so a reciprocal estimate refined by Newton steps e (2 - d e) stands in for it. AVX-512's 14-bit
// estimate needs one step; the Arm estimate has 8 bits, so one step (16 bits) is followed by a correction of
// the quotient itself, q - e (d q - n), which squares its error again (and keeps the sign of a zero): within an
// ulp or two of the division in seven pipelined operations, the same for a single value as for a lane of a
// packet. Denominators above 2^126 (inputs beyond about 3e9) have subnormal estimates and lose accuracy.
template <int Count, class Packet>
EIGEN_ALWAYS_INLINE void Quotients(const Packet (&n)[Count], Packet (&d)[Count]) noexcept {
    using namespace Eigen::internal;
#if defined(EIGEN_VECTORIZE_AVX512)
    if constexpr (std::is_same_v<Packet, Packet16f>) {
#pragma GCC unroll 16
        for (int i = 0; i < Count; ++i) {
            const Packet16f e = _mm512_rcp14_ps(d[i]);
            d[i] = pmul(n[i], pmul(e, _mm512_fnmadd_ps(d[i], e, pset1<Packet16f>(2.0f))));
        }
        return;
    }
#elif defined(EIGEN_VECTORIZE_NEON)
    // Each step runs over every packet before the next starts: one packet's chain of dependent steps is longer
    // than the core's queue of waiting vector operations, so chains written one after another would run one at
    // a time.
    if constexpr (std::is_same_v<Packet, Packet4f>) {
        float32x4_t e[Count], q[Count];
#pragma GCC unroll 16
        for (int i = 0; i < Count; ++i) {
            e[i] = vrecpeq_f32(d[i]);
        }
#pragma GCC unroll 16
        for (int i = 0; i < Count; ++i) {
            e[i] = vmulq_f32(e[i], vrecpsq_f32(d[i], e[i]));
        }
#pragma GCC unroll 16
        for (int i = 0; i < Count; ++i) {
            q[i] = vmulq_f32(n[i], e[i]);
        }
#pragma GCC unroll 16
        for (int i = 0; i < Count; ++i) {
            d[i] = vfmsq_f32(q[i], vfmaq_f32(vnegq_f32(n[i]), d[i], q[i]), e[i]);
        }
        return;
    } else if constexpr (std::is_same_v<Packet, float>) {
#pragma GCC unroll 16
        for (int i = 0; i < Count; ++i) {
            float32x4_t lanes[1] = {vdupq_n_f32(d[i])};
            Quotients<1>({vdupq_n_f32(n[i])}, lanes);
            d[i] = vgetq_lane_f32(lanes[0], 0);
        }
        return;
    }
#endif
#pragma GCC unroll 16
    for (int i = 0; i < Count; ++i) {
        d[i] = pdiv(n[i], d[i]);
    }
}

// f(x) = x ((c1 + c2 |x|) x^2 + c3 (1 + |x|)) / (c4 + |x + c5 x |x|| (x^2 + c4)), lane by lane, for count SIMD
// packets or plain floats, in place, step by step over all of them. |x + c5 x |x|| is |x| + c5 x^2, which
// needs no second absolute value.
template <int Count, class Packet>
EIGEN_ALWAYS_INLINE void TanhPackets(Packet (&x)[Count]) noexcept {
    using namespace Eigen::internal;
    Packet numerator[Count], denominator[Count];
#pragma GCC unroll 16
    for (int i = 0; i < Count; ++i) {
        const Packet a = pabs(x[i]);
        const Packet q = pmul(x[i], x[i]);
        numerator[i] = pmul(x[i], pmadd(pmadd(pset1<Packet>(tanhC2), a, pset1<Packet>(tanhC1)), q,
                                        pmadd(pset1<Packet>(tanhC3), a, pset1<Packet>(tanhC3))));
        denominator[i] =
            pmadd(pmadd(pset1<Packet>(tanhC5), q, a), padd(q, pset1<Packet>(tanhC4)), pset1<Packet>(tanhC4));
    }
    Quotients(numerator, denominator);
#pragma GCC unroll 16
    for (int i = 0; i < Count; ++i) {
        x[i] = denominator[i];
    }
}

template <class Packet>
EIGEN_ALWAYS_INLINE Packet TanhPacket(const Packet& x) noexcept {
    Packet values[1] = {x};
    TanhPackets(values);
    return values[0];
}

// Replaces count consecutive floats by their approximate tanh.
inline void TanhInPlace(float* values, Eigen::Index count) noexcept {
    using Packet = typename Eigen::internal::packet_traits<float>::type;
    constexpr Eigen::Index lanes = Eigen::internal::unpacket_traits<Packet>::size;
    constexpr int together = 4;
    const Eigen::Index togetherEnd = count - count % (together * lanes);
    for (Eigen::Index i = 0; i < togetherEnd; i += together * lanes) {
        Packet packets[together];
        for (int p = 0; p < together; ++p) {
            packets[p] = Eigen::internal::ploadu<Packet>(values + i + p * lanes);
        }
        TanhPackets(packets);
        for (int p = 0; p < together; ++p) {
            Eigen::internal::pstoreu(values + i + p * lanes, packets[p]);
        }
    }
    const Eigen::Index packetEnd = count - count % lanes;
    for (Eigen::Index i = togetherEnd; i < packetEnd; i += lanes) {
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
