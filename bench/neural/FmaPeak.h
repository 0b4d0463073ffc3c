#pragma once
// The single-core floating-point peak at the widest vector width this build targets: independent chains of
// fused multiply-adds, more of them than the pipeline latency covers, so the loop runs at the core's FMA rate.
// A build without FMA (the portable x86 one) measures separate multiplies and adds at its width instead, which
// is the most its kernels can do.
#include <chrono>
#include <string>

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__aarch64__)
#include <arm_neon.h>
#endif

namespace fmapeak {

#if defined(__AVX512F__)
using Vector = __m512;
inline constexpr int lanes = 16;
inline constexpr const char* unit = "AVX-512 FMA, 16 lanes";
inline Vector broadcast(float value) { return _mm512_set1_ps(value); }
inline Vector fused(Vector a, Vector b, Vector c) { return _mm512_fmadd_ps(a, b, c); }
inline Vector add(Vector a, Vector b) { return _mm512_add_ps(a, b); }
inline float first(Vector a) { return _mm512_cvtss_f32(a); }
#elif defined(__AVX2__) && defined(__FMA__)
using Vector = __m256;
inline constexpr int lanes = 8;
inline constexpr const char* unit = "AVX2 FMA, 8 lanes";
inline Vector broadcast(float value) { return _mm256_set1_ps(value); }
inline Vector fused(Vector a, Vector b, Vector c) { return _mm256_fmadd_ps(a, b, c); }
inline Vector add(Vector a, Vector b) { return _mm256_add_ps(a, b); }
inline float first(Vector a) { return _mm256_cvtss_f32(a); }
#elif defined(__aarch64__)
using Vector = float32x4_t;
inline constexpr int lanes = 4;
inline constexpr const char* unit = "NEON FMA, 4 lanes";
inline Vector broadcast(float value) { return vdupq_n_f32(value); }
inline Vector fused(Vector a, Vector b, Vector c) { return vfmaq_f32(c, a, b); }
inline Vector add(Vector a, Vector b) { return vaddq_f32(a, b); }
inline float first(Vector a) { return vgetq_lane_f32(a, 0); }
#elif defined(__SSE2__)
using Vector = __m128;
inline constexpr int lanes = 4;
inline constexpr const char* unit = "SSE multiply and add (no FMA in this build), 4 lanes";
inline Vector broadcast(float value) { return _mm_set1_ps(value); }
inline Vector fused(Vector a, Vector b, Vector c) { return _mm_add_ps(_mm_mul_ps(a, b), c); }
inline Vector add(Vector a, Vector b) { return _mm_add_ps(a, b); }
inline float first(Vector a) { return _mm_cvtss_f32(a); }
#else
#define FMAPEAK_UNAVAILABLE 1
inline constexpr const char* unit = "no vector kernel for this processor";
#endif

#if !defined(FMAPEAK_UNAVAILABLE)
// Enough chains for two pipes of latency up to 8 cycles, few enough to stay in registers.
inline constexpr int chains = lanes == 16 ? 16 : 12;
inline constexpr double flopsPerRound = chains * lanes * 2;

__attribute__((noinline)) inline float kernel(long rounds)
{
    Vector accumulators[chains];
    for (int i = 0; i < chains; ++i) {
        accumulators[i] = broadcast(float(i) * 0.001f);
    }
    const Vector factor = broadcast(0.999999f);
    const Vector addend = broadcast(1e-7f);
    for (long round = 0; round < rounds; ++round) {
#pragma GCC unroll 16
        for (int i = 0; i < chains; ++i) {
            accumulators[i] = fused(accumulators[i], factor, addend);
        }
    }
    Vector sum = accumulators[0];
    for (int i = 1; i < chains; ++i) {
        sum = add(sum, accumulators[i]);
    }
    return first(sum);
}

// Runs rounds of the kernel and returns the floating-point operations it did and the seconds it took.
inline double timedFlops(long rounds, double& seconds)
{
    volatile long count = rounds;
    volatile float sink = 0.0f;
    const auto start = std::chrono::steady_clock::now();
    sink = kernel(count);
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    static_cast<void>(sink);
    return double(rounds) * flopsPerRound;
}
#endif

inline bool available()
{
#if defined(FMAPEAK_UNAVAILABLE)
    return false;
#else
    return true;
#endif
}

}  // namespace fmapeak
