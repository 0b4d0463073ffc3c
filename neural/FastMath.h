#pragma once
// Fast tanh for the WaveNet activations: a rational approximation that needs one quotient and no exponential,
// so a whole block of activations vectorises. It is odd and exact at zero, stays within about 1e-3 of tanh
// below |x| = 5, and creeps up to c2 / c5 (about 1.008) for large |x| instead of saturating at 1. There is no
// clamping: inputs beyond about 4.5e9 overflow to infinity or NaN, and NaN stays NaN.
//
// Fast logistic for the gates and the "Sigmoid" activation, also one quotient: 1 / (1 + e^-x) - 1/2 is odd,
// so x P(x^2) / Q(x^2) (degrees 3 and 4 in x^2, a minimax fit on [0, 16]) takes it, on inputs clamped to
// [-16, 16]. Against the float64 formula its error is at most 2.4e-7 with fused multiply-adds and 2.9e-7
// without (the fit and the clamp 1.2e-7, the rest float rounding), absolute, not relative: far below 0 it gives
// about 0 where e^x is still above zero, and it may pass 0 and 1 by 1.2e-7. NaN stays NaN.
//
// Both are kept as fractions until the last step, so a gated activation (tanh times the gate's logistic)
// multiplies the numerators and the denominators and divides once.
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

// The fast tanh as a fraction n / d: f(x) = x ((c1 + c2 |x|) x^2 + c3 (1 + |x|)) / (c4 + |x + c5 x |x|| (x^2 +
// c4)), lane by lane, for count SIMD packets or plain floats, step by step over all of them. |x + c5 x |x|| is
// |x| + c5 x^2, which needs no second absolute value.
template <int Count, class Packet>
EIGEN_ALWAYS_INLINE void TanhFractions(const Packet (&x)[Count], Packet (&numerator)[Count],
                                       Packet (&denominator)[Count]) noexcept {
    using namespace Eigen::internal;
#pragma GCC unroll 16
    for (int i = 0; i < Count; ++i) {
        const Packet a = pabs(x[i]);
        const Packet q = pmul(x[i], x[i]);
        numerator[i] = pmul(x[i], pmadd(pmadd(pset1<Packet>(tanhC2), a, pset1<Packet>(tanhC1)), q,
                                        pmadd(pset1<Packet>(tanhC3), a, pset1<Packet>(tanhC3))));
        denominator[i] =
            pmadd(pmadd(pset1<Packet>(tanhC5), q, a), padd(q, pset1<Packet>(tanhC4)), pset1<Packet>(tanhC4));
    }
}

inline constexpr float logisticClamp = 16.0f;
inline constexpr float logisticP[] = {0.24999984f, 0.0080710314f, 4.5919322e-05f, 4.4180894e-08f};
inline constexpr float logisticQ[] = {1.0f, 0.11561687f, 0.0014852415f, 3.7035884e-06f, 9.4682284e-10f};

// The fast logistic as a fraction n / d: with x clamped and y = x^2, (Q(y) / 2 + x P(y)) / Q(y). The clamp takes
// x first, so NaN passes through it.
template <int Count, class Packet>
EIGEN_ALWAYS_INLINE void LogisticFractions(const Packet (&x)[Count], Packet (&numerator)[Count],
                                           Packet (&denominator)[Count]) noexcept {
    using namespace Eigen::internal;
#pragma GCC unroll 16
    for (int i = 0; i < Count; ++i) {
        const Packet clamped = pmax(pmin(x[i], pset1<Packet>(logisticClamp)), pset1<Packet>(-logisticClamp));
        const Packet y = pmul(clamped, clamped);
        Packet p = pmadd(pset1<Packet>(logisticP[3]), y, pset1<Packet>(logisticP[2]));
        p = pmadd(p, y, pset1<Packet>(logisticP[1]));
        p = pmadd(p, y, pset1<Packet>(logisticP[0]));
        Packet halfQ = pmadd(pset1<Packet>(0.5f * logisticQ[4]), y, pset1<Packet>(0.5f * logisticQ[3]));
        halfQ = pmadd(halfQ, y, pset1<Packet>(0.5f * logisticQ[2]));
        halfQ = pmadd(halfQ, y, pset1<Packet>(0.5f * logisticQ[1]));
        halfQ = pmadd(halfQ, y, pset1<Packet>(0.5f * logisticQ[0]));
        numerator[i] = pmadd(clamped, p, halfQ);
        denominator[i] = padd(halfQ, halfQ);
    }
}

