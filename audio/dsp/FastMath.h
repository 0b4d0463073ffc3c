#pragma once
// Inline forms of the few elementary functions the audio half needs once per frame or per sample. A libm call
// there is a call, and after the 256-bit loops of other blocks it pays the transition penalty of legacy SSE
// code. Each is a polynomial fitted over its range (Chebyshev, near minimax); the comment beside each gives
// the largest error measured against the double-precision libm function over that range, evaluation in float
// included.
#include <bit>
#include <cmath>
#include <cstdint>

class FastMath {
public:
    // 2^x, x clamped to -126 .. 127 (a NaN gives 2^-126). Relative error at most 1e-7.
    static float exp2(float x) {
        if (!(x >= -126.0f)) x = -126.0f;
        if (x > 127.0f) x = 127.0f;
        const int whole = wholePart(x);
        const float f = x - static_cast<float>(whole); // 0 .. 1
        // 1 + f (2^f - 1) / f: exactly 1 at whole powers, so a gain of 0 dB is an exact pass.
        const float power =
            1.0f + f * (((((0.00020817915f * f + 0.00126921661f) * f + 0.00965219506f) * f + 0.0554960236f) * f +
                         0.240227204f) *
                            f +
                        0.693147171f);
        return power * std::bit_cast<float>(static_cast<uint32_t>(whole + 127) << 23);
    }

    // log2(x) for a positive normal x (below the smallest normal float it gives -126). Absolute error at most
    // 1.6e-6 for x of 1e-6 .. 1e3 (7e-7 within 0.5 .. 2; beyond, the float sum's rounding dominates).
    static float log2(float x) {
        if (!(x >= 1.17549435e-38f)) return -126.0f;
        const uint32_t bits = std::bit_cast<uint32_t>(x);
        int exponent = static_cast<int>(bits >> 23) - 127;
        float mantissa = std::bit_cast<float>((bits & 0x007fffffu) | 0x3f800000u); // 1 .. 2
        if (mantissa > 1.41421356f) {
            mantissa *= 0.5f;
            ++exponent;
        }
        const float t = mantissa - 1.0f; // -0.29 .. 0.41
        const float ratio =
            (((((0.168186591f * t - 0.267963871f) * t + 0.296119557f) * t - 0.359524455f) * t + 0.480613125f) * t -
             0.721360179f) *
                t +
            1.44269652f; // log2(1 + t) / t
        return static_cast<float>(exponent) + t * ratio;
    }

    // sin(2 pi cycles) for |cycles| below 2^23 (0 beyond). Absolute error at most 2e-7.
    static float sinCycles(float cycles) {
        if (!(std::fabs(cycles) < 8388608.0f)) return 0.0f;
        float p = cycles - static_cast<float>(wholePart(cycles + 0.5f)); // -0.5 .. 0.5
        if (p > 0.25f) p = 0.5f - p;
        if (p < -0.25f) p = -0.5f - p;
        const float u = p * p;
        // Scaled so that the peaks are exactly 1.
        return p * ((((39.7598268f * u - 76.5811721f) * u + 81.6024758f) * u - 41.3416803f) * u + 6.28318524f);
    }

    // tan(x) for |x| up to 0.15 (a warped frequency below 2.3 kHz at 48 kHz). Relative error at most 1.6e-7.
    static float tanSmall(float x) {
        const float u = x * x;
        return x * ((0.135173620f * u + 0.333317761f) * u + 1.00000002f);
    }

private:
    // floor(x) for |x| below 2^31.
    static int wholePart(float x) {
        const int truncated = static_cast<int>(x);
        return static_cast<float>(truncated) > x ? truncated - 1 : truncated;
    }
};