// Replaces count packets or plain floats by the quotients of the fractions that fractions(x, numerators,
// denominators) makes of them.
template <int Count, class Packet, class Fractions>
EIGEN_ALWAYS_INLINE void ReplaceByQuotients(Packet (&x)[Count], const Fractions& fractions) noexcept {
    Packet numerator[Count], denominator[Count];
    fractions(x, numerator, denominator);
    Quotients(numerator, denominator);
#pragma GCC unroll 16
    for (int i = 0; i < Count; ++i) {
        x[i] = denominator[i];
    }
}

// Replaces count packets or plain floats by their fast tanh.
template <int Count, class Packet>
EIGEN_ALWAYS_INLINE void TanhPackets(Packet (&x)[Count]) noexcept {
    ReplaceByQuotients(x, [](auto&... arrays) { TanhFractions(arrays...); });
}

// Replaces count packets or plain floats by their fast logistic.
template <int Count, class Packet>
EIGEN_ALWAYS_INLINE void LogisticPackets(Packet (&x)[Count]) noexcept {
    ReplaceByQuotients(x, [](auto&... arrays) { LogisticFractions(arrays...); });
}

template <class Packet>
EIGEN_ALWAYS_INLINE Packet TanhPacket(const Packet& x) noexcept {
    Packet values[1] = {x};
    TanhPackets(values);
    return values[0];
}

template <class Packet>
EIGEN_ALWAYS_INLINE Packet LogisticPacket(const Packet& x) noexcept {
    Packet values[1] = {x};
    LogisticPackets(values);
    return values[0];
}

// Replaces count consecutive floats by what packets(values) makes of them, called with an array of SIMD
// packets or of one float.
template <class Packets>
EIGEN_ALWAYS_INLINE void PacketsInPlace(float* values, Eigen::Index count, const Packets& packets) noexcept {
    using Packet = typename Eigen::internal::packet_traits<float>::type;
    constexpr Eigen::Index lanes = Eigen::internal::unpacket_traits<Packet>::size;
    constexpr int together = 4;
    const Eigen::Index togetherEnd = count - count % (together * lanes);
    for (Eigen::Index i = 0; i < togetherEnd; i += together * lanes) {
        Packet run[together];
        for (int p = 0; p < together; ++p) {
            run[p] = Eigen::internal::ploadu<Packet>(values + i + p * lanes);
        }
        packets(run);
        for (int p = 0; p < together; ++p) {
            Eigen::internal::pstoreu(values + i + p * lanes, run[p]);
        }
    }
    const Eigen::Index packetEnd = count - count % lanes;
    for (Eigen::Index i = togetherEnd; i < packetEnd; i += lanes) {
        Packet one[1] = {Eigen::internal::ploadu<Packet>(values + i)};
        packets(one);
        Eigen::internal::pstoreu(values + i, one[0]);
    }
    for (Eigen::Index i = packetEnd; i < count; ++i) {
        float one[1] = {values[i]};
        packets(one);
        values[i] = one[0];
    }
}

// Replaces count consecutive floats by their approximate tanh.
inline void TanhInPlace(float* values, Eigen::Index count) noexcept {
    PacketsInPlace(values, count, [](auto& packets) { TanhPackets(packets); });
}

// Replaces count consecutive floats by their approximate logistic.
inline void LogisticInPlace(float* values, Eigen::Index count) noexcept {
    PacketsInPlace(values, count, [](auto& packets) { LogisticPackets(packets); });
}

// Replaces every value of a writable block by inPlace's function of it, in place, and returns the block. A block
// of whole columns of a column-major matrix is one contiguous run; other expressions go value by value.
template <class Block, class Value>
Block&& ApplyInPlace(Block&& block, void (*inPlace)(float*, Eigen::Index) noexcept, Value value) noexcept {
    using Plain = std::decay_t<Block>;
    if constexpr (bool(Eigen::internal::traits<Plain>::Flags & Eigen::DirectAccessBit) && !Plain::IsRowMajor) {
        if (block.innerStride() == 1 && (block.cols() <= 1 || block.outerStride() == block.rows())) {
            inPlace(block.data(), block.size());
            return std::forward<Block>(block);
        }
    }
    block = block.unaryExpr(value);
    return std::forward<Block>(block);
}

// Replaces every value of a writable block by its approximate tanh, in place, and returns the block.
template <class Block>
Block&& Tanh(Block&& block) noexcept {
    return ApplyInPlace(std::forward<Block>(block), TanhInPlace, [](float x) { return TanhPacket(x); });
}

// Replaces every value of a writable block by its approximate logistic, in place, and returns the block.
template <class Block>
Block&& Logistic(Block&& block) noexcept {
    return ApplyInPlace(std::forward<Block>(block), LogisticInPlace, [](float x) { return LogisticPacket(x); });
}

} // namespace RuveroRidev::FastMath

#pragma GCC diagnostic pop
